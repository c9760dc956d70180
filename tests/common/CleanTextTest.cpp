// Bytes of unknown origin as one clean line.

#include "common/CleanText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CleanTextTest, IsValidUtf8OnOneLine) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"", ""},
        {"Firma digitale", "Firma digitale"},
        {"Chiave \xC3\xA8 \xE2\x82\xAC \xF0\x9F\x94\x91",
         "Chiave \xC3\xA8 \xE2\x82\xAC \xF0\x9F\x94\x91"},
        {std::string("Firma\0junk", 10), "Firma"},
        {"a\rb\nc\td", "a b c d"},
        {"x\x1B[2Jy", "x [2Jy"},
        {"caf\xE9", "caf?"},           // Latin-1, not UTF-8
        {"\xC3", "?"},                 // cut in the middle of a character
        {"\xC0\xAF", "??"},            // overlong
        {"\xED\xA0\x80", "???"},       // surrogate
        {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
        {"\x80x", "?x"},               // continuation byte alone
        {"\xE2\x82", "??"},            // three-byte character cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CleanText(c.bytes), c.shown) << testing::PrintToString(c.bytes);
    }
}

// A value a module did not return arrives as no buffer at all.
TEST(CleanTextTest, NoBytesWithoutABufferAreAnEmptyText) {
    EXPECT_EQ(CleanText(nullptr, 0), "");
}

}  // namespace
