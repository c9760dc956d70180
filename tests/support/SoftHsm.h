#pragma once

// A SoftHSM 2 token store of the test's own: one initialised token in `directory`, named to
// the module (and to every child process) by SOFTHSM2_CONF for the object's lifetime.
//
//     SoftHsmToken token(dir.path(), "Lumidor");
//     token.Import(SoftHsmToken::ObjectType::kCertificate, "valid.cert.der", "a101", "Firma");
//     ... load SoftHsmToken::kModule, use token.slot() / token.serial() ...

#include <string>

#include "platform/Pkcs11.h"
#include "support/Command.h"

class SoftHsmToken {
public:
    static constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";
    static bool Installed();

    // Initialises the token with user PIN 123456 and SO PIN 654321; throws
    // std::runtime_error with softhsm2-util's output when that fails.
    SoftHsmToken(const std::string& directory, const std::string& label);
    ~SoftHsmToken();
    SoftHsmToken(const SoftHsmToken&) = delete;
    SoftHsmToken& operator=(const SoftHsmToken&) = delete;

    // The slot the token was reassigned to, and its serial number as softhsm2-util shows it.
    CK_SLOT_ID slot() const { return m_slot; }
    const std::string& serial() const { return m_serial; }

    enum class ObjectType { kCertificate, kPrivateKey, kPublicKey };
    // Puts an object on the token with pkcs11-tool, logged in: an X.509 certificate from a DER
    // file, a key from a DER or PEM file (PKCS#8 or SubjectPublicKeyInfo). Private keys become
    // CKA_PRIVATE, found only after login. Throws std::runtime_error with pkcs11-tool's output
    // when that fails.
    void Import(ObjectType type, const std::string& file, const std::string& idHex,
                const std::string& label) const;

private:
    CK_SLOT_ID m_slot = 0;
    std::string m_serial;
};
