// The module call in progress, as the busy window reads it while a driver does not answer.
//
// A hung call never returns, so the thread that made it can be neither joined nor stopped.
// Each case therefore runs in a child process of its own (a death test in the "threadsafe"
// style, which starts the test program afresh, so that the child has no other threads):
// the child runs the operation on a thread, waits until the module has counted the call,
// writes what PendingModuleCall() names and ends with the thread still hanging. The test
// program itself never holds a stuck thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/MessageList.h"
#include "manager/PendingCall.h"
#include "manager/SmartCardManager.h"
#include "support/FixtureCatalogues.h"
#include "support/TempDir.h"
#include "support/rig/FakePcsc.h"
#include "testmodule/ScriptedModule.h"

namespace {

enum class Operation { DriverCheck, SigningTest };

struct HangCase {
    const char* what;
    Operation operation;
    std::string script;
    std::string counter;   // what the module counts once the call has begun
    std::string call;      // what the busy window must name
    std::string starting;  // the module being started, "nothing" when it has started
};

void PrintTo(const HangCase& c, std::ostream* out) {
    *out << c.what;
}

// Starts the operation on a thread of its own and returns what is pending once the module
// has counted the call ("<call>, starting <module file>"), with "nothing" for what is not.
// What the hanging thread uses is never freed: the process ends with it.
std::string PendingCallOfAHungOperation(const HangCase& c) {
    TempDir dir;
    ScriptedModule module(dir.path(), "hanging.so");
    module.SetScript("key=Firma|K1|0|0\n" + c.script);
    auto* pcsc = new FakePcsc;
    pcsc->readers = {"Reader A"};
    pcsc->states["Reader A"] = SCARD_STATE_PRESENT;
    pcsc->atrs["Reader A"] = {0x3B, 0x02, 0x14, 0x50};
    auto* manager = new CSmartCardManager;
    manager->m_statusList = new MemoryMessageList;
    manager->UpdateReaders();
    if (c.operation != Operation::DriverCheck) {
        // The signing test follows a check of the card, which calls neither C_Login nor C_Sign.
        const std::string catalogue = Catalogue({CardEntry("3B021450", module.path())});
        manager->InitCardList(catalogue.size(), catalogue.data());
        manager->CheckCardInReader(0);
    }

    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::thread([manager, ended, operation = c.operation, path = module.path()] {
        if (operation == Operation::DriverCheck) {
            manager->DriverTest(path, "Reader A");
        } else {
            manager->TestCard(0, SecretString("735911"));
        }
        ended->store(true);
    }).detach();
    while (module.Count(c.counter) == 0 && !ended->load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const char* pending = PendingModuleCall();
    const std::string starting = StartingModule().name;
    return std::string(pending != nullptr ? pending : "nothing") + ", starting " +
           (starting.empty() ? "nothing" : std::filesystem::path(starting).filename().string());
}

class PendingCallTest : public ::testing::TestWithParam<HangCase> {};

TEST_P(PendingCallTest, AHangingCallIsNamed) {
    const HangCase& c = GetParam();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::fprintf(stderr, "pending call: %s\n", PendingCallOfAHungOperation(c).c_str());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "pending call: " + c.call + ", starting " + c.starting + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PendingCallTest,
    ::testing::Values(HangCase{"ModuleLoad", Operation::DriverCheck, "hang_at_load=1\n", "loads",
                               "LoadModule", "hanging.so"},
                      HangCase{"EntryPoint", Operation::DriverCheck, "hang=C_GetFunctionList\n",
                               "calls.C_GetFunctionList", "C_GetFunctionList", "hanging.so"},
                      HangCase{"Initialize", Operation::DriverCheck, "hang=C_Initialize\n",
                               "calls.C_Initialize", "C_Initialize", "hanging.so"},
                      HangCase{"TokenInformation", Operation::DriverCheck, "hang=C_GetTokenInfo\n",
                               "calls.C_GetTokenInfo", "C_GetTokenInfo", "nothing"},
                      HangCase{"VersionRead", Operation::DriverCheck, "hang=C_GetInfo\n",
                               "calls.C_GetInfo", "C_GetInfo", "nothing"},
                      HangCase{"Login", Operation::SigningTest, "hang=C_Login\n", "calls.C_Login",
                               "C_Login", "nothing"},
                      HangCase{"Signature", Operation::SigningTest, "hang=C_Sign\n", "calls.C_Sign",
                               "C_Sign", "nothing"}),
    [](const ::testing::TestParamInfo<HangCase>& info) { return info.param.what; });

}  // namespace
