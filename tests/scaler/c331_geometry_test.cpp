// The window path's arithmetic without the chip: crop margins, margins inside an OCH span,
// OCH spans and lists, scaling steps, tile slices, zoom read plans and the pair seam.
#include <gtest/gtest.h>

#include "scaler/c331_geometry.h"
#include "scaling_expected.h"

using namespace c331geom;

TEST(C331GeometryTest, CropMarginsFollowTheInputAndNeverGoNegative) {
    const CropRect r{100, 50, 800, 600};
    EXPECT_EQ(cropMargin(1920, 1080, r, kLeft), 100);
    EXPECT_EQ(cropMargin(1920, 1080, r, kRight), 1020);
    EXPECT_EQ(cropMargin(1920, 1080, r, kTop), 50);
    EXPECT_EQ(cropMargin(1920, 1080, r, kBottom), 430);
    EXPECT_EQ(cropMargin(1920, 1080, r, 7), 0);
    EXPECT_EQ(cropMargin(0, 1080, r, kLeft), 0);  // no signal: the whole (absent) input
    EXPECT_EQ(cropMargin(700, 1080, r, kRight), 0);
    CropRect wide{1500, 0, 800, 1080};
    EXPECT_TRUE(clipCrop(1920, 1080, wide));
    EXPECT_EQ(wide.x, 0);
    EXPECT_EQ(wide.w, 1920);
    for (int side = 0; side < 4; ++side) EXPECT_EQ(cropMargin(1920, 1080, wide, side), 0);
}

TEST(C331GeometryTest, WindowMarginsInsideItsOchSpan) {
    EXPECT_EQ(ochWinOffset(1800, 0, 1000, 500, 2, 1, 1920, 1080, kLeft), 1800);
    EXPECT_EQ(ochWinOffset(1800, 0, 1000, 500, 2, 1, 1920, 1080, kRight), 1040);
    EXPECT_EQ(ochWinOffset(1800, 100, 1000, 500, 2, 1, 1920, 1080, kTop), 100);
    EXPECT_EQ(ochWinOffset(1800, 100, 1000, 500, 2, 1, 1920, 1080, kBottom), 480);
    EXPECT_EQ(ochWinOffset(1800, 100, 1000, 500, 2, 1, 0, 0, kLeft), 0);  // no panel yet
}

TEST(C331GeometryTest, ScalingStepsMatchTheIndependentTable) {
    for (const auto& c : scaling_expected::kCases) {
        ImageWindow src, dst;
        src.HW = src.VW = c.src;
        dst.HW = dst.VW = c.dst;
        const Scaling s = calcScaling(src, dst);
        EXPECT_EQ(s.hmode, c.hmode) << c.src << "->" << c.dst;
        EXPECT_EQ(s.vmode, c.hmode) << c.src << "->" << c.dst;
        EXPECT_EQ(s.hshrink_step, c.shrink) << c.src << "->" << c.dst;
        EXPECT_EQ(s.hzoom_step, c.zoom) << c.src << "->" << c.dst;
        EXPECT_LE(s.hshrink_step, 0x10000);
        EXPECT_LE(s.hzoom_step, 0x10000);
    }
    ImageWindow none, dst;
    dst.HW = 100;
    EXPECT_EQ(calcScaling(none, dst).hmode, 0);  // a size of 0 never scales
}

TEST(C331GeometryTest, TileSlicesCoverTheWindowWithoutNegativeWidths) {
    TileSlice t[8];
    ImageWindow ow{1800, 1000, 100, 900};
    calcOact(ow, 2, 2, 1920, 1080, t);
    EXPECT_EQ(t[0].HST, 1800);
    EXPECT_EQ(t[0].HW, 120);
    EXPECT_EQ(t[1].HST, 0);
    EXPECT_EQ(t[1].HW, 880);
    EXPECT_EQ(t[0].HW + t[1].HW, ow.HW);
    EXPECT_EQ(t[0].hfirst, 1);
    EXPECT_EQ(t[1].hlast, 1);
    EXPECT_EQ(t[0].VW, 900);
    EXPECT_EQ(t[1].VW, 0);  // the second row holds nothing
    EXPECT_EQ(t[0].vfirst, 1);
    EXPECT_EQ(t[0].vlast, 1);
    // a rectangle starting left of a tile never yields a negative width
    ImageWindow left{-50, 30, 0, 10};
    calcOact(left, 2, 1, 1920, 1080, t);
    EXPECT_EQ(t[0].HW, 0);
    EXPECT_EQ(t[1].HW, 0);
    EXPECT_EQ(t[0].hfirst + t[1].hlast, 0);
    // a shape of 0 columns gives no slices
    calcOact(ow, 0, 0, 1920, 1080, t);
    for (const TileSlice& s : t) EXPECT_EQ(s.HW + s.VW, 0);
}

