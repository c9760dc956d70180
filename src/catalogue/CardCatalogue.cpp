#include "catalogue/CardCatalogue.h"

#include <json/reader.h>

#include <filesystem>
#include <fstream>
#include <ios>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "catalogue/CatalogueArray.h"
#include "log/Log.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::InitCardList";
constexpr const char* kFileName = "cardlist.json";
constexpr const char* kFileNotFound = "File definizione carte non trovato";
constexpr const char* kBadVersion = "Versione del file non valida";
constexpr const char* kBadArray = "Array per sistema operativo non valido";

void Log(const std::string& message) {
    LOG_MESSAGE(0, 0, kSource, "%s", message.c_str());
}

[[noreturn]] void Reject(const std::string& message) {
    Log(message);
    throw std::runtime_error(message);
}

// The catalogue file is missing or unusable as a file: the message, then the reason.
[[noreturn]] void RejectFile(const std::string& reason) {
    Log(kFileNotFound);
    Log(reason);
    throw std::runtime_error(kFileNotFound);
}

// Parses a whole catalogue text into `root`; false with the parser's own message in `error`.
bool Parse(std::istream& stream, Json::Value* root, std::string* error) {
    Json::CharReaderBuilder builder;
    try {
        return Json::parseFromStream(builder, stream, root, error);
    } catch (const Json::Exception& exception) {
        *error = exception.what();
        return false;
    }
}

// The same for ./cardlist.json, which must be a regular file: a directory or a FIFO (which
// would block the start) takes the path of a missing file.
bool ParseFile(Json::Value* root, std::string* error) {
    std::error_code status;
    if (!std::filesystem::is_regular_file(kFileName, status)) {
        RejectFile(status ? status.message() : std::string(kFileName) + " is not a regular file");
    }
    try {
        std::ifstream file;
        file.exceptions(std::ios::failbit | std::ios::badbit);
        file.open(kFileName, std::ios::in);
        const bool parsed = Parse(file, root, error);
        file.close();
        return parsed;
    } catch (const std::ios_base::failure& failure) {
        RejectFile(failure.what());
    }
}

}  // namespace

void CardCatalogue::Load(std::size_t size, const char* text) {
    m_parsed = false;
    // A failed parse can leave part of a document behind; never let it mix with an
    // earlier catalogue.
    m_document = Json::Value();
    std::string error;
    if (text != nullptr) {
        std::istringstream stream(std::string(text, size));
        m_parsed = Parse(stream, &m_document, &error);
    } else {
        m_parsed = ParseFile(&m_document, &error);
    }
    // A text cut short would otherwise load with its half-read entries.
    if (!m_parsed) {
        m_document = Json::Value();
        Reject(error);
    }

    // A root that is no object has no version either (and would make the lookups below raise
    // jsoncpp's own error, unlogged and unexplained).
    if (!m_document.isObject()) {
        Reject(kBadVersion);
    }
    const Json::Value version = m_document.get("version", "");
    if (!version.isString() || version.asString().empty()) {
        Reject(kBadVersion);
    }
    if (!m_document.get(kCatalogueArray, "").isArray()) {
        Reject(kBadArray);
    }
}
