// The module loader's version from a file name (libx.so.1.2.3), on any name.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ModuleLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    uint16_t version[4] = {};
    VersionFromFileName(std::string(reinterpret_cast<const char*>(data), size), version);
    return 0;
}
