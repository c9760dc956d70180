#include "crypto/Certificate.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "common/CleanText.h"
#include "common/Hex.h"
#include "crypto/CertificateReading.h"
#include "crypto/DerCertificateOpenSsl.h"
#include "crypto/OpenSslHandles.h"

namespace {

// The first `nid` part of a name as a label text; empty when there is none.
std::string NamePart(const X509_NAME* name, int nid) {
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return {};
    }
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) {
        return {};
    }
    const OpenSslBytesPtr owned(utf8);
    return CleanText(utf8, static_cast<std::size_t>(length));
}

// A certificate time as seconds since 1970; false when the text is no valid time.
bool TimeValue(const ASN1_TIME* time, std::time_t& value) {
    std::tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1) {
        return false;
    }
    value = timegm(&parts);
    return true;
}

KeyUsageRead KeyUsageNames(X509* certificate, std::string& names) {
    int critical = 0;
    const Asn1BitStringPtr bits(static_cast<ASN1_BIT_STRING*>(
        X509_get_ext_d2i(certificate, NID_key_usage, &critical, nullptr)));
    if (!bits) {
        // -1: no such extension; otherwise it is there twice or does not decode.
        return critical == -1 ? KeyUsageRead::Absent : KeyUsageRead::Unreadable;
    }
    // OpenSSL clears the unused bits of the last byte when it decodes a BIT STRING.
    names = KeyUsageText(ASN1_STRING_get0_data(bits.get()),
                         static_cast<std::size_t>(ASN1_STRING_length(bits.get())));
    return KeyUsageRead::Read;
}

// Hexadecimal as "openssl x509 -serial" shows it: "00" for zero, '-' before a negative value.
std::string SerialNumberText(const ASN1_INTEGER* serial) {
    const std::string magnitude = AtrToHex(ASN1_STRING_get0_data(serial),
                                           static_cast<std::size_t>(ASN1_STRING_length(serial)));
    if (magnitude.empty()) {
        return "00";
    }
    return ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? "-" + magnitude : magnitude;
}

std::string Sha256Fingerprint(const unsigned char* der, std::size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(der, length, digest, &digestLength, EVP_sha256(), nullptr) != 1) {
        ERR_clear_error();
        return {};
    }
    return HexPairs(AtrToHex(digest, digestLength), ':');
}

}  // namespace

CertificateContent ReadCertificate(const unsigned char* der, std::size_t length, std::time_t now) {
    CertificateContent content;
    const DecodedCertificate decoded = DecodeCertificate(der, length);
    if (!decoded.certificate) {
        content.problem = decoded.problem;
        return content;
    }
    X509* certificate = decoded.certificate.get();
    content.subjectCommonName = NamePart(X509_get_subject_name(certificate), NID_commonName);
    content.subjectOrganization =
        NamePart(X509_get_subject_name(certificate), NID_organizationName);
    content.issuerCommonName = NamePart(X509_get_issuer_name(certificate), NID_commonName);
    content.serialNumber = SerialNumberText(X509_get0_serialNumber(certificate));
    content.sha256Fingerprint = Sha256Fingerprint(der, length);

    const KeyUsageRead keyUsage = KeyUsageNames(certificate, content.keyUsage);
    content.certificateAuthority = (X509_get_extension_flags(certificate) & EXFLAG_CA) != 0;
    // All bits set when the certificate has no key usage extension.
    content.signingUsage =
        (X509_get_key_usage(certificate) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
    const bool datesRead = TimeValue(X509_get0_notBefore(certificate), content.validFrom) &&
                           TimeValue(X509_get0_notAfter(certificate), content.validUntil);
    ERR_clear_error();
    ConcludeReading(content, datesRead, keyUsage, now);
    return content;
}
