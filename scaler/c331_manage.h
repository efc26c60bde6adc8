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

#include "platform/worker_pacer.h"
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
    uint8_t ochCntH = 0, ochCntV = 0;
    int8_t ramWin = -1;     // the RAM window block this record was built from
    uint8_t ochCount() const { return uint8_t(ochCntH * ochCntV); }
};

struct C331LayoutPreset {
    int count;
    int rect[6][4];
};

// PM_ change-flag groups (one flag per window and group).
enum C331ChangeGroup {
    kChgShape, kChgInput, kChgWinOffset, kChgInputOffset, kChgInputOffsetEn, kChgLayer, kChgAttr,
    kChgFadeEn, kChgFade, kChgDbd, kChgWin, kChgGroups
};

class c331_manage : public C331OsdState {
public:
    static c331_manage* p_c331_manage;
    static pthread_mutex_t manage_mutex;
    static std::atomic<uint8_t> update_flag;

    enum State : uint8_t { kStateChipId0 = 0, kStateBringUp = 5, kStateRunning = 6 };

    // Creates the object and starts its thread on the first call; later calls return it.
    static c331_manage* pInstance();
    int initialize();
    static void* c331manageThread(void* arg);
    static void Sleep(int ms);
    // A writer handed the manager work: its pause ends now.
    static void wakeManager();

    // ---- one pass of the manager loop (the thread loops it; tests call it); true when it did work
    bool step();
    uint8_t state() const { return state_.load(); }
    void setState(uint8_t s) { state_ = s; }
    int fd() const { return spi_fd; }
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
    void vlxApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice);
    void vlxApi_PnlInitOch3();
    int vlxApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank);
    void vlxApi_WriteRam(int address);
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
    void c331_SetWinOutput(int fd, int w, int data);
    void c331_SetWinDbdMode(int fd, int w, int mode);
    void c331_SetWinAttr(int w, int data);
    void c331_SetWinPriority(int w, int priority);
    void c331_SetWinPriority1(int fd);
    void win_freeze_sel(int fd, int w, int flags);
    void c331_SetInputsourceCrop(int w, int sourceWord);
    int vlxApi_GetWinDbdMultiPort(int w, int ports[6]) const;
    static int vlxApi_inputCvtC331(int port);
    static int vlxApi_GetPortDevId(int port);
    static int dbdModeCode(int ramValue);
    // Record index of RAM window w among the enabled windows, or -1 when w is not shown.
    int recordOf(int w) const;

    // ---- window environment and the later stages (input side, composition, OSD)
    void vlxApi_initEnvC331();
    void vlxApi_MultiWinChAlloc(char init);
    void vlxApi_MultiWinChInit();
    void set_output(int fd);
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_input_bkg2(int fd, int w, int on);
    void c331_SetInputsource(int w, int source);
    void c331_SetCrop(int w, int on, const int rect[4]);
    void check_input_port(int fd);
    void load_hdmi();
    void check_port_valid(int fd);
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
    static std::recursive_mutex flash_mutex;

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
    // Timing of an HDMI input as the receivers report it (dump group 10 refreshes ports 5 and 4).
    struct HdmiInfo {
        int Hact = 0, Vact = 0, Htotal = 0, Vtotal = 0, Hfp = 0, Hsync = 0, Hbp = 0, Vfp = 0, Vsync = 0, Vbp = 0;
        int pclk = 0, interlaced = 0, doublePixel = 0;
    };
    HdmiInfo PI_HDMI_INFO[INPUT_PORTS];
    // The receivers' driver installs its reader (receiver 0 or 1); false when unreadable.
    static std::function<bool(int receiver, HdmiInfo* out)> hdmiReceiverReader;

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
    uint8_t PM_CHG_GLOBAL = 0;
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
    void applyPanel();
    void applyPending();
    void pollInputs();
    int* osdLoadSlot(int i);
    bool flashWait(uint32_t desc, uint8_t mask, bool wantSet, uint32_t boundUs, uint32_t pauseUs, const char* message,
                   unsigned* polls = nullptr);
    bool drawEngineRun(uint8_t op, uint32_t boundUs);
    void flashPins(bool dmaOrder);
    bool flashClearWel(uint32_t boundUs);
    void osdVsync();
    void writeW(unsigned desc, unsigned value, unsigned och = 0);
    unsigned readW(unsigned desc, unsigned och = 0);
    void maskW(unsigned desc, unsigned value, unsigned mask, unsigned och = 0);
    friend class C331Dispatcher;

    int spi_fd = -1;
    std::unique_ptr<c331_drv> drv_;
    std::atomic<uint8_t> state_{0};
    pthread_t thread_{};
    bool thread_started_ = false;
    std::atomic<bool> stop_{false};
    plat::WorkerPacer pacer_;
    int pattern_gen_ = 0;
    // An LED-size change that waits for the FPGA engine to finish the previous one.
    bool panel_pending_ = false;
    uint32_t panel_pending_since_ = 0;
    bool panel_timeout_logged_ = false;

public:
    bool panelPending() const { return panel_pending_; }
    static constexpr uint32_t kLedHandshakeTimeoutTicks = 500;  // 5 s of 10 ms ticks
    static constexpr int kFadeMaxFrames = 255;                  // 4 s at 60 Hz
    static constexpr int kCropPresets = 40;
    static constexpr int kChipIdPollMs = 5;
};

// Holds c331_manage::manage_mutex for one scope.
class ManageMutexLocker {
public:
    ManageMutexLocker() { pthread_mutex_lock(&c331_manage::manage_mutex); }
    ~ManageMutexLocker() {
        const bool handedOver = c331_manage::update_flag != 0;
        pthread_mutex_unlock(&c331_manage::manage_mutex);
        if (handedOver) c331_manage::wakeManager();
    }
    ManageMutexLocker(const ManageMutexLocker&) = delete;
    ManageMutexLocker& operator=(const ManageMutexLocker&) = delete;
};
