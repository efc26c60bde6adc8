// Input-channel allocation as a table: the placement rules, moving windows, the budget of
// eight, and the pairs of the V-by-One ports.
#include <gtest/gtest.h>

#include "scaler/c331_ich_alloc.h"

using namespace c331ich;

namespace {

struct World {
    IchAlloc a;
    WinView v[kWin];
    int chg[kWin] = {};
    void show(int w, int port, int mode = 0, bool interlaced = false) {
        v[w].shown = true;
        v[w].port = port;
        v[w].dbdMode = mode;
        v[w].interlaced = interlaced;
        v[w].dbdChange = true;
    }
    void own(std::initializer_list<int> ichs, int w) {
        for (int i : ichs) a.ich_win[i] = w;
        a.rebuild();
    }
    bool consistent() const {
        for (int w = 0; w < kWin; ++w)
            for (int j = 0; j < kIch && a.win_ich[w][j] >= 0; ++j)
                if (a.ich_win[a.win_ich[w][j]] != w) return false;
        return true;
    }
};

}  // namespace

TEST(C331IchAllocTest, SingleRulesFillHalfUsedPairsFirst) {
    World t;
    t.own({2}, 5);
    EXPECT_EQ(t.a.check_ich(false, false), 3);
    World u;
    u.own({0, 1, 2, 3, 4, 6}, 5);
    EXPECT_EQ(u.a.check_ich(false, false), 5);
    EXPECT_EQ(u.a.check_ich(true, false), -1);  // interlaced needs ICH 0..3
    EXPECT_EQ(u.a.check_ich(false, true), -1);  // no free aligned pair
    World p;
    EXPECT_EQ(p.a.check_ich(false, true), 4);
}

TEST(C331IchAllocTest, InterlacedInputMovesAProgressiveWindowOffIch0) {
    World t;
    for (int w = 0; w < 4; ++w) t.show(w, w);
    t.show(4, 3, 0, true);
    for (int w = 0; w < 4; ++w) t.own({w}, w);
    ASSERT_EQ(t.a.adjust_ich(true, false, 4, t.v, t.chg), 0);
    EXPECT_EQ(t.a.ich_win[0], 4);
    EXPECT_EQ(t.a.ich_win[4], 0);
    EXPECT_EQ(t.chg[0], 2);
    EXPECT_TRUE(t.consistent());
}

TEST(C331IchAllocTest, InterlacedInputNeverSplitsAVByOnePair) {
    World t;
    t.show(0, 5);  // V-by-One window on ICH 0 and 1
    t.show(1, 2);
    t.show(2, 1);
    t.show(3, 0, 0, true);
    t.own({0, 1}, 0);
    t.own({2}, 1);
    t.own({3}, 2);
    ASSERT_EQ(t.a.adjust_ich(true, false, 3, t.v, t.chg), 0);
    EXPECT_EQ(t.a.ich_win[0], 0);  // the pair stays whole
    EXPECT_EQ(t.a.ich_win[1], 0);
    EXPECT_EQ(t.a.ich_win[2], 3);  // the single window on ICH 2 moved instead
    EXPECT_EQ(t.chg[1], 2);
    EXPECT_TRUE(t.a.holdsPair(0));
}

TEST(C331IchAllocTest, VByOnePortEmptiesAHalfUsedPair) {
    World t;
    t.show(5, 4);
    for (int i : {0, 1, 2, 3, 5, 6}) t.own({i}, i % 5);
    ASSERT_EQ(t.a.check_ich(false, true), -1);
    ASSERT_EQ(t.a.adjust_ich(false, true, 5, t.v, t.chg), 0);
    EXPECT_EQ(t.a.ich_win[4], 5);
    EXPECT_EQ(t.a.ich_win[5], 5);
    EXPECT_EQ(t.a.ich_win[7], 0);  // the owner of ICH 5 moved to 7
    EXPECT_EQ(t.chg[0], 2);
    EXPECT_TRUE(t.consistent());
}

TEST(C331IchAllocTest, BudgetOfEightIsCheckedBeforeAnythingMoves) {
    World t;
    for (int w = 0; w < 6; ++w) t.show(w, w);  // 4 x 1 + 2 x 2 = 8
    for (int w = 0; w < 6; ++w) EXPECT_NE(t.a.set_input(w, t.v, t.chg), kFailed) << w;
    int used = 0;
    for (int i = 0; i < kIch; ++i) used += t.a.ich_win[i] >= 0;
    EXPECT_EQ(used, 8);
    EXPECT_TRUE(t.a.holdsPair(4));
    EXPECT_TRUE(t.a.holdsPair(5));
    t.v[0].dbdMode = 20;  // two CMOS ports for window 0: 9 channels
    IchAlloc before = t.a;
    EXPECT_EQ(t.a.check_ich_all(0, t.v), -1);
    for (int i = 0; i < kIch; ++i) EXPECT_EQ(t.a.ich_win[i], before.ich_win[i]);
}

TEST(C331IchAllocTest, DotByDotWindowGetsAllItsChannelsOrNone) {
    World t;
    t.show(0, 0, 40);
    ASSERT_EQ(t.a.set_input(0, t.v, t.chg), kAssigned);
    EXPECT_EQ(t.a.count(0), 4);
    World full;
    full.show(1, 0);
    full.show(5, 0, 40);
    full.own({0, 1, 2, 3, 4, 5}, 1);  // channels window 1 still holds from before
    // only two channels left for a four-port window: it gets none, not half
    EXPECT_EQ(full.a.set_input(5, full.v, full.chg), kFailed);
    EXPECT_EQ(full.a.count(5), 0);
}
