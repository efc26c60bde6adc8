#include "scaler/c331_manage.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/waits.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_init_data.h"
#include "scaler/c331_regs.h"
#include "scaler/engine_requests.h"

using namespace c331;

c331_manage* c331_manage::p_c331_manage = nullptr;
plat::WakeSlot c331_manage::wake_slot_;
plat::Mutex ManageLock::manage_mutex{plat::Lock::Manage};
thread_local int ManageLock::manage_held_here = 0;
std::atomic<uint8_t> ManageLock::update_flag{0};

c331_manage::c331_manage() : drv_(new c331_drv) {
    writeLogMsg(LOG_INFO, "====c331_manage::c331_manage()=====");
    std::memcpy(presets, c331data::kLayoutPresets, sizeof presets);
}

c331_manage* c331_manage::pInstance() {
    // Initialised once: a second initialize() would open the chip again and start a
    // second manager thread bringing up the same chip.
    if (!p_c331_manage) {
        p_c331_manage = new c331_manage;
        update_flag = 0;
        p_c331_manage->pattern_gen_ = 0;
        p_c331_manage->polling_guard = 0;
        p_c331_manage->initialize();
    }
    return p_c331_manage;
}

c331_manage* c331_manage::createForTest() {
    resetInstanceForTest();
    p_c331_manage = new c331_manage;
    update_flag = 0;
    p_c331_manage->spi_fd = p_c331_manage->drv_->initialize();
    return p_c331_manage;
}

void c331_manage::resetInstanceForTest() {
    if (!p_c331_manage) return;
    p_c331_manage->stopThread();
    delete p_c331_manage;
    p_c331_manage = nullptr;
}

