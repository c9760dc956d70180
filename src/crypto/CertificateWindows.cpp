#include "crypto/Certificate.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/CleanText.h"
#include "common/Hex.h"
#include "crypto/CertificateReading.h"
#include "crypto/DerCertificateWindows.h"
#include "crypto/ValidityTimeText.h"

namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC.
constexpr int64_t kStepsPerSecond = 10000000;
constexpr int64_t kStepsFrom1601To1970 = 116444736000000000;

// Memory that CryptDecodeObjectEx allocated for the caller.
struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

// The first `oid` part of the subject's name (the issuer's with CERT_NAME_ISSUER_FLAG) as a
// label text; empty when there is none.
std::string NamePart(const CERT_CONTEXT* certificate, const char* oid, DWORD flags) {
    void* type = const_cast<char*>(oid);
    // The count includes the closing zero; 1 when the name has no such part.
    const DWORD count =
        CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, type, nullptr, 0);
    if (count <= 1) {
        return {};
    }
    std::wstring wide(count, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, type, wide.data(), count);
    const int wideLength = static_cast<int>(count - 1);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return CleanText(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
}

// A certificate time as seconds since 1970; false for a FILETIME that is no time
// (FileTimeToSystemTime refuses those with the top bit set) and for a time that std::time_t
// cannot hold (a 32-bit one ends in 2038).
bool TimeValue(const FILETIME& time, std::time_t& value) {
    const uint64_t steps = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (steps > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    const int64_t since1970 = static_cast<int64_t>(steps) - kStepsFrom1601To1970;
    // Down to the whole second, before 1970 too, as OpenSSL drops a fraction of a second.
    int64_t seconds = since1970 / kStepsPerSecond;
    if (since1970 % kStepsPerSecond < 0) {
        --seconds;
    }
    const auto held = static_cast<std::time_t>(seconds);
    if (static_cast<int64_t>(held) != seconds) {
        return false;
    }
    value = held;
    return true;
}

struct FoundExtension {
    const CERT_EXTENSION* extension = nullptr;  // the first one
    bool repeated = false;                      // RFC 5280 allows each extension once
};

FoundExtension FindExtension(const CERT_INFO* info, const char* oid) {
    FoundExtension found;
    for (DWORD i = 0; i < info->cExtension; ++i) {
        if (std::string(info->rgExtension[i].pszObjId) == oid) {
            found.repeated = found.extension != nullptr;
            if (found.extension == nullptr) {
                found.extension = &info->rgExtension[i];
            }
        }
    }
    return found;
}

// The extension's value decoded as `type`, or null; the caller owns it.
std::unique_ptr<void, LocalFreeDeleter> Decoded(const CERT_EXTENSION* extension, const char* type) {
    void* value = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &value,
                             &size)) {
        return nullptr;
    }
    return std::unique_ptr<void, LocalFreeDeleter>(value);
}

// Fills the key usage's names and whether it allows signing (an absent extension allows all).
KeyUsageRead KeyUsageNames(const CERT_INFO* info, CertificateContent& content) {
    const FoundExtension found = FindExtension(info, szOID_KEY_USAGE);
    if (found.extension == nullptr) {
        return KeyUsageRead::Absent;
    }
    const auto decoded = found.repeated ? nullptr : Decoded(found.extension, X509_KEY_USAGE);
    if (!decoded) {
        // As OpenSSL, which takes such a certificate's extensions as invalid, and no usage.
        content.signingUsage = false;
        return KeyUsageRead::Unreadable;
    }
    const auto* bits = static_cast<const CRYPT_BIT_BLOB*>(decoded.get());
    std::vector<unsigned char> bytes(bits->pbData, bits->pbData + bits->cbData);
    // The unused bits of the last byte carry nothing, whatever the encoder left in them.
    if (!bytes.empty() && bits->cUnusedBits < 8) {
        bytes.back() &= static_cast<unsigned char>(0xFF << bits->cUnusedBits);
    }
    content.keyUsage = KeyUsageText(bytes.data(), bytes.size());
    content.signingUsage =
        !bytes.empty() &&
        (bytes[0] & (CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE)) != 0;
    return KeyUsageRead::Read;
}

