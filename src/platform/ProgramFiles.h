#pragma once

// Where the program looks for the files that other packages install for it.

#include <string>

// The system's ATR list of known cards (pcsc-tools' smartcard_list.txt): the one pcsc-tools
// installs on Linux; on Windows, which has no such package, one installed beside the program.
std::string SystemAtrListPath();
