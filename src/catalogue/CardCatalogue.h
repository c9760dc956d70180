#pragma once

#include <json/value.h>

#include <cstddef>
#include <memory>
#include <string>

#include "catalogue/CardDefinition.h"

// The card catalogue: the signing cards the program knows, how each is recognised and which
// modules serve it. Loaded once, then only read.
class CardCatalogue {
public:
    // Parses and validates `size` bytes of catalogue text, or ./cardlist.json when `text` is
    // null. Throws std::runtime_error with the user's message when it is unusable (after
    // logging why); a failed load leaves no part of a document behind.
    void Load(std::size_t size, const char* text);
    // The first "CCID" entry of this system's array whose ATR (under its mask) and reader
    // text match, or null. Throws std::runtime_error when the document has no such array.
    std::unique_ptr<CardDefinition> Find(const std::string& readerName,
                                         const std::string& atrHex) const;

    // The whole parsed document, and whether the parser succeeded (kept, never consulted):
    // the owner's fields of the same name refer to them.
    Json::Value& Document() { return m_document; }
    bool& Parsed() { return m_parsed; }

private:
    Json::Value m_document;
    bool m_parsed = false;
};
