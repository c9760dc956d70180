#include "support/TestKeys.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace {

// The test data cannot be made without these calls; a failure is a broken test set-up.
void Require(bool done, const char* what) {
    if (!done) {
        throw std::runtime_error(std::string("OpenSSL could not ") + what);
    }
}

void AddNamePart(X509_NAME* name, const char* field, const std::string& value) {
    Require(X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0) == 1,
            "add a name part");
}

Bytes BignumBytes(EVP_PKEY* key, const char* parameter) {
    BIGNUM* value = nullptr;
    Require(EVP_PKEY_get_bn_param(key, parameter, &value) == 1, "read a key parameter");
    const BignumPtr owned(value);
    Bytes bytes(static_cast<std::size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    return bytes;
}

EvpPkeyCtxPtr SigningContext(EVP_PKEY* key) {
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    Require(context && EVP_PKEY_sign_init(context.get()) == 1, "start signing");
    return context;
}

Bytes Sign(EVP_PKEY_CTX* context, const Bytes& data) {
    std::size_t length = 0;
    Require(EVP_PKEY_sign(context, nullptr, &length, data.data(), data.size()) == 1,
            "size a signature");
    Bytes signature(length);
    Require(EVP_PKEY_sign(context, signature.data(), &length, data.data(), data.size()) == 1,
            "sign");
    signature.resize(length);
    return signature;
}

}  // namespace

EvpPkeyPtr NewRsaKey(unsigned bits) {
    EvpPkeyPtr key(EVP_RSA_gen(bits));
    Require(key != nullptr, "make an RSA key");
    return key;
}

EvpPkeyPtr NewRsaPssKey(unsigned bits) {
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA-PSS", nullptr));
    EVP_PKEY* key = nullptr;
    Require(context && EVP_PKEY_keygen_init(context.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), static_cast<int>(bits)) == 1 &&
                EVP_PKEY_generate(context.get(), &key) == 1,
            "make an RSA-PSS key");
    return EvpPkeyPtr(key);
}

EvpPkeyPtr NewEcKey(const char* curve) {
    EvpPkeyPtr key(EVP_EC_gen(curve));
    Require(key != nullptr, "make an EC key");
    return key;
}

Bytes MakeCertificate(const CertificateFields& fields, EVP_PKEY* subjectKey, EVP_PKEY* issuerKey) {
    X509Ptr certificate(X509_new());
    Require(certificate && X509_set_version(certificate.get(), X509_VERSION_3) == 1,
            "make a certificate");

    BIGNUM* serial = nullptr;
    Require(BN_hex2bn(&serial, fields.serialHex.c_str()) > 0, "read a serial number");
    const BignumPtr ownedSerial(serial);
    Require(BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate.get())) != nullptr,
            "set the serial number");

    X509_NAME* subject = X509_get_subject_name(certificate.get());
    AddNamePart(subject, "CN", fields.subjectCommonName);
    if (!fields.subjectOrganization.empty()) {
        AddNamePart(subject, "O", fields.subjectOrganization);
    }
    AddNamePart(X509_get_issuer_name(certificate.get()), "CN", fields.issuerCommonName);

    Require(ASN1_TIME_set(X509_getm_notBefore(certificate.get()), fields.validFrom) != nullptr &&
                ASN1_TIME_set(X509_getm_notAfter(certificate.get()), fields.validUntil) != nullptr,
            "set the validity");
    Require(X509_set_pubkey(certificate.get(), subjectKey) == 1, "set the public key");

    if (!fields.keyUsage.empty()) {
        X509_EXTENSION* usage =
            X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, fields.keyUsage.c_str());
        Require(usage != nullptr, "make the key usage extension");
        const int added = X509_add_ext(certificate.get(), usage, -1);
        X509_EXTENSION_free(usage);
        Require(added == 1, "add the key usage extension");
    }
    Require(X509_sign(certificate.get(), issuerKey, EVP_sha256()) > 0, "sign the certificate");

    const int length = i2d_X509(certificate.get(), nullptr);
    Require(length > 0, "encode the certificate");
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    i2d_X509(certificate.get(), &out);
    return der;
}

Bytes RsaModulus(EVP_PKEY* key) {
    return BignumBytes(key, OSSL_PKEY_PARAM_RSA_N);
}

Bytes RsaExponent(EVP_PKEY* key) {
    return BignumBytes(key, OSSL_PKEY_PARAM_RSA_E);
}

Bytes EcParameters(EVP_PKEY* key) {
    char curve[64];
    Require(EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof curve,
                                           nullptr) == 1,
            "read the curve name");
    const ASN1_OBJECT* oid = OBJ_nid2obj(OBJ_sn2nid(curve));
    Require(oid != nullptr, "find the curve's OID");
    const int length = i2d_ASN1_OBJECT(oid, nullptr);
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    i2d_ASN1_OBJECT(oid, &out);
    return der;
}

Bytes EcPoint(EVP_PKEY* key) {
    unsigned char point[256];
    std::size_t length = 0;
    Require(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                            &length) == 1,
            "read the point");
    return Bytes(point, point + length);
}

Bytes WrappedEcPoint(EVP_PKEY* key) {
    const Bytes point = EcPoint(key);
    const Asn1OctetStringPtr octets(ASN1_OCTET_STRING_new());
    Require(octets && ASN1_OCTET_STRING_set(octets.get(), point.data(),
                                            static_cast<int>(point.size())) == 1,
            "wrap the point");
    const int length = i2d_ASN1_OCTET_STRING(octets.get(), nullptr);
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    i2d_ASN1_OCTET_STRING(octets.get(), &out);
    return der;
}

Bytes RsaPkcs1Signature(EVP_PKEY* key, const Bytes& data) {
    const EvpPkeyCtxPtr context = SigningContext(key);
    Require(EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1,
            "choose PKCS#1 padding");
    return Sign(context.get(), data);
}

Bytes EcdsaSignature(EVP_PKEY* key, const Bytes& data) {
    const Bytes der = Sign(SigningContext(key).get(), data);
    const unsigned char* in = der.data();
    const EcdsaSigPtr signature(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(der.size())));
    Require(signature != nullptr, "read the DER signature");
    const int half = static_cast<int>(BignumBytes(key, OSSL_PKEY_PARAM_EC_ORDER).size());
    Bytes rs(2 * static_cast<std::size_t>(half));
    Require(BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), rs.data(), half) == half &&
                BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), rs.data() + half, half) == half,
            "split the signature");
    return rs;
}
