// Every module call the manager makes, misbehaving in each way that applies to it, through
// each operation that makes the call: the card check, the driver check and the signing test.
// Every row shows the operation's result and status lines, the token information and driver
// version it leaves, that every load, session and login was given back, and for an answer
// wider than 32 bits the one log record per report that gives it in full. The sanitizer
// build runs the same rows, so that a read or write out of bounds ends the row.
//
// Where the product ignores a call's answer (C_GetInfo, C_CloseSession, C_Logout,
// C_GetObjectSize, C_GetSessionInfo; key attributes that do not come back make empty texts),
// the row's name says so and it shows the outcome the operation has without the
// misbehaviour.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "manager/PendingCall.h"
#include "manager/TokenDetails.h"
#include "support/ExpectedTexts.h"
#include "support/FixtureCatalogues.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/TextTemplate.h"
#include "support/rig/FakePcsc.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kReader = "Reader A";
constexpr const char* kAtr = "3B021450";
constexpr const char* kPin = "735911";

// Two tokens, the reader's second; one key that signs; a library version to read.
const std::string kSlots = "slot=1|1|Other Reader|Other Token\nslot=2|1|Reader A\n";
const std::string kCommon = std::string("pin=") + kPin + "\ninfo.version=3.7\nkey=Firma|K1|0|0\n";

const std::string kLoaded = LoadedLine("@module");
const std::string kNoEntryPoint =
    "Funzione C_GetFunctionList non trovata nel driver (@module): The specified procedure "
    "could not be found.";
const std::string kOneKey = "Trovata 1 chiave privata";
const std::string kTokenRead = "Lumidor Test Token|Lumidor Tests|Scripted|0000000000000001";
const std::string kNoToken = "|||";
const std::string kVersion = "3.7.0.0";

constexpr uint32_t kFailure = 0x30;       // CKR_DEVICE_ERROR, what a failing call answers
constexpr uint32_t kNotSupported = 0x54;  // what a null entry answers
constexpr uint32_t kGeneralError = 0x5;

std::string Failed(const std::string& function, uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return "Errore durante l'utilizzo del driver (@module) sulla funzione '" + function +
           "': " + text;
}

std::string Hex2(uint32_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%.2X", code);
    return text;
}

enum class Operation { CardCheck, DriverCheck, SigningTest };

const char* OperationName(Operation operation) {
    switch (operation) {
        case Operation::CardCheck:
            return "CardCheck";
        case Operation::DriverCheck:
            return "DriverCheck";
        case Operation::SigningTest:
            break;
    }
    return "SigningTest";
}

struct Expected {
    uint32_t result = 0;
    std::vector<std::string> lines;  // "@module" stands for the module's path
    std::string token = kTokenRead;  // label|manufacturer|model|serial as the manager shows them
    std::string version;             // m_driverVersion
    long sessionsLeft = 0;           // left with the module: its C_CloseSession did not close
    int wideRecords = 0;             // log records of an answer wider than 32 bits
};

struct Row {
    std::string name;
    Operation operation;
    std::string script;  // on top of kCommon
    Expected expected;
    std::string wideCall;  // the function that the wide answer's records name
    bool withEntryPoint = true;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// How one call misbehaves: the script that makes it, and the code the product reports.
struct Misbehaviour {
    std::string what;
    std::string script;
    uint32_t code;
    bool wide;
};

// The call fails; it answers a CK_RV wider than 32 bits; its entry in the list is null.
std::vector<Misbehaviour> Failures(const std::string& call) {
    const std::string name = call.substr(2);  // without "C_"
    return {
        {name + "Fails", "result." + call + "=0x30\n", kFailure, false},
        {name + "AnswersBeyond32Bits", "result." + call + "=0x100000000\n", kGeneralError, true},
        {name + "EntryMissing", "null_function=" + call + "\n", kNotSupported, false}};
}

// The operations as they end without any misbehaviour.
Expected Normal(Operation operation) {
    Expected expected;
    if (operation == Operation::SigningTest) {
        expected.lines = {kOneKey, kSigned, kPassed};
    } else {
        expected.lines = {kLoaded};
        expected.version = kVersion;
    }
    return expected;
}

constexpr Operation kAll[] = {Operation::CardCheck, Operation::DriverCheck, Operation::SigningTest};
constexpr Operation kChecks[] = {Operation::CardCheck, Operation::DriverCheck};

struct Table {
    std::vector<Row> rows;

