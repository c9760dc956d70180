#include "manager/SmartCardManager.h"

#include <gtest/gtest.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <cstring>

#include "log/Log.h"
#include "support/TempDir.h"

namespace {

TEST(ManagerStartupTest, ConstructionStartsTheLogAndLeavesEveryFieldEmpty) {
    TempDir dir;
    {
        CSmartCardManager manager;
        EXPECT_NE(g_logContext, nullptr);
        EXPECT_EQ(manager.m_readerCount, 0u);
        for (const SCARD_READERSTATE& reader : manager.m_readers) {
            EXPECT_EQ(reader.szReader, nullptr);
            EXPECT_EQ(reader.dwEventState, 0u);
        }
        CK_TOKEN_INFO zero{};
        EXPECT_EQ(std::memcmp(&manager.m_tokenInfo, &zero, sizeof zero), 0);
        EXPECT_EQ(manager.m_slotId, 0u);
        EXPECT_TRUE(manager.m_atr.empty());
        EXPECT_TRUE(manager.m_readerName.empty());
        EXPECT_TRUE(manager.m_cardDrivers.empty());
        EXPECT_TRUE(manager.m_drivers.empty());
        EXPECT_TRUE(manager.m_driverInUse.empty());
        EXPECT_TRUE(manager.m_driverPath.empty());
        EXPECT_TRUE(manager.m_driverVersion.empty());
        EXPECT_TRUE(manager.m_filterDriver.empty());
        EXPECT_EQ(manager.m_statusList, nullptr);
        EXPECT_TRUE(manager.m_cardList.isObject());
    }
    EXPECT_EQ(g_logContext, nullptr);
}

// Only the leak checker can see memory that nothing points to: the sanitizer build asks it.
TEST(ManagerStartupTest, DestructionReleasesTheNamesOfAllTenEntries) {
#ifndef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the leak check of the sanitizer build tells";
#else
    TempDir dir;
    auto* manager = new CSmartCardManager;
    // Names in every entry, also beyond the count.
    for (SCARD_READERSTATE& reader : manager->m_readers) {
        reader.szReader = strdup("Virtual PCD 00 00");
    }
    manager->m_readerCount = 2;
    delete manager;
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
