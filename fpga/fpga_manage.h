#pragma once
// Engine of the two sending-card FPGAs: the SPI driver, the register mirrors and RAM
// images, the GPIO window, the start-up and supervision machines, the output geometry
// and screen control, the PC mailbox, and the one worker thread that runs all of it.
// Every wait counts 10 ms ticks of G_timeTicks.
#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "core/stamped_bytes.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_regs.h"
#include "fpga/rcv_recovery.h"
#include "platform/annotated_mutex.h"
#include "platform/worker_pacer.h"
#include "scaler/engine_requests.h"

class clock_record_run;

struct TimeRealType {
    uint8_t second;
    uint8_t minute;
    uint8_t hour;
    uint8_t day;
    uint8_t weekday;  // not filled by IT8563WE_Get
    uint8_t month;
    uint16_t year;
};

// The brightness and on/off schedule state that the PC's mailbox (run on a transport
// thread) changes while the engine's schedule task reads it: the level, the reload request,
// the sensor's failure count, and fpga_manage's mode, half-hour levels and on/off times.
// Held for copies and small updates only, never across a register send, a flash access or
// the light sensor's wait; no other lock is taken while it is held.
extern plat::Mutex g_schedule_mutex;

// The subsystem's tick stamps and small request words: the engine thread's own, except
// where a field names its lock.
struct FpgaChange {
    uint32_t vbo_start_time[2];      // last V-by-One start step
    uint32_t reset_release_time[2];
    uint32_t vbo_check_time[2];      // last link watch
    uint32_t clock_read_time;        // last refresh of the engine's current time
    uint32_t bri_task_enable GUARDED_BY(g_schedule_mutex);
    uint32_t bri_task_time;
    uint32_t bri_current_level GUARDED_BY(g_schedule_mutex);
    uint32_t bri_reload_request GUARDED_BY(g_schedule_mutex);
    uint32_t bri_repeat_count;
    uint32_t sensor_fail_count GUARDED_BY(g_schedule_mutex);
    uint32_t restart_time[2];        // an FPGA restarted unconfigured: under port_mutex (its interrupt, engine or link)
    uint32_t search_time;            // the periodic card search
    uint32_t search_pass_count;
    uint32_t vmf_expected_op;        // multi-function card read
    uint32_t vmf_done;
    uint32_t vmf_fresh;
    uint32_t job_progress_time;      // busy progress of a waiting receiving-card job
    uint32_t job_busy_count;         // 1..99
};

// The scan record a RAM reset frame carries (only these fields reach the frame).
struct SCAN_PARA {
    uint32_t scan;      // low byte -> [10]
    uint8_t field1;     // -> [11]
    uint8_t field2;     // -> [13]
};

// A receiving-card frame: dst u16, src u16, 0x10, tag, mode, port+1, 0, opcode,
// arguments, XOR checksum. Little-endian fields.
namespace rcv {
constexpr size_t kMaxFrame = 1024;       // a pair's transmit and receive RAMs
constexpr size_t kMinFrame = 11;         // header and checksum
constexpr uint16_t kAllCards = 0x0FFF;
constexpr uint16_t kAllOnPort = 0x0FFE;
constexpr uint16_t kMaxCardIndex = 0x0FFD;
constexpr uint16_t kController = 0xF000;
constexpr uint16_t kControllerLast = 0xF00F;
constexpr uint16_t kPc = 0xF010;
constexpr uint8_t kFixed = 0x10;
constexpr uint8_t kTagCard = 'g', kTagBrightness = 'f', kTagSearch = 0xAA, kTagSensor = 0xBB;
constexpr uint8_t kModeCommand = 0x01, kModeSearch = 0xFF, kModeSensor = 0x03;
constexpr uint8_t kOpWrite = 0x60, kOpRead = 0x61, kOpRegisters = 0xA0, kOpSave = 0x81, kOpReconfigure = 0x84,
                  kOpActivate = 0xB4, kOpSearch = 0x10;
constexpr size_t kSearchFrame = 30;
constexpr size_t kSearchAnswerFull = 24;   // count, status, config id, result and checksum
constexpr uint8_t kAllPorts = 0xFF;        // [7] of a PC frame for every port
constexpr int kGlobalPorts = 32;
// The card table of one FPGA's RAM-1 image: where port p's count (u16) and status byte are.
void cardTableEntry(int port, uint16_t* count, uint16_t* status);
// How the jobs name what did not answer: "LED03" (global port 2), "LED03 card 4".
std::string portName(int globalPort);
std::string cardName(int globalPort, unsigned card);
std::string twoDigits(unsigned v);   // at least two digits, leading zeros
}  // namespace rcv
extern FpgaChange g_change;

