// What the certificate reader makes of certificates OpenSSL made for the test, and of bytes
// that are no certificate.

#include "crypto/Certificate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/Command.h"
#include "support/TempDir.h"
#include "support/TestKeys.h"

namespace {

constexpr std::time_t kNow = 1750000000;  // 15/06/2025

class CertificateTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_caKey = NewRsaKey(2048).release();
        s_key = NewEcKey("P-256").release();
    }
    static void TearDownTestSuite() {
        EVP_PKEY_free(s_caKey);
        EVP_PKEY_free(s_key);
    }

    static Bytes Make(const CertificateFields& fields) {
        return MakeCertificate(fields, s_key, s_caKey);
    }
    static CertificateContent Read(const Bytes& der, std::time_t now = kNow) {
        return ReadCertificate(der.data(), der.size(), now);
    }

    static EVP_PKEY* s_caKey;
    static EVP_PKEY* s_key;
};

EVP_PKEY* CertificateTest::s_caKey = nullptr;
EVP_PKEY* CertificateTest::s_key = nullptr;

TEST_F(CertificateTest, ReadsNamesAsCleanText) {
    CertificateFields fields;
    fields.subjectCommonName = "Niccolò Bianchi";
    fields.subjectOrganization = "Comune di Forlì\tUfficio\nAnagrafe";
    fields.issuerCommonName = "Ente Certificatore Qualificato";
    const CertificateContent content = Read(Make(fields));

    EXPECT_EQ(content.state, CertificateState::Valid);
    EXPECT_EQ(content.problem, "");
    EXPECT_EQ(content.subjectCommonName, "Niccolò Bianchi");
    EXPECT_EQ(content.subjectOrganization, "Comune di Forlì Ufficio Anagrafe");
    EXPECT_EQ(content.issuerCommonName, "Ente Certificatore Qualificato");
}

TEST_F(CertificateTest, MissingOrganizationIsEmpty) {
    EXPECT_EQ(Read(Make({})).subjectOrganization, "");
}

TEST_F(CertificateTest, ReadsDatesOfBothTimeFormsAndShowsThemAsLocalDates) {
    // Rome's summer time moves a late-evening UTC time to the next day.
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    const struct {
        std::time_t when;
        const char* localDate;
    } cases[] = {
        {-157766400, "01/01/1965"},  // before 1970, a UTCTime
        {1750000000, "15/06/2025"},
        {2524607999, "01/01/2050"},  // 31/12/2049 23:59:59 UTC, the last UTCTime
        {2524608000, "01/01/2050"},  // the first GeneralizedTime
        {2571777000, "01/07/2051"},  // 30/06/2051 22:30 UTC
        {4102444800, "01/01/2100"},
    };
    for (const auto& c : cases) {
        CertificateFields fields;
        fields.validFrom = c.when;
        fields.validUntil = c.when + 86400 * 365;
        const CertificateContent content = Read(Make(fields));
        EXPECT_EQ(content.validFrom, c.when);
        EXPECT_EQ(content.validUntil, c.when + 86400 * 365);
        EXPECT_EQ(LocalDate(content.validFrom), c.localDate) << c.when;
    }
}

TEST_F(CertificateTest, StateAtTheGivenTime) {
    const struct {
        std::time_t validFrom;
        std::time_t validUntil;
        CertificateState state;
    } cases[] = {
        {kNow - 1000, kNow + 1000, CertificateState::Valid},
        {kNow, kNow, CertificateState::Valid},  // both ends belong to the validity
        {kNow + 1, kNow + 1000, CertificateState::NotYetValid},
        {kNow - 1000, kNow - 1, CertificateState::Expired},
        {2524608000, 4102444800, CertificateState::NotYetValid},
        {-157766400, 0, CertificateState::Expired},
    };
    for (const auto& c : cases) {
        CertificateFields fields;
        fields.validFrom = c.validFrom;
        fields.validUntil = c.validUntil;
        EXPECT_EQ(Read(Make(fields)).state, c.state) << c.validFrom << " " << c.validUntil;
    }
}

TEST_F(CertificateTest, KeyUsageByItalianNamesInBitOrder) {
    const struct {
        const char* extension;
        const char* names;
    } cases[] = {
        {"", ""},
        {"nonRepudiation", "Non ripudio"},
        {"nonRepudiation,digitalSignature", "Firma digitale, Non ripudio"},
        {"keyCertSign,cRLSign", "Firma certificati, Firma CRL"},
        {"decipherOnly,keyAgreement", "Accordo chiave, Solo decrittografia"},
        {"digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,keyAgreement,"
         "keyCertSign,cRLSign,encipherOnly,decipherOnly",
         "Firma digitale, Non ripudio, Crittografia chiave, Crittografia dati, Accordo chiave, "
         "Firma certificati, Firma CRL, Solo crittografia, Solo decrittografia"},
    };
    for (const auto& c : cases) {
        CertificateFields fields;
        fields.keyUsage = c.extension;
        const CertificateContent content = Read(Make(fields));
        EXPECT_EQ(content.keyUsage, c.names) << c.extension;
        EXPECT_EQ(content.state, CertificateState::Valid) << c.extension;
    }
}