    template <typename Operations, typename Make>
    void Add(const std::string& what, const std::string& script, const Operations& operations,
             Make make) {
        for (Operation operation : operations) {
            Row row{std::string(OperationName(operation)) + "_" + what,
                    operation,
                    script,
                    make(operation),
                    "",
                    true};
            rows.push_back(row);
        }
    }

    // A call on the way to the token's session fails with `code`, reported as `shown`:
    // the card check reports it for its trial and again for its final opening. What the
    // token information and the version read make of it is given.
    template <typename Operations>
    void OnTheWay(const std::string& what, const std::string& script, const Operations& operations,
                  const std::string& shown, uint32_t code, bool wide, const std::string& token,
                  const std::string& version) {
        for (Operation operation : operations) {
            Expected expected;
            expected.result = code;
            // A signing test that fails before it reads the token shows its check's.
            expected.token = operation == Operation::SigningTest ? kTokenRead : token;
            const int reports = operation == Operation::CardCheck ? 2 : 1;
            if (operation == Operation::SigningTest) {
                expected.lines = {Failed(shown, code), kFailed};
            } else {
                expected.lines.assign(1, kLoaded);
                expected.lines.insert(expected.lines.end(), reports, Failed(shown, code));
                expected.version = version;
            }
            expected.wideRecords = wide ? reports : 0;
            rows.push_back({std::string(OperationName(operation)) + "_" + what, operation, script,
                            expected, wide ? shown : "", true});
        }
    }

    // A call whose answer the product does not look at. With `sessionLeft`, each session
    // the operation opened stays with the module (the card check opens two).
    template <typename Operations>
    void Ignored(const std::string& what, const std::string& script, const Operations& operations,
                 bool sessionLeft = false) {
        Add(what, script, operations, [sessionLeft](Operation operation) {
            Expected expected = Normal(operation);
            if (sessionLeft) {
                expected.sessionsLeft = operation == Operation::CardCheck ? 2 : 1;
            }
            return expected;
        });
    }

