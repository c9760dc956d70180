#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "manager/TokenCertificates.h"
#include "platform/Pkcs11.h"

// What a session on a card's token learned, each part only once the step that reads it
// succeeded, and the session's result.
struct TokenSession {
    uint32_t code = 0;
    std::optional<CK_SLOT_ID> slot;
    std::optional<CK_TOKEN_INFO> token;
    // Read by the final session of a check only.
    std::optional<std::vector<TokenCertificate>> certificates;

    // Takes what a later session learned in place of what this one knew.
    void Update(const TokenSession& later) {
        code = later.code;
        if (later.slot) {
            slot = later.slot;
        }
        if (later.token) {
            token = later.token;
        }
        if (later.certificates) {
            certificates = later.certificates;
        }
    }
};
