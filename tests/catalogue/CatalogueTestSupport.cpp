#include "CatalogueTestSupport.h"

#include "catalogue/EmbeddedCatalogue.h"

std::string ProgramCatalogue() {
    std::size_t size = 0;
    const char* text = EmbeddedCatalogue(&size);
    if (text != nullptr) {
        return std::string(text, size);
    }
    return ReadFile(LUMIDOR_SOURCE_CARDLIST);
}

ManagerInTempDir::ManagerInTempDir() {
    std::size_t size = 0;
    if (EmbeddedCatalogue(&size) == nullptr) {
        WriteFile("cardlist.json", ReadFile(LUMIDOR_SOURCE_CARDLIST));
    }
    manager = std::make_unique<CSmartCardManager>();
}

ManagerInTempDir::~ManagerInTempDir() {
    manager.reset();
}

std::vector<LoggedRecord> ManagerInTempDir::StopAndReadLog() {
    manager.reset();
    return ReadLogRecords();
}

bool LogHasRecord(const std::vector<LoggedRecord>& records, const std::string& source,
                  const std::string& text) {
    for (const LoggedRecord& record : RecordsOf(records, source)) {
        if (record.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}
