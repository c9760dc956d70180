#include "common/CleanText.h"

#include <cstring>

namespace {

// The length of the valid UTF-8 sequence that starts at bytes[0], or 0 when none does.
std::size_t Utf8SequenceLength(const unsigned char* bytes, std::size_t available) {
    const unsigned char lead = bytes[0];
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte, narrowed for some leads
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (available < length || bytes[1] < low || bytes[1] > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string CleanText(const unsigned char* bytes, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const std::size_t textLength = strnlen(reinterpret_cast<const char*>(bytes), length);
    std::string text;
    text.reserve(textLength);
    for (std::size_t i = 0; i < textLength;) {
        const std::size_t sequence = Utf8SequenceLength(bytes + i, textLength - i);
        if (sequence == 0) {
            text += '?';
            ++i;
        } else if (sequence == 1 && (bytes[i] < 0x20 || bytes[i] == 0x7F)) {
            text += ' ';
            ++i;
        } else {
            text.append(reinterpret_cast<const char*>(bytes + i), sequence);
            i += sequence;
        }
    }
    return text;
}

std::string CleanText(const std::string& text) {
    return CleanText(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}