    // A signing-test call failing with `code`; `lines` makes the test's lines from it.
    template <typename Lines>
    void Signing(const std::string& call, const std::string& shown, Lines lines) {
        for (const Misbehaviour& m : Failures(call)) {
            Expected expected;
            expected.result = m.code;
            expected.lines = lines(m.code);
            expected.wideRecords = m.wide ? 1 : 0;
            rows.push_back({"SigningTest_" + m.what, Operation::SigningTest, m.script, expected,
                            m.wide ? shown : "", true});
        }
    }
};

std::vector<Row> MakeRows() {
    Table t;

    // C_GetFunctionList, and the list it gives.
    t.OnTheWay("GetFunctionListFails", "result.C_GetFunctionList=0x30\n", kAll, "C_GetFunctionList",
               kFailure, false, kNoToken, "");
    t.OnTheWay("GetFunctionListAnswersBeyond32Bits", "result.C_GetFunctionList=0x100000000\n", kAll,
               "C_GetFunctionList", kGeneralError, true, kNoToken, "");
    t.OnTheWay("GetFunctionListGivesNoList", "function_list=null\n", kAll, "C_GetFunctionList",
               kGeneralError, false, kNoToken, "");
    t.Add("FunctionListDeclaresVersion3", "function_list.version=3.0\n", kAll, Normal);
    {
        const std::size_t first = t.rows.size();
        t.Add("GetFunctionListNotExported", "", kAll, [](Operation operation) {
            Expected expected;
            expected.result = 127;
            expected.token = operation == Operation::SigningTest ? kTokenRead : kNoToken;
            if (operation == Operation::SigningTest) {
                expected.lines = {kNoEntryPoint, kFailed};
            } else if (operation == Operation::CardCheck) {
                expected.lines = {kLoaded, kNoEntryPoint, kNoEntryPoint};
            } else {
                expected.lines = {kLoaded, kNoEntryPoint};
            }
            return expected;
        });
        for (std::size_t i = first; i < t.rows.size(); ++i) {
            t.rows[i].withEntryPoint = false;
        }
    }

    // C_Initialize. A list without it is refused as the list's own failure.
    for (const Misbehaviour& m : Failures("C_Initialize")) {
        const bool missing = m.code == kNotSupported;
        t.OnTheWay(m.what, m.script, kAll, missing ? "C_GetFunctionList" : "C_Initialize",
                   missing ? kGeneralError : m.code, m.wide, kNoToken, "");
    }

    // C_GetInfo, read for the version only.
    for (const Misbehaviour& m : Failures("C_GetInfo")) {
        t.Add(m.what + "IgnoredNoVersion", m.script, kChecks, [](Operation operation) {
            Expected expected = Normal(operation);
            expected.version = "";
            return expected;
        });
    }
    t.Add("LibraryDescriptionFullToTheLastByteIgnored",
          "info.description=" + std::string(32, 'D') + "\n", kChecks, Normal);
    t.Add("LibraryDescriptionNotUtf8Ignored", "info.description=Modulo \\xC3\\x28\\xFF\\xFE\n",
          kChecks, Normal);
    t.Add("TextFieldsPaddedWithNuls", "text_padding=0\n", kAll, Normal);

    // C_GetSlotList: the count query, the filled list, and the two together.
    for (const Misbehaviour& m : Failures("C_GetSlotList")) {
        t.OnTheWay("SlotCount" + m.what.substr(11), m.script, kAll, "C_GetSlotList", m.code, m.wide,
                   kNoToken, kVersion);
    }
    t.OnTheWay("SlotListFails", "slot_list_result=0x30\n", kAll, "C_GetSlotList", kFailure, false,
               kNoToken, kVersion);
    t.OnTheWay("SlotListAnswersBeyond32Bits", "slot_list_result=0x100000000\n", kAll,
               "C_GetSlotList", kGeneralError, true, kNoToken, kVersion);
    t.Add("SlotCountGrowsOnceAndIsAskedAgain", "slot_count_first=1\n", kAll, Normal);
    t.OnTheWay("SlotCountAlwaysShortOfTheList", "slot_count=1\n", kAll, "C_GetSlotList",
               CKR_BUFFER_TOO_SMALL, false, kNoToken, kVersion);
    t.OnTheWay("SlotListCountsMoreThanItWrote", "slot_list_overcount=1\n", kAll, "C_GetSlotList",
               CKR_BUFFER_TOO_SMALL, false, kNoToken, kVersion);

    // C_GetSlotInfo, reported under the slot list's name as the product always did.
    for (const Misbehaviour& m : Failures("C_GetSlotInfo")) {
        t.OnTheWay(m.what, m.script, kAll, "C_GetSlotList", m.code, m.wide, kNoToken, kVersion);
    }
    t.Add("SlotDescriptionsFullToTheLastByte",
          "slot=1|1|" + std::string(64, 'O') + "|Other Token\nslot=2|1|Reader A" +
              std::string(56, 'x') + "\n",
          kAll, Normal);
    t.Add("SlotDescriptionsNotUtf8",
          "slot=1|1|\\xC3\\x28\\xFF|Other Token\nslot=2|1|Reader A\\xFF\\xFE\n", kAll, Normal);

    // C_GetTokenInfo.
    for (const Misbehaviour& m : Failures("C_GetTokenInfo")) {
        t.OnTheWay(m.what, m.script, kAll, "C_GetTokenInfo", m.code, m.wide, kNoToken, kVersion);
    }
    t.Add("TokenTextsFullToTheLastByte",
          "token.label=" + std::string(32, 'L') + "\ntoken.manufacturer=" + std::string(32, 'M') +
              "\ntoken.model=" + std::string(16, 'D') + "\ntoken.serial=" + std::string(16, '7') +
              "\n",
          kAll, [](Operation operation) {
              Expected expected = Normal(operation);
              expected.token = std::string(32, 'L') + "|" + std::string(32, 'M') + "|" +
                               std::string(16, 'D') + "|" + std::string(16, '7');
              return expected;
          });
    t.Add("TokenTextsNotUtf8KeptAsTheyCame",
          "token.label=Firma \\xC3\\x28\ntoken.manufacturer=\\xFF\\xFE\ntoken.model=\\xE2\\x82\n"
          "token.serial=12\\x80\n",
          kAll, [](Operation operation) {
              Expected expected = Normal(operation);
              expected.token = "Firma \xC3\x28|\xFF\xFE|\xE2\x82|12\x80";
              return expected;
          });

    // C_OpenSession and C_CloseSession.
    for (const Misbehaviour& m : Failures("C_OpenSession")) {
        t.OnTheWay(m.what, m.script, kAll, "C_OpenSession", m.code, m.wide, kTokenRead, kVersion);
    }
    for (const Misbehaviour& m : Failures("C_CloseSession")) {
        t.Ignored(m.what + "IgnoredSessionLeftToTheModule", m.script, kAll, true);
    }

    // The signing test's own calls.
    t.Signing("C_Login", "C_Login", [](uint32_t code) {
        char text[32];
        std::snprintf(text, sizeof text, "C_Login error 0x%X", code);
        return std::vector<std::string>{text, kFailed};
    });
    // A key's own login (CKA_ALWAYS_AUTHENTICATE), the second C_Login.
    for (const Misbehaviour& m : Failures("C_Login")) {
        if (m.code == kNotSupported) {
            continue;  // one entry serves both logins: the user login ends the test first
        }
        Expected expected;
        expected.result = m.code;
        expected.lines = {
            "Trovate 2 chiavi private", kSigned,
            "Errore '" + Hex2(m.code) + "' durante la firma con la credenziale 'K2' (Segreta)",
            "(errore non gestito)", kFailed};
        expected.wideRecords = m.wide ? 1 : 0;
        std::string script = "key=Segreta|K2|0|1\n" + m.script;
        script.replace(script.find("C_Login="), 8, "C_Login@2=");
        t.rows.push_back({"SigningTest_KeyLogin" + m.what.substr(5), Operation::SigningTest, script,
                          expected, m.wide ? "C_Login" : "", true});
    }
    for (const Misbehaviour& m : Failures("C_Logout")) {
        t.Ignored(m.what + "Ignored", m.script, std::vector<Operation>{Operation::SigningTest});
    }
    for (const char* call : {"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"}) {
        t.Signing(call, call, [call](uint32_t code) {
            return std::vector<std::string>{Failed(call, code), kFailed};
        });
    }
    // The places beyond the handles written hold no key; the first of them ends the test.
    t.Add("FindObjectsCountsMoreThanAsked", "find_objects_overcount=200\n",
          std::vector<Operation>{Operation::SigningTest}, [](Operation) {
              Expected expected;
              expected.result = CKR_KEY_HANDLE_INVALID;
              expected.lines = {"Trovate 128 chiavi private", kSigned,
                                "La credenziale '' ha generato l'errore 'C_SignInit': 0x00000060",
                                kFailed};
              return expected;
          });
    for (const Misbehaviour& m : Failures("C_GetObjectSize")) {
        t.Ignored(m.what + "Ignored", m.script, std::vector<Operation>{Operation::SigningTest});
    }

    // C_GetAttributeValue: what does not come back is an empty text, and the key still signs.
    const std::vector<Operation> signing = {Operation::SigningTest};
    auto signedAs = [](std::string line) {
        return [line](Operation) {
            Expected expected;
            expected.lines = {kOneKey, line, kPassed};
            return expected;
        };
    };
    for (const Misbehaviour& m : Failures("C_GetAttributeValue")) {
        t.Add(m.what + "EmptyTexts", m.script, signing,
              signedAs("La credenziale '' ha firmato correttamente"));
    }
    t.Add("LabelLengthBeyondItsBufferEmptyLabel", "attribute_length=3|100\n", signing,
          signedAs("La credenziale 'K1' ha firmato correttamente"));
    t.Add("LabelUnavailableEmptyLabel", "attribute_length=3|0xFFFFFFFFFFFFFFFF\n", signing,
          signedAs("La credenziale 'K1' ha firmato correttamente"));
    // An id longer than its field is read again at the length the module tells; this module
    // then writes nothing into the 100 bytes, which stay zero.
    t.Add("IdLengthBeyondItsBufferReadAtThatLength", "attribute_length=0x102|100\n", signing,
          signedAs("La credenziale '" + std::string(200, '0') +
                   "' (Firma) ha firmato correttamente"));
    t.Add("IdUnavailableEmptyId", "attribute_length=0x102|0xFFFFFFFFFFFFFFFF\n", signing,
          signedAs("La credenziale '' (Firma) ha firmato correttamente"));

    t.Signing("C_SignInit", "C_SignInit", [](uint32_t code) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", code);
        return std::vector<std::string>{
            kOneKey, std::string("La credenziale 'K1' ha generato l'errore 'C_SignInit': ") + text,
            kFailed};
    });
    t.Signing("C_Sign", "C_Sign", [](uint32_t code) {
        return std::vector<std::string>{
            kOneKey, "Errore '" + Hex2(code) + "' durante la firma con la credenziale 'K1' (Firma)",
            "(errore non gestito)", kFailed};
    });
    // Asked only after a failed signature: the outcome is that signature's.
    for (const Misbehaviour& m : Failures("C_GetSessionInfo")) {
        t.Add(m.what + "Ignored", "result.C_Sign=0x30\n" + m.script, signing, [](Operation) {
            Expected expected;
            expected.result = kFailure;
            expected.lines = {kOneKey,
                              "Errore '0x30' durante la firma con la credenziale 'K1' (Firma)",
                              "(errore non gestito)", kFailed};
            return expected;
        });
    }
    return t.rows;
}

