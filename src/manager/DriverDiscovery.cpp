#include <algorithm>
#include <cstring>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SerialFilter.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "manager/SystemModules.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindDriver";
constexpr const char* kSystemSource = "CSmartCardManager::FindSystemDriver";

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined;
}

}  // namespace

TokenSession CSmartCardManager::OpenDriverInUse(const std::string& readerName,
                                                SessionPurpose purpose) {
    TokenSession session;
    ModuleHandle module = UpdateFileInfo();
    if (module == nullptr) {
        // The loader's own reason (not found, not loadable, ...), read before anything else
        // can replace it.
        session.code = ReportNoFunctionList(m_driverInUse, ModuleLastError(), m_statusList);
        return session;
    }
    CK_FUNCTION_LIST* functionList = GetFunctionList(module, m_driverInUse, &session.code);
    if (functionList != nullptr) {
        session = OpenTokenSession(functionList, m_driverInUse, readerName, purpose,
                                   Reporter("CSmartCardManager::OpenCardSession", m_statusList));
    }
    ReleaseModule(module);
    return session;
}

uint32_t CSmartCardManager::FindDriver(std::string drivers, std::string readerName,
                                       std::string filter) {
    HeldModulesScope operation(m_heldModules);
    m_drivers.clear();
    ClearTokenFields();

    const DriverProbe probe = ProbeModules(drivers, Reporter(kSource, m_statusList));
    m_drivers = probe.loaded;
    if (probe.code != 0 && drivers.find(',') == std::string::npos) {
        return probe.code;
    }
    if (m_drivers.empty()) {
        return CKR_TOKEN_NOT_PRESENT;
    }

    // What the sessions learn of the token, the last one's over the earlier ones'.
    TokenSession learned;
    std::string filterChoice;
    for (const std::string& entry : m_drivers) {
        // A trial: what it reads of the token is what the serial filter looks at.
        m_driverInUse = entry;
        learned.Update(OpenDriverInUse(readerName, SessionPurpose::Trial));
        if (!filter.empty()) {
            filterChoice =
                SerialFilterChoice(filter, learned.token.value_or(CK_TOKEN_INFO{}), m_statusList);
            if (!filterChoice.empty()) {
                break;
            }
        }
    }
    m_driverInUse = filterChoice.empty() ? m_drivers.front() : filterChoice;
    LOG_MESSAGE(0, 0, kSource, "Driver '%s' comes from the catalogue.", m_driverInUse.c_str());

    learned.Update(OpenDriverInUse(readerName, SessionPurpose::Final));
    KeepTokenFields(learned);
    m_filterDriver = filterChoice;
    ReadDriverVersion(kSource, learned.code);
    return learned.code;
}

bool CSmartCardManager::SystemModuleServes(const std::string& fileName,
                                           const std::string& readerName) {
    // Most registered modules have nothing to do with the card: what their trials meet is
    // for the log, not for the user, who reads only which modules serve it.
    const Reporter logOnly(kSystemSource, nullptr);
    if (ProbeModules(fileName, logOnly).code != 0) {
        return false;
    }
    ModuleHandle module = LoadDriver(fileName);
    if (module == nullptr) {
        return false;
    }
    bool serves = false;
    CK_FUNCTION_LIST* functionList = StartModule(module, fileName, nullptr, nullptr);
    CardSlots slots;
    if (functionList != nullptr &&
        ChooseCardSlots(functionList, fileName, readerName, logOnly, &slots) == 0) {
        // Software tokens and trust stores have tokens too, but in slots of their own names.
        serves = slots.namedAfterReader;
        LOG_MESSAGE(0, 0, kSystemSource,
                    serves ? "Slot %lu of module '%s' is reader '%s'."
                           : "Slot %lu of module '%s' is not reader '%s': not taken.",
                    static_cast<unsigned long>(slots.ids.front()), fileName.c_str(),
                    readerName.c_str());
    }
    ReleaseModule(module);
    return serves;
}

uint32_t CSmartCardManager::FindSystemDriver(const std::string& readerName) {
    const SystemModuleList registered = RegisteredModules();
    if (!registered.listed) {
        LOG_MESSAGE(static_cast<int32_t>(kUnknownCard), 0, kSystemSource,
                    "p11-kit could not list the system's modules: %s", registered.failure.c_str());
        return kUnknownCard;
    }
    LOG_MESSAGE(0, 0, kSystemSource, "%zu modules registered with p11-kit.",
                registered.modules.size() + registered.withoutFile.size());
    for (const std::string& name : registered.withoutFile) {
        LOG_MESSAGE(0, 0, kSystemSource, "Module '%s' of p11-kit names no file: not tried.",
                    name.c_str());
    }
    for (const SystemModule& module : registered.modules) {
        LOG_MESSAGE(0, 0, kSystemSource, "Trying module '%s' of p11-kit (%s).", module.name.c_str(),
                    module.fileName.c_str());
        if (!SystemModuleServes(module.fileName, readerName)) {
            continue;
        }
        m_drivers.push_back(module.fileName);
        AddStatusLine(m_statusList,
                      FormatErrorStatus(0, module.fileName.c_str(), kStatusSystemDriver));
    }
    // What the trials read of other modules' tokens is no card's.
    ClearTokenFields();
    if (m_drivers.empty()) {
        LOG_MESSAGE(static_cast<int32_t>(kUnknownCard), 0, kSystemSource,
                    "No module of p11-kit has a token in reader '%s'.", readerName.c_str());
        return kUnknownCard;
    }
    m_cardDrivers = JoinedNames(m_drivers);
    m_driverInUse = m_drivers.front();
    LOG_MESSAGE(0, 0, kSystemSource, "Driver '%s' comes from the system's modules (p11-kit).",
                m_driverInUse.c_str());

    const TokenSession session = OpenDriverInUse(readerName, SessionPurpose::Final);
    KeepTokenFields(session);
    ReadDriverVersion(kSystemSource, session.code);
    return session.code;
}
