#include "log/Log.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusText.h"

uint32_t CSmartCardManager::CheckDriver(int driverIndex) {
    if (driverIndex < 0 || static_cast<std::size_t>(driverIndex) >= m_drivers.size()) {
        if (g_logLevel >= 1) {
            LogMessage(0, 0, "CSmartCardManager::CheckDriver", "No valid driver index.");
        }
        if (m_statusList != nullptr) {
            AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, 311));
        }
        return kNoReadersAvailable;
    }
    return DriverTest(m_drivers[static_cast<std::size_t>(driverIndex)], m_readerName);
}

uint32_t CSmartCardManager::DriverTest(std::string driverName, std::string readerName) {
    const char* source = "CSmartCardManager::DriverTest";
    uint32_t loadError = ProbeDrivers(driverName, source, false);
    if (loadError != 0) {
        return loadError;
    }
    m_driverInUse = driverName;
    ModuleHandle module = UpdateFileInfo();
    const uint32_t reloadError = module == nullptr ? ModuleLastError() : 0;
    // Without a function list the module cannot serve the token: that failure is the verdict,
    // the loader's own reason when the module did not load again.
    uint32_t result = 0;
    CK_FUNCTION_LIST* functionList = GetFunctionList(module, driverName, &result);
    if (functionList != nullptr) {
        result = OpenCardSession(functionList, driverName, readerName);
    } else if (module == nullptr) {
        result = reloadError;
    }
    ReleaseModule(module);
    ReadDriverVersion(source, result);
    return result;
}