// The basic constraints extension, once and decoded, says cA.
bool CertificateAuthority(const CERT_INFO* info) {
    const FoundExtension found = FindExtension(info, szOID_BASIC_CONSTRAINTS2);
    if (found.extension == nullptr || found.repeated) {
        return false;
    }
    const auto decoded = Decoded(found.extension, X509_BASIC_CONSTRAINTS2);
    return decoded && static_cast<const CERT_BASIC_CONSTRAINTS2_INFO*>(decoded.get())->fCA;
}

// Hexadecimal as "openssl x509 -serial" shows it: "00" for zero, '-' before a negative value.
// crypt32 gives the DER INTEGER's two's complement bytes, least significant first.
std::string SerialNumberText(const CRYPT_INTEGER_BLOB& serial) {
    std::vector<unsigned char> value(serial.pbData, serial.pbData + serial.cbData);
    std::vector<unsigned char> bigEndian(value.rbegin(), value.rend());
    const bool negative = !bigEndian.empty() && (bigEndian[0] & 0x80) != 0;
    if (negative) {
        // The magnitude: every bit inverted, then one added.
        unsigned carry = 1;
        for (auto byte = bigEndian.rbegin(); byte != bigEndian.rend(); ++byte) {
            const unsigned sum = static_cast<unsigned char>(~*byte) + carry;
            *byte = static_cast<unsigned char>(sum);
            carry = sum >> 8;
        }
    }
    std::size_t start = 0;
    while (start < bigEndian.size() && bigEndian[start] == 0) {
        ++start;
    }
    if (start == bigEndian.size()) {
        return "00";
    }
    const std::string magnitude = AtrToHex(bigEndian.data() + start, bigEndian.size() - start);
    return negative ? "-" + magnitude : magnitude;
}

std::string Sha256Fingerprint(const unsigned char* der, std::size_t length) {
    BYTE digest[32];
    DWORD digestLength = sizeof digest;
    if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, der, static_cast<DWORD>(length),
                               digest, &digestLength)) {
        return {};
    }
    return HexPairs(AtrToHex(digest, digestLength), ':');
}

}  // namespace

CertificateContent ReadCertificate(const unsigned char* der, std::size_t length, std::time_t now) {
    CertificateContent content;
    const DecodedCertificate decoded = DecodeCertificate(der, length);
    if (!decoded.certificate) {
        // crypt32 refuses a validity time out of range (a 13th month) with the certificate,
        // where OpenSSL reads the rest and names the dates.
        if (decoded.refusedByDecoder && !ValidityTimesAreTimes(der, length)) {
            ConcludeReading(content, false, KeyUsageRead::Absent, now);
        } else {
            content.problem = decoded.problem;
        }
        return content;
    }
    const CERT_CONTEXT* certificate = decoded.certificate.get();
    const CERT_INFO* info = certificate->pCertInfo;
    content.subjectCommonName = NamePart(certificate, szOID_COMMON_NAME, 0);
    content.subjectOrganization = NamePart(certificate, szOID_ORGANIZATION_NAME, 0);
    content.issuerCommonName = NamePart(certificate, szOID_COMMON_NAME, CERT_NAME_ISSUER_FLAG);
    content.serialNumber = SerialNumberText(info->SerialNumber);
    content.sha256Fingerprint = Sha256Fingerprint(der, length);

    const KeyUsageRead keyUsage = KeyUsageNames(info, content);
    content.certificateAuthority = CertificateAuthority(info);
    const bool datesRead = ValidityTimesAreTimes(der, length) &&
                           TimeValue(info->NotBefore, content.validFrom) &&
                           TimeValue(info->NotAfter, content.validUntil);
    ConcludeReading(content, datesRead, keyUsage, now);
    return content;
}
