#pragma once
// The C331 scaler manager: the one object that owns the chip. Its thread waits for the
// chip id, brings the chip up (clocks, memory map, initial registers, parameters, output
// panel, picture) and then applies every change of the parameter RAM (c331managerdeal).
//
// Hand-over: a writer of scaler-relevant RAM takes manage_mutex, changes the RAM, sets
// update_flag (1 apply, 2 apply and keep the user-mode files) and releases it; the
// manager consumes the flag under the same mutex and raises the change code.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "core/manage_lock.h"
#include "core/utils.h"
#include "platform/annotated_mutex.h"
#include "platform/worker_pacer.h"
#include "scaler/c331_geometry.h"
#include "scaler/c331_ich_alloc.h"
#include "scaler/c331_inputs.h"
#include "scaler/c331_osd_state.h"
#include "scaler/panel_timing.h"

class c331_drv;
struct OMENU_PARA;

constexpr int WINDOW_MAX = 6;
constexpr int OCH_MAX = 8;
constexpr int ICH_MAX = 8;
constexpr int INPUT_PORTS = 6;

// System parameter block (load_system_param) and what define_param derives from it.
struct C331SystemParam {
    uint32_t refClk = 0, memClk = 0, inClkA = 0, inClkB = 0;
    uint32_t actW = 0, actH = 0, totalW = 0, totalH = 0;
    uint32_t hsync = 0, hbp = 0, vsync = 0, vbp = 0;
    uint32_t arrangMode = 0, arrangVariant = 0;
    uint32_t further[9] = {};          // [3] PLL reference divider, [4] PLL multiplier
    uint32_t memPlane[5][ICH_MAX] = {};
    uint32_t memWidth = 0;             // line pitch in 1024-byte units
    uint32_t memBase[5] = {};
    uint32_t memArea[5] = {};          // OSD and table areas
    // derived
    uint32_t actStartH = 0, actStartV = 0, actEndH = 0, actEndV = 0;
    uint32_t outW = 0, outH = 0;
    uint32_t ochCols = 0, ochRows = 0;
    uint32_t memClkQuarter = 0;
    uint32_t pllRefDiv() const { return further[3]; }
    uint32_t pllMul() const { return further[4]; }
};

// Window record (one per enabled window block, in block order).
struct C331WinInfo {
    int16_t x = 0, y = 0;
    uint16_t width = 0, height = 0;
    uint8_t rotate = 0;
    uint8_t output = 0;     // bit 0 black, bit 1 freeze
    uint8_t winEn = 0;
    uint8_t input = 0;      // source 0..5
    uint8_t cropIdx = 0;
    uint8_t layer = 0;
    uint8_t priority = 0;
    uint8_t ochLst[OCH_MAX] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t ochPosLst[OCH_MAX] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t ochCntH = 0, ochCntV = 0;
    int8_t ramWin = -1;     // the RAM window block this record was built from
    uint8_t ochCount() const { return uint8_t(ochCntH * ochCntV); }
};

struct C331LayoutPreset {
    int count;
    int rect[6][4];
};

// PM_ change-flag groups (one flag per window and group): what set_output reprograms.
// kChgAttr: rotation, mirror or layer priority; kChgDbd: output mode or dot-by-dot mode.
enum C331ChangeGroup { kChgShape, kChgInput, kChgAttr, kChgDbd, kChgGroups };

class c331_manage : public C331OsdState, public ManageLock {
public:
    static c331_manage* p_c331_manage;   // set by start-up before the threads that use it run
    // manage_mutex, manage_held_here, update_flag (set by writers under manage_mutex, taken by
    // the pass under it) and wakeManager() come from ManageLock (core/manage_lock.h)

    enum State : uint8_t { kStateChipId0 = 0, kStateBringUp = 5, kStateRunning = 6 };

    // Creates the object and starts its thread on the first call; later calls return it.
    static c331_manage* pInstance();
    int initialize();
    static void* c331manageThread(void* arg);
    void Sleep(int ms);   // lets the pass's hold of manage_mutex go meanwhile

    // ---- one pass of the manager loop (the thread loops it; tests call it); true when it did work
    bool step();
    uint8_t state() const { return state_.load(); }
    void setState(uint8_t s) { state_ = s; }
    int fd() const { return spi_fd; }
    // Brought up and still answering its id: a chip that is not there reads as zeros,
    // which a flash read would hand on as data.
    bool chipAnswers();
    c331_drv* drv() { return drv_.get(); }

