#include "log/Log.h"
#include "manager/SmartCardManager.h"
#include "manager/StatusTemplates.h"
#include "manager/StatusText.h"

uint32_t CSmartCardManager::CheckDriver(int driverIndex) {
    HeldModulesScope operation(m_heldModules);
    ClearTokenFields();
    if (driverIndex < 0 || static_cast<std::size_t>(driverIndex) >= m_drivers.size()) {
        LOG_MESSAGE(0, 0, "CSmartCardManager::CheckDriver", "No valid driver index.");
        AddStatusLine(m_statusList, FormatErrorStatus(0, nullptr, kStatusDriverLoadError));
        m_checkedCard.serialNumber.clear();
        return kNoReadersAvailable;
    }
    const uint32_t result =
        DriverTest(m_drivers[static_cast<std::size_t>(driverIndex)], m_readerName);
    if (result != 0) {
        // No signing test follows a failed check.
        m_checkedCard.serialNumber.clear();
        return result;
    }
    // The card stays the one checked; the token is as this driver reads it.
    m_checkedCard.serialNumber = TokenSerialField(m_tokenInfo);
    ReportCertificateWarnings("CSmartCardManager::CheckDriver");
    return 0;
}

uint32_t CSmartCardManager::DriverTest(std::string driverName, std::string readerName) {
    HeldModulesScope operation(m_heldModules);
    const char* source = "CSmartCardManager::DriverTest";
    ClearTokenFields();
    uint32_t loadError = ProbeDrivers(driverName, source, false);
    if (loadError != 0) {
        return loadError;
    }
    m_driverInUse = driverName;
    const TokenSession session = OpenDriverInUse(readerName, SessionPurpose::Final);
    KeepTokenFields(session);
    ReadDriverVersion(source, session.code);
    return session.code;
}
