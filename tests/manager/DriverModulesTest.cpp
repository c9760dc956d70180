#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ModuleLoader.h"
#include "platform/SystemText.h"
#include "support/Elf32File.h"
#include "support/ExpectedTexts.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "testmodule/ScriptedModule.h"

namespace {

const std::string kLoaded = LoadedLine("%s");
const std::string kNotFound = LoadFailedLine("%s", kModuleNotFound);
const std::string kBadFormat = LoadFailedLine("%s", "non è un'applicazione Win32 valida.");

std::string Line(const std::string& pattern, const std::string& name) {
    std::string line = pattern;
    line.replace(line.find("%s"), 2, name);
    return line;
}

struct ProbeCase {
    const char* what;
    const char* drivers;
    bool keep;
    uint32_t result;
    std::vector<std::string> drivers_after;
    std::vector<std::pair<std::string, std::string>> lines;  // pattern, name
    long loads;                                              // of ./good.so
};

void PrintTo(const ProbeCase& c, std::ostream* out) {
    *out << c.what;
}

class ProbeTest : public ManagerTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, LoadsEachNameOnceAndReportsIt) {
    const ProbeCase& c = GetParam();
    ScriptedModule good(dir.path(), "good.so");
    WriteElf32(dir.path() + "/elf32.so");

    EXPECT_EQ(manager->ProbeDrivers(c.drivers, "CSmartCardManager::FindDriver", c.keep), c.result);
    EXPECT_EQ(manager->m_drivers, c.drivers_after);
    std::vector<std::string> expected;
    for (const auto& [pattern, name] : c.lines) {
        expected.push_back(Line(pattern, name));
    }
    EXPECT_EQ(status.lines, expected);
    EXPECT_EQ(good.Count("loads"), c.loads);
    EXPECT_EQ(good.Count("unloads"), c.loads);
    // Probing only loads: no PKCS#11 call is made.
    EXPECT_EQ(good.Count("calls.C_GetFunctionList"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, ProbeTest,
    ::testing::Values(ProbeCase{"EmptyPiecesAreSkipped",
                                ",./good.so,,./good.so,",
                                true,
                                0,
                                {"./good.so", "./good.so"},
                                {{kLoaded, "./good.so"}, {kLoaded, "./good.so"}},
                                2},
                      ProbeCase{"FirstFailsSecondLoads",
                                "./missing.so,./good.so",
                                true,
                                kErrorModuleNotFound,
                                {"./good.so"},
                                {{kNotFound, "./missing.so"}, {kLoaded, "./good.so"}},
                                1},
                      ProbeCase{"BlanksStayPartOfTheName",
                                "./good.so ,./good.so",
                                true,
                                kErrorModuleNotFound,
                                {"./good.so"},
                                {{kNotFound, "./good.so "}, {kLoaded, "./good.so"}},
                                1},
                      ProbeCase{"SingleNameFails",
                                "./elf32.so",
                                true,
                                kErrorBadExeFormat,
                                {},
                                {{kBadFormat, "./elf32.so"}},
                                0},
                      ProbeCase{"AllFailTheLastErrorIsReturned",
                                "./elf32.so,./missing.so",
                                true,
                                kErrorModuleNotFound,
                                {},
                                {{kBadFormat, "./elf32.so"}, {kNotFound, "./missing.so"}},
                                0},
                      ProbeCase{"WithoutKeepNothingIsAppended",
                                "./good.so",
                                false,
                                0,
                                {},
                                {{kLoaded, "./good.so"}},
                                1}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return info.param.what; });

TEST_F(ProbeTest, LogsEachAttemptUnderTheCallersSource) {
    ScriptedModule good(dir.path(), "good.so");
    manager->ProbeDrivers("./missing.so,./good.so", "CSmartCardManager::DriverTest", true);
    std::vector<LoggedRecord> log = FinishLog();

    auto tried = RecordsWithText(log, "Try loading './missing.so' module...");
    ASSERT_EQ(tried.size(), 1u);
    EXPECT_EQ(tried[0].source, "CSmartCardManager::DriverTest");
    auto error = RecordsWithText(log, "Error loading './missing.so' library !");
    ASSERT_EQ(error.size(), 1u);
    EXPECT_EQ(error[0].code, kErrorModuleNotFound);
    EXPECT_EQ(error[0].continuation, kModuleNotFound);
    // The linker's own reason, verbatim, in a record of its own.
    bool reason = false;
    for (const LoggedRecord& record : log) {
        reason = reason || (record.code == kErrorModuleNotFound &&
                            record.text.find("./missing.so: cannot open shared object file") !=
                                std::string::npos);
    }
    EXPECT_TRUE(reason);
    auto loaded = RecordsWithText(log, "'./good.so' module successfully loaded.");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].code, 0u);
}

