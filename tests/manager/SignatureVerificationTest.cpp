// Each signature of the test is checked against its key's public half: the scriptable module
// with real key material, public keys and certificates made at test time.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SigningFixture.h"
#include "support/Command.h"
#include "support/TestCertificates.h"

namespace {

const std::string kNoPublicHalf =
    "The signature of key 'K1' could not be verified: the token holds no public key or "
    "certificate with its id.";
const std::string kUnreadablePublicHalf =
    "The signature of key 'K1' could not be verified: its public key or certificate could "
    "not be read.";

// The script's lines for a key K<n> with the given parts of test certificate `name`.
std::string Key(const TestCertificates& set, int n, const std::string& name,
                const std::string& parts, const std::string& label = "Firma") {
    const TestCertificate& c = set.Get(name);
    const std::string id = "K" + std::to_string(n);
    std::string script = "key=" + label + "|" + id + "|" + (c.keyType == "ec" ? "3" : "0") + "|0\n";
    if (parts.find("material") != std::string::npos)
        script += "key_material=" + id + "|" + c.privateKeyPem + "\n";
    if (parts.find("public") != std::string::npos)
        script += "public_key=" + id + "|" + c.publicKeyPem + "\n";
    if (parts.find("certificate") != std::string::npos)
        script += "certificate=Cert|" + id + "|" + c.certificateDer + "\n";
    return script;
}

// The signing test's fixture with the test certificate set.
class SignatureVerificationTest : public SigningTest {
protected:
    void SetUp() override {
        SigningTest::SetUp();
        certificates = std::make_unique<TestCertificates>(dir.path() + "/certificates");
    }

    std::unique_ptr<TestCertificates> certificates;
};

struct VerificationCase {
    const char* what;
    std::string (*script)(const TestCertificates&);
    uint32_t result;
    std::vector<std::string> lines;
    std::string record;  // the log record that tells how the key's signature was judged
    uint32_t recordCode;
};

void PrintTo(const VerificationCase& c, std::ostream* out) {
    *out << c.what;
}

class SignatureVerificationCaseTest : public SignatureVerificationTest,
                                      public ::testing::WithParamInterface<VerificationCase> {};

TEST_P(SignatureVerificationCaseTest, JudgesEachSignatureByItsPublicHalf) {
    const VerificationCase& c = GetParam();
    EXPECT_EQ(Run(c.script(*certificates)), c.result);
    EXPECT_EQ(status.lines, c.lines);
    EXPECT_EQ(module->Count("sessions.open"), 0);
    const std::vector<LoggedRecord> records = RecordsWithText(FinishLog(), c.record);
    ASSERT_EQ(records.size(), 1u) << c.record;
    EXPECT_EQ(records[0].code, c.recordCode);
}

INSTANTIATE_TEST_SUITE_P(
    Halves, SignatureVerificationCaseTest,
    ::testing::Values(
        VerificationCase{
            "RsaKeyWithItsPublicKey",
            [](const TestCertificates& set) { return Key(set, 1, "valid", "material,public"); },
            0,
            {"Trovata 1 chiave privata", kSigned, kPassed},
            "The signature of key 'K1' verifies with its public key.",
            0},
        VerificationCase{"RsaKeyWithItsCertificateOnly",
                         [](const TestCertificates& set) {
                             return Key(set, 1, "valid", "material,certificate");
                         },
                         0,
                         {"Trovata 1 chiave privata", kSigned, kPassed},
                         "The signature of key 'K1' verifies with its certificate.",
                         0},
        VerificationCase{"EcKeyWithItsPublicKey",
                         [](const TestCertificates& set) {
                             return Key(set, 1, "ec", "material,public,certificate");
                         },
                         0,
                         {"Trovata 1 chiave privata", kSigned, kPassed},
                         "The signature of key 'K1' verifies with its public key.",
                         0},
        VerificationCase{"SignatureThatDoesNotVerify",
                         [](const TestCertificates& set) { return Key(set, 1, "valid", "public"); },
                         0xC0,
                         {"Trovata 1 chiave privata",
                          "La firma della credenziale 'K1' (Firma) non e' valida", kFailed},
                         "La firma della credenziale 'K1' (Firma) non e' valida",
                         0xC0},
        VerificationCase{
            "SignatureThatDoesNotVerifyWithoutLabel",
            [](const TestCertificates& set) { return Key(set, 1, "valid", "certificate", ""); },
            0xC0,
            {"Trovata 1 chiave privata", "La firma della credenziale 'K1' non e' valida", kFailed},
            "La firma della credenziale 'K1' non e' valida",
            0xC0},
        // Signed with another key's private half: as wrong as bytes that are no signature.
        VerificationCase{"SignatureOfAnotherKey",
                         [](const TestCertificates& set) {
                             return Key(set, 1, "valid", "material") + "public_key=K1|" +
                                    set.Get("expired").publicKeyPem + "\n";
                         },
                         0xC0,
                         {"Trovata 1 chiave privata",
                          "La firma della credenziale 'K1' (Firma) non e' valida", kFailed},
                         "La firma della credenziale 'K1' (Firma) non e' valida",
                         0xC0},
        VerificationCase{
            "NoPublicHalf",
            [](const TestCertificates& set) { return Key(set, 1, "valid", "material"); },
            0,
            {"Trovata 1 chiave privata", kSigned, kPassed},
            kNoPublicHalf,
            0},
        VerificationCase{"CertificateThatIsNoCertificate",
                         [](const TestCertificates& set) {
                             return Key(set, 1, "valid", "material") + "certificate=Cert|K1|" +
                                    set.Get("valid").privateKeyPem + "\n";
                         },
                         0,
                         {"Trovata 1 chiave privata", kSigned, kPassed},
                         kUnreadablePublicHalf,
                         0}),
    [](const ::testing::TestParamInfo<VerificationCase>& info) {
        return std::string(info.param.what);
    });

// A signature that does not verify fails the test whichever key comes after it.
TEST_F(SignatureVerificationTest, AWrongSignatureFailsTheTestWhereverItsKeyIs) {
    const std::string wrong = "La firma della credenziale 'K1' (B) non e' valida";
    const std::string secondSigned = "La credenziale 'K2' (Firma) ha firmato correttamente";
    EXPECT_EQ(Run(Key(*certificates, 1, "expiring", "public", "B") +
                  Key(*certificates, 2, "valid", "material,public")),
              0xC0u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{"Trovate 2 chiavi private", wrong, secondSigned, kFailed}));

