#pragma once
// Process-wide state shared by the threads and screens of the controller.
// Counters and flags that one thread writes and others poll are atomics.
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>

class QTimer;
class MainWindow;
class LockWindow;

// 10 ms tick: written only by the GUI thread's tick slot, read everywhere.
extern std::atomic<uint32_t> G_timeTicks;
extern std::atomic<uint32_t> G_reboot_tickTicks;   // tick at which a reboot was requested
extern std::atomic<uint32_t> G_factoryage_ticks;   // last ageing-log sample
extern std::atomic<uint8_t> g_app_reset_flag;      // reboot pending (300 ticks after G_reboot_tickTicks)

extern std::atomic<uint8_t> g_debugSwitch;          // 254: debug prints on; also the log's echo level
extern std::atomic<uint8_t> g_page_focus;           // screen in front
extern std::atomic<uint8_t> g_language;             // follows RAM 0x300
extern std::atomic<uint32_t> g_auto_lock_time;      // ticks of idle before the status screen
extern std::atomic<uint32_t> g_back_to_mainwindow_time;  // ticks of idle before the home screen
extern std::atomic<uint8_t> g_passby_trans_port;    // 1 serial, 2 TCP, 3 UDP, 4 4G, 255 none
extern std::atomic<uint8_t> ScreenState;
extern std::atomic<uint8_t> g_force_bkcolor;
extern std::atomic<uint8_t> pc_cmd_valid;           // a PC frame arrived within the last 80 ticks
extern std::atomic<uint32_t> pc_cmd_time;
extern std::atomic<uint8_t> g_update_flag;          // firmware-update display is up
extern std::atomic<uint8_t> g_update_status;        // loader starts the application from its normal path
extern std::atomic<uint8_t> g_set_led_para;         // LED-geometry hand-shake
extern std::atomic<uint8_t> g_set_led_setup;
extern std::atomic<uint8_t> g_fpga_c331_start;
extern std::atomic<uint8_t> g_osd_update;
extern std::atomic<uint8_t> g_usb_grade;

extern uint32_t g_BPS;
extern uint32_t g_dataLen;
extern uint8_t g_udpnetmode;
extern uint8_t g_networkMode;

// Network and cloud settings copied from tcpip.ini (guarded by Utils::_settings_mutex).
extern int g_port;
extern int g_int_tcp_port;
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_barcode;
extern QString g_str_wifi_ip;
extern QString g_check_edid;
extern QString g_imagelayoutpassword;
extern QString g_usb_grade_path;
extern QString g_uKex_cloudserverip;
extern QString g_uKex_clouduserid;
extern QString g_uKex_controllername;
extern int g_uKex_cloudserverport;
extern uint8_t g_uKex_cloud;
extern uint8_t g_check_source;
extern unsigned int g_vlx_max_pixel;

extern char g_pid[32];  // device id: 32 lower-case hex characters, empty (zeros) when unreadable

extern QStringList factoryage_log;  // ageing-log lines, at most 3360
extern int factoryage_log_num;

extern unsigned char g_send_para[36];  // receiving-card job block
extern unsigned char line_type[12];    // smart-mapping wizard result
extern QString g_kvfile_name;

constexpr size_t kFileBufSize = 5242880;
// Shared 5 MiB transfer buffer (boot images on their way to flash): its user holds the
// file transfer's flash-store lock across the erase and program, never the file mutex.
extern unsigned char fileBuf_kavel[kFileBufSize];

extern QTimer* g_timer;

// Defined with these values and never used by the controller.
extern QString g_screen_on_time;
extern QString g_screen_off_time;
extern QString g_screenshotsPath;
extern QString g_dtsIp;
extern uint8_t g_rcv_sync_led;
extern uint32_t g_packetLen;
extern uint32_t g_devAdd;
extern uint8_t g_test_wifi_state;
extern QMutex g_flash_uid_mutex;
