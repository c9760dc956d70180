#include "manager/ReaderWatcher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "log/Log.h"
#include "manager/Pcsc.h"
#include "manager/SmartCardManager.h"

namespace {

constexpr const char* kSource = "ReaderWatcher";
// pcsc-lite's name for a reader that reports readers appearing and going away.
constexpr const char* kPnpReader = "\\\\?PnP?\\Notification";
// Long, so that the wait costs nothing; not endless, since pcsc-lite before 2.3 compares the
// number of readers with the one at the start of the wait only, and a reader added between
// the listing and the wait is seen at the latest when the wait ends.
constexpr DWORD kWaitMs = 60000;
constexpr auto kRetryAfter = std::chrono::seconds(1);
// pcsc-lite drops a cancel that comes before the wait has begun.
constexpr auto kCancelAgainAfter = std::chrono::milliseconds(20);

constexpr uint32_t kNoReaders = static_cast<uint32_t>(SCARD_E_NO_READERS_AVAILABLE);
constexpr uint32_t kUnknownReader = static_cast<uint32_t>(SCARD_E_UNKNOWN_READER);
constexpr uint32_t kTimeout = static_cast<uint32_t>(SCARD_E_TIMEOUT);
constexpr uint32_t kCancelled = static_cast<uint32_t>(SCARD_E_CANCELLED);

// The bits of an event state that change when a card comes or goes: presence, and the
// service's count of insertions and removals, which also tells a card taken out and put back
// between two reports.
constexpr DWORD kCardBits =
    SCARD_STATE_PRESENT | SCARD_STATE_EMPTY | SCARD_STATE_UNKNOWN | 0xFFFF0000;

// The longest the watcher's end waits for its thread: a window closes at once even when the
// PC/SC service does not answer.
constexpr auto kEndWithin = std::chrono::milliseconds(500);

// A context of the watcher's own, released when it goes.
class ServiceContext {
public:
    ServiceContext() : m_result(PcscEstablishContext(&m_context)) {}
    ~ServiceContext() {
        if (m_result == 0) {
            PcscReleaseContext(m_context);
        }
    }
    ServiceContext(const ServiceContext&) = delete;
    ServiceContext& operator=(const ServiceContext&) = delete;

    uint32_t result() const { return m_result; }
    SCARDCONTEXT get() const { return m_context; }

private:
    SCARDCONTEXT m_context = 0;
    uint32_t m_result;
};

// A reader list allocated by the service, freed when it goes.
class ServiceList {
public:
    explicit ServiceList(SCARDCONTEXT context)
        : m_context(context), m_result(PcscListReaders(context, &m_list, &m_length)) {}
    ~ServiceList() { PcscFreeMemory(m_context, m_list); }
    ServiceList(const ServiceList&) = delete;
    ServiceList& operator=(const ServiceList&) = delete;

    uint32_t result() const { return m_result; }

    // The first kMaxReaders names, within the bytes the service reported.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::size_t position = 0;
        while (m_list != nullptr && position < m_length && names.size() < kMaxReaders) {
            const char* name = m_list + position;
            const void* end = std::memchr(name, '\0', m_length - position);
            if (end == nullptr || end == name) {
                break;
            }
            names.emplace_back(name, static_cast<const char*>(end));
            position += names.back().size() + 1;
        }
        return names;
    }

private:
    SCARDCONTEXT m_context;
    char* m_list = nullptr;
    DWORD m_length = 0;
    uint32_t m_result;
};

// The service's readers now; none is no failure (only the PnP reader is then watched).
uint32_t ListReaderNames(SCARDCONTEXT context, std::vector<std::string>& names) {
    ServiceList list(context);
    if (list.result() == kNoReaders) {
        names.clear();
        return 0;
    }
    if (list.result() != 0) {
        return list.result();
    }
    names = list.Names();
    return 0;
}

bool SameNames(const std::vector<WatchedReader>& readers, const std::vector<std::string>& names) {
    return std::equal(
        readers.begin(), readers.end(), names.begin(), names.end(),
        [](const WatchedReader& reader, const std::string& name) { return reader.name == name; });
}

}  // namespace

// The watcher's work and state, shared by its thread, the thread that cancels its wait when it
// ends, and the watcher: each thread may outlive the watcher while the service does not
// answer.
class ReaderWatch {
public:
    ReaderWatch(std::vector<WatchedReader> seen, std::function<void()> onChange)
        : m_readers(std::move(seen)), m_onChange(std::move(onChange)) {}

