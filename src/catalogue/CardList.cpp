#include <json/reader.h>

#include <fstream>
#include <ios>
#include <sstream>
#include <stdexcept>
#include <string>

#include "catalogue/CatalogueArray.h"
#include "log/Log.h"
#include "manager/SmartCardManager.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::InitCardList";
constexpr const char* kFileNotFound = "File definizione carte non trovato";
constexpr const char* kBadVersion = "Versione del file non valida";
constexpr const char* kBadArray = "Array per sistema operativo non valido";

[[noreturn]] void Reject(const char* message) {
    if (g_logLevel >= 1)
        LogMessage(0, 0, kSource, "%s", message);
    throw std::runtime_error(message);
}

}  // namespace

void CSmartCardManager::InitCardList(std::size_t size, const char* text) {
    m_cardListParsed = false;
    // A failed parse can leave part of a document behind; never let it mix with an
    // earlier catalogue.
    m_cardList = Json::Value();
    Json::CharReaderBuilder builder;
    std::string errors;

    if (text != nullptr) {
        std::istringstream stream(std::string(text, size));
        m_cardListParsed = Json::parseFromStream(builder, stream, &m_cardList, &errors);
    } else {
        try {
            std::ifstream file;
            file.exceptions(std::ios::failbit | std::ios::badbit);
            file.open("cardlist.json", std::ios::in);
            try {
                m_cardListParsed = Json::parseFromStream(builder, file, &m_cardList, &errors);
            } catch (const Json::Exception& error) {
                // The checks below still decide whether what was read is usable.
                if (g_logLevel >= 1)
                    LogMessage(0, 0, kSource, "%s", error.what());
            }
            file.close();
        } catch (const std::ios_base::failure& error) {
            if (g_logLevel >= 1)
                LogMessage(0, 0, kSource, "%s", kFileNotFound);
            if (g_logLevel >= 1)
                LogMessage(0, 0, kSource, "%s", error.what());
            throw std::runtime_error(kFileNotFound);
        }
    }

    // A root that is not an object makes these lookups raise jsoncpp's own error.
    const Json::Value version = m_cardList.get("version", "");
    if (!version.isString() || version.asString().empty()) {
        Reject(kBadVersion);
    }
    if (!m_cardList.get(kCatalogueArray, "").isArray()) {
        Reject(kBadArray);
    }
}
