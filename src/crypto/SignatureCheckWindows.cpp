#include "crypto/SignatureCheck.h"

#include <windows.h>

// After windows.h, which they need.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "crypto/DerCertificateWindows.h"
#include "crypto/DerValue.h"
#include "crypto/NistCurvePoint.h"

namespace {

enum class KeyKind { Rsa, Ec, ServesNothing };

// A public key as CryptoAPI (RSA: it alone verifies PKCS#1 v1.5 over a value that is no
// digest, where CNG under Wine refuses) or CNG (ECDSA) holds it.
struct WindowsKey {
    KeyKind kind = KeyKind::ServesNothing;
    HCRYPTPROV provider = 0;
    HCRYPTKEY rsaKey = 0;
    std::size_t modulusLength = 0;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE ecKey = nullptr;
    std::size_t orderLength = 0;

    WindowsKey() = default;
    WindowsKey(const WindowsKey&) = delete;
    WindowsKey& operator=(const WindowsKey&) = delete;
    ~WindowsKey() {
        if (rsaKey != 0) {
            CryptDestroyKey(rsaKey);
        }
        if (provider != 0) {
            CryptReleaseContext(provider, 0);
        }
        if (ecKey != nullptr) {
            BCryptDestroyKey(ecKey);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

using WindowsKeyPtr = std::unique_ptr<WindowsKey>;

}  // namespace

// The one way in and out of PublicKey's WindowsKey, which its header keeps out of sight.
class PublicKeyAccess {
public:
    static PublicKey Own(WindowsKeyPtr key) {
        PublicKey publicKey;
        if (key) {
            publicKey.m_key = std::shared_ptr<void>(
                key.release(), [](void* owned) { delete static_cast<WindowsKey*>(owned); });
        }
        return publicKey;
    }
    static const WindowsKey* Get(const PublicKey& key) {
        return static_cast<const WindowsKey*>(key.m_key.get());
    }
};

namespace {

// Memory that CryptDecodeObjectEx allocated for the caller.
struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

Bytes WithoutLeadingZeros(const Bytes& number) {
    const auto first =
        std::find_if(number.begin(), number.end(), [](unsigned char byte) { return byte != 0; });
    return Bytes(first, number.end());
}

// From big-endian modulus and exponent; null when either is empty or zero, or the exponent
// does not fit the 32 bits CryptoAPI keeps for it.
WindowsKeyPtr RsaKey(const Bytes& modulus, const Bytes& exponent) {
    const Bytes n = WithoutLeadingZeros(modulus);
    const Bytes e = WithoutLeadingZeros(exponent);
    if (n.empty() || e.empty() || e.size() > sizeof(DWORD) || n.size() > MAXDWORD / 8) {
        return nullptr;
    }
    DWORD exponentValue = 0;
    for (unsigned char byte : e) {
        exponentValue = (exponentValue << 8) | byte;
    }
    // PUBLICKEYBLOB: the headers, then the modulus least significant byte first.
    const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_SIGN};
    const RSAPUBKEY rsa{0x31415352 /* "RSA1" */, static_cast<DWORD>(n.size() * 8), exponentValue};
    Bytes blob(sizeof header + sizeof rsa);
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, &rsa, sizeof rsa);
    blob.insert(blob.end(), n.rbegin(), n.rend());

    auto key = std::make_unique<WindowsKey>();
    key->kind = KeyKind::Rsa;
    key->modulusLength = n.size();
    if (!CryptAcquireContextW(&key->provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
        key->provider = 0;
        return nullptr;
    }
    if (!CryptImportKey(key->provider, blob.data(), static_cast<DWORD>(blob.size()), 0, 0,
                        &key->rsaKey)) {
        key->rsaKey = 0;
        return nullptr;
    }
    return key;
}

// The curves CNG verifies ECDSA on, by the DER of their OIDs (SEC 2).
struct Curve {
    Bytes oid;
    const wchar_t* algorithm;
    ULONG magic;
    NistCurve curve;
};

const Curve* FindCurve(const Bytes& parameters) {
    static const Curve kCurves[] = {
        {{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07},
         BCRYPT_ECDSA_P256_ALGORITHM,
         BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
         NistCurve::P256},
        {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22},
         BCRYPT_ECDSA_P384_ALGORITHM,
         BCRYPT_ECDSA_PUBLIC_P384_MAGIC,
         NistCurve::P384},
        {{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23},
         BCRYPT_ECDSA_P521_ALGORITHM,
         BCRYPT_ECDSA_PUBLIC_P521_MAGIC,
         NistCurve::P521},
    };
    for (const Curve& curve : kCurves) {
        if (curve.oid == parameters) {
            return &curve;
        }
    }
    return nullptr;
}

// A key on `curve` at the uncompressed point 04||X||Y; null for any other encoding, a point
// that is not on the curve, or one CNG does not take.
WindowsKeyPtr EcKey(const Curve& curve, const unsigned char* point, std::size_t length) {
    // The order is as long as a coordinate on these curves.
    const std::size_t coordinate = NistCoordinateLength(curve.curve);
    if (length != 1 + 2 * coordinate || point[0] != 0x04 ||
        !PointOnNistCurve(curve.curve, point + 1, point + 1 + coordinate)) {
        return nullptr;
    }
    const BCRYPT_ECCKEY_BLOB header{curve.magic, static_cast<ULONG>(coordinate)};
    Bytes blob(sizeof header);
    std::memcpy(blob.data(), &header, sizeof header);
    blob.insert(blob.end(), point + 1, point + length);

    auto key = std::make_unique<WindowsKey>();
    key->kind = KeyKind::Ec;
    key->orderLength = coordinate;
    if (BCryptOpenAlgorithmProvider(&key->algorithm, curve.algorithm, nullptr, 0) != 0) {
        key->algorithm = nullptr;
        return nullptr;
    }
    if (BCryptImportKeyPair(key->algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key->ecKey,
                            blob.data(), static_cast<ULONG>(blob.size()), 0) != 0) {
        key->ecKey = nullptr;
        return nullptr;
    }
    return key;
}

WindowsKeyPtr EcKeyFromObject(const Bytes& parameters, const Bytes& point) {
    const Curve* curve = FindCurve(parameters);
    if (curve == nullptr || point.empty()) {
        return nullptr;
    }
    // A bare uncompressed point starts with 04 too and may happen to read as an OCTET STRING;
    // only a point the key takes decides.
    DerValue wrapped;
    if (ReadDerValue(point.data(), point.size(), wrapped) && wrapped.tag == 0x04 &&
        wrapped.totalLength == point.size()) {
        WindowsKeyPtr key = EcKey(*curve, wrapped.content, wrapped.contentLength);
        if (key) {
            return key;
        }
    }
    return EcKey(*curve, point.data(), point.size());
}

// The subject public key of a decoded certificate: RSA and EC keys, and an RSASSA-PSS key
// that serves no scheme here; null for any other.
WindowsKeyPtr CertificateKey(const CERT_PUBLIC_KEY_INFO& info) {
    const std::string algorithm = info.Algorithm.pszObjId;
    if (algorithm == szOID_RSA_SSA_PSS) {
        return std::make_unique<WindowsKey>();
    }
    if (algorithm == szOID_ECC_PUBLIC_KEY) {
        const Bytes parameters(info.Algorithm.Parameters.pbData,
                               info.Algorithm.Parameters.pbData + info.Algorithm.Parameters.cbData);
        const Curve* curve = FindCurve(parameters);
        return curve == nullptr || info.PublicKey.cUnusedBits != 0
                   ? nullptr
                   : EcKey(*curve, info.PublicKey.pbData, info.PublicKey.cbData);
    }
    if (algorithm != szOID_RSA_RSA) {
        return nullptr;
    }
    void* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, info.PublicKey.pbData,
                             info.PublicKey.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &size)) {
        return nullptr;
    }
    const std::unique_ptr<void, LocalFreeDeleter> owned(decoded);
    // BLOBHEADER, RSAPUBKEY, then the modulus least significant byte first.
    const auto* bytes = static_cast<const unsigned char*>(decoded);
    RSAPUBKEY rsa;
    if (size < sizeof(BLOBHEADER) + sizeof rsa) {
        return nullptr;
    }
    std::memcpy(&rsa, bytes + sizeof(BLOBHEADER), sizeof rsa);
    const unsigned char* modulus = bytes + sizeof(BLOBHEADER) + sizeof rsa;
    const std::size_t modulusLength = rsa.bitlen / 8;
    if (size - sizeof(BLOBHEADER) - sizeof rsa < modulusLength) {
        return nullptr;
    }
    const Bytes bigEndian(std::make_reverse_iterator(modulus + modulusLength),
                          std::make_reverse_iterator(modulus));
    const Bytes exponent = {
        static_cast<unsigned char>(rsa.pubexp >> 24), static_cast<unsigned char>(rsa.pubexp >> 16),
        static_cast<unsigned char>(rsa.pubexp >> 8), static_cast<unsigned char>(rsa.pubexp)};
    return RsaKey(bigEndian, exponent);
}

