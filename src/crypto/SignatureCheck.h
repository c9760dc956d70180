#pragma once

// Whether a token's signature of the test value is right, checked with OpenSSL (CryptoAPI and
// CNG on Windows) against the key's public half.

#include <cstddef>
#include <memory>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The public half of a key; empty when the values did not make a usable key.
class PublicKey {
public:
    PublicKey() = default;
    explicit operator bool() const { return m_key != nullptr; }

private:
    friend class PublicKeyAccess;
    std::shared_ptr<void> m_key;  // the implementation's key object
};

// From a public-key object's CKA_MODULUS and CKA_PUBLIC_EXPONENT (big-endian bytes).
PublicKey RsaPublicKey(const Bytes& modulus, const Bytes& exponent);
// From CKA_EC_PARAMS (DER: a named curve's OID) and CKA_EC_POINT (DER OCTET STRING holding
// the point, or the bare point as some modules give it).
PublicKey EcPublicKey(const Bytes& parameters, const Bytes& point);
// From a DER X.509 certificate's subject public key.
PublicKey CertificatePublicKey(const Bytes& der);

enum class SignatureScheme {
    RsaPkcs1,  // CKM_RSA_PKCS: PKCS#1 v1.5 padding over the value itself, no DigestInfo
    Ecdsa,     // CKM_ECDSA: over the value as given; the signature is r||s, halves equal
};

// Whether the key is of the kind that `scheme` verifies with: a plain RSA key for PKCS#1
// v1.5 (not an RSASSA-PSS one, which allows no other padding), an EC key for ECDSA. With a
// key of another kind a signature can be neither confirmed nor refuted.
bool KeyServesScheme(const PublicKey& key, SignatureScheme scheme);

// True when `signature` is the key's signature of `data` under `scheme`; false for a wrong
// signature, a key of another kind, or a signature of the wrong shape. An ECDSA signature
// whose halves are shorter than the curve's order (PKCS#11 allows it) is read as if padded.
bool SignatureVerifies(const PublicKey& key, SignatureScheme scheme, const unsigned char* data,
                       std::size_t dataLength, const unsigned char* signature,
                       std::size_t signatureLength);
