#include "manager/PublicHalf.h"

#include <vector>

#include "manager/Pkcs11Calls.h"

namespace {

// The first object of `objectClass` with this id (and, for certificates, of X.509 type).
bool FindById(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
              const ObjectValue& id, CK_OBJECT_HANDLE* object) {
    ObjectValue idCopy = id;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                             {CKA_ID, idCopy.data(), static_cast<CK_ULONG>(idCopy.size())},
                             {CKA_CERTIFICATE_TYPE, &x509, sizeof x509}};
    const CK_ULONG count = objectClass == CKO_CERTIFICATE ? 3 : 2;
    std::vector<CK_OBJECT_HANDLE> found;
    if (FindTokenObjects(p11, session, search, count, 1, &found) != CKR_OK || found.empty()) {
        return false;
    }
    *object = found.front();
    return true;
}

PublicKey KeyFromObject(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    CK_KEY_TYPE type = 0;
    CK_ATTRIBUTE typeAttribute = {CKA_KEY_TYPE, &type, sizeof type};
    if (MODULE_CALL(p11, C_GetAttributeValue, session, object, &typeAttribute,
                    static_cast<CK_ULONG>(1)) != CKR_OK ||
        typeAttribute.ulValueLen != sizeof type) {
        return {};
    }
    ObjectValue first;
    ObjectValue second;
    if (type == CKK_RSA) {
        if (ReadAttribute(p11, session, object, CKA_MODULUS, &first) != CKR_OK ||
            ReadAttribute(p11, session, object, CKA_PUBLIC_EXPONENT, &second) != CKR_OK) {
            return {};
        }
        return RsaPublicKey(first, second);
    }
    if (type == CKK_EC) {
        if (ReadAttribute(p11, session, object, CKA_EC_PARAMS, &first) != CKR_OK ||
            ReadAttribute(p11, session, object, CKA_EC_POINT, &second) != CKR_OK) {
            return {};
        }
        return EcPublicKey(first, second);
    }
    return {};
}

}  // namespace

PublicHalf FindPublicHalf(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, const ObjectValue& id) {
    PublicHalf half;
    if (id.empty()) {
        return half;
    }
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    if (FindById(p11, session, CKO_PUBLIC_KEY, id, &object)) {
        half.source = PublicHalfSource::PublicKeyObject;
        half.key = KeyFromObject(p11, session, object);
        if (half.key) {
            return half;
        }
    }
    // A public-key object that makes no key leaves the certificate to speak for the key.
    if (FindById(p11, session, CKO_CERTIFICATE, id, &object)) {
        half.source = PublicHalfSource::Certificate;
        ObjectValue value;
        if (ReadAttribute(p11, session, object, CKA_VALUE, &value) == CKR_OK) {
            half.key = CertificatePublicKey(value);
        }
    }
    return half;
}
