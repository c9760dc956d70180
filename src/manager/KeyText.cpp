#include "manager/KeyText.h"

#include <cstring>

#include "common/Hex.h"

namespace {

bool IsPrintableAscii(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

}  // namespace

std::string KeyIdText(const unsigned char* bytes, std::size_t length) {
    // No bytes may come as no buffer at all (an empty vector's data()).
    if (length == 0) {
        return {};
    }
    const std::size_t textLength = strnlen(reinterpret_cast<const char*>(bytes), length);
    bool printable = textLength > 0;
    for (std::size_t i = 0; i < textLength && printable; ++i) {
        printable = IsPrintableAscii(bytes[i]);
    }
    if (printable) {
        return std::string(reinterpret_cast<const char*>(bytes), textLength);
    }
    return AtrToHex(bytes, length);
}