std::string TokenShown(const TokenDetails& details) {
    return details.label + "|" + details.manufacturerId + "|" + details.model + "|" +
           details.serialNumber;
}

class HostileModuleTest : public ManagerTest, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        pcsc.readers = {kReader};
        pcsc.states[kReader] = SCARD_STATE_PRESENT;
        pcsc.atrs[kReader] = {0x3B, 0x02, 0x14, 0x50};
    }

    uint32_t Run(const Row& row, const ScriptedModule& module, const std::string& script) {
        const std::string catalogue = Catalogue({CardEntry(kAtr, module.path())});
        manager->InitCardList(catalogue.size(), catalogue.data());
        manager->UpdateReaders();
        if (row.operation == Operation::SigningTest) {
            CheckTheCard(row, script);
        }
        module.SetScript(script);
        status.lines.clear();
        switch (row.operation) {
            case Operation::CardCheck:
                return manager->CheckCardInReader(0);
            case Operation::DriverCheck:
                return manager->DriverTest(module.path(), kReader);
            case Operation::SigningTest:
                break;
        }
        return manager->TestCard(0, SecretString(kPin));
    }

    // A signing test follows a check of the card. The check meets the same token (the row's
    // token lines) through a module that behaves: one with its entry point, that fails
    // nothing. The row's module is in place again afterwards, its counters empty.
    void CheckTheCard(const Row& row, const std::string& script) {
        std::string tokenLines;
        std::istringstream lines(script);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("token.", 0) == 0 || line.rfind("text_padding=", 0) == 0) {
                tokenLines += line + "\n";
            }
        }
        ScriptedModule behaving(dir.path(), "hostile.so");
        behaving.SetScript(kCommon + kSlots + tokenLines);
        EXPECT_EQ(manager->CheckCardInReader(0), 0u) << testing::PrintToString(status.lines);
        ScriptedModule restored(dir.path(), "hostile.so", row.withEntryPoint);
    }

    FakePcsc pcsc;
};

