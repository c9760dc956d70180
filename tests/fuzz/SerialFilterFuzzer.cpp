// A catalogue entry's serial filter applied to a token. The input is the token's 16-byte
// serial number field (blank-padded, as tokens report it, when the input is shorter), then
// the filter text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/MessageList.h"
#include "manager/SerialFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CK_TOKEN_INFO token;
    std::memset(&token, 0, sizeof token);
    const std::size_t serialSize = std::min(size, sizeof token.serialNumber);
    std::memset(token.serialNumber, ' ', sizeof token.serialNumber);
    std::memcpy(token.serialNumber, data, serialSize);
    // The choice is reported as a status line: that formatting is fuzzed too.
    MemoryMessageList statusLines;
    SerialFilterChoice(
        std::string(reinterpret_cast<const char*>(data) + serialSize, size - serialSize), token,
        &statusLines);
    return 0;
}