TEST(C331GeometryTest, OchSpanAndListOnEachArrangement) {
    int s, e;
    uint8_t h, v, list[8];
    // 2 x 1: exactly one OCH wide at x = 0 ends on OCH 0
    ASSERT_TRUE(ochSpan(2, 1, 1920, 1080, 0, 0, 1920, 1080, &s, &e));
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(ochList(s, e, 2, &h, &v, list), 1);
    EXPECT_EQ(list[0], 0);
    // 4 x 1: across OCH 1..3
    ASSERT_TRUE(ochSpan(4, 1, 1920, 1080, 2000, 0, 3800, 500, &s, &e));
    EXPECT_EQ(ochList(s, e, 4, &h, &v, list), 3);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[2], 3);
    // 2 x 2: the whole canvas
    ASSERT_TRUE(ochSpan(2, 2, 1920, 1080, 0, 0, 3840, 2160, &s, &e));
    EXPECT_EQ(ochList(s, e, 2, &h, &v, list), 4);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(v, 2);
    // 2 x 2: one column over both rows is one column wide, two rows high
    ASSERT_TRUE(ochSpan(2, 2, 1920, 1080, 0, 0, 1920, 2160, &s, &e));
    EXPECT_EQ(ochList(s, e, 2, &h, &v, list), 2);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(list[1], 2);
    // 1 x 2: the lower half
    ASSERT_TRUE(ochSpan(1, 2, 1920, 1080, 0, 1080, 1920, 1080, &s, &e));
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 1);
    // a window starting left of the canvas has no span
    EXPECT_FALSE(ochSpan(2, 1, 1920, 1080, -10, 0, 100, 100, &s, &e));
}

TEST(C331GeometryTest, ZoomReadPlanMatchesTheIndependentPositions) {
    const int32_t sizes[2] = {1920, 1920};
    AxisRead r[2];
    axisPlan(sizes, 2, 3840, scaling_expected::kZoomStep, true, false, r);
    EXPECT_EQ(r[0].start, 0);
    EXPECT_EQ(r[0].read, scaling_expected::kTile0Read);
    EXPECT_EQ(r[1].start, scaling_expected::kTile1Start);
    EXPECT_EQ(r[1].sub, scaling_expected::kTile1Sub);
    EXPECT_EQ(r[1].phase, scaling_expected::kTile1Phase);
    EXPECT_EQ(r[1].read, scaling_expected::kTile1Read);
    // without zoom each tile reads its own slice, at least 16 pixels; rows read one line more
    const int32_t narrow[2] = {1910, 10};
    axisPlan(narrow, 2, 1920, 0, false, false, r);
    EXPECT_EQ(r[1].start, 1910);
    EXPECT_EQ(r[1].read, 16);
    axisPlan(narrow, 2, 1920, 0, false, true, r);
    EXPECT_EQ(r[0].read, 1911);
}

TEST(C331GeometryTest, PairSeamEndsTheFirstPartOnAnEvenPixel) {
    const int32_t step = ratioStep(1920, 3840);  // 3840 -> 1920 over two ICHs of 1920
    const PairSeam s = pairSeam(1920, step, 0x100, 0, 3);
    EXPECT_EQ(s.seam % 2, 0);
    EXPECT_GE(s.seam, 960);
    EXPECT_LE(s.ext, 2);
    EXPECT_EQ(s.offset, formatBytes(s.seam, 3));
    // the 4-byte format places the partner at the unrounded seam
    const PairSeam z = pairSeam(1920, step, 0x100, 0, 0);
    EXPECT_EQ(z.ext, 0);
}

TEST(C331GeometryTest, FormatCostsAndChannelDemand) {
    EXPECT_EQ(formatBytes(1920, 0), 7680);
    EXPECT_EQ(formatBytes(1920, 1), 6144);
    EXPECT_EQ(formatBytes(1919, 2), 5120);  // padded to 1920
    EXPECT_EQ(formatBytes(1920, 3), 3840);
    EXPECT_EQ(ichDemand(0, 2), 1);
    EXPECT_EQ(ichDemand(1, 5), 2);
    EXPECT_EQ(ichDemand(20, 0), 2);
    EXPECT_EQ(ichDemand(30, 0), 3);
    EXPECT_EQ(ichDemand(51, 4), 4);
    EXPECT_EQ(ichDemand(52, 0), 0);
    EXPECT_EQ(ichDemand(0, 6), 0);
}
