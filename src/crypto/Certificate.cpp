#include "crypto/Certificate.h"

#include <cstdio>

#include "crypto/CertificateReading.h"
#include "platform/LocalTime.h"

namespace {

// The key usage bits (RFC 5280, 4.2.1.3) in their order.
constexpr const char* kKeyUsageNames[] = {
    "Firma digitale",    "Non ripudio",       "Crittografia chiave",
    "Crittografia dati", "Accordo chiave",    "Firma certificati",
    "Firma CRL",         "Solo crittografia", "Solo decrittografia",
};

CertificateState StateAt(const CertificateContent& content, std::time_t now) {
    if (now < content.validFrom) {
        return CertificateState::NotYetValid;
    }
    if (now > content.validUntil) {
        return CertificateState::Expired;
    }
    return CertificateState::Valid;
}

}  // namespace

std::string KeyUsageText(const unsigned char* bits, std::size_t length) {
    std::string names;
    std::size_t bit = 0;
    for (const char* name : kKeyUsageNames) {
        const std::size_t byte = bit / 8;
        if (byte < length && (bits[byte] & (0x80 >> (bit % 8))) != 0) {
            names += names.empty() ? "" : ", ";
            names += name;
        }
        ++bit;
    }
    return names;
}

void ConcludeReading(CertificateContent& content, bool datesRead, KeyUsageRead keyUsage,
                     std::time_t now) {
    if (!datesRead) {
        content.problem = "the validity dates are no valid times";
    } else if (keyUsage == KeyUsageRead::Unreadable) {
        content.problem = "the key usage extension is repeated or does not decode";
    } else {
        content.state = StateAt(content, now);
    }
}

std::string LocalDate(std::time_t when) {
    const std::tm local = LocalTime(static_cast<int64_t>(when));
    // A time the system cannot convert leaves the fields zero (POSIX) or -1 (Windows): no
    // day of a month.
    if (local.tm_mday < 1) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900);
    return text;
}
