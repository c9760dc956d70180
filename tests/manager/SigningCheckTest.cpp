// TestCard and CardTest with the scriptable test module behind a scripted PC/SC service.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SigningFixture.h"
#include "manager/TokenDetails.h"
#include "support/ExpectedTexts.h"

namespace {

const std::string kDriverFailure =
    "Errore durante l'utilizzo del driver (./mod.so) sulla funzione ";
// The test module's default token flags, and the three PIN states.
constexpr unsigned long kFlags =
    CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED;

std::string Flags(unsigned long extra) {
    return "token.flags=" + std::to_string(kFlags | extra) + "\n";
}

struct LinesCase {
    const char* what;
    std::string script;
    std::string pin;
    uint32_t result;
    std::vector<std::string> lines;
    long logins;  // C_Login calls the module saw
};

void PrintTo(const LinesCase& c, std::ostream* out) {
    *out << c.what;
}

class SigningLinesTest : public SigningTest, public ::testing::WithParamInterface<LinesCase> {};

TEST_P(SigningLinesTest, ShowsOneLinePerOutcomeAndTheVerdict) {
    const LinesCase& c = GetParam();
    EXPECT_EQ(Run("pin=" + kPin + "\n" + c.script, c.pin), c.result);
    EXPECT_EQ(status.lines, c.lines);
    EXPECT_EQ(module->Count("calls.C_Login"), c.logins);
    ExpectAllReleased();
    // The PIN reaches neither the message list nor the log.
    for (const std::string& line : status.lines) {
        EXPECT_EQ(line.find(kPin), std::string::npos) << line;
    }
    EXPECT_EQ(LogText().find(kPin), std::string::npos);
}

const std::string kLabel64(64, 'L');

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SigningLinesTest,
    ::testing::Values(
        LinesCase{
            "TwoKeysSignWithLabels",
            "key=Firma|K1|0|0\nkey=Cifra|K2|0|0\n",
            kPin,
            0,
            {"Trovate 2 chiavi private", "La credenziale 'K1' (Firma) ha firmato correttamente",
             "La credenziale 'K2' (Cifra) ha firmato correttamente", kPassed},
            1},
        LinesCase{"WrongPin",
                  "key=Firma|K1|0|0\n",
                  "111111",
                  0xA0,
                  {"* PIN INCORRECT *", kRefused, kFailed},
                  1},
        // What the card did, told by its flags read again, not only the module's code.
        LinesCase{"WrongPinAnsweredAsNotLoggedIn",
                  "pin_tries=3\nwrong_pin_result=0x101\nkey=Firma|K1|0|0\n",
                  "111111",
                  0x101,
                  {"C_Login error 0x101", kRefused, kCountLow, kFailed},
                  1},
        LinesCase{"WrongPinAnsweredAsGeneralErrorMovesTheFlags",
                  "pin_tries=2\nwrong_pin_result=0x5\nkey=Firma|K1|0|0\n",
                  "111111",
                  5,
                  {"C_Login error 0x5", kRefused, kFinalTry, kFailed},
                  1},
        LinesCase{"GeneralErrorThatMovesNoFlagIsNoRefusedPin",
                  "result.C_Login=0x5\nkey=Firma|K1|0|0\n",
                  "111111",
                  5,
                  {"C_Login error 0x5", kFailed},
                  1},
        LinesCase{"TheLastWrongPinLocks",
                  "pin_tries=1\nkey=Firma|K1|0|0\n",
                  "111111",
                  0xA0,
                  {kFinalTry, "* PIN INCORRECT *", kRefused, kLocked, kFailed},
                  1},
        LinesCase{
            "OneKeyFailingTwiceWithoutLabel",
            "key=|K1|0|0\nresult.C_Sign=6\n",
            kPin,
            6,
            {"Trovata 1 chiave privata", "Errore '0x06' durante la firma con la credenziale 'K1'",
             "(la carta non e' attiva)", kFailed},
            1},
        LinesCase{"AlreadyLoggedInCountsAsLoggedIn",
                  "logged_in=1\nkey=Firma|K1|0|0\n",
                  kPin,
                  0,
                  {"Trovata 1 chiave privata",
                   "La credenziale 'K1' (Firma) ha firmato correttamente", kPassed},
                  1},
        LinesCase{"PinLengthRangeFromTheModule",
                  "key=Firma|K1|0|0\nresult.C_Login=0xA2\n",
                  kPin,
                  0xA2,
                  {"C_Login error 0xA2", kFailed},
                  1},
        LinesCase{"PinOf65BytesRefusedBeforeLogin",
                  "key=Firma|K1|0|0\n",
                  std::string(65, '7'),
                  0xA2,
                  {"C_Login error 0xA2", kFailed},
                  0},
        LinesCase{"PinExpired",
                  "key=Firma|K1|0|0\nresult.C_Login=0xA3\n",
                  kPin,
                  0xA3,
                  {"* PIN EXPIRED *", kFailed},
                  1},
        LinesCase{"LockedPinIsNotTried",
                  Flags(CKF_USER_PIN_LOCKED) + "key=Firma|K1|0|0\n",
                  kPin,
                  0xA4,
                  {"* PIN LOCKED *", kFailed},
                  0},
        LinesCase{"FinalTryWarnsBeforeTheLogin",
                  Flags(CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW) + "key=Firma|K1|0|0\n",
                  kPin,
                  0,
                  {kFinalTry, "Trovata 1 chiave privata",
                   "La credenziale 'K1' (Firma) ha firmato correttamente", kPassed},
                  1},
        LinesCase{"CountLowWarns",
                  Flags(CKF_USER_PIN_COUNT_LOW) + "key=Firma|K1|0|0\n",
                  "111111",
                  0xA0,
                  {kCountLow, "* PIN INCORRECT *", kRefused, kFailed},
                  1},
        LinesCase{"SignInitFailureOnTheFirstKeyEndsTheTest",
                  "key=A|K1|0|0\nkey=B|K2|0|0\nresult.C_SignInit@1=0x63\n",
                  kPin,
                  0x63,
                  {"Trovate 2 chiavi private",
                   "La credenziale 'K1' ha generato l'errore 'C_SignInit': 0x00000063", kFailed},
                  1},
        LinesCase{"RetryAfterFunctionFailedSigns",
                  "key=A|K1|0|0\nresult.C_Sign@1=6\n",
                  kPin,
                  0,
                  {"Trovata 1 chiave privata", "La credenziale 'K1' (A) ha firmato correttamente",
                   kPassed},
                  1},
        LinesCase{
            "FirstFailsSecondSigns",
            "key=A|K1|0|0|0x5\nkey=B|K2|0|0\n",
            kPin,
            0,
            {"Trovate 2 chiavi private",
             "Errore '0x05' durante la firma con la credenziale 'K1' (A)", "(errore non gestito)",
             "La credenziale 'K2' (B) ha firmato correttamente", kPassed},
            1},
        LinesCase{"FirstSignsSecondFails",
                  "key=A|K1|0|0\nkey=B|K2|0|0\nresult.C_Sign@2=0xA0\n",
                  kPin,
                  0xA0,
                  {"Trovate 2 chiavi private", "La credenziale 'K1' (A) ha firmato correttamente",
                   "Errore '0xA0' durante la firma con la credenziale 'K2' (B)",
                   "(il PIN non combacia con quello memorizzato nel token)", kFailed},
                  1},
        LinesCase{"NoTokenIsAFailure",
                  "slot=1|0|Reader A\n",
                  kPin,
                  0xE0,
                  {kDriverFailure + "'C_GetSlotList': 0x000000e0", kFailed},
                  0},
        LinesCase{"NoPrivateKey",
                  "",
                  kPin,
                  0x20,
                  {kDriverFailure + "'C_FindObjectsInit': 0x00000020", kFailed},
                  1},
        LinesCase{"NoFunctionListIsAFailure",
                  "result.C_Initialize=5\n",
                  kPin,
                  5,
                  {kDriverFailure + "'C_Initialize': 0x00000005", kFailed},
                  0},
        LinesCase{
            "EachKeyTypeWithItsMechanismOthersRefused",
            "key=Rsa|K1|0|0\nkey=Dsa|K2|1|0\nkey=Ec|K3|3|0\n",
            kPin,
            0,
            {"Trovate 3 chiavi private", "La credenziale 'K1' (Rsa) ha firmato correttamente",
             "Errore '0x63' durante la firma con la credenziale 'K2' (Dsa)", "(errore non gestito)",
             "La credenziale 'K3' (Ec) ha firmato correttamente", kPassed},
            1},
        LinesCase{"AlwaysAuthenticateKeyGetsItsOwnLogin",
                  "key=A|K1|0|1\n",
                  kPin,
                  0,
                  {"Trovata 1 chiave privata", "La credenziale 'K1' (A) ha firmato correttamente",
                   kPassed},
                  2},
        LinesCase{"FailedContextLoginIsTheKeysResult",
                  "key=A|K1|0|1\nkey=B|K2|0|0\nresult.C_Login@2=0xA0\n",
                  kPin,
                  0,
                  {"Trovate 2 chiavi private",
                   "Errore '0xA0' durante la firma con la credenziale 'K1' (A)",
                   "(il PIN non combacia con quello memorizzato nel token)",
                   "La credenziale 'K2' (B) ha firmato correttamente", kPassed},
                  2},
        LinesCase{"LabelFillingItsBufferIsTakenWhole",
                  "key=" + kLabel64 + "|K1|0|0\n",
                  kPin,
                  0,
                  {"Trovata 1 chiave privata",
                   "La credenziale 'K1' (" + kLabel64 + ") ha firmato correttamente", kPassed},
                  1},
        LinesCase{
            "LabelTooLongForTheBufferIsNotShown",
            "key=" + kLabel64 + "X|K1|0|0\n",
            kPin,
            0,
            {"Trovata 1 chiave privata", "La credenziale 'K1' ha firmato correttamente", kPassed},
            1},
        LinesCase{"RefusedKeyLoginSpendsOneTryOnly",
                  "sign_pin=999999\nkey=A|K1|0|1\nkey=B|K2|0|1\nkey=C|K3|0|0\n",
                  kPin,
                  0,
                  {"Trovate 3 chiavi private",
                   "Errore '0xA0' durante la firma con la credenziale 'K1' (A)",
                   "(il PIN non combacia con quello memorizzato nel token)",
                   "Errore '0xA0' durante la firma con la credenziale 'K2' (B)",
                   "(il PIN non combacia con quello memorizzato nel token)",
                   "La credenziale 'K3' (C) ha firmato correttamente", kPassed},
                  2},
        LinesCase{"LockedKeyLoginIsNotTriedAgain",
                  "key=A|K1|0|1\nkey=B|K2|0|1\nresult.C_Login@2=0xA4\n",
                  kPin,
                  0xA4,
                  {"Trovate 2 chiavi private",
                   "Errore '0xA4' durante la firma con la credenziale 'K1' (A)",
                   "(il PIN e' bloccato per troppi errori)",
                   "Errore '0xA4' durante la firma con la credenziale 'K2' (B)",
                   "(il PIN e' bloccato per troppi errori)", kFailed},
                  2},
        LinesCase{
            "KeyLoginFailingForAnotherReasonIsTriedAgain",
            "key=A|K1|0|1\nkey=B|K2|0|1\nresult.C_Login@2=0x5\n",
            kPin,
            0,
            {"Trovate 2 chiavi private",
             "Errore '0x05' durante la firma con la credenziale 'K1' (A)", "(errore non gestito)",
             "La credenziale 'K2' (B) ha firmato correttamente", kPassed},
            3},
        LinesCase{"KeyNotForSigningIsShownAndSkipped",
                  "key=A|K1|0|0\nkey=Cifra|K2|0|0|0|0\nkey=C|K3|0|0\n",
                  kPin,
                  0,
                  {"Trovate 3 chiavi private", "La credenziale 'K1' (A) ha firmato correttamente",
                   "La credenziale 'K2' (Cifra) non e' abilitata alla firma",
                   "La credenziale 'K3' (C) ha firmato correttamente", kPassed},
                  1},
        LinesCase{
            "KeyNotForSigningLeavesAnEarlierFailureStanding",
            "key=A|K1|0|0|0x5\nkey=|K2|0|0|0|0\n",
            kPin,
            5,
            {"Trovate 2 chiavi private",
             "Errore '0x05' durante la firma con la credenziale 'K1' (A)", "(errore non gestito)",
             "La credenziale 'K2' non e' abilitata alla firma", kFailed},
            1},
        LinesCase{"SignInitRefusingTheKeysFunctionIsNotForSigning",
                  "key=|K1|0|0\nkey=B|K2|0|0\nresult.C_SignInit@1=0x68\n",
                  kPin,
                  0,
                  {"Trovate 2 chiavi private", "La credenziale 'K1' non e' abilitata alla firma",
                   "La credenziale 'K2' (B) ha firmato correttamente", kPassed},
                  1},
        LinesCase{
            "NoKeyForSigningFails",
            "key=Cifra|K1|0|0|0|0\nkey=|K2|0|0\nresult.C_SignInit=0x68\n",
            kPin,
            0x68,
            {"Trovate 2 chiavi private", "La credenziale 'K1' (Cifra) non e' abilitata alla firma",
             "La credenziale 'K2' non e' abilitata alla firma", kFailed},
            1},
        LinesCase{"BinaryIdInHexLabelOnOneLine",
                  "key=Riga\\x0D\\x0ADue\\x09\\xE9|\\x01\\xAB\\x00\\x02|0|0\n",
                  kPin,
                  0,
                  {"Trovata 1 chiave privata",
                   "La credenziale '01AB0002' (Riga  Due ?) ha firmato correttamente", kPassed},
                  1},
        LinesCase{"PinOf64BytesIsPassed",
                  "key=Firma|K1|0|0\n",
                  std::string(64, '7'),
                  0xA0,
                  {"* PIN INCORRECT *", kRefused, kFailed},
                  1}),
    [](const ::testing::TestParamInfo<LinesCase>& info) { return std::string(info.param.what); });

