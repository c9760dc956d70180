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
