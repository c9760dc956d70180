#pragma once

#include <cstddef>
#include <string>

enum class WholeFileRead { Read, Missing, Unreadable, TooLarge };

// The whole file at `path` into `text`, read in bounded steps so that a device or an endless
// file cannot hold the caller. A file of more than `maxSize` bytes is TooLarge; `text` is
// left empty whenever the file was not read whole.
WholeFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string* text);
