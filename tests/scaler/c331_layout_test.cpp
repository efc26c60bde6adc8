// Window layouts on every OCH arrangement: which OCHs carry each window, the channel budget,
// and output rectangles that cover each window exactly.
#include <set>

#include "c331_window_world.h"
#include "scaler/c331_geometry.h"

using namespace scalertest;
using namespace vlxram;

namespace {

struct Arr {
    int code, cols, rows;
};
constexpr Arr kArrangements[] = {{5, 2, 1}, {6, 4, 1}, {7, 2, 2}, {8, 1, 2}};
constexpr int kW = 1920, kH = 1080;

struct Rect {
    int x, y, w, h;
};

std::vector<Rect> layoutOf(int n, const Arr& a) {
    const int W = a.cols * kW, H = a.rows * kH;
    if (n == 1) return {{0, 0, W, H}};
    if (n == 2) return a.cols > 1 ? std::vector<Rect>{{0, 0, W / 2, H}, {W / 2, 0, W / 2, H}}
                                  : std::vector<Rect>{{0, 0, W, H / 2}, {0, H / 2, W, H / 2}};
    if (n == 4) return {{0, 0, W / 2, H / 2}, {W / 2, 0, W / 2, H / 2}, {0, H / 2, W / 2, H / 2}, {W / 2, H / 2, W / 2, H / 2}};
    // six windows, each inside one tile, stacked where a tile holds several
    const int tiles = a.cols * a.rows, per = (6 + tiles - 1) / tiles;
    std::vector<Rect> r;
    for (int i = 0; i < 6; ++i) {
        const int t = i % tiles, slot = i / tiles;
        r.push_back({(t % a.cols) * kW + 10, (t / a.cols) * kH + slot * (kH / per), kW - 20, kH / per});
    }
    return r;
}

}  // namespace

class C331LayoutTest : public WindowWorld {};