    // The watcher's thread.
    void Run();
    // The end begins: no news is reported from now on.
    void BeginStop();
    // Cancels the wait under way until the watcher's thread has ended (pcsc-lite drops a
    // cancel that comes before its wait has begun).
    void CancelUntilEnded();
    // Whether the watcher's thread and the cancelling one ended within `bound`.
    bool EndedWithin(std::chrono::milliseconds bound);

private:
    void RunWithService();
    // Watches with one context until the watcher stops (0) or the service fails (its code).
    uint32_t Watch(SCARDCONTEXT context);
    // Takes the service's reader list in place of the known one; whether it differs.
    bool TakeReaderList(const std::vector<std::string>& names);
    // Takes the states of a status report; whether a card came or went.
    bool TakeStates(const std::vector<SCARD_READERSTATE>& states);
    // Hands the news over unless the end has begun.
    void Report();
    bool Stopping();
    // Waits before the next try; whether the watcher was stopped meanwhile.
    bool PauseUnlessStopped();
    // Makes `context` the one that the end cancels (0: none); false once stopping.
    bool SetCancellable(SCARDCONTEXT context);

    // The watcher thread's own.
    std::vector<WatchedReader> m_readers;
    DWORD m_pnpState = SCARD_STATE_UNAWARE;
    std::function<void()> m_onChange;

    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_stopping = false;
    bool m_ended = false;
    bool m_cancellerEnded = false;
    // Held while a cancel runs, which a service that does not answer may hold for ever: the
    // end never takes it.
    std::mutex m_cancelLock;
    SCARDCONTEXT m_cancellable = 0;
};

ReaderWatcher::ReaderWatcher(std::vector<WatchedReader> seen, std::function<void()> onChange)
    : m_watch(std::make_shared<ReaderWatch>(std::move(seen), std::move(onChange))),
      m_thread([watch = m_watch] { watch->Run(); }) {}

ReaderWatcher::~ReaderWatcher() {
    m_watch->BeginStop();
    std::thread canceller([watch = m_watch] { watch->CancelUntilEnded(); });
    if (m_watch->EndedWithin(kEndWithin)) {
        canceller.join();
        m_thread.join();
        return;
    }
    LOG_MESSAGE(0, 0, kSource,
                "The PC/SC service does not answer: the reader watcher is left to end by "
                "itself.");
    canceller.detach();
    m_thread.detach();
}

void ReaderWatch::BeginStop() {
    std::lock_guard lock(m_lock);
    m_stopping = true;
    m_signal.notify_all();
}

void ReaderWatch::CancelUntilEnded() {
    std::unique_lock lock(m_lock);
    while (!m_ended) {
        lock.unlock();
        {
            std::lock_guard cancelLock(m_cancelLock);
            if (m_cancellable != 0) {
                PcscCancel(m_cancellable);
            }
        }
        lock.lock();
        m_signal.wait_for(lock, kCancelAgainAfter, [this] { return m_ended; });
    }
    m_cancellerEnded = true;
    m_signal.notify_all();
}

bool ReaderWatch::EndedWithin(std::chrono::milliseconds bound) {
    std::unique_lock lock(m_lock);
    return m_signal.wait_for(lock, bound, [this] { return m_ended && m_cancellerEnded; });
}

void ReaderWatch::Report() {
    std::lock_guard lock(m_lock);
    if (!m_stopping) {
        m_onChange();
    }
}

void ReaderWatch::Run() {
    // Whatever ends the watcher ends it alone: the window goes on, refreshed by hand.
    try {
        RunWithService();
    } catch (const std::exception& error) {
        LogMessage(0, 0, kSource, "The reader watcher stopped: %s", error.what());
    } catch (...) {
        LogMessage(0, 0, kSource, "The reader watcher stopped: not a std::exception");
    }
    std::lock_guard lock(m_lock);
    m_ended = true;
    m_signal.notify_all();
}

