#pragma once

// Files written at their end through a descriptor, the system's small integer; -1 is none.

#include <cstddef>
#include <cstdint>

// Opens `name` for writing at its end, creating it when missing, or gives -1. Only a regular
// file is opened: a FIFO would block its writer until a reader came, and a device or socket
// is no file to append to. The open itself never waits.
int OpenAppendFile(const char* name);

// Writes the bytes at the file's end. A failure is not reported: the callers (the log) must
// never be disturbed by their file.
void AppendToFile(int file, const char* bytes, std::size_t length);

// The file's size, or -1 when it cannot be told.
int64_t AppendFileSize(int file);

// Closes the descriptor; -1 is ignored.
void CloseAppendFile(int file);