TEST_F(C331LayoutTest, LayoutsOfOneTwoFourAndSixWindowsOnEveryArrangement) {
    // sources: V-by-One ones (a channel pair each) for one and two windows, every source for six
    const int sources[4][6] = {{4}, {4, 5}, {0, 1, 2, 3}, {0, 1, 2, 3, 4, 5}};
    const int counts[4] = {1, 2, 4, 6};
    for (const Arr& a : kArrangements)
        for (int c = 0; c < 4; ++c) {
            const int n = counts[c];
            SCOPED_TRACE("arrangement " + std::to_string(a.code) + ", " + std::to_string(n) + " windows");
            setPanel(a.code, a.cols, a.rows);
            clearWindows();
            const std::vector<Rect> rects = layoutOf(n, a);
            for (int k = 0; k < n; ++k) window(k, rects[k].x, rects[k].y, rects[k].w, rects[k].h, sources[c][k]);
            relayout();
            ASSERT_EQ(m->win_count, n);
            int ichs = 0;
            std::set<int> ochsUsed;
            for (int k = 0; k < n; ++k) {
                const C331WinInfo& wi = m->gWininfo[k];
                const Rect& r = rects[k];
                // the OCH positions are exactly the tiles the rectangle touches
                std::set<int> want, got;
                for (int ty = r.y / kH; ty <= (r.y + r.h - 1) / kH; ++ty)
                    for (int tx = r.x / kW; tx <= (r.x + r.w - 1) / kW; ++tx) want.insert(ty * a.cols + tx);
                for (int j = 0; j < wi.ochCount(); ++j) got.insert(wi.ochPosLst[j]);
                EXPECT_EQ(got, want) << "window " << k;
                // each carrying OCH carries this window alone
                int carried = 0;
                for (int o = 0; o < OCH_MAX; ++o)
                    if (m->PM_WIN_NUM[o] == k) {
                        ++carried;
                        EXPECT_TRUE(ochsUsed.insert(o).second) << "OCH " << o << " carries two windows";
                    }
                EXPECT_EQ(carried, wi.ochCount()) << "window " << k;
                // the output rectangle is the window, and its tile slices add up to it
                EXPECT_EQ(m->OWIN[k].HW, r.w) << "window " << k;
                EXPECT_EQ(m->OWIN[k].VW, r.h) << "window " << k;
                c331geom::TileSlice t[8];
                m->calc_oact(m->OWIN[k], t, k);
                int sumW = 0, sumH = 0;
                for (int i = 0; i < m->PM_WIN_SHAPE[k][0]; ++i) sumW += t[i].HW;
                for (int i = 0; i < m->PM_WIN_SHAPE[k][1]; ++i) sumH += t[i].VW;
                EXPECT_EQ(sumW, r.w) << "window " << k;
                EXPECT_EQ(sumH, r.h) << "window " << k;
                // every window got the input channels its port needs
                EXPECT_EQ(m->ich.count(k), c331geom::ichDemand(0, m->PM_INPUT[k])) << "window " << k;
                ichs += m->ich.count(k);
            }
            EXPECT_LE(ichs, 8);
            EXPECT_LE(int(ochsUsed.size()), 8);
            // a channel carrying a window is switched on (channel n is ICH n and OCH n: an
            // input channel in use keeps it on as well)
            for (int o = 0; o < OCH_MAX; ++o) {
                if (m->PM_WIN_NUM[o] != WINDOW_MAX) {
                    EXPECT_EQ(regOf(c331::kRegChanCtl0 + (unsigned(o) << 8)) & 1, 1u) << "OCH " << o;
                }
            }
        }
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(C331LayoutTest, TwoWindowsInOneOchAreLaidOverASpareOch) {
    setPanel(5, 2, 1);
    clearWindows();
    window(0, 0, 0, 960, 540, 0);
    window(1, 100, 100, 400, 400, 1);
    relayout();
    EXPECT_EQ(m->gWininfo[1].ochLst[0], 1);  // OCH 1 is free: it takes the second window
    EXPECT_EQ(m->gWininfo[1].ochPosLst[0], 0);
    EXPECT_EQ(m->PM_OVERLAY[1], 1);          // and its picture is laid over position 0
    EXPECT_EQ(m->PM_WIN_NUM[1], 1);
}

TEST_F(C331LayoutTest, UnusableBlocksFallBackToOneWindowOverTheScreen) {
    setPanel(5, 2, 1);
    struct Case {
        const char* why;
        int x, y, w, h, source;
    };
    const Case cases[] = {{"beyond the right edge", 3000, 0, 1000, 100, 0},
                          {"left of the canvas", 0xFFF0, 0, 100, 100, 0},
                          {"source 6", 0, 0, 100, 100, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        clearWindows();
        window(0, 0, 0, 500, 500, 1);
        window(2, c.x, c.y, c.w, c.h, c.source);
        relayout();
        ASSERT_EQ(m->win_count, 1);
        EXPECT_EQ(m->gWininfo[0].width, 3840);
        EXPECT_EQ(m->gWininfo[0].height, 1080);
        EXPECT_EQ(m->PM_INPUT_OFFSET_EN[0], 0);
    }
    // a crop entry naming source 6 is no input either
    clearWindows();
    ram->setRamU16(kCropTable + kCropEntrySize * 3, kCropInUse | 6);
    window(0, 0, 0, 500, 500, kSourceIsCrop | 3);
    relayout();
    EXPECT_EQ(m->gWininfo[0].width, 3840);
    // no window at all: the same
    clearWindows();
    relayout();
    EXPECT_EQ(m->win_count, 1);
}

TEST_F(C331LayoutTest, LayersAreMadeUniqueAndMirrorsComeFromTheirOwnBlock) {
    setPanel(5, 2, 1);
    clearWindows();
    window(1, 0, 0, 500, 500, 0);
    window(3, 600, 0, 500, 500, 1);
    window(4, 1200, 0, 500, 500, 2);
    ram->setRamU16(kLayerPriority + 2, 3);
    ram->setRamU16(kLayerPriority + 6, 3);
    ram->setRamU16(kLayerPriority + 8, 9);
    ram->setRamU16(windowField(3, kWinAttributes), 2);  // vertical flip on block 3 only
    relayout();
    EXPECT_EQ(m->gWininfo[0].layer, 3);
    EXPECT_EQ(m->gWininfo[1].layer, 0);  // 3 was taken: the lowest free layer
    EXPECT_EQ(m->gWininfo[2].layer, 1);  // 9 % 6 = 3, taken; then 0, taken
    EXPECT_EQ(m->PM_WIN_ATTR1[0], 0);
    EXPECT_EQ(m->PM_WIN_ATTR1[1], 1);   // record 1 is block 3
    EXPECT_EQ(m->PM_WIN_ATTR1[2], 0);
}
