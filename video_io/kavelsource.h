#pragma once
// Input-source manager: owns the input chips' I2C bus and drivers, the per-input timing
// records the scaler reads, the EDIDs of the inputs, the audio route and the pixel-clock
// synthesisers of the two FPGAs, and the input-source thread that serves all of them.
//
// Hand-over points:
// - hdminfo[s]: written by the input-source thread, read (copied whole) by the scaler
//   under Utils::_source_hdminfo_mutex.
// - set_edid_flag[p] / edid_write_flag[p]: the scaler's dispatcher sets 1 / 0 when the
//   EDID words of input p (RAM 0x380 + 6p) changed; about_set_edid_deal takes the request
//   (clears it) before it reads the words and writes the EEPROM, puts it back when the
//   write failed, and sets edid_write_flag once no newer request waits.
// - volume_flag: the dispatcher sets 1 when the audio window's source or a sound word
//   changed; about_volume_deal takes it before it reads the RAM, and puts it back when
//   the audio switch did not take the route.
//   These flags are the scaler's request words (scaler/engine_requests.h) under the
//   manager's names: one store, whoever looks at it.
// - clk_stage[i]: 2 once FPGA i's pixel clock runs (the FPGA engine waits for it).
//
// Status area of the parameter store (register 37 on): byte 0 bits 0..6 which chips
// answered (it6602, ite6805-0, ite6805-1, it66121, audio switch, clock 0, clock 1);
// byte 0 bit 7 and byte 1 bits 0..4 the EDID of inputs 0..5 is valid in its EEPROM;
// byte 1 bit 5 / 6 clock of FPGA 0 / 1 locked, bit 7 output ports enabled; byte 2
// bit 0 audio route applied.
//
// INI item 8 (EDIDCheck): "Once" (the default) compares every EEPROM with the EDID its
// input should offer at the next start, rewrites those that differ and then stores
// "Done"; "Always" does that at every start; any other value checks only that each
// EEPROM holds a valid EDID. An EEPROM whose content is invalid is always repaired.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/stamped_bytes.h"
#include "core/utils.h"
#include "platform/annotated_mutex.h"
#include "platform/gpio_word.h"
#include "platform/reg_window.h"
#include "platform/worker_pacer.h"
#include "scaler/engine_requests.h"
#include "video_io/edid.h"
#include "video_io/receivers.h"
#include "video_io/video_i2c.h"

// Timing of one input as the scaler reads it: 17 32-bit words.
struct HDMI_INFO {
    int32_t Hact, Hsync, Hback, Hpol, Htotal;
    int32_t Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;        // pixel clock, MHz
    int32_t type;       // 1 HDMI, 0 DVI (or SDI on EXT)
    int32_t datamode;   // 0 RGB 4:4:4, 1 YCbCr 4:4:4, 2 YCbCr 4:2:2
    int32_t lane;       // V-by-One lanes of the HDMI 2.0 receivers
    int32_t ip;         // interlaced
    int32_t nosignal;   // 1 = no picture
    int32_t stable;     // settled on what the record says; 0 = ignore the record
};
static_assert(sizeof(HDMI_INFO) == 17 * 4, "HDMI_INFO is 17 words");
static_assert(engine_requests::kInputPorts == 6, "one EDID request per input");

class kavelsource {
public:
    static constexpr int kSources = 6;
    static constexpr int kFpgas = 2;
    // Idle passes slow down to one every 50 ticks: a plugged or lost source shows within
    // half a second; the scaler's requests wake the loop at once.
    static constexpr uint32_t kIdleTicks = 50;

    static kavelsource* p_kavel_source;   // set by start-up before the threads that use it run
    static kavelsource* pInstance();
    // Stops the thread and drops the manager (tests only).
    static void resetInstanceForTest();

    // Opens the bus and starts the input-source thread: 0, or 255 (logged, no thread).
    int initialize();
    // initialize() without the thread: the bus, the GPIO window (the FPGA engine's when it
    // has mapped one), the EDIDCheck setting.
    bool prepare();
    // Makes the FPGA engine run FPGA i only while clock_stage(i) is 2. Start-up calls it
    // before the engine is made, so that the engine never sees an FPGA without its clock.
    static void linkFpgaEngine();
    // The scaler takes its receiver records from hdminfo instead of the RAM's timing words,
    // and refreshes the two IT6805 records for its dump group 10 (iTE6805_Get_Hdmi).
    static void linkScaler();
    // The FPGA engine's mapped register window, when it has one: the GPIO words are taken
    // from it; otherwise initialize() maps the window itself.
    void setGpioWindow(void* base);
    void stopThread();
    bool threadRunning() const { return thread_.joinable(); }

    // ---- one pass of the thread, in this order (tests call it directly); true when it
    // published a change or served a request
    bool source_deal() EXCLUDES(passMutex_);
    // The steps hold passMutex_ (source_deal takes it; a test calls them alone on its thread).
    void startup_deal() REQUIRES(passMutex_);  // chips not yet set up: reset release, hot-plug, expander, EDID check
    void poll_receivers() REQUIRES(passMutex_);
    void clock_synth_deal() REQUIRES(passMutex_);
    void about_set_edid_deal() REQUIRES(passMutex_);
    void about_volume_deal() REQUIRES(passMutex_);
    // Test hook: one step of the pass, under its lock (`&kavelsource::about_volume_deal`).
    void stepForTest(void (kavelsource::*step)()) EXCLUDES(passMutex_) {
        plat::Locker<plat::Mutex> pass(passMutex_);
        (this->*step)();
    }

