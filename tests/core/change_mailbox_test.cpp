#include "core/change_mailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::vector<int> takeAll(ChangeMailbox& box) {
    std::vector<int> codes;
    for (int code = 0; box.take(&code);) codes.push_back(code);
    return codes;
}

// Two managers posting the same code thousands of times wake the GUI thread once; the code
// is queued again only once it has been taken.
TEST(ChangeMailbox, FloodOfOneCodeLeavesOneWaiting) {
    ChangeMailbox box;
    std::atomic<int> wakes{0};
    auto flood = [&] {
        for (int i = 0; i < 5000; ++i)
            if (box.post(1)) ++wakes;
    };
    std::thread a(flood), b(flood);
    a.join();
    b.join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(box.waiting(), 1u);
    EXPECT_EQ(takeAll(box), std::vector<int>{1});
    EXPECT_TRUE(box.post(1)) << "a change after the take needs a refresh of its own";
}

// Distinct codes all arrive, in the order of their newest post: a stick plugged, its files
// ready, pulled and plugged again ends as plugged.
TEST(ChangeMailbox, DistinctCodesArriveInTheOrderOfTheirNewestPost) {
    ChangeMailbox box;
    int wakes = 0;
    for (int code : {1, 100, 2, 102, 101, 100, 1}) wakes += box.post(code);
    EXPECT_EQ(wakes, 5);
    EXPECT_EQ(takeAll(box), (std::vector<int>{2, 102, 101, 100, 1}));
    EXPECT_EQ(box.waiting(), 0u);
}

// A worker's post before the application object exists cannot queue its wake: the code must
// not stay waiting, or no later post of it would ever wake the GUI thread.
TEST(ChangeMailbox, PostWithoutAReceiverLeavesNothingWaiting) {
    ChangeMailbox box;
    int served = 0;
    box.postTo(nullptr, 7, [&](int) { ++served; });
    EXPECT_EQ(box.waiting(), 0u);
    EXPECT_TRUE(box.post(7)) << "the next post of the code wakes the taker again";
    EXPECT_EQ(served, 0);
}

}  // namespace
