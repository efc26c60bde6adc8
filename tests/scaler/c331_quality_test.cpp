// Filters, noise reduction and the V-by-One receive ports on the simulated chip.
#include "c331_window_world.h"

using namespace scalertest;
using namespace vlxram;

class C331QualityTest : public WindowWorld {};

TEST_F(C331QualityTest, ShrinkFiltersAreChosenByTheStep) {
    EXPECT_EQ(c331_manage::hshrinkFilter(0x10000), 44);
    EXPECT_EQ(c331_manage::vshrinkSet(0x10000), 9);
    EXPECT_EQ(c331_manage::hshrinkFilter(32760), 4);
    EXPECT_EQ(c331_manage::vshrinkSet(32760), 3);
    EXPECT_EQ(c331_manage::hshrinkFilter(32769), 6);
    EXPECT_EQ(c331_manage::vshrinkSet(32769), 4);
    EXPECT_EQ(c331_manage::hshrinkFilter(0), 44);
    m->set_lut_hshrnk(m->fd(), 32760, 2, 1);
    EXPECT_EQ(regOf(c331::kRegLutSelect), 4u);
    EXPECT_EQ(regOf(c331::kRegLutLoad), 0x87u + 8u);  // the pair's second load is the last
    m->set_lut_vzoom_4sym(m->fd(), 0, 3);  // no zoom: pass-through
    EXPECT_EQ(regOf(c331::kRegVZoomLut0, 3), 64u);
    EXPECT_EQ(regOf(c331::kRegVZoomLut0 + (23u << 8), 3), 0u);
    m->set_lut_vzoom_4sym(m->fd(), 30000, 3);
    EXPECT_EQ(regOf(c331::kRegVZoomLut0 + (23u << 8), 3), 64u);
    EXPECT_EQ(regOf(c331::kRegVZoomLut0 + (9u << 8), 3), 0xFFu);  // -1
    const uint32_t before = regOf(c331::kRegLutSelect);
    m->set_lut_hshrnk(m->fd(), 100, 8, 0);  // no such channel: nothing written
    EXPECT_EQ(regOf(c331::kRegLutSelect), before);
}

TEST_F(C331QualityTest, BlockNoiseReductionOfA720LineInput) {
    setPanel(5, 2, 1);
    clearWindows();
    window(0, 0, 0, 1280, 720, 2);
    plug(2, 1280, 720, 60);
    relayout();
    passLater();
    const int ich = m->ich.win_ich[0][0];
    ASSERT_GE(ich, 0);
    ASSERT_LT(ich, 4);
    m->PM_BNR[1] = 3;
    m->set_nr(m->fd(), ich, 1);
    EXPECT_EQ(regOf(c331::desc(0x15, 0x39, 2), ich), 3223u);
    EXPECT_EQ(regOf(c331::desc(0x15, 0x6A, 1), ich), 16u);  // the 720p member
    EXPECT_EQ(regOf(c331::kRegNrEnable, ich), 3u);
    m->PM_BNR[1] = 0;
    m->set_nr(m->fd(), ich, 1);
    EXPECT_EQ(regOf(c331::desc(0x15, 0x39, 2), ich), 0u);
    EXPECT_EQ(regOf(c331::kRegNrEnable, ich), 0u);
}

TEST_F(C331QualityTest, VByOneMemoryPathWritesOnlyChannelCodes) {
    setPanel(5, 2, 1);
    clearWindows();
    window(0, 0, 0, 1920, 1080, 4);  // chip port 5
    plug(4, 1920, 1080, 60);
    relayout();
    passLater();
    ASSERT_TRUE(m->ich.holdsPair(0));
    const int k = m->ich.win_ich[0][0];
    chip->setFrameLog(true);
    m->PM_HNR[5] = 2;
    m->set_mct(m->fd(), 0, 0);
    for (const RegWrite& w : writes()) EXPECT_NE(w.bank & 0x0F, 0x05u) << "NR bank written";
    EXPECT_EQ(regOf(c331::kRegChanCtl0 + (unsigned(k) << 8)), 0x11u);
    EXPECT_EQ(regOf(c331::kRegIsyct, k + 1), unsigned(k + 8));
}

