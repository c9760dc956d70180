#pragma once

// A scriptable PC/SC service for what the real one cannot produce: any number of readers
// with names of any length, malformed reader lists, any call failing on demand, a card
// that goes away between two calls. Installed as the manager's PC/SC table for the
// object's lifetime (one at a time).
//
//     FakePcsc pcsc;
//     pcsc.readers = {"Reader A", "Reader B"};
//     pcsc.states["Reader B"] = SCARD_STATE_PRESENT;
//     pcsc.atrs["Reader B"] = {0x3B, 0x02, 0x14, 0x50};
//     pcsc.getStatusChange.results = {SCARD_E_READER_UNAVAILABLE};  // only the first call
//     ... manager.UpdateReaders() ...
//     EXPECT_EQ(pcsc.listReaders.calls, 1);
//     EXPECT_EQ(pcsc.OpenContexts(), 0);

#include <winscard.h>

#include <deque>
#include <functional>
#include <map>
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
        disconnect, releaseContext;

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
    // Runs at the start of every call with the operation's name ("connect", ...); may
    // change the script, e.g. take a card away between two calls.
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

    // The table, for callers that install it themselves.
    static const PcscFunctions& Table();

private:
    friend struct FakePcscCalls;
    std::set<SCARDCONTEXT> m_contexts;
    std::map<SCARDHANDLE, std::string> m_cards;  // card handle -> reader
    std::set<const void*> m_lists;
    LONG m_nextHandle = 0x1000;
};
