#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/MessageList.h"
#include "manager/SmartCardManager.h"
#include "support/TempDir.h"

// One record of ./Lumidor.log, padding removed: the first line's message in `text`, the
// lines that continue it (the system text, the rest of a long message) in `continuation`.
struct LoggedRecord {
    std::string source;
    uint32_t code = 0;
    std::string text;
    std::string continuation;
};

std::vector<LoggedRecord> ReadLogRecords(const std::string& path);

// The records whose message is exactly `text`.
std::vector<LoggedRecord> RecordsWithText(const std::vector<LoggedRecord>& records,
                                          const std::string& text);

// A file that starts like a 32-bit x86 shared object.
void WriteElf32(const std::string& path);

// A manager whose log and files live in a fresh temporary directory, with an attached
// message list.
class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager = std::make_unique<CSmartCardManager>();
        manager->m_statusList = &status;
    }
    // Stops the log (the manager goes) and returns what it wrote.
    std::vector<LoggedRecord> FinishLog() {
        manager.reset();
        return ReadLogRecords(dir.path() + "/Lumidor.log");
    }

    TempDir dir;
    MemoryMessageList status;
    std::unique_ptr<CSmartCardManager> manager;
};
