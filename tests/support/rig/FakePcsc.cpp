#include "support/rig/FakePcsc.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

FakePcsc* g_fake = nullptr;

constexpr const char* kPnpReader = "\\\\?PnP?\\Notification";
// The state bits below pcsc-lite's event count.
constexpr DWORD kStateBits = 0xFFFF;

}  // namespace

LONG FakePcsc::Call::Next() {
    ++calls;
    if (!results.empty()) {
        LONG result = results.front();
        results.pop_front();
        return result;
    }
    return otherwise;
}

// The table's entries: plain functions that forward to the installed fake.
struct FakePcscCalls {
    // Every entry holds the fake's lock while it runs (a wait lets it go while it waits).
    static std::unique_lock<std::mutex> Lock() { return std::unique_lock(g_fake->m_mutex); }

    static FakePcsc& Fake(const char* operation) {
        FakePcsc& fake = *g_fake;
        fake.trace.emplace_back(operation);
        if (fake.beforeCall) {
            fake.beforeCall(operation);
        }
        return fake;
    }

    static bool ValidContext(FakePcsc& fake, SCARDCONTEXT context, const char* operation) {
        if (fake.m_contexts.count(context) != 0) {
            return true;
        }
        fake.misuse.push_back(std::string(operation) + ": unknown context");
        return false;
    }

    // 0 for a context of the running service; the result of a call with any other.
    static LONG ContextFailure(FakePcsc& fake, SCARDCONTEXT context, const char* operation) {
        if (!ValidContext(fake, context, operation)) {
            return SCARD_E_INVALID_HANDLE;
        }
        return fake.m_deadContexts.count(context) != 0 ? SCARD_E_NO_SERVICE : SCARD_S_SUCCESS;
    }

    static const std::string* CardReader(FakePcsc& fake, SCARDHANDLE card, const char* operation) {
        auto found = fake.m_cards.find(card);
        if (found != fake.m_cards.end()) {
            return &found->second;
        }
        fake.misuse.push_back(std::string(operation) + ": unknown card handle");
        return nullptr;
    }

    static const std::vector<unsigned char>& Atr(FakePcsc& fake, const std::string& reader) {
        static const std::vector<unsigned char> none;
        auto found = fake.atrs.find(reader);
        return found == fake.atrs.end() ? none : found->second;
    }

    // Copies the ATR into a caller's buffer of *length bytes.
    static LONG CopyAtr(const std::vector<unsigned char>& atr, LPBYTE buffer, LPDWORD length) {
        if (length == nullptr) {
            return SCARD_E_INVALID_PARAMETER;
        }
        if (buffer == nullptr || *length < atr.size()) {
            *length = atr.size();
            return buffer == nullptr ? SCARD_S_SUCCESS : SCARD_E_INSUFFICIENT_BUFFER;
        }
        std::copy(atr.begin(), atr.end(), buffer);
        *length = atr.size();
        return SCARD_S_SUCCESS;
    }

