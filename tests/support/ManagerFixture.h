#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/MessageList.h"
#include "manager/SmartCardManager.h"
#include "support/LogRecords.h"
#include "support/TempDir.h"

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
