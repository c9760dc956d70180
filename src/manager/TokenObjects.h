#pragma once

// Reading a token's objects in an open session: the searches and the variable-length
// attributes that certificates and public keys are made of. Every length comes from the
// module, so none is trusted beyond the room that was given.

#include <cstddef>
#include <vector>

#include "platform/Pkcs11.h"

using ObjectValue = std::vector<unsigned char>;

// The handles of the objects that match `search`, at most `limit` of them. The search is
// always ended, so that the session is free for the next one. CKR_OK or the failing call's
// answer.
CK_RV FindTokenObjects(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_ATTRIBUTE* search,
                       CK_ULONG searchCount, std::size_t limit,
                       std::vector<CK_OBJECT_HANDLE>* found);

// One attribute of any length: its length is asked first, then the value is read into room
// of that size. A value longer than any the program reads (a certificate chain is far
// shorter) is refused with CKR_DEVICE_MEMORY. CKR_OK or the module's answer.
CK_RV ReadAttribute(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, ObjectValue* value);

// The CKA_IDs of the objects of `objectClass`, for pairing certificates and keys. Objects
// whose id cannot be read are left out.
std::vector<ObjectValue> ObjectIds(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
                                   CK_OBJECT_CLASS objectClass);