TEST_F(C331QualityTest, VByOneReceiverRangeLanesAndLayout) {
    m->set_VBORXfrange(m->fd(), 1, 0, 50000000.0f);
    EXPECT_EQ(regOf(c331::kRegVboRxRange + (c331::kVboRxStride << 8)) & 8, 0u);
    m->set_VBORXfrange(m->fd(), 1, 0, 49999000.0f);
    EXPECT_EQ(regOf(c331::kRegVboRxRange + (c331::kVboRxStride << 8)) & 8, 8u);
    m->set_VBORXfrange(m->fd(), 1, 1, 0);  // toggle
    EXPECT_EQ(regOf(c331::kRegVboRxRange + (c331::kVboRxStride << 8)) & 8, 0u);
    m->set_VBORXfrange(m->fd(), -1, 1, 0);  // no such receiver: nothing, no bad descriptor
    EXPECT_EQ(chip->guestErrors(), 0u);
    m->PI_HDMI_INFO[4].lane = 4;
    m->PI_HDMI_INFO[5].lane = 8;
    m->set_VBOInput(m->fd(), 0);
    m->set_VBOInput(m->fd(), 1);
    EXPECT_EQ(regOf(c331::kRegVboLaneWord0), 17u);
    EXPECT_EQ(regOf(c331::kRegVboLaneWord0 + (2u << 8)), 1028u);
    EXPECT_EQ(regOf(c331::kRegVboLayout), 0x0204u);  // each port's byte, the other kept
    m->PI_HDMI_INFO[5].hpol = 1, m->PI_HDMI_INFO[5].vpol = 0;
    m->set_sypol(m->fd(), 1, 1);
    EXPECT_EQ(regOf(c331::kRegVboSyncPol) >> 16, 0x2222u);
    m->PI_HDMI_INFO[2].hpol = 1, m->PI_HDMI_INFO[2].vpol = 1;
    m->set_sypol(m->fd(), 0, 2);
    EXPECT_EQ((regOf(c331::kRegCmosSyncPol) >> 16) & 0xFF, 7u);
}

TEST_F(C331QualityTest, InterlacedFieldHeightIsDoubledOnlyOnDeinterlacingChannels) {
    setPanel(5, 2, 1);
    clearWindows();
    window(0, 0, 0, 960, 540, 2);
    relayout();
    m->PM_WIN_SHAPE[0][0] = m->PM_WIN_SHAPE[0][1] = 1;
    m->PM_INPUT[0] = 1;
    m->PI_ACT[1] = c331geom::ImageWindow{192, 1920, 20, 540};
    m->PI_PORT_INFO[1][c331_manage::kPiState] = 5;
    m->PI_PORT_INFO[1][c331_manage::kPiInterlace] = 1;
    m->ich.clear();
    m->ich.ich_win[0] = 0;
    m->ich.rebuild();
    m->calc_iwin2(0);
    EXPECT_EQ(m->IWIN[0].VW, 1080);
    m->ich.clear();
    m->ich.ich_win[5] = 0;
    m->ich.rebuild();
    m->calc_iwin2(0);
    EXPECT_EQ(m->IWIN[0].VW, 540);  // ICH 4..7 keep the field height
}

TEST_F(C331QualityTest, StitchedWindowsFindTheirMaster) {
    for (int w = 0; w < WINDOW_MAX; ++w) m->PM_WIN_STITCHING[w] = w;
    int w = 2, other = 0;
    EXPECT_EQ(m->check_stitching_win(&w, &other), 0);
    EXPECT_EQ(other, -1);
    m->PM_WIN_STITCHING[4] = 2;
    w = 2;
    EXPECT_EQ(m->check_stitching_win(&w, &other), 1);
    EXPECT_EQ(other, 4);
    w = 4;
    EXPECT_EQ(m->check_stitching_win(&w, &other), 2);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(other, 4);
}
