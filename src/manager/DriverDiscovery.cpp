#include <json/reader.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <sstream>

#include "log/Log.h"
#include "manager/Pkcs11Calls.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"
#include "manager/SystemModules.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindDriver";
constexpr const char* kSystemSource = "CSmartCardManager::FindSystemDriver";

// A filter maps serial-number beginnings to module names: {"serial": {"7420": "lib.so"}}.
// Anything else chooses nothing.
bool HasFilterShape(const Json::Value& root) {
    if (!root.isObject()) {
        return false;
    }
    const Json::Value& serial = root["serial"];
    if (serial.isNull()) {
        return true;
    }
    if (!serial.isObject()) {
        return false;
    }
    for (const std::string& name : serial.getMemberNames()) {
        if (!serial[name].isString()) {
            return false;
        }
    }
    return true;
}

// Takes the manager's message list away for its lifetime.
class QuietStatusList {
public:
    explicit QuietStatusList(IMessageList*& list) : m_list(list), m_kept(list) { list = nullptr; }
    ~QuietStatusList() { m_list = m_kept; }
    QuietStatusList(const QuietStatusList&) = delete;
    QuietStatusList& operator=(const QuietStatusList&) = delete;

private:
    IMessageList*& m_list;
    IMessageList* m_kept;
};

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    return joined;
}

}  // namespace

void CSmartCardManager::ApplySerialFilter(const std::string& filter) {
    std::string text = filter;
    std::replace(text.begin(), text.end(), '\'', '"');

    Json::CharReaderBuilder builder;
    Json::Value root;
    std::string errors;
    std::istringstream stream(text);
    bool parsed = false;
    try {
        parsed = Json::parseFromStream(builder, stream, &root, &errors);
    } catch (const std::exception& error) {
        errors = error.what();
    }
    if (!parsed) {
        if (g_logLevel >= 1) {
            if (errors.empty()) {
                LogMessage(0, 0, kSource, "JSON parse error ");
            } else {
                LogMessage(0, 0, kSource, "JSON parse error : %s", errors.c_str());
            }
        }
        return;
    }
    if (!HasFilterShape(root)) {
        if (g_logLevel >= 1) {
            LogMessage(0, 0, kSource, "Serial filter '%s' has no usable form; ignored.",
                       filter.c_str());
        }
        return;
    }

    // The whole field, trailing blanks and zero bytes included.
    const std::string serialNumber = TokenSerialField(m_tokenInfo);
    const Json::Value& serial = root["serial"];
    if (serial.isNull() || serial.empty()) {
        return;
    }
    std::vector<std::string> names = serial.getMemberNames();
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (serialNumber.compare(0, name.size(), name) != 0) {
            continue;
        }
        m_filterDriver = serial[name].asString();
        LOG_MESSAGE(0, 0, kSource, "Seriale '%s' abbinato a '%s'.", serialNumber.c_str(),
                    m_filterDriver.c_str());
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatStatus(0, m_filterDriver.c_str(), "serial number",
                                                     kStatusFilterMatched));
        }
    }
}

uint32_t CSmartCardManager::OpenDriverInUse(const std::string& readerName, SessionPurpose purpose) {
    ModuleHandle module = UpdateFileInfo();
    if (module == nullptr) {
        // The loader's own reason (not found, not loadable, ...), read before anything else
        // can replace it.
        return ReportNoFunctionList(m_driverInUse, ModuleLastError());
    }
    uint32_t result = 0;
    CK_FUNCTION_LIST* functionList = GetFunctionList(module, m_driverInUse, &result);
    if (functionList != nullptr) {
        result = OpenCardSession(functionList, m_driverInUse, readerName, purpose);
    }
    ReleaseModule(module);
    return result;
}

uint32_t CSmartCardManager::FindDriver(std::string drivers, std::string readerName,
                                       std::string filter) {
    HeldModulesScope operation(m_heldModules);
    m_drivers.clear();
    ClearTokenFields();

    uint32_t result = ProbeDrivers(drivers, kSource, true);
    if (result != 0 && drivers.find(',') == std::string::npos) {
        return result;
    }
    if (m_drivers.empty()) {
        return CKR_TOKEN_NOT_PRESENT;
    }

    bool chosenByFilter = false;
    for (const std::string& entry : m_drivers) {
        // A trial: what it reads of the token is what the serial filter looks at.
        m_driverInUse = entry;
        OpenDriverInUse(readerName, SessionPurpose::Trial);
        if (!filter.empty()) {
            ApplySerialFilter(filter);
            if (!m_filterDriver.empty()) {
                m_driverInUse = m_filterDriver;
                chosenByFilter = true;
                break;
            }
        }
    }
    if (!chosenByFilter) {
        m_driverInUse = m_drivers.front();
    }
    LOG_MESSAGE(0, 0, kSource, "Driver '%s' comes from the catalogue.", m_driverInUse.c_str());

    result = OpenDriverInUse(readerName, SessionPurpose::Final);
    ReadDriverVersion(kSource, result);
    return result;
}

bool CSmartCardManager::SystemModuleServes(const std::string& fileName,
                                           const std::string& readerName) {
    // Most registered modules have nothing to do with the card: what their trials meet is
    // for the log, not for the user, who reads only which modules serve it.
    QuietStatusList quiet(m_statusList);
    if (ProbeDrivers(fileName, kSystemSource, false) != 0) {
        return false;
    }
    ModuleHandle module = LoadDriver(fileName);
    if (module == nullptr) {
        return false;
    }
    bool serves = false;
    CK_FUNCTION_LIST* functionList = GetFunctionList(module, fileName);
    CardSlots slots;
    if (functionList != nullptr &&
        ChooseCardSlots(functionList, fileName, readerName, kSystemSource, &slots) == 0) {
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
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList,
                          FormatErrorStatus(0, module.fileName.c_str(), kStatusSystemDriver));
        }
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

    const uint32_t result = OpenDriverInUse(readerName, SessionPurpose::Final);
    ReadDriverVersion(kSystemSource, result);
    return result;
}