int c331_manage::initialize() {
    spi_fd = drv_->initialize();
    const unsigned id = drv_->read_C331(spi_fd, kRegChipId, 0);
    char text[64];
    std::snprintf(text, sizeof text, "c331: chip id 0x%02X (%s)", id, id == kChipIdValue ? "C331 found" : "no C331 yet");
    writeLogMsg(LOG_INFO, text);
    stop_ = false;
    if (pthread_create(&thread_, nullptr, &c331_manage::c331manageThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    thread_started_ = true;
    wake_slot_.set(&pacer_);
    return 0;
}

void c331_manage::stopThread() {
    if (!thread_started_) return;
    wake_slot_.set(nullptr);
    stop_ = true;
    pacer_.wake();
    plat::joinThread(thread_);
    thread_started_ = false;
}

void c331_manage::Sleep(int ms) {
    // the chip's settling and frame waits: the pass's writers are not held up by them
    PassHoldReleased wait(pass_holds_mutex_);
    plat::sleepMs(uint64_t(ms < 0 ? 0 : ms));
}

void* c331_manage::c331manageThread(void* arg) {
    auto* self = static_cast<c331_manage*>(arg);
    plat::nameThisThread("c331");
    while (!self->stop_) {
        const bool wasPolling = self->state() < kStateBringUp;
        const bool didWork = self->step();
        // The chip-id phase polls at a few milliseconds, never in a tight loop; once running,
        // an idle pass lets the pause grow and a writer's hand-over ends it (wakeManager).
        if (wasPolling) plat::workerPace(kChipIdPollMs * 1000);
        else self->pacer_.pass(didWork);
    }
    return nullptr;
}

void ManageLock::wakeManager() { c331_manage::wake_slot_.wake(); }

bool c331_manage::step() {
    const uint8_t s = state_;
    if (s < kStateBringUp) {
        chipIdPhase();
        return true;
    }
    if (s == kStateBringUp) {
        bringUp();
        return true;
    }
    const bool work = update_flag != 0 || panel_pending_;
    c331managerdeal(nullptr);
    engine_requests::wakeOwners();
    return work;
}

void c331_manage::chipIdPhase() {
    const unsigned id = drv_->read_C331(spi_fd, kRegChipId, 0);
    // Five good answers are needed; a bad one in between does not reset the count.
    if (id == kChipIdValue) {
        state_ = uint8_t(state_ + 1);
        if (state_ == kStateBringUp) {
            writeLogMsg(LOG_INFO, "c331: chip answers, bringing it up" +
                                      (id_failures_ ? " after " + std::to_string(id_failures_) + " wrong id reads"
                                                    : std::string()));
            id_failures_ = id_failures_unlogged_ = 0;
        }
        return;
    }
    // A chip that does not answer also drops the bank select: send it again with the next read.
    drv_->init_reg_acc_param();
    ++id_failures_;
    ++id_failures_unlogged_;
    if (g_debugSwitch != 254) return;
    // The log lives on the data partition: the first wrong id, then a count at most once a minute.
    if (id_failures_ == 1) {
        writeLogMsg(LOG_DEBUG, "c331: chip id read " + std::to_string(id) + ", waiting for the chip");
        id_failures_unlogged_ = 0;
        id_log_tick_ = G_timeTicks;
    } else if (Utils::getTimeSpace(id_log_tick_) >= kIdLogTicks) {
        writeLogMsg(LOG_DEBUG, "c331: chip id still wrong (" + std::to_string(id) + "), " +
                                   std::to_string(id_failures_unlogged_) + " more reads");
        id_failures_unlogged_ = 0;
        id_log_tick_ = G_timeTicks;
    }
}

bool c331_manage::chipAnswers() {
    return state_ == kStateRunning && drv_->read_C331(spi_fd, kRegChipId, 0) == kChipIdValue;
}

void c331_manage::writeW(unsigned d, unsigned value, unsigned och) { drv_->write_C331(spi_fd, d, value, ochOffset(int(och))); }
unsigned c331_manage::readW(unsigned d, unsigned och) { return drv_->read_C331(spi_fd, d, ochOffset(int(och))); }
void c331_manage::maskW(unsigned d, unsigned value, unsigned mask, unsigned och) {
    drv_->write_c331_mask(spi_fd, d, value, mask, ochOffset(int(och)));
}

void c331_manage::bringUp() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    load_system_param();
    define_param();
    drv_->init_reg_acc_param();
    write_initial_setting(spi_fd, 1);
    set_rtct(spi_fd, 1);
    load_param();
    check_input_port(spi_fd);
    load_fonts();
    if (g_force_bkcolor == 1) {
        for (int k = 0; k < OCH_MAX; ++k) {
            writeW(kRegOchBgColor, kBgColorForced, unsigned(k));
            writeW(kRegOchBgEnable, 1, unsigned(k));
        }
    }
    if (ram) {
        // The RAM as it is now, applied in one hold of the manage mutex (PCs write it from
        // their link threads): the base of the later passes. The panel results written
        // below differ from it, so the first pass places the output. The brightness is the
        // FPGA engine's, not applied here: a percentage written since the start-up's load
        // stays a difference, which the first pass hands to the engine (it waits for the
        // FPGAs to come up).
        ManageMutexLocker lock;
        applied_ram::takeRamBut(vlxram::kBrightness, 2);
        using applied_ram::word;
        if (word(vlxram::kOsdEnable) == 1) g_osd_update = 1;
        vlxApi_PnlInit2(word(vlxram::kLedWidth), word(vlxram::kLedHeight), word(vlxram::kOut1Width),
                        word(vlxram::kOut1Height), word(vlxram::kSpliceMode));
        c331_SetBrightness(50);
        c331_SetContrast(word(vlxram::kContrast));
        c331_SetSharpness(word(vlxram::kSharpness));
        using applied_ram::byte;
        c331_SetColorTemp(int(uint32_t(byte(vlxram::kColorTempR)) << 24 | uint32_t(byte(vlxram::kColorTempG)) << 16 |
                              uint32_t(byte(vlxram::kColorTempB)) << 8 | byte(vlxram::kColorTempMode)));
        c331_SetSaturation(word(vlxram::kSaturation));
    }
    set_output(spi_fd);
    state_ = kStateRunning;
    g_fpga_c331_start = 1;
    engine_requests::fpgaOwner.wake();  // the FPGAs may start now
    writeLogMsg(LOG_INFO, "c331: running");
}

void c331_manage::load_system_param() {
    C331SystemParam p;
    p.refClk = 32000000;
    p.memClk = 800000000;
    p.inClkA = p.inClkB = 27000000;
    p.actW = 1920;
    p.actH = 2160;
    p.totalW = 2200;
    p.totalH = 2250;
    p.hsync = 88;
    p.hbp = 88;
    p.vsync = 10;
    p.vbp = 72;
    p.arrangMode = 0;
    p.arrangVariant = 0;
    static const uint32_t kFurther[9] = {0, 137, 0, 1, 22, 137, 0, 2, 24};
    std::memcpy(p.further, kFurther, sizeof kFurther);
    for (int j = 0; j < 5; ++j)
        for (int k = 0; k < ICH_MAX; ++k) p.memPlane[j][k] = uint32_t(j) * 0x8800000u + uint32_t(k) * 0x2000u;
    p.memWidth = 64;
    static const uint32_t kBases[5] = {0x2A800000, 0x35A80000, 0x40D00000, 0x4BF80000, 0x57200000};
    static const uint32_t kAreas[5] = {0x65000000, 0x70000000, 0x725C0000, 0x74B80000, 0x7F000000};
    std::memcpy(p.memBase, kBases, sizeof kBases);
    std::memcpy(p.memArea, kAreas, sizeof kAreas);
    PS = p;
}

void c331_manage::define_param() {
    PS.actStartH = PS.hsync + PS.hbp;
    PS.actStartV = PS.vsync + PS.vbp;
    PS.actEndH = PS.actStartH + PS.actW;
    PS.actEndV = PS.actStartV + PS.actH;
    if (PS.arrangMode == 0) {
        PS.ochCols = PS.arrangVariant ? 2 : 4;
        PS.ochRows = PS.arrangVariant ? 2 : 1;
    } else if (PS.arrangMode == 2) {
        PS.ochCols = PS.arrangVariant ? 1 : 2;
        PS.ochRows = PS.arrangVariant ? 2 : 1;
    } else {
        PS.ochCols = PS.arrangVariant ? 4 : 8;
        PS.ochRows = PS.arrangVariant ? 2 : 1;
    }
    PS.outW = PS.ochCols * PS.actW;
    PS.outH = PS.ochRows * PS.actH;
    PS.memClkQuarter = PS.memClk / 4;
    for (int w = 0; w < WINDOW_MAX; ++w) {
        win_ich[w] = -1;
        gWininfo[w] = C331WinInfo{};
        gWininfo[w].layer = uint8_t(w);
    }
    for (int k = 0; k < OCH_MAX; ++k) {
        PM_WIN_NUM[k] = WINDOW_MAX;
        PM_AREA_NUM[k] = OCH_MAX;
        PM_OVERLAY[k] = k + 1;
    }
}

int c331_manage::txPllSetting(const C331SystemParam& ps) {
    // 137 x 27 MHz does not fit 32 bits: the ratio is taken in 64 bits.
    const uint64_t divisor = ps.arrangMode == 1 ? 2000000u : 4000000u;
    const uint64_t den = divisor * uint64_t(ps.pllRefDiv() ? ps.pllRefDiv() : 1);
    const uint64_t ratio = uint64_t(ps.pllMul()) * uint64_t(ps.inClkA) / den;
    return ratio < 21 ? 68 : ratio < 41 ? 72 : 76;
}

void c331_manage::write_initial_setting(int fd, int full) {
    (void)fd;
    int pll = 76;
    if (full) {
        for (const auto& r : c331data::kClockBlock) writeW(r.desc, r.value, r.och);
        Sleep(20);
        pll = txPllSetting(PS);
    }
    for (int a = 0; a < 8; ++a) writeW(kRegChanCtl0 + (unsigned(a) << 8), 0x11);
    for (int a = 0; a < 6; ++a) writeW(kRegUpdCtl0 + (unsigned(a) << 8), 0);
    writeW(kRegOutHsync, PS.hsync / 2 - 1);
    writeW(kRegOutVsync, PS.vsync - 1);
    writeW(kRegOutHsync2, PS.hsync / 2 - 1);
    writeW(kRegOutVsync2, PS.vsync - 1);
    const auto& arrang = PS.arrangMode == 1 ? c331data::kArrangMode1
                         : PS.arrangMode == 2 ? c331data::kArrangMode2
                                              : c331data::kArrangOther;
    for (const auto& r : arrang) writeW(r.desc, r.value, r.och);
    for (int k = 0; k < OCH_MAX; ++k) writeW(kRegIsyct, kIchRun, unsigned(k));
    for (int k = 0; k < OCH_MAX; ++k) {
        writeW(kRegOchHTotal, PS.totalW - 2, unsigned(k));
        writeW(kRegOchVTotal, PS.totalH - 2, unsigned(k));
        writeW(kRegOchLineUnit, 64, unsigned(k));
        writeW(kRegOchHStart, PS.actStartH, unsigned(k));
        writeW(kRegOchHEnd, PS.actEndH, unsigned(k));
        writeW(kRegOchVStart, PS.actStartV, unsigned(k));
        writeW(kRegOchVEnd, PS.actEndV, unsigned(k));
        writeW(kRegOactHst, PS.actH - 2, unsigned(k));
        writeW(kRegOactHw, PS.actW - 2, unsigned(k));
        writeW(kRegOchFillY, 255, unsigned(k));
        writeW(kRegOchFillU, 255, unsigned(k));
        writeW(kRegOchFillV, 255, unsigned(k));
        for (const auto& r : c331data::kOchDefaults) writeW(r.desc, r.value, unsigned(k));
    }
    for (int k = 0; k < ICH_MAX; ++k)
        for (int j = 0; j < 4; ++j) writeW(kRegIsFld0 + (unsigned(4 * j) << 8), PS.memPlane[j][k], unsigned(k));
    if (full) {
        const unsigned mode = PS.arrangMode == 1 ? 5 : 9;
        for (const auto& r : c331data::kTx1Group) writeW(r.desc, r.value, r.och);
        Sleep(1);
        writeW(kRegTx1Pll, unsigned(pll));
        writeW(kRegTx1Mode, mode);
        writeW(kRegTx1Ctl, kTxCtlStart);
        Sleep(20);
        for (const auto& r : c331data::kTx2Group) writeW(r.desc, r.value, r.och);
        Sleep(1);
        // The second group's PLL goes to its own PLL register, as the first's does.
        writeW(kRegTx2Pll, unsigned(pll));
        writeW(kRegTx2Mode, mode);
        writeW(kRegTx2Ctl, kTxCtlStart);
        Sleep(20);
    }
}

void c331_manage::set_rtct(int fd, int mode) {
    (void)fd;
    static const uint8_t kRows[5][kUpdCtlCount] = {
        {0, 0, 0, 0, 0, 0, 0},
        {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
        {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
    };
    const int row = mode >= 0 && mode <= 3 ? mode : 4;
    maskW(kRegUpdHold, kUpdHoldBit, kUpdHoldBit);
    for (int i = 0; i < kUpdCtlCount; ++i) writeW(kRegUpdCtl0 + (unsigned(i) << 8), kRows[row][i]);
    maskW(kRegUpdHold, 0, kUpdHoldBit);
}

void c331_manage::load_param() {
    std::memset(PM_CHG, 0, sizeof PM_CHG);
    // Offsets, fades and the dot-by-dot words raise no flag: the programming reads them as it goes.
    constexpr int kNoFlag = -1;
    const int* t = c331data::parameters_txt;
    auto put = [this](int& slot, int value, int group, int w) {
        if (slot != value && group >= 0) PM_CHG[group][w] = 1;
        slot = value;
    };
    for (int w = 0; w < WINDOW_MAX; ++w) {
        put(PM_WIN_SHAPE[w][0], t[2 * w], kChgShape, w);
        put(PM_WIN_SHAPE[w][1], t[2 * w + 1], kChgShape, w);
        put(PM_INPUT[w], t[12 + w], kChgInput, w);
        for (int i = 0; i < 4; ++i) {
            put(PM_WIN_OFFSET[w][i], t[18 + 4 * w + i], kNoFlag, w);
            put(PM_INPUT_OFFSET[w][i], t[42 + 4 * w + i], kNoFlag, w);
        }
        put(PM_INPUT_OFFSET_EN[w], t[66 + w], kNoFlag, w);
        put(PM_OVERLAY_PRI[w], t[96 + w], kChgAttr, w);
        put(PM_WIN_ATTR0[w], t[102 + w], kChgAttr, w);
        put(PM_WIN_ATTR1[w], t[108 + w], kChgAttr, w);
        put(PM_WIN_FADE_EN[w], t[114 + w], kNoFlag, w);
        put(PM_WIN_FADE_IN[w], t[120 + w], kNoFlag, w);
        put(PM_WIN_FADE_OUT[w], t[126 + w], kNoFlag, w);
        put(PM_WIN_DBD_MODE[w], t[132 + w], kNoFlag, w);
        put(dbd_fill[w], t[138 + w], kNoFlag, w);
        PM_WIN_STITCHING[w] = w;
    }
    for (int k = 0; k < 8; ++k) {
        PM_WIN_NUM[k] = t[72 + k];
        PM_AREA_NUM[k] = t[80 + k];
        PM_OVERLAY[k] = t[88 + k];
    }
    for (int i = 0; i < 13; ++i) {
        int& slot = *osdLoadSlot(i);
        if (slot != t[144 + i]) (i == 0 ? osd_set_request : osd_update_request) = 1;
        slot = t[144 + i];
    }
    PM_OSD_MODE[0] = t[157];
    PM_OSD_MODE[1] = t[158];
    PM_OSD_UPDATE = t[159];
}
