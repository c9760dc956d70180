#include "catalogue/CardCatalogue.h"

#include <json/value.h>

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>

#include "catalogue/CatalogueArray.h"
#include "log/Log.h"

namespace {

constexpr const char* kSource = "CSmartCardManager::FindCardJson";

// The entry's member as text; an absent member reads as the empty text. False when the
// member is present but not a string: such an entry is unusable, whatever its other
// members say.
bool ReadText(const Json::Value& entry, const char* key, std::string& text) {
    const Json::Value* value = entry.find(key, key + std::strlen(key));
    if (value == nullptr) {
        text.clear();
        return true;
    }
    if (!value->isString()) {
        return false;
    }
    text = value->asString();
    return true;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One byte read as up to two hexadecimal digits from position p, never past the text's
// end; reading stops at the first character that is not a digit (none read gives 0).
unsigned ByteAt(const std::string& text, std::size_t p) {
    unsigned value = 0;
    for (std::size_t i = p; i < text.size() && i < p + 2; ++i) {
        int digit = HexDigit(text[i]);
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

bool AtrMatches(const std::string& atrHex, const std::string& atr, const std::string& mask) {
    if (mask.empty()) {
        return EqualIgnoringCase(atrHex, atr);
    }
    if (atr.size() != atrHex.size()) {
        return false;
    }
    // A mask that does not cover the whole ATR is a broken entry: it must not identify
    // cards by the bytes it leaves out.
    if (mask.size() < atr.size()) {
        return false;
    }
    for (std::size_t p = 0; p < atr.size(); p += 2) {
        unsigned m = ByteAt(mask, p);
        if ((m & ByteAt(atrHex, p)) != (m & ByteAt(atr, p))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<CardDefinition> CardCatalogue::Find(const std::string& readerName,
                                                    const std::string& atrHex) const {
    if (atrHex.empty()) {
        return nullptr;
    }
    const Json::Value* cards = nullptr;
    if (m_document.isObject()) {
        cards = m_document.find(kCatalogueArray, kCatalogueArray + std::strlen(kCatalogueArray));
    }
    if (cards == nullptr || !cards->isArray()) {
        LOG_MESSAGE(0, 0, kSource, "%s", "Array per sistema operativo non valido");
        throw std::runtime_error("Array per sistema operativo non valido");
    }

    for (Json::ArrayIndex index = 0; index < cards->size(); ++index) {
        const Json::Value& entry = (*cards)[index];
        // A malformed entry is skipped rather than allowed to throw out of a window
        // handler; the log names it so that the catalogue can be mended.
        if (!entry.isObject()) {
            LOG_MESSAGE(0, 0, kSource, "Card entry %u skipped: it is not an object", index);
            continue;
        }
        std::string type;
        if (!ReadText(entry, "type", type)) {
            LOG_MESSAGE(0, 0, kSource, "Card entry %u skipped: \"type\" is not a string", index);
            continue;
        }
        if (type != "CCID") {
            continue;
        }

        std::string atr, atrMask, reader, drivers, askPin, tryReuseDriver, filter;
        const char* badKey = nullptr;
        if (!ReadText(entry, "atr", atr))
            badKey = "atr";
        else if (!ReadText(entry, "atrmask", atrMask))
            badKey = "atrmask";
        else if (!ReadText(entry, "reader", reader))
            badKey = "reader";
        else if (!ReadText(entry, "drivers", drivers))
            badKey = "drivers";
        else if (!ReadText(entry, "askpin", askPin))
            badKey = "askpin";
        else if (!ReadText(entry, "tryreusedriver", tryReuseDriver))
            badKey = "tryreusedriver";
        else if (!ReadText(entry, "filter", filter))
            badKey = "filter";
        if (badKey != nullptr) {
            LOG_MESSAGE(0, 0, kSource, "Card entry %u skipped: \"%s\" is not a string", index,
                        badKey);
            continue;
        }

        if (!AtrMatches(atrHex, atr, atrMask)) {
            continue;
        }
        if (!reader.empty() && readerName.find(reader) == std::string::npos) {
            continue;
        }

        auto card = std::make_unique<CardDefinition>();
        card->atr = atr;
        card->atrMask = atrMask;
        card->drivers = drivers;
        card->askPin = askPin == "true" ? 1 : 0;
        card->tryReuseDriver = tryReuseDriver == "true" ? 1 : 0;
        card->filter = filter;
        card->reader = reader;
        return card;
    }
    return nullptr;
}
