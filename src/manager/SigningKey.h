#pragma once

// A private key of the signing test, and what signing with it came to.

#include <cstdint>
#include <string>

#include "manager/TokenObjects.h"
#include "platform/Pkcs11.h"

// One private key as the test shows and uses it.
struct PrivateKey {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    CK_KEY_TYPE type = CKK_RSA;
    std::string id;
    ObjectValue idBytes;  // what pairs the key with its public half
    std::string label;    // empty when the key has none
    bool alwaysAuthenticate = false;
    bool canSign = true;
};

// The step of a signature that answered.
enum class SignStep { SignInit, Login, Sign };

struct SignAttempt {
    uint32_t code = 0;
    SignStep step = SignStep::Sign;
};

// What one key came to.
enum class KeyVerdict {
    Signed,
    Failed,         // the key's own failure; the test goes on
    NotForSigning,  // the key is not meant to sign; it does not count in the verdict
    BadSignature,   // it signed, but the signature does not verify
    EndsTest,       // C_SignInit refused it in a way that ends the whole test
};

struct KeyOutcome {
    KeyVerdict verdict = KeyVerdict::Signed;
    uint32_t code = 0;
};
