#pragma once

// A DER X.509 certificate decoded by crypt32, the whole value and nothing after it.

#include <windows.h>

// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstddef>
#include <memory>
#include <string>

struct CertificateContextFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using CertificateContextPtr = std::unique_ptr<const CERT_CONTEXT, CertificateContextFree>;

struct DecodedCertificate {
    CertificateContextPtr certificate;  // null when the bytes are no certificate
    std::string problem;                // why, in English; empty when decoded
    // The bytes are one whole DER value that crypt32 does not take as a certificate.
    bool refusedByDecoder = false;
};

DecodedCertificate DecodeCertificate(const unsigned char* der, std::size_t length);
