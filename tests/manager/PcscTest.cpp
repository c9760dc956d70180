#include "manager/Pcsc.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/rig/FakePcsc.h"

namespace {

TEST(PcscResultTest, KeepsEveryThirtyTwoBitCodeAndNeverCutsOthersToSuccess) {
    struct Case {
        LONG result;
        uint32_t code;
    } cases[] = {
        {0, 0},
        {SCARD_E_NO_SMARTCARD, 0x8010000C},
        {-2146435026L, 0x8010002E},  // the same code sign-extended from 32 bits
        {0xFFFFFFFFL, 0xFFFFFFFF},
        {0x100000000L, 0x80100014},  // would be 0 if cut
        {0x180100002L, 0x80100014},
        {-0x100000000L, 0x80100014},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PcscResult(c.result), c.code) << std::hex << c.result;
    }
}

class PcscAtrTest : public ::testing::Test {
protected:
    void SetUp() override {
        pcsc.readers = {"Reader"};
        pcsc.states["Reader"] = SCARD_STATE_PRESENT;
        pcsc.atrs["Reader"] = atr;
        ASSERT_EQ(PcscEstablishContext(&context), 0u);
        ASSERT_EQ(PcscConnect(context, "Reader", &card), 0u);
    }
    void TearDown() override {
        PcscDisconnect(card);
        PcscReleaseContext(context);
        EXPECT_EQ(pcsc.OpenCards(), 0);
        EXPECT_EQ(pcsc.OpenContexts(), 0);
        EXPECT_TRUE(pcsc.misuse.empty());
    }

    // The ATR read into a 256-byte buffer, or the failure.
    uint32_t Read(std::vector<unsigned char>* bytes) {
        unsigned char buffer[256] = {};
        DWORD length = sizeof buffer;
        uint32_t result = PcscGetAtr(card, buffer, &length);
        bytes->assign(buffer, buffer + length);
        return result;
    }

    FakePcsc pcsc;
    const std::vector<unsigned char> atr = {0x3B, 0x8E, 0x80, 0x01, 0x80, 0x31};
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
};

TEST_F(PcscAtrTest, AttributeGivesTheAtr) {
    std::vector<unsigned char> bytes;
    EXPECT_EQ(Read(&bytes), 0u);
    EXPECT_EQ(bytes, atr);
    EXPECT_EQ(pcsc.status.calls, 0);
}

TEST_F(PcscAtrTest, UnsupportedAttributeFallsBackToTheStatusOfTheSameCard) {
    pcsc.getAttrib.otherwise = SCARD_E_UNSUPPORTED_FEATURE;
    std::vector<unsigned char> bytes;
    EXPECT_EQ(Read(&bytes), 0u);
    EXPECT_EQ(bytes, atr);
    EXPECT_EQ(pcsc.status.calls, 1);
}

TEST_F(PcscAtrTest, FailuresStayFailures) {
    struct Case {
        LONG attribute;
        LONG status;
        uint32_t expected;
        int statusCalls;
    } cases[] = {
        // Any failure but "unsupported" is the answer: no second way.
        {SCARD_W_REMOVED_CARD, 0, 0x80100069, 0},
        {SCARD_E_UNSUPPORTED_FEATURE, SCARD_W_REMOVED_CARD, 0x80100069, 1},
    };
    for (const Case& c : cases) {
        pcsc.getAttrib.otherwise = c.attribute;
        pcsc.status.otherwise = c.status;
        pcsc.status.calls = 0;
        std::vector<unsigned char> bytes;
        EXPECT_EQ(Read(&bytes), c.expected);
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(pcsc.status.calls, c.statusCalls);
    }
}

}  // namespace
