#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "ModuleTestSupport.h"
#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"

namespace {

const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    return output;
}

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
    if (!std::filesystem::exists(kSoftHsm)) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    std::filesystem::create_directory(dir.path() + "/tokens");
    WriteFile(dir.path() + "/softhsm2.conf", "directories.tokendir = " + dir.path() +
                                                 "/tokens\nobjectstore.backend = file\n"
                                                 "log.level = ERROR\n");
    setenv("SOFTHSM2_CONF", (dir.path() + "/softhsm2.conf").c_str(), 1);
    std::string output = RunCommand(
        "softhsm2-util --init-token --free --label Lumidor --pin 123456 --so-pin 654321");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(output, match, std::regex("reassigned to slot ([0-9]+)")))
        << output;
    CK_SLOT_ID slot = std::stoul(match[1]);
    // SoftHSM lists an uninitialised token beside the new one: the reader name picks.
    char reader[64];
    std::snprintf(reader, sizeof reader, "SoftHSM slot ID 0x%lx", slot);

    EXPECT_EQ(CheckModule(*manager, kSoftHsm, reader), 0u);
    EXPECT_EQ(manager->m_slotId, slot);
    EXPECT_EQ(TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label), "Lumidor");
    EXPECT_EQ(manager->m_driverPath, kSoftHsm);
    // No numeric suffix: the version is the module's own library version.
    EXPECT_TRUE(std::regex_match(manager->m_driverVersion, std::regex("[0-9]+\\.[0-9]+\\.0\\.0")))
        << manager->m_driverVersion;
    EXPECT_TRUE(status.lines.empty());
    unsetenv("SOFTHSM2_CONF");
}

}  // namespace
