// The split rules of the output screen, without widgets.
#include <gtest/gtest.h>

#include "ui/output/splice.h"

using namespace splice;

namespace {
Split split(int index, int w, int h) {
    Split s;
    EXPECT_TRUE(splitFor(index, w, h, &s));
    return s;
}
bool inSpan(const Span& s, int v) { return v >= s.smallest && v <= s.largest; }
}  // namespace

TEST(Splice, HorizontalGivesOut1TheLargerShareOnEightColumnBoundaries) {
    const int cases[][3] = {{1920, 960, 960}, {1921, 968, 953}, {1000, 504, 496}, {16376, 8192, 8184}};
    for (const auto& c : cases) {
        const Split s = split(0, c[0], 1080);
        EXPECT_EQ(s.out1Width, c[1]) << c[0];
        EXPECT_EQ(s.out2Width, c[2]) << c[0];
        EXPECT_EQ(s.out1Height, 1080);
        EXPECT_EQ(s.out2Height, 1080);
    }
}

TEST(Splice, VerticalSplitsRowsAndKeepsTheWidth) {
    const int cases[][3] = {{1080, 542, 538}, {1081, 540, 541}, {768, 386, 382}};
    for (const auto& c : cases) {
        const Split s = split(1, 1920, c[0]);
        EXPECT_EQ(s.out1Height, c[1]) << c[0];
        EXPECT_EQ(s.out2Height, c[2]) << c[0];
        EXPECT_EQ(s.out1Width, 1920);
        EXPECT_EQ(s.out2Width, 1920);
    }
}

TEST(Splice, CopyLimitsTheLedWidthToWhatOneOutputCarries) {
    const Split s = split(2, 10000, 1080);
    EXPECT_EQ(s.ledWidth, 8188);
    EXPECT_EQ(s.out1Width, 8188);
    EXPECT_EQ(s.out2Width, 8188);
    Split none;
    EXPECT_FALSE(splitFor(-1, 1920, 1080, &none));
}

TEST(Splice, CodesAndComboIndexesMapBothWaysAndUnknownCodesShowAsCopy) {
    EXPECT_EQ(codeOfIndex(0), 3);
    EXPECT_EQ(codeOfIndex(1), 2);
    EXPECT_EQ(codeOfIndex(2), 4);
    for (int code : {0, 1, 4, 5, 77}) EXPECT_EQ(indexOfCode(code), 2) << code;
    EXPECT_EQ(indexOfCode(3), 0);
    EXPECT_EQ(indexOfCode(2), 1);
}

TEST(Splice, WideLedWidthRoundsTypedWidthToThirtyTwoColumns) {
    ASSERT_TRUE(inSpan(out1WidthSpan(10000, kCodeHorizontal), 5000));
    const Entry e = typedOut1Width(5000, 10000, kCodeHorizontal);
    EXPECT_EQ(e.out1Text, QStringLiteral("5024"));
    EXPECT_EQ(e.out2, 4992);
    // stored: OUT2 is what is left of the real LED width
    Geometry g;
    ASSERT_TRUE(geometryFor(kCodeHorizontal, 10000, 1080, 5024, 1080, 1080, &g));
    EXPECT_EQ(g.out1Width, 5024);
    EXPECT_EQ(g.out2X, 5024);
    EXPECT_EQ(g.out2Width, 4976);
}

TEST(Splice, NoOutputIsGivenMoreThanItCarries) {
    // a copy of a wide LED shows what one output carries, in both
    const Span copy = out1WidthSpan(10000, kCodeCopy);
    EXPECT_EQ(copy.smallest, kMaxOut);
    EXPECT_EQ(copy.largest, kMaxOut);
    EXPECT_EQ(out1HeightSpan(10000, kCodeHorizontal).largest, kMaxOut);
    EXPECT_EQ(out1WidthSpan(10000, kCodeVertical).largest, kMaxOut);
    // split wider than one output: OUT1 on a 32-column boundary within it, OUT2 within it too
    const Span split = out1WidthSpan(10000, kCodeHorizontal);
    EXPECT_EQ(split.largest, 8160);
    EXPECT_EQ(split.smallest, 10000 - kMaxOut);
    EXPECT_EQ(typedOut1Width(split.largest, 10000, kCodeHorizontal).out1Text, QStringLiteral("8160"));
}

TEST(Splice, Out1ThatLeavesOut2NothingIsOutsideItsSpan) {
    const Span h = out1WidthSpan(1920, kCodeHorizontal);
    EXPECT_FALSE(inSpan(h, 1920));
    EXPECT_FALSE(inSpan(h, 2500));
    EXPECT_TRUE(inSpan(h, 1919));
    EXPECT_EQ(typedOut1Width(1919, 1920, kCodeHorizontal).out2, 1);
    // a copy shows the whole picture
    EXPECT_FALSE(inSpan(out1WidthSpan(1920, kCodeCopy), 9000));
    EXPECT_FALSE(inSpan(out1HeightSpan(1080, kCodeVertical), 1080));
    EXPECT_TRUE(inSpan(out1HeightSpan(1080, kCodeVertical), 1079));
    EXPECT_EQ(typedOut1Height(1079, 1080, kCodeVertical).out2, 1);
    // across the split, OUT1 has no more than the LED's height
    EXPECT_TRUE(inSpan(out1HeightSpan(1080, kCodeHorizontal), 1080));
    EXPECT_FALSE(inSpan(out1HeightSpan(1080, kCodeHorizontal), 2000));
    // side by side, OUT2 has OUT1's height (stacked, its width)
    EXPECT_EQ(typedOut1Height(1000, 1080, kCodeHorizontal).out2, 1000);
    EXPECT_EQ(typedOut1Width(1000, 1920, kCodeVertical).out2, 1000);
    // no output of no columns or rows
    for (int code : {kCodeHorizontal, kCodeVertical, kCodeCopy}) {
        EXPECT_FALSE(inSpan(out1WidthSpan(1920, code), 0)) << code;
        EXPECT_FALSE(inSpan(out1HeightSpan(1080, code), 0)) << code;
    }
}

TEST(Splice, TinyLedSizesStoreNoSplitWithoutOut2) {
    Geometry g;
    // horizontal 8 columns: OUT1 8, OUT2 0; vertical 2 rows: OUT1 3, OUT2 -1
    const Split h = split(0, 8, 8);
    EXPECT_FALSE(geometryFor(kCodeHorizontal, 8, 8, h.out1Width, h.out1Height, h.out2Height, &g));
    const Split v = split(1, 8, 2);
    EXPECT_FALSE(geometryFor(kCodeVertical, 8, 2, v.out1Width, v.out1Height, v.out2Height, &g));
    ASSERT_TRUE(geometryFor(kCodeVertical, 1920, 1080, 1920, 542, 538, &g));
    EXPECT_EQ(g.out2Y, 542);
    EXPECT_EQ(g.out2Height, 538);
    EXPECT_EQ(g.out2Width, 1920);
    ASSERT_TRUE(geometryFor(kCodeCopy, 1920, 1080, 5, 5, 5, &g));
    EXPECT_EQ(g.out1Width, 1920);
    EXPECT_EQ(g.out2Height, 1080);
}