    // ---- bring-up
    void load_system_param();
    void define_param();
    void write_initial_setting(int fd, int full);
    void set_rtct(int fd, int mode);
    void load_param();
    static int txPllSetting(const C331SystemParam& ps);

    // ---- dispatcher
    void c331managerdeal(void* arg = nullptr);

    // ---- output panel timing
    void vlxApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice) REQUIRES(ManageLock::manage_mutex);
    void vlxApi_PnlInitOch3() REQUIRES(ManageLock::manage_mutex);
    int vlxApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank);
    void vlxApi_WriteRam(int address) REQUIRES(ManageLock::manage_mutex);
    void vlxApi_c331InitRegPanel();

    // ---- picture
    static void c331_SetBrightness(unsigned short b);
    static void c331_SetContrast(int c);
    static void c331_SetSaturation(int s);
    static void c331_SetColorTemp(int packed);
    static void c331_SetSharpness(int s);
    void vlxApi_forceColorDisable(int fd);
    static int brightnessWord(unsigned b);

    // ---- test patterns
    int c331_SetPattern(int p);
    int vlxApi_IsPatternGen() const { return pattern_gen_; }

    // ---- window controls and port queries (w = RAM window 0..5)
    void c331_SetWinOutput(int fd, int w, int data) REQUIRES(ManageLock::manage_mutex);
    void c331_SetWinDbdMode(int fd, int w, int mode) REQUIRES(ManageLock::manage_mutex);
    void c331_SetWinAttr(int w, int data);
    void c331_SetWinPriority(int w, int priority);
    void c331_SetWinPriority1(int fd);
    void win_freeze_sel(int fd, int w, int flags);
    void c331_SetInputsourceCrop(int w, int sourceWord) REQUIRES(ManageLock::manage_mutex);
    int vlxApi_GetWinDbdMultiPort(int w, int ports[6]) const;
    static int vlxApi_inputCvtC331(int port);
    static int vlxApi_GetPortDevId(int port);
    static int dbdModeCode(int ramValue);
    // Record index of RAM window w among the enabled windows, or -1 when w is not shown.
    int recordOf(int w) const;

    // ---- window environment and output channels (c331_env.cpp)
    void vlxApi_initEnvC331() REQUIRES(ManageLock::manage_mutex);
    void vlxApi_initEnvC331Default();
    void vlxApi_MultiWinChAlloc(char init);
    void vlxApi_MultiWinChOverlay();
    void vlxApi_MultiWinChInit() REQUIRES(ManageLock::manage_mutex);

    // ---- crop (c331_crop.cpp); win = record index 0..5
    int vlxApi_CropGetOffset(int port, const c331geom::CropRect& rect, int type) const;
    void vlxApi_updateCrop(int port);
    int vlxApi_OchGetWinOffset1(const C331WinInfo& win, int type) const;
    // The dispatcher's entry: w = RAM window.
    void c331_SetCrop(int w, int on, const int rect[4]);
    void setCropOfRecord(int k, int on, c331geom::CropRect rect);

    // ---- input ports and signal supervision (c331_input.cpp)
    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    void c331_SetInputsource(int w, int source);
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int w, int on);
    void set_pict(int fd, int datamode, int port);
    void set_sypol(int fd, int vbo, int port);
    bool wait1_pivs(int fd, int ich);
    void wait1_pivs2(int fd);
    // Usable width of a port's picture (two pixels per clock counted twice).
    int inputWidth(int port) const;
    // Background of record k (set_input_bkg2 takes the RAM window).
    void bkgOfRecord(int fd, int k, int on);
    // Ports record k shows (its single port, or the ports of its dot-by-dot mode).
    int portsOfRecord(int k, int ports[4]) const;
    bool measurePort(int c, int values[5], int subLink = 0);
    static constexpr uint32_t kMeasureTicks = 10;  // inputs are measured every 100 ms

    // ---- dot-by-dot and V-by-One inputs (c331_dbd.cpp)
    int check_dbd_input(int fd, int port) const;
    void reset_dbd_mem(int win);
    int set_dbd_mem(int fd, int win);
    void set_display_window_ich_dbd(int fd, int win, int mode);
    void set_VBOInput(int fd, int k);
    void set_VBORXfrange(int fd, int k, int toggle, float freq);
    void restartVboReceiver(int k, unsigned laneMask);

    // ---- input channels (c331_ich.cpp)
    int set_input(int win, int port);
    void reset_ich(int win);
    void set_ichsel(int fd, int win);
    void set_idual(int fd, int ich, int enable, int port);
    void syncIchTables();
    c331ich::WinView ichView(int w) const;

    // ---- geometry and scaling (c331_scale.cpp)
    void calc_iwin2(int w);
    void calc_owin2(int w);
    void calc_oact(const c331geom::ImageWindow& owin, c331geom::TileSlice* out, int w) const;
    static void calc_scaling(const c331geom::ImageWindow& src, const c331geom::ImageWindow& dst, c331geom::Scaling* out);
    int check_stitching_win(int* w, int* other) const;
    void check_stitching_chg();

    // ---- per-channel programming (c331_channel.cpp)
    void get_och(int w, int och_of_area[8]) const;
    void set_oscwct(int fd, int och);
    void set_iscwct(int fd, int w);
    bool wait1_povs(int fd, int och);
    void set_display_window_ich(int fd, c331geom::ImageWindow iwin, c331geom::ImageWindow owin, int w);
    void set_display_window_och(int fd, c331geom::ImageWindow iwin, c331geom::ImageWindow owin, int w);

    // ---- layers, freeze and output (c331_output.cpp)
    void set_output(int fd);
    void set_freeze(int fd, int on);
    void reset_act(int fd, int mode);
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_layer_coef(int fd, int w, int steps, int dir);

    // ---- picture-quality processing (c331_quality.cpp)
    void set_lut_hshrnk(int fd, int step, int ich, int pair);
    void set_lut_vshrnk_4sym(int fd, int step, int ich, int pair);
    void set_lut_vzoom_4sym(int fd, int step, int och);
    void set_mct(int fd, int w, int force);
    void set_ip(int fd, int ich);
    void set_nr(int fd, int ich, int port);
    void set_nr_block(int fd, int ich, int port);
    void set_nr_tpx(int fd, int ich, int port);
    void set_nr_hvpx(int fd, int ich, int port);
    void set_nr_mosq(int fd, int ich, int port);
    void set_comb(int fd, int ich, int port);
    void set_mvflt(int fd, int ich, int port);
    void set_diag(int fd, int ich, int port);
    void set_ipregs(int fd, int ich, int port);
    static int hshrinkFilter(int step);
    static int vshrinkSet(int step);

    void run_debug_requests();

    // ---- on-screen display (c331_osd.cpp, c331_osd_menu.cpp)
    int vlxApi_OsdSet(int type, int value);
    int vlxApi_OsdSetUnicode(int count, const int* lengths, const wchar_t lines[][128]);
    void load_char();
    void load_bmp();
    void update_osd(int fd);
    void set_osd(int fd, int scroll_copy);
    void set_scroll(int fd);
    void calc_osd(C331OsdLayout* out);
    void gen_char(int fd);
    void osd_put_unicode_string(const uint8_t* line, int x, int y, int fg, int bg, int advance, int height,
                                uint32_t base, int big);
    void osd_paint(int x, int w, int y, int h, int colour, uint32_t base);
    void osd_copy(uint32_t src, uint32_t dst, int w, int h, int from_staging);
    void set_char_color(int fd);
    void set_OSD_para(OMENU_PARA* menu);
    void osdPitch(int width);
    uint32_t osdRowOffset(int y) const;
    int PS_ACTHW() const;
    int PS_ACTVW() const;
    int PS_PANEL_HW() const;
    int PS_PANEL_VW() const;
    int PS_PANEL_HSHAPE() const;
    int PS_PANEL_VSHAPE() const;

    // ---- serial flash and fonts (c331_flash.cpp); 0, or -1 when refused or a wait ran out
    int write_flash(int fd, uint32_t addr, uint32_t len, const char* data);
    int read_flash(int fd, uint32_t addr, uint32_t len, char* buf);
    int erase_flash(int fd, uint32_t sector, uint32_t count, int kind);
    int osd_write_dma_sfl(int fd, uint32_t flash_addr, uint32_t dst, int kind, uint32_t size);
    int read_c331_font(int fd);
    int update_font(int fd);
    void load_fonts();  // bring-up: load_char, read_c331_font, update_font
    // One flash, DMA and drawing sequence at a time, whatever the thread: taken before
    // Utils::_c331_bnk_mutex, never held while taking manage_mutex.
    static plat::RecursiveMutex flash_mutex;

    // ---- dumps and debug operations (c331_dump.cpp, c331_debug.cpp)
    int c331_print();
    void vlxDbg_c331_print_regGrp(int group);
    void vlxDbg_c331_param();
    void vlxDbg_c331_param(int n);
    void c331_debugEnv() {}
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void sync_c331_device_test_input(int fd);
    void sync_c331_device_test_frame_lock(int fd);
    // Dump group 10: the input-source manager installs the refresh of IT6805 receiver 0 or 1
    // (its record read and published under Utils::_source_hdminfo_mutex); false when unreadable.
    static std::function<bool(int receiver)> hdmiReceiverRefresh;   // installed at start-up, read-only after

    // ---- data (members of the chip's state; the manager thread owns them)
    C331SystemParam PS;
    panel::PanelRecord panel;
    C331WinInfo gWininfo[WINDOW_MAX];
    int win_count = 0;
    C331LayoutPreset presets[10];

    int PM_WIN_SHAPE[WINDOW_MAX][2] = {};
    int PM_INPUT[WINDOW_MAX] = {};
    int PM_WIN_OFFSET[WINDOW_MAX][4] = {};
    int PM_INPUT_OFFSET[WINDOW_MAX][4] = {};
    int PM_INPUT_OFFSET_EN[WINDOW_MAX] = {};
    int PM_WIN_NUM[8] = {};
    int PM_AREA_NUM[8] = {};
    int PM_OVERLAY[8] = {};
    int PM_OVERLAY_PRI[WINDOW_MAX] = {};
    int PM_WIN_ATTR0[WINDOW_MAX] = {};
    int PM_WIN_ATTR1[WINDOW_MAX] = {};
    int PM_WIN_FADE_EN[WINDOW_MAX] = {};
    int PM_WIN_FADE_IN[WINDOW_MAX] = {};
    int PM_WIN_FADE_OUT[WINDOW_MAX] = {};
    int PM_WIN_DBD_MODE[WINDOW_MAX] = {};
    int dbd_fill[WINDOW_MAX] = {};
    int PM_OSD_MODE[2] = {};
    int PM_OSD_UPDATE = 0;
    int PM_WIN_STITCHING[WINDOW_MAX] = {};
    uint8_t PM_CHG[kChgGroups][WINDOW_MAX] = {};
    uint8_t osd_set_request = 0;
    uint8_t osd_update_request = 0;

    // Per chip input port (kept by the input side): no-signal state and update requests.
    uint8_t PI_NOSIGNAL[INPUT_PORTS] = {1, 1, 1, 1, 1, 1};
    uint8_t PI_UPDATE[INPUT_PORTS] = {};
    uint8_t PI_CHANGE[INPUT_PORTS] = {};
    // Window sizes at the input and the output of the scaler (kept by the window geometry).
    uint16_t IWIN_W[WINDOW_MAX] = {}, IWIN_H[WINDOW_MAX] = {};
    uint16_t OWIN_W[WINDOW_MAX] = {}, OWIN_H[WINDOW_MAX] = {};
    uint8_t PI_VFACTOR[INPUT_PORTS] = {};
    int8_t win_ich[WINDOW_MAX] = {-1, -1, -1, -1, -1, -1};

    // ---- window path state (the manager thread owns it)
    c331in::ReceiverTiming PI_HDMI_INFO[INPUT_PORTS] = {};
    int PI_PORT_INFO[INPUT_PORTS][12] = {};
    enum PortInfo { kPiHTotal, kPiVCount, kPiLines, kPiFrame, kPiActW, kPiState, kPiLanes,
                    kPiNoSignal = 10, kPiInterlace = 11 };
    int PI_STATE(int p) const { return p >= 0 && p < INPUT_PORTS ? PI_PORT_INFO[p][kPiState] : 0; }
    int PI_SCAN_MODE(int p) const { return p >= 0 && p < INPUT_PORTS ? PI_PORT_INFO[p][kPiInterlace] : 0; }
    c331geom::ImageWindow PI_ACT[INPUT_PORTS] = {};
    c331geom::ImageWindow dbd_act[INPUT_PORTS] = {};
    double PI_FV[INPUT_PORTS] = {};
    int PI_IFH[INPUT_PORTS] = {}, PI_IFV[INPUT_PORTS] = {};
    uint8_t PI_STABLE[INPUT_PORTS] = {};
    uint32_t measure_tick = 0;
    bool measured_once = false;
    uint8_t nosig_check[INPUT_PORTS] GUARDED_BY(Utils::_check_nosig_mutex) = {};  // bit 7 check requested, bit 0 no signal
    uint8_t vbo_lock_fail[2] = {};
    uint32_t vbo_restart_tick[2] = {};
    bool vbo_restarted[2] = {};

    c331ich::IchAlloc ich;
    int chg_extra[WINDOW_MAX] = {}, chg_stitch[WINDOW_MAX] = {};
    uint8_t chg_overlay = 0, chg_priority = 0;
    uint8_t och_list_error = 0;
    int och_owner[OCH_MAX] = {}, och_overlay_ch[OCH_MAX] = {};
    int win_active[WINDOW_MAX] = {};
    int mirror_update[WINDOW_MAX] = {};
    c331geom::ImageWindow IWIN[WINDOW_MAX] = {}, OWIN[WINDOW_MAX] = {};
    int width_clamp[WINDOW_MAX] = {};
    uint8_t line_back[WINDOW_MAX] = {};
    int fld_order[WINDOW_MAX][5] = {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4},
                                     {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}};
    int frozen[WINDOW_MAX] = {};
    int prev_och_win[OCH_MAX] = {};
    int prev_ich_used[WINDOW_MAX][ICH_MAX] = {{-1, -1, -1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1, -1, -1},
                                              {-1, -1, -1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1, -1, -1, -1}};
    int g_och_layer[OCH_MAX][8] = {};
    int g_och_layer_cnt[OCH_MAX] = {};
    int och_of_win[WINDOW_MAX][8] = {};
    int PS_MEM_WMODE[WINDOW_MAX] = {};
    int PM_MEM_WMODE[WINDOW_MAX] = {};
    int PM_IACTHST[WINDOW_MAX] = {}, PM_IACTVST[WINDOW_MAX] = {};
    int PS_VBOTX_LAYOUT = 0, PS_VBOTX_MODE = 0;
    // Dot-by-dot memory: six blocks, four slots per window.
    int dbd_blocks[6] = {-1, -1, -1, -1, -1, -1};
    int dbd_slots[WINDOW_MAX][4] = {{-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1},
                                    {-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}};
    uint32_t dbd_mem[WINDOW_MAX][5] = {};
    int dbd_mem_width[WINDOW_MAX] = {};
    static constexpr uint32_t kDbdBlockSize = 0x1DC0000;  // six blocks between two field bases
    // Picture-quality levels per input port (0 off, 1..3 stronger). The parameter table
    // load_param reads has no words for them and no screen or protocol command sets them:
    // they stay 0, so the de-interlacer runs with noise reduction off; the dump shows them.
    int PM_HNR[INPUT_PORTS] = {}, PM_VNR[INPUT_PORTS] = {}, PM_TNR[INPUT_PORTS] = {}, PM_BNR[INPUT_PORTS] = {},
        PM_MNR[INPUT_PORTS] = {}, PM_COMB[INPUT_PORTS] = {}, PM_IPEN[INPUT_PORTS] = {}, PM_DIAG[INPUT_PORTS] = {},
        PM_MVFLT[INPUT_PORTS] = {}, PM_22PD[INPUT_PORTS] = {}, PM_23PD[INPUT_PORTS] = {},
        PM_22PDSQTH[INPUT_PORTS] = {}, PM_23PDSQTH[INPUT_PORTS] = {}, PM_24SF[INPUT_PORTS] = {};
    int nren_old[4] = {-1, -1, -1, -1};
    // Bounded waits that ran out (logged once each time).
    unsigned wait_timeouts = 0;
    unsigned freeze_calls = 0;
    std::atomic<unsigned> fade_steps{0};
    static constexpr int kPovsPolls = 100;   // 1 ms each: six frames at 60 Hz
    static constexpr int kPivsPolls = 45;
    static constexpr int kVboLockReads = 250;
    static constexpr int kFreezeRounds = 251;
    static constexpr uint32_t kVboRestartTicks = 10;  // a lost V-by-One input is restarted every 100 ms

    std::atomic<int> polling_guard{0};

    // Counters for the log, tests and the benchmark.
    unsigned panel_inits = 0;
    unsigned set_output_calls = 0;
    unsigned colortemp_calls = 0;

    // Test hook: stop and join the thread (the device never stops it).
    void stopThread();
    // Test hook: an object without a thread on the current SPI backend.
    static c331_manage* createForTest();
    static void resetInstanceForTest();

