// The end signals, sent to the test's own process: each reaches the handler on the handler's
// thread, with its status, and none has the system's default effect of ending the process.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/EndSignals.h"

namespace {

// Generous: a wait fails only when what it waits for clearly never comes.
constexpr auto kBound = std::chrono::seconds(60);

std::mutex g_mutex;
std::condition_variable g_handled;
std::vector<int> g_statuses;
std::thread::id g_handlerThread;

void Record(int status) {
    const std::lock_guard lock(g_mutex);
    g_statuses.push_back(status);
    g_handlerThread = std::this_thread::get_id();
    g_handled.notify_all();
}

TEST(EndSignalsTest, EachSignalReachesTheHandlerOnItsOwnThreadWithItsStatus) {
    HandleEndSignals(Record);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(number);
        std::unique_lock lock(g_mutex);
        g_statuses.clear();
        ASSERT_EQ(kill(getpid(), number), 0);
        ASSERT_TRUE(g_handled.wait_for(lock, kBound, [] { return !g_statuses.empty(); }));
        EXPECT_EQ(g_statuses, std::vector<int>{128 + number});
        EXPECT_NE(g_handlerThread, std::this_thread::get_id());
    }
}

}  // namespace
