// Whether the signature check accepts the signatures a token would make, and nothing else:
// keys from a public-key object's attributes and from certificates, signatures made with
// OpenSSL in the token's own form.

#include "crypto/SignatureCheck.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestKeys.h"

namespace {

bool Verifies(const PublicKey& key, SignatureScheme scheme, const Bytes& data,
              const Bytes& signature) {
    return SignatureVerifies(key, scheme, data.data(), data.size(), signature.data(),
                             signature.size());
}

// Variants of a good signature that must all fail.
struct BadSignature {
    std::string what;
    Bytes signature;
};

std::vector<BadSignature> BadVariants(const Bytes& good, const Bytes& otherKeys) {
    Bytes flippedFirst = good;
    flippedFirst.front() ^= 0x01;
    Bytes flippedLast = good;
    flippedLast.back() ^= 0x80;
    Bytes longer = good;
    longer.insert(longer.begin(), 0x00);
    return {
        {"first byte flipped", flippedFirst},
        {"last byte flipped", flippedLast},
        {"one byte short", Bytes(good.begin(), good.end() - 1)},
        {"leading zero added", longer},
        {"one byte", Bytes(1, good.front())},
        {"other key's", otherKeys},
    };
}

const Bytes kValue = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03,
                      0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20, 0x4C, 0x75, 0x6D, 0x69, 0x64,
                      0x6F, 0x72, 0x20, 0x74, 0x65, 0x73, 0x74, 0x20, 0x76, 0x61, 0x6C, 0x75,
                      0x65, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21};

TEST(SignatureCheckTest, RsaPkcs1) {
    const EvpPkeyPtr key = NewRsaKey(2048);
    const EvpPkeyPtr other = NewRsaKey(2048);
    const PublicKey publicKey = RsaPublicKey(RsaModulus(key.get()), RsaExponent(key.get()));
    ASSERT_TRUE(publicKey);
    const Bytes signature = RsaPkcs1Signature(key.get(), kValue);
    ASSERT_EQ(signature.size(), 256u);

    EXPECT_TRUE(Verifies(publicKey, SignatureScheme::RsaPkcs1, kValue, signature));
    for (const BadSignature& bad : BadVariants(signature, RsaPkcs1Signature(other.get(), kValue))) {
        EXPECT_FALSE(Verifies(publicKey, SignatureScheme::RsaPkcs1, kValue, bad.signature))
            << bad.what;
    }
    const Bytes otherValue(kValue.begin(), kValue.end() - 1);
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::RsaPkcs1, otherValue, signature));
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue, signature));
}

// A signature whose value is below 2^(8(k-1)) has a zero first byte; without it the number is
// the same, but a token never gives it so.
TEST(SignatureCheckTest, RsaSignatureWithoutItsLeadingZeroIsWrong) {
    const EvpPkeyPtr key = NewRsaKey(1024);
    const PublicKey publicKey = RsaPublicKey(RsaModulus(key.get()), RsaExponent(key.get()));
    Bytes value = kValue;
    Bytes signature = RsaPkcs1Signature(key.get(), value);
    // About one value in 256 gives such a signature: a counter in the last four bytes tries
    // enough of them.
    for (uint32_t attempt = 1; signature.front() != 0x00; ++attempt) {
        for (std::size_t i = 0; i < 4; ++i) {
            value[value.size() - 1 - i] = static_cast<unsigned char>(attempt >> (8 * i));
        }
        signature = RsaPkcs1Signature(key.get(), value);
    }
    ASSERT_TRUE(Verifies(publicKey, SignatureScheme::RsaPkcs1, value, signature));
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::RsaPkcs1, value,
                          Bytes(signature.begin() + 1, signature.end())));
}

TEST(SignatureCheckTest, RsaKeyNeedsBothValues) {
    const EvpPkeyPtr key = NewRsaKey(1024);
    EXPECT_FALSE(RsaPublicKey({}, RsaExponent(key.get())));
    EXPECT_FALSE(RsaPublicKey(RsaModulus(key.get()), {}));
    EXPECT_FALSE(RsaPublicKey(Bytes(128, 0x00), RsaExponent(key.get())));
}

class EcdsaTest : public testing::TestWithParam<const char*> {};

