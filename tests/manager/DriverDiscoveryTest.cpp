// Driver discovery over copies of the scriptable test module: which module becomes the
// driver in use, how often each is loaded, what the serial filter reports, and the verdict.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/SystemText.h"
#include "support/Elf32File.h"
#include "support/ExpectedTexts.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/TextTemplate.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kReader = "Virtual PCD 00 00";

struct DiscoveryCase {
    const char* what;
    std::string filter;  // "@first", "@second", ... stand for the modules' paths
    uint32_t result;
    std::string inUse;                     // m_driverInUse (and m_filterDriver when chosen)
    bool chosenByFilter;                   //
    std::string path;                      // m_driverPath
    std::vector<std::string> filterLines;  // status lines 323, by chosen module
    int ignoredFilterRecords;              // parse errors and unusable shapes in the log
};

void PrintTo(const DiscoveryCase& c, std::ostream* out) {
    *out << c.what;
}

class DiscoveryTest : public ManagerTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(DiscoveryTest, ChoosesTheDriverInUse) {
    const DiscoveryCase& c = GetParam();
    // Versions from the file names, so that reading them loads nothing.
    ScriptedModule first(dir.path(), "first.so.1");
    ScriptedModule second(dir.path(), "second.so.2");
    ScriptedModule broken(dir.path(), "broken.so.3");
    first.SetScript("token.serial=7420051234567890\n");
    second.SetScript("token.serial=9999999999999999\n");
    broken.SetScript("result.C_Initialize=0x5\n");
    WriteElf32(dir.path() + "/elf32.so");
    const std::vector<std::pair<std::string, std::string>> paths = {
        {"@first", first.path()},
        {"@second", second.path()},
        {"@broken", broken.path()},
        {"@missing", dir.path() + "/missing.so"},
        {"@elf32", dir.path() + "/elf32.so"}};

    uint32_t result =
        manager->FindDriver(first.path() + "," + second.path(), kReader, Expand(c.filter, paths));

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(manager->m_drivers, (std::vector<std::string>{first.path(), second.path()}));
    EXPECT_EQ(manager->m_driverInUse, Expand(c.inUse, paths));
    EXPECT_EQ(manager->m_filterDriver, c.chosenByFilter ? Expand(c.inUse, paths) : "");
    EXPECT_EQ(manager->m_driverPath, Expand(c.path, paths));
    // Probe, trial and final opening find each module loaded once for the whole discovery.
    for (const ScriptedModule* module : {&first, &second}) {
        EXPECT_EQ(module->Count("loads"), 1);
        EXPECT_EQ(module->Count("unloads"), 1);
    }

    std::vector<std::string> filterLines;
    for (const std::string& line : status.lines) {
        if (line.rfind("Abbinato driver", 0) == 0) {
            filterLines.push_back(line);
        }
    }
    std::vector<std::string> expectedLines;
    for (const std::string& name : c.filterLines) {
        expectedLines.push_back(FilterLine(Expand(name, paths)));
    }
    EXPECT_EQ(filterLines, expectedLines);

    int ignored = 0;
    for (const LoggedRecord& record : FinishLog()) {
        if (record.text.rfind("JSON parse error", 0) == 0 ||
            record.text.rfind("Serial filter", 0) == 0) {
            EXPECT_EQ(record.source, "CSmartCardManager::FindDriver");
            ++ignored;
        }
    }
    EXPECT_EQ(ignored, c.ignoredFilterRecords);
}

// Without a choice both modules are tried and the first is opened once more.
DiscoveryCase NoChoice(const char* what, std::string filter, int ignoredRecords = 0) {
    return {what, std::move(filter), 0, "@first", false, "@first", {}, ignoredRecords};
}

// The first module's trial reads serial 742005...; the choice ends the trial there.
DiscoveryCase Chosen(const char* what, std::string filter, std::vector<std::string> lines) {
    return {what, std::move(filter), 0, "@second", true, "@second", std::move(lines), 0};
}

