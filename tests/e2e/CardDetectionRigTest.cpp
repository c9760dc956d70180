// The card check end to end on the rig: the rig's pcscd, the virtual card in a virtual
// reader, fixture catalogues naming copies of the test module, and SoftHSM behind the
// console check.

#include <gtest/gtest.h>

#include <cstdio>

#include "support/Command.h"
#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/ManagerFixture.h"
#include "support/SoftHsm.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kAtr = "3B8E80018031806549544E5850120FFF8290F0";

// What the window shows after a check.
struct Shown {
    std::string atr, readerName, cardDrivers;
    std::vector<std::string> drivers;
    std::string driverInUse, driverPath, driverVersion;
};

bool operator==(const Shown& a, const Shown& b) {
    return a.atr == b.atr && a.readerName == b.readerName && a.cardDrivers == b.cardDrivers &&
           a.drivers == b.drivers && a.driverInUse == b.driverInUse &&
           a.driverPath == b.driverPath && a.driverVersion == b.driverVersion;
}

void PrintTo(const Shown& s, std::ostream* out) {
    *out << "{atr " << s.atr << ", reader " << s.readerName << ", card drivers " << s.cardDrivers
         << ", drivers " << testing::PrintToString(s.drivers) << ", in use " << s.driverInUse
         << ", path " << s.driverPath << ", version " << s.driverVersion << "}";
}

Shown ShownBy(const CSmartCardManager& manager) {
    return {manager.m_atr,         manager.m_readerName, manager.m_cardDrivers,  manager.m_drivers,
            manager.m_driverInUse, manager.m_driverPath, manager.m_driverVersion};
}

TEST_F(ManagerTest, CardCheckOutcomesOnTheRig) {
    ScriptedModule first(dir.path(), "first.so");
    ScriptedModule second(dir.path(), "second.so");
    first.SetScript("token.serial=7420051234567890\n");
    second.SetScript("info.version=3.7\ntoken.label=Chosen by serial\n");
    const std::string drivers = first.path() + "," + second.path();
    const std::string missing = dir.path() + "/missing1.so," + dir.path() + "/missing2.so";
    // The serial that the first module's trial reads chooses the second module.
    const std::string working =
        Catalogue({CardEntry(kAtr, drivers, "{'serial':{'742005':'" + second.path() + "'}}")});

    VirtualCard card(1, kAtr);
    manager->UpdateReaders();
    const int withCard = manager->ReaderPosition(card.readerName());
    const int empty = manager->ReaderPosition(RigReaderName(0));
    ASSERT_GE(withCard, 0);
    ASSERT_GE(empty, 0);
    const Shown success{kAtr,          card.readerName(), drivers,  {first.path(), second.path()},
                        second.path(), second.path(),     "3.7.0.0"};

    struct Case {
        const char* what;
        std::string catalogue;
        int reader;
        uint32_t result;
        std::vector<std::string> lines;
        Shown shown;
    };
    const Case cases[] = {
        {"Working",
         working,
         withCard,
         0,
         {LoadedLine(first.path()), LoadedLine(second.path()), FilterLine(second.path())},
         success},
        {"NoCard",
         working,
         empty,
         kNoSmartCard,
         {"Nessuna smart card trovata"},
         {"", "", "", {}, "", "", ""}},
        {"UnknownCard",
         Catalogue({CardEntry("3B021450", drivers)}),
         withCard,
         kUnknownCard,
         {std::string("Smart card '") + kAtr + "' non riconosciuta"},
         {kAtr, card.readerName(), "", {}, "", "", ""}},
        {"NoModuleLoads",
         Catalogue({CardEntry(kAtr, missing)}),
         withCard,
         CKR_TOKEN_NOT_PRESENT,
         {LoadFailedLine(dir.path() + "/missing1.so", kModuleNotFound),
          LoadFailedLine(dir.path() + "/missing2.so", kModuleNotFound)},
         {kAtr, card.readerName(), missing, {}, "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // An earlier success must leave nothing behind.
        manager->InitCardList(working.size(), working.data());
        ASSERT_EQ(manager->CheckCardInReader(withCard), 0u);
        ASSERT_EQ(ShownBy(*manager), success);
        status.lines.clear();

        manager->InitCardList(c.catalogue.size(), c.catalogue.data());
        EXPECT_EQ(manager->CheckCardInReader(c.reader), c.result);
        // What the system's ATR list and modules add after an unknown card's own line depends
        // on the machine; the unknown-card tests check it with a system of their own.
        std::vector<std::string> lines = status.lines;
        if (c.result == kUnknownCard && lines.size() > c.lines.size()) {
            lines.resize(c.lines.size());
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(ShownBy(*manager), c.shown);
    }
    // The token information is the chosen module's.
    manager->InitCardList(working.size(), working.data());
    ASSERT_EQ(manager->CheckCardInReader(withCard), 0u);
    EXPECT_EQ(manager->GetTokenDetails().label, "Chosen by serial");
}

TEST(ConsoleCheck, PrintsTheSoftHsmTokenOfTheCardAndSucceeds) {
    if (!SoftHsmToken::Installed()) {
        GTEST_SKIP() << "SoftHSM 2 is not installed";
    }
    TempDir dir;
    SoftHsmToken token(dir.path(), "Lumidor E2E");
    WriteFile(dir.path() + "/cardlist.json", Catalogue({CardEntry(kAtr, SoftHsmToken::kModule)}));
    VirtualCard card(0, kAtr);

    const CommandRun run = RunShell(LUMIDOR_CHECK_PROGRAM);
    const std::string& output = run.output;
    EXPECT_EQ(run.status, 0) << output;
    EXPECT_NE(output.find("\nEtichetta token    Lumidor E2E\n"), std::string::npos) << output;
    EXPECT_NE(output.find("\nNumero seriale     " + token.serial() + "\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find(std::string("\nATR carta          ") + kAtr + "\n"), std::string::npos)
        << output;
}

}  // namespace
