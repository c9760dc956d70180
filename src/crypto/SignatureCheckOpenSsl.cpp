#include "crypto/SignatureCheck.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>

#include "crypto/DerCertificateOpenSsl.h"
#include "crypto/OpenSslHandles.h"

// The one way in and out of PublicKey's EVP_PKEY, which its header keeps out of sight.
class PublicKeyAccess {
public:
    static PublicKey Own(EvpPkeyPtr key) {
        PublicKey publicKey;
        if (key) {
            publicKey.m_key = std::shared_ptr<void>(
                key.release(), [](void* owned) { EVP_PKEY_free(static_cast<EVP_PKEY*>(owned)); });
        }
        return publicKey;
    }
    static EVP_PKEY* Get(const PublicKey& key) { return static_cast<EVP_PKEY*>(key.m_key.get()); }
};

namespace {

// A public key of `type` ("RSA", "EC") from OpenSSL parameters; null when they make none.
EvpPkeyPtr KeyFromParameters(const char* type, OSSL_PARAM_BLD* builder) {
    const ParamsPtr parameters(OSSL_PARAM_BLD_to_param(builder));
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!parameters || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, parameters.get()) != 1) {
        return nullptr;
    }
    return EvpPkeyPtr(key);
}

// A big-endian value as a BIGNUM; null when it is empty or zero.
BignumPtr PositiveNumber(const Bytes& bytes) {
    BignumPtr number(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    if (!number || BN_is_zero(number.get())) {
        return nullptr;
    }
    return number;
}

EvpPkeyPtr RsaKey(const Bytes& modulus, const Bytes& exponent) {
    const BignumPtr n = PositiveNumber(modulus);
    const BignumPtr e = PositiveNumber(exponent);
    const ParamBuildPtr builder(OSSL_PARAM_BLD_new());
    if (!n || !e || !builder ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        return nullptr;
    }
    return KeyFromParameters("RSA", builder.get());
}

// OpenSSL's name of the curve whose OID `parameters` holds in DER; null for any other value.
const char* CurveName(const Bytes& parameters) {
    const unsigned char* in = parameters.data();
    const Asn1ObjectPtr oid(d2i_ASN1_OBJECT(nullptr, &in, static_cast<long>(parameters.size())));
    if (!oid || in != parameters.data() + parameters.size()) {
        return nullptr;
    }
    const int nid = OBJ_obj2nid(oid.get());
    return nid == NID_undef ? nullptr : OBJ_nid2sn(nid);
}

// A key on `curve` at the encoded point; null when the point is not a valid one on it.
EvpPkeyPtr EcKey(const char* curve, const unsigned char* point, std::size_t length) {
    const ParamBuildPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || length == 0 ||
        OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point, length) !=
            1) {
        return nullptr;
    }
    EvpPkeyPtr key = KeyFromParameters("EC", builder.get());
    // The import takes the point at infinity, which is no public key.
    const EvpPkeyCtxPtr check(key ? EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr)
                                  : nullptr);
    if (!check || EVP_PKEY_public_check(check.get()) != 1) {
        return nullptr;
    }
    return key;
}

// The content of a DER OCTET STRING that is the whole value; null when `der` is none.
Asn1OctetStringPtr OctetStringContent(const Bytes& der) {
    const unsigned char* in = der.data();
    Asn1OctetStringPtr octets(d2i_ASN1_OCTET_STRING(nullptr, &in, static_cast<long>(der.size())));
    if (!octets || in != der.data() + der.size()) {
        return nullptr;
    }
    return octets;
}

EvpPkeyPtr EcKeyFromObject(const Bytes& parameters, const Bytes& point) {
    const char* curve = CurveName(parameters);
    if (curve == nullptr) {
        return nullptr;
    }
    // A bare uncompressed point starts with 04 too and may happen to read as an OCTET STRING;
    // only a point valid on the curve decides.
    const Asn1OctetStringPtr wrapped = OctetStringContent(point);
    if (wrapped) {
        EvpPkeyPtr key = EcKey(curve, ASN1_STRING_get0_data(wrapped.get()),
                               static_cast<std::size_t>(ASN1_STRING_length(wrapped.get())));
        if (key) {
            return key;
        }
    }
    return EcKey(curve, point.data(), point.size());
}

