// The driver check: the user's pick among the modules that driver discovery kept.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/SystemText.h"
#include "support/ExpectedTexts.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/TextTemplate.h"
#include "testmodule/ScriptedModule.h"

namespace {

struct CheckCase {
    const char* what;
    int index;  // into good, gone, broken
    uint32_t result;
    std::string inUse;  // "@previous" when it must not change
    std::string path;
    std::vector<std::string> lines;
    long sessions;  // C_OpenSession calls of the picked module
};

void PrintTo(const CheckCase& c, std::ostream* out) {
    *out << c.what;
}

class DriverCheckTest : public ManagerTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(DriverCheckTest, ChecksThePickedModule) {
    const CheckCase& c = GetParam();
    ScriptedModule good(dir.path(), "good.so");
    ScriptedModule gone(dir.path(), "gone.so");
    ScriptedModule broken(dir.path(), "broken.so");
    good.SetScript("info.version=3.7\n");
    broken.SetScript("result.C_Initialize=0x5\n");
    // Loaded during discovery, removed since.
    std::filesystem::remove(gone.path());
    const std::vector<std::string> drivers = {good.path(), gone.path(), broken.path()};
    const std::vector<std::pair<std::string, std::string>> names = {{"@good", good.path()},
                                                                    {"@gone", gone.path()},
                                                                    {"@broken", broken.path()},
                                                                    {"@previous", "previous.so"}};
    manager->m_drivers = drivers;
    manager->m_driverInUse = "previous.so";
    manager->m_driverPath = "/lib/previous.so";
    manager->m_driverVersion = "1.2.3.4";
    manager->m_readerName = "Virtual PCD 00 00";

    EXPECT_EQ(manager->CheckDriver(c.index), c.result);

    EXPECT_EQ(manager->m_drivers, drivers);
    EXPECT_EQ(manager->m_driverInUse, Expand(c.inUse, names));
    EXPECT_EQ(manager->m_driverPath, Expand(c.path, names));
    std::vector<std::string> lines;
    for (const std::string& line : c.lines) {
        lines.push_back(Expand(line, names));
    }
    EXPECT_EQ(status.lines, lines);
    EXPECT_EQ(good.Count("calls.C_OpenSession") + broken.Count("calls.C_OpenSession"), c.sessions);
    EXPECT_EQ(good.Count("loads"), good.Count("unloads"));
    EXPECT_EQ(broken.Count("loads"), broken.Count("unloads"));
}

const std::string kNoIndexLine = LoadFailedLine("", "");

INSTANTIATE_TEST_SUITE_P(
    Positions, DriverCheckTest,
    ::testing::Values(CheckCase{"Negative",
                                -1,
                                kNoReadersAvailable,
                                "@previous",
                                "/lib/previous.so",
                                {kNoIndexLine},
                                0},
                      CheckCase{"EqualToTheCount",
                                3,
                                kNoReadersAvailable,
                                "@previous",
                                "/lib/previous.so",
                                {kNoIndexLine},
                                0},
                      CheckCase{"Working", 0, 0, "@good", "@good", {LoadedLine("@good")}, 1},
                      CheckCase{"NoLongerLoads",
                                1,
                                kErrorModuleNotFound,
                                "@previous",
                                "/lib/previous.so",
                                {LoadFailedLine("@gone", kModuleNotFound)},
                                0},
                      // The initialisation's own failure is the verdict, and no session is tried.
                      CheckCase{"InitialiseFails",
                                2,
                                CKR_GENERAL_ERROR,
                                "@broken",
                                "@broken",
                                {LoadedLine("@broken"),
                                 "Errore durante l'utilizzo del driver (@broken) sulla funzione "
                                 "'C_Initialize': 0x00000005"},
                                0}));

TEST_F(ManagerTest, DriverCheckVersionAndLogOfAnInvalidPosition) {
    ScriptedModule good(dir.path(), "good.so");
    good.SetScript("info.version=3.7\n");
    manager->m_drivers = {good.path()};
    manager->m_driverVersion = "1.2.3.4";
    EXPECT_EQ(manager->CheckDriver(1), kNoReadersAvailable);
    EXPECT_EQ(manager->m_driverVersion, "1.2.3.4");
    EXPECT_EQ(manager->CheckDriver(0), 0u);
    EXPECT_EQ(manager->m_driverVersion, "3.7.0.0");
    auto records = RecordsWithText(FinishLog(), "No valid driver index.");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].source, "CSmartCardManager::CheckDriver");
    EXPECT_EQ(records[0].code, 0u);
}

}  // namespace
