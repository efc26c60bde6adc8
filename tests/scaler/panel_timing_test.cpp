// Output panel timing against its rules.
#include "scaler/panel_timing.h"

#include <gtest/gtest.h>

using namespace panel;

TEST(PanelTiming, TableHasTheTwoRunsAndEveryRasterWithinTheFrameBudget) {
    const auto& t = timingTable();
    ASSERT_EQ(t.size(), size_t(kTimingRun1 + kTimingRun2));
    EXPECT_EQ(t[0].htt, 660);
    EXPECT_EQ(t[0].vtt, 15000);
    EXPECT_EQ(t[kTimingRun1 - 1].htt, 4388);
    EXPECT_EQ(t[kTimingRun1].htt, 2257);
    EXPECT_EQ(t[kTimingRun1].vtt, 2257);
    EXPECT_EQ(t.back().htt, 8280);
    EXPECT_NEAR(t.back().vtt, 1196, 1);
    for (size_t i = 0; i < t.size(); ++i) {
        const int64_t product = int64_t(t[i].htt) * t[i].vtt;
        EXPECT_GE(product, 5094049) << i;
        EXPECT_LE(product, kFrameBudget) << i;
        if (i > 0 && i < size_t(kTimingRun1)) {
            EXPECT_GE(t[i].htt, t[i - 1].htt);
            EXPECT_EQ((t[i].htt - 660) % 4, 0);
        }
    }
}

TEST(PanelTiming, NoneAt1920x1080IsOneOchOnA2x1GridFromNeed1940x1092) {
    PanelRecord p = panelSizes(1920, 1080, 0, 0, kNone);
    panelInitOch3(p);
    EXPECT_TRUE(p.oneOch);
    EXPECT_EQ(p.arrang, kArrang2x1);
    EXPECT_EQ(p.cols, 2);
    EXPECT_EQ(p.rows, 1);
    EXPECT_EQ(p.htt, 1940);
    EXPECT_GE(p.vtt, 1092);
    EXPECT_EQ(p.ochW, p.htt - 20);
    EXPECT_EQ(p.ochH, 1080);
    const PanelRamWords w = panelRamWords(p);
    EXPECT_EQ(w.gridA, 1);
    EXPECT_EQ(w.gridB, 1);
    EXPECT_EQ(w.ochW, 1920);
}

TEST(PanelTiming, NoneAt7680x1300NeedsTwoOchOn4x1WithHalfTheWidth) {
    PanelRecord p = panelSizes(7680, 1300, 0, 0, kNone);
    panelInitOch3(p);
    EXPECT_FALSE(p.oneOch);
    EXPECT_EQ(p.arrang, kArrang4x1);
    EXPECT_EQ(p.cols, 4);
    EXPECT_GE(p.htt, 3840 + 76);
    EXPECT_EQ(p.ochW, p.htt - 76);
    EXPECT_GE(p.ochW, 3840);
    EXPECT_LE(int64_t(p.htt) * p.vtt, kFrameBudget);
    EXPECT_EQ(panelRamWords(p).gridA, 2);
}

TEST(PanelTiming, HSplitGivesOutput2TheRestAndCentresTheSeam) {
    PanelRecord p = panelSizes(1920, 1080, 1000, 0, kH);
    EXPECT_EQ(p.out1w, 1000);
    EXPECT_EQ(p.out2w, 920);
    panelInitOch3(p);
    EXPECT_EQ(p.ochW % 4, 0);
    EXPECT_EQ(p.xOffset, p.ochW * 2 / 2 - 1000);
    EXPECT_EQ(p.ochH, p.vtt - 12);
}

TEST(PanelTiming, Cp21LeavesAllSizesZeroOneOch2x1) {
    PanelRecord p = panelSizes(1920, 1080, 0, 0, kCP21);
    EXPECT_EQ(p.out1w + p.out2w + p.out1h + p.out2h, 0);
    panelInitOch3(p);
    EXPECT_TRUE(p.oneOch);
    EXPECT_EQ(p.arrang, kArrang2x1);
    EXPECT_EQ(panelRamWords(p).gridB, 2);
}

TEST(PanelTiming, Splice7IsTreatedAsHv) {
    PanelRecord p = panelSizes(1920, 2160, 1920, 1080, 7);
    EXPECT_EQ(p.splice, kHV);
    panelInitOch3(p);
    EXPECT_EQ(p.arrang, kArrang1x2);
    EXPECT_EQ(p.ochH, 1080);
    EXPECT_EQ(p.yOffset, 0);
}

TEST(PanelTiming, SplitBeyondTheScreenIsClampedInsteadOfWrapping) {
    PanelRecord p = panelSizes(1920, 1080, 0, 5000, kV);
    EXPECT_EQ(p.out1h, 1080);
    EXPECT_EQ(p.out2h, 0);
    p = panelSizes(1920, 1080, 3000, 0, kH);
    EXPECT_EQ(p.out1w, 1920);
    EXPECT_EQ(p.out2w, 0);
}

TEST(PanelTiming, EverySizeAndSpliceGivesARasterThatCoversTheOchWithinTheBudget) {
    const int sizes[][2] = {{640, 480},  {1920, 1080}, {3840, 1080}, {3840, 2160}, {4096, 2160},
                            {7680, 1080}, {1080, 7680}, {5000, 1900}, {2000, 4800}};
    for (int s = 0; s < kSpliceModes; ++s)
        for (const auto& sz : sizes) {
            PanelRecord p = panelSizes(sz[0], sz[1], sz[0] / 2, sz[1] / 2, s);
            panelInitOch3(p);
            SCOPED_TRACE(std::string(spliceName(s)) + " " + std::to_string(sz[0]) + "x" + std::to_string(sz[1]));
            EXPECT_LE(int64_t(p.htt) * p.vtt, kFrameBudget);
            EXPECT_GT(p.ochW, 0);
            EXPECT_GE(p.htt, p.ochW);
            EXPECT_GE(p.vtt, p.ochH);
            // the OCH grid holds the picture
            if (s != kCP21) {
                EXPECT_GE(int64_t(p.ochW) * p.cols + 3, int64_t(s == kHV || s == kV ? p.out1w : std::max(p.out1w, p.out2w)) / (p.oneOch ? 1 : 1));
                EXPECT_GE(int64_t(p.ochH) * p.rows, int64_t(s == kHV || s == kV ? std::max(p.out1h, p.out2h) : p.out1h + p.out2h) / 2);
            }
        }
}