// PKCS#1 v1.5 with the value itself in the padding: no digest is set, so OpenSSL compares the
// recovered value with `data` whole.
bool RsaPkcs1Verifies(EVP_PKEY* key, const unsigned char* data, std::size_t dataLength,
                      const unsigned char* signature, std::size_t signatureLength) {
    // OpenSSL takes a shorter signature as a smaller number; a token's is exactly as long as
    // the modulus.
    if (signatureLength != static_cast<std::size_t>(EVP_PKEY_get_size(key))) {
        return false;
    }
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_verify(context.get(), signature, signatureLength, data, dataLength) == 1;
}

// The PKCS#11 form r||s, two halves of equal length, each at most as long as the curve's
// order, as OpenSSL's DER ECDSA-Sig-Value; empty for any other length.
Bytes EcdsaDerSignature(EVP_PKEY* key, const unsigned char* signature, std::size_t length) {
    const std::size_t orderLength = static_cast<std::size_t>(EVP_PKEY_get_bits(key) + 7) / 8;
    if (length == 0 || length % 2 != 0 || length > 2 * orderLength) {
        return {};
    }
    const std::size_t half = length / 2;
    BignumPtr r(BN_bin2bn(signature, static_cast<int>(half), nullptr));
    BignumPtr s(BN_bin2bn(signature + half, static_cast<int>(half), nullptr));
    const EcdsaSigPtr value(ECDSA_SIG_new());
    if (!r || !s || !value || ECDSA_SIG_set0(value.get(), r.get(), s.get()) != 1) {
        return {};
    }
    r.release();  // now owned by `value`
    s.release();
    const int derLength = i2d_ECDSA_SIG(value.get(), nullptr);
    if (derLength <= 0) {
        return {};
    }
    Bytes der(static_cast<std::size_t>(derLength));
    unsigned char* out = der.data();
    i2d_ECDSA_SIG(value.get(), &out);
    return der;
}

bool EcdsaVerifies(EVP_PKEY* key, const unsigned char* data, std::size_t dataLength,
                   const unsigned char* signature, std::size_t signatureLength) {
    const Bytes der = EcdsaDerSignature(key, signature, signatureLength);
    if (der.empty()) {
        return false;
    }
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_verify(context.get(), der.data(), der.size(), data, dataLength) == 1;
}

bool KindServesScheme(EVP_PKEY* key, SignatureScheme scheme) {
    switch (scheme) {
        case SignatureScheme::RsaPkcs1:
            return EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA;
        case SignatureScheme::Ecdsa:
            return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC;
    }
    return false;
}

bool SchemeVerifies(EVP_PKEY* key, SignatureScheme scheme, const unsigned char* data,
                    std::size_t dataLength, const unsigned char* signature,
                    std::size_t signatureLength) {
    if (!KindServesScheme(key, scheme)) {
        return false;
    }
    switch (scheme) {
        case SignatureScheme::RsaPkcs1:
            return RsaPkcs1Verifies(key, data, dataLength, signature, signatureLength);
        case SignatureScheme::Ecdsa:
            return EcdsaVerifies(key, data, dataLength, signature, signatureLength);
    }
    return false;
}

// What failed is told by the return value; OpenSSL's per-thread error queue would only grow.
template <typename T>
T ErrorsCleared(T result) {
    ERR_clear_error();
    return result;
}

}  // namespace

PublicKey RsaPublicKey(const Bytes& modulus, const Bytes& exponent) {
    return ErrorsCleared(PublicKeyAccess::Own(RsaKey(modulus, exponent)));
}

PublicKey EcPublicKey(const Bytes& parameters, const Bytes& point) {
    return ErrorsCleared(PublicKeyAccess::Own(EcKeyFromObject(parameters, point)));
}

PublicKey CertificatePublicKey(const Bytes& der) {
    const DecodedCertificate decoded = DecodeCertificate(der.data(), der.size());
    return ErrorsCleared(PublicKeyAccess::Own(
        EvpPkeyPtr(decoded.certificate ? X509_get_pubkey(decoded.certificate.get()) : nullptr)));
}

bool KeyServesScheme(const PublicKey& key, SignatureScheme scheme) {
    EVP_PKEY* evpKey = PublicKeyAccess::Get(key);
    return evpKey != nullptr && KindServesScheme(evpKey, scheme);
}

bool SignatureVerifies(const PublicKey& key, SignatureScheme scheme, const unsigned char* data,
                       std::size_t dataLength, const unsigned char* signature,
                       std::size_t signatureLength) {
    EVP_PKEY* evpKey = PublicKeyAccess::Get(key);
    if (evpKey == nullptr || (data == nullptr && dataLength != 0) || signature == nullptr ||
        signatureLength == 0) {
        return false;
    }
    return ErrorsCleared(
        SchemeVerifies(evpKey, scheme, data, dataLength, signature, signatureLength));
}
