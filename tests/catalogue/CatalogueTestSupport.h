#pragma once

#include <memory>
#include <string>

#include "support/TempDir.h"
#include "manager/SmartCardManager.h"

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
    // Destroys the manager (stopping the log) and returns the log file's content.
    std::string StopAndReadLog();

    TempDir dir;
    std::unique_ptr<CSmartCardManager> manager;
};

// True when one line of the log carries both the source (as the log cuts it) and the text.
bool LogHasRecord(const std::string& log, const std::string& source, const std::string& text);
