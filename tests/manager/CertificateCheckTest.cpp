// The token's certificates as a check reads them: the scriptable module holding certificates
// made at test time, good and bad ones.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/Certificate.h"
#include "manager/TokenCertificates.h"
#include "support/LogRecords.h"
#include "support/ManagerFixture.h"
#include "support/TestCertificates.h"
#include "testmodule/ScriptedModule.h"

namespace {

class CertificateCheckTest : public ManagerTest {
protected:
    void SetUp() override {
        ManagerTest::SetUp();
        manager->m_readerName = "Reader A";
    }
    // A certificate object, and for "key" a key pair with its id: the private key, hidden
    // until login, and its public half.
    std::string Certificate(const std::string& name, const std::string& id, bool key) const {
        const TestCertificate& c = certificates.Get(name);
        std::string script = "certificate=" + name + "|" + id + "|" + c.certificateDer + "\n";
        if (key) {
            script +=
                "key=" + name + "|" + id + "|0|0\npublic_key=" + id + "|" + c.publicKeyPem + "\n";
        }
        return script;
    }
    uint32_t Check(const std::string& script) {
        module.SetScript(script);
        manager->m_drivers = {module.path()};
        return manager->CheckDriver(0);
    }
    // The message list's certificate warnings, without the check's own lines.
    std::vector<std::string> Warnings() const {
        std::vector<std::string> lines;
        for (const std::string& line : status.lines) {
            if (line.rfind("Attenzione:", 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    const TokenCertificate* Find(const std::string& label) const {
        for (const TokenCertificate& certificate : manager->m_certificates) {
            if (certificate.label == label) {
                return &certificate;
            }
        }
        return nullptr;
    }

    TestCertificates certificates{dir.path() + "/certificates"};
    ScriptedModule module{dir.path(), "mod.so"};
};

TEST_F(CertificateCheckTest, ReadsEachCertificateAndWarnsOfTheTokensOwn) {
    const std::string der = ReadFile(certificates.Get("valid").certificateDer);
    WriteFile(dir.path() + "/empty.der", "");
    WriteFile(dir.path() + "/truncated.der", der.substr(0, der.size() / 2));
    const std::string script =
        Certificate("valid", "V", true) + Certificate("expired", "E", true) +
        Certificate("expiring", "S", true) + Certificate("notyet", "F", true) +
        Certificate("nokey", "N", false) + "certificate=empty|X1|" + dir.path() +
        "/empty.der\ncertificate=truncated|X2|" + dir.path() + "/truncated.der\n" +
        "certificate=pem|X3|" + certificates.Get("valid").privateKeyPem + "\n";

    ASSERT_EQ(Check(script), 0u) << testing::PrintToString(status.lines);

    const TestCertificate& expired = certificates.Get("expired");
    const TestCertificate& expiring = certificates.Get("expiring");
    const TestCertificate& notYet = certificates.Get("notyet");
    EXPECT_EQ(Warnings(),
              (std::vector<std::string>{"Attenzione: il certificato '" + expired.commonName +
                                            "' e' scaduto il " + LocalDate(expired.validUntil),
                                        "Attenzione: il certificato '" + expiring.commonName +
                                            "' scade il " + LocalDate(expiring.validUntil),
                                        "Attenzione: il certificato '" + notYet.commonName +
                                            "' sara' valido dal " + LocalDate(notYet.validFrom)}));

    ASSERT_EQ(manager->m_certificates.size(), 8u);
    const TestCertificate& valid = certificates.Get("valid");
    const TokenCertificate* read = Find("valid");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->id, "V");
    EXPECT_TRUE(read->hasPrivateKey);
    EXPECT_EQ(read->content.state, CertificateState::Valid);
    EXPECT_EQ(read->content.subjectCommonName, valid.commonName);
    EXPECT_EQ(read->content.subjectOrganization, "Lumidor Test");
    EXPECT_EQ(read->content.issuerCommonName, "Lumidor Test CA");
    EXPECT_EQ(read->content.validFrom, valid.validFrom);
    EXPECT_EQ(read->content.validUntil, valid.validUntil);
    EXPECT_EQ(read->content.keyUsage, "Firma digitale, Non ripudio");

    const std::vector<std::pair<std::string, CertificateState>> states = {
        {"expired", CertificateState::Expired},    {"expiring", CertificateState::Valid},
        {"notyet", CertificateState::NotYetValid}, {"nokey", CertificateState::Valid},
        {"empty", CertificateState::Unreadable},   {"truncated", CertificateState::Unreadable},
        {"pem", CertificateState::Unreadable}};
    for (const auto& [label, state] : states) {
        const TokenCertificate* certificate = Find(label);
        ASSERT_NE(certificate, nullptr) << label;
        EXPECT_EQ(certificate->content.state, state) << label;
    }
    EXPECT_FALSE(Find("nokey")->hasPrivateKey);

    // One record for each certificate; the unreadable ones say so.
    const std::vector<LoggedRecord> records = FinishLog();
    int described = 0;
    int unreadable = 0;
    for (const LoggedRecord& record : records) {
        if (record.text.rfind("Certificate '", 0) == 0) {
            ++described;
            unreadable += record.text.find("cannot be read") != std::string::npos ? 1 : 0;
        }
    }
    EXPECT_EQ(described, 8);
    EXPECT_EQ(unreadable, 3);
}

struct PairingCase {
    const char* what;
    std::string script;  // besides the certificate with id "V"
    bool hasPrivateKey;
};

void PrintTo(const PairingCase& c, std::ostream* out) {
    *out << c.what;
}

class CertificatePairingTest : public CertificateCheckTest,
                               public ::testing::WithParamInterface<PairingCase> {};

// Without login a token may hide its private keys: the public half then stands for the pair.
TEST_P(CertificatePairingTest, PairsTheCertificateWithTheKeyOfItsId) {
    const PairingCase& c = GetParam();
    const std::string publicKey = certificates.Get("expired").publicKeyPem;
    std::string script = Certificate("expired", "V", false) + c.script;
    const std::size_t at = script.find("@public");
    if (at != std::string::npos) {
        script.replace(at, 7, publicKey);
    }
    ASSERT_EQ(Check(script), 0u);
    ASSERT_EQ(manager->m_certificates.size(), 1u);
    EXPECT_EQ(manager->m_certificates[0].hasPrivateKey, c.hasPrivateKey);
    // The expired certificate warns only when the token holds its key.
    EXPECT_EQ(Warnings().size(), c.hasPrivateKey ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CertificatePairingTest,
    ::testing::Values(
        PairingCase{"VisiblePrivateKey", "private_keys_hidden=0\nkey=K|V|0|0\n", true},
        PairingCase{"HiddenPrivateKeyWithPublicKey", "key=K|V|0|0\npublic_key=V|@public\n", true},
        PairingCase{"PublicKeyOfAnotherId",
                    "private_keys_hidden=0\nkey=K|W|0|0\n"
                    "public_key=W|@public\n",
                    false},
        PairingCase{"HiddenPrivateKeyAlone", "key=K|V|0|0\n", false}),
    [](const ::testing::TestParamInfo<PairingCase>& info) { return std::string(info.param.what); });

struct OwnershipCase {
    const char* certificate;  // of the test set, each of them expired
    bool privateKeyVisible;   // else only the public key shows, as before a login
    bool own;
};

void PrintTo(const OwnershipCase& c, std::ostream* out) {
    *out << c.certificate << (c.privateKeyVisible ? " with its private key" : " with a public key");
}

class CertificateOwnershipTest : public CertificateCheckTest,
                                 public ::testing::WithParamInterface<OwnershipCase> {};

// Some modules publish a public key for every certificate, an authority's too: a public key
// alone makes only a user's signing certificate the token's own.
TEST_P(CertificateOwnershipTest, APublicKeyAloneStandsOnlyForASigningCertificate) {
    const OwnershipCase& c = GetParam();
    const TestCertificate& certificate = certificates.Get(c.certificate);
    std::string script =
        Certificate(c.certificate, "V", false) + "public_key=V|" + certificate.publicKeyPem + "\n";
    if (c.privateKeyVisible) {
        script += "private_keys_hidden=0\nkey=K|V|0|0\n";
    }
    ASSERT_EQ(Check(script), 0u);
    ASSERT_EQ(manager->m_certificates.size(), 1u);
    EXPECT_EQ(manager->m_certificates[0].hasPrivateKey, c.own);
    EXPECT_EQ(manager->m_certificates[0].content.state, CertificateState::Expired);
    const std::vector<std::string> expired = {"Attenzione: il certificato '" +
                                              certificate.commonName + "' e' scaduto il " +
                                              LocalDate(certificate.validUntil)};
    EXPECT_EQ(Warnings(), c.own ? expired : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CertificateOwnershipTest,
    ::testing::Values(OwnershipCase{"expired", false, true}, OwnershipCase{"nousage", false, true},
                      OwnershipCase{"oldca", false, false}, OwnershipCase{"cipher", false, false},
                      OwnershipCase{"oldca", true, true}, OwnershipCase{"cipher", true, true}),
    [](const ::testing::TestParamInfo<OwnershipCase>& info) {
        return std::string(info.param.certificate) +
               (info.param.privateKeyVisible ? "WithPrivateKey" : "WithPublicKeyAlone");
    });

TEST_F(CertificateCheckTest, AreReadOnlyInTheFinalSessionAndEmptiedWithTheTokenFields) {
    ScriptedModule second(dir.path(), "second.so");
    const std::string script = Certificate("valid", "V", true);
    module.SetScript(script);
    second.SetScript(script);
    ASSERT_EQ(manager->FindDriver(module.path() + "," + second.path(), "Reader A", ""), 0u);
    EXPECT_EQ(manager->m_certificates.size(), 1u);
    // The second module only had its trial session: no search of its objects.
    EXPECT_EQ(second.Count("calls.C_FindObjectsInit"), 0);
    EXPECT_GT(module.Count("calls.C_FindObjectsInit"), 0);

    EXPECT_NE(manager->CheckDriver(5), 0u);
    EXPECT_TRUE(manager->m_certificates.empty());
}

}  // namespace
