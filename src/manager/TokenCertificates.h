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
    // The certificate is the token's own: a private key with its CKA_ID is on the token or,
    // where private keys show only after login, a public key with its CKA_ID is, and the
    // certificate is a user's signing certificate (no authority, key usage for signing).
    bool hasPrivateKey = false;
    CertificateContent content;
};

// The X.509 certificates of the session's token, judged at `now`, with one log record each
// under `source`. A certificate whose value cannot be read or parsed is kept as Unreadable.
std::vector<TokenCertificate> ReadTokenCertificates(CK_FUNCTION_LIST* p11,
                                                    CK_SESSION_HANDLE session, std::time_t now,
                                                    const char* source);

// The status lines that warn of the certificates of the token's own keys: expired, not yet
// valid, or expiring within 30 days of `now`.
std::vector<std::string> CertificateWarnings(const std::vector<TokenCertificate>& certificates,
                                             std::time_t now);

// The name a certificate goes by: its holder's CN, else its label, else its id.
std::string CertificateName(const TokenCertificate& certificate);

// Adds `more` to `certificates`: the tokens of one card may show the same certificate, which is
// listed once (same fingerprint), paired with a key when either copy is.
void AppendCertificates(std::vector<TokenCertificate>& certificates,
                        std::vector<TokenCertificate> more);
