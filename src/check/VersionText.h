#pragma once

#include <optional>
#include <string>

// The --version text: the program's version and the "version" of the catalogue compiled
// into it (or that it has none and reads cardlist.json). None when the compiled-in
// catalogue has no readable "version".
std::optional<std::string> VersionText();
