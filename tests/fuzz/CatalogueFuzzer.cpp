// Loads the input as the catalogue, then looks a card up in it. The input is a reader name
// line, an ATR line (hexadecimal text as the manager makes it from a card, but any text
// here) and the catalogue text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FuzzManager.h"
#include "manager/SmartCardManager.h"

namespace {

// The text up to the next line feed, or all that is left; `rest` moves past it but keeps
// pointing into the input, so that the catalogue is read from libFuzzer's own buffer and
// a read past its end is caught.
std::string TakeLine(std::string_view& rest) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string line(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzManager();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string readerName = TakeLine(rest);
    const std::string atrHex = TakeLine(rest);

    CSmartCardManager& manager = FuzzManager();
    try {
        // Never null: a null text makes the loader read ./cardlist.json instead.
        manager.InitCardList(rest.size(), rest.data());
    } catch (const std::runtime_error&) {
        return 0;
    }
    delete manager.FindCardJson(readerName, atrHex);
    return 0;
}
