#include "platform/WaitableNotice.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "support/OpenDescriptors.h"

namespace {

TEST(WaitableNoticeTest, TakeTellsWhetherAnythingWasPostedSinceTheLastTake) {
    WaitableNotice notice;
    EXPECT_FALSE(notice.Take()) << "nothing posted yet";
    notice.Post();
    notice.Post();
    EXPECT_TRUE(notice.Take());
    EXPECT_FALSE(notice.Take()) << "one take for all the posts before it";

    std::vector<std::thread> posters;
    for (int i = 0; i < 4; ++i) {
        posters.emplace_back([&notice] {
            for (int post = 0; post < 100; ++post) {
                notice.Post();
            }
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    EXPECT_TRUE(notice.Take());
    EXPECT_FALSE(notice.Take());
}

TEST(WaitableNoticeTest, NoticesAreApartAndLeaveNothingOpen) {
    const int before = CountOpenDescriptors().all;
    {
        WaitableNotice first;
        WaitableNotice second;
        EXPECT_NE(first.Handle(), second.Handle());
        first.Post();
        EXPECT_FALSE(second.Take());
        EXPECT_TRUE(first.Take());
    }
    EXPECT_EQ(CountOpenDescriptors().all, before);
}

}  // namespace