    static LONG PCSC_CALL EstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
        auto lock = Lock();
        FakePcsc& fake = Fake("establishContext");
        LONG result = fake.establishContext.Next();
        if (!fake.serviceRunning) {
            return SCARD_E_NO_SERVICE;
        }
        if (result == SCARD_S_SUCCESS) {
            *context = fake.m_nextHandle++;
            fake.m_contexts.insert(*context);
        }
        return result;
    }

    static LONG PCSC_CALL ListReaders(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
        auto lock = Lock();
        FakePcsc& fake = Fake("listReaders");
        LONG result = fake.listReaders.Next();
        if (LONG failure = ContextFailure(fake, context, "listReaders")) {
            return failure;
        }
        if (result != SCARD_S_SUCCESS) {
            return result;
        }
        if (length == nullptr || *length != SCARD_AUTOALLOCATE || readers == nullptr) {
            fake.misuse.emplace_back("listReaders: only SCARD_AUTOALLOCATE is served");
            return SCARD_E_INVALID_PARAMETER;
        }
        std::string list;
        if (fake.rawList) {
            list = *fake.rawList;
        } else {
            for (const std::string& name : fake.readers) {
                list.append(name).push_back('\0');
            }
            list.push_back('\0');
        }
        // Exactly the list's size (one byte for an empty one), nothing to spare.
        char* block = static_cast<char*>(std::malloc(std::max<std::size_t>(list.size(), 1)));
        if (block == nullptr) {
            return SCARD_E_NO_MEMORY;
        }
        std::memcpy(block, list.data(), list.size());
        fake.m_lists.insert(block);
        *reinterpret_cast<char**>(readers) = block;
        *length = list.size();
        return SCARD_S_SUCCESS;
    }

    static LONG PCSC_CALL FreeMemory(SCARDCONTEXT context, LPCVOID memory) {
        auto lock = Lock();
        FakePcsc& fake = Fake("freeMemory");
        LONG result = fake.freeMemory.Next();
        ValidContext(fake, context, "freeMemory");
        if (fake.m_lists.erase(memory) == 0) {
            fake.misuse.emplace_back("freeMemory: not a list of this service");
            return SCARD_E_INVALID_PARAMETER;
        }
        std::free(const_cast<void*>(memory));
        return result;
    }

    // Fills `entry` with what the fake reports for its reader; whether that differs from the
    // entry's current state, as pcsc-lite judges it. `readersAtStart`: the number of readers
    // when the query began, which the PnP reader compares.
    static bool Report(FakePcsc& fake, SCARD_READERSTATE& entry, std::size_t readersAtStart) {
        const std::string name = entry.szReader != nullptr ? entry.szReader : "";
        const DWORD current = entry.dwCurrentState;
        DWORD event = 0;
        bool differs = false;
        if (name == kPnpReader) {
            differs = fake.readers.size() != readersAtStart;
        } else if (std::find(fake.readers.begin(), fake.readers.end(), name) ==
                   fake.readers.end()) {
            event = SCARD_STATE_UNKNOWN;
            differs = (current & SCARD_STATE_UNKNOWN) == 0;
        } else {
            auto state = fake.states.find(name);
            auto count = fake.eventCounts.find(name);
            const DWORD events = count != fake.eventCounts.end() ? count->second : 0;
            event =
                (state != fake.states.end() ? state->second : SCARD_STATE_EMPTY) | (events << 16);
            differs = current == SCARD_STATE_UNAWARE ||
                      (current & kStateBits & ~static_cast<DWORD>(SCARD_STATE_CHANGED)) !=
                          (event & kStateBits) ||
                      ((current >> 16) != 0 && (current >> 16) != events);
        }
        entry.dwEventState = event | (differs ? SCARD_STATE_CHANGED : 0);
        const std::vector<unsigned char>& atr = Atr(fake, name);
        entry.cbAtr = std::min<std::size_t>(atr.size(), sizeof entry.rgbAtr);
        std::copy_n(atr.begin(), entry.cbAtr, entry.rgbAtr);
        return differs;
    }

    // Fills every entry, even when the scripted result is a failure: the worst a service
    // can do. A failure or a change returns at once; otherwise the query waits.
    static LONG PCSC_CALL GetStatusChange(SCARDCONTEXT context, DWORD timeout,
                                          SCARD_READERSTATE* states, DWORD count) {
        auto lock = Lock();
        FakePcsc& fake = Fake("getStatusChange");
        const LONG scripted = fake.getStatusChange.Next();
        fake.lastStatusChangeCount = count;
        fake.lastStatusChangeTimeout = timeout;
        if (LONG failure = ContextFailure(fake, context, "getStatusChange")) {
            return failure;
        }
        const std::size_t readersAtStart = fake.readers.size();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
        fake.m_waiting.insert(context);
        LONG result = SCARD_S_SUCCESS;
        for (;;) {
            bool changed = false;
            for (DWORD i = 0; i < count; ++i) {
                changed = Report(fake, states[i], readersAtStart) || changed;
            }
            if (scripted != SCARD_S_SUCCESS || changed || timeout == 0) {
                result = scripted;
                break;
            }
            if (fake.m_deadContexts.count(context) != 0) {
                result = SCARD_E_NO_SERVICE;
                break;
            }
            if (fake.m_cancelled.count(context) != 0) {
                result = SCARD_E_CANCELLED;
                break;
            }
            if (timeout == INFINITE) {
                fake.m_changed.wait(lock);
            } else if (fake.m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                result = SCARD_E_TIMEOUT;
                break;
            }
        }
        fake.m_waiting.erase(context);
        fake.m_cancelled.erase(context);
        return result;
    }

    static LONG PCSC_CALL Cancel(SCARDCONTEXT context) {
        auto lock = Lock();
        FakePcsc& fake = Fake("cancel");
        LONG result = fake.cancel.Next();
        if (LONG failure = ContextFailure(fake, context, "cancel")) {
            return failure;
        }
        if (result == SCARD_S_SUCCESS && fake.m_waiting.count(context) != 0) {
            fake.m_cancelled.insert(context);
            fake.m_changed.notify_all();
        }
        return result;
    }

    static LONG PCSC_CALL Connect(SCARDCONTEXT context, LPCSTR reader, DWORD, DWORD,
                                  LPSCARDHANDLE card, LPDWORD activeProtocol) {
        auto lock = Lock();
        FakePcsc& fake = Fake("connect");
        LONG result = fake.connect.Next();
        if (LONG failure = ContextFailure(fake, context, "connect")) {
            return failure;
        }
        if (result != SCARD_S_SUCCESS) {
            return result;
        }
        const std::string name = reader != nullptr ? reader : "";
        if (std::find(fake.readers.begin(), fake.readers.end(), name) == fake.readers.end()) {
            return SCARD_E_UNKNOWN_READER;
        }
        auto state = fake.states.find(name);
        if (state == fake.states.end() || (state->second & SCARD_STATE_PRESENT) == 0) {
            return SCARD_E_NO_SMARTCARD;
        }
        *card = fake.m_nextHandle++;
        fake.m_cards[*card] = name;
        fake.lastConnectedReader = name;
        if (activeProtocol != nullptr) {
            *activeProtocol = SCARD_PROTOCOL_T1;
        }
        return SCARD_S_SUCCESS;
    }

    static LONG PCSC_CALL GetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer,
                                    LPDWORD length) {
        auto lock = Lock();
        FakePcsc& fake = Fake("getAttrib");
        LONG result = fake.getAttrib.Next();
        const std::string* reader = CardReader(fake, card, "getAttrib");
        if (reader == nullptr) {
            return SCARD_E_INVALID_HANDLE;
        }
        if (result != SCARD_S_SUCCESS) {
            return result;
        }
        if (attribute != SCARD_ATTR_ATR_STRING) {
            return SCARD_E_UNSUPPORTED_FEATURE;
        }
        return CopyAtr(Atr(fake, *reader), buffer, length);
    }

    static LONG PCSC_CALL Status(SCARDHANDLE card, LPSTR, LPDWORD namesLength, LPDWORD state,
                                 LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
        auto lock = Lock();
        FakePcsc& fake = Fake("status");
        LONG result = fake.status.Next();
        const std::string* reader = CardReader(fake, card, "status");
        if (reader == nullptr) {
            return SCARD_E_INVALID_HANDLE;
        }
        if (result != SCARD_S_SUCCESS) {
            return result;
        }
        if (namesLength != nullptr) {
            *namesLength = reader->size() + 2;
        }
        if (state != nullptr) {
            *state = SCARD_PRESENT;
        }
        if (protocol != nullptr) {
            *protocol = SCARD_PROTOCOL_T1;
        }
        return CopyAtr(Atr(fake, *reader), atr, atrLength);
    }

    static LONG PCSC_CALL Disconnect(SCARDHANDLE card, DWORD) {
        auto lock = Lock();
        FakePcsc& fake = Fake("disconnect");
        LONG result = fake.disconnect.Next();
        if (fake.m_cards.erase(card) == 0) {
            fake.misuse.emplace_back("disconnect: unknown card handle");
            return SCARD_E_INVALID_HANDLE;
        }
        return result;
    }

    static LONG PCSC_CALL ReleaseContext(SCARDCONTEXT context) {
        auto lock = Lock();
        FakePcsc& fake = Fake("releaseContext");
        LONG result = fake.releaseContext.Next();
        fake.m_deadContexts.erase(context);
        if (fake.m_contexts.erase(context) == 0) {
            fake.misuse.emplace_back("releaseContext: unknown context");
            return SCARD_E_INVALID_HANDLE;
        }
        return result;
    }
};

namespace {

const PcscFunctions kFakeTable = {
    FakePcscCalls::EstablishContext, FakePcscCalls::ListReaders, FakePcscCalls::FreeMemory,
    FakePcscCalls::GetStatusChange,  FakePcscCalls::Connect,     FakePcscCalls::GetAttrib,
    FakePcscCalls::Status,           FakePcscCalls::Disconnect,  FakePcscCalls::ReleaseContext,
    FakePcscCalls::Cancel,
};

}  // namespace

const PcscFunctions& FakePcsc::Table() {
    return kFakeTable;
}

void FakePcsc::ScriptChanged() {
    if (!serviceRunning) {
        m_deadContexts.insert(m_contexts.begin(), m_contexts.end());
    }
    m_changed.notify_all();
}

FakePcsc::FakePcsc() {
    if (g_fake != nullptr) {
        throw std::logic_error("only one FakePcsc at a time");
    }
    g_fake = this;
    SetPcscFunctions(&kFakeTable);
}

FakePcsc::~FakePcsc() {
    SetPcscFunctions(nullptr);
    g_fake = nullptr;
    for (const void* list : m_lists) {
        std::free(const_cast<void*>(list));
    }
}