struct FunctionListCase {
    const char* what;
    bool withEntryPoint;
    const char* script;
    uint32_t failure;
    const char* line;    // expected status line, %s = module name; null for none
    const char* record;  // expected log record; null for none
};

void PrintTo(const FunctionListCase& c, std::ostream* out) {
    *out << c.what;
}

class FunctionListTest : public ManagerTest,
                         public ::testing::WithParamInterface<FunctionListCase> {};

TEST_P(FunctionListTest, GivesAnInitialisedListOrReportsWhy) {
    const FunctionListCase& c = GetParam();
    ScriptedModule module(dir.path(), "mod.so", c.withEntryPoint);
    module.SetScript(c.script);
    ModuleHandle handle = LoadModule(module.path());
    ASSERT_NE(handle, nullptr);
    uint32_t failure = 0xDEAD;
    CK_FUNCTION_LIST* list = manager->GetFunctionList(handle, "mod.so", &failure);
    bool initialised = list != nullptr && list->C_GetSlotList != nullptr;
    if (initialised) {
        CK_ULONG count = 0;
        // Proves C_Initialize took effect: an uninitialised module refuses this.
        EXPECT_EQ(list->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    }
    ReleaseModule(handle);

    EXPECT_EQ(list != nullptr, c.failure == 0);
    EXPECT_EQ(failure, c.failure);
    if (c.line != nullptr) {
        EXPECT_EQ(status.lines, std::vector<std::string>{Line(c.line, "mod.so")});
    } else {
        EXPECT_TRUE(status.lines.empty());
    }
    EXPECT_EQ(module.Count("calls.C_Finalize"), 0);
    std::vector<LoggedRecord> log = FinishLog();
    std::vector<LoggedRecord> own;
    for (const LoggedRecord& record : log) {
        if (record.source == "CSmartCardManager::GetFunction") {  // cut to 30 characters
            own.push_back(record);
        }
    }
    if (c.record != nullptr) {
        ASSERT_EQ(own.size(), 1u);
        EXPECT_EQ(own[0].text, c.record);
        EXPECT_EQ(own[0].code, c.failure);
    } else {
        EXPECT_TRUE(own.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, FunctionListTest,
    ::testing::Values(
        FunctionListCase{"NoEntryPoint", false, "", kErrorProcNotFound,
                         "Funzione C_GetFunctionList non trovata nel driver (%s): The specified "
                         "procedure could not be found.",
                         "Unable to find C_GetFunctionList function."},
        FunctionListCase{"GetFunctionListFails", true, "result.C_GetFunctionList=0x5\n", 0x5,
                         "Errore durante l'utilizzo del driver (%s) sulla funzione "
                         "'C_GetFunctionList': 0x00000005",
                         "C_GetFunctionList error: 0x5."},
        FunctionListCase{"NullListIsAFailure", true, "function_list=null\n", 0x5,
                         "Errore durante l'utilizzo del driver (%s) sulla funzione "
                         "'C_GetFunctionList': 0x00000005",
                         "C_GetFunctionList error: 0x5."},
        FunctionListCase{"InitializeFails", true, "result.C_Initialize=0x5\n", 0x5,
                         "Errore durante l'utilizzo del driver (%s) sulla funzione "
                         "'C_Initialize': 0x00000005",
                         "C_Initialize error: 0x5."},
        FunctionListCase{"VendorCodeInFull", true, "result.C_Initialize=0x80000123\n", 0x80000123,
                         "Errore durante l'utilizzo del driver (%s) sulla funzione "
                         "'C_Initialize': 0x80000123",
                         "C_Initialize error: 0x80000123."},
        FunctionListCase{"AlreadyInitializedIsSilent", true, "result.C_Initialize=0x191\n", 0,
                         nullptr, nullptr},
        FunctionListCase{"Initialized", true, "", 0, nullptr, nullptr}),
    [](const ::testing::TestParamInfo<FunctionListCase>& info) { return info.param.what; });

TEST_F(FunctionListTest, WithoutAModuleTheLookupFails) {
    uint32_t failure = 0;
    EXPECT_EQ(manager->GetFunctionList(nullptr, "gone.so", &failure), nullptr);
    EXPECT_EQ(failure, kErrorModuleNotFound);
    EXPECT_EQ(status.lines,
              std::vector<std::string>{"Funzione C_GetFunctionList non trovata nel driver "
                                       "(gone.so): The specified module could not be found."});
}

TEST_F(ManagerTest, UpdateFileInfoRecordsTheFullPathOfALoad) {
    ScriptedModule module(dir.path(), "mod.so");
    manager->m_driverInUse = "./mod.so";
    ModuleHandle handle = manager->UpdateFileInfo();
    ASSERT_NE(handle, nullptr);
    ReleaseModule(handle);
    EXPECT_EQ(manager->m_driverPath, std::filesystem::canonical(module.path()).string());

    // A failed load leaves the path of the last module that loaded.
    manager->m_driverInUse = "./gone.so";
    EXPECT_EQ(manager->UpdateFileInfo(), nullptr);
    EXPECT_EQ(manager->m_driverPath, std::filesystem::canonical(module.path()).string());
    EXPECT_EQ(module.Count("unloads"), module.Count("loads"));
    auto log = FinishLog();
    EXPECT_EQ(RecordsWithText(log, "Verifying module './gone.so'.").size(), 1u);
}

TEST_F(ManagerTest, DriverVersionFromTheFileName) {
    ScriptedModule module(dir.path(), "libscripted.so.10.2.300.4");
    manager->m_driverInUse = "./libscripted.so.10.2.300.4";
    ReleaseModule(manager->UpdateFileInfo());
    manager->ReadDriverVersion("CSmartCardManager::FindDriver", 0);
    EXPECT_EQ(manager->m_driverVersion, "10.2.300.4");
}

TEST_F(ManagerTest, DriverVersionFromTheLibraryVersion) {
    ScriptedModule module(dir.path(), "libscripted.so");
    module.SetScript("info.version=3.7\n");
    manager->m_driverPath = module.path();
    manager->ReadDriverVersion("CSmartCardManager::FindDriver", 0);
    EXPECT_EQ(manager->m_driverVersion, "3.7.0.0");
    // C_GetInfo wants an initialised module: the start is of this program's making, so it is
    // finalised before the module is let go.
    EXPECT_EQ(module.Value("trace"),
              "C_GetFunctionList,C_GetInfo,C_Initialize,C_GetInfo,C_Finalize,");
    EXPECT_EQ(module.Count("finalizes"), 1);
    EXPECT_EQ(module.Count("left.started"), 0);
    EXPECT_EQ(module.Count("unloads"), module.Count("loads"));
}

TEST_F(ManagerTest, WithoutVersionInformationTheVersionStays) {
    ScriptedModule module(dir.path(), "libscripted.so");
    module.SetScript("result.C_GetInfo=0x5\n");
    ScriptedModule withoutEntry(dir.path(), "without.so", false);
    manager->m_driverVersion = "1.2.3.4";
    for (const std::string& path : {module.path(), withoutEntry.path()}) {
        manager->m_driverPath = path;
        manager->ReadDriverVersion("CSmartCardManager::FindDriver", 0);
        EXPECT_EQ(manager->m_driverVersion, "1.2.3.4");
    }
    EXPECT_EQ(module.Count("unloads"), 1);
    EXPECT_EQ(withoutEntry.Count("unloads"), 1);
    manager->m_driverPath.clear();
    manager->ReadDriverVersion("CSmartCardManager::FindDriver", 0);
    EXPECT_EQ(manager->m_driverVersion, "1.2.3.4");
    auto log = FinishLog();
    for (const LoggedRecord& record : log) {
        EXPECT_EQ(record.text.find("GetFileVersionInfo"), std::string::npos);
    }
}

TEST_F(ManagerTest, AVanishedModuleIsLoggedWithTheCallersCode) {
    manager->m_driverPath = dir.path() + "/vanished.so";
    manager->m_driverVersion = "1.2.3.4";
    manager->ReadDriverVersion("CSmartCardManager::DriverTest", 0xE0);
    EXPECT_EQ(manager->m_driverVersion, "1.2.3.4");
    auto log = FinishLog();
    auto records = RecordsWithText(log, "GetFileVersionInfo error: 0x7E.");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, 0xE0u);
    EXPECT_EQ(records[0].source, "CSmartCardManager::DriverTest");
}

}  // namespace
