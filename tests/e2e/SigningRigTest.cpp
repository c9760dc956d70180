// The signing test on the rig's real pcscd: with the scriptable test module, with SoftHSM 2,
// and through the console check as a process.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/Certificate.h"
#include "support/Command.h"
#include "support/CountOccurrences.h"
#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/SoftHsm.h"
#include "support/TestCertificates.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

const char* kAtr = "3B 02 14 50";

// The card check that a signing test follows, with a catalogue that names `drivers` for the
// rig's ATR-only card; its status lines are left out.
void CheckCard(CSmartCardManager& manager, MemoryMessageList& status, int reader,
               const std::string& drivers) {
    const std::string catalogue = Catalogue({CardEntry("3B021450", drivers)});
    manager.InitCardList(catalogue.size(), catalogue.data());
    ASSERT_EQ(manager.CheckCardInReader(reader), 0u) << testing::PrintToString(status.lines);
    status.lines.clear();
}

TEST_F(ManagerTest, TestsTheTokenOfTheCardsReaderAndStopsWhenTheCardIsGone) {
    ScriptedModule module(dir.path(), "mod.so");
    module.SetScript(
        "pin=2468\nkey=Firma|K1|0|0\nslot=1|1|Virtual PCD 00 00|Other\n"
        "slot=2|1|Virtual PCD 00 01|Mine\n");
    VirtualCard card(1, kAtr);
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    const int reader = manager->ReaderPosition(card.readerName());
    ASSERT_GE(reader, 0);
    CheckCard(*manager, status, reader, "./mod.so");
    module.ResetCounters();

    EXPECT_EQ(manager->TestCard(reader, SecretString("2468")), 0u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{
                                "Trovata 1 chiave privata",
                                "La credenziale 'K1' (Firma) ha firmato correttamente", kPassed}));
    EXPECT_EQ(manager->m_slotId, 2u);

    card.Remove();
    status.lines.clear();
    EXPECT_EQ(manager->TestCard(reader, SecretString("2468")), 0x8010000Cu);
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
    const int reader = manager->ReaderPosition(card->readerName());
    ASSERT_GE(reader, 0);
    CheckCard(*manager, status, reader, SoftHsmToken::kModule);

    EXPECT_EQ(manager->TestCard(reader, SecretString(kRightPin)), 0u);
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
    const std::string log = LogText();
    EXPECT_EQ(log.find(kRightPin), std::string::npos);
    // SoftHSM's key pairs keep their public halves beside them.
    EXPECT_EQ(CountOccurrences(log, "verifies with its public key."), 2u);
}

TEST_F(SoftHsmSigningTest, AWrongPinIsReportedAndNeverLogged) {
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    const int reader = manager->ReaderPosition(card->readerName());
    CheckCard(*manager, status, reader, SoftHsmToken::kModule);

    EXPECT_NE(manager->TestCard(reader, SecretString(kWrongPin)), 0u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{"* PIN INCORRECT *", kRefused, kCountLow, kFailed}));
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
    EXPECT_NE(refused.output.find("\n  * PIN INCORRECT *\n  " + kRefused + "\n  " + kCountLow +
                                  "\n  " + kFailed + "\n"),
              std::string::npos)
        << refused.output;

    const std::string log = ReadFile(dir.path() + "/check/Lumidor.log");
    EXPECT_NE(log.find("Card tested."), std::string::npos);
    for (const char* pin : {kRightPin, kWrongPin}) {
        EXPECT_EQ(log.find(pin), std::string::npos) << pin;
        EXPECT_EQ(passed.output.find(pin), std::string::npos) << pin;
        EXPECT_EQ(refused.output.find(pin), std::string::npos) << pin;
    }
}

