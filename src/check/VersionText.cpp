#include "check/VersionText.h"

#include <json/reader.h>
#include <json/value.h>

#include <memory>

#include "catalogue/EmbeddedCatalogue.h"

namespace {

// The catalogue's "version" string; none when it does not parse or has none.
std::optional<std::string> CatalogueVersion(const char* text, std::size_t size) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text, text + size, &root, &errors) || !root.isObject()) {
        return std::nullopt;
    }
    const Json::Value& version = root["version"];
    if (!version.isString() || version.asString().empty()) {
        return std::nullopt;
    }
    return version.asString();
}

}  // namespace

std::optional<std::string> VersionText() {
    std::string text = "lumidor-check " LUMIDOR_VERSION "\n";
    std::size_t size = 0;
    const char* catalogue = EmbeddedCatalogue(&size);
    if (catalogue == nullptr) {
        return text + "catalogo: nessuno incorporato (legge cardlist.json)\n";
    }
    const std::optional<std::string> version = CatalogueVersion(catalogue, size);
    if (!version) {
        return std::nullopt;
    }
    return text + "catalogo " + *version + "\n";
}
