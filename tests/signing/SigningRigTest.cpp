// The signing test on the rig's real pcscd: with the scriptable test module, with SoftHSM 2,
// and through the console check as a process.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "modules/ModuleTestSupport.h"
#include "support/Command.h"
#include "support/SoftHsm.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

const char* kAtr = "3B 02 14 50";
const std::string kPassed = "Smart card testata con successo";
const std::string kFailed = "Errore durante l'esecuzione del test della smart card";

int ReaderPosition(const CSmartCardManager& manager, const std::string& name) {
    for (uint32_t i = 0; i < manager.m_readerCount; ++i) {
        if (name == manager.m_readers[i].szReader) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST_F(ManagerTest, TestsTheTokenOfTheCardsReaderAndStopsWhenTheCardIsGone) {
    ScriptedModule module(dir.path(), "mod.so");
    module.SetScript(
        "pin=2468\nkey=Firma|K1|0|0\nslot=1|1|Virtual PCD 00 00|Other\n"
        "slot=2|1|Virtual PCD 00 01|Mine\n");
    manager->m_driverInUse = "./mod.so";
    VirtualCard card(1, kAtr);
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    const int reader = ReaderPosition(*manager, card.readerName());
    ASSERT_GE(reader, 0);

    EXPECT_EQ(manager->TestCard(reader, "2468"), 0u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{
                                "Trovata 1 chiave privata",
                                "La credenziale 'K1' (Firma) ha firmato correttamente", kPassed}));
    EXPECT_EQ(manager->m_slotId, 2u);

    card.Remove();
    status.lines.clear();
    EXPECT_EQ(manager->TestCard(reader, "2468"), 0x8010000Cu);
    EXPECT_EQ(status.lines, std::vector<std::string>{"Nessuna smart card trovata"});
    EXPECT_EQ(module.Count("loads"), 1) << "no module is loaded for a reader without card";
    EXPECT_EQ(RecordsWithText(FinishLog(), "No card found.").size(), 1u);
}

constexpr const char* kRightPin = "123456";  // SoftHsmToken's user PIN
constexpr const char* kWrongPin = "970135";

// A SoftHSM token with an RSA 2048 key and an EC P-256 key, and a card in the first reader.
class SoftHsmSigningTest : public ManagerTest {
protected:
    void SetUp() override {
        if (!SoftHsmToken::Installed()) {
            GTEST_SKIP() << "SoftHSM 2 is not installed";
        }
        ManagerTest::SetUp();
        token = std::make_unique<SoftHsmToken>(dir.path(), "Lumidor");
        for (const char* key : {"--key-type rsa:2048 --id 4b31 --label 'Firma RSA'",
                                "--key-type EC:prime256v1 --id 4b32 --label 'Firma EC'"}) {
            std::string output =
                RunCommand(std::string("pkcs11-tool --module ") + SoftHsmToken::kModule +
                           " --login --pin " + kRightPin + " --keypairgen " + key);
            ASSERT_NE(output.find("Key pair generated"), std::string::npos) << output;
        }
        card = std::make_unique<VirtualCard>(0, kAtr);
    }
    void TearDown() override {
        card.reset();
        token.reset();
    }
    // The whole log of the run, the manager gone.
    std::string LogText() {
        FinishLog();
        return ReadFile(dir.path() + "/Lumidor.log");
    }

    std::unique_ptr<SoftHsmToken> token;
    std::unique_ptr<VirtualCard> card;
};

TEST_F(SoftHsmSigningTest, BothKeysSignWithTheRightPin) {
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    const int reader = ReaderPosition(*manager, card->readerName());
    ASSERT_GE(reader, 0);
    manager->m_driverInUse = SoftHsmToken::kModule;

    EXPECT_EQ(manager->TestCard(reader, kRightPin), 0u);
    ASSERT_EQ(status.lines.size(), 4u) << testing::PrintToString(status.lines);
    EXPECT_EQ(status.lines[0], "Trovate 2 chiavi private");
    // The module's order of the keys is its own.
    std::vector<std::string> keyLines(status.lines.begin() + 1, status.lines.begin() + 3);
    std::sort(keyLines.begin(), keyLines.end());
    EXPECT_EQ(keyLines, (std::vector<std::string>{
                            "La credenziale 'K1' (Firma RSA) ha firmato correttamente",
                            "La credenziale 'K2' (Firma EC) ha firmato correttamente"}));
    EXPECT_EQ(status.lines[3], kPassed);
    EXPECT_EQ(manager->m_slotId, token->slot());
    EXPECT_EQ(LogText().find(kRightPin), std::string::npos);
}

TEST_F(SoftHsmSigningTest, AWrongPinIsReportedAndNeverLogged) {
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    manager->m_driverInUse = SoftHsmToken::kModule;

    EXPECT_NE(manager->TestCard(ReaderPosition(*manager, card->readerName()), kWrongPin), 0u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{"* PIN INCORRECT *", kFailed}));
    const std::string log = LogText();
    EXPECT_NE(log.find("* PIN INCORRECT *"), std::string::npos);
    EXPECT_EQ(log.find(kWrongPin), std::string::npos);
}

// lumidor-check-file-catalogue --test in a directory of its own, with the PIN as the one
// line of its standard input and a catalogue that names SoftHSM for the card.
CommandRun RunCheck(const std::string& directory, const std::string& pin) {
    const std::string work = directory + "/check";
    std::filesystem::create_directories(work);
    WriteFile(work + "/cardlist.json",
              std::string(R"({"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": "3B021450",)"
                          R"( "drivers": ")") +
                  SoftHsmToken::kModule +
                  R"(", "askpin": "true", "tryreusedriver": "true", "comment": "test"}]})");
    WriteFile(directory + "/pin.txt", pin + "\n");
    return RunShell("cd '" + work + "' && " LUMIDOR_CHECK_PROGRAM " --test < '" + directory +
                    "/pin.txt'");
}

TEST_F(SoftHsmSigningTest, ConsoleCheckTestsWithThePinFromStandardInput) {
    CommandRun passed = RunCheck(dir.path(), kRightPin);
    EXPECT_EQ(passed.status, 0) << passed.output;
    EXPECT_NE(passed.output.find("\n  Trovate 2 chiavi private\n"), std::string::npos)
        << passed.output;
    EXPECT_NE(passed.output.find("\n  " + kPassed + "\n"), std::string::npos);

    CommandRun refused = RunCheck(dir.path(), kWrongPin);
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("\n  * PIN INCORRECT *\n  " + kFailed + "\n"), std::string::npos)
        << refused.output;

    const std::string log = ReadFile(dir.path() + "/check/Lumidor.log");
    EXPECT_NE(log.find("Card tested."), std::string::npos);
    for (const char* pin : {kRightPin, kWrongPin}) {
        EXPECT_EQ(log.find(pin), std::string::npos) << pin;
        EXPECT_EQ(passed.output.find(pin), std::string::npos) << pin;
        EXPECT_EQ(refused.output.find(pin), std::string::npos) << pin;
    }
}

}  // namespace
