#pragma once

// How a key's id and label read in the message list and the log: never a byte that breaks a
// line or garbles the text.

#include <cstddef>
#include <string>

// The id as text when the bytes before its first zero are printable ASCII, otherwise the
// whole value in upper-case hexadecimal (ids are often binary hashes). Empty for no bytes.
std::string KeyIdText(const unsigned char* bytes, std::size_t length);

// The label up to its first zero byte, as valid UTF-8: a byte that does not belong to a valid
// sequence becomes '?', and control characters (line ends and tabs among them) blanks.
std::string KeyLabelText(const unsigned char* bytes, std::size_t length);
