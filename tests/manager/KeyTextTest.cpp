// How key ids read in the message list and the log.

#include "manager/KeyText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Id(const std::string& bytes) {
    return KeyIdText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(KeyTextTest, IdIsTextOnlyWhenPrintableBeforeItsFirstZero) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"", ""},
        {"01", "01"},
        {"K1", "K1"},
        {std::string("K1\0\x9F", 4), "K1"},  // what follows the text is not shown
        {" ~", " ~"},
        {"\x01\x02\xAB", "0102AB"},
        {std::string("\0\x12", 2), "0012"},  // no text before the zero: the bytes
        {"K\r1", "4B0D31"},
        {"K\x7F", "4B7F"},
        {"caf\xC3\xA9", "636166C3A9"},  // not ASCII
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Id(c.bytes), c.shown) << testing::PrintToString(c.bytes);
    }
    // A twenty-byte hash with a zero inside and no printable start, whole.
    const std::string hash(
        "\xA1\x00\x4E\x61\xC2\x07\x11\xE5\xD6\x88\x01\x90\x3C\x7A\x55\x21\xFF"
        "\x10\x20\x30",
        20);
    EXPECT_EQ(Id(hash), "A1004E61C20711E5D68801903C7A5521FF102030");
}

// A value the module did not return arrives as no buffer at all.
TEST(KeyTextTest, NoBytesWithoutABufferAreAnEmptyId) {
    EXPECT_EQ(KeyIdText(nullptr, 0), "");
}

}  // namespace
