// lumidor-check's options, exit statuses and reports on the rig: a SoftHSM token behind the
// virtual card, named by a catalogue of the test's own; no card; a card the catalogue does
// not know; no reader at all. The JSON reports are checked against docs/report.schema.json
// with Debian's python3-jsonschema, and against the text report of the same run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "support/Command.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"
#include "support/TestKeys.h"
#include "support/rig/VirtualCard.h"
#include "testmodule/ScriptedModule.h"

namespace {

constexpr const char* kAtr = "3B021450";
constexpr const char* kPin = "123456";  // SoftHsmToken's user PIN
// A holder's name beyond ASCII, to show that the bytes pass whatever the locale.
const std::string kHolder = "Zo\xC3\xAB \xC3\x91\x61nd\xC3\xBA";

struct CheckRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The file-catalogue check in the current directory, under LC_ALL=C, `input` as its
// standard input; standard output and error apart.
CheckRun Check(const std::string& arguments, const std::string& input = "",
               const std::string& program = LUMIDOR_CHECK_PROGRAM) {
    WriteFile("input.txt", input);
    const CommandRun run =
        RunShell("(LC_ALL=C " + program + " " + arguments + " < input.txt > out.txt 2> err.txt)");
    return {run.status, ReadFile("out.txt"), ReadFile("err.txt")};
}

// A catalogue in the current directory whose one entry names `drivers` for the rig card's ATR.
void WriteCatalogue(const std::string& drivers) {
    WriteFile("cardlist.json", std::string(R"({"version": "1.0.0.0", "linux": [)"
                                           R"({"type": "CCID", "atr": ")") +
                                   kAtr + R"(", "drivers": ")" + drivers +
                                   R"(", "askpin": "true", "tryreusedriver": "true"}]})");
}

Json::Value Parse(const std::string& text) {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = false;
    builder["strictRoot"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors))
        << errors << text;
    return root;
}

// The schema validator's verdict on `document`: its output, empty when valid.
std::string SchemaErrors(const std::string& document) {
    WriteFile("report.json", document);
    const CommandRun run = RunShell("/usr/bin/python3 -m jsonschema -i report.json " +
                                    std::string(LUMIDOR_REPORT_SCHEMA));
    return run.status == 0 ? std::string() : "validator: " + run.output;
}

// The value of a field line of the text report ("ATR carta          3B..."), or "<none>".
std::string Field(const std::string& text, const std::string& name) {
    std::string head = "\n" + name;
    head.append(18 - name.size(), ' ');
    head += ' ';
    const std::size_t at = text.find(head);
    if (at == std::string::npos) {
        return "<none>";
    }
    const std::size_t start = at + head.size();
    return text.substr(start, text.find('\n', start) - start);
}

// The lines of a section ("Messaggi:") of the text report, without their indentation.
std::vector<std::string> Section(const std::string& text, const std::string& title) {
    std::vector<std::string> lines;
    std::size_t at = text.find("\n" + title + "\n");
    if (at == std::string::npos) {
        return lines;
    }
    at += title.size() + 2;
    for (std::size_t end = text.find('\n', at);
         end != std::string::npos && text.compare(at, 2, "  ") == 0;
         at = end + 1, end = text.find('\n', at)) {
        lines.push_back(text.substr(at + 2, end - at - 2));
    }
    return lines;
}

std::vector<std::string> Texts(const Json::Value& array) {
    std::vector<std::string> texts;
    for (const Json::Value& text : array) {
        texts.push_back(text.asString());
    }
    return texts;
}

std::string ResultText(const Json::Value& result) {
    return result["hex"].asString() +
           (result["name"].isNull() ? "" : " (" + result["name"].asString() + ")");
}

