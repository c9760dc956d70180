#pragma once

#include <string>

// A file that starts like a 32-bit x86 shared object: the loader must refuse it as a module of
// another architecture.
void WriteElf32(const std::string& path);