TEST_F(SigningTest, EcKeySignsTheSameValueWithEcdsa) {
    EXPECT_EQ(Run("key=Ec|K3|3|0\n"), 0u);
    // "supercalifragilistixespiralidoso", unchanged.
    EXPECT_EQ(module->Value("last.C_Sign.data"),
              "737570657263616C6966726167696C69737469786573706972616C69646F736F");
    EXPECT_EQ(module->Count("signatures"), 1);
}

TEST_F(SigningTest, KeyTextsWithLineEndsStayInTheirLogRecord) {
    EXPECT_EQ(Run("key=Uno\\x0D\\x0ADue|\\x0A\\x0D|0|0\n"), 0u);
    const std::string line = "La credenziale '0A0D' (Uno  Due) ha firmato correttamente";
    EXPECT_EQ(status.lines[1], line);
    auto records = RecordsWithText(FinishLog(), line);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].continuation, "");
}

TEST_F(SigningTest, TriesTheFirst128Of130Keys) {
    std::string script;
    for (int i = 0; i < 130; ++i) {
        script += "key=|K" + std::to_string(i) + "|0|0\n";
    }
    EXPECT_EQ(Run(script), 0u);
    ASSERT_EQ(status.lines.size(), 1u + 128u + 1u);
    EXPECT_EQ(status.lines.front(), "Trovate 128 chiavi private");
    EXPECT_EQ(status.lines[128], "La credenziale 'K127' ha firmato correttamente");
    EXPECT_EQ(status.lines.back(), kPassed);
    EXPECT_EQ(module->Count("calls.C_SignInit"), 128);
    EXPECT_EQ(module->Count("signatures"), 128);
}

