#pragma once

// What an X.509 certificate says, read with OpenSSL (crypt32 on Windows): the fields that
// support staff look at when a card stops signing.

#include <cstddef>
#include <ctime>
#include <string>

enum class CertificateState { Valid, Expired, NotYetValid, Unreadable };

struct CertificateContent {
    CertificateState state = CertificateState::Unreadable;
    // Why the value could not be read, in English for the log; empty when it was read.
    std::string problem;
    // Texts as valid UTF-8 without control characters; empty when the name has no such part.
    std::string subjectCommonName;
    std::string subjectOrganization;
    std::string issuerCommonName;
    std::time_t validFrom = 0;
    std::time_t validUntil = 0;
    // The key usage extension's bits by their Italian names, ", " between them; empty when
    // the certificate has no such extension.
    std::string keyUsage;
    // The basic constraints extension says cA: the certificate of an authority, not a user's.
    bool certificateAuthority = false;
    // The key usage extension is absent or allows digital signatures or non-repudiation.
    bool signingUsage = true;
    // Upper-case hexadecimal, no separators.
    std::string serialNumber;
    // SHA-256 of the whole DER value, upper-case hexadecimal byte pairs joined by ':'.
    std::string sha256Fingerprint;
};

// Reads a DER certificate and judges it at `now`. Empty, truncated or non-DER bytes (or bytes
// left over after the certificate) give state Unreadable and a problem text; never throws.
CertificateContent ReadCertificate(const unsigned char* der, std::size_t length, std::time_t now);

// `when` as the user's local date, dd/mm/yyyy; empty when the system cannot convert it (the
// Windows C library takes no time before 1970).
std::string LocalDate(std::time_t when);
