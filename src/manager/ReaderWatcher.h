#pragma once

// Watches the PC/SC service on a thread of its own, with a context of its own, for cards
// inserted or removed and readers that appear or go away, and tells its owner. It waits in
// the service's status change query on the readers and on pcsc-lite's PnP notification
// reader, so that it costs nothing while nothing happens. When the service stops or
// restarts it lets its context go, tries again once a second and tells its owner once the
// service is back, since the readers may have changed meanwhile.

#include <winscard.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
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

class ReaderWatcher {
public:
    // Starts watching the readers that the service lists (the first kMaxReaders, those the
    // window can show). `seen` is what the owner shows now, so that a change made before the
    // watcher's first look is reported too. `onChange` runs on the watcher's thread after
    // each wake-up that saw a card or a reader change, and when the service is back after an
    // outage; it must only hand the news over (it must not block, nor end the watcher).
    ReaderWatcher(std::vector<WatchedReader> seen, std::function<void()> onChange);
    // Ends the wait under way and returns once the thread has ended.
    ~ReaderWatcher();
    ReaderWatcher(const ReaderWatcher&) = delete;
    ReaderWatcher& operator=(const ReaderWatcher&) = delete;

private:
    void Run();
    void RunWithService();
    // Watches with one context until the watcher stops (0) or the service fails (its code).
    uint32_t Watch(SCARDCONTEXT context);
    // Takes the service's reader list in place of the known one; whether it differs.
    bool TakeReaderList(const std::vector<std::string>& names);
    // Takes the states of a status report; whether a card came or went.
    bool TakeStates(const std::vector<SCARD_READERSTATE>& states);
    bool Stopping();
    // Waits before the next try; whether the watcher was stopped meanwhile.
    bool PauseUnlessStopped();
    // Makes `context` the one that the destructor cancels (0: none); false once stopping.
    bool SetCancellable(SCARDCONTEXT context);

    // The watcher thread's own once it runs.
    std::vector<WatchedReader> m_readers;
    DWORD m_pnpState = SCARD_STATE_UNAWARE;
    std::function<void()> m_onChange;

    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_stopping = false;
    bool m_ended = false;
    SCARDCONTEXT m_cancellable = 0;

    // Last, so that the thread starts once everything above is set.
    std::thread m_thread;
};