TEST_F(SigningTest, ACountBeyondTheHandleArrayReadsOnlyTheArray) {
    // The module writes two handles and claims 302; the other places hold no key.
    EXPECT_EQ(Run("key=A|K1|0|0\nkey=B|K2|0|0\nfind_objects_overcount=300\n"),
              static_cast<uint32_t>(CKR_KEY_HANDLE_INVALID));
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{
                  "Trovate 128 chiavi private", "La credenziale 'K1' (A) ha firmato correttamente",
                  "La credenziale 'K2' (B) ha firmato correttamente",
                  "La credenziale '' ha generato l'errore 'C_SignInit': 0x00000060", kFailed}));
    ExpectAllReleased();
}

TEST_F(SigningTest, SignsWithTheTokenOfTheChosenReader) {
    manager->m_slotId = 99;
    EXPECT_EQ(Run("slot=1|1|Other Reader|Other\nslot=2|1|Reader A|Mine\nkey=A|K1|0|0\n"), 0u);
    EXPECT_EQ(manager->m_slotId, 2u);
    EXPECT_EQ(module->Value("last.C_OpenSession.slot"), "2");
    EXPECT_EQ(TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label), "Mine");
}

struct RetryCase {
    const char* what;
    std::string script;
    uint32_t sessionInfoCode;  // the key's result after the retry
    bool secondError;
    long logins;  // C_Login calls the module saw
};

