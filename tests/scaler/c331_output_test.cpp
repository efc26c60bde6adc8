// set_output on the simulated chip: what a source change reprograms, the freeze and fade
// sequences, bounded waits, dot-by-dot memory and windows left without input channels.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "c331_window_world.h"

using namespace scalertest;
using namespace vlxram;

class C331OutputTest : public WindowWorld {
protected:
    void SetUp() override {
        WindowWorld::SetUp();
        setPanel(6, 4, 1);
        clearWindows();
    }
    // Two windows on two live inputs, laid out and measured.
    void twoLiveWindows(uint16_t output1 = 0) {
        window(0, 0, 0, 1920, 1080, 2);
        window(1, 3840, 0, 1920, 1080, 3, output1);
        plug(2, 1920, 1080, 60);
        plug(3, 1280, 720, 60);
        relayout();
        passLater();
        takeAsApplied();
    }
    static size_t indexOf(const std::vector<RegWrite>& ws, unsigned bank, unsigned addr, unsigned value, size_t from = 0) {
        for (size_t i = from; i < ws.size(); ++i)
            if (ws[i].bank == bank && ws[i].addr == addr && ws[i].value == value) return i;
        return ws.size();
    }
};

TEST_F(C331OutputTest, SourceChangeOfOneWindowReprogramsOnlyThatWindowsChannels) {
    twoLiveWindows();
    const int ich0 = m->ich.win_ich[0][0];
    ASSERT_GE(ich0, 0);
    std::vector<int> och0;
    for (int o = 0; o < 8; ++o)
        if (m->PM_WIN_NUM[o] == 0) och0.push_back(o);
    ASSERT_FALSE(och0.empty());
    plug(1, 1920, 1080, 50);
    passLater();
    chip->clearCounters();
    chip->setFrameLog(true);
    writeRam(windowField(1, kWinSource), 1);
    m->step();
    const auto ws = writes();
    ASSERT_FALSE(ws.empty());
    EXPECT_EQ(m->gWininfo[1].input, 1);
    // window 0's input channel and its output channels are left alone
    for (unsigned bank : {0x10u, 0x11u, 0x14u, 0x15u})
        EXPECT_FALSE(touches(ws, bank + 16u * unsigned(ich0))) << std::hex << bank;
    // (the background registers 0x48..0x4E belong to the picture settings every change refreshes)
    for (int o : och0)
        for (const RegWrite& w : ws) {
            const bool readBack = w.bank == 0x0Au + 16u * unsigned(o) || w.bank == 0x16u + 16u * unsigned(o) ||
                                  (w.bank == 0x08u + 16u * unsigned(o) && (w.addr < 0x48 || w.addr > 0x4E));
            EXPECT_FALSE(readBack) << "OCH " << o << " bank " << std::hex << w.bank << " addr " << w.addr;
        }
    // window 1's are programmed
    EXPECT_TRUE(touches(ws, 0x10u + 16u * unsigned(m->ich.win_ich[1][0])));
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(C331OutputTest, FreezeHoldsTheOldPictureWhileTheWindowIsReprogrammed) {
    twoLiveWindows();
    plug(1, 1920, 1080, 50);
    passLater();
    chip->setFrameLog(true);
    const int ich1 = m->ich.win_ich[1][0];
    int order[5];
    std::copy(m->fld_order[1], m->fld_order[1] + 5, order);
    writeRam(windowField(1, kWinSource), 1);
    m->step();
    const auto ws = writes();
    const unsigned ichBank = 0x10u + 16u * unsigned(ich1);
    // updates released to mode 0, the input channel stopped on its write field ...
    const size_t hold0 = indexOf(ws, 0, 0x24, 0);
    const size_t stop = indexOf(ws, ichBank, 0x09, c331::kIchFreeze);
    ASSERT_LT(hold0, ws.size());
    ASSERT_LT(stop, ws.size());
    EXPECT_LT(hold0, stop);
    // ... on the write field it read then: the buffer written before it is held ...
    int field = -1;
    for (const auto& f : chip->frames())
        if (!(f.tx[0] & 0x80) && f.bank == 0xAB && (f.tx[0] & 0x7F) == 0x47 + ich1) {
            field = (f.rx[1] >> 2) & 3;
            break;
        }
    ASSERT_GE(field, 0);
    const unsigned heldCode = unsigned(order[(field + 3) % 4] & 7);
    size_t outHold = ws.size();
    for (size_t i = stop; i < ws.size(); ++i)
        if ((ws[i].bank & 0x0F) == 0x06 && ws[i].bank >= 0x16 && ws[i].addr == 0x6C) {
            outHold = i;
            break;
        }
    ASSERT_LT(outHold + 1, ws.size());
    // ... and the output repeats it in all four slots
    EXPECT_EQ(ws[outHold].value, heldCode * 0x11u);
    EXPECT_EQ(ws[outHold + 1].value, heldCode * 0x11u);
    // ... then the capture is programmed, updates held (mode 2), and finally normal updates (mode 1)
    const size_t capture = indexOf(ws, ichBank, 0x19, 1920 & 0xFF, outHold);
    const size_t hold2 = indexOf(ws, 0, 0x24, 0xFF, capture);
    const size_t normal = indexOf(ws, 0, 0x24, 0x21, hold2);
    EXPECT_LT(outHold, capture);
    EXPECT_LT(capture, hold2);
    EXPECT_LT(hold2, normal);
    EXPECT_LT(normal, ws.size());
    EXPECT_EQ(m->frozen[1], 0);  // released
    EXPECT_EQ(regOf(c331::kRegUpdHold) & 1, 0u);
}

TEST_F(C331OutputTest, FadeOfSixtyStepsWritesSixtyOneCoefficientSetsEachWay) {
    twoLiveWindows(4);  // window 1 fades on a source switch
    ASSERT_EQ(m->PM_WIN_FADE_EN[1], 1);
    ram->setRamU16(kFadeTable + 4, 60);
    ram->setRamU16(kFadeTable + 6, 60);
    takeAsApplied();
    m->PM_WIN_FADE_IN[1] = m->PM_WIN_FADE_OUT[1] = 60;
    plug(1, 1920, 1080, 50);
    passLater();
    chip->setFrameLog(true);
    const unsigned freezes = m->freeze_calls;
    writeRam(windowField(1, kWinSource), 1);
    const plat::sim::BoardNs start = plat::sim::board().clock().now();
    m->step();
    EXPECT_EQ(m->freeze_calls, freezes);  // one window switching with its fade on: no freeze
    // each step goes out with its own output frame: 122 frames at 60 Hz
    EXPECT_GE(plat::sim::board().clock().now() - start, 121u * 16666667u);
    EXPECT_EQ(m->wait_timeouts, 0u);
    const auto ws = writes();
    // every step: updates held (0x22 = 0x23 = 255), coefficients, updates released (0xA9, 0xCB)
    int releases = 0;
    for (size_t i = 0; i + 1 < ws.size(); ++i)
        if (ws[i].bank == 0 && ws[i].addr == 0x22 && ws[i].value == 0xA9 && ws[i + 1].addr == 0x23 &&
            ws[i + 1].value == 0xCB)
            ++releases;
    EXPECT_EQ(releases, 2 * 61);
    // the window's own coefficient falls from 128 to 0, then rises from 0 to 128
    int mixer = -1;
    for (int o = 0; o < 4 && mixer < 0; ++o)
        for (int i = 0; i < m->g_och_layer_cnt[o]; ++i)
            if (m->PM_WIN_NUM[m->g_och_layer[o][i]] == 1) mixer = o;
    ASSERT_GE(mixer, 0);
    std::vector<unsigned> own;
    const unsigned bank = 0x0Eu + 16u * unsigned(mixer);
    for (const RegWrite& w : ws)
        if (w.bank == bank && w.addr == 0x11 + 5 * 1 + 1) own.push_back(w.value);  // combination 1, layer 0's slot
    ASSERT_EQ(own.size(), 2u * 61u);
    EXPECT_EQ(own.front(), 128u);
    EXPECT_EQ(own[60], 0u);
    EXPECT_EQ(own[61], 0u);
    EXPECT_EQ(own.back(), 128u);
}

TEST_F(C331OutputTest, TwoWindowsSwitchingTogetherAreFrozenNotFaded) {
    window(0, 0, 0, 1920, 1080, 2, 4);  // both fade on a source switch
    window(1, 3840, 0, 1920, 1080, 3, 4);
    plug(2, 1920, 1080, 60);
    plug(3, 1280, 720, 60);
    relayout();
    passLater();
    takeAsApplied();
    ASSERT_EQ(m->PM_WIN_FADE_EN[0], 1);
    ASSERT_EQ(m->PM_WIN_FADE_EN[1], 1);
    const unsigned ich0 = unsigned(m->ich.win_ich[0][0]), ich1 = unsigned(m->ich.win_ich[1][0]);
    chip->setFrameLog(true);
    // both windows' sources switched for one programming
    m->PM_CHG[kChgInput][0] = m->PM_CHG[kChgInput][1] = 1;
    m->set_output(m->fd());
    const auto ws = writes();
    // both input channels stopped on one field, no blend coefficient stepped
    EXPECT_LT(indexOf(ws, 0x10u + 16u * ich0, 0x09, c331::kIchFreeze), ws.size());
    EXPECT_LT(indexOf(ws, 0x10u + 16u * ich1, 0x09, c331::kIchFreeze), ws.size());
    EXPECT_EQ(indexOf(ws, 0, 0x22, 0xA9), ws.size()) << "a fade step";
}

TEST_F(C331OutputTest, FadeLengthIsBounded) {
    twoLiveWindows();
    const unsigned before = m->fade_steps;
    m->set_layer_coef(m->fd(), 1, 60000, 1);
    EXPECT_EQ(m->fade_steps - before, unsigned(c331_manage::kFadeMaxFrames) + 1);
}

TEST_F(C331OutputTest, AScreenWritesWhileAFadeIsUnderWayAndItsChangeIsAppliedNext) {
    twoLiveWindows(4);
    m->PM_WIN_FADE_IN[1] = m->PM_WIN_FADE_OUT[1] = 30;
    plug(1, 1920, 1080, 50);
    passLater();
    chip->setVsyncStuck(true);  // every frame of the fade waits its whole bound
    const unsigned before = m->fade_steps;
    std::vector<int> codes;
    QObject::connect(ram, &VlxRamPara::sig_update_para, [&codes](int code) { codes.push_back(code); });
    writeRam(windowField(1, kWinSource), 1);
    // The frame waits pass as board time on the manager's thread. In the first one after
    // a fade step that finds the mutex free, the manager is held until the screen is done,
    // so the screen's turn does not depend on which thread the mutex favours.
    std::mutex mx;
    std::condition_variable cv;
    bool free = false, screenDone = false, passDone = false;
    std::thread::id managerId;
    const int hook = plat::sim::board().clock().onAdvance([&](plat::sim::BoardNs) {
        std::unique_lock<std::mutex> l(mx);
        if (free || std::this_thread::get_id() != managerId || m->fade_steps == before) return;
        if (!c331_manage::manage_mutex.try_lock()) return;
        c331_manage::manage_mutex.unlock();
        free = true;
        cv.notify_all();
        cv.wait_for(l, std::chrono::seconds(60), [&] { return screenDone; });
    });
    std::thread manager([&] {
        {
            std::lock_guard<std::mutex> l(mx);
            managerId = std::this_thread::get_id();
        }
        m->step();
        std::lock_guard<std::mutex> l(mx);
        passDone = true;
        cv.notify_all();
    });
    {
        std::unique_lock<std::mutex> l(mx);
        EXPECT_TRUE(cv.wait_for(l, std::chrono::seconds(60), [&] { return free || passDone; }));
    }
    unsigned stepsWhenIn = 0;
    {
        ManageMutexLocker lock;  // the screen's hand-over
        stepsWhenIn = m->fade_steps - before;
        ram->setRamU16(kContrast, 61);
        c331_manage::update_flag = 1;
    }
    {
        std::lock_guard<std::mutex> l(mx);
        screenDone = true;
        cv.notify_all();
    }
    manager.join();
    plat::sim::board().clock().removeHook(hook);
    EXPECT_GE(stepsWhenIn, 1u);
    EXPECT_LT(stepsWhenIn, 2u * 31u) << "the screen got the mutex only after the whole fade";
    EXPECT_EQ(m->fade_steps - before, 2u * 31u);
    EXPECT_EQ(codes, std::vector<int>{1});
    EXPECT_EQ(c331_manage::update_flag.load(), 1) << "the screen's hand-over waits for the next pass";
    chip->setVsyncStuck(false);
    m->step();
    EXPECT_EQ(regOf(c331::kRegContrast0, 0), 61u * 1023 / 100);
    EXPECT_EQ(c331_manage::update_flag.load(), 0);
}

// Each wait of a pass for a frame lets the manage mutex go and takes it back: the lock check
// refuses the pass's next let-go, or its end's unlock, when a wait did not take it back.
std::vector<std::string> g_refused;
TEST_F(C331OutputTest, ThePassHoldIsLetGoForEachFrameWaitAndBackAfterIt) {
    twoLiveWindows(4);
    m->PM_WIN_FADE_IN[1] = m->PM_WIN_FADE_OUT[1] = 3;
    plug(1, 1920, 1080, 50);
    passLater();
    chip->setVsyncStuck(true);  // every frame wait runs to its bound, as board time on this thread
    g_refused.clear();
    const auto previous = plat::lockcheck::setFailureHook([](const std::string& r) { g_refused.push_back(r); });
    const std::thread::id pass = std::this_thread::get_id();
    unsigned waits = 0, heldInWait = 0;
    const int hook = plat::sim::board().clock().onAdvance([&](plat::sim::BoardNs) {
        if (std::this_thread::get_id() != pass) return;
        ++waits;
        const auto held = plat::lockcheck::heldHere();
        heldInWait += unsigned(std::count(held.begin(), held.end(), plat::Lock::Manage));
    });
    const unsigned steps = m->fade_steps;
    writeRam(windowField(1, kWinSource), 1);
    m->step();
    plat::sim::board().clock().removeHook(hook);
    plat::lockcheck::setFailureHook(previous);
    EXPECT_EQ(m->fade_steps - steps, 2u * 4u);
    EXPECT_GE(waits, 2u * 4u);
    EXPECT_EQ(heldInWait, 0u) << "a frame wait kept the pass's hold";
    EXPECT_EQ(g_refused, std::vector<std::string>{});
}

TEST_F(C331OutputTest, StuckVsyncAndFieldRegistersEndTheirWaitsAndAreCounted) {
    twoLiveWindows();
    chip->setVsyncStuck(true);
    chip->setFieldStuck(true);
    plug(1, 1920, 1080, 50);
    const unsigned timeouts = m->wait_timeouts;
    writeRam(windowField(1, kWinSource), 1);
    m->step();  // returns: every wait is bounded
    EXPECT_GT(m->wait_timeouts, timeouts);
    EXPECT_EQ(m->gWininfo[1].input, 1);
    EXPECT_FALSE(m->wait1_povs(m->fd(), 8));  // no such channel: nothing written, nothing waited
}

TEST_F(C331OutputTest, WindowsBeyondTheChannelBudgetStayDarkWithoutHarm) {
    // six V-by-One windows want twelve input channels: the ones left over get none
    for (int w = 0; w < 6; ++w) window(w, (w % 4) * 1920, (w / 4) * 540, 1920, 540, 4 + (w & 1));
    plug(4, 1920, 1080, 60);
    plug(5, 1920, 1080, 60);
    relayout();
    passLater();
    int shown = 0;
    for (int k = 0; k < m->win_count; ++k) shown += m->ich.count(k) > 0;
    EXPECT_LT(shown, 6);
    int used = 0;
    for (int i = 0; i < 8; ++i) used += m->ich.ich_win[i] >= 0;
    EXPECT_LE(used, 8);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(C331OutputTest, DotByDotWindowsNeverShareMemoryBlocks) {
    window(0, 0, 0, 1920, 1080, 0);
    window(1, 1920, 0, 1920, 1080, 1);
    window(2, 3840, 0, 1920, 1080, 2);
    relayout();
    for (int p = 0; p < 4; ++p) m->dbd_act[p] = c331geom::ImageWindow{192, 3840, 41, 2160};
    for (int k = 0; k < 3; ++k) m->PM_WIN_DBD_MODE[k] = 1;  // one 4K CMOS input each: one block
    ASSERT_EQ(m->set_dbd_mem(m->fd(), 0), 0);
    ASSERT_EQ(m->set_dbd_mem(m->fd(), 1), 0);
    EXPECT_EQ(m->dbd_slots[0][0], 0);
    EXPECT_EQ(m->dbd_slots[1][0], 1);
    m->reset_dbd_mem(0);  // block 0 free again, block 1 taken
    m->PM_WIN_DBD_MODE[2] = 20;  // two ports side by side: two adjacent blocks
    ASSERT_EQ(m->set_dbd_mem(m->fd(), 2), 0);
    EXPECT_EQ(m->dbd_slots[2][0], 2);
    EXPECT_EQ(m->dbd_slots[2][1], 3);
    EXPECT_EQ(m->dbd_mem[2][0], m->PS.memBase[0] + 2 * c331_manage::kDbdBlockSize);
    EXPECT_EQ(m->dbd_mem_width[2], 24);  // 7680 / 320
    // window 1's block lies outside window 2's memory
    const uint32_t b1 = m->PS.memBase[0] + c331_manage::kDbdBlockSize;
    EXPECT_TRUE(b1 + c331_manage::kDbdBlockSize <= m->dbd_mem[2][0]);
    // two more four-block windows do not fit: the second is refused, nothing overlaps
    m->reset_dbd_mem(1);
    m->reset_dbd_mem(2);
    m->PM_WIN_DBD_MODE[0] = 40;
    m->PM_WIN_DBD_MODE[1] = 41;
    EXPECT_EQ(m->set_dbd_mem(m->fd(), 0), 0);
    EXPECT_EQ(m->set_dbd_mem(m->fd(), 1), -1);
    for (int b = 0; b < 4; ++b) EXPECT_EQ(m->dbd_slots[1][b], -1);
}

TEST_F(C331OutputTest, MirroredAndFlippedWindowReadsFromTheFarEnd) {
    window(0, 0, 0, 1920, 1080, 2);
    ram->setRamU16(windowField(0, kWinAttributes), 3);
    plug(2, 1920, 1080, 60);
    relayout();
    passLater();
    int och = -1;
    for (int o = 0; o < 8; ++o)
        if (m->PM_WIN_NUM[o] == 0) och = o;
    ASSERT_GE(och, 0);
    EXPECT_EQ(regOf(c331::kRegOMwi, och), 0x100u - m->PS.memWidth);
    EXPECT_EQ(regOf(c331::kRegOchMirror, och), 1u);
}

TEST_F(C331OutputTest, MixerLayersFollowPriorityAndAnEmptyMixerIsCleared) {
    for (int o = 0; o < 8; ++o) {
        m->PM_WIN_NUM[o] = o < 3 ? o : WINDOW_MAX;
        m->PM_OVERLAY[o] = o < 3 ? 1 : 0;  // OCH 0..2 layered into mixer 0, the rest nowhere
    }
    m->PM_OVERLAY_PRI[0] = 2, m->PM_OVERLAY_PRI[1] = 2, m->PM_OVERLAY_PRI[2] = 1;
    m->update_overlay_info();
    ASSERT_EQ(m->g_och_layer_cnt[0], 3);
    // the exchange sort does not keep equal priorities in OCH order
    EXPECT_EQ(m->g_och_layer[0][0], 2);
    EXPECT_EQ(m->g_och_layer[0][1], 1);
    EXPECT_EQ(m->g_och_layer[0][2], 0);
    m->set_overlay(m->fd());
    m->reset_layer_coef(m->fd(), 0);
    EXPECT_EQ(regOf(c331::kRegLayerList, 0), 0xA + (0x9u << 4) + (0x8u << 8));
    EXPECT_EQ(regOf(c331::kRegLayerList, 1), 0u);
    for (int c = 0; c < 16; ++c)
        for (int t = 0; t < 5; ++t) {
            // mixer 1 has no layers: every coefficient 0; mixer 0 shows the top layer present alone
            EXPECT_EQ(regOf(c331::kRegLayerCoef0 + (unsigned(5 * c + t) << 8), 1), 0u);
            int top = -1;
            for (int b = 3; b >= 0; --b)
                if (c & (1 << b)) {
                    top = b;
                    break;
                }
            EXPECT_EQ(regOf(c331::kRegLayerCoef0 + (unsigned(5 * c + t) << 8), 0), t == top + 1 ? 0x80u : 0u)
                << c << "/" << t;
        }
}

TEST_F(C331OutputTest, TransmitMode2ZoomedWindowReadsFromItsFirstLineAndStoresAtMost2176Pixels) {
    ASSERT_EQ(m->PS_VBOTX_MODE, 2) << "the panel's arrangement uses transmit mode 2";
    window(0, 0, 0, 1920, 1080, 2);               // 720 lines zoomed to 1080
    window(1, 1920, 0, 3840, 1080, 3);            // 2560 x 720 zoomed to 3840 x 1080
    plug(2, 1280, 720, 60);
    plug(3, 2560, 720, 60);
    relayout();
    passLater();
    for (int o = 0; o < 8; ++o) {
        if (m->PM_WIN_NUM[o] != 0 && m->PM_WIN_NUM[o] != 1) continue;
        const unsigned ctl = regOf(c331::kRegVZoomCtl, o);
        EXPECT_TRUE(ctl == c331::kVZoomUsed || ctl == c331::kVZoomUnused) << "OCH " << o << " control " << ctl;
    }
    // 2560 wide zoomed: the input channel shrinks to 2176 and the output zooms from there
    EXPECT_EQ(regOf(c331::kRegHShrCtl, m->ich.win_ich[1][0]), c331::kHShrOn);
    EXPECT_EQ(chip->guestErrors(), 0u);
}
