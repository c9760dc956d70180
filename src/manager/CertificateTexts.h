#pragma once

// How a token's certificate reads: its state for each reader of it, and the fields the user
// reads (the window's details and the console check's report show the same list).

#include <string>
#include <vector>

#include "manager/TokenCertificates.h"

// One state's text for each reader: the log (English), the user (Italian) and the console
// check's JSON report (a name for programs).
struct CertificateStateTexts {
    const char* log;
    const char* user;
    const char* json;
};

const CertificateStateTexts& StateTexts(CertificateState state);

// The state as the user reads it: "valido", "scaduto", "non ancora valido", "non leggibile".
inline const char* CertificateStateText(CertificateState state) {
    return StateTexts(state).user;
}

struct CertificateField {
    const char* name;
    std::string value;  // empty when the certificate has none
};

// The fields of a certificate as the user reads them, in order. An unreadable certificate
// shows its label, id, key and state only.
std::vector<CertificateField> CertificateFields(const TokenCertificate& certificate);