    // Clock-synthesiser stage of FPGA i: 0 not set, 1 programmed and locking, 2 running.
    uint8_t clock_stage(int fpga) const { return fpga >= 0 && fpga < kFpgas ? clk_stage[fpga].load() : 0; }
    // Dump group 10: the two IT6805 records into hdminfo of sources 4 and 5 (horizontal
    // values doubled in double-pixel mode). False when the receiver does not answer.
    bool iTE6805_Get_Hdmi(int dev) EXCLUDES(passMutex_);

    // Writes `edid` into input p's EEPROM when its content differs, and reads it back.
    bool write_edid(int source, const std::vector<uint8_t>& edid) REQUIRES(passMutex_);
    // The EDID input p should offer: its kind's default patched with RAM 0x380 + 6p, read with
    // the RAM's stamp `seen`.
    bool wanted_edid(int source, std::vector<uint8_t>* out, std::string* error, ChangeStamp* seen);
    // A timing the input cannot offer (its 6 RAM bytes as read at `refused`): the RAM words
    // (0x380 + 6 x source) take the preferred timing of the EDID its EEPROM holds, unless a
    // writer has written them since.
    void restore_edid_words(int source, const std::vector<uint8_t>& eeprom, ChangeStamp refused);
    // `afterWrite`: the EEPROM may still be in its write cycle, so keep asking for a while.
    std::vector<uint8_t> read_edid_eeprom(int source, bool* ok, bool afterWrite = false) REQUIRES(passMutex_);

    // ---- shared state
    HDMI_INFO hdminfo[kSources] GUARDED_BY(Utils::_source_hdminfo_mutex) = {};   // written and read whole
    std::atomic<uint8_t> (&set_edid_flag)[kSources] = engine_requests::edidRequest;
    std::atomic<uint8_t> (&edid_write_flag)[kSources] = engine_requests::edidWritten;
    std::atomic<uint8_t>& volume_flag = engine_requests::audioRoute;
    std::atomic<uint8_t> clk_stage[kFpgas] = {};   // the input thread writes, the FPGA engine reads

    VideoI2c bus;
    std::unique_ptr<kavel_it6602> it6602;
    std::unique_ptr<ite6805_drv> ite6805[2];
    std::unique_ptr<ite6805_sys> ite6805sys[2];
    std::unique_ptr<it66121_sys> it66121;

    plat::GpioWord rx_reset[2];
    plat::GpioWord edid_write_line;
    plat::GpioWord sdi_reset;

    // Status-area bits (see the top of this file).
    static void setStatusBit(unsigned byte, unsigned bit, bool on);
    // Something changed or was served in this pass: the thread keeps its short pace.
    void noteWork() { ++work_; }

private:
    kavelsource();
    ~kavelsource();
    void bindGpio(void* base);
    bool chipAnswers(int index, bool answered, const char* name) REQUIRES(passMutex_);
    // A receiver's pass: false when it has to be set up again.
    bool receiverPolled(int index, ChipPoll result) REQUIRES(passMutex_);
    void edidCheck(int source) REQUIRES(passMutex_);
    // The EEPROM of `source` holds a valid EDID it may keep: checked.
    void edidKept(int source) REQUIRES(passMutex_);

    plat::RegWindow window_;
    // The drivers' state (receiver records, start-up progress): one pass or one dump at a time.
    // Taken before c331_manage::manage_mutex (the pass reads and sets RAM words under it);
    // never taken by a thread that holds manage_mutex.
    plat::Mutex passMutex_{plat::Lock::SourcePass};
    bool gpioBound_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    plat::WorkerPacer pacer_{1, kIdleTicks};
    std::atomic<unsigned> work_{0};

    // Start-up progress per chip, and whether each answered on its last attempt (under passMutex_,
    // like everything below).
    enum Chip { kIt6602, kIte0, kIte1, kIt66121, kAudio, kClock0, kClock1, kChips };
    // Under passMutex_.
    bool chipReady_[kChips] GUARDED_BY(passMutex_) = {};
    bool chipAnswered_[kChips] GUARDED_BY(passMutex_) = {};
    bool chipWarned_[kChips] GUARDED_BY(passMutex_) = {};
    bool expanderSet_ GUARDED_BY(passMutex_) = false;
    bool edidChecked_[kSources] GUARDED_BY(passMutex_) = {};
    bool edidWarned_[kSources] GUARDED_BY(passMutex_) = {};
    bool edidCheckFull_ GUARDED_BY(passMutex_) = false;
    bool edidCheckStored_ GUARDED_BY(passMutex_) = false;
    uint32_t clockWait_[kFpgas] GUARDED_BY(passMutex_) = {};  // tick the synthesiser was programmed
};
