#include "platform/SystemText.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    uint32_t code;
    const char* text;
};

TEST(SystemTextTest, KnownCodesHaveTheirTextsAndOthersNone) {
    const Case cases[] = {
        {0x8010000C, "No smart card inserted."},
        {0x8010001D, "Service not available."},
        {kErrorModuleNotFound, "The specified module could not be found."},
        {kErrorProcNotFound, "The specified procedure could not be found."},
        {kErrorAccessDenied, "Access is denied."},
        {0x80100099, ""},  // pcsc-lite's "Unknown error: ..." counts as none
        {0x12345, ""},
        {0xE0, ""},  // PKCS#11 values have no system text
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SystemMessageText(c.code), c.text) << std::hex << c.code;
    }
    EXPECT_FALSE(SystemMessageText(kErrorBadExeFormat).empty());
    EXPECT_FALSE(SystemMessageText(kErrorDllInitFailed).empty());
}

}  // namespace
