// Preloaded into the test rig's own pcscd (LD_PRELOAD) so that it lives beside any other
// pcscd of the machine without touching it:
// - its fixed run directory /run/pcscd (socket, pid file) is redirected into the rig's
//   directory named by LUMIDOR_RIG_RUN_DIR; without that variable every such path fails
//   rather than reaching the real one;
// - the USB driver directory appears missing, so it never claims a real reader that the
//   system's pcscd serves;
// - listening TCP sockets (the virtual reader's ports) bind to the loopback address only.
//
// Built without sanitizers: it is loaded into a program that has none.

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kRunDir[] = "/run/pcscd";
constexpr char kUsbDriverDir[] = "/usr/lib/pcsc/drivers";
// Fails every call that names it.
constexpr char kNowhere[] = "/nonexistent/lumidor-rig-run-dir-unset";

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool UnderRunDir(const char* path) {
    constexpr size_t length = sizeof kRunDir - 1;
    return path != nullptr && strncmp(path, kRunDir, length) == 0 &&
           (path[length] == '\0' || path[length] == '/');
}

// The path to use in place of `path`; `buffer` holds a redirected one.
const char* Redirect(const char* path, char (&buffer)[PATH_MAX]) {
    if (!UnderRunDir(path)) {
        return path;
    }
    const char* runDir = getenv("LUMIDOR_RIG_RUN_DIR");
    if (runDir == nullptr || runDir[0] != '/') {
        return kNowhere;
    }
    int written = snprintf(buffer, sizeof buffer, "%s%s", runDir, path + sizeof kRunDir - 1);
    if (written < 0 || static_cast<size_t>(written) >= sizeof buffer) {
        return kNowhere;
    }
    return buffer;
}

bool IsUsbDriverDir(const char* path) {
    if (path == nullptr) {
        return false;
    }
    size_t length = strlen(path);
    while (length > 1 && path[length - 1] == '/') {
        --length;
    }
    return length == sizeof kUsbDriverDir - 1 && strncmp(path, kUsbDriverDir, length) == 0;
}

__attribute__((constructor)) void Announce() {
    // Lets the rig check that the preload takes effect before it starts the service.
    if (getenv("LUMIDOR_RIG_PROBE") != nullptr) {
        static const char text[] = "lumidor pcscd isolation active\n";
        ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
        (void)ignored;
    }
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    static auto next = Next<int (*)(const char*, int, ...)>("open");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer), flags, mode);
}

int stat(const char* path, struct stat* result) {
    static auto next = Next<int (*)(const char*, struct stat*)>("stat");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer), result);
}

int lstat(const char* path, struct stat* result) {
    static auto next = Next<int (*)(const char*, struct stat*)>("lstat");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer), result);
}

int mkdir(const char* path, mode_t mode) {
    static auto next = Next<int (*)(const char*, mode_t)>("mkdir");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer), mode);
}

int chmod(const char* path, mode_t mode) {
    static auto next = Next<int (*)(const char*, mode_t)>("chmod");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer), mode);
}

int remove(const char* path) {
    static auto next = Next<int (*)(const char*)>("remove");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer));
}

int unlink(const char* path) {
    static auto next = Next<int (*)(const char*)>("unlink");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer));
}

DIR* opendir(const char* path) {
    if (IsUsbDriverDir(path)) {
        errno = ENOENT;
        return nullptr;
    }
    static auto next = Next<DIR* (*)(const char*)>("opendir");
    char buffer[PATH_MAX];
    return next(Redirect(path, buffer));
}

int bind(int socket, const struct sockaddr* address, socklen_t length) {
    static auto next = Next<int (*)(int, const struct sockaddr*, socklen_t)>("bind");
    if (address == nullptr) {
        return next(socket, address, length);
    }
    if (address->sa_family == AF_UNIX && length <= sizeof(sockaddr_un)) {
        sockaddr_un local;
        memset(&local, 0, sizeof local);
        memcpy(&local, address, length);
        local.sun_path[sizeof local.sun_path - 1] = '\0';
        char buffer[PATH_MAX];
        const char* path = Redirect(local.sun_path, buffer);
        if (path != local.sun_path) {
            if (strlen(path) >= sizeof local.sun_path) {
                errno = ENAMETOOLONG;
                return -1;
            }
            strcpy(local.sun_path, path);
            return next(socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
    } else if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in local;
        memcpy(&local, address, sizeof local);
        if (local.sin_addr.s_addr == htonl(INADDR_ANY)) {
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        return next(socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
    } else if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 local;
        memcpy(&local, address, sizeof local);
        if (IN6_IS_ADDR_UNSPECIFIED(&local.sin6_addr)) {
            local.sin6_addr = in6addr_loopback;
        }
        return next(socket, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    return next(socket, address, length);
}

}  // extern "C"