// What the text and the JSON report of the same card both say.
void ExpectAgreement(const std::string& text, const Json::Value& json) {
    EXPECT_EQ(Field(text, "Lettore"), json["readerName"].asString());
    EXPECT_EQ(Field(text, "ATR carta"), json["atr"].asString());
    EXPECT_EQ(Field(text, "Driver abbinati"), json["cardDrivers"].asString());
    EXPECT_EQ(Field(text, "Driver in uso"), json["driverInUse"].asString());
    EXPECT_EQ(Field(text, "Posizione driver"), json["driverPath"].asString());
    EXPECT_EQ(Field(text, "Versione driver"), json["driverVersion"].asString());
    EXPECT_EQ(Field(text, "Etichetta token"), json["token"]["label"].asString());
    EXPECT_EQ(Field(text, "Numero seriale"), json["token"]["serialNumber"].asString());
    EXPECT_EQ(Section(text, "Messaggi:"), Texts(json["messages"]));
    EXPECT_NE(text.find("\nRisultato: " + ResultText(json["result"]) + "\n"), std::string::npos)
        << text;
    for (const Json::Value& certificate : json["certificates"]) {
        EXPECT_NE(text.find("\n  " + certificate["name"].asString() + "\n"), std::string::npos);
    }
    for (const Json::Value& reader : json["readers"]) {
        EXPECT_NE(text.find("  " + reader["index"].asString() + "  " + reader["name"].asString()),
                  std::string::npos);
    }
    if (json["test"].isObject()) {
        EXPECT_EQ(Section(text, "Test di firma:"), Texts(json["test"]["lines"]));
        EXPECT_NE(text.find("\nRisultato del test: " + ResultText(json["test"]["result"]) + "\n"),
                  std::string::npos);
    }
}

class CheckReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile("cardlist.json", std::string(R"({"version": "7.1.0.2", "linux": [)"
                                               R"({"type": "CCID", "atr": ")") +
                                       kAtr + R"(", "drivers": ")" + SoftHsmToken::kModule +
                                       R"(", "askpin": "true", "tryreusedriver": "true"}]})");
    }

    // A SoftHSM token holding a certificate of kHolder and its private key.
    void MakeToken() {
        if (!SoftHsmToken::Installed()) {
            GTEST_SKIP() << "SoftHSM 2 is not installed";
        }
        token = std::make_unique<SoftHsmToken>(dir.path(), "Lumidor");
        const std::string made = RunCommand(
            "(openssl req -x509 -newkey rsa:2048 -nodes -utf8 -days 30 -keyout key.pem"
            " -out cert.pem -subj '/CN=" +
            kHolder +
            "/O=Lumidor Test' &&"
            " openssl x509 -in cert.pem -outform DER -out cert.der &&"
            " openssl pkcs8 -topk8 -nocrypt -in key.pem -outform DER -out key.der && echo made)");
        ASSERT_NE(made.find("made"), std::string::npos) << made;
        token->Import(SoftHsmToken::ObjectType::kCertificate, "cert.der", "c1", "Firma");
        token->Import(SoftHsmToken::ObjectType::kPrivateKey, "key.der", "c1", "Firma");
    }

    TempDir dir;
    std::unique_ptr<SoftHsmToken> token;
};

