#include "manager/TokenCertificates.h"

#include <algorithm>
#include <cstdio>

#include "common/CleanText.h"
#include "log/Log.h"
#include "manager/CertificateTexts.h"
#include "manager/KeyText.h"
#include "manager/TokenObjects.h"

namespace {

constexpr std::size_t kMaxCertificates = 64;
constexpr std::time_t kExpiryNotice = 30 * 24 * 60 * 60;

bool HasId(const ObjectValue& id, const std::vector<ObjectValue>& ids) {
    return !id.empty() && std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A private key pairs with the certificate that shares its CKA_ID. A token may hide private
// keys until login; a public key with the same id then stands for the pair, but only for a
// user's signing certificate: some modules publish a public key for every certificate, the
// authorities' among them.
bool OwnCertificate(const ObjectValue& id, const CertificateContent& content,
                    const std::vector<ObjectValue>& privateIds,
                    const std::vector<ObjectValue>& publicIds) {
    if (HasId(id, privateIds)) {
        return true;
    }
    return HasId(id, publicIds) && !content.certificateAuthority && content.signingUsage;
}

TokenCertificate ReadOne(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         std::time_t now, ObjectValue* id) {
    TokenCertificate certificate;
    ObjectValue label;
    ReadAttribute(p11, session, object, CKA_LABEL, &label);
    ReadAttribute(p11, session, object, CKA_ID, id);
    certificate.label = CleanText(label.data(), label.size());
    certificate.id = KeyIdText(id->data(), id->size());

    ObjectValue value;
    const CK_RV rv = ReadAttribute(p11, session, object, CKA_VALUE, &value);
    if (rv != CKR_OK) {
        char problem[64];
        std::snprintf(problem, sizeof problem, "its value could not be read (0x%lX)",
                      static_cast<unsigned long>(rv));
        certificate.content.problem = problem;
        return certificate;
    }
    certificate.content = ReadCertificate(value.data(), value.size(), now);
    return certificate;
}

void LogCertificate(const TokenCertificate& certificate, const char* source) {
    if (g_logLevel < 1) {
        return;
    }
    const CertificateContent& content = certificate.content;
    if (content.state == CertificateState::Unreadable) {
        LogMessage(0, 0, source, "Certificate '%s' (id %s) cannot be read: %s.",
                   certificate.label.c_str(), certificate.id.c_str(), content.problem.c_str());
        return;
    }
    LogMessage(0, 0, source,
               "Certificate '%s' (id %s): subject '%s' (%s), issuer '%s', valid from %s until "
               "%s, key usage '%s', private key %s, %s.",
               certificate.label.c_str(), certificate.id.c_str(), content.subjectCommonName.c_str(),
               content.subjectOrganization.c_str(), content.issuerCommonName.c_str(),
               LocalDate(content.validFrom).c_str(), LocalDate(content.validUntil).c_str(),
               content.keyUsage.c_str(),
               certificate.hasPrivateKey ? "on the token" : "not on the token",
               StateTexts(content.state).log);
}

}  // namespace

std::vector<TokenCertificate> ReadTokenCertificates(CK_FUNCTION_LIST* p11,
                                                    CK_SESSION_HANDLE session, std::time_t now,
                                                    const char* source) {
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                             {CKA_CERTIFICATE_TYPE, &x509, sizeof x509}};
    std::vector<CK_OBJECT_HANDLE> objects;
    const CK_RV rv = FindTokenObjects(p11, session, search, 2, kMaxCertificates, &objects);
    if (rv != CKR_OK) {
        LOG_MESSAGE(static_cast<int32_t>(rv), 0, source,
                    "The token's certificates could not be listed: 0x%lX.",
                    static_cast<unsigned long>(rv));
    }

    std::vector<TokenCertificate> certificates;
    std::vector<ObjectValue> ids;
    for (CK_OBJECT_HANDLE object : objects) {
        ids.emplace_back();
        certificates.push_back(ReadOne(p11, session, object, now, &ids.back()));
    }
    if (!certificates.empty()) {
        const std::vector<ObjectValue> privateIds = ObjectIds(p11, session, CKO_PRIVATE_KEY);
        const std::vector<ObjectValue> publicIds = ObjectIds(p11, session, CKO_PUBLIC_KEY);
        for (std::size_t i = 0; i < certificates.size(); ++i) {
            certificates[i].hasPrivateKey =
                OwnCertificate(ids[i], certificates[i].content, privateIds, publicIds);
        }
    }
    for (const TokenCertificate& certificate : certificates) {
        LogCertificate(certificate, source);
    }
    return certificates;
}

std::string CertificateName(const TokenCertificate& certificate) {
    if (!certificate.content.subjectCommonName.empty()) {
        return certificate.content.subjectCommonName;
    }
    return certificate.label.empty() ? certificate.id : certificate.label;
}

std::vector<std::string> CertificateWarnings(const std::vector<TokenCertificate>& certificates,
                                             std::time_t now) {
    std::vector<std::string> lines;
    char line[512];
    for (const TokenCertificate& certificate : certificates) {
        if (!certificate.hasPrivateKey) {
            continue;
        }
        const CertificateContent& content = certificate.content;
        const std::string name = CertificateName(certificate);
        if (content.state == CertificateState::Expired) {
            std::snprintf(line, sizeof line, "Attenzione: il certificato '%s' e' scaduto il %s",
                          name.c_str(), LocalDate(content.validUntil).c_str());
        } else if (content.state == CertificateState::NotYetValid) {
            std::snprintf(line, sizeof line, "Attenzione: il certificato '%s' sara' valido dal %s",
                          name.c_str(), LocalDate(content.validFrom).c_str());
        } else if (content.state == CertificateState::Valid &&
                   content.validUntil - now <= kExpiryNotice) {
            std::snprintf(line, sizeof line, "Attenzione: il certificato '%s' scade il %s",
                          name.c_str(), LocalDate(content.validUntil).c_str());
        } else {
            continue;
        }
        lines.emplace_back(line);
    }
    return lines;
}

void AppendCertificates(std::vector<TokenCertificate>& certificates,
                        std::vector<TokenCertificate> more) {
    for (TokenCertificate& certificate : more) {
        const auto same = std::find_if(
            certificates.begin(), certificates.end(), [&](const TokenCertificate& listed) {
                return !listed.content.sha256Fingerprint.empty() &&
                       listed.content.sha256Fingerprint == certificate.content.sha256Fingerprint;
            });
        if (same == certificates.end()) {
            certificates.push_back(std::move(certificate));
        } else {
            same->hasPrivateKey = same->hasPrivateKey || certificate.hasPrivateKey;
        }
    }
}
