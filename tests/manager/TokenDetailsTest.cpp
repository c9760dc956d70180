#include "manager/TokenDetails.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log/Log.h"
#include "support/TempDir.h"

namespace {

template <std::size_t N>
void Fill(unsigned char (&field)[N], const std::string& text, char pad = ' ') {
    std::memset(field, pad, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

TEST(TokenTextTest, TrimsTrailingWhiteSpaceUpToTheFirstZeroByte) {
    unsigned char field[32];
    Fill(field, "");
    EXPECT_EQ(TokenText(field, sizeof field), "");
    Fill(field, "Token 1");
    EXPECT_EQ(TokenText(field, sizeof field), "Token 1");
    Fill(field, std::string(32, 'x'));
    EXPECT_EQ(TokenText(field, sizeof field), std::string(32, 'x'));
    Fill(field, "  lead\t\r\n\v\f");
    EXPECT_EQ(TokenText(field, sizeof field), "  lead");
    // A zero byte at position 10: the first ten bytes, their own trailing blanks removed.
    Fill(field, "Firma  Q  ");
    field[10] = 0;
    EXPECT_EQ(TokenText(field, sizeof field), "Firma  Q");
}

TEST(TokenDetailsTest, ZeroInformationGivesEmptyTextsAndZeroCounters) {
    CK_TOKEN_INFO info{};
    TokenDetails details = MakeTokenDetails(info);
    EXPECT_EQ(details.label, "");
    EXPECT_EQ(details.manufacturerId, "");
    EXPECT_EQ(details.model, "");
    EXPECT_EQ(details.serialNumber, "");
    EXPECT_EQ(details.flagsText, "0x00000000");
    EXPECT_EQ(details.hardwareVersion, "0.0");
    EXPECT_EQ(details.firmwareVersion, "0.0");
    EXPECT_EQ(details.maxSessionCount, 0u);
    EXPECT_EQ(details.freePrivateMemory, 0u);
}

TEST(TokenDetailsTest, FieldsAndCountersKeepTheModulesValues) {
    CK_TOKEN_INFO info{};
    Fill(info.label, "Firma digitale");
    Fill(info.manufacturerID, "Bit4id");
    Fill(info.model, "CNS");
    Fill(info.serialNumber, "7420051234567890");
    info.flags = CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    info.ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulMaxRwSessionCount = CK_UNAVAILABLE_INFORMATION;
    info.ulMaxPinLen = CK_UNAVAILABLE_INFORMATION;
    info.ulMinPinLen = 4;
    info.ulTotalPublicMemory = 0x100000000UL;  // beyond 32 bits: kept, never wrapped
    info.ulFreePublicMemory = 65536;
    info.ulTotalPrivateMemory = 2;
    info.ulFreePrivateMemory = 1;
    info.hardwareVersion = {2, 10};
    info.firmwareVersion = {1, 255};

    TokenDetails details = MakeTokenDetails(info);
    EXPECT_EQ(details.label, "Firma digitale");
    EXPECT_EQ(details.manufacturerId, "Bit4id");
    EXPECT_EQ(details.model, "CNS");
    EXPECT_EQ(details.serialNumber, "7420051234567890");
    EXPECT_EQ(details.flagsText, "0x0000040C");
    EXPECT_EQ(details.maxSessionCount, 0u);
    EXPECT_EQ(details.maxRwSessionCount, ~0UL);
    EXPECT_EQ(details.maxPinLen, ~0UL);
    EXPECT_EQ(details.minPinLen, 4u);
    EXPECT_EQ(details.totalPublicMemory, 0x100000000UL);
    EXPECT_EQ(details.freePublicMemory, 65536u);
    EXPECT_EQ(details.totalPrivateMemory, 2u);
    EXPECT_EQ(details.freePrivateMemory, 1u);
    EXPECT_EQ(details.hardwareVersion, "2.10");
    EXPECT_EQ(details.firmwareVersion, "1.255");
}

TEST(TokenDetailsTest, LogTakesTheTextsVerbatim) {
    TempDir dir;
    ASSERT_EQ(LogStart(), 0);
    TokenDetails details;
    details.label = "100% %s %n";
    details.manufacturerId = "Maker";
    details.model = "M1";
    details.serialNumber = "0001";
    LogTokenDetails(details);
    LogStop();
    std::string log = ReadFile("Lumidor.log");
    EXPECT_NE(log.find("|TokenInfo:Label               |"), std::string::npos);
    EXPECT_NE(log.find("|100% %s %n "), std::string::npos);
    EXPECT_NE(log.find("|TokenInfo:ManufacturerID      |"), std::string::npos);
    EXPECT_NE(log.find("|TokenInfo:Model               |"), std::string::npos);
    EXPECT_NE(log.find("|TokenInfo:SerialNumber        |"), std::string::npos);
    EXPECT_NE(log.find("|0001 "), std::string::npos);
    // Empty texts queue records that write no line.
    LogStart();
    LogTokenDetails(TokenDetails{});
    LogStop();
    EXPECT_EQ(ReadFile("Lumidor.log").size(), log.size() + 350);  // only the separator
}

}  // namespace
