#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "support/ManagerFixture.h"
#include "support/SoftHsm.h"

namespace {

const char* kSoftHsm = SoftHsmToken::kModule;

// Loads `name` the way driver discovery does and opens a session for `reader`.
uint32_t CheckModule(CSmartCardManager& manager, const std::string& name,
                     const std::string& reader) {
    manager.m_driverInUse = name;
    ModuleHandle handle = manager.UpdateFileInfo();
    EXPECT_NE(handle, nullptr) << ModuleLastReason();
    uint32_t result = 0xFFFFFFFF;
    if (CK_FUNCTION_LIST* list = manager.GetFunctionList(handle, name)) {
        result = manager.OpenCardSession(list, name, reader);
    }
    ReleaseModule(handle);
    manager.ReadDriverVersion("CSmartCardManager::FindDriver", result);
    return result;
}

TEST_F(ManagerTest, SoftHsmOpensASessionOnItsToken) {
    if (!SoftHsmToken::Installed()) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    SoftHsmToken token(dir.path(), "Lumidor");
    CK_SLOT_ID slot = token.slot();
    // SoftHSM lists an uninitialised token beside the new one: the reader name picks.
    char reader[64];
    std::snprintf(reader, sizeof reader, "SoftHSM slot ID 0x%lx", slot);

    EXPECT_EQ(CheckModule(*manager, kSoftHsm, reader), 0u);
    EXPECT_EQ(manager->m_slotId, slot);
    EXPECT_EQ(TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label), "Lumidor");
    // The module's file, by whatever name it was first loaded under in this process.
    EXPECT_TRUE(std::filesystem::path(manager->m_driverPath).is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(manager->m_driverPath, kSoftHsm))
        << manager->m_driverPath;
    // No numeric suffix: the version is the module's own library version.
    EXPECT_TRUE(std::regex_match(manager->m_driverVersion, std::regex("[0-9]+\\.[0-9]+\\.0\\.0")))
        << manager->m_driverVersion;
    EXPECT_TRUE(status.lines.empty());
}

}  // namespace
