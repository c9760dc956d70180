// The reader watcher on a scripted PC/SC service that waits and cancels as pcsc-lite does:
// which changes it reports, how it lives through a failing service, and how it ends.

#include "manager/ReaderWatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/rig/FakePcsc.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

class ReaderWatcherTest : public ::testing::Test {
protected:
    void TearDown() override { watcher.reset(); }

    // `count` readers "Lettore 0", ...; the first holds a card, inserted once.
    void SetReaders(int count) {
        for (int i = 0; i < count; ++i) {
            pcsc.readers.push_back("Lettore " + std::to_string(i));
        }
        pcsc.states["Lettore 0"] = SCARD_STATE_PRESENT;
        pcsc.eventCounts["Lettore 0"] = 1;
    }

    // What a listing of the service shows now (at most ten readers, as the window).
    std::vector<WatchedReader> Seen() {
        return pcsc.Locked([&] {
            std::vector<WatchedReader> seen;
            for (const std::string& name : pcsc.readers) {
                if (seen.size() == 10) {
                    break;
                }
                DWORD state = pcsc.states.count(name) != 0 ? pcsc.states[name]
                                                           : static_cast<DWORD>(SCARD_STATE_EMPTY);
                seen.push_back({name, state | (pcsc.eventCounts[name] << 16)});
            }
            return seen;
        });
    }

    // A watcher of its own, its reports counted from 0.
    void Start(std::vector<WatchedReader> seen) {
        watcher.reset();
        {
            std::lock_guard lock(m_lock);
            m_reports = 0;
        }
        watcher = std::make_unique<ReaderWatcher>(std::move(seen), [this] {
            std::lock_guard lock(m_lock);
            ++m_reports;
        });
    }

    int Reports() {
        std::lock_guard lock(m_lock);
        return m_reports;
    }

    int StatusCalls() {
        return pcsc.Locked([&] { return pcsc.getStatusChange.calls; });
    }

