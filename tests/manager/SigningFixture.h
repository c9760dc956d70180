#pragma once

// The signing test's fixture with the scriptable test module behind a scripted PC/SC
// service.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/ManagerFixture.h"
#include "support/rig/FakePcsc.h"
#include "testmodule/ScriptedModule.h"

inline const std::string kPin = "735911";

// One reader with a card, the test module as the driver in use.
class SigningTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        pcsc.readers = {"Reader A"};
        pcsc.states["Reader A"] = SCARD_STATE_PRESENT;
        pcsc.atrs["Reader A"] = {0x3B, 0x02, 0x14, 0x50};
        ASSERT_EQ(manager->UpdateReaders(), 0u);
        module = std::make_unique<ScriptedModule>(dir.path(), "mod.so");
        // The test follows a check of the card, which finds the module through the catalogue;
        // the test's own script takes effect at the module's next load.
        const std::string catalogue = Catalogue({CardEntry("3B021450", "./mod.so")});
        manager->InitCardList(catalogue.size(), catalogue.data());
        ASSERT_EQ(manager->CheckCardInReader(0), 0u) << testing::PrintToString(status.lines);
        ASSERT_EQ(manager->m_driverInUse, "./mod.so");
        module->ResetCounters();
        status.lines.clear();
    }
    uint32_t Run(const std::string& script, const std::string& pin = kPin) {
        module->SetScript(script);
        return manager->TestCard(0, SecretString(pin));
    }
    // The whole log once the manager has stopped it.
    std::string LogText() {
        FinishLog();
        return ReadFile(dir.path() + "/Lumidor.log");
    }
    // Everything the test took is given back.
    void ExpectAllReleased() const {
        EXPECT_EQ(module->Count("loads"), module->Count("unloads"));
        EXPECT_EQ(module->Count("sessions.open"), 0);
        EXPECT_EQ(pcsc.OpenContexts(), 0);
    }

    FakePcsc pcsc;
    std::unique_ptr<ScriptedModule> module;
};
