#pragma once

#include <cstddef>
#include <string>

// Bytes (an ATR, a key id) as upper-case hexadecimal text, two digits per byte, no separators.
std::string AtrToHex(const unsigned char* atr, std::size_t length);

// Such text with `separator` between its byte pairs: "3B021450" with ' ' gives "3B 02 14 50".
std::string HexPairs(const std::string& hex, char separator);
