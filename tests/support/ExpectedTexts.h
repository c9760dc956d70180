#pragma once

// The status and log lines that many tests expect, as the program writes them.

#include <string>

inline const std::string kPassed = "Smart card testata con successo";
inline const std::string kFailed = "Errore durante l'esecuzione del test della smart card";
inline const std::string kFinalTry =
    "Attenzione: resta un solo tentativo per il PIN, poi la carta si blocca";
inline const std::string kCountLow =
    "Attenzione: il PIN e' gia' stato digitato in modo errato, restano pochi tentativi";
inline const std::string kLocked =
    "Attenzione: il PIN e' bloccato, il test non potra' accedere alla carta";
inline const std::string kRefused =
    "La carta ha rifiutato il PIN: il PIN digitato non e' quello della carta";
inline const std::string kCardChangedLine =
    "La carta nel lettore e' cambiata dopo la verifica: ripetere la verifica prima del test";
inline const std::string kSigned = "La credenziale 'K1' (Firma) ha firmato correttamente";

inline std::string LoadFailedLine(const std::string& name, const std::string& systemText) {
    return "Errore durante il caricamento del driver della smart card (" + name +
           "): " + systemText;
}
inline std::string LoadedLine(const std::string& name) {
    return "Driver '" + name + "' per accesso alla smart card, trovato";
}
inline std::string FilterLine(const std::string& name) {
    return "Abbinato driver '" + name + "' in base al filtro 'serial number'";
}

constexpr const char* kModuleNotFound = "The specified module could not be found.";
