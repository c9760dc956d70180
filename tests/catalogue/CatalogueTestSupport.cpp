#include "CatalogueTestSupport.h"

#include <sstream>

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

std::string ManagerInTempDir::StopAndReadLog() {
    manager.reset();
    return ReadFile("Lumidor.log");
}

bool LogHasRecord(const std::string& log, const std::string& source, const std::string& text) {
    // The log's source column is 30 characters wide.
    const std::string column = source.substr(0, 30);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(column) != std::string::npos && line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}
