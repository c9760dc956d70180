#pragma once

#include <string>
#include <utility>
#include <vector>

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
