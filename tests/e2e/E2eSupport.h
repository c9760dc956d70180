#pragma once

// Fixture catalogues for the card check: "linux" entries of type "CCID" that name their
// modules by absolute path, so that the check loads copies made by the test.

#include <string>
#include <vector>

// One entry, as JSON text. `filter` is written as the catalogue writes it (single quotes).
inline std::string CardEntry(const std::string& atr, const std::string& drivers,
                             const std::string& filter = "") {
    std::string entry = R"({"type": "CCID", "atr": ")" + atr + R"(", "drivers": ")" + drivers +
                        R"(", "askpin": "true", "tryreusedriver": "false")";
    if (!filter.empty()) {
        entry += R"(, "filter": ")" + filter + "\"";
    }
    return entry + "}";
}

inline std::string Catalogue(const std::vector<std::string>& entries) {
    std::string text = R"({"version": "1.0.0.0", "windows": [], "linux": [)";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        text += (i == 0 ? "" : ", ") + entries[i];
    }
    return text + "], \"osx\": []}";
}

// `text` with every "@key" of the table replaced by its value (longest keys first is not
// needed: keys never begin one another).
inline std::string Expand(std::string text,
                          const std::vector<std::pair<std::string, std::string>>& table) {
    for (const auto& [key, value] : table) {
        for (std::size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + value.size())) {
            text.replace(at, key.size(), value);
        }
    }
    return text;
}

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
