#pragma once

// The public half of a token's key, found by the CKA_ID that the key shares with it: the
// public-key object, else the X.509 certificate.

#include "crypto/SignatureCheck.h"
#include "manager/TokenObjects.h"
#include "platform/Pkcs11.h"

enum class PublicHalfSource { None, PublicKeyObject, Certificate };

struct PublicHalf {
    PublicHalfSource source = PublicHalfSource::None;
    // Empty when the object was found but its values make no key.
    PublicKey key;
};

PublicHalf FindPublicHalf(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, const ObjectValue& id);
