#pragma once

// Watches the PC/SC service on a thread of its own, with a context of its own, for cards
// inserted or removed and readers that appear or go away, and tells its owner. It waits in
// the service's status change query on the readers and on pcsc-lite's PnP notification
// reader, so that it costs nothing while nothing happens. When the service stops or
// restarts it lets its context go, tries again once a second and tells its owner once the
// service is back, since the readers may have changed meanwhile.

#include <winscard.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A reader as the owner last saw it: its name and the event state that the service last
// reported for it (SCARD_READERSTATE::dwEventState, with pcsc-lite's count of card events in
// the upper 16 bits).
struct WatchedReader {
    std::string name;
    DWORD state = SCARD_STATE_UNAWARE;
};

class ReaderWatch;

class ReaderWatcher {
public:
    // Starts watching the readers that the service lists (the first kMaxReaders, those the
    // window can show). `seen` is what the owner shows now, so that a change made before the
    // watcher's first look is reported too. `onChange` runs on the watcher's thread after
    // each wake-up that saw a card or a reader change, and when the service is back after an
    // outage; it must only hand the news over (it must not block, nor end the watcher). It
    // never runs once the watcher's end has begun.
    ReaderWatcher(std::vector<WatchedReader> seen, std::function<void()> onChange);
    // Ends the wait under way and returns once the thread has ended, or after half a second
    // when the service does not answer (a pcscd that is stopped): the thread is then left to
    // end by itself whenever the service answers, and reports nothing more.
    ~ReaderWatcher();
    ReaderWatcher(const ReaderWatcher&) = delete;
    ReaderWatcher& operator=(const ReaderWatcher&) = delete;

private:
    // Shared with the threads, which may outlive the watcher.
    std::shared_ptr<ReaderWatch> m_watch;
    std::thread m_thread;
};
