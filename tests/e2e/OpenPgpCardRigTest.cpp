// A real card stack on the rig: the project's virtual OpenPGP card in a virtual reader, the
// system's OpenSC module found through the product catalogue, and OpenSC's own pkcs11-tool as
// the reference for what the program must show.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "manager/TokenCertificates.h"
#include "manager/TokenDetails.h"
#include "platform/ModuleLoader.h"
#include "support/Command.h"
#include "support/ExpectedTexts.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/rig/VirtualCard.h"

namespace {

const char* kOpenSc = "opensc-pkcs11.so";
const std::string kRightPin = "123456";
const std::string kWrongPin = "654321";
// OpenSC's answer to the card's "PIN wrong" (69 82).
const std::string kWrongPinLine = "C_Login error 0x101";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The fields pkcs11-tool -L prints for the first slot, by name ("token label", "serial num").
std::map<std::string, std::string> FirstSlotAsPkcs11ToolShowsIt() {
    const std::string output = RunCommand(std::string("pkcs11-tool --module ") + kOpenSc + " -L");
    std::map<std::string, std::string> fields;
    const std::regex line(R"(\n  ([a-z /]+?) +: (.*))");
    const std::size_t second = output.find("\nSlot 1 ");
    const std::string first = output.substr(0, second);
    for (std::sregex_iterator it(first.begin(), first.end(), line), end; it != end; ++it) {
        fields[(*it)[1]] = (*it)[2];
    }
    return fields;
}

// The library version pkcs11-tool -I reports, as the window shows a version ("0.23.0.0").
std::string LibraryVersionAsPkcs11ToolShowsIt() {
    const std::string output = RunCommand(std::string("pkcs11-tool --module ") + kOpenSc + " -I");
    std::smatch match;
    if (!std::regex_search(output, match, std::regex(R"(\(ver ([0-9]+)\.([0-9]+)\))"))) {
        return "not found in: " + output;
    }
    return std::to_string(std::stoi(match[1])) + "." + std::to_string(std::stoi(match[2])) + ".0.0";
}

// The card in the first reader, checked with the product catalogue.
class OpenPgpCardTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        const std::string catalogue = ReadFile(LUMIDOR_SOURCE_CARDLIST);
        manager->InitCardList(catalogue.size(), catalogue.data());
        state = dir.path() + "/card";
        card = std::make_unique<VirtualCard>(0, OpenPgpCard{state});
    }
    void TearDown() override { card.reset(); }

    // The card check on the card's reader, as the window starts it.
    uint32_t Check() {
        EXPECT_EQ(manager->UpdateReaders(), 0u);
        reader = manager->ReaderPosition(card->readerName());
        EXPECT_GE(reader, 0);
        return manager->CheckCardInReader(reader);
    }
    // A signing test after a fresh check, with only its own lines kept.
    uint32_t Test(const std::string& pin) {
        EXPECT_EQ(Check(), 0u);
        status.lines.clear();
        return manager->TestCard(reader, SecretString(pin));
    }
    int Pw1Retries() const { return ReadOpenPgpCardState(state).pw1Retries; }

    std::string state;
    std::unique_ptr<VirtualCard> card;
    int reader = -1;
};