// The hash whose value CryptoAPI pads as PKCS#1 v1.5 so that the padded block holds `data`
// exactly: a value of a digest's length goes in bare (CRYPT_NOHASHOID), a DigestInfo of
// SHA-1 or SHA-2 as the digest with its OID, which CryptoAPI writes back the same way.
struct HashChoice {
    ALG_ID algorithm = 0;  // 0: no hash carries such a value
    DWORD flags = 0;
    std::size_t skip = 0;  // bytes of `data` before the hash value
};

HashChoice ChooseHash(const unsigned char* data, std::size_t length) {
    static const struct {
        std::size_t length;
        ALG_ID algorithm;
    } kBare[] = {{16, CALG_MD5},         {20, CALG_SHA1},    {32, CALG_SHA_256},
                 {36, CALG_SSL3_SHAMD5}, {48, CALG_SHA_384}, {64, CALG_SHA_512}};
    for (const auto& bare : kBare) {
        if (length == bare.length) {
            return {bare.algorithm, CRYPT_NOHASHOID, 0};
        }
    }
    static const struct {
        Bytes prefix;
        std::size_t digestLength;
        ALG_ID algorithm;
    } kDigestInfos[] = {
        {{0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14},
         20,
         CALG_SHA1},
        {{0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01,
          0x05, 0x00, 0x04, 0x20},
         32,
         CALG_SHA_256},
        {{0x30, 0x41, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02,
          0x05, 0x00, 0x04, 0x30},
         48,
         CALG_SHA_384},
        {{0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03,
          0x05, 0x00, 0x04, 0x40},
         64,
         CALG_SHA_512},
    };
    for (const auto& info : kDigestInfos) {
        if (length == info.prefix.size() + info.digestLength &&
            std::equal(info.prefix.begin(), info.prefix.end(), data)) {
            return {info.algorithm, 0, info.prefix.size()};
        }
    }
    return {};
}

