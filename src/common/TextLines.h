#pragma once

#include <string>
#include <vector>

// The lines of one of the program's own data files (string table, dialog templates), without
// their line ends (LF or CR LF); line i of the file is element i - 1.
std::vector<std::string> TextLines(const std::string& text);
