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
    const Entry e = typedOut1Width(QStringLiteral("5000"), 10000, kCodeHorizontal);
    EXPECT_FALSE(e.refused);
    EXPECT_EQ(e.out1Text, QStringLiteral("5024"));
    EXPECT_EQ(e.out2, 4992);
    // stored: OUT2 is what is left of the real LED width
    Geometry g;
    ASSERT_TRUE(geometryFor(kCodeHorizontal, 10000, 1080, 5024, 1080, 1080, &g));
    EXPECT_EQ(g.out1Width, 5024);
    EXPECT_EQ(g.out2X, 5024);
    EXPECT_EQ(g.out2Width, 4976);
}

TEST(Splice, NumberBeyondThirtyTwoBitsCountsAsAboveTheLimitNotAsZero) {
    EXPECT_EQ(typedValue(QStringLiteral("3000000000")), kMaxOut + 1);
    EXPECT_EQ(typedValue(QStringLiteral("99999999999999999999999")), kMaxOut + 1);
    EXPECT_EQ(typedValue(QString()), 0);
    const Entry h = typedOut1Height(QStringLiteral("3000000000"), 10000, kCodeCopy);
    EXPECT_EQ(h.out1Text, QStringLiteral("8188"));
    EXPECT_EQ(h.out2, 8188);
    const Entry w = typedOut1Width(QStringLiteral("3000000000"), 10000, kCodeCopy);
    EXPECT_EQ(w.out1Text, QStringLiteral("8192"));
    EXPECT_EQ(w.code, kCodeHorizontal);
    EXPECT_EQ(w.out2, 10016 - 8192);
}

TEST(Splice, WidthAboveTheLimitMakesTheSplitHorizontal) {
    const Entry e = typedOut1Width(QStringLiteral("9000"), 10000, kCodeVertical);
    EXPECT_FALSE(e.refused);
    EXPECT_EQ(e.code, kCodeHorizontal);
    EXPECT_EQ(e.out1Text, QStringLiteral("8192"));
}

TEST(Splice, Out1ThatLeavesOut2NothingIsRefused) {
    EXPECT_TRUE(typedOut1Width(QStringLiteral("1920"), 1920, kCodeHorizontal).refused);
    EXPECT_TRUE(typedOut1Width(QStringLiteral("2500"), 1920, kCodeHorizontal).refused);
    EXPECT_FALSE(typedOut1Width(QStringLiteral("1919"), 1920, kCodeHorizontal).refused);
    // beyond the limit on a narrow screen: horizontal with OUT1 8188 leaves nothing
    EXPECT_TRUE(typedOut1Width(QStringLiteral("9000"), 1920, kCodeCopy).refused);
    EXPECT_TRUE(typedOut1Height(QStringLiteral("1080"), 1080, kCodeVertical).refused);
    EXPECT_FALSE(typedOut1Height(QStringLiteral("1079"), 1080, kCodeVertical).refused);
    // only the split direction counts
    EXPECT_FALSE(typedOut1Height(QStringLiteral("2000"), 1080, kCodeHorizontal).refused);
    // an empty answer is 0: OUT2 takes the whole width
    const Entry empty = typedOut1Width(QString(), 1920, kCodeHorizontal);
    EXPECT_FALSE(empty.refused);
    EXPECT_EQ(empty.out1Text, QString());
    EXPECT_EQ(empty.out2, 1920);
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