TEST_F(CheckReportTest, HelpAndVersionGoToStandardOutput) {
    const CheckRun help = Check("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("uso: lumidor-check ", 0), 0u) << help.out;
    for (const char* line : {"  --reader NOME", "  --json", "  --quiet", "  --version", "  0  ",
                             "  1  ", "  2  ", "  3  ", "  4  "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }

    const CheckRun version = Check("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lumidor-check " LUMIDOR_PROJECT_VERSION
                           "\ncatalogo: nessuno incorporato (legge cardlist.json)\n");
    EXPECT_EQ(version.err, "");

    // The installed program has the catalogue compiled in.
    Json::Value catalogue;
    Json::CharReaderBuilder builder;
    std::string errors;
    const std::string source = ReadFile(LUMIDOR_CATALOGUE_SOURCE);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    ASSERT_TRUE(reader->parse(source.data(), source.data() + source.size(), &catalogue, &errors));
    const CheckRun embedded = Check("--version", "", LUMIDOR_EMBEDDED_CHECK_PROGRAM);
    EXPECT_EQ(embedded.status, 0);
    EXPECT_EQ(embedded.out, "lumidor-check " LUMIDOR_PROJECT_VERSION "\ncatalogo " +
                                catalogue["version"].asString() + "\n");
}

TEST_F(CheckReportTest, UsageErrorsGoToStandardErrorWithStatusTwo) {
    for (const char* arguments :
         {"--bogus", "--json --quiet", "0 --reader 'Virtual PCD 00 00'", "--reader", "--reader ''",
          "-1", "0 1", "--test --test", "x", "+1", "' 1'", "'1 '", "1a", "0x1"}) {
        SCOPED_TRACE(arguments);
        const CheckRun run = Check(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("lumidor-check: argomenti non validi\nuso: lumidor-check ", 0), 0u)
            << run.err;
    }
}

TEST_F(CheckReportTest, ACardOfTheCatalogueInEveryForm) {
    MakeToken();
    VirtualCard card(1, kAtr);

    const CheckRun text = Check("--reader 'Virtual PCD 00 01'");
    EXPECT_EQ(text.status, 0) << text.out << text.err;
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(Field(text.out, "Lettore"), "Virtual PCD 00 01");
    EXPECT_EQ(Field(text.out, "Origine driver"), "catalogo");
    EXPECT_NE(text.out.find("\n  " + kHolder + "\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nRisultato: 0x00000000 (CKR_OK / SCARD_S_SUCCESS)\n"),
              std::string::npos);

    const CheckRun json = Check("--json 1");
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(SchemaErrors(json.out), "");
    // UTF-8 as it is, not escaped.
    EXPECT_NE(json.out.find("\"subjectCommonName\" : \"" + kHolder + "\""), std::string::npos)
        << json.out;
    const Json::Value report = Parse(json.out);
    ExpectAgreement(text.out, report);
    EXPECT_EQ(report["checkedReader"].asInt(), 1);
    EXPECT_THAT(Texts(report["readers"][1]["stateFlags"]),
                testing::Contains("SCARD_STATE_PRESENT"));
    EXPECT_NE(report["readers"][1]["state"].asUInt() & 0x20u, 0u);
    EXPECT_TRUE(report["readers"][1]["cardPresent"].asBool());
    EXPECT_FALSE(report["readers"][0]["cardPresent"].asBool());
    EXPECT_EQ(report["catalogue"]["source"].asString(), "catalogue");
    EXPECT_EQ(report["catalogue"]["entry"]["drivers"].asString(), SoftHsmToken::kModule);
    EXPECT_EQ(report["token"]["label"].asString(), "Lumidor");
    EXPECT_EQ(report["token"]["model"].asString(), "SoftHSM v2");
    ASSERT_EQ(report["certificates"].size(), 1u);
    const Json::Value& certificate = report["certificates"][0u];
    EXPECT_EQ(certificate["subjectCommonName"].asString(), kHolder);
    EXPECT_EQ(certificate["state"].asString(), "valid");
    EXPECT_EQ(report["result"]["name"].asString(), "CKR_OK / SCARD_S_SUCCESS");
    EXPECT_TRUE(report["test"].isNull());

    const CheckRun quiet = Check("--quiet");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "Risultato: 0x00000000 (CKR_OK / SCARD_S_SUCCESS)\n");
}

TEST_F(CheckReportTest, TheSigningTestInEveryForm) {
    MakeToken();
    VirtualCard card(0, kAtr);
    const std::string pin = std::string(kPin) + "\n";

    const CheckRun text = Check("--test", pin);
    EXPECT_EQ(text.status, 0) << text.out << text.err;
    const CheckRun json = Check("--test --json", pin);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(SchemaErrors(json.out), "");
    const Json::Value report = Parse(json.out);
    ExpectAgreement(text.out, report);
    EXPECT_EQ(Texts(report["test"]["lines"]).front(), "Trovata 1 chiave privata");
    EXPECT_EQ(report["test"]["result"]["code"].asUInt(), 0u);

    const CheckRun refused = Check("--test --json", "970135\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(SchemaErrors(refused.out), "");
    EXPECT_EQ(Parse(refused.out)["test"]["result"]["name"].asString(), "CKR_PIN_INCORRECT");
    const CheckRun quiet = Check("--test --quiet", "970135\n");
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.out, "Risultato del test: 0x000000A0 (CKR_PIN_INCORRECT)\n");
    for (const CheckRun* run : {&text, &json, &refused, &quiet}) {
        EXPECT_EQ(run->out.find(kPin), std::string::npos);
        EXPECT_EQ(run->out.find("970135"), std::string::npos);
    }
}

// The statuses of the checks that find no card or no reader, with their reports.
TEST_F(CheckReportTest, NoCardNoReaderAndAnUnknownCard) {
    struct Case {
        const char* name;
        const char* arguments;
        const char* atr;  // of the card in reader 0; none when empty
        int status;
        const char* result;
        const char* source;  // catalogue.source, null when empty
    };
    const Case cases[] = {
        {"no card", "", "", 4, "0x8010000C (SCARD_E_NO_SMARTCARD)", ""},
        {"no reader of that name", "--reader 'Lettore assente'", "", 3,
         "0x8010002E (SCARD_E_NO_READERS_AVAILABLE)", ""},
        {"no reader at that position", "5", "", 3, "0x8010002E (SCARD_E_NO_READERS_AVAILABLE)", ""},
        {"a position beyond the reader table", "12", "", 3,
         "0x8010002E (SCARD_E_NO_READERS_AVAILABLE)", ""},
        {"a position no number can hold", "99999999999999999999", "", 3,
         "0x8010002E (SCARD_E_NO_READERS_AVAILABLE)", ""},
        {"an unknown card", "", "3B021451", 1, "0x8010000D (SCARD_E_UNKNOWN_CARD)", "system"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VirtualCard> card;
        if (*c.atr != '\0') {
            card = std::make_unique<VirtualCard>(0, c.atr);
        }
        const std::string program = LUMIDOR_CHECK_PROGRAM;
        const CheckRun text = Check(c.arguments, "", program);
        EXPECT_EQ(text.status, c.status) << text.out << text.err;
        EXPECT_NE(text.out.find("\nRisultato: " + std::string(c.result) + "\n"), std::string::npos)
            << text.out << text.err;
        const CheckRun json = Check(std::string(c.arguments) + " --json", "", program);
        EXPECT_EQ(json.status, c.status);
        EXPECT_EQ(SchemaErrors(json.out), "");
        const Json::Value report = Parse(json.out);
        ExpectAgreement(text.out, report);
        EXPECT_EQ(report["catalogue"]["source"].asString(), c.source);
        EXPECT_TRUE(report["catalogue"]["entry"].isNull());
        const CheckRun quiet = Check(std::string(c.arguments) + " --quiet", "", program);
        EXPECT_EQ(quiet.status, c.status);
        EXPECT_EQ(quiet.out, "Risultato: " + std::string(c.result) + "\n");
    }
    const CheckRun named = Check("--reader 'Lettore assente'");
    EXPECT_EQ(named.err, "lumidor-check: nessun lettore di nome 'Lettore assente'\n");
    // An empty reader, named or by position: the report names it.
    for (const char* arguments : {"--reader 'Virtual PCD 00 01'", "1"}) {
        const CheckRun empty = Check(arguments);
        EXPECT_EQ(empty.status, 4) << empty.out;
        EXPECT_EQ(Field(empty.out, "Lettore"), "Virtual PCD 00 01") << empty.out;
    }

    // No PC/SC service at all: an empty reader table.
    const CheckRun none =
        Check("--json", "", "PCSCLITE_CSOCK_NAME=/nonexistent " LUMIDOR_CHECK_PROGRAM);
    EXPECT_EQ(none.status, 3) << none.out << none.err;
    EXPECT_EQ(SchemaErrors(none.out), "");
    EXPECT_EQ(Parse(none.out)["readers"].size(), 0u);
    EXPECT_TRUE(Parse(none.out)["checkedReader"].isNull());
    // The absence of the service is the result, said plainly, with how to start it.
    const CheckRun noService =
        Check("", "", "PCSCLITE_CSOCK_NAME=/nonexistent " LUMIDOR_CHECK_PROGRAM);
    EXPECT_EQ(noService.status, 3);
    EXPECT_NE(noService.out.find("\nRisultato: 0x8010001D (SCARD_E_NO_SERVICE)\n"),
              std::string::npos)
        << noService.out;
    EXPECT_NE(noService.out.find("\n  Il servizio smart card (pcscd) non e' in esecuzione\n"
                                 "  Per avviarlo: sudo systemctl start pcscd.socket\n"),
              std::string::npos)
        << noService.out;
}

TEST_F(CheckReportTest, TheValidatorRefusesADocumentOutsideTheSchema) {
    const std::string valid = Check("--json").out;
    ASSERT_EQ(SchemaErrors(valid), "");
    Json::Value report = Parse(valid);
    report["result"]["hex"] = "8010000C";
    EXPECT_NE(SchemaErrors(report.toStyledString()), "");
    report = Parse(valid);
    report.removeMember("token");
    EXPECT_NE(SchemaErrors(report.toStyledString()), "");
}

// A module's token label is bytes: both reports show it as valid UTF-8, and the JSON document
// stays one that a strict reader takes.
TEST_F(CheckReportTest, ATokenLabelOfInvalidBytesReadsAsValidUtf8) {
    ScriptedModule module(dir.path(), "modulo.so");
    module.SetScript("slot=1|1|Virtual PCD 00 00|Caf\xC3\xA9 \xFF\x01x\n");
    WriteCatalogue(module.path());
    VirtualCard card(0, kAtr);
    const CheckRun text = Check("");
    EXPECT_EQ(text.status, 0) << text.out;
    EXPECT_EQ(Field(text.out, "Etichetta token"), "Caf\xC3\xA9 ? x");
    const CheckRun json = Check("--json");
    EXPECT_EQ(SchemaErrors(json.out), "");
    EXPECT_EQ(Parse(json.out)["token"]["label"].asString(), "Caf\xC3\xA9 ? x");
}

// A module's file name is whatever bytes the catalogue names: the reports stay valid UTF-8.
TEST_F(CheckReportTest, ADriverNameOfInvalidBytesReadsAsValidUtf8) {
    ScriptedModule module(dir.path(), "modulo\xFF.so");
    WriteCatalogue(module.path());
    VirtualCard card(0, kAtr);
    const std::string shown = dir.path() + "/modulo?.so";
    const CheckRun text = Check("");
    EXPECT_EQ(text.status, 0) << text.out;
    EXPECT_EQ(Field(text.out, "Driver in uso"), shown);
    const CheckRun json = Check("--json");
    EXPECT_EQ(SchemaErrors(json.out), "");
    const Json::Value report = Parse(json.out);
    EXPECT_EQ(report["driverInUse"].asString(), shown) << json.out;
    for (const Json::Value& line : report["messages"]) {
        EXPECT_EQ(line.asString().find('\xFF'), std::string::npos) << line.asString();
    }

    // The signing test's lines name the module too, here in its failure.
    module.SetScript("result.C_FindObjectsInit=0x5\n");
    const CheckRun test = Check("--json --test", "1234\n");
    EXPECT_EQ(test.status, 1) << test.out << test.err;
    EXPECT_EQ(SchemaErrors(test.out), "");
    const Json::Value tested = Parse(test.out);
    ASSERT_FALSE(tested["test"]["lines"].empty()) << test.out;
    EXPECT_NE(tested["test"]["lines"][0].asString().find(shown), std::string::npos) << test.out;
}

// The check's driver serves the test: started once, finalised once, when the run ends.
TEST_F(CheckReportTest, TheCheckAndTheTestStartTheDriverOnce) {
    ScriptedModule module(dir.path(), "modulo.so");
    module.SetScript("slot=1|1|Virtual PCD 00 00\nkey=Firma|K1|0|0\n");
    WriteCatalogue(module.path());
    VirtualCard card(0, kAtr);
    const CheckRun run = Check("--test", "1234\n");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(module.Count("starts"), 1);
    EXPECT_EQ(module.Count("finalizes"), 1);
    EXPECT_EQ(module.Count("left.started"), 0);
    EXPECT_EQ(module.Count("loads"), module.Count("unloads"));
}

// Certificates say what they like: a negative serial number, a date in year 0. The JSON report
// stays within its schema.
TEST_F(CheckReportTest, OddCertificatesKeepTheJsonReportInItsSchema) {
    const EvpPkeyPtr key = NewRsaKey(2048);
    CertificateFields fields;
    fields.serialHex = "-0123AB";
    fields.validFrom = -62167219200;   // 0000-01-01T00:00:00Z
    fields.validUntil = 253402300800;  // 10000-01-01T00:00:00Z
    const Bytes der = MakeCertificate(fields, key.get(), key.get());
    WriteFile(dir.path() + "/odd.der", std::string(der.begin(), der.end()));
    ScriptedModule module(dir.path(), "modulo.so");
    module.SetScript("slot=1|1|Virtual PCD 00 00\ncertificate=Strano|C1|" + dir.path() +
                     "/odd.der\n");
    WriteCatalogue(module.path());
    VirtualCard card(0, kAtr);
    const CheckRun json = Check("--json");
    EXPECT_EQ(json.status, 0) << json.out << json.err;
    EXPECT_EQ(SchemaErrors(json.out), "");
    const Json::Value certificates = Parse(json.out)["certificates"];
    ASSERT_EQ(certificates.size(), 1u) << json.out;
    EXPECT_EQ(certificates[0]["serialNumber"].asString(), "-0123AB");
    EXPECT_TRUE(certificates[0]["validFrom"].isNull()) << json.out;
    EXPECT_TRUE(certificates[0]["validUntil"].isNull()) << json.out;
}

TEST_F(CheckReportTest, AnUnusableCatalogueIsStatusTwo) {
    WriteFile("cardlist.json", "{");
    const CheckRun run = Check("--json");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("lumidor-check: ", 0), 0u) << run.err;
}

}  // namespace
