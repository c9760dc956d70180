// A catalogue entry's serial filter applied to a token. The input is the token's 16-byte
// serial number field (blank-padded, as tokens report it, when the input is shorter), then
// the filter text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzManager.h"
#include "common/MessageList.h"
#include "manager/SmartCardManager.h"

namespace {

// The manager reports the filter's choice as a status line: that formatting is fuzzed too.
MemoryMessageList g_statusLines;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzManager().m_statusList = &g_statusLines;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CSmartCardManager& manager = FuzzManager();
    auto& serial = manager.m_tokenInfo.serialNumber;
    const std::size_t serialSize = std::min(size, sizeof serial);
    std::memset(serial, ' ', sizeof serial);
    std::memcpy(serial, data, serialSize);
    manager.m_filterDriver.clear();
    g_statusLines.lines.clear();

    manager.ApplySerialFilter(
        std::string(reinterpret_cast<const char*>(data) + serialSize, size - serialSize));
    return 0;
}