TEST_P(EcdsaTest, RawSignatureOfTheValueAsGiven) {
    const EvpPkeyPtr key = NewEcKey(GetParam());
    const EvpPkeyPtr other = NewEcKey(GetParam());
    const PublicKey publicKey = EcPublicKey(EcParameters(key.get()), WrappedEcPoint(key.get()));
    ASSERT_TRUE(publicKey);
    const Bytes hash(kValue.end() - 32, kValue.end());
    const Bytes signature = EcdsaSignature(key.get(), hash);

    EXPECT_TRUE(Verifies(publicKey, SignatureScheme::Ecdsa, hash, signature));
    for (const BadSignature& bad : BadVariants(signature, EcdsaSignature(other.get(), hash))) {
        EXPECT_FALSE(Verifies(publicKey, SignatureScheme::Ecdsa, hash, bad.signature)) << bad.what;
    }
    const Bytes otherHash(kValue.begin(), kValue.begin() + 32);
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::Ecdsa, otherHash, signature));
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::RsaPkcs1, hash, signature));
}

TEST_P(EcdsaTest, PointWrappedOrBare) {
    const EvpPkeyPtr key = NewEcKey(GetParam());
    const Bytes signature = EcdsaSignature(key.get(), kValue);
    for (const Bytes& point : {WrappedEcPoint(key.get()), EcPoint(key.get())}) {
        const PublicKey publicKey = EcPublicKey(EcParameters(key.get()), point);
        ASSERT_TRUE(publicKey) << point.size();
        EXPECT_TRUE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue, signature)) << point.size();
    }
}

// A bare point whose first coordinate byte equals the length of the rest reads as a DER
// OCTET STRING too.
TEST_P(EcdsaTest, BarePointThatLooksWrapped) {
    EvpPkeyPtr key = NewEcKey(GetParam());
    Bytes point = EcPoint(key.get());
    while (static_cast<std::size_t>(point[1]) != point.size() - 2) {
        key = NewEcKey(GetParam());
        point = EcPoint(key.get());
    }
    const PublicKey publicKey = EcPublicKey(EcParameters(key.get()), point);
    ASSERT_TRUE(publicKey);
    EXPECT_TRUE(
        Verifies(publicKey, SignatureScheme::Ecdsa, kValue, EcdsaSignature(key.get(), kValue)));
}

TEST_P(EcdsaTest, UnusableKeyValuesMakeNoKey) {
    const EvpPkeyPtr key = NewEcKey(GetParam());
    const Bytes parameters = EcParameters(key.get());
    const Bytes point = EcPoint(key.get());
    Bytes offCurve = point;
    offCurve.back() ^= 0x01;
    Bytes parametersWithMore = parameters;
    parametersWithMore.push_back(0x00);
    const Bytes rsaEncryption = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    const Bytes unknownOid = {0x06, 0x03, 0x2A, 0x03, 0x04};
    const Bytes otherCurve =
        EcParameters(NewEcKey(std::string(GetParam()) == "P-256" ? "P-384" : "P-256").get());
    const struct {
        const char* what;
        Bytes parameters;
        Bytes point;
    } cases[] = {
        {"no parameters", {}, point},
        {"no point", parameters, {}},
        {"parameters not DER", {0x06, 0x7F, 0x2A}, point},
        {"bytes after the OID", parametersWithMore, point},
        {"not a curve", rsaEncryption, point},
        {"unknown OID", unknownOid, point},
        {"point of another curve", otherCurve, point},
        {"point not on the curve", parameters, offCurve},
        {"point at infinity", parameters, {0x00}},
        {"point cut short", parameters, Bytes(point.begin(), point.end() - 1)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(EcPublicKey(c.parameters, c.point)) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Curves, EcdsaTest, testing::Values("P-256", "P-384"));

TEST(SignatureCheckTest, KeyFromCertificate) {
    const EvpPkeyPtr caKey = NewRsaKey(2048);
    const EvpPkeyPtr rsaKey = NewRsaKey(2048);
    const EvpPkeyPtr ecKey = NewEcKey("P-256");
    const Bytes hash(kValue.end() - 32, kValue.end());

    const PublicKey rsaPublic =
        CertificatePublicKey(MakeCertificate({}, rsaKey.get(), caKey.get()));
    ASSERT_TRUE(rsaPublic);
    EXPECT_TRUE(Verifies(rsaPublic, SignatureScheme::RsaPkcs1, kValue,
                         RsaPkcs1Signature(rsaKey.get(), kValue)));
    EXPECT_FALSE(Verifies(rsaPublic, SignatureScheme::RsaPkcs1, kValue,
                          RsaPkcs1Signature(caKey.get(), kValue)));

    const PublicKey ecPublic = CertificatePublicKey(MakeCertificate({}, ecKey.get(), caKey.get()));
    ASSERT_TRUE(ecPublic);
    EXPECT_TRUE(
        Verifies(ecPublic, SignatureScheme::Ecdsa, hash, EcdsaSignature(ecKey.get(), hash)));
}

TEST(SignatureCheckTest, NoKeyFromBytesThatAreNoCertificate) {
    const EvpPkeyPtr key = NewEcKey("P-256");
    Bytes der = MakeCertificate({}, key.get(), key.get());
    EXPECT_FALSE(CertificatePublicKey({}));
    EXPECT_FALSE(CertificatePublicKey(Bytes(der.begin(), der.end() - 1)));
    der.push_back(0x00);
    EXPECT_FALSE(CertificatePublicKey(der));
}

TEST(SignatureCheckTest, NoKeyOrNoSignatureNeverVerifies) {
    const EvpPkeyPtr key = NewEcKey("P-256");
    const Bytes signature = EcdsaSignature(key.get(), kValue);
    const PublicKey publicKey = EcPublicKey(EcParameters(key.get()), EcPoint(key.get()));
    ASSERT_TRUE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue, signature));

    EXPECT_FALSE(Verifies(PublicKey(), SignatureScheme::Ecdsa, kValue, signature));
    EXPECT_FALSE(Verifies(PublicKey(), SignatureScheme::RsaPkcs1, kValue, signature));
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue, {}));
    EXPECT_FALSE(SignatureVerifies(publicKey, SignatureScheme::Ecdsa, nullptr, kValue.size(),
                                   signature.data(), signature.size()));
}