class fpga_manage {
public:
    static fpga_manage* p_fpga_manage;   // set by start-up before the threads that use it run
    static fpga_manage* pInstance();
    // Stops the thread and drops the engine (tests only).
    static void resetInstanceForTest();

    // "Up" for FPGA i: its clock synthesiser is programmed (stage byte 2). The input-source
    // service installs this; without it both clocks count as ready.
    static std::function<bool(int)> clock_stage_ready;   // installed at start-up, read-only after
    // Told when the mailbox or the protocol set the clock, after the recorder was.
    static std::function<void()> clock_changed;   // installed at start-up, read-only after

    fpga_manage();
    ~fpga_manage();
    fpga_manage(const fpga_manage&) = delete;
    fpga_manage& operator=(const fpga_manage&) = delete;

    // ---- start-up and thread
    int initialize();
    void softinit();
    static void* fpgamanageThread(void* arg);
    void fpga_manage_deal();
    int IT8563WE_Get(TimeRealType* time);
    void stopThread();
    bool threadRunning() const { return thread_.joinable(); }

    // ---- register and RAM access
    static void fpga_cmd_to_spi_data(uint8_t type, uint8_t ram, uint16_t address, uint8_t read, uint8_t* out);
    static void fpga_reg_cmd_to_spi_data(uint8_t type, uint8_t ram, uint8_t reg, uint8_t read, uint8_t mask,
                                         uint8_t* out);
    // 1 done, 0 failed (nothing reaches the mirror from a failed read).
    int read_fpga_register(uint8_t reg, uint8_t* out, int fpga);
    int write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask);
    int write_fpga_ram(const uint8_t* buffer, uint16_t address, uint16_t length, uint8_t ram, int fpga);
    int read_fpga_ram(uint8_t* buffer, uint16_t address, uint16_t length, uint8_t ram, int fpga);
    int read_from_register(uint8_t reg, int fpga);
    int write_to_register(uint8_t reg, uint8_t mask, uint8_t value, int fpga);
    uint8_t mirror(uint8_t reg, int fpga);

    // ---- power-up and supervision
    void reset_fpga_rst(int i);
    void check_fpga_rst();
    void power_up_fpga_start(int check, int i);
    void fpgainit(int i);
    void power_up_check_fpga_status(int i);
    int check_vbo_status(int i);
    int get_fpga_status();
    void FPGA_to_RAM(int i);
    void get_control_uid(int i);
    int check_fpga_ram_param(int i);

    // ---- output geometry and screen control
    void H71_back_mcu_set_net_para(int fpga);
    void H71_mcu_set_net_para(int fpga);
    void H71_mcu_set_lcd_x_y_para(int fpga);
    void eth_param_init(int clear, int fpga);
    static void get_eth_param_addr(int port, uint16_t* x, uint16_t* y, uint16_t* w, uint16_t* h);
    // Card count of global port 0..31 (0..15 FPGA 0, 16..31 FPGA 1) from the card table in
    // the FPGA's parameter image; 0 above 31.
    static uint16_t get_port_card_num(int port);
    // 16-bit sum of the card counts of one FPGA's 16 ports.
    static uint16_t check_netport_card(int fpga);
    void get_eth_min_x_y(int fpga, uint16_t* x, uint16_t* y);
    void get_eth_max_border(int fpga, uint16_t* right, uint16_t* bottom);
    void get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y);
    void get_eth_lcd_w_h(int fpga, uint16_t* w, uint16_t* h);
    void update_eth_state(int fpga);
    int set_fpga_lcd();
    int set_output_status();
    int set_fpga_bri_val();
    void SCREEN_fpgactrl_status(int status);
    void SCREEN_fpgactrl_status2(int status, int fpga);
    void set_led_para_deal();

    // ---- PC mailbox and clock
    // 0 when a flash record the command saves or erases failed (the doorbell's write then
    // answers failed), else 1.
    int Dealwith_mcu_ram();
    int Checktime(const uint8_t* block);
    // The real-time clock was set: the operating-time recorder marks it, then clock_changed.
    void clock_was_set();
    void OnOff_time(const uint8_t* block);
    void Version_to_RAM();
    void PHY_status_to_RAM();
    void fpga_flash_access() {}
    // Flash records (chip 2): loaded into a local buffer, never over the mailbox.
    void record_onoff_time(int chip);
    void record_bright_change();
    void Brightness_init(const uint8_t* record);
    // Replaces a record in its sector so that a power cut leaves the old or the new one.
    // A record starts with its marker byte 0xAA; the marker is programmed last.
    int save_flash_record(int chip, uint32_t sector, const uint8_t* record, uint32_t length);
    int erase_flash_record(int chip, uint32_t sector);
    // 1 when a valid record was read (from its sector, or from the copy a cut left).
    int load_flash_record(int chip, uint32_t sector, uint8_t* record, uint32_t length);
    // The PC's parameter save: a snapshot of FPGA i's image as the record at 0x6C7000 of its
    // own flash, read back as the start-up loads it; 1 when it holds the snapshot.
    int save_param_image(int i);
    // Tests: save_param_image calls it between the record's save and its read-back (set
    // while no save runs).
    std::function<void()> param_saved_hook;
    // Sends the brightness to both FPGAs: arg 1 from the RAM's percentage; else the current
    // level, 2 when it is a new one (the PC's manual level, a schedule slot's, a sensor step),
    // 0 when it is sent again.
    static constexpr int kBrightnessRepeat = 0, kBrightnessRequest = 1, kBrightnessNewLevel = 2;
    int Brightness_hand_dealwith(int arg);

    // ---- receiving-card frames: each builder fills the caller's buffer of `capacity`
    // bytes and returns the frame's length, 0 when refused (the frame would not fit the
    // buffer or 1024 bytes, a card index above 0xFFD, a port above 15).
    int load_write_ram_cmd_create(int port, uint16_t card, uint32_t address, const uint8_t* data, uint16_t n,
                                  uint8_t* frame, int all, size_t capacity = rcv::kMaxFrame);
    // The card's origin (x, y before the wizard's offsets) comes from the caller.
    int rcv_card_cmd_create(uint8_t* frame, int port, uint16_t originX, uint16_t originY,
                            size_t capacity = rcv::kMaxFrame);
    int rcv_active_firmware_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame,
                                       size_t capacity = rcv::kMaxFrame);
    int ram_reset_cmd_create(uint8_t* frame, const SCAN_PARA& scan, int port, size_t capacity = rcv::kMaxFrame);
    int save_para_cmd_create(uint8_t* frame, int port, size_t capacity = rcv::kMaxFrame);
    int load_write_reg_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame, int all,
                                  size_t capacity = rcv::kMaxFrame);
    int load_write_user_defined_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame,
                                           int all, size_t capacity = rcv::kMaxFrame);
    int rcv_reconfig_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame,
                                size_t capacity = rcv::kMaxFrame);
    int load_search_rxc_cmd_create(int port, const uint8_t* data, uint16_t n, uint8_t* frame,
                                   size_t capacity = rcv::kMaxFrame);
    int save_para2flash_cmd_create(int port, uint16_t card, uint8_t* frame, int all,
                                   size_t capacity = rcv::kMaxFrame);
    int mapping_enable_cmd_create(int port, uint8_t* frame, size_t capacity = rcv::kMaxFrame);
    // Builds the 30-byte search frame, clears the pair's acknowledge bit and sends it.
    int check_error_rcv_search_card_cmd(int port, int fpga, uint32_t configId, uint8_t enable);
    static int build_search_frame(uint8_t* frame, int port, uint32_t configId, uint8_t enable);

    // ---- ports: transmit, receive, card search, links. port_mutex covers each whole
    // transmit sequence, each frame's read and release, the pass-through state, and a PC's
    // access to a port RAM (FpgaProtocolEngines), so a PC's bytes never land between the
    // engine's write of a transmit RAM and its send.
    // 0, nothing sent, when the FPGA does not answer (in reset or reconfiguring).
    int Send_to_port(const uint8_t* frame, uint16_t length, int port, int fpga);
    // RAMs 2..17: the ports' receive (2 + 2P) and transmit (3 + 2P) RAMs of pairs 0..7.
    static bool isPortRam(unsigned ram) { return ram >= 2 && ram <= 17; }
    // Tests: Send_to_port calls it between the frame's write into the transmit RAM and its
    // length and start (set while no engine thread sends).
    std::function<void()> tx_ram_written_hook;
    // 1 the pair's transmit is free, 0 still busy after 300 ticks (3 s should the tick stand
    // still), -1 the FPGA does not answer: a failed read, or one that reads all ones with
    // no valid identity (an FPGA in reset drives nothing), is no busy bit.
    int wait_fpga_send_ready(int port, int fpga);
    // Frames sent while their pair's transmit was still busy ("frame sent anyway").
    uint32_t busySends() const { return busy_sends_.load(); }
    // 1 when a frame was taken.
    int reg_IRQ_Dealwith(int fpga);
    int Rcv_data_from_eth(int fpga);
    int deal_with_search_concurrent(int fpga);
    void Search_concurrent_back_result(int fpga, int slot, uint8_t* frame, uint16_t length) REQUIRES(port_mutex);
    void Search_Card_Cmd();
    void CHECK_search_cmd_status();
    void Check_search_card();
    uint32_t get_wlan_state();
    void check_wlanonline_state();
    uint16_t totalCards() const { return total_cards_.load(); }

    // ---- PC pass-through: 1 when a frame went out.
    int Dealwith1_PC_to_eth(uint16_t length, const uint8_t* frame);
    // Where a PC's card frame goes: mode [6] and port [7] as docs/protocol.md gives them.
    struct PassRoute {
        enum Kind { kRefused, kOnePort, kEveryPort, kPortZeroOfBoth } kind = kRefused;
        int port = 0;   // kOnePort: 0..15 of `fpga`
        int fpga = 0;
    };
    static PassRoute passRoute(const uint8_t* frame);
    // An FPGA the frame goes to restarts: sent now, it would be lost.
    bool passTargetsRestarting(const uint8_t* frame, uint16_t length);
    // FPGA i restarts: held in reset, its reset asked for (a new LED geometry), or within 400
    // ticks of its release (or of a restart on its own, or of the first pass after start) and
    // not yet through its start steps; before that first pass it is not up either. One that
    // stays down longer (absent, not loading) is not waited for.
    bool restarting(int i);
    int multi_port_send(uint8_t* frame, uint16_t length) REQUIRES(port_mutex);
    // A multi-port exchange past its time-out answers with what came.
    void pass_timeout_check();
    // Ticks a multi-port exchange waits for its ports (inside the transport's 80).
    static constexpr uint32_t kMultiPortWaitTicks = 60;

    // ---- receiving-card jobs of the job block g_send_para (fpga/job_block.h): one step per
    // call on the engine thread; each ends by clearing bytes 0 and 1, then reports 100.
    enum RCV_CHECK_OR_RECOVERY { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_SMART_FILE = 2 };
    // Runs the job in byte 0 for this pass (steps that need no wait follow each other, an
    // answer already waiting is taken at once); false when no job runs.
    bool card_job_deal();
    void save_para_deal();
    void mapping_enable_deal();
    // Origin of chain position p on the wizard's grid (line_type). 0, nothing written, for a
    // pattern outside 1..16, no rows or columns, or a position past rows x columns.
    int get_rcvcard_x_y(int p, uint16_t* x, uint16_t* y);
    void SmartMapping_deal();
    void rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY arg);
    int load_rcv_xy_operate(const QString& path, uint32_t position, bool standalone);
    // A job's frame on global port 0..31: the reply flag is cleared first, and only an answer
    // from that port with the frame's opcode sets it. 1 when the frame went out.
    int job_send(const uint8_t* frame, uint16_t length, int port);
    // The card the last check found; valid from that check's report until a check starts.
    // Engine thread only (the job's steps).
    struct FoundCard {
        bool valid = false;
        uint8_t screen = 0;
        uint8_t net = 0;
        uint8_t port = 0;    // net_ledx, global port
        uint16_t card = 0;
    };
    FoundCard found_card;
    // Global port of the net being checked (-1 none): only its answer carries the result.
    int check_port GUARDED_BY(port_mutex) = -1;

    // ---- brightness and on/off schedules, the multi-function card
    void Extension_function();
    void Brightness_task();
    void Brightness_hand_change();
    void Brightness_time_change();
    void Brightness_auto_change();
    void dealwith_onoff();
    void Brightness_check_VMF();
    int Send_read_VMF_data_cmd();
    int Brightness_read_VMF_value();
    void Brightness_VMF_run();
    void VMF_data_back_result();

    // ---- USB upgrade (fpga_usb_upgrade.cpp), on the engine thread while g_usb_grade is set
    void usb_upgrade_manage_deal();
    // One step per call (the step byte of g_send_para): display and start time, package
    // list, installation, end time and change code 104.
    void usb_upgrade_deal();
    void get_usb_file_list_path();
    void usb_upgrade_main_deal();
    // Each 1 when installed, 0 when refused or failed. A bitstream or font is read whole
    // before its flash range is erased, and each piece programmed is read back (erased and
    // programmed once more on a difference, then failed); an application that does not read
    // back as written is deleted. update_muc_file is called holding g_app_install_mutex.
    int update_muc_file(const QString& path, uint32_t offset, uint32_t length);
    int update_txc_file(const QString& path, int flash, uint32_t offset);
    int update_c331_osd_font_file(const QString& path, uint32_t offset, uint32_t length);
    // The last upgrade's start and end times and what went wrong (the link screen shows it).
    QString usb_upgrade_text() const;
    // the upgrade's own (engine thread while g_usb_grade is set)
    QStringList usb_file_list;       // device paths of the packages
    uint8_t usb_file_num = 0;
    enum { kUpdateApp, kUpdateFpga0, kUpdateFpga1, kUpdateFont };
    uint8_t usb_update_flag[4] = {0, 0, 0, 0};
    // Tests: runs between the application's write and its read-back (a medium that
    // returns other bytes than it took).
    static std::function<void(const std::string& hostPath)> app_written_hook;   // set before the engine runs

    // ---- globals of the subsystem
    // the PC's mailbox and extend RAM: under mailboxRamMutex() (protocol/protocol_engines.h)
    static uint8_t MCU_RAM_CMD[kMailboxSize];
    static uint8_t MCU_RAM_EXTEND[kExtendSize];
    static const uint8_t RAM1[kRam1HeadSize];
    static uint8_t* MCU_REG_func[2];   // the mirrors: under reg_mutex
    // The RAM-1 images and the port buffers of both FPGAs, guarded by image_mutex on every
    // thread: the engine writes them, and so do the transports while they take card answers
    // (card table, link bytes) and run the mailbox (brightness mark); the transports and the
    // screens read them. A write that goes on to the FPGA keeps the lock through its SPI
    // transfer, so RAM 1 and its image change together. Order: port_mutex, image_mutex,
    // then the SPI mutex.
    static plat::Mutex image_mutex;
    static uint8_t* MCU_RAM_PARA_func[2] GUARDED_BY(image_mutex);
    static uint8_t* MCU_RAM_RX_func[2];   // the frames read from the receive RAMs: under port_mutex
    static uint8_t* MCU_RAM_ETH_BACK_PARA_func[2] GUARDED_BY(image_mutex);
    // FPGA i's image (kRam1ImageSize bytes) copied whole under image_mutex.
    static void imageSnapshot(int fpga, uint8_t* out);

    // ---- members other subsystems use
    // Operating time in chip 2 (fpga_clock_record.h), on g_clock_record.
    std::unique_ptr<clock_record_run> clock_record;
    plat::Mutex reg_mutex{plat::Lock::FpgaReg};     // mirror bytes only (reg_mirror_, MCU_REG_func)
    plat::Mutex object_mutex{plat::Lock::FpgaObject};   // interrupt handling and the transports' pass-through (before port_mutex)
    // Requests the scaler's dispatcher raises (scaler/engine_requests.h).
    std::atomic<uint8_t>& output_onoff_request = engine_requests::fpgaOutputOnOff;
    std::atomic<uint8_t>& output_position_request = engine_requests::fpgaOutputPosition;
    std::atomic<uint8_t>& brightness_request = engine_requests::fpgaBrightness;
    std::atomic<uint8_t> reply_ready{0};   // atomic: the pass-through's answer is queued (engine or link thread)
    FpgaBus bus;                     // set up before the thread starts; transfers under Utils::_spi_mutex
    fpga_drv* drv = nullptr;
    uint8_t flash_uid[kFlashUidBytes] = {};   // engine thread (bring-up)
    // Reader of the receiving-card files (the card jobs' recovery and smart-mapping files).
    std::unique_ptr<rcvRecovery> rcv_recovery = std::make_unique<rcvRecovery>();

    // ---- state (per FPGA): the engine thread's own; the atomics are read by the screens
    uint8_t ram_check_result[2] = {0, 0};
    // 1 once FPGA i's start-up has read its saved parameters (or set the defaults) into
    // its image: before that the image is zeros, not the FPGA's parameters. Set by the
    // engine thread, read by the PC links.
    std::atomic<uint8_t> image_loaded[2] = {{0}, {0}};
    std::atomic<uint8_t> reset_active[2] = {{0}, {0}};
    uint32_t reset_start[2] = {0, 0};
    uint32_t handshake_time = 0;
    uint32_t handshake_count = 0;
    std::atomic<uint8_t> check_state[2] = {{0}, {0}};
    uint8_t joint_step_ready[2] = {0, 0};
    uint32_t check_step_time[2] = {0, 0};
    uint32_t check_handshake_time[2] = {0, 0};
    std::atomic<uint8_t> start_state[2] = {{0}, {0}};
    uint32_t check_fail_count[2] = {0, 0};
    uint32_t check_reset_count[2] = {0, 0};
    uint8_t check_gave_up[2] = {0, 0};
    uint16_t start_retry_count[2] = {0, 0};
    uint8_t start_reset_count[2] = {0, 0};
    uint8_t relink_flag[2] = {0, 0};
    uint8_t relink_step[2] = {0, 0};
    uint16_t relink_count[2] = {0, 0};

    // brightness and schedule: the mailbox (a transport thread) loads them while the engine's
    // task runs them, so each is read and written whole under g_schedule_mutex
    uint8_t brightness_mode GUARDED_BY(g_schedule_mutex) = 0;
    uint8_t last_slot = 255;         // engine thread
    uint8_t HalfHourValue[48] GUARDED_BY(g_schedule_mutex);
    uint8_t onoff_count GUARDED_BY(g_schedule_mutex) = 0;
    uint8_t last_day GUARDED_BY(g_schedule_mutex) = 0;
    uint8_t on_hour[4] GUARDED_BY(g_schedule_mutex) = {}, on_minute[4] GUARDED_BY(g_schedule_mutex) = {};
    uint8_t off_hour[4] GUARDED_BY(g_schedule_mutex) = {}, off_minute[4] GUARDED_BY(g_schedule_mutex) = {};
    uint8_t on_pending[4] GUARDED_BY(g_schedule_mutex) = {}, off_pending[4] GUARDED_BY(g_schedule_mutex) = {};
    TimeRealType current_time{};     // engine thread
    // The percentage at RAM 0x880 that matches the level this engine sent last (kNothingSent
    // before the RAM and the screen were first seen to agree), and the RAM's stamp as it read
    // or wrote it: a repeated level is written back only over that word unchanged since. Under
    // c331_manage::manage_mutex.
    static constexpr uint16_t kNothingSent = 0xFFFF;
    uint16_t sent_brightness_ = kNothingSent;
    ChangeStamp sent_seen_ = 0;
    uint8_t sensor_data[128] = {};   // engine thread
    uint16_t vmf_dest = 0;           // 0: no multi-function card found (engine thread)
    uint8_t vmf_group = 0;           // 1..8 (engine thread)
    uint32_t sensor_wait_ms = 350;   // the sensor wait's bound on the monotonic clock (set before the thread runs)

    // receiving cards
    // Each whole transmit sequence, each frame's read and release, and the fields below
    // (the engine thread, the transports' pass-through and the check job's screen).
    plat::RecursiveMutex port_mutex{plat::Lock::FpgaPort};
    uint32_t searched_ports GUARDED_BY(port_mutex) = 0;     // bit p + 16 * fpga
    uint32_t answered_slots GUARDED_BY(port_mutex) = 0;     // bit 8 * fpga + receive slot
    uint8_t search_pass_mark GUARDED_BY(port_mutex) = 0;    // 0 none, 1 odd pass in progress, 2 even pass
    uint32_t last_links[2] = {0, 0};       // engine thread
    uint8_t own_answer GUARDED_BY(port_mutex) = 0;          // an answer to 0xF000 with opcode 0x61 or 0xA0
    uint8_t own_answer_copy[rcv::kMaxFrame] GUARDED_BY(port_mutex) = {};   // from its opcode byte on
    uint16_t own_answer_length GUARDED_BY(port_mutex) = 0;
    // the check job's screen: search answers carrying this id store their result byte
    bool check_config_valid GUARDED_BY(port_mutex) = false;
    uint32_t check_config_id GUARDED_BY(port_mutex) = 0;
    // pass-through
    uint8_t multi_port GUARDED_BY(port_mutex) = 0;
    uint32_t answered_ports GUARDED_BY(port_mutex) = 0;     // bit = global port - 1
    uint32_t expected_ports GUARDED_BY(port_mutex) = 0;     // linked ports with cards when the frame went out
    uint8_t pass_wait GUARDED_BY(port_mutex) = 0;
    uint32_t pass_send_time GUARDED_BY(port_mutex) = 0;
    uint8_t pass_tag GUARDED_BY(port_mutex) = 0;
    uint8_t pass_0ffe GUARDED_BY(port_mutex) = 0;
    uint8_t pass_last[rcv::kMaxFrame] GUARDED_BY(port_mutex) = {};   // last multi-port answer
    uint16_t pass_last_length GUARDED_BY(port_mutex) = 0;

    // register window: set by initialize() before the thread starts, read-only after
    void* window = nullptr;
    size_t window_length = 0;
    int mem_fd = -1;
    int msys_fd = -1;
    uint32_t window_request[5] = {};

