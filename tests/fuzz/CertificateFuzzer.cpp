// Reads the input as a certificate; then cuts it after its first DER element (or in the
// middle when it starts with none) and takes the first part as a certificate whose key checks
// the second as a signature, and the two parts as an EC key's curve and point.

#include <openssl/asn1.h>
#include <openssl/err.h>

#include <cstddef>
#include <cstdint>

#include "crypto/Certificate.h"
#include "crypto/SignatureCheck.h"

namespace {

constexpr std::time_t kNow = 1750000000;

// Where the DER element at the start of the input ends, within the input.
std::size_t FirstElementEnd(const uint8_t* data, std::size_t size) {
    const unsigned char* content = data;
    long length = 0;
    int tag = 0;
    int objectClass = 0;
    const int header =
        ASN1_get_object(&content, &length, &tag, &objectClass, static_cast<long>(size));
    ERR_clear_error();
    if ((header & 0x80) != 0) {
        return size / 2;
    }
    const std::size_t headerLength = static_cast<std::size_t>(content - data);
    return headerLength + static_cast<std::size_t>(length);
}

void Verify(const PublicKey& key, const Bytes& data, const Bytes& signature) {
    for (SignatureScheme scheme : {SignatureScheme::RsaPkcs1, SignatureScheme::Ecdsa}) {
        SignatureVerifies(key, scheme, data.data(), data.size(), signature.data(),
                          signature.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ReadCertificate(data, size, kNow);

    const std::size_t cut = FirstElementEnd(data, size);
    const Bytes first(data, data + cut);
    const Bytes second(data + cut, data + size);
    Verify(CertificatePublicKey(first), first, second);
    Verify(EcPublicKey(first, second), first, second);
    return 0;
}
