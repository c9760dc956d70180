#include "common/Hex.h"

std::string AtrToHex(const unsigned char* atr, std::size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += kDigits[atr[i] >> 4];
        text += kDigits[atr[i] & 0x0F];
    }
    return text;
}

std::string HexPairs(const std::string& hex, char separator) {
    std::string text;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i > 0) {
            text += separator;
        }
        text += hex.substr(i, 2);
    }
    return text;
}
