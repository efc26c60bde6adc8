#include "core/global.h"

#include "core/utils.h"

std::atomic<uint32_t> G_timeTicks{0};
std::atomic<uint32_t> G_reboot_tickTicks{0};
std::atomic<uint32_t> G_factoryage_ticks{0};
std::atomic<uint8_t> g_app_reset_flag{0};

std::atomic<uint8_t> g_debugSwitch{254};
std::atomic<uint8_t> g_page_focus{0};
std::atomic<uint8_t> g_language{0};
std::atomic<uint32_t> g_auto_lock_time{30000};
std::atomic<uint32_t> g_back_to_mainwindow_time{18000};
std::atomic<uint8_t> g_passby_trans_port{255};
std::atomic<uint8_t> ScreenState{1};
std::atomic<uint8_t> g_force_bkcolor{1};
std::atomic<uint8_t> g_update_flag{0};
std::atomic<uint8_t> g_update_status{0};
std::atomic<uint8_t> g_set_led_para{0};
std::atomic<uint8_t> g_set_led_setup{0};
std::atomic<uint8_t> g_fpga_c331_start{0};
std::atomic<uint8_t> g_osd_update{0};
std::atomic<uint8_t> g_usb_grade{0};

namespace pc_window {
namespace {
// 32 bits: lock-free on the 32-bit ARM as well
std::atomic<uint32_t> g_lastFrameTick{0};
std::atomic<void (*)()> g_endingHook{nullptr};
}  // namespace

void note() {
    const uint32_t now = G_timeTicks.load();
    // tick 0 is "no window": the tick before it counts the same span
    g_lastFrameTick.store(now ? now : UINT32_MAX);
}

State look() {
    uint32_t t = g_lastFrameTick.load();
    if (t == 0) return kNone;
    if (Utils::getTimeSpace(t) <= kTicks) return kOpen;
    if (auto hook = g_endingHook.load()) hook();
    // only the tick it looked at is ended: a frame noted since then keeps the window
    if (g_lastFrameTick.compare_exchange_strong(t, 0)) return kEnded;
    return t ? kOpen : kNone;
}

bool open() { return g_lastFrameTick.load() != 0; }
uint32_t tick() { return g_lastFrameTick.load(); }
void clear() { g_lastFrameTick.store(0); }
void setEndingHookForTest(void (*hook)()) { g_endingHook.store(hook); }
}  // namespace pc_window

uint32_t g_BPS = 115200;
uint32_t g_dataLen = 32;
uint8_t g_udpnetmode = 1;
uint8_t g_networkMode = 1;

int g_port = 5005;
int g_int_tcp_port = 5005;
QString g_str_ip;
QString g_srt_mask;
QString g_str_gateway;
QString g_str_barcode;
QString g_str_wifi_ip = QStringLiteral("192.168.22.101");
QString g_check_edid;
QString g_imagelayoutpassword;
QString g_usb_grade_path;
QString g_uKex_cloudserverip;
QString g_uKex_clouduserid;
QString g_uKex_controllername;
int g_uKex_cloudserverport = 0;
uint8_t g_uKex_cloud = 0;
uint8_t g_check_source = 0;
unsigned int g_vlx_max_pixel = 0;

char g_pid[32] = {0};

QStringList factoryage_log;
int factoryage_log_num = 0;

unsigned char g_send_para[36] = {0};
unsigned char line_type[12] = {0};
QString g_kvfile_name;

unsigned char fileBuf_kavel[kFileBufSize];

QTimer* g_timer = nullptr;

QString g_screen_on_time = QStringLiteral("09:00:00");
QString g_screen_off_time = QStringLiteral("19:00:00");
QString g_screenshotsPath;
QString g_dtsIp = QStringLiteral("192.168.1.101");
uint8_t g_rcv_sync_led = 0;
uint32_t g_packetLen = 1024;
uint32_t g_devAdd = 0xFFFF;
uint8_t g_test_wifi_state = 1;
plat::QtMutex g_flash_uid_mutex{plat::Lock::FlashUid};