void ReaderWatch::RunWithService() {
    // The context is no longer the destructor's to cancel once the wait has ended, however.
    struct CancellableWhileWatching {
        ReaderWatch& watcher;
        ~CancellableWhileWatching() { watcher.SetCancellable(0); }
    };
    bool outage = false;
    for (;;) {
        uint32_t failure = 0;
        const char* text = "PC/SC service not reachable: watching again once it is back.";
        {
            ServiceContext context;
            failure = context.result();
            if (failure == 0) {
                if (outage) {
                    LOG_MESSAGE(0, 0, kSource, "PC/SC service back.");
                    outage = false;
                    Report();
                }
                if (!SetCancellable(context.get())) {
                    return;
                }
                CancellableWhileWatching cancellable{*this};
                failure = Watch(context.get());
                if (failure == 0) {
                    return;
                }
                text = "PC/SC service lost: watching again once it is back.";
            }
        }
        if (!outage) {
            LOG_MESSAGE(static_cast<int32_t>(failure), 1, kSource, "%s", text);
        }
        outage = true;
        if (PauseUnlessStopped()) {
            return;
        }
    }
}

uint32_t ReaderWatch::Watch(SCARDCONTEXT context) {
    bool readerUnknown = false;
    std::vector<std::string> names;
    for (;;) {
        uint32_t result = ListReaderNames(context, names);
        if (result != 0) {
            return result;
        }
        if (TakeReaderList(names)) {
            Report();
        } else if (readerUnknown && PauseUnlessStopped()) {
            // The service lists a reader that its status query does not know: it is asked
            // again only after a pause.
            return 0;
        }

        std::vector<SCARD_READERSTATE> states(m_readers.size() + 1);
        for (std::size_t i = 0; i < m_readers.size(); ++i) {
            states[i].szReader = m_readers[i].name.c_str();
            states[i].dwCurrentState = m_readers[i].state;
        }
        states.back().szReader = kPnpReader;
        states.back().dwCurrentState = m_pnpState;
        result =
            PcscGetStatusChange(context, kWaitMs, states.data(), static_cast<DWORD>(states.size()));
        if (Stopping()) {
            return 0;
        }
        // A reader that went away between the listing and the wait: the next listing tells.
        readerUnknown = result == kUnknownReader;
        if (result == 0) {
            if (TakeStates(states)) {
                Report();
            }
        } else if (result != kTimeout && result != kCancelled && !readerUnknown) {
            return result;
        }
    }
}

bool ReaderWatch::TakeReaderList(const std::vector<std::string>& names) {
    if (SameNames(m_readers, names)) {
        return false;
    }
    std::vector<WatchedReader> readers;
    for (const std::string& name : names) {
        auto known = std::find_if(m_readers.begin(), m_readers.end(),
                                  [&](const WatchedReader& reader) { return reader.name == name; });
        if (known != m_readers.end()) {
            readers.push_back(*known);
        } else {
            LOG_MESSAGE(0, 0, kSource, "Reader '%s' appeared.", name.c_str());
            readers.push_back({name, SCARD_STATE_UNAWARE});
        }
    }
    for (const WatchedReader& reader : m_readers) {
        if (std::find(names.begin(), names.end(), reader.name) == names.end()) {
            LOG_MESSAGE(0, 0, kSource, "Reader '%s' went away.", reader.name.c_str());
        }
    }
    m_readers = std::move(readers);
    return true;
}

bool ReaderWatch::TakeStates(const std::vector<SCARD_READERSTATE>& states) {
    bool cardChanged = false;
    for (std::size_t i = 0; i < m_readers.size(); ++i) {
        const DWORD before = m_readers[i].state;
        const DWORD now = states[i].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        m_readers[i].state = now;
        // A new reader's first report is no card event; a reader gone is the listing's news.
        if (before == SCARD_STATE_UNAWARE || (now & SCARD_STATE_UNKNOWN) != 0 ||
            (before & kCardBits) == (now & kCardBits)) {
            continue;
        }
        LOG_MESSAGE(0, 0, kSource,
                    (now & SCARD_STATE_PRESENT) != 0 ? "Card inserted into '%s'."
                                                     : "Card removed from '%s'.",
                    m_readers[i].name.c_str());
        cardChanged = true;
    }
    m_pnpState = states.back().dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    return cardChanged;
}

bool ReaderWatch::Stopping() {
    std::lock_guard lock(m_lock);
    return m_stopping;
}

bool ReaderWatch::PauseUnlessStopped() {
    std::unique_lock lock(m_lock);
    return m_signal.wait_for(lock, kRetryAfter, [this] { return m_stopping; });
}

bool ReaderWatch::SetCancellable(SCARDCONTEXT context) {
    std::lock_guard cancelLock(m_cancelLock);
    const bool stopping = Stopping();
    m_cancellable = stopping ? 0 : context;
    return !stopping;
}
