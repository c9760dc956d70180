#include <json/reader.h>

#include <algorithm>
#include <exception>
#include <sstream>

#include "log/Log.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusText.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindDriver";

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
    const std::string serialNumber(reinterpret_cast<const char*>(m_tokenInfo.serialNumber),
                                   sizeof m_tokenInfo.serialNumber);
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
        if (g_logLevel >= 1) {
            LogMessage(0, 0, kSource, "Seriale '%s' abbinato a '%s'.", serialNumber.c_str(),
                       m_filterDriver.c_str());
        }
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList,
                          FormatStatus(0, m_filterDriver.c_str(), "serial number", 323));
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

    result = OpenDriverInUse(readerName, SessionPurpose::Final);
    ReadDriverVersion(kSource, result);
    return result;
}