class SigningRetryTest : public SigningTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(SigningRetryTest, LogsTheFailureTheRetryAndTheSession) {
    const RetryCase& c = GetParam();
    EXPECT_EQ(Run("pin=" + kPin + "\ndevice_error=0x1234\n" + c.script), c.sessionInfoCode);
    // The failed C_Sign ended the operation: the retry starts it again.
    EXPECT_EQ(module->Count("calls.C_SignInit"), 2);
    EXPECT_EQ(module->Count("calls.C_Sign"), 2);
    EXPECT_EQ(module->Count("calls.C_Login"), c.logins);
    std::vector<LoggedRecord> records = FinishLog();
    auto failure = RecordsWithText(records, "La credenziale 'K1' ha generato l'errore C_Sign 0x6.");
    ASSERT_EQ(failure.size(), 1u);
    EXPECT_EQ(failure[0].code, 6u);
    EXPECT_EQ(RecordsWithText(records, "Second C_Sign call, return error: 0x6.").size(),
              c.secondError ? 1u : 0u);
    const std::string log = ReadFile(dir.path() + "/Lumidor.log");
    EXPECT_NE(log.find("Current session information :"), std::string::npos);
    EXPECT_NE(log.find("deviceError = 0x1234"), std::string::npos);
    bool found = false;
    for (const LoggedRecord& record : records) {
        if (record.text.rfind("Current session information :", 0) == 0) {
            found = true;
            EXPECT_EQ(record.code, c.sessionInfoCode);
        }
    }
    EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(
    Retries, SigningRetryTest,
    ::testing::Values(RetryCase{"RetrySigns", "key=A|K1|0|0\nresult.C_Sign@1=6\n", 0, false, 1},
                      RetryCase{"RetryFails", "key=A|K1|0|0\nresult.C_Sign=6\n", 6, true, 1},
                      // The key's login is spent by the first signature.
                      RetryCase{"RetryLogsInAgain", "key=A|K1|0|1\nresult.C_Sign@1=6\n", 0, false,
                                3}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.what); });

