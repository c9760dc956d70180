#pragma once

// The fixed set of test certificates that tools/make_test_certificates.py makes (a CA and the
// user certificates it signed, each with its key), made afresh into a directory of the test's:
//
//     TestCertificates certificates(dir.path() + "/certificates");
//     const TestCertificate& valid = certificates.Get("valid");
//
// The set, by name (CKA_ID, subject CN; subject O "Lumidor Test"; issuer CN "Lumidor Test CA",
// O "Lumidor"; key usage digitalSignature and nonRepudiation):
//     valid     a101  Mario Rossi      RSA 2048   now-365d .. now+730d
//     expired   a102  Anna Scaduta     RSA 2048   2020-01-01 .. 2021-01-01
//     expiring  a103  Luca Inscadenza  RSA 2048   now-365d .. now+10d
//     notyet    a104  Futura Bianchi   RSA 2048   2090-01-01 .. 2095-01-01
//     nokey     a105  Senza Chiave     RSA 2048   now-365d .. now+730d (key for no token)
//     ec        a106  Elena Curva      EC P-256   now-365d .. now+730d
//     oldca     a107  Vecchia CA       RSA 2048   2010-01-01 .. 2020-01-01 (an authority's)
//     cipher    a108  Cifra Soltanto   RSA 2048   2020-01-01 .. 2021-01-01 (keyEncipherment)
//     nousage   a109  Senza Uso        RSA 2048   2020-01-01 .. 2021-01-01 (no key usage)

#include <cstdint>
#include <string>
#include <vector>

struct TestCertificate {
    std::string name;             // "valid", "expired", ...
    std::string idHex;            // CKA_ID in lower-case hex, as pkcs11-tool's --id takes it
    std::string id;               // the same bytes
    std::string commonName;       // the subject's CN
    std::string keyType;          // "rsa" or "ec"
    std::int64_t validFrom = 0;   // notBefore, seconds since the epoch
    std::int64_t validUntil = 0;  // notAfter, seconds since the epoch
    // Full paths of the files.
    std::string certificateDer;
    std::string privateKeyPem;  // PKCS#8
    std::string privateKeyDer;  // PKCS#8
    std::string publicKeyPem;   // SubjectPublicKeyInfo
    std::string publicKeyDer;   // SubjectPublicKeyInfo
};

class TestCertificates {
public:
    // Runs the maker into `directory` (created when missing) and reads its manifest; throws
    // std::runtime_error with the maker's output when it fails.
    explicit TestCertificates(const std::string& directory);

    // The entry of that name; throws std::out_of_range for a name not in the set.
    const TestCertificate& Get(const std::string& name) const;
    const std::vector<TestCertificate>& all() const { return m_certificates; }
    // The CA's certificate, DER and PEM, and its PKCS#8 PEM private key.
    const std::string& caCertificateDer() const { return m_caCertificateDer; }
    const std::string& caCertificatePem() const { return m_caCertificatePem; }
    const std::string& caPrivateKeyPem() const { return m_caPrivateKeyPem; }

private:
    std::vector<TestCertificate> m_certificates;
    std::string m_caCertificateDer;
    std::string m_caCertificatePem;
    std::string m_caPrivateKeyPem;
};