    status.lines.clear();
    EXPECT_EQ(Run(Key(*certificates, 1, "valid", "material,public") +
                  Key(*certificates, 2, "expiring", "public", "B")),
              0xC0u);
    EXPECT_EQ(status.lines, (std::vector<std::string>{
                                "Trovate 2 chiavi private", kSigned,
                                "La firma della credenziale 'K2' (B) non e' valida", kFailed}));
}

// An RSASSA-PSS key allows no PKCS#1 v1.5 padding: its certificate can neither confirm nor
// refute the signature.
TEST_F(SignatureVerificationTest, APublicHalfOfAnotherKindCannotJudgeTheSignature) {
    const std::string pss = dir.path() + "/pss.cert.der";
    const CommandRun made = RunShell(
        "openssl req -x509 -newkey rsa-pss -pkeyopt rsa_keygen_bits:2048 -nodes -keyout '" +
        dir.path() + "/pss.key.pem' -subj /CN=PSS -days 30 -outform DER -out '" + pss + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_EQ(Run(Key(*certificates, 1, "valid", "material") + "certificate=Cert|K1|" + pss + "\n"),
              0u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{"Trovata 1 chiave privata", kSigned, kPassed}));
    EXPECT_EQ(RecordsWithText(FinishLog(),
                              "The signature of key 'K1' could not be verified: its certificate "
                              "holds a key of a kind the mechanism does not use.")
                  .size(),
              1u);
}

// The id pairs the key with its public half, whatever its length.
TEST_F(SignatureVerificationTest, AKeyIdLongerThanItsFieldIsReadWhole) {
    const std::string id(80, 'L');
    const TestCertificate& c = certificates->Get("valid");
    EXPECT_EQ(Run("key=Firma|" + id + "|0|0\nkey_material=" + id + "|" + c.privateKeyPem +
                  "\npublic_key=" + id + "|" + c.publicKeyPem + "\n"),
              0u);
    EXPECT_EQ(status.lines,
              (std::vector<std::string>{
                  "Trovata 1 chiave privata",
                  "La credenziale '" + id + "' (Firma) ha firmato correttamente", kPassed}));
    EXPECT_EQ(RecordsWithText(FinishLog(),
                              "The signature of key '" + id + "' verifies with its public key.")
                  .size(),
              1u);
}

}  // namespace