struct ReleaseCase {
    const char* what;
    std::string script;
    uint32_t result;
    std::string lastCalls;  // how the module's trace ends
    std::string line;       // the first message-list line
};

void PrintTo(const ReleaseCase& c, std::ostream* out) {
    *out << c.what;
}

class SigningReleaseTest : public SigningTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(SigningReleaseTest, LogsOutOnlyAfterALoginAndClosesOnlyAnOpenSession) {
    const ReleaseCase& c = GetParam();
    EXPECT_EQ(Run("key=A|K1|0|0\n" + c.script), c.result);
    // The module this program started is finalised last, after the login and the session.
    const std::string trace = module->Value("trace");
    const std::string ending = c.lastCalls + "C_Finalize,";
    ASSERT_GE(trace.size(), ending.size()) << trace;
    EXPECT_EQ(trace.substr(trace.size() - ending.size()), ending) << trace;
    EXPECT_EQ(module->Count("finalizes"), 1);
    EXPECT_EQ(module->Count("calls.C_Logout"),
              c.lastCalls.find("C_Logout") != std::string::npos ? 1 : 0);
    EXPECT_EQ(module->Count("loads"), 1);
    EXPECT_EQ(module->Count("unloads"), 1);
    ExpectAllReleased();
    ASSERT_FALSE(status.lines.empty());
    EXPECT_EQ(status.lines.front(), c.line);
    EXPECT_EQ(status.lines.back(), c.result == 0 ? kPassed : kFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SigningReleaseTest,
    ::testing::Values(ReleaseCase{"Signed", "", 0,
                                  // the search of the key's public key, then of its
                                  // certificate
                                  "C_SignInit,C_Sign,C_FindObjectsInit,C_FindObjects,"
                                  "C_FindObjectsFinal,C_FindObjectsInit,C_FindObjects,"
                                  "C_FindObjectsFinal,C_Logout,C_CloseSession,",
                                  "Trovata 1 chiave privata"},
                      ReleaseCase{"TokenInfoFails", "result.C_GetTokenInfo=0x30\n", 0x30,
                                  "C_GetTokenInfo,",
                                  kDriverFailure + "'C_GetTokenInfo': 0x00000030"},
                      ReleaseCase{"OpenSessionFails", "result.C_OpenSession=0xE0\n", 0xE0,
                                  "C_OpenSession,", kDriverFailure + "'C_OpenSession': 0x000000e0"},
                      // The flags are read again after a refused login.
                      ReleaseCase{"LoginFails", "result.C_Login=0xA1\n", 0xA1,
                                  "C_Login,C_GetTokenInfo,C_CloseSession,", "* PIN INVALID *"},
                      ReleaseCase{"FindInitFails", "result.C_FindObjectsInit=0x5\n", 5,
                                  "C_FindObjectsInit,C_Logout,C_CloseSession,",
                                  kDriverFailure + "'C_FindObjectsInit': 0x00000005"},
                      ReleaseCase{"FindFails", "result.C_FindObjects=0x5\n", 5,
                                  "C_FindObjects,C_Logout,C_CloseSession,",
                                  kDriverFailure + "'C_FindObjects': 0x00000005"},
                      ReleaseCase{"FindFinalFails", "result.C_FindObjectsFinal=0x5\n", 5,
                                  "C_FindObjectsFinal,C_Logout,C_CloseSession,",
                                  kDriverFailure + "'C_FindObjectsFinal': 0x00000005"},
                      ReleaseCase{"SignInitFails", "result.C_SignInit=0x63\n", 0x63,
                                  "C_SignInit,C_Logout,C_CloseSession,",
                                  "Trovata 1 chiave privata"}),
    [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.what); });