TEST_F(OpenPgpCardTest, CardCheckFindsOpenScThroughTheCatalogueAndReadsTheToken) {
    ASSERT_EQ(Check(), 0u) << testing::PrintToString(status.lines);
    EXPECT_EQ(manager->m_atr, "3BDA18FF81B1FE751F030031F573C001600090001C");
    EXPECT_EQ(manager->m_cardDrivers, kOpenSc);
    EXPECT_EQ(manager->m_driverInUse, kOpenSc);
    const std::filesystem::path path(manager->m_driverPath);
    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_EQ(path.filename(), kOpenSc);
    EXPECT_TRUE(
        std::filesystem::equivalent(path, std::filesystem::path(LUMIDOR_P11_MODULE_PATH) / kOpenSc))
        << path;
    EXPECT_EQ(manager->m_driverVersion, LibraryVersionAsPkcs11ToolShowsIt());

    // The token of the reader, as OpenSC's own tool shows it.
    std::map<std::string, std::string> shown = FirstSlotAsPkcs11ToolShowsIt();
    const TokenDetails details = manager->GetTokenDetails();
    EXPECT_EQ(details.label, shown["token label"]);
    EXPECT_EQ(details.label, "OpenPGP card (User PIN)");
    EXPECT_EQ(details.serialNumber, shown["serial num"]);
    EXPECT_EQ(details.serialNumber, "ffff" + Lower(ReadOpenPgpCardState(state).serial));
}

// OpenSC shows the cardholder certificate with the authentication key's id; the key pair's
// public half, readable without login, pairs them.
TEST_F(OpenPgpCardTest, CardCheckReadsTheCardholderCertificate) {
    ASSERT_EQ(Check(), 0u) << testing::PrintToString(status.lines);
    ASSERT_EQ(manager->m_certificates.size(), 1u);
    const TokenCertificate& certificate = manager->m_certificates[0];
    EXPECT_EQ(certificate.id, "03");
    EXPECT_TRUE(certificate.hasPrivateKey);
    EXPECT_EQ(certificate.content.state, CertificateState::Valid);
    EXPECT_EQ(certificate.content.subjectCommonName, "Titolare OpenPGP");
    EXPECT_EQ(certificate.content.issuerCommonName, "Titolare OpenPGP");
    EXPECT_EQ(certificate.content.keyUsage, "Firma digitale");
    // A valid certificate: nothing to warn of.
    EXPECT_EQ(status.lines.size(), 1u) << testing::PrintToString(status.lines);
}

TEST_F(OpenPgpCardTest, TokenInformationIsWhatOpenScReports) {
    ASSERT_EQ(Check(), 0u);
    std::map<std::string, std::string> shown = FirstSlotAsPkcs11ToolShowsIt();
    const TokenDetails details = manager->GetTokenDetails();
    EXPECT_EQ(details.manufacturerId, shown["token manufacturer"]);
    EXPECT_EQ(details.model, shown["token model"]);
    EXPECT_EQ(details.hardwareVersion, shown["hardware version"]);
    EXPECT_EQ(details.firmwareVersion, shown["firmware version"]);
    EXPECT_EQ(std::to_string(details.minPinLen) + "/" + std::to_string(details.maxPinLen),
              shown["pin min/max"]);
    EXPECT_EQ(shown["token flags"], "login required, rng, token initialized, PIN initialized");
    EXPECT_EQ(details.flags,
              CKF_LOGIN_REQUIRED | CKF_RNG | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED);
    EXPECT_EQ(details.flagsText, "0x0000040D");
}

// OpenSC shows the card as two tokens: the user PIN's (decryption and authentication keys,
// ids 02 and 03) and the signature PIN's (the signature key, id 01). Both are tested, with the
// PIN typed once.
TEST_F(OpenPgpCardTest, SignsWithTheSignatureAndAuthenticationKeysAndShowsTheDecryptionKey) {
    const long signaturesBefore = ReadOpenPgpCardState(state).signatureCounter;
    EXPECT_EQ(Test(kRightPin), 0u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{
                  "Trovate 3 chiavi private", "Chiavi del token 'OpenPGP card (User PIN)':",
                  "La credenziale '02' (Encryption key) non e' abilitata alla firma",
                  "La credenziale '03' (Authentication key) ha firmato correttamente",
                  "Chiavi del token 'OpenPGP card (User PIN (sig))':",
                  "La credenziale '01' (Signature key) ha firmato correttamente", kPassed}));
    EXPECT_EQ(Pw1Retries(), 3);
    // The signature key makes the card's one digital signature (PSO: COMPUTE DIGITAL
    // SIGNATURE); the authentication key signs with INTERNAL AUTHENTICATE, not counted.
    EXPECT_EQ(ReadOpenPgpCardState(state).signatureCounter, signaturesBefore + 1);
    // Read once the log has written every record.
    FinishLog();
    const std::string log = ReadFile(dir.path() + "/Lumidor.log");
    EXPECT_EQ(log.find(kRightPin), std::string::npos);
    // Both answers checked against the keys' public halves.
    EXPECT_NE(log.find("The signature of key '03' verifies with its public key."),
              std::string::npos);
    EXPECT_NE(log.find("The signature of key '01' verifies with its public key."),
              std::string::npos);
}

