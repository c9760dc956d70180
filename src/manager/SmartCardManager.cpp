#include "manager/SmartCardManager.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "catalogue/EmbeddedCatalogue.h"
#include "log/Log.h"
#include "manager/StatusText.h"

CSmartCardManager::CSmartCardManager()
    : m_readerCount(0),
      m_slotId(0),
      m_statusList(nullptr),
      m_cardListParsed(m_catalogue.Parsed()),
      m_cardList(m_catalogue.Document()) {
    std::memset(m_readers, 0, sizeof m_readers);
    std::memset(&m_tokenInfo, 0, sizeof m_tokenInfo);
    LogStart();
    std::size_t size = 0;
    const char* catalogue = EmbeddedCatalogue(&size);
    try {
        InitCardList(size, catalogue);
    } catch (...) {
        // The destructor does not run for a constructor that throws: stop the log here so
        // that the catalogue's messages reach the file.
        LogStop();
        throw;
    }
}

CSmartCardManager::~CSmartCardManager() {
    for (SCARD_READERSTATE& reader : m_readers) {
        std::free(const_cast<char*>(reader.szReader));
        reader.szReader = nullptr;
    }
    LogStop();
}

void CSmartCardManager::ClearTokenFields() {
    std::memset(&m_tokenInfo, 0, sizeof m_tokenInfo);
    m_certificates.clear();
    m_slotId = 0;
    m_filterDriver.clear();
}

void CSmartCardManager::ReportCertificateWarnings(const char* source) {
    for (const std::string& line : CertificateWarnings(m_certificates, std::time(nullptr))) {
        LOG_MESSAGE(0, 0, source, "%s", line.c_str());
        AddStatusLine(m_statusList, line.c_str());
    }
}