// PKCS#1 v1.5 with the value itself in the padding.
bool RsaPkcs1Verifies(const WindowsKey& key, const unsigned char* data, std::size_t dataLength,
                      const unsigned char* signature, std::size_t signatureLength) {
    // A token's signature is exactly as long as the modulus.
    const HashChoice hash = ChooseHash(data, dataLength);
    if (signatureLength != key.modulusLength || hash.algorithm == 0) {
        return false;
    }
    HCRYPTHASH hashHandle = 0;
    if (!CryptCreateHash(key.provider, hash.algorithm, 0, 0, &hashHandle)) {
        return false;
    }
    // CryptoAPI takes the signature least significant byte first.
    const Bytes reversed(std::make_reverse_iterator(signature + signatureLength),
                         std::make_reverse_iterator(signature));
    const bool verified =
        CryptSetHashParam(hashHandle, HP_HASHVAL, data + hash.skip, 0) &&
        CryptVerifySignatureW(hashHandle, reversed.data(), static_cast<DWORD>(reversed.size()),
                              key.rsaKey, nullptr, hash.flags);
    CryptDestroyHash(hashHandle);
    return verified;
}

// The PKCS#11 form r||s, two halves of equal length, each at most as long as the curve's
// order, padded to CNG's form of halves exactly that long.
bool EcdsaVerifies(const WindowsKey& key, const unsigned char* data, std::size_t dataLength,
                   const unsigned char* signature, std::size_t signatureLength) {
    const std::size_t order = key.orderLength;
    if (signatureLength == 0 || signatureLength % 2 != 0 || signatureLength > 2 * order) {
        return false;
    }
    const std::size_t half = signatureLength / 2;
    Bytes padded(2 * order, 0);
    std::copy(signature, signature + half, padded.begin() + static_cast<long>(order - half));
    std::copy(signature + half, signature + signatureLength,
              padded.begin() + static_cast<long>(2 * order - half));
    // ECDSA reads only the value's leftmost bits, as many as the order has (FIPS 186-4, 6.4);
    // CNG under Wine refuses a longer value instead of cutting it, so it gets the cut value.
    // For P-521 the first 66 bytes still hold more than 521 bits, and CNG cuts those.
    const std::size_t usedLength = std::min(dataLength, order);
    // CNG does not write through these pointers.
    return BCryptVerifySignature(key.ecKey, nullptr, const_cast<unsigned char*>(data),
                                 static_cast<ULONG>(usedLength), padded.data(),
                                 static_cast<ULONG>(padded.size()), 0) == 0;
}

