#include "manager/SmartCardManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "log/Log.h"
#include "support/LiveHeapBytes.h"
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

// Names in every entry, also beyond the count, each large enough that the live heap can only
// shrink by all of them together if every one is freed.
TEST(ManagerStartupTest, DestructionReleasesTheNamesOfAllTenEntries) {
    constexpr std::size_t kNameSize = std::size_t{4} << 20;
    TempDir dir;
    auto* manager = new CSmartCardManager;
    for (SCARD_READERSTATE& reader : manager->m_readers) {
        char* name = static_cast<char*>(std::malloc(kNameSize));
        ASSERT_NE(name, nullptr);
        std::memset(name, 'R', kNameSize - 1);
        name[kNameSize - 1] = '\0';
        reader.szReader = name;
    }
    manager->m_readerCount = 2;
    const std::size_t names = std::size(manager->m_readers) * kNameSize;
    const std::size_t withNames = LiveHeapBytes();
    delete manager;
    const std::size_t after = LiveHeapBytes();
    ASSERT_LT(after, withNames);
    EXPECT_GE(withNames - after, names);
}

}  // namespace
