#include "platform/WholeFile.h"

#include <windows.h>

WholeFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string* text) {
    text->clear();
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? WholeFileRead::Missing
                   : WholeFileRead::Unreadable;
    }
    WholeFileRead result = WholeFileRead::Read;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (ReadFile(file, buffer, sizeof buffer, &got, nullptr) == 0) {
            // A pipe's writer that closed its end is the end of the text, not a failure.
            if (GetLastError() != ERROR_BROKEN_PIPE) {
                result = WholeFileRead::Unreadable;
            }
            break;
        }
        if (got == 0) {
            break;
        }
        if (text->size() + got > maxSize) {
            result = WholeFileRead::TooLarge;
            break;
        }
        text->append(buffer, got);
    }
    CloseHandle(file);
    if (result != WholeFileRead::Read) {
        text->clear();
    }
    return result;
}
