#include "platform/AppendFile.h"

#include <io.h>
#include <windows.h>

#include <fcntl.h>

namespace {

// The C library's check of a bad descriptor may end the process: -1 never reaches it.
HANDLE SystemHandle(int file) {
    return file < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(file));
}

}  // namespace

// FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the file's end, whoever
// else writes to it, as O_APPEND does. Other processes may read, write, rename and delete the
// file meanwhile: the log's rotation renames files that another instance may hold open.
int OpenAppendFile(const char* name) {
    HANDLE handle = CreateFileA(name, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // A pipe, a console or another device is no file to append to.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return -1;
    }
    const int file = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND);
    if (file < 0) {
        CloseHandle(handle);
        return -1;
    }
    return file;
}

void AppendToFile(int file, const char* bytes, std::size_t length) {
    const HANDLE handle = SystemHandle(file);
    // WriteFile takes a DWORD's length.
    while (length > 0) {
        const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (WriteFile(handle, bytes, chunk, &written, nullptr) == 0 || written == 0) {
            return;
        }
        bytes += written;
        length -= written;
    }
}

int64_t AppendFileSize(int file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(SystemHandle(file), &size) == 0) {
        return -1;
    }
    return static_cast<int64_t>(size.QuadPart);
}

// _close closes the system's handle with the descriptor.
void CloseAppendFile(int file) {
    if (file >= 0) {
        _close(file);
    }
}