    // Waits until `condition` (read under the fake's lock) holds; false when it never did.
    bool Eventually(const std::function<bool()>& condition) {
        const auto end = std::chrono::steady_clock::now() + kWait;
        while (!pcsc.Locked(condition)) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // The watcher made more than `calls` status queries and waits again: whatever it saw
    // before, it has reported.
    bool WaitsAgainAfter(int calls) {
        return Eventually([&] { return pcsc.getStatusChange.calls > calls && pcsc.Waits() == 1; });
    }

    FakePcsc pcsc;
    std::unique_ptr<ReaderWatcher> watcher;

private:
    std::mutex m_lock;
    int m_reports = 0;
};

struct ChangeCase {
    const char* what;
    int readers;
    std::function<void(FakePcsc&)> change;
    bool reported;
};

TEST_F(ReaderWatcherTest, ReportsCardsAndReadersThatComeAndGoAndNothingElse) {
    const std::vector<ChangeCase> cases = {
        {"a card inserted", 2,
         [](FakePcsc& pcsc) {
             pcsc.states["Lettore 1"] = SCARD_STATE_PRESENT;
             pcsc.eventCounts["Lettore 1"] = 1;
         },
         true},
        {"a card removed", 2,
         [](FakePcsc& pcsc) {
             pcsc.states["Lettore 0"] = SCARD_STATE_EMPTY;
             pcsc.eventCounts["Lettore 0"] = 2;
         },
         true},
        {"a card taken out and put back between two looks", 2,
         [](FakePcsc& pcsc) { pcsc.eventCounts["Lettore 0"] = 3; }, true},
        {"a reader plugged in", 2, [](FakePcsc& pcsc) { pcsc.readers.push_back("Lettore X"); },
         true},
        {"a reader unplugged", 2, [](FakePcsc& pcsc) { pcsc.readers.pop_back(); }, true},
        {"the last reader unplugged", 1, [](FakePcsc& pcsc) { pcsc.readers.clear(); }, true},
        {"the card put in use by a program", 2,
         [](FakePcsc& pcsc) { pcsc.states["Lettore 0"] |= SCARD_STATE_INUSE; }, false},
        {"an eleventh reader, which the window would not show", 10,
         [](FakePcsc& pcsc) { pcsc.readers.push_back("Lettore X"); }, false},
    };
    for (const ChangeCase& change : cases) {
        SCOPED_TRACE(change.what);
        pcsc.Locked([&] {
            pcsc.readers.clear();
            pcsc.states.clear();
            pcsc.eventCounts.clear();
            SetReaders(change.readers);
        });
        Start(Seen());
        ASSERT_TRUE(WaitsAgainAfter(0));
        EXPECT_EQ(Reports(), 0) << "nothing changed since the window's listing";

        const int calls = StatusCalls();
        pcsc.Locked([&] { change.change(pcsc); });
        ASSERT_TRUE(WaitsAgainAfter(calls));
        EXPECT_EQ(Reports() != 0, change.reported);
        watcher.reset();
        pcsc.Locked([&] { EXPECT_EQ(pcsc.OpenContexts(), 0); });
    }
}

TEST_F(ReaderWatcherTest, AChangeBeforeItsFirstLookIsReportedAtOnce) {
    SetReaders(2);
    const std::vector<WatchedReader> seen = Seen();
    pcsc.Locked([&] {
        pcsc.states["Lettore 1"] = SCARD_STATE_PRESENT;
        pcsc.eventCounts["Lettore 1"] = 1;
    });
    Start(seen);
    ASSERT_TRUE(WaitsAgainAfter(0));
    EXPECT_EQ(Reports(), 1);
}

struct OutageCase {
    const char* what;
    std::function<void(FakePcsc&)> begin;
    std::function<void(FakePcsc&)> end;
    int reportsOnceOver;
};

TEST_F(ReaderWatcherTest, AFailingServiceIsAskedAgainOnlyAfterPausesAndReportedOnceBack) {
    const std::vector<OutageCase> cases = {
        {"the service stops and comes back", [](FakePcsc& pcsc) { pcsc.serviceRunning = false; },
         [](FakePcsc& pcsc) { pcsc.serviceRunning = true; }, 1},
        {"the status query does not know a reader that the service lists",
         [](FakePcsc& pcsc) {
             pcsc.getStatusChange.otherwise = SCARD_E_UNKNOWN_READER;
             // A card inserted ends the wait under way.
             pcsc.states["Lettore 1"] = SCARD_STATE_PRESENT;
             pcsc.eventCounts["Lettore 1"] = 1;
         },
         [](FakePcsc& pcsc) { pcsc.getStatusChange.otherwise = SCARD_S_SUCCESS; }, 0},
    };
    for (const OutageCase& outage : cases) {
        SCOPED_TRACE(outage.what);
        pcsc.Locked([&] {
            pcsc.readers.clear();
            SetReaders(2);
        });
        Start(Seen());
        ASSERT_TRUE(WaitsAgainAfter(0));

        pcsc.Locked([&] { outage.begin(pcsc); });
        ASSERT_TRUE(Eventually([&] { return pcsc.Waits() == 0; }));
        const int reports = Reports();
        auto calls = [&] {
            return pcsc.Locked([&] {
                return pcsc.establishContext.calls + pcsc.listReaders.calls +
                       pcsc.getStatusChange.calls;
            });
        };
        const int before = calls();
        // The outage lasts three of the watcher's pauses; one that spins makes thousands of
        // calls meanwhile.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_LE(calls() - before, 12);
        EXPECT_EQ(Reports(), reports) << "nothing to report while the service fails";

        const int statusCalls = StatusCalls();
        pcsc.Locked([&] { outage.end(pcsc); });
        ASSERT_TRUE(WaitsAgainAfter(statusCalls));
        EXPECT_EQ(Reports() - reports, outage.reportsOnceOver);
        pcsc.Locked([&] {
            EXPECT_EQ(pcsc.OpenContexts(), 1) << "the context of before the outage is let go";
            EXPECT_TRUE(pcsc.misuse.empty());
        });
        watcher.reset();
    }
}

struct EndCase {
    const char* what;
    bool serviceRunning;
};

TEST_F(ReaderWatcherTest, EndsItsWaitOrItsPauseAndLetsItsContextGo) {
    SetReaders(2);
    for (const EndCase& end : {EndCase{"waiting", true}, EndCase{"pausing in an outage", false}}) {
        SCOPED_TRACE(end.what);
        pcsc.Locked([&] {
            pcsc.serviceRunning = true;
            pcsc.cancel.calls = 0;
        });
        Start(Seen());
        ASSERT_TRUE(WaitsAgainAfter(0));
        if (!end.serviceRunning) {
            const int establishments = pcsc.Locked([&] { return pcsc.establishContext.calls; });
            pcsc.Locked([&] { pcsc.serviceRunning = false; });
            ASSERT_TRUE(Eventually([&] {
                return pcsc.establishContext.calls > establishments && pcsc.OpenContexts() == 0;
            }));
        }
        watcher.reset();
        pcsc.Locked([&] {
            EXPECT_EQ(pcsc.OpenContexts(), 0);
            EXPECT_EQ(pcsc.Waits(), 0);
            EXPECT_EQ(pcsc.cancel.calls != 0, end.serviceRunning) << "a wait is cancelled";
            EXPECT_TRUE(pcsc.misuse.empty());
        });
    }
}

// A PC/SC service that does not answer (a pcscd that is stopped) holds neither the watcher's
// end nor its owner: the watcher's thread is left to end once the service answers, and
// reports nothing more.
TEST_F(ReaderWatcherTest, EndsEvenWhenTheServiceDoesNotAnswer) {
    SetReaders(1);
    Start(Seen());
    ASSERT_TRUE(WaitsAgainAfter(0));
    std::atomic<bool> frozen{true};
    pcsc.Locked([&] {
        pcsc.beforeCall = [&](const std::string& operation) {
            while (operation == "cancel" && frozen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
    });
    const int reportsBefore = Reports();
    watcher.reset();  // returns, though the cancel does not
    frozen = false;
    ASSERT_TRUE(Eventually([&] { return pcsc.OpenContexts() == 0 && pcsc.Waits() == 0; }))
        << "the watcher's thread ends by itself once the service answers";
    EXPECT_EQ(Reports(), reportsBefore);
    pcsc.Locked([&] {
        pcsc.beforeCall = nullptr;
        EXPECT_TRUE(pcsc.misuse.empty());
    });
}

}  // namespace
