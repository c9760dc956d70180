#include "platform/WholeFile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

WholeFileRead ReadWholeFile(const std::string& path, std::size_t maxSize, std::string* text) {
    text->clear();
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return errno == ENOENT || errno == ENOTDIR ? WholeFileRead::Missing
                                                   : WholeFileRead::Unreadable;
    }
    WholeFileRead result = WholeFileRead::Read;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = WholeFileRead::Unreadable;
            break;
        }
        if (got == 0) {
            break;
        }
        if (text->size() + static_cast<std::size_t>(got) > maxSize) {
            result = WholeFileRead::TooLarge;
            break;
        }
        text->append(buffer, static_cast<std::size_t>(got));
    }
    close(file);
    if (result != WholeFileRead::Read) {
        text->clear();
    }
    return result;
}