// PKCS#11 lets a token give r and s shorter than the order, as long as both halves are equal:
// on P-521 (66-byte halves whose top byte is at most 1) both values fit in 65 bytes often.
TEST(SignatureCheckTest, EcdsaHalvesShorterThanTheOrderReadAsPadded) {
    const EvpPkeyPtr key = NewEcKey("P-521");
    const PublicKey publicKey = EcPublicKey(EcParameters(key.get()), EcPoint(key.get()));
    ASSERT_TRUE(publicKey);
    Bytes signature = EcdsaSignature(key.get(), kValue);
    ASSERT_EQ(signature.size(), 132u);
    for (int tries = 0; tries < 200 && (signature[0] != 0 || signature[66] != 0); ++tries) {
        signature = EcdsaSignature(key.get(), kValue);
    }
    ASSERT_TRUE(signature[0] == 0 && signature[66] == 0) << "no signature with two short halves";
    Bytes shorter(signature.begin() + 1, signature.begin() + 66);
    shorter.insert(shorter.end(), signature.begin() + 67, signature.end());
    EXPECT_TRUE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue, shorter));
    // Halves of unequal length cannot be told apart.
    EXPECT_FALSE(Verifies(publicKey, SignatureScheme::Ecdsa, kValue,
                          Bytes(signature.begin() + 1, signature.end())));
}

TEST(SignatureCheckTest, EachSchemeHasItsKindOfKey) {
    const EvpPkeyPtr rsa = NewRsaKey(2048);
    const EvpPkeyPtr ec = NewEcKey("P-256");
    // An RSASSA-PSS key allows no PKCS#1 v1.5 padding.
    const EvpPkeyPtr pss = NewRsaPssKey(2048);
    const PublicKey rsaPublic = RsaPublicKey(RsaModulus(rsa.get()), RsaExponent(rsa.get()));
    const PublicKey ecPublic = EcPublicKey(EcParameters(ec.get()), EcPoint(ec.get()));
    const PublicKey pssPublic =
        CertificatePublicKey(MakeCertificate(CertificateFields{}, pss.get(), rsa.get()));
    ASSERT_TRUE(pssPublic);
    EXPECT_TRUE(KeyServesScheme(rsaPublic, SignatureScheme::RsaPkcs1));
    EXPECT_FALSE(KeyServesScheme(rsaPublic, SignatureScheme::Ecdsa));
    EXPECT_TRUE(KeyServesScheme(ecPublic, SignatureScheme::Ecdsa));
    EXPECT_FALSE(KeyServesScheme(ecPublic, SignatureScheme::RsaPkcs1));
    EXPECT_FALSE(KeyServesScheme(pssPublic, SignatureScheme::RsaPkcs1));
    EXPECT_FALSE(KeyServesScheme(PublicKey(), SignatureScheme::RsaPkcs1));
}

}  // namespace
