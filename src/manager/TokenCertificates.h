#pragma once

// The X.509 certificates on a token, read in a session without login (certificates are public
// objects), with what the token holds beside them.

#include <ctime>
#include <string>
#include <vector>

#include "crypto/Certificate.h"
#include "platform/Pkcs11.h"

struct TokenCertificate {
    std::string label;  // CKA_LABEL as a key label text
    std::string id;     // CKA_ID as a key id text
    // A private key with the same CKA_ID is on the token.
    bool hasPrivateKey = false;
    CertificateContent content;
};
