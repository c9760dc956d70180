#include "manager/CertificateTexts.h"

const CertificateStateTexts& StateTexts(CertificateState state) {
    static const CertificateStateTexts kValid = {"valid", "valido", "valid"};
    static const CertificateStateTexts kExpired = {"expired", "scaduto", "expired"};
    static const CertificateStateTexts kNotYetValid = {"not yet valid", "non ancora valido",
                                                       "notYetValid"};
    static const CertificateStateTexts kUnreadable = {"unreadable", "non leggibile", "unreadable"};
    switch (state) {
        case CertificateState::Valid:
            return kValid;
        case CertificateState::Expired:
            return kExpired;
        case CertificateState::NotYetValid:
            return kNotYetValid;
        case CertificateState::Unreadable:
            break;
    }
    return kUnreadable;
}

std::vector<CertificateField> CertificateFields(const TokenCertificate& certificate) {
    const CertificateContent& content = certificate.content;
    const bool read = content.state != CertificateState::Unreadable;
    std::vector<CertificateField> fields = {{"Etichetta", certificate.label},
                                            {"ID", certificate.id}};
    if (read) {
        fields.insert(fields.end(), {{"Titolare", content.subjectCommonName},
                                     {"Organizzazione", content.subjectOrganization},
                                     {"Emittente", content.issuerCommonName},
                                     {"Valido dal", LocalDate(content.validFrom)},
                                     {"Valido fino al", LocalDate(content.validUntil)},
                                     {"Utilizzo chiave", content.keyUsage}});
    }
    fields.push_back({"Chiave privata sul token", certificate.hasPrivateKey ? "sì" : "no"});
    fields.push_back({"Stato", CertificateStateText(content.state)});
    if (read) {
        fields.push_back({"Numero di serie", content.serialNumber});
        fields.push_back({"Impronta SHA-256", content.sha256Fingerprint});
    }
    return fields;
}