TEST_F(CertificateTest, SerialNumberInHexadecimal) {
    const struct {
        const char* serial;
        const char* shown;
    } cases[] = {
        {"1", "01"},
        {"80", "80"},  // DER needs a zero byte before it
        {"0", "00"},
        {"-5", "-05"},
        {"1234567890ABCDEF1234567890ABCDEF12", "1234567890ABCDEF1234567890ABCDEF12"},
        {"abcdef", "ABCDEF"},
    };
    for (const auto& c : cases) {
        CertificateFields fields;
        fields.serialHex = c.serial;
        EXPECT_EQ(Read(Make(fields)).serialNumber, c.shown) << c.serial;
    }
}

TEST_F(CertificateTest, FingerprintAndSerialAsTheOpensslToolShowsThem) {
    const TempDir directory;
    CertificateFields fields;
    fields.serialHex = "7F00A1";
    const Bytes der = Make(fields);
    WriteFile("certificate.der", std::string(der.begin(), der.end()));
    const std::string shown = RunCommand(
        "openssl x509 -inform DER -in certificate.der -noout -sha256 -fingerprint -serial");

    const CertificateContent content = Read(der);
    EXPECT_EQ(content.sha256Fingerprint.size(), 32u * 3 - 1);
    EXPECT_NE(shown.find("Fingerprint=" + content.sha256Fingerprint + "\n"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("serial=" + content.serialNumber + "\n"), std::string::npos) << shown;
}

// The bytes of `der` with the first occurrence of `from` replaced by `to`.
Bytes Replaced(Bytes der, const std::string& from, const std::string& to) {
    const std::string text(der.begin(), der.end());
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        std::copy(to.begin(), to.end(), der.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return der;
}

TEST_F(CertificateTest, BytesThatAreNoCertificateAreUnreadable) {
    const Bytes der = Make({});
    std::string pem = "-----BEGIN CERTIFICATE-----\nMIIB";
    Bytes random(600);
    unsigned state = 12345;
    for (unsigned char& byte : random) {
        state = state * 1103515245 + 12345;
        byte = static_cast<unsigned char>(state >> 16);
    }
    Bytes withGarbage = der;
    withGarbage.push_back(0x00);
    Bytes twice = der;
    twice.insert(twice.end(), der.begin(), der.end());

    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"first byte only", Bytes(der.begin(), der.begin() + 1)},
        {"header only", Bytes(der.begin(), der.begin() + 4)},
        {"cut at 100", Bytes(der.begin(), der.begin() + 100)},
        {"cut in half", Bytes(der.begin(), der.begin() + static_cast<long>(der.size() / 2))},
        {"one byte short", Bytes(der.begin(), der.end() - 1)},
        {"random", random},
        {"one byte after", withGarbage},
        {"twice", twice},
        {"PEM", Bytes(pem.begin(), pem.end())},
    };
    for (const auto& c : cases) {
        const CertificateContent content = Read(c.bytes);
        EXPECT_EQ(content.state, CertificateState::Unreadable) << c.what;
        EXPECT_NE(content.problem, "") << c.what;
    }
}

TEST_F(CertificateTest, ProblemSaysWhatIsWrong) {
    const Bytes der = Make({});
    Bytes withGarbage = der;
    withGarbage.insert(withGarbage.end(), {0x01, 0x02, 0x03});
    EXPECT_EQ(Read({}).problem, "no certificate bytes");
    EXPECT_EQ(Read(withGarbage).problem, "3 bytes follow the certificate's DER value");
    EXPECT_EQ(Read(Bytes(der.begin(), der.end() - 1)).problem.rfind("not a DER X.509", 0), 0u);
    // 1700000000 is 14/11/2023 22:13:20 UTC; OpenSSL decodes a UTCTime text that is no time.
    EXPECT_EQ(Read(Replaced(der, "231114221320Z", "2311142213XXZ")).problem,
              "the validity dates are no valid times");
}

TEST_F(CertificateTest, RepeatedKeyUsageIsUnreadable) {
    CertificateFields fields;
    fields.keyUsage = "digitalSignature";
    const Bytes der = Make(fields);
    // Re-encoded with the extension twice, as RFC 5280 forbids.
    const unsigned char* in = der.data();
    const X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(der.size())));
    ASSERT_TRUE(certificate);
    ASSERT_EQ(X509_add_ext(certificate.get(), X509_get_ext(certificate.get(), 0), -1), 1);
    ASSERT_GT(X509_sign(certificate.get(), s_caKey, EVP_sha256()), 0);
    Bytes repeated(static_cast<std::size_t>(i2d_X509(certificate.get(), nullptr)));
    unsigned char* out = repeated.data();
    i2d_X509(certificate.get(), &out);

    const CertificateContent content = Read(repeated);
    EXPECT_EQ(content.state, CertificateState::Unreadable);
    EXPECT_EQ(content.problem, "the key usage extension is repeated or does not decode");
}

}  // namespace
