#include "core/stamped_bytes.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

using Words = StampedBytes<8, 2>;  // four stamped u16 words

std::vector<unsigned char> bytesOf(const Words& b) {
    std::vector<unsigned char> out(Words::kSize);
    b.copyOut(0, Words::kSize, out.data());
    return out;
}

}  // namespace

// A write stamps every grain it touches, a byte of one as well as the whole; a write-back
// decided before it is refused there and lands on the grains beside it.
TEST(StampedBytes, AWriteRefusesOnlyTheWriteBacksOverTheGrainsItTouched) {
    Words b;
    const unsigned char ab[2] = {0xA1, 0xB2}, cd[2] = {0xC3, 0xD4};
    const ChangeStamp look = b.stamp();
    ASSERT_TRUE(b.copyIn(3, ab, 2));  // the high byte of word 1, the low byte of word 2
    ChangeStamp since = look;
    EXPECT_FALSE(b.compareAndSet(2, cd, 1, since)) << "word 1, by its other byte";
    EXPECT_FALSE(b.compareAndSet(4, cd, 2, since)) << "word 2";
    EXPECT_EQ(since, look) << "a refused write-back keeps its base";
    EXPECT_EQ(bytesOf(b), std::vector<unsigned char>({0, 0, 0, 0xA1, 0xB2, 0, 0, 0}));
    EXPECT_TRUE(b.compareAndSet(6, cd, 2, since)) << "word 3, untouched";
    EXPECT_NE(since, look);
    since = look;
    EXPECT_TRUE(b.compareAndSet(0, cd, 2, since)) << "word 0, untouched";
    EXPECT_EQ(bytesOf(b), std::vector<unsigned char>({0xC3, 0xD4, 0, 0xA1, 0xB2, 0, 0xC3, 0xD4}));
    EXPECT_TRUE(b.unchangedSince(0, 8, b.stamp()));
    EXPECT_FALSE(b.unchangedSince(0, 8, look));
}

// A caller's landed write-back moves its base onto its own write: its next write-back over the
// same bytes lands, until another writer's write comes between.
TEST(StampedBytes, ACallerPassesOverItsOwnWriteButNotAnothers) {
    Words b;
    const unsigned char one[2] = {1, 0}, two[2] = {2, 0}, three[2] = {3, 0};
    ChangeStamp since = b.stamp();
    ASSERT_TRUE(b.compareAndSet(2, one, 2, since));
    EXPECT_EQ(since, b.stamp());
    EXPECT_TRUE(b.compareAndSet(2, two, 2, since)) << "over its own write";
    b.copyIn(2, three, 2);  // another writer
    EXPECT_FALSE(b.compareAndSet(2, one, 2, since));
    EXPECT_FALSE(b.differs(2, 2, three));
}

// A range past the end, or one whose end wraps the unsigned range, copies and stamps nothing;
// an empty range writes nothing, and its compare-and-set lands nowhere and keeps its base.
TEST(StampedBytes, RangesOutsideOrEmptyTouchNothing) {
    Words b;
    const unsigned char in[9] = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    unsigned char out[9] = {};
    const ChangeStamp before = b.stamp();
    ChangeStamp since = before;
    EXPECT_FALSE(b.copyIn(7, in, 2));
    EXPECT_FALSE(b.copyIn(0, in, 9));
    EXPECT_FALSE(b.copyIn(UINT_MAX, in, 2));
    EXPECT_FALSE(b.copyOut(9, 0, out));
    EXPECT_FALSE(b.copyOut(2, UINT_MAX, out));
    EXPECT_FALSE(b.compareAndSet(6, in, 3, since));
    EXPECT_FALSE(b.compareAndSet(4, in, 0, since)) << "nothing written, nothing to land";
    EXPECT_FALSE(b.compareAndSet(8, in, 0, since));
    EXPECT_EQ(since, before);
    EXPECT_TRUE(b.copyIn(8, in, 0));
    EXPECT_EQ(b.stamp(), before) << "no write counted";
    EXPECT_EQ(bytesOf(b), std::vector<unsigned char>(8, 0));
    EXPECT_FALSE(b.differs(0, 0, in));
}

// The count runs on through its wrap: a write after it is newer than a look before it, and a
// look after it sees an older write as old.
TEST(StampedBytes, TheCountIsComparedAcrossItsWrap) {
    Words b(UINT32_MAX - 1);
    const unsigned char v[2] = {5, 0};
    const ChangeStamp beforeWrap = b.stamp();
    ASSERT_TRUE(b.copyIn(0, v, 2));  // stamped UINT32_MAX
    ASSERT_TRUE(b.copyIn(2, v, 2));  // stamped 0
    EXPECT_EQ(b.stamp(), 0u);
    ChangeStamp since = beforeWrap;
    EXPECT_FALSE(b.compareAndSet(2, v, 2, since)) << "written after the look, across the wrap";
    EXPECT_TRUE(b.compareAndSet(4, v, 2, since)) << "not written since the start";
    since = UINT32_MAX;
    EXPECT_TRUE(b.compareAndSet(0, v, 2, since)) << "written at the look itself";
    EXPECT_EQ(since, b.stamp());
    EXPECT_EQ(since, 2u) << "two write-backs after the wrap";
}
