#pragma once

// p11-kit's header with the standard's own structure member names (slotDescription,
// ulMaxPinLen, ...) rather than p11-kit's lower-case ones.
#define CRYPTOKI_COMPAT 1
#include <p11-kit/pkcs11.h>
