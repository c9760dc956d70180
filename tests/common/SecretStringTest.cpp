// The PIN's own type: bounded, never copied, empty wherever it was taken from.

#include "common/SecretString.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>

namespace {

std::string Text(const SecretString& secret) {
    return std::string(secret.data(), secret.size());
}

static_assert(!std::is_copy_constructible_v<SecretString>);
static_assert(!std::is_copy_assignable_v<SecretString>);

TEST(SecretStringTest, KeepsOneByteOverTheLimitToTellATooLongText) {
    const struct {
        std::size_t length;
        std::size_t kept;
        bool tooLong;
    } cases[] = {
        {0, 0, false},
        {4, 4, false},
        {kMaxPinBytes, kMaxPinBytes, false},
        {kMaxPinBytes + 1, kMaxPinBytes + 1, true},
        {256, kMaxPinBytes + 1, true},
    };
    for (const auto& c : cases) {
        const std::string typed(c.length, '7');
        const SecretString copied{std::string_view(typed)};
        SecretString appended;
        for (char byte : typed) {
            appended.Append(byte);
        }
        for (const SecretString* secret : {&copied, static_cast<const SecretString*>(&appended)}) {
            EXPECT_EQ(secret->size(), c.kept) << c.length;
            EXPECT_EQ(secret->TooLong(), c.tooLong) << c.length;
            EXPECT_EQ(Text(*secret), typed.substr(0, c.kept)) << c.length;
        }
    }
}

TEST(SecretStringTest, TakingATextLeavesItEmpty) {
    for (std::string text : {std::string("1234"), std::string(200, '9')}) {
        const std::string expected = text.substr(0, kMaxPinBytes + 1);
        const SecretString secret(std::move(text));
        EXPECT_EQ(Text(secret), expected);
        EXPECT_TRUE(text.empty());  // NOLINT(bugprone-use-after-move): wiped, then emptied
    }
}

TEST(SecretStringTest, MovingLeavesTheSourceEmpty) {
    SecretString first(std::string_view("135790"));
    SecretString second(std::move(first));
    EXPECT_EQ(Text(second), "135790");
    EXPECT_TRUE(first.empty());  // NOLINT(bugprone-use-after-move)

    SecretString third(std::string_view("2468"));
    third = std::move(second);
    EXPECT_EQ(Text(third), "135790");
    EXPECT_TRUE(second.empty());  // NOLINT(bugprone-use-after-move)

    // A moved-from secret takes new bytes as a new one does.
    second.Append('5');
    EXPECT_EQ(Text(second), "5");
}

TEST(SecretStringTest, DropsOnlyALastByteItIsToldOf) {
    SecretString secret(std::string_view("1234\r"));
    secret.DropLast('\n');
    EXPECT_EQ(Text(secret), "1234\r");
    secret.DropLast('\r');
    EXPECT_EQ(Text(secret), "1234");
    secret.Clear();
    EXPECT_TRUE(secret.empty());
    secret.DropLast('\r');
    EXPECT_TRUE(secret.empty());
}

}  // namespace