TEST_F(OpenPgpCardTest, EachWrongPinCostsOneTryAndTheFinalTryIsWarnedOf) {
    ASSERT_EQ(Pw1Retries(), 3);
    // OpenSC answers a wrong PIN as a missing login: the card's flags, read again, tell the
    // user what happened; the second wrong PIN leaves one try.
    EXPECT_EQ(Test(kWrongPin), 0x101u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{kWrongPinLine, kRefused, kFailed}));
    EXPECT_EQ(Pw1Retries(), 2);
    EXPECT_EQ(Test(kWrongPin), 0x101u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{kWrongPinLine, kRefused, kFinalTry, kFailed}));
    EXPECT_EQ(Pw1Retries(), 1);
    // The token's flags now say one try is left: the test warns before it logs in.
    EXPECT_EQ(Test(kRightPin), 0u);
    ASSERT_FALSE(status.lines.empty());
    EXPECT_EQ(status.lines.front(), kFinalTry);
    EXPECT_EQ(status.lines.back(), kPassed);
    EXPECT_EQ(Pw1Retries(), 3);
}

TEST_F(OpenPgpCardTest, ABlockedPinIsNeverPresented) {
    for (int retriesLeft : {2, 1, 0}) {
        EXPECT_NE(Test(kWrongPin), 0u);
        ASSERT_EQ(Pw1Retries(), retriesLeft);
    }
    // The same card taken out and put back: it is still blocked.
    card.reset();
    card = std::make_unique<VirtualCard>(0, OpenPgpCard{state});

    EXPECT_EQ(Test(kRightPin), static_cast<uint32_t>(CKR_PIN_LOCKED));
    EXPECT_EQ(status.lines, (std::vector<std::string>{"* PIN LOCKED *", kFailed}));
    EXPECT_EQ(Pw1Retries(), 0);
    auto records =
        RecordsWithText(FinishLog(), "The token reports its user PIN locked: no login is tried.");
    EXPECT_EQ(records.size(), 1u);
}

// lumidor-check in a directory of its own, the product catalogue beside it for a build that
// reads it from there, with `input` as its standard input.
CommandRun RunCheck(const std::string& directory, const std::string& arguments,
                    const std::string& input) {
    const std::string work = directory + "/check";
    std::filesystem::create_directories(work);
    WriteFile(work + "/cardlist.json", ReadFile(LUMIDOR_SOURCE_CARDLIST));
    WriteFile(directory + "/input.txt", input);
    return RunShell("cd '" + work + "' && " + LUMIDOR_CHECK_PROGRAM " " + arguments + " < '" +
                    directory + "/input.txt'");
}

TEST_F(OpenPgpCardTest, ConsoleCheckAndTestPass) {
    CommandRun check = RunCheck(dir.path(), "", "");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find(kOpenSc), std::string::npos) << check.output;

    CommandRun test = RunCheck(dir.path(), "--test", kRightPin + "\n");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("\n  La credenziale '01' (Signature key) ha firmato "
                               "correttamente\n  " +
                               kPassed + "\n"),
              std::string::npos)
        << test.output;
    EXPECT_EQ(test.output.find(kRightPin), std::string::npos);
}

}  // namespace
