// The console report's certificates: the fields the window's details show, in the same order.

#include "check/ReportText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The report's lines, in order, that name `fields` for one certificate.
std::vector<std::string> FieldLines(const std::string& text,
                                    const std::vector<std::string>& fields) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        for (const std::string& field : fields) {
            if (line.rfind("   " + field + " ", 0) == 0) {
                found.push_back(line);
            }
        }
        start = end + 1;
    }
    return found;
}

TEST(ReportTextTest, CertificatesShowTheWindowsFieldsInItsOrder) {
    TokenCertificate readable;
    readable.label = "Firma";
    readable.id = "01";
    readable.hasPrivateKey = true;
    readable.content.state = CertificateState::Expired;
    readable.content.subjectCommonName = "Mario Rossi";
    readable.content.serialNumber = "0A1B2C";
    readable.content.sha256Fingerprint = "5E:88";
    TokenCertificate unreadable;
    unreadable.label = "Rotto";
    unreadable.id = "02";
    unreadable.content.state = CertificateState::Unreadable;

    const struct {
        TokenCertificate certificate;
        std::vector<std::string> fields;
        std::vector<std::string> values;
    } cases[] = {
        {readable,
         {"Etichetta", "ID", "Titolare", "Organizzazione", "Emittente", "Valido dal",
          "Valido fino al", "Utilizzo chiave", "Chiave privata sul token", "Stato",
          "Numero di serie", "Impronta SHA-256"},
         {"Firma", "01", "Mario Rossi", "", "", "", "", "", "sì", "scaduto", "0A1B2C", "5E:88"}},
        {unreadable,
         {"Etichetta", "ID", "Chiave privata sul token", "Stato"},
         {"Rotto", "02", "no", "non leggibile"}},
    };
    const std::vector<std::string> every = cases[0].fields;
    for (const auto& c : cases) {
        CheckReport report;
        report.certificates = {c.certificate};
        const std::vector<std::string> lines = FieldLines(CheckText(report), every);
        ASSERT_EQ(lines.size(), c.fields.size()) << CheckText(report);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind("   " + c.fields[i] + " ", 0), 0u) << lines[i];
            if (!c.values[i].empty()) {
                EXPECT_NE(lines[i].find(c.values[i]), std::string::npos) << lines[i];
            }
        }
    }
}

}  // namespace
