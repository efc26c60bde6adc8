#pragma once
// Process-wide state shared by the threads and screens of the controller.
// Counters and flags that one thread writes and others poll are atomics.
#include <QList>
#include "platform/annotated_mutex.h"
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>

#include "core/utils.h"

class QTimer;
class MainWindow;
class LockWindow;

// 10 ms tick: written only by the GUI thread's tick slot, read everywhere.
extern std::atomic<uint32_t> G_timeTicks;
// Reboot request: the links (a restart command, an installed application) store the tick,
// then the flag; the GUI thread's tick reads them and reboots.
extern std::atomic<uint32_t> G_reboot_tickTicks;   // tick at which a reboot was requested
extern std::atomic<uint32_t> G_factoryage_ticks;   // last ageing-log sample (GUI thread's tick only)
extern std::atomic<uint8_t> g_app_reset_flag;      // reboot pending (300 ticks after G_reboot_tickTicks)

// Atomics: written where the comment says, read by any thread.
extern std::atomic<uint8_t> g_debugSwitch;          // 254: debug prints on; also the log's echo level (set only by tests)
extern std::atomic<uint8_t> g_page_focus;           // screen in front (the screens on the GUI thread)
extern std::atomic<uint8_t> g_language;             // follows RAM 0x300 (whoever writes that byte)
extern std::atomic<uint32_t> g_auto_lock_time;      // ticks of idle before the status screen (GUI thread)
extern std::atomic<uint32_t> g_back_to_mainwindow_time;  // ticks of idle before the home screen (GUI thread)
extern std::atomic<uint8_t> g_passby_trans_port;    // 1 serial, 2 TCP, 3 UDP, 4 4G, 255 none (the link
                                                    // holding the pass-through turn sets it, the engine takes it)
extern std::atomic<uint8_t> ScreenState;            // FPGA engine and mailbox writers: 1 picture shown, 0 black
extern std::atomic<uint8_t> g_force_bkcolor;        // scaler manager and FPGA start-up: background forced
extern std::atomic<uint8_t> g_update_flag;          // firmware-update display is up (FPGA engine's USB upgrade)
extern std::atomic<uint8_t> g_update_status;        // loader starts the application from its normal path
                                                    // (start-up, then the application installer)
extern std::atomic<uint8_t> g_set_led_para;         // LED-geometry hand-shake: a screen sets 1, the scaler 2, the engine clears
extern std::atomic<uint8_t> g_set_led_setup;        // LED-size screens ask, the FPGA engine steps and ends it
extern std::atomic<uint8_t> g_fpga_c331_start;      // set once by the scaler manager, read by the FPGA engine
extern std::atomic<uint8_t> g_osd_update;           // PC links and the scaler manager: OSD redraw asked
extern std::atomic<uint8_t> g_usb_grade;            // link screen sets, the FPGA engine clears: USB upgrade runs

// The PC's window on the FPGAs and the cards' bus: while a PC's frames reach the FPGAs or the
// receiving cards (pass-throughs, FPGA register and RAM commands, the FPGA parameter save and
// update start), the FPGA engine's own card frames (jobs, card search) wait, so that they do
// not mix with the PC's on the cards' bus. One word, the tick of the last such frame (0: no
// window), so a reader never sees a new frame with an old time: the link threads note frames,
// the FPGA engine ends the window once kTicks have passed since the last one.
namespace pc_window {
constexpr uint32_t kTicks = 80;
enum State { kNone, kOpen, kEnded };
// Link threads: a frame that reaches the FPGAs or the cards arrived now.
void note();
// FPGA engine: kOpen within kTicks of the last frame; past them the window ends, and the one
// call that ended it gets kEnded (a frame noted meanwhile keeps it open).
State look();
// A window is open and the engine has not ended it.
bool open();
// Tick of the last frame, 0 without a window.
uint32_t tick();
void clear();  // tests and benchmarks
// Tests: called by look() after it found the span over and before it ends the window.
void setEndingHookForTest(void (*hook)());
}  // namespace pc_window

// Start-up values: written by start-up before the links' threads exist, read-only after.
extern uint32_t g_BPS;
extern uint32_t g_dataLen;
extern uint8_t g_udpnetmode;
extern uint8_t g_networkMode;

// Network and cloud settings copied from tcpip.ini (guarded by Utils::_settings_mutex).
extern int g_port GUARDED_BY(Utils::_settings_mutex);
extern int g_int_tcp_port GUARDED_BY(Utils::_settings_mutex);
extern QString g_str_ip GUARDED_BY(Utils::_settings_mutex);
extern QString g_srt_mask GUARDED_BY(Utils::_settings_mutex);
extern QString g_str_gateway GUARDED_BY(Utils::_settings_mutex);
extern QString g_str_barcode GUARDED_BY(Utils::_settings_mutex);
extern QString g_str_wifi_ip GUARDED_BY(Utils::_settings_mutex);
extern QString g_check_edid GUARDED_BY(Utils::_settings_mutex);
extern QString g_imagelayoutpassword GUARDED_BY(Utils::_settings_mutex);
extern QString g_usb_grade_path GUARDED_BY(Utils::_settings_mutex);
extern QString g_uKex_cloudserverip GUARDED_BY(Utils::_settings_mutex);
extern QString g_uKex_clouduserid GUARDED_BY(Utils::_settings_mutex);
extern QString g_uKex_controllername GUARDED_BY(Utils::_settings_mutex);
extern int g_uKex_cloudserverport GUARDED_BY(Utils::_settings_mutex);
extern uint8_t g_uKex_cloud GUARDED_BY(Utils::_settings_mutex);
extern uint8_t g_check_source GUARDED_BY(Utils::_settings_mutex);
extern unsigned int g_vlx_max_pixel GUARDED_BY(Utils::_settings_mutex);

// Device id: 32 lower-case hex characters, empty (zeros) when unreadable. Written by start-up
// (ConfigEngine::pInstance) before the links' threads exist, read-only after.
extern char g_pid[32];

// GUI thread: the ageing-log lines (at most 3360), appended by the tick, shown by the advanced
// settings; cleared by start-up.
extern QStringList factoryage_log;
extern int factoryage_log_num;

// The receiving-card job block and what a job reads (fpga/job_block.h): written by a screen on
// the GUI thread before it stores the job code (release), read by the FPGA engine while byte 0
// holds the job, which clears bytes 0 and 1 when done; the screens leave the rest alone meanwhile.
extern unsigned char g_send_para[36];  // receiving-card job block
extern unsigned char line_type[12];    // smart-mapping wizard result
extern QString g_kvfile_name;          // the scan file a job replays

constexpr size_t kFileBufSize = 5242880;
// Shared 5 MiB transfer buffer (boot images on their way to flash): its user holds the
// file transfer's flash-store lock across the erase and program, never the file mutex.
extern unsigned char fileBuf_kavel[kFileBufSize];

extern QTimer* g_timer;  // GUI thread: the 10 ms tick

// Defined with these values and never used by the controller (no thread touches them).
extern QString g_screen_on_time;
extern QString g_screen_off_time;
extern QString g_screenshotsPath;
extern QString g_dtsIp;
extern uint8_t g_rcv_sync_led;
extern uint32_t g_packetLen;
extern uint32_t g_devAdd;
extern uint8_t g_test_wifi_state;
extern plat::QtMutex g_flash_uid_mutex;
