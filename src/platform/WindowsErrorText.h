#pragma once

// Windows builds only: the system's own message for any of its error codes.

#include <cstdint>
#include <string>

// FormatMessage's text for `code` in the system's language, without its inserts (%1) and its
// line end, or the empty text when the system has none.
std::string WindowsErrorText(uint32_t code);
