#pragma once

// A DER X.509 certificate decoded by OpenSSL, the whole value and nothing after it.

#include <cstddef>
#include <string>

#include "crypto/OpenSslHandles.h"

struct DecodedCertificate {
    X509Ptr certificate;  // null when the bytes are no certificate
    std::string problem;  // why, in English; empty when decoded
};

DecodedCertificate DecodeCertificate(const unsigned char* der, std::size_t length);