bool KindServesScheme(const WindowsKey& key, SignatureScheme scheme) {
    switch (scheme) {
        case SignatureScheme::RsaPkcs1:
            return key.kind == KeyKind::Rsa;
        case SignatureScheme::Ecdsa:
            return key.kind == KeyKind::Ec;
    }
    return false;
}

}  // namespace

PublicKey RsaPublicKey(const Bytes& modulus, const Bytes& exponent) {
    return PublicKeyAccess::Own(RsaKey(modulus, exponent));
}

PublicKey EcPublicKey(const Bytes& parameters, const Bytes& point) {
    return PublicKeyAccess::Own(EcKeyFromObject(parameters, point));
}

PublicKey CertificatePublicKey(const Bytes& der) {
    const DecodedCertificate decoded = DecodeCertificate(der.data(), der.size());
    return PublicKeyAccess::Own(
        decoded.certificate ? CertificateKey(decoded.certificate->pCertInfo->SubjectPublicKeyInfo)
                            : nullptr);
}

bool KeyServesScheme(const PublicKey& key, SignatureScheme scheme) {
    const WindowsKey* windowsKey = PublicKeyAccess::Get(key);
    return windowsKey != nullptr && KindServesScheme(*windowsKey, scheme);
}

bool SignatureVerifies(const PublicKey& key, SignatureScheme scheme, const unsigned char* data,
                       std::size_t dataLength, const unsigned char* signature,
                       std::size_t signatureLength) {
    const WindowsKey* windowsKey = PublicKeyAccess::Get(key);
    if (windowsKey == nullptr || (data == nullptr && dataLength != 0) || signature == nullptr ||
        signatureLength == 0 || !KindServesScheme(*windowsKey, scheme)) {
        return false;
    }
    switch (scheme) {
        case SignatureScheme::RsaPkcs1:
            return RsaPkcs1Verifies(*windowsKey, data, dataLength, signature, signatureLength);
        case SignatureScheme::Ecdsa:
            return EcdsaVerifies(*windowsKey, data, dataLength, signature, signatureLength);
    }
    return false;
}
