#include "check/ReportText.h"

#include <cstdio>

#include "manager/CertificateTexts.h"
#include "platform/ResultNames.h"

namespace {

void AddLine(std::string& text, const std::string& line) {
    text += line;
    text += '\n';
}

// "name" padded to the value column (widths count bytes), then the value as it is.
void AddField(std::string& text, const char* name, const std::string& value) {
    char head[64];
    std::snprintf(head, sizeof head, "%-18s ", name);
    AddLine(text, head + value);
}

// "<title>: 0x8010000C (SCARD_E_NO_SMARTCARD)", the name left out when the code has none.
std::string ResultLine(const char* title, uint32_t code) {
    const std::string name = ResultName(code);
    return std::string(title) + ": " + ResultHex(code) + (name.empty() ? "" : " (" + name + ")");
}

void AddReaders(std::string& text, const std::vector<ReaderEntry>& readers) {
    AddLine(text, "Lettori:");
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const bool present = (readers[i].state & SCARD_STATE_PRESENT) != 0;
        char line[96];
        std::snprintf(line, sizeof line, "  %zu  ", i);
        char state[64];
        std::snprintf(state, sizeof state, " stato 0x%08lX%s",
                      static_cast<unsigned long>(readers[i].state),
                      present ? "  carta presente" : "");
        // The name is padded to 40 bytes, as the table has always been laid out.
        std::string name = readers[i].name;
        if (name.size() < 40) {
            name.append(40 - name.size(), ' ');
        }
        AddLine(text, line + name + state);
    }
    if (readers.empty()) {
        AddLine(text, "  (nessuno)");
    }
}

const char* SourceText(DriverSource source) {
    switch (source) {
        case DriverSource::Catalogue:
            return "catalogo";
        case DriverSource::System:
            return "moduli di sistema";
        case DriverSource::None:
            break;
    }
    return "";
}

void AddCertificates(std::string& text, const std::vector<TokenCertificate>& certificates) {
    AddLine(text, "\nCertificati:");
    if (certificates.empty()) {
        AddLine(text, "  (nessuno)");
    }
    for (const TokenCertificate& certificate : certificates) {
        AddLine(text, "  " + CertificateName(certificate));
        for (const CertificateField& field : CertificateFields(certificate)) {
            AddField(text, ("   " + std::string(field.name)).c_str(), field.value);
        }
    }
}

}  // namespace

std::string CheckText(const CheckReport& report) {
    std::string text;
    AddReaders(text, report.readers);
    text += '\n';
    AddField(text, "Lettore", report.readerName);
    AddField(text, "ATR carta", report.atr);
    AddField(text, "Origine driver", SourceText(report.source));
    AddField(text, "Driver abbinati", report.cardDrivers);
    std::string loaded;
    for (const std::string& driver : report.loadedDrivers) {
        loaded += (loaded.empty() ? "" : ", ") + driver;
    }
    AddField(text, "Driver caricati", loaded);
    AddField(text, "Driver in uso", report.driverInUse);
    AddField(text, "Posizione driver", report.driverPath);
    AddField(text, "Versione driver", report.driverVersion);
    AddField(text, "Etichetta token", report.token.label);
    AddField(text, "Numero seriale", report.token.serialNumber);
    AddCertificates(text, report.certificates);

    AddLine(text, "\nMessaggi:");
    for (const std::string& line : report.messages) {
        AddLine(text, "  " + line);
    }
    AddLine(text, "\n" + ResultLine("Risultato", report.result));
    return text;
}

std::string TestText(const CheckReport& report) {
    if (!report.test) {
        return {};
    }
    std::string text;
    AddLine(text, "\nTest di firma:");
    for (const std::string& line : report.test->lines) {
        AddLine(text, "  " + line);
    }
    AddLine(text, "\n" + ResultLine("Risultato del test", report.test->result));
    return text;
}

std::string VerdictLine(const CheckReport& report) {
    return report.test ? ResultLine("Risultato del test", report.test->result)
                       : ResultLine("Risultato", report.result);
}
