#pragma once

#include <cstddef>
#include <string>

// How a key's id reads in the message list and the log: as text when the bytes before its
// first zero are printable ASCII, otherwise the whole value in upper-case hexadecimal (ids
// are often binary hashes). Empty for no bytes. Labels read as common/CleanText.h makes them.
std::string KeyIdText(const unsigned char* bytes, std::size_t length);
