#pragma once

#include <cstdint>
#include <memory>

// A notice that any thread posts and one thread's event loop waits for. Nothing but the
// fact crosses, through the system (a counter the kernel keeps), so the hand-over is one that
// ThreadSanitizer sees. Handle() is what the event loop watches: it reads as ready while a
// post is pending, as a socket does, so that the loop's socket notifier can watch it. On
// Windows it is an event object's HANDLE, signalled while a post is pending, for the loop's
// event notifier (QWinEventNotifier).
class WaitableNotice {
public:
    // Throws std::system_error when the system gives no notice.
    WaitableNotice();
    ~WaitableNotice();
    WaitableNotice(const WaitableNotice&) = delete;
    WaitableNotice& operator=(const WaitableNotice&) = delete;

    // From any thread, any number of times.
    void Post();
    // Whether anything was posted since the last take; the handle is no longer ready after.
    bool Take();
    std::intptr_t Handle() const;

private:
    struct System;
    std::unique_ptr<System> m_system;
};
