#include "manager/SigningLines.h"

#include <cstdarg>
#include <cstdio>

#include "common/MessageList.h"
#include "log/Log.h"
#include "manager/StatusText.h"

namespace {

const char* SignatureExplanation(uint32_t result) {
    switch (result) {
        case CKR_FUNCTION_FAILED:
            return "(la carta non e' attiva)";
        case CKR_PIN_INCORRECT:
            return "(il PIN non combacia con quello memorizzato nel token)";
        case CKR_PIN_EXPIRED:
            return "(il PIN e' scaduto e va cambiato)";
        case CKR_PIN_LOCKED:
            return "(il PIN e' bloccato per troppi errori)";
        default:
            return "(errore non gestito)";
    }
}

}  // namespace

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void LogVerbatim(uint32_t code, const std::string& text) {
    LOG_MESSAGE(static_cast<int32_t>(code), 0, kCardTestSource, "%s", text.c_str());
}

void Report(IMessageList* list, uint32_t code, const std::string& text) {
    LogVerbatim(code, text);
    AddStatusLine(list, text.c_str());
}

void ReportKey(IMessageList* list, const PrivateKey& key, const KeyOutcome& outcome) {
    const char* id = key.id.c_str();
    const char* label = key.label.c_str();
    const bool labelled = !key.label.empty();
    switch (outcome.verdict) {
        case KeyVerdict::Signed:
            Report(list, 0,
                   labelled ? Format("La credenziale '%s' (%s) ha firmato correttamente", id, label)
                            : Format("La credenziale '%s' ha firmato correttamente", id));
            break;
        case KeyVerdict::Failed:
            Report(list, outcome.code,
                   labelled ? Format("Errore '0x%.2X' durante la firma con la credenziale '%s' "
                                     "(%s)",
                                     outcome.code, id, label)
                            : Format("Errore '0x%.2X' durante la firma con la credenziale '%s'",
                                     outcome.code, id));
            Report(list, outcome.code, SignatureExplanation(outcome.code));
            break;
        case KeyVerdict::BadSignature:
            Report(list, outcome.code,
                   labelled
                       ? Format("La firma della credenziale '%s' (%s) non e' valida", id, label)
                       : Format("La firma della credenziale '%s' non e' valida", id));
            break;
        case KeyVerdict::NotForSigning:
            Report(list, outcome.code,
                   labelled
                       ? Format("La credenziale '%s' (%s) non e' abilitata alla firma", id, label)
                       : Format("La credenziale '%s' non e' abilitata alla firma", id));
            break;
        case KeyVerdict::EndsTest:
            break;  // reported where it happened
    }
}
