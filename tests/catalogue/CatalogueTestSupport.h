#pragma once

#include <memory>
#include <string>
#include <vector>

#include "manager/SmartCardManager.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"

// The catalogue the program carries: the embedded bytes, or the data file in a build
// without them.
std::string ProgramCatalogue();

// A manager constructed in a fresh current directory, so that its log lands there. In a
// build without an embedded catalogue the data file is placed there for the constructor.
struct ManagerInTempDir {
    ManagerInTempDir();
    ~ManagerInTempDir();

    // Replaces the manager's catalogue with the given text.
    void Load(const std::string& text) { manager->InitCardList(text.size(), text.data()); }
    // Destroys the manager (stopping the log) and returns the log's records.
    std::vector<LoggedRecord> StopAndReadLog();

    TempDir dir;
    std::unique_ptr<CSmartCardManager> manager;
};

// True when a record of the source holds the text in its message.
bool LogHasRecord(const std::vector<LoggedRecord>& records, const std::string& source,
                  const std::string& text);
