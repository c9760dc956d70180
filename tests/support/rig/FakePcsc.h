#pragma once

// A scriptable PC/SC service for what the real one cannot produce: any number of readers
// with names of any length, malformed reader lists, any call failing on demand, a card
// that goes away between two calls, a service that stops and comes back. Installed as the
// manager's PC/SC table for the object's lifetime (one at a time).
//
// Its status change query waits as pcsc-lite's does: it returns at once when an entry's
// current state differs from what the fake reports (a state bit, the count of card events
// in the upper 16 bits, a reader unknown, the number of readers for the PnP reader
// "\\?PnP?\Notification"), and otherwise waits for such a change, its time-out, a cancel
// of its context or the service's end. A cancel made while no wait is under way is lost, as
// with pcsc-lite.
//
// While another thread calls the fake (a reader watcher), the script is read and changed
// only through Locked(), which also wakes the waits; the fake outlives that thread.
//
//     FakePcsc pcsc;
//     pcsc.readers = {"Reader A", "Reader B"};
//     pcsc.states["Reader B"] = SCARD_STATE_PRESENT;
//     pcsc.atrs["Reader B"] = {0x3B, 0x02, 0x14, 0x50};
//     pcsc.getStatusChange.results = {SCARD_E_READER_UNAVAILABLE};  // only the first call
//     ... manager.UpdateReaders() ...
//     EXPECT_EQ(pcsc.listReaders.calls, 1);
//     EXPECT_EQ(pcsc.OpenContexts(), 0);
//     pcsc.Locked([&] { pcsc.states["Reader A"] = SCARD_STATE_PRESENT; });  // wakes waits

#include <winscard.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "manager/Pcsc.h"

class FakePcsc {
public:
    // One operation: successive calls take `results` in turn, then `otherwise`.
    struct Call {
        std::deque<LONG> results;
        LONG otherwise = SCARD_S_SUCCESS;
        int calls = 0;
        LONG Next();
    };

    FakePcsc();
    ~FakePcsc();
    FakePcsc(const FakePcsc&) = delete;
    FakePcsc& operator=(const FakePcsc&) = delete;

    Call establishContext, listReaders, freeMemory, getStatusChange, connect, getAttrib, status,
        disconnect, releaseContext, cancel;

    // The readers listed, in this order; the list ends with an empty name.
    std::vector<std::string> readers;
    // When set, the exact bytes of the list and its length (nothing is added), in a heap
    // block of exactly that size, so that a read past it is caught by the sanitizer.
    std::optional<std::string> rawList;
    // Event state per reader name (SCARD_STATE_CHANGED is added); a reader without one is
    // SCARD_STATE_EMPTY, a name not listed is SCARD_STATE_UNKNOWN.
    std::map<std::string, DWORD> states;
    // The ATR of the card in a reader, reported by the status change, the attribute and the
    // status query.
    std::map<std::string, std::vector<unsigned char>> atrs;
    // Cards inserted and removed per reader so far: the event count that the status change
    // reports in the upper 16 bits of the event state (0 when not set).
    std::map<std::string, DWORD> eventCounts;
    // While false, as after pcscd ended: no context can be established, and every context
    // made before fails each call with SCARD_E_NO_SERVICE, also once the service runs again.
    bool serviceRunning = true;
    // Runs at the start of every call with the operation's name ("connect", ...), under the
    // fake's lock; may change the script, e.g. take a card away between two calls.
    std::function<void(const std::string& operation)> beforeCall;

    // What the fake saw.
    std::vector<std::string> trace;   // operation names in call order
    std::vector<std::string> misuse;  // wrong handles, unknown blocks freed, ...
    DWORD lastStatusChangeCount = 0;  // entries passed to the last status change
    DWORD lastStatusChangeTimeout = 0;
    std::string lastConnectedReader;

    int OpenContexts() const { return static_cast<int>(m_contexts.size()); }
    int OpenCards() const { return static_cast<int>(m_cards.size()); }
    int OutstandingLists() const { return static_cast<int>(m_lists.size()); }
    // Status change queries waiting now.
    int Waits() const { return static_cast<int>(m_waiting.size()); }

    // Runs `function` under the fake's lock, then wakes the waits to look at the script again.
    template <typename Function>
    auto Locked(Function&& function) -> decltype(function()) {
        std::lock_guard lock(m_mutex);
        struct Wake {
            FakePcsc& fake;
            ~Wake() { fake.ScriptChanged(); }
        } wake{*this};
        return function();
    }

    // The table, for callers that install it themselves.
    static const PcscFunctions& Table();

private:
    friend struct FakePcscCalls;
    // Under the lock: ends the contexts of a stopped service and wakes the waits.
    void ScriptChanged();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<SCARDCONTEXT> m_contexts;
    std::set<SCARDCONTEXT> m_deadContexts;       // of a service that stopped; also in m_contexts
    std::set<SCARDCONTEXT> m_waiting;            // contexts in a status change wait
    std::set<SCARDCONTEXT> m_cancelled;          // of those, the cancelled ones
    std::map<SCARDHANDLE, std::string> m_cards;  // card handle -> reader
    std::set<const void*> m_lists;
    LONG m_nextHandle = 0x1000;
};
