// The parameter dispatcher: every change of the parameter RAM reaches the scaler, the
// FPGA engine and the input-source manager through here, one pass per manager loop.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/omenu.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_manage.h"
#include "scaler/engine_requests.h"

using namespace vlxram;

namespace {

constexpr unsigned kPanelWords[] = {kSpliceMode, kLedWidth, kLedHeight, kOut1Width, kOut1Height};
constexpr unsigned kDebugReg33 = 33, kDebugReg34 = 34, kDebugReg35 = 35, kDebugReg36 = 36;
constexpr unsigned kPanelResultsEnd = kPanelResults + 10;  // 0x566..0x573: the manager's own results

// The pass works on the RAM as it found it (seen) against what was applied before (the
// base, applied_ram). A fade lets writers in between its frames: what they change after the
// look is not in `seen`, stays a difference and is applied by the pass their hand-over asks for.
// Manager thread only.
unsigned char seen[kRamSize];
unsigned char baseBefore[kRamSize];  // the base as the pass began

bool differs(unsigned a) REQUIRES(ManageLock::manage_mutex) {
    return VlxRamPara::getU16(seen, a) != applied_ram::word(a);
}
uint16_t seenU16(unsigned a) { return VlxRamPara::getU16(seen, a); }

}  // namespace

// Applies a pending LED-geometry change once the FPGA engine has finished the previous
// one. The manager never waits for the engine: the engine's own step needs the manage
// mutex (and GUI ticks that a screen blocked on that mutex would stop), so the change
// stays pending and is looked at again on the next pass. Called with the mutex held.
void c331_manage::applyPanel() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!panel_pending_ || !ram) return;
    if (g_set_led_para == 1) {
        if (Utils::getTimeSpace(panel_pending_since_) <= kLedHandshakeTimeoutTicks) return;
        if (!panel_timeout_logged_) {
            writeLogMsg(LOG_ERROR, "c331: FPGA engine did not finish the previous LED-size change within 5 s; "
                                   "applying the new one");
            panel_timeout_logged_ = true;
        }
    }
    panel_pending_ = false;
    vlxApi_PnlInit2(ram->ramU16(kLedWidth), ram->ramU16(kLedHeight), ram->ramU16(kOut1Width), ram->ramU16(kOut1Height),
                    ram->ramU16(kSpliceMode));
    {
        plat::Locker<plat::QtMutex> l(Utils::_led_para_init_mutex);
        g_set_led_para = 2;
    }
    if (ram->ramU16(kOsdEnable) != 0) g_osd_update = 1;
}