INSTANTIATE_TEST_SUITE_P(
    Filters, DiscoveryTest,
    ::testing::Values(
        NoChoice("NoFilter", ""),
        Chosen("SerialPrefix", "{'serial':{'742005':'@second'}}", {"@second"}),
        Chosen("EveryMatchReportedLongestWins", "{'serial':{'74':'@first','742':'@second'}}",
               {"@first", "@second"}),
        Chosen("EmptyNameMatchesEveryToken", "{'serial':{'':'@second'}}", {"@second"}),
        NoChoice("EmptySerialObject", "{'serial':{}}"),
        NoChoice("NoSerialMember", "{'issuer':{'742':'@second'}}"),
        NoChoice("NullSerialMember", "{'serial':null}"),
        NoChoice("PrefixLongerThanTheSerial", "{'serial':{'74200512345678901':'@second'}}"),
        // Reported in the log once per module tried, and never thrown.
        NoChoice("NotJson", "{'serial':{'742005':'@second'}", 2),
        NoChoice("RootNotAnObject", "['@second']", 2),
        NoChoice("SerialNotAnObject", "{'serial':'@second'}", 2),
        NoChoice("ValueNotAText", "{'serial':{'742':7}}", 2),
        NoChoice("OneValueNotAText", "{'serial':{'742':'@second','7':['x']}}", 2),
        // A choice that yields no function list fails, with its own reason; the path is
        // the one of the module that loaded last in the trial.
        DiscoveryCase{"ChoiceNotFound",
                      "{'serial':{'742':'@missing'}}",
                      kErrorModuleNotFound,
                      "@missing",
                      true,
                      "@first",
                      {"@missing"},
                      0},
        DiscoveryCase{"ChoiceNotLoadable",
                      "{'serial':{'742':'@elf32'}}",
                      kErrorBadExeFormat,
                      "@elf32",
                      true,
                      "@first",
                      {"@elf32"},
                      0},
        DiscoveryCase{"ChoiceFailsToInitialise",
                      "{'serial':{'742':'@broken'}}",
                      CKR_GENERAL_ERROR,
                      "@broken",
                      true,
                      "@broken",
                      {"@broken"},
                      0}));

TEST_F(ManagerTest, DiscoveryVerdictIsTheFinalOpeningsEvenAfterAFailedTrial) {
    // The second module fails its session in the trial; the first is chosen and works.
    ScriptedModule first(dir.path(), "first.so");
    ScriptedModule second(dir.path(), "second.so");
    second.SetScript("result.C_OpenSession=0xE0\n");

    EXPECT_EQ(manager->FindDriver(first.path() + "," + second.path(), kReader, ""), 0u);
    EXPECT_EQ(manager->m_driverInUse, first.path());
    EXPECT_EQ(first.Count("calls.C_OpenSession"), 2);
}

// The serial filter chooses a module that does not load: the line that says it gives no
// C_GetFunctionList carries the loader's own reason, and so does its log record.
TEST_F(ManagerTest, AChosenModuleThatDoesNotLoadShowsTheLoadersReason) {
    ScriptedModule first(dir.path(), "first.so");
    first.SetScript("token.serial=7420051234567890\n");
    const std::string elf32 = dir.path() + "/elf32.so";
    const std::string missing = dir.path() + "/missing.so";
    WriteElf32(elf32);
    struct Case {
        std::string chosen;
        uint32_t result;
        std::string reason;
    };
    for (const Case& c : {Case{elf32, kErrorBadExeFormat, "non è un'applicazione Win32 valida."},
                          Case{missing, kErrorModuleNotFound, kModuleNotFound}}) {
        SCOPED_TRACE(c.chosen);
        status.lines.clear();
        EXPECT_EQ(
            manager->FindDriver(first.path(), kReader, "{'serial':{'742':'" + c.chosen + "'}}"),
            c.result);
        EXPECT_EQ(status.lines,
                  (std::vector<std::string>{LoadedLine(first.path()), FilterLine(c.chosen),
                                            "Funzione C_GetFunctionList non trovata nel driver (" +
                                                c.chosen + "): " + c.reason}));
    }
    std::vector<uint32_t> codes;
    for (const LoggedRecord& record :
         RecordsWithText(FinishLog(), "Unable to find C_GetFunctionList function.")) {
        codes.push_back(record.code);
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{kErrorBadExeFormat, kErrorModuleNotFound}));
}

TEST_F(ManagerTest, DiscoveryWithoutAnyLoadingModule) {
    struct Case {
        std::string drivers;
        uint32_t result;
        int failedLines;
    };
    const std::string missing = dir.path() + "/missing.so";
    WriteElf32(dir.path() + "/elf32.so");
    for (const Case& c : {Case{missing, kErrorModuleNotFound, 1},
                          Case{dir.path() + "/elf32.so", kErrorBadExeFormat, 1},
                          Case{missing + "," + missing, CKR_TOKEN_NOT_PRESENT, 2}}) {
        SCOPED_TRACE(c.drivers);
        status.lines.clear();
        EXPECT_EQ(manager->FindDriver(c.drivers, kReader, ""), c.result);
        EXPECT_TRUE(manager->m_drivers.empty());
        EXPECT_EQ(manager->m_driverInUse, "");
        EXPECT_EQ(static_cast<int>(status.lines.size()), c.failedLines);
    }
}

}  // namespace
