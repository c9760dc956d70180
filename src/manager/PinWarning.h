#pragma once

#include <string>

#include "platform/Pkcs11.h"

// The warning for a user PIN that the token flags report locked, at its final try or low on
// tries; empty otherwise. The PIN dialog and the signing test show the same words.
std::string PinWarningText(CK_FLAGS tokenFlags);