struct ReaderCase {
    const char* what;
    std::function<void(FakePcsc&)> change;  // after the check, before the test
    int readerIndex;
    uint32_t result;
    std::string line;
    std::string logText;
};

void PrintTo(const ReaderCase& c, std::ostream* out) {
    *out << c.what;
}

class SigningReaderTest : public SigningTest, public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(SigningReaderTest, EndsBeforeTheModuleWithItsOwnLine) {
    const ReaderCase& c = GetParam();
    c.change(pcsc);
    module->SetScript("key=A|K1|0|0\n");
    EXPECT_EQ(manager->TestCard(c.readerIndex, SecretString(kPin)), c.result);
    EXPECT_EQ(status.lines.size(), 1u);
    if (c.line.empty()) {
        // The PC/SC failure shows the system's text for its code.
        ASSERT_FALSE(status.lines.empty());
        EXPECT_EQ(status.lines[0].rfind("Errore nelle librerie del lettore: ", 0), 0u);
        EXPECT_GT(status.lines[0].size(),
                  std::string("Errore nelle librerie del lettore: ").size());
    } else {
        EXPECT_EQ(status.lines, std::vector<std::string>{c.line});
    }
    EXPECT_EQ(module->Count("loads"), 0);
    EXPECT_EQ(pcsc.OpenContexts(), 0);
    auto records = RecordsWithText(FinishLog(), c.logText);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, c.line.empty() ? c.result : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, SigningReaderTest,
    ::testing::Values(
        ReaderCase{"CardRemovedAfterTheCheck",
                   [](FakePcsc& pcsc) { pcsc.states["Reader A"] = SCARD_STATE_EMPTY; }, 0,
                   0x8010000C, "Nessuna smart card trovata", "No card found."},
        ReaderCase{"IndexEqualToTheCount", [](FakePcsc&) {}, 1, 0x8010002E,
                   "Nessun lettore definito o trovato", "No valid reader index."},
        ReaderCase{"NegativeIndex", [](FakePcsc&) {}, -1, 0x8010002E,
                   "Nessun lettore definito o trovato", "No valid reader index."},
        ReaderCase{"NoContext",
                   [](FakePcsc& pcsc) {
                       pcsc.establishContext.results = {static_cast<LONG>(SCARD_E_NO_SERVICE)};
                   },
                   0, static_cast<uint32_t>(SCARD_E_NO_SERVICE), "",
                   "SCardEstablishContext error."},
        ReaderCase{"StatusQueryFails",
                   [](FakePcsc& pcsc) {
                       pcsc.getStatusChange.results = {
                           static_cast<LONG>(SCARD_E_READER_UNAVAILABLE)};
                   },
                   0, static_cast<uint32_t>(SCARD_E_READER_UNAVAILABLE), "",
                   "SCardGetStatusChange error."}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.what); });

TEST_F(SigningTest, AModuleThatDoesNotLoadIsReportedWithTheLoadersReason) {
    manager->m_driverInUse = "./absent.so";
    EXPECT_EQ(manager->TestCard(0, SecretString(kPin)), 126u);
    ASSERT_EQ(status.lines.size(), 2u);
    const std::string prefix =
        "Errore durante il caricamento del driver della smart card (./absent.so): ";
    EXPECT_EQ(status.lines[0].rfind(prefix, 0), 0u) << status.lines[0];
    EXPECT_GT(status.lines[0].size(), prefix.size()) << "the system's text for 126";
    EXPECT_EQ(status.lines[1], kFailed);
}

