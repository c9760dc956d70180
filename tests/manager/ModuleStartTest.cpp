// A driver module starts once per operation: from its first load in a card check, a driver
// check or a signing test, the operation holds it, so that the probe, the trials, the final
// opening and the version read find it started. Nothing stays loaded after the operation.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/ManagerFixture.h"
#include "support/rig/FakePcsc.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kReader = "Reader A";
const std::vector<unsigned char> kAtr = {0x3B, 0x02, 0x14, 0x50};
// Slow enough to be a real start, short enough for a test that never measures it.
const std::string kSlowStart = "start_delay_ms=20\npin=1234\nkey=Firma|K1|0|0\n";

class ModuleStartTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        pcsc.readers = {kReader};
        pcsc.states[kReader] = SCARD_STATE_PRESENT;
        pcsc.atrs[kReader] = kAtr;
        ASSERT_EQ(manager->UpdateReaders(), 0u);
    }
    // Copies of the scriptable module with a slow start, named in one catalogue entry.
    void Modules(int count) {
        std::string drivers;
        for (int i = 0; i < count; ++i) {
            modules.push_back(std::make_unique<ScriptedModule>(
                dir.path(), "slow" + std::to_string(i + 1) + ".so"));
            modules.back()->SetScript(kSlowStart);
            drivers += (i == 0 ? "" : ",") + modules.back()->path();
        }
        const std::string catalogue = Catalogue({CardEntry("3B021450", drivers)});
        manager->InitCardList(catalogue.size(), catalogue.data());
    }
    // Each module started (and was loaded) at most once since the last call, was finalised
    // once for each start, and every load has been given back.
    void ExpectOneStartEachAndAllGivenBack(const char* operation) {
        for (const auto& module : modules) {
            SCOPED_TRACE(std::string(operation) + ": " + module->path());
            EXPECT_LE(module->Count("starts"), 1);
            EXPECT_EQ(module->Count("finalizes"), module->Count("starts"));
            EXPECT_EQ(module->Count("left.started"), 0);
            EXPECT_LE(module->Count("loads"), 1);
            EXPECT_EQ(module->Count("loads"), module->Count("unloads"));
            module->ResetCounters();
        }
    }

    FakePcsc pcsc;
    std::vector<std::unique_ptr<ScriptedModule>> modules;
};

TEST_F(ModuleStartTest, EachOperationStartsEachModuleOnce) {
    const struct {
        const char* what;
        int modules;
    } cases[] = {{"one module", 1}, {"three modules in one entry", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        modules.clear();
        Modules(c.modules);

        ASSERT_EQ(manager->CheckCardInReader(0), 0u) << testing::PrintToString(status.lines);
        // The driver in use went through probe, trial, final opening and version read.
        EXPECT_EQ(modules[0]->Count("starts"), 1);
        EXPECT_GE(modules[0]->Count("calls.C_Initialize"), 2);
        ExpectOneStartEachAndAllGivenBack("card check");

        ASSERT_EQ(manager->CheckDriver(0), 0u);
        EXPECT_EQ(modules[0]->Count("starts"), 1);
        ExpectOneStartEachAndAllGivenBack("driver check");

        ASSERT_EQ(manager->TestCard(0, SecretString("1234")), 0u);
        EXPECT_EQ(modules[0]->Count("starts"), 1);
        ExpectOneStartEachAndAllGivenBack("signing test");
    }
}

TEST_F(ModuleStartTest, TheResultsStayThoseOfModulesStartedAnew) {
    Modules(1);
    // The check reports as before: the module found, no other line.
    ASSERT_EQ(manager->CheckCardInReader(0), 0u);
    EXPECT_EQ(status.lines, std::vector<std::string>{LoadedLine(modules[0]->path())});
    EXPECT_EQ(manager->m_driverVersion, "1.0.0.0");  // C_GetInfo of the held module
    status.lines.clear();
    EXPECT_EQ(manager->TestCard(0, SecretString("1234")), 0u);
    EXPECT_EQ(status.lines.back(), kPassed);
}

// A module that says it was started already was not started by this program: it is left to
// whoever started it, and never finalised here. One whose C_Finalize fails is still let go.
TEST_F(ModuleStartTest, OnlyAStartOfThisProgramsMakingIsFinalised) {
    const struct {
        const char* what;
        std::string script;
        long finalizeCalls;
    } cases[] = {{"started here", "", 1},
                 {"started already", "result.C_Initialize=0x191\n", 0},
                 {"finalising fails", "result.C_Finalize=0x5\n", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        modules.clear();
        Modules(1);
        modules[0]->SetScript(kSlowStart + c.script);
        ASSERT_EQ(manager->CheckCardInReader(0), 0u) << testing::PrintToString(status.lines);
        EXPECT_EQ(modules[0]->Count("calls.C_Finalize"), c.finalizeCalls);
        EXPECT_EQ(modules[0]->Count("loads"), modules[0]->Count("unloads"));
        // The module's last call is its C_Finalize, after the last session was closed.
        const std::string trace = modules[0]->Value("trace");
        EXPECT_EQ(trace.size() >= 11 && trace.substr(trace.size() - 11) == "C_Finalize,",
                  c.finalizeCalls == 1)
            << trace;
    }
}

}  // namespace
