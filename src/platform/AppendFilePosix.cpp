#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenAppendFile(const char* name) {
    const int file = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (file < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(file);
        return -1;
    }
    return file;
}

void AppendToFile(int file, const char* bytes, std::size_t length) {
    const ssize_t ignored = write(file, bytes, length);
    (void)ignored;
}

int64_t AppendFileSize(int file) {
    return static_cast<int64_t>(lseek(file, 0, SEEK_END));
}

void CloseAppendFile(int file) {
    if (file >= 0) {
        close(file);
    }
}