// The pass's look, what it applies and its base, in one hold of manage_mutex.
uint8_t c331_manage::passUnderLock() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    ManageMutexLocker lock;
    const uint8_t flag = update_flag.exchange(kFlagPassRunning);
    pass_holds_mutex_ = true;
    const ChangeStamp looked = ram->copyRam(0, kRamSize, seen);
    applied_ram::copy(0, kRamSize, baseBefore);
    if (g_force_bkcolor == 0) vlxApi_forceColorDisable(spi_fd);

    // 1. output panel: one re-initialisation for any number of changed words
    for (unsigned a : kPanelWords)
        if (differs(a)) {
            if (!panel_pending_) {
                panel_pending_since_ = G_timeTicks;
                panel_timeout_logged_ = false;
            }
            panel_pending_ = true;
            break;
        }
    applyPanel();
    // the panel results the re-initialisation has just written are the manager's own
    ram->copyRam(kOutputX, kPanelResultsEnd - kOutputX, seen + kOutputX);

    // 2. picture
    if (differs(kBrightness)) {
        c331_SetBrightness(50);  // brightness itself is the FPGA engine's
        plat::Locker<plat::QtMutex> l(Utils::_bri_set_mutex);
        engine_requests::raise(engine_requests::fpgaBrightness);
    }
    if (differs(kContrast)) c331_SetContrast(seenU16(kContrast));
    if (differs(kSharpness)) c331_SetSharpness(seenU16(kSharpness));
    if (differs(kSaturation)) c331_SetSaturation(seenU16(kSaturation));
    if (differs(kColorTempMode) || differs(kColorTempR) || differs(kColorTempG) || differs(kColorTempB))
        c331_SetColorTemp(int(uint32_t(seen[kColorTempR]) << 24 | uint32_t(seen[kColorTempG]) << 16 |
                              uint32_t(seen[kColorTempB]) << 8 | seen[kColorTempMode]));

    // 3. priorities
    for (int w = 0; w < WINDOW_MAX; ++w)
        if (differs(kLayerPriority + 2u * unsigned(w))) {
            c331_SetWinPriority(w, seenU16(kLayerPriority + 2u * unsigned(w)));
            c331_SetWinPriority1(spi_fd);
        }

    // 4. window records, in address order; a re-layout reads every window and ends the scan
    for (unsigned a = kWindowRecords; a < kWindowRecords + kWindowRecordSize * WINDOW_MAX; a += 2) {
        if (!differs(a)) continue;
        const int w = int((a - kWindowRecords) / kWindowRecordSize);
        const unsigned field = (a - kWindowRecords) % kWindowRecordSize;
        const uint16_t v = seenU16(a);
        if (field == kWinState || field == kWinX || field == kWinY || field == kWinWidth || field == kWinHeight) {
            vlxApi_initEnvC331();
            vlxApi_MultiWinChAlloc(1);
            vlxApi_MultiWinChInit();
            set_output(spi_fd);
            break;
        }
        if (field == kWinAttributes) {
            c331_SetWinAttr(w, v);
        } else if (field == kWinSource) {
            int source = v & 0xFF;
            bool apply = true;
            if (v & kSourceIsCrop) {
                const int i = v & 0xFF;
                const unsigned entry = kCropTable + kCropEntrySize * unsigned(i);
                if (i >= kCropPresets || !(seenU16(entry) & kCropInUse)) {
                    writeLogMsg(LOG_WARNING, "c331: window " + std::to_string(w) + " names crop " +
                                                 std::to_string(i) + ", which is not in use; ignored");
                    apply = false;
                } else if ((seenU16(entry) & 15) > 5) {
                    // Sources are 0..5: a larger one would index past the port tables.
                    writeLogMsg(LOG_WARNING, "c331: crop " + std::to_string(i) + " names source " +
                                                 std::to_string(seenU16(entry) & 15) + "; ignored");
                    apply = false;
                } else {
                    const int rect[4] = {seenU16(entry + 2), seenU16(entry + 4), seenU16(entry + 6),
                                         seenU16(entry + 8)};
                    c331_SetInputsourceCrop(w, v);
                    c331_SetCrop(w, 1, rect);
                    source = seenU16(entry) & 15;
                }
            } else if (applied_ram::word(a) & kSourceIsCrop) {
                const int none[4] = {0, 0, 0, 0};
                c331_SetCrop(w, 0, none);
            }
            if (apply) {
                c331_SetInputsource(w, source);
                if (seenU16(kAudioWindow) == unsigned(w)) engine_requests::raise(engine_requests::audioRoute);
            }
        } else if (field == kWinOutput) {
            c331_SetWinOutput(spi_fd, w, v);
        } else if (field == kWinDbdMode) {
            c331_SetWinDbdMode(spi_fd, w, v);
        }
    }

    // 5. fades, bounded to a few seconds
    for (int w = 0; w < WINDOW_MAX; ++w) {
        const unsigned a = kFadeTable + 4u * unsigned(w);
        const int k = recordOf(w);
        if (k < 0) continue;
        if (differs(a)) PM_WIN_FADE_IN[k] = std::min<int>(seenU16(a), kFadeMaxFrames);
        if (differs(a + 2)) PM_WIN_FADE_OUT[k] = std::min<int>(seenU16(a + 2), kFadeMaxFrames);
    }

    // 6. test pattern
    if (seen[kTestPattern] != applied_ram::byte(kTestPattern) && c331_SetPattern(seen[kTestPattern]) < 0) {
        writeLogMsg(LOG_WARNING, "c331: test pattern " + std::to_string(seen[kTestPattern]) +
                                     " refused: " + std::to_string(win_count) + " windows shown");
        // The RAM tells what the LED screen shows: the refused number goes back to the
        // pattern still shown (or none), unless a writer wrote the word after the look (a fade
        // or a re-layout lets writers in): theirs is newer, and its own apply comes.
        const uint8_t shown = applied_ram::byte(kTestPattern);
        ChangeStamp since = looked;
        ram->casRam(kTestPattern, &shown, 1, since);
        seen[kTestPattern] = shown;
    }

    // 7. EDID: every port whose words changed (this pass's look is their only one)
    for (int p = 0; p < INPUT_PORTS; ++p) {
        const unsigned base = kEdidPara + kEdidParaSize * unsigned(p);
        if (differs(base) || differs(base + 2) || differs(base + 4)) {
            engine_requests::edidWritten[p] = 0;
            engine_requests::raise(engine_requests::edidRequest[p]);
        }
    }

    // 8. sound, screen state, output position, OSD
    for (int w = 0; w < WINDOW_MAX; ++w)
        if (differs(windowField(w, kWinSound))) engine_requests::raise(engine_requests::audioRoute);
    if (differs(kScreenState)) engine_requests::raise(engine_requests::fpgaOutputOnOff);
    if (differs(kOutputX) || differs(kOutputY)) engine_requests::raise(engine_requests::fpgaOutputPosition);
    if (differs(kOsdEnable)) {
        vlxApi_OsdSet(0, seenU16(kOsdEnable));
        if (seenU16(kOsdEnable)) g_osd_update = 1;
    }

    // The base takes what this pass applied, and only that: a word a writer changed after
    // the look stays a difference, and one a self-applying writer put into the base
    // meanwhile (applied_ram::setWord) is kept.
    applied_ram::takeApplied(seen, baseBefore);
    // A writer let in by a fade keeps its hand-over for the next pass.
    uint8_t running = kFlagPassRunning;
    update_flag.compare_exchange_strong(running, 0);
    pass_holds_mutex_ = false;
    return flag;
}

