// A working day with the system's OpenSC on the rig: many checks with one manager, two
// readers, and a card swapped between the check and the PIN. OpenSC keeps a PC/SC connection
// and its card for as long as it is started, and its slots name the readers they belong to.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "manager/TokenDetails.h"
#include "support/Command.h"
#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/OpenDescriptors.h"
#include "support/rig/VirtualCard.h"

namespace {

const char* kOpenSc = "opensc-pkcs11.so";
const std::string kWrongPin = "654321";

class WorkingDayTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        const std::string catalogue = ReadFile(LUMIDOR_SOURCE_CARDLIST);
        manager->InitCardList(catalogue.size(), catalogue.data());
    }
    // The check of the card in `card`'s reader, as the window starts it.
    uint32_t Check(const VirtualCard& card) {
        EXPECT_EQ(manager->UpdateReaders(), 0u);
        reader = manager->ReaderPosition(card.readerName());
        EXPECT_GE(reader, 0);
        return manager->CheckCardInReader(reader);
    }
    int Pw1Retries(const std::string& state) const {
        return ReadOpenPgpCardState(state).pw1Retries;
    }

    int reader = -1;
};

// Every check starts OpenSC and finalises it again: no PC/SC connection and no hold on the
// card is left behind, however many checks the window makes in a day.
TEST_F(WorkingDayTest, ManyChecksLeaveNoConnectionAndNoHoldOnTheCard) {
    VirtualCard card(0, OpenPgpCard{dir.path() + "/card"});
    ASSERT_EQ(Check(card), 0u) << testing::PrintToString(status.lines);
    const OpenDescriptors first = CountOpenDescriptors();
    constexpr int kChecks = 250;
    for (int i = 1; i < kChecks; ++i) {
        status.lines.clear();
        ASSERT_EQ(manager->CheckCardInReader(reader), 0u)
            << "check " << i + 1 << ": " << testing::PrintToString(status.lines);
    }
    const OpenDescriptors last = CountOpenDescriptors();
    EXPECT_EQ(last.sockets, first.sockets);
    EXPECT_EQ(last.all, first.all);
    EXPECT_EQ(TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label),
              "OpenPGP card (User PIN)");

    // Signing software that wants the card for itself gets it while the window stays open.
    const CommandRun exclusive =
        RunShell(std::string(LUMIDOR_EXCLUSIVE_CONNECT) + " '" + card.readerName() + "' 2>&1");
    EXPECT_EQ(exclusive.status, 0) << exclusive.output;
}

// OpenSC cannot read the card in the second reader; its only token is the first reader's
// card. The second reader's check fails, and its test presents no PIN to anybody.
TEST_F(WorkingDayTest, AnotherReadersTokenIsNeverTakenForAnUnreadableCard) {
    const std::string state = dir.path() + "/card";
    VirtualCard readable(0, OpenPgpCard{state});
    VirtualCard unreadable(1, "3B 02 14 50");
    const std::string catalogue = Catalogue({CardEntry("3B021450", kOpenSc)});
    manager->InitCardList(catalogue.size(), catalogue.data());

    EXPECT_EQ(Check(unreadable), static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT))
        << testing::PrintToString(status.lines);
    EXPECT_EQ(manager->GetTokenDetails().serialNumber, "");
    EXPECT_TRUE(manager->m_certificates.empty());

    status.lines.clear();
    EXPECT_EQ(manager->TestCard(reader, SecretString(kWrongPin)), 0x80100069u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kCardChangedLine});
    EXPECT_EQ(Pw1Retries(state), 3);

    const std::vector<LoggedRecord> log = FinishLog();
    int notTaken = 0;
    for (const LoggedRecord& record : log) {
        if (record.text.find("belongs to another reader: not taken for '" +
                             unreadable.readerName() + "'.") != std::string::npos) {
            ++notTaken;
        }
    }
    EXPECT_GT(notTaken, 0) << "OpenSC's slots of the first reader were looked at and refused";
}

// The card checked is taken out and another of the same make put in before the PIN is given:
// that card does not lose a try to a PIN meant for the first.
TEST_F(WorkingDayTest, ACardPutInAfterTheCheckGetsNoPin) {
    const std::string first = dir.path() + "/first";
    const std::string second = dir.path() + "/second";
    auto card = std::make_unique<VirtualCard>(0, OpenPgpCard{first});
    ASSERT_EQ(Check(*card), 0u) << testing::PrintToString(status.lines);
    card->Remove();
    card = std::make_unique<VirtualCard>(0, OpenPgpCard{second});

    status.lines.clear();
    EXPECT_EQ(manager->TestCard(reader, SecretString(kWrongPin)), 0x80100069u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kCardChangedLine});
    EXPECT_EQ(Pw1Retries(second), 3);
    EXPECT_EQ(Pw1Retries(first), 3);
}

// The console check, the card taken out (and another put in, or none) while it waits for the
// PIN line: the PIN goes to no card.
TEST_F(WorkingDayTest, ConsoleCheckGivesNoPinToACardChangedWhileItWaits) {
    const struct {
        const char* what;
        bool another;  // a card of the same make goes in
        int status;
        std::string line;
    } cases[] = {{"another card put in", true, 1, kCardChangedLine},
                 {"the card taken out", false, 4, "Nessuna smart card trovata"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string scratch = dir.path() + "/" + (c.another ? "swap" : "pull");
        const std::string first = scratch + "/first";
        const std::string second = scratch + "/second";
        auto card = std::make_unique<VirtualCard>(0, OpenPgpCard{first});
        const std::string work = scratch + "/check";
        std::filesystem::create_directories(work);
        const std::string go = scratch + "/go";
        const std::string output = scratch + "/output.txt";
        // The PIN line comes once the card has changed.
        CommandRun run;
        std::thread check([&] {
            run = RunShell("cd '" + work + "' && (while [ ! -e '" + go +
                           "' ]; do sleep 0.05; done; echo " + kWrongPin + ") | " +
                           LUMIDOR_CHECK_PROGRAM + " --test > '" + output + "' 2>&1");
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ReadFile(output).find(kOpenSc) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::string checked = ReadFile(output);
        card->Remove();
        card.reset();
        if (c.another) {
            card = std::make_unique<VirtualCard>(0, OpenPgpCard{second});
        }
        WriteFile(go, "");
        check.join();

        ASSERT_NE(checked.find(kOpenSc), std::string::npos) << checked;
        const std::string shown = ReadFile(output);
        EXPECT_EQ(run.status, c.status) << shown;
        EXPECT_NE(shown.find("\n  " + c.line + "\n"), std::string::npos) << shown;
        EXPECT_EQ(Pw1Retries(first), 3);
        if (c.another) {
            EXPECT_EQ(Pw1Retries(second), 3);
        }
    }
}

}  // namespace