private:
    c331_manage();
    void chipIdPhase();
    void bringUp();
    void applyPanel() REQUIRES(ManageLock::manage_mutex);
    void applyPending();
    uint8_t passUnderLock();   // the change code the pass took over
    void pollInputs();
    int* osdLoadSlot(int i);
    bool flashWait(uint32_t desc, uint8_t mask, bool wantSet, uint32_t boundUs, uint32_t pauseUs, const char* message,
                   unsigned* polls = nullptr);
    bool drawEngineRun(uint8_t op, uint32_t boundUs);
    void flashPins(bool dmaOrder);
    bool flashClearWel(uint32_t boundUs);
    void writeW(unsigned desc, unsigned value, unsigned och = 0);
    unsigned readW(unsigned desc, unsigned och = 0);
    void maskW(unsigned desc, unsigned value, unsigned mask, unsigned och = 0);
    friend class C331Dispatcher;
    friend struct ManageLock;   // its wakeManager() wakes this manager's pacer

    int spi_fd = -1;
    std::unique_ptr<c331_drv> drv_;
    std::atomic<uint8_t> state_{0};
    pthread_t thread_{};
    bool thread_started_ = false;
    std::atomic<bool> stop_{false};
    // Idle, only the scaler's own look at its inputs is due (lock and timing, at most every
    // 10 ticks): a pass every 50 ticks. A writer's hand-over and a receiver whose record
    // changed wake it at once.
    plat::WorkerPacer pacer_{1, 50};
    static plat::WakeSlot wake_slot_;  // its own lock: any thread wakes, the manager waits
    int pattern_gen_ = 0;
    // An LED-size change that waits for the FPGA engine to finish the previous one.
    bool panel_pending_ = false;
    uint32_t panel_pending_since_ = 0;
    bool panel_timeout_logged_ = false;
    // The dispatcher's pass holds manage_mutex: a fade lets the writers in between its frames.
    bool pass_holds_mutex_ = false;
    // Wrong chip-id reads since the chip last answered, and those not yet in the log.
    unsigned id_failures_ = 0, id_failures_unlogged_ = 0;
    uint32_t id_log_tick_ = 0;