TEST_P(HostileModuleTest, FailsWithItsLineOrIgnoresAndGivesEverythingBack) {
    const Row& row = GetParam();
    const Expected& expected = row.expected;
    ScriptedModule module(dir.path(), "hostile.so", row.withEntryPoint);
    const bool ownSlots = row.script.find("slot=") != std::string::npos;
    const std::vector<std::pair<std::string, std::string>> names = {{"@module", module.path()}};

    EXPECT_EQ(Run(row, module, kCommon + (ownSlots ? "" : kSlots) + row.script), expected.result);

    std::vector<std::string> lines;
    for (const std::string& line : expected.lines) {
        lines.push_back(Expand(line, names));
    }
    EXPECT_EQ(status.lines, lines);
    EXPECT_EQ(TokenShown(manager->GetTokenDetails()), expected.token);
    // The signing test reads no version: what shows is its check's.
    EXPECT_EQ(manager->m_driverVersion,
              row.operation == Operation::SigningTest ? kVersion : expected.version);
    EXPECT_EQ(PendingModuleCall(), nullptr);

    EXPECT_GT(module.Count("loads"), 0);
    EXPECT_EQ(module.Count("unloads"), module.Count("loads"));
    EXPECT_EQ(module.Count("left.sessions"), expected.sessionsLeft);
    EXPECT_EQ(module.Count("left.logins"), 0);
    // Whatever the module did, the start of this program's making was ended.
    EXPECT_EQ(module.Count("left.started"), 0);
    EXPECT_EQ(module.Count("finalizes"), module.Count("starts"));
    EXPECT_EQ(pcsc.OpenContexts(), 0);
    EXPECT_EQ(pcsc.OpenCards(), 0);

    int wide = 0;
    for (const LoggedRecord& record : FinishLog()) {
        if (record.text.find("no 32-bit result") == std::string::npos) {
            continue;
        }
        ++wide;
        EXPECT_EQ(record.text, row.wideCall +
                                   " returned 0x100000000, which is no 32-bit "
                                   "result: reported as 0x5.");
        EXPECT_EQ(record.code, kGeneralError);
    }
    EXPECT_EQ(wide, expected.wideRecords);
}

INSTANTIATE_TEST_SUITE_P(Misbehaviours, HostileModuleTest, ::testing::ValuesIn(MakeRows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