private:
    // Every wait of the engine counts 10 ms ticks: while the FPGAs come up or a request
    // runs, one pass per tick keeps each step within a tick of its time; with both up and
    // nothing asked the pause is forty ticks (the scaler's requests wake it).
    static constexpr uint64_t kPassPaceUs = plat::kTickUs;

    bool stageUp(int i) const;
    // write_to_register; a black-bit write of the screen register that a look at RAM 0x844
    // decided passes the stamp of that look (`screenSeen`, moved on by its own write-back), else null.
    int writeRegister(uint8_t reg, uint8_t mask, uint8_t value, int fpga, ChangeStamp* screenSeen);
    static bool takeRequest(std::atomic<uint8_t>& request, plat::QtMutex& mutex) EXCLUDES(mutex);
    static void putBackRequest(std::atomic<uint8_t>& request, plat::QtMutex& mutex) EXCLUDES(mutex);
    int transfer(int fpga, const uint8_t* command, const uint8_t* tx, uint8_t* rx, unsigned len);
    void setResetLine(int i, uint16_t level);
    void closeDevices();
    void threadLoop();
    bool settled();
    void waitJobAnswer();
    int readSlot(int fpga, int slot, uint8_t* frame, uint16_t* length);
    void releaseSlot(int fpga, int slot);
    void storeCardEntry(int fpga, int port, uint16_t count, uint8_t status);
    void writeCardEntry(int fpga, int port, uint16_t count, uint8_t status) REQUIRES(image_mutex);
    void forwardToPc(int fpga, int slot, uint8_t* frame, uint16_t length, bool multi) REQUIRES(port_mutex);
    void queuePassAnswer(const uint8_t* frame, uint16_t length);
    uint16_t linkBitmap(int fpga, bool fresh);
    // receiving-card jobs
    void runJobStep(uint8_t op);
    void saveOrMappingStep(bool save);
    bool jobHeldByPc();
    void resumeStepTime();
    void jobProgress(int percent);
    void jobBusyProgress();
    void jobEnd(bool closeRing = true);
    uint32_t stepTime() const;
    void restartStepTime();
    bool answerTimedOut(uint32_t limit);
    bool answerWaiting();
    void noteCardAnswer(int fpga, int slot, const uint8_t* frame) REQUIRES(port_mutex);
    void reportUnanswered(const char* job);
    // The running job's own: engine thread only.
    bool job_held_ = false;              // the PC's window holds the job
    uint32_t job_held_since_ = 0;        // tick the hold began
    QString job_path_;                   // the file a job works on
    uint32_t job_position_ = 0;          // data of the current operation in it
    int job_port_ = -1;                  // global port the current operation goes to
    uint32_t job_timeout_ = 0;           // ticks the current frame waits for its answer
    uint8_t job_frame_[rcv::kMaxFrame] = {};
    uint8_t job_data_[1000] = {};
    // A job's frame sets them, an answer taken on any thread clears the port.
    int reply_port_ GUARDED_BY(port_mutex) = -1;   // global port a job waits on
    uint8_t reply_opcode_ GUARDED_BY(port_mutex) = 0;
    std::vector<std::string> unanswered_;   // engine thread (the job's report)
    std::atomic<uint16_t> total_cards_{0};   // atomic: the card search counts, the screens read
    std::atomic<uint32_t> busy_sends_{0};    // atomic: every transmit counts, tests read
    // Tick FPGA i was last released from reset or seen restarted on its own (0: never), by the
    // engine or a link thread taking card answers; read by the pass-throughs.
    std::atomic<uint32_t> down_since_[2] = {{0}, {0}};
    void noteDown(int i);
    bool cards_busy_ = false;   // engine thread
    // Flash records within a hold of the configuration flashes' update lock.
    int saveRecordHeld(int chip, uint32_t sector, const uint8_t* record, uint32_t length) REQUIRES(drv->update_mutex);
    int loadRecordHeld(int chip, uint32_t sector, uint8_t* record, uint32_t length) REQUIRES(drv->update_mutex);

    uint8_t reg_mirror_[2][kMirrorSize] GUARDED_BY(reg_mutex) = {};
    // Storage behind MCU_RAM_PARA_func, MCU_RAM_RX_func and MCU_RAM_ETH_BACK_PARA_func: under
    // their locks (image_mutex, port_mutex, image_mutex).
    uint8_t ram_para_[2][kRam1ImageSize] = {};
    uint8_t rx_buf_[2][1024] = {};
    uint8_t eth_back_para_[2][kPortBufferSize] = {};

    void usbNote(const QString& note);
    mutable plat::Mutex usb_text_mutex_{plat::Lock::UsbText};   // the two below: the upgrade writes, the link screen reads
    QString usb_upgrade_time_;
    QStringList usb_notes_;
    QStringList usb_refused_;   // names of the packages refused whole (engine thread)

    std::thread thread_;
    std::atomic<bool> stop_{false};
    // Lives as long as the engine: stopThread() wakes it while the thread may be leaving
    // its loop, so it must never be the thread's own stack object.
    // Idle, the link watch and the card search are the only work due: a pass every 40 ticks
    // keeps the search at its 80 and the thread off the core; the scaler's requests wake
    // it. Every wait of the engine counts ticks, so after a pass that found nothing the
    // pause goes straight to those 40 ticks (the answers a card search brings cost one
    // short pass, not a ramp of them).
    static constexpr uint32_t kIdlePassTicks = 40;
    plat::WorkerPacer pacer_{kPassPaceUs, kIdlePassTicks, kIdlePassTicks};
};
