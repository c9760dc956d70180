#include "support/Elf32File.h"

#include <fstream>

void WriteElf32(const std::string& path) {
    unsigned char header[128] = {0x7F, 'E', 'L', 'F', 1 /* 32-bit */, 1 /* little endian */,
                                 1 /* version */};
    header[16] = 3;   // ET_DYN
    header[18] = 3;   // EM_386
    header[20] = 1;   // EV_CURRENT
    header[40] = 52;  // e_ehsize
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
}