TEST_F(SigningTest, LogsTheStoredTokenBeforeTheTestReadsItAgain) {
    std::memset(manager->m_tokenInfo.label, ' ', sizeof manager->m_tokenInfo.label);
    std::memcpy(manager->m_tokenInfo.label, "Prima", 5);
    EXPECT_EQ(Run("key=A|K1|0|0\n"), 0u);
    EXPECT_EQ(TokenText(manager->m_tokenInfo.label, sizeof manager->m_tokenInfo.label),
              "Lumidor Test Token");
    std::vector<std::string> own;
    for (const LoggedRecord& record : FinishLog()) {
        if (record.source == "CSmartCardManager::TestCard" || record.source == "TokenInfo:Label") {
            own.push_back(record.text);
        }
    }
    ASSERT_EQ(own.size(), 4u) << testing::PrintToString(own);
    EXPECT_EQ(own[0], "Starting smartcard test ...");
    EXPECT_EQ(own[1].rfind("'Reader A' reader state: 0x", 0), 0u) << own[1];
    EXPECT_EQ(own[2], "Prima");
    EXPECT_EQ(own[3], "Card tested.");
}

TEST_F(SigningTest, WithoutAMessageListOnlyTheLogReports) {
    manager->m_statusList = nullptr;
    EXPECT_EQ(Run("key=|K1|0|0\nresult.C_Sign=6\n"), 6u);
    EXPECT_TRUE(status.lines.empty());
    std::vector<LoggedRecord> records = FinishLog();
    EXPECT_EQ(
        RecordsWithText(records, "Errore '0x06' durante la firma con la credenziale 'K1'").size(),
        1u);
    EXPECT_EQ(RecordsWithText(records, "(la carta non e' attiva)").size(), 1u);
    EXPECT_EQ(RecordsWithText(records, "Error testing card.").size(), 1u);
}

struct ChangedCardCase {
    const char* what;
    // After the check, before the test.
    std::function<void(FakePcsc&, ScriptedModule&, CSmartCardManager&)> change;
    long loads;  // of the module by the test: the token's serial is the module's to tell
    std::string record;
};

void PrintTo(const ChangedCardCase& c, std::ostream* out) {
    *out << c.what;
}

class ChangedCardTest : public SigningTest,
                        public ::testing::WithParamInterface<ChangedCardCase> {};

// A wrong PIN costs a card one of its tries: the PIN goes to no card but the one checked.
TEST_P(ChangedCardTest, PresentsNoPinToAnyCardButTheCheckedOne) {
    const ChangedCardCase& c = GetParam();
    module->SetScript("key=A|K1|0|0\n");
    c.change(pcsc, *module, *manager);
    status.lines.clear();
    EXPECT_EQ(manager->TestCard(0, SecretString(kPin)), 0x80100069u);
    EXPECT_EQ(status.lines, std::vector<std::string>{kCardChangedLine});
    EXPECT_EQ(module->Count("calls.C_Login"), 0);
    EXPECT_EQ(module->Count("loads"), c.loads);
    ExpectAllReleased();
    const auto records = RecordsWithText(FinishLog(), c.record);
    ASSERT_EQ(records.size(), 1u) << c.record;
    EXPECT_EQ(records[0].code, 0x80100069u);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedCardTest,
    ::testing::Values(
        ChangedCardCase{"AnotherCardOfTheSameMakeInItsPlace",
                        [](FakePcsc& pcsc, ScriptedModule&, CSmartCardManager&) {
                            pcsc.eventCounts["Reader A"] += 2;
                        },
                        0,
                        "The card in reader 'Reader A' is not the one checked: ATR 3B021450 "
                        "after 0 card events then, ATR 3B021450 after 2 now. No PIN is "
                        "presented."},
        ChangedCardCase{"ACardWithAnotherAtr",
                        [](FakePcsc& pcsc, ScriptedModule&, CSmartCardManager&) {
                            pcsc.atrs["Reader A"] = {0x3B, 0x02, 0x14, 0x51};
                        },
                        0,
                        "The card in reader 'Reader A' is not the one checked: ATR 3B021450 "
                        "after 0 card events then, ATR 3B021451 after 0 now. No PIN is "
                        "presented."},
        // As a reader that does not count card events would show a swap.
        ChangedCardCase{"ATokenWithAnotherSerialNumber",
                        [](FakePcsc&, ScriptedModule& module, CSmartCardManager&) {
                            module.SetScript("key=A|K1|0|0\ntoken.serial=0000000000000002\n");
                        },
                        1,
                        "The token in reader 'Reader A' has serial number '0000000000000002', "
                        "the checked one had '0000000000000001': no PIN is presented."},
        ChangedCardCase{
            "AFailedCheckSince",
            [](FakePcsc&, ScriptedModule&, CSmartCardManager& manager) {
                EXPECT_NE(manager.CheckDriver(7), 0u);
            },
            0, "No check of a card in reader 'Reader A' has succeeded: no PIN is presented."}),
    [](const ::testing::TestParamInfo<ChangedCardCase>& info) {
        return std::string(info.param.what);
    });