void c331_manage::c331managerdeal(void* arg) {
    (void)arg;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    // A look without the lock; the code itself is read and cleared under it, so a writer's
    // second hold (1, then 2 for a user-mode delete) is never lost between look and lock.
    if (update_flag != 0 && ram) {
        // The change code goes out after the hold: a receiver on the emitting thread (the
        // GUI thread, when it steps the manager) may save a mode, with its file's flush.
        VlxRamPara::test_signal(passUnderLock());
        // Outside the hold: the menu file waits for the file mutex, and a debug dump may
        // call into the input-source manager, whose pass takes manage_mutex itself.
        if (g_osd_update == 1) {
            g_osd_update = 0;
            get_json_omenu_para("/data/configs/omenu.json", &g_osd_list);
            set_OSD_para(&g_osd_list[0]);
        }
        run_debug_requests();
    } else if (panel_pending_ && ram) {
        ManageMutexLocker lock;
        pass_holds_mutex_ = true;   // the re-initialisation's settling waits let it go
        applyPanel();
        pass_holds_mutex_ = false;
        if (!panel_pending_) {
            if (ram->ramU16(kOutputX) != applied_ram::word(kOutputX) || ram->ramU16(kOutputY) != applied_ram::word(kOutputY))
                engine_requests::raise(engine_requests::fpgaOutputPosition);
            applied_ram::takeRange(kOutputX, kPanelResultsEnd - kOutputX);
            VlxRamPara::test_signal(1);  // the panel results reach the screens and the saved RAM
        }
    }
    pollInputs();
}

void c331_manage::pollInputs() {
    if (polling_guard < 0 || pattern_gen_) return;
    load_hdmi();
    check_port_valid(spi_fd);
    // A PC's flash job holds the flash controller for as long as it runs (a whole-chip erase,
    // a minute): the OSD waits for a later pass instead of holding manage_mutex, and with it
    // every parameter writer, that long.
    if ((osd_update_request || osd_set_request) && flash_mutex.try_lock()) {
        if (osd_update_request) {
            update_osd(spi_fd);
            osd_update_request = 0;
        } else {
            set_osd(spi_fd, 1);
            set_scroll(spi_fd);
            osd_set_request = 0;
        }
        flash_mutex.unlock();
    }
    check_input_port(spi_fd);
    // Every window on a changed input is programmed again, in one set_output.
    bool reprogram = false;
    for (int c = 0; c < INPUT_PORTS; ++c) {
        if (!PI_CHANGE[c] && !PI_UPDATE[c]) continue;
        for (int k = 0; k < win_count; ++k)
            if (PM_INPUT[k] == c) {
                PM_CHG[kChgInput][k] = 3;
                reprogram = true;
            }
        PI_CHANGE[c] = PI_UPDATE[c] = 0;
    }
    if (reprogram) set_output(spi_fd);
}

// Service requests in controller registers 33..36, each cleared once taken. The PC writes
// them from its link threads: read and cleared through the register file's lock; of the bit
// registers only the bits taken are cleared, so a request raised meanwhile is not lost.
void c331_manage::run_debug_requests() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    if (const uint8_t r34 = ram->registerValue(kDebugReg34)) {
        int bit = 0;
        while (!(r34 & (1u << bit))) ++bit;
        switch (bit) {
        case 0: input_slidebar(spi_fd); break;
        case 1: output_slidebar(spi_fd); break;
        case 2: disable_slidebar(spi_fd); break;
        case 3: vbyone_rx_ch1_seq(spi_fd); break;
        case 4: vbyone_rx_ch2_seq(spi_fd); break;
        case 5: read_c331_b174bug(spi_fd); break;
        case 6:
            writeLogMsg(LOG_INFO, "c331: bring-up again on request");
            state_ = kStateChipId0;
            break;
        default: write_read_c331_b80_iacthstch5(spi_fd); break;
        }
        ram->updateRegister(kDebugReg34, r34, 0);
    }
    if (const uint8_t r35 = ram->registerValue(kDebugReg35)) {
        vlxDbg_c331_param(r35 - 1);
        ram->updateRegister(kDebugReg35, 0xFF, 0);
    }
    if (const uint8_t r36 = ram->registerValue(kDebugReg36)) {
        if (r36 & 1) vlxDbg_c331_print_regGrp(0);
        ram->updateRegister(kDebugReg36, r36, 0);
    }
    const uint8_t r33 = ram->registerValue(kDebugReg33);
    if (r33 & 1) {
        sync_c331_device_test_input(spi_fd);
        ram->updateRegister(kDebugReg33, r33, 0);
    } else if (r33 & 2) {
        sync_c331_device_test_frame_lock(spi_fd);
        ram->updateRegister(kDebugReg33, r33, 0);
    }
}
