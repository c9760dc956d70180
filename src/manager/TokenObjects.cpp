#include "manager/TokenObjects.h"

#include <new>

#include "manager/Pkcs11Calls.h"

namespace {

constexpr CK_ULONG kMaxAttributeSize = 1 << 20;
constexpr std::size_t kMaxPairedObjects = 256;
constexpr CK_ULONG kSearchBatch = 32;

}  // namespace

CK_RV FindTokenObjects(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_ATTRIBUTE* search,
                       CK_ULONG searchCount, std::size_t limit,
                       std::vector<CK_OBJECT_HANDLE>* found) {
    found->clear();
    CK_RV rv = MODULE_CALL(p11, C_FindObjectsInit, session, search, searchCount);
    if (rv != CKR_OK) {
        return rv;
    }
    CK_OBJECT_HANDLE batch[kSearchBatch];
    while (found->size() < limit) {
        CK_ULONG count = 0;
        rv = MODULE_CALL(p11, C_FindObjects, session, batch, kSearchBatch, &count);
        if (rv != CKR_OK || count == 0) {
            break;
        }
        // A module may count more than it had room to write: only the array is read.
        const CK_ULONG written = count < kSearchBatch ? count : kSearchBatch;
        for (CK_ULONG i = 0; i < written && found->size() < limit; ++i) {
            found->push_back(batch[i]);
        }
    }
    const CK_RV ended = MODULE_CALL(p11, C_FindObjectsFinal, session);
    return rv != CKR_OK ? rv : ended;
}

CK_RV ReadAttribute(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                    CK_ATTRIBUTE_TYPE type, ObjectValue* value) {
    value->clear();
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    CK_RV rv = MODULE_CALL(p11, C_GetAttributeValue, session, object, &attribute,
                           static_cast<CK_ULONG>(1));
    if (rv != CKR_OK) {
        return rv;
    }
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (attribute.ulValueLen > kMaxAttributeSize) {
        return CKR_DEVICE_MEMORY;
    }
    if (attribute.ulValueLen == 0) {
        return CKR_OK;
    }
    try {
        value->assign(attribute.ulValueLen, 0);
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
    attribute.pValue = value->data();
    rv = MODULE_CALL(p11, C_GetAttributeValue, session, object, &attribute,
                     static_cast<CK_ULONG>(1));
    // A length beyond the room given cannot have been written: never read past it.
    if (rv == CKR_OK && attribute.ulValueLen > value->size()) {
        rv = CKR_BUFFER_TOO_SMALL;
    }
    if (rv != CKR_OK) {
        value->clear();
        return rv;
    }
    value->resize(attribute.ulValueLen);
    return CKR_OK;
}

std::vector<ObjectValue> ObjectIds(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session,
                                   CK_OBJECT_CLASS objectClass) {
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass}};
    std::vector<CK_OBJECT_HANDLE> objects;
    FindTokenObjects(p11, session, search, 1, kMaxPairedObjects, &objects);
    std::vector<ObjectValue> ids;
    for (CK_OBJECT_HANDLE object : objects) {
        ObjectValue id;
        if (ReadAttribute(p11, session, object, CKA_ID, &id) == CKR_OK) {
            ids.push_back(std::move(id));
        }
    }
    return ids;
}