public:
    bool panelPending() const { return panel_pending_; }
    static constexpr uint32_t kLedHandshakeTimeoutTicks = 500;  // 5 s of 10 ms ticks
    static constexpr int kFadeMaxFrames = 255;                  // 4 s at 60 Hz
    // update_flag while a pass applies the changes: nonzero, so the screens' save leaves the
    // shadow alone; a writer that comes in during a fade overwrites it with its own code.
    static constexpr uint8_t kFlagPassRunning = 0x80;
    static constexpr int kCropPresets = 40;
    static constexpr int kChipIdPollMs = 5;
    static constexpr uint32_t kIdLogTicks = 6000;  // a minute of 10 ms ticks
};

// Lets the pass's hold of c331_manage::manage_mutex go for one wait for the chip (a frame, a
// fade step): the screens' writers get the RAM meanwhile, and what they change is a
// difference for the next pass (the pass works from its own look). Nothing when `passHolds`
// is false: a caller outside the pass, whose hold is not the pass's to give away, or a wait
// inside one already let go.
class PassHoldReleased {
public:
    explicit PassHoldReleased(bool& passHolds) NO_THREAD_SAFETY_ANALYSIS : passHolds_(passHolds),
                                                                            released_(passHolds) {
        if (!released_) return;
        passHolds_ = false;
        --c331_manage::manage_held_here;
        c331_manage::manage_mutex.unlock();
    }
    ~PassHoldReleased() NO_THREAD_SAFETY_ANALYSIS {
        if (!released_) return;
        c331_manage::manage_mutex.lock();
        ++c331_manage::manage_held_here;
        passHolds_ = true;
    }
    PassHoldReleased(const PassHoldReleased&) = delete;
    PassHoldReleased& operator=(const PassHoldReleased&) = delete;

private:
    bool& passHolds_;
    const bool released_;
};
