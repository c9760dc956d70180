// The result code names against the constants of p11-kit's pkcs11.h and pcsc-lite's
// pcsclite.h: every CKR_* and SCARD_S/E/F/W/P_* macro of the headers, listed at configure
// time from their text and valued here by the compiler.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <winscard.h>

#include <cstdint>
#include <set>
#include <string>

#include "platform/Pkcs11.h"
#include "platform/ResultNames.h"

namespace {

struct HeaderCode {
    const char* name;
    uint32_t code;
};

constexpr HeaderCode kHeaderCodes[] = {
#include "HeaderResultCodes.inc"
};

struct LoaderCode {
    uint32_t code;
    const char* name;
};

// The Windows codes of the module loader, by the names Windows gives them.
constexpr LoaderCode kLoaderCodes[] = {
    {5, "ERROR_ACCESS_DENIED"},    {126, "ERROR_MOD_NOT_FOUND"},    {127, "ERROR_PROC_NOT_FOUND"},
    {193, "ERROR_BAD_EXE_FORMAT"}, {1114, "ERROR_DLL_INIT_FAILED"},
};

TEST(ResultNamesTest, EveryCodeOfTheHeadersHasItsName) {
    // Both headers were read: pkcs11.h has over 90 CKR_ codes, pcsclite.h over 60 SCARD_.
    ASSERT_GT(std::size(kHeaderCodes), 150u);
    for (const HeaderCode& entry : kHeaderCodes) {
        EXPECT_THAT(ResultNames(entry.code), testing::Contains(entry.name)) << entry.name;
    }
    for (const LoaderCode& entry : kLoaderCodes) {
        EXPECT_THAT(ResultNames(entry.code), testing::Contains(entry.name)) << entry.name;
    }
}

TEST(ResultNamesTest, NoCodeHasANameOfAnotherValue) {
    std::set<std::pair<uint32_t, std::string>> known;
    std::set<uint32_t> codes;
    for (const HeaderCode& entry : kHeaderCodes) {
        known.emplace(entry.code, entry.name);
        codes.insert(entry.code);
    }
    for (const LoaderCode& entry : kLoaderCodes) {
        known.emplace(entry.code, entry.name);
        codes.insert(entry.code);
    }
    for (uint32_t code : codes) {
        for (const std::string& name : ResultNames(code)) {
            EXPECT_TRUE(known.count({code, name}) == 1) << name << " for " << ResultHex(code);
        }
    }
}

TEST(ResultNamesTest, TheReportShowsEveryNameOfAValue) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0x8010000C, "SCARD_E_NO_SMARTCARD"},
        {0xA0, "CKR_PIN_INCORRECT"},
        {126, "ERROR_MOD_NOT_FOUND"},
        {0, "CKR_OK / SCARD_S_SUCCESS"},
        {5, "CKR_GENERAL_ERROR / ERROR_ACCESS_DENIED"},
        {193, "CKR_SIGNATURE_LEN_RANGE / ERROR_BAD_EXE_FORMAT"},
        {0x8010001F, "SCARD_E_UNEXPECTED / SCARD_E_UNSUPPORTED_FEATURE"},
        {0x80000001, ""},
        {0x7D, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResultName(c.code), c.text) << ResultHex(c.code);
    }
    EXPECT_EQ(ResultHex(0x8010000C), "0x8010000C");
    EXPECT_EQ(ResultHex(0xA0), "0x000000A0");
}

}  // namespace