TEST_F(SigningTest, TheCheckedCardStaysCheckedForAnotherTest) {
    EXPECT_EQ(Run("key=A|K1|0|0\n"), 0u);
    status.lines.clear();
    EXPECT_EQ(Run("key=A|K1|0|0\n"), 0u);
    EXPECT_EQ(status.lines.back(), kPassed);
}

// The card check's own driver fails; the driver the user picks instead works: the card is
// checked, and the test follows.
TEST_F(SigningTest, ACardCheckedThroughAnotherDriverIsTested) {
    ScriptedModule failing(dir.path(), "failing.so");
    failing.SetScript("result.C_OpenSession=0xE0\n");
    const std::string catalogue = Catalogue({CardEntry("3B021450", "./failing.so,./mod.so")});
    manager->InitCardList(catalogue.size(), catalogue.data());
    ASSERT_EQ(manager->CheckCardInReader(0), 0xE0u);
    EXPECT_EQ(Run("key=A|K1|0|0\n"), 0x80100069u) << "no check has succeeded yet";
    EXPECT_EQ(module->Count("calls.C_Login"), 0);

    ASSERT_EQ(manager->m_drivers, (std::vector<std::string>{"./failing.so", "./mod.so"}));
    ASSERT_EQ(manager->CheckDriver(1), 0u);
    status.lines.clear();
    EXPECT_EQ(manager->TestCard(0, SecretString(kPin)), 0u);
    EXPECT_EQ(status.lines.back(), kPassed);
}

// A card that shows one token per PIN: each token of the reader is tested, the PIN typed once,
// the keys counted together and listed under their token's label.
TEST_F(SigningTest, EveryTokenOfTheCardIsTestedWithThePinTypedOnce) {
    const std::string tokens =
        "slot=1|1|Reader A|Firma utente\nslot=2|1|Software|Altro\n"
        "slot=3|1|Reader A|Firma qualificata\nkey=Firma|K1|0|0\n";
    EXPECT_EQ(Run(tokens), 0u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{
                                "Trovate 2 chiavi private", "Chiavi del token 'Firma utente':",
                                "La credenziale 'K1' (Firma) ha firmato correttamente",
                                "Chiavi del token 'Firma qualificata':",
                                "La credenziale 'K1' (Firma) ha firmato correttamente", kPassed}));
    EXPECT_EQ(module->Count("calls.C_Login"), 2);
    EXPECT_EQ(module->Value("last.C_OpenSession.slot"), "3");
    ExpectAllReleased();

    // A PIN the first token refuses reaches no other.
    status.lines.clear();
    module->ResetCounters();
    EXPECT_EQ(Run("pin=" + kPin + "\n" + tokens, "111111"), 0xA0u);
    EXPECT_EQ(module->Count("calls.C_Login"), 1);
    EXPECT_EQ(status.lines.back(), kFailed);
    ExpectAllReleased();
}

// The module's only token is another reader's: the test of this reader finds no token and
// presents the PIN to nobody.
TEST_F(SigningTest, ThePinNeverReachesAnotherReadersToken) {
    pcsc.readers = {"Reader A", "Reader B"};
    pcsc.states["Reader B"] = SCARD_STATE_PRESENT;
    pcsc.atrs["Reader B"] = {0x3B, 0x02, 0x14, 0x50};
    ASSERT_EQ(manager->UpdateReaders(), 0u);
    EXPECT_EQ(Run("slot=2|1|Reader B\nkey=A|K1|0|0\n"),
              static_cast<uint32_t>(CKR_TOKEN_NOT_PRESENT));
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{kDriverFailure + "'C_GetSlotList': 0x000000e0", kFailed}));
    EXPECT_EQ(module->Count("calls.C_Login"), 0);
    EXPECT_EQ(module->Count("calls.C_OpenSession"), 0);
    ExpectAllReleased();
}

}  // namespace
