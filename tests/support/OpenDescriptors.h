#pragma once

// What this process holds open now, read from /proc/self/fd: every descriptor, and those that
// are sockets (a PC/SC client's connections to pcscd among them).
struct OpenDescriptors {
    int all = 0;
    int sockets = 0;
};

OpenDescriptors CountOpenDescriptors();