// A SoftHSM token with the test certificate set: each certificate with its private key, the
// public half beside some of them, and one certificate without a key.
class SoftHsmCertificatesTest : public SoftHsmSigningTest {
protected:
    void SetUp() override {
        SoftHsmSigningTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        certificates = std::make_unique<TestCertificates>(dir.path() + "/certificates");
        using Type = SoftHsmToken::ObjectType;
        // "valid" and "ec" without their public halves: their signatures verify with the
        // certificate.
        for (const char* name : {"valid", "expired", "expiring", "notyet", "ec"}) {
            const TestCertificate& c = certificates->Get(name);
            token->Import(Type::kPrivateKey, c.privateKeyPem, c.idHex, name);
            if (std::string(name) != "valid" && std::string(name) != "ec") {
                token->Import(Type::kPublicKey, c.publicKeyPem, c.idHex, name);
            }
        }
        for (const TestCertificate& c : certificates->all()) {
            token->Import(Type::kCertificate, c.certificateDer, c.idHex, c.name);
        }
    }
    const TokenCertificate& Read(const std::string& label) const {
        for (const TokenCertificate& certificate : manager->m_certificates) {
            if (certificate.label == label) {
                return certificate;
            }
        }
        throw std::out_of_range(label);
    }
    std::string Warning(const std::string& name) const {
        const TestCertificate& c = certificates->Get(name);
        if (name == "expired")
            return "Attenzione: il certificato '" + c.commonName + "' e' scaduto il " +
                   LocalDate(c.validUntil);
        if (name == "expiring")
            return "Attenzione: il certificato '" + c.commonName + "' scade il " +
                   LocalDate(c.validUntil);
        return "Attenzione: il certificato '" + c.commonName + "' sara' valido dal " +
               LocalDate(c.validFrom);
    }

    std::unique_ptr<TestCertificates> certificates;
};

TEST_F(SoftHsmCertificatesTest, CheckWarnsAndTestVerifiesEverySignature) {
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    const int reader = manager->ReaderPosition(card->readerName());
    ASSERT_GE(reader, 0);
    CheckCard(*manager, status, reader, SoftHsmToken::kModule);

    ASSERT_EQ(manager->CheckDriver(0), 0u) << testing::PrintToString(status.lines);
    // In the token's order, which is SoftHSM's own.
    std::vector<std::string> warnings(status.lines.begin() + 1, status.lines.end());
    std::vector<std::string> expected = {Warning("expired"), Warning("expiring"),
                                         Warning("notyet")};
    std::sort(warnings.begin(), warnings.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(warnings, expected);
    ASSERT_EQ(manager->m_certificates.size(), 9u);
    EXPECT_EQ(Read("valid").content.subjectCommonName, certificates->Get("valid").commonName);
    EXPECT_EQ(Read("ec").content.state, CertificateState::Valid);
    EXPECT_EQ(Read("expired").content.state, CertificateState::Expired);
    EXPECT_EQ(Read("notyet").content.state, CertificateState::NotYetValid);
    EXPECT_TRUE(Read("expired").hasPrivateKey);
    EXPECT_FALSE(Read("nokey").hasPrivateKey);
    // SoftHSM hides private keys until login, and "valid" has no public half to stand in.
    EXPECT_FALSE(Read("valid").hasPrivateKey);

    status.lines.clear();
    EXPECT_EQ(manager->TestCard(reader, SecretString(kRightPin)), 0u);
    // The fixture's two key pairs and the five imported keys.
    ASSERT_EQ(status.lines.size(), 9u) << testing::PrintToString(status.lines);
    EXPECT_EQ(status.lines.front(), "Trovate 7 chiavi private");
    EXPECT_EQ(status.lines.back(), kPassed);
    // Logged in, the test sees the private keys themselves.
    ASSERT_EQ(manager->m_certificates.size(), 9u);
    EXPECT_TRUE(Read("valid").hasPrivateKey);
    EXPECT_FALSE(Read("nokey").hasPrivateKey);

    const std::string log = LogText();
    EXPECT_EQ(CountOccurrences(log, "verifies with its public key."), 5u);
    EXPECT_EQ(CountOccurrences(log, "verifies with its certificate."), 2u);
}

TEST_F(SoftHsmCertificatesTest, ConsoleCheckShowsTheCertificatesAndTheirWarnings) {
    CommandRun run = RunCheck(dir.path(), kRightPin);
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* name : {"expired", "expiring", "notyet"}) {
        EXPECT_NE(run.output.find("\n  " + Warning(name) + "\n"), std::string::npos) << name;
    }
    const std::size_t section = run.output.find("\nCertificati:\n");
    ASSERT_NE(section, std::string::npos) << run.output;
    for (const TestCertificate& c : certificates->all()) {
        EXPECT_NE(run.output.find("\n  " + c.commonName + "\n", section), std::string::npos)
            << c.name;
    }
    EXPECT_NE(run.output.find("   Stato           scaduto\n", section), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\n  Trovate 7 chiavi private\n"), std::string::npos);
}

}  // namespace
