#pragma once

// Any bytes (a key's label, a certificate's name, a reader's text) as one line that is safe
// to show and to log: never a byte that breaks a line or garbles the text.

#include <cstddef>
#include <string>

// The bytes up to the first zero byte, as valid UTF-8: a byte that does not belong to a valid
// sequence becomes '?', and control characters (line ends and tabs among them) blanks.
std::string CleanText(const unsigned char* bytes, std::size_t length);

// The same for a text whose bytes nobody checked (a module's, the PC/SC service's).
std::string CleanText(const std::string& text);
