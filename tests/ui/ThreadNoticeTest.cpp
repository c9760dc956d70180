// A window's thread woken from other threads: the handler runs from the event loop of the
// thread that made the notice, once for the posts made before it ran.

#include "ui/framework/ThreadNotice.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <thread>

#include "UiTest.h"

namespace {

// Generous: a wait fails only when what it waits for clearly never comes.
constexpr int kWaitMs = 10000;

TEST(ThreadNoticeTest, PostsFromOtherThreadsRunTheHandlerOnceOnTheMakingThread) {
    TestApplication();
    int runs = 0;
    std::thread::id ranOn;
    ThreadNotice notice([&] {
        ++runs;
        ranOn = std::this_thread::get_id();
    });
    std::thread poster([&notice] {
        for (int i = 0; i < 5; ++i) {
            notice.Post();
        }
    });
    poster.join();
    EXPECT_EQ(runs, 0) << "only the event loop runs the handler";
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs > 0; }, kWaitMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1) << "one run for the posts made before it";
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    std::thread again([&notice] { notice.Post(); });
    again.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs > 1; }, kWaitMs));
    EXPECT_EQ(runs, 2);
}

}  // namespace
