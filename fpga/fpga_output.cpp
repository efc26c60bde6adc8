// Output geometry of the FPGAs' parameter RAM, the port link bookkeeping, the screen
// state commands and the LED-geometry hand-shake with the scaler's dispatcher.
#include <QMutexLocker>
#include <chrono>
#include <cstring>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"

namespace {

constexpr uint16_t kPortBase0to3[4] = {8, 19, 32, 43};
constexpr uint16_t kPortBase4to7 = 520;
constexpr uint16_t kPortBase8to15 = 576;
constexpr uint16_t kDefaultPortWidth = 0x0500;
constexpr uint16_t kDefaultPortHeight = 0x0200;

// Where port p sits in the 136-byte port buffer.
constexpr size_t kBufWindowWH = 0;
constexpr size_t kBufWindowXY = 132;
size_t bufPort(int p) {
    if (p < 4) return 4 + 8 * size_t(p);
    if (p < 8) return 36 + 8 * size_t(p - 4);
    return 68 + 8 * size_t(p - 8);
}

// PC-supplied offsets must not wrap a coordinate round to the other side of the screen.
uint16_t addClamped(uint16_t a, uint16_t b) {
    const uint32_t s = uint32_t(a) + b;
    return s > 0xFFFF ? 0xFFFF : uint16_t(s);
}

uint16_t cardCount(const uint8_t* image, int port) {
    uint16_t count, status;
    rcv::cardTableEntry(port, &count, &status);
    return le::rd16(image + count);
}

bool portLinked(int p, uint8_t links0, uint8_t links8) {
    return p < 8 ? (links0 >> p) & 1 : (links8 >> (p - 8)) & 1;
}

// Hand-shake steps count ticks; if the tick stands still (GUI thread blocked) they go
// on after this much real time, so the scaler's dispatcher is never left waiting.
constexpr uint32_t kBlackTicks = 11;
constexpr uint32_t kVideoOffTicks = 31;
constexpr auto kBlackWall = std::chrono::milliseconds(1000);
constexpr auto kVideoOffWall = std::chrono::milliseconds(3000);
std::chrono::steady_clock::time_point s_handshakeWall;   // FPGA engine only

}  // namespace

// clang-format off
const uint8_t fpga_manage::RAM1[kRam1HeadSize] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01,   // 0: 1280, 1024, 1398, 466
    0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02,   // 8: port 0 at (0, 0), 1280 x 512
    0x00, 0x00, 0x00,                                 // 16
    0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02,   // 19: port 1, 1280 x 512
    0x00, 0x00, 0x00, 0x02, 0x00,                     // 27: byte 30 = 2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,   // 32: port 2, width 256
    0x00, 0x00, 0x00,                                 // 40
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,   // 43: port 3; byte 48 = 1
    0x00, 0x00, 0x00, 0x00, 0x00,                     // 51
    0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04,   // 56: window (0, 0), 1280 x 1024
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // 64
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // 80
    0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,   // 96: links; 100: port 0 has 2 cards
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,               // 104
    0x56, 0x05, 0x00, 0x03, 0xD9, 0xB8, 0x0C, 0x00,   // 116: measured 1366 x 768, 833,753
};
// clang-format on

void fpga_manage::get_eth_param_addr(int port, uint16_t* x, uint16_t* y, uint16_t* w, uint16_t* h) {
    uint16_t base;
    if (port < 0 || port >= kPorts) port = 0;
    if (port < 4)
        base = kPortBase0to3[port];
    else if (port < 8)
        base = static_cast<uint16_t>(kPortBase4to7 + 8 * (port - 4));
    else
        base = static_cast<uint16_t>(kPortBase8to15 + 8 * (port - 8));
    *x = base;
    *y = static_cast<uint16_t>(base + 2);
    *w = static_cast<uint16_t>(base + 4);
    *h = static_cast<uint16_t>(base + 6);
}

void fpga_manage::H71_back_mcu_set_net_para(int fpga) {
    if (fpga != 0 && fpga != 1) return;
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* image = MCU_RAM_PARA_func[fpga];
    uint8_t* buf = MCU_RAM_ETH_BACK_PARA_func[fpga];
    std::memcpy(buf + kBufWindowWH, image + RAM1_WINDOW_W, 4);
    for (int p = 0; p < kPorts; ++p) {
        uint16_t x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        std::memcpy(buf + bufPort(p), image + x, 8);
    }
    std::memcpy(buf + kBufWindowXY, image + RAM1_WINDOW_X, 4);
}

void fpga_manage::H71_mcu_set_net_para(int fpga) {
    if (fpga != 0 && fpga != 1) return;
    uint16_t ox = 0, oy = 0;
    if (VlxRamPara::p_vlxrampara_config) {
        ox = VlxRamPara::p_vlxrampara_config->snapshotU16(vlxram::kOutputX);
        oy = VlxRamPara::p_vlxrampara_config->snapshotU16(vlxram::kOutputY);
    }
    plat::Locker<plat::Mutex> lock(image_mutex);
    uint8_t* image = MCU_RAM_PARA_func[fpga];
    const uint8_t* buf = MCU_RAM_ETH_BACK_PARA_func[fpga];
    le::wr16(image + RAM1_WINDOW_W, addClamped(le::rd16(buf + kBufWindowWH), ox));
    le::wr16(image + RAM1_WINDOW_H, addClamped(le::rd16(buf + kBufWindowWH + 2), oy));
    for (int p = 0; p < kPorts; ++p) {
        uint16_t x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        le::wr16(image + x, addClamped(le::rd16(buf + bufPort(p)), ox));
        le::wr16(image + y, addClamped(le::rd16(buf + bufPort(p) + 2), oy));
    }
}

void fpga_manage::H71_mcu_set_lcd_x_y_para(int fpga) {
    if (fpga != 1) return;
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* first = MCU_RAM_PARA_func[0];
    uint8_t* second = MCU_RAM_PARA_func[1];
    const uint16_t rightEdge = addClamped(le::rd16(first + RAM1_WINDOW_X), le::rd16(first + RAM1_WINDOW_W));
    const uint16_t bottomEdge = addClamped(le::rd16(first + RAM1_WINDOW_Y), le::rd16(first + RAM1_WINDOW_H));
    // FPGA 1 continues FPGA 0's picture: its own window then starts at its own origin
    if (le::rd16(second + RAM1_WINDOW_X) == rightEdge || le::rd16(second + RAM1_WINDOW_Y) == bottomEdge) {
        le::wr16(second + RAM1_WINDOW_X, 0);
        le::wr16(second + RAM1_WINDOW_Y, 0);
    }
}

void fpga_manage::eth_param_init(int clear, int fpga) {
    if (clear != 1 || (fpga != 0 && fpga != 1)) return;
    plat::Locker<plat::Mutex> lock(image_mutex);
    uint8_t* image = MCU_RAM_PARA_func[fpga];
    for (int p = 0; p < kPorts; ++p) {
        uint16_t x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        le::wr16(image + x, 0);
        le::wr16(image + y, 0);
        le::wr16(image + w, kDefaultPortWidth);
        le::wr16(image + h, kDefaultPortHeight);
    }
}

void fpga_manage::get_eth_min_x_y(int fpga, uint16_t* mx, uint16_t* my) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* image = MCU_RAM_PARA_func[fpga == 1 ? 1 : 0];
    *mx = 0xFFFF;
    *my = 0xFFFF;
    for (int p = 0; p < kPorts; ++p) {
        uint16_t x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        if (le::rd16(image + x) < *mx) *mx = le::rd16(image + x);
        if (le::rd16(image + y) < *my) *my = le::rd16(image + y);
    }
}

void fpga_manage::get_eth_max_border(int fpga, uint16_t* right, uint16_t* bottom) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* image = MCU_RAM_PARA_func[fpga == 1 ? 1 : 0];
    *right = 0;
    *bottom = 0;
    for (int p = 0; p < kPorts; ++p) {
        uint16_t x, y, w, h;
        get_eth_param_addr(p, &x, &y, &w, &h);
        const uint16_t r = addClamped(le::rd16(image + x), le::rd16(image + w));
        const uint16_t b = addClamped(le::rd16(image + y), le::rd16(image + h));
        if (r > *right) *right = r;
        if (b > *bottom) *bottom = b;
    }
}

void fpga_manage::get_eth_lcd_x_y(int fpga, uint16_t* x, uint16_t* y) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* image = MCU_RAM_PARA_func[fpga == 1 ? 1 : 0];
    *x = le::rd16(image + RAM1_WINDOW_X);
    *y = le::rd16(image + RAM1_WINDOW_Y);
}

void fpga_manage::get_eth_lcd_w_h(int fpga, uint16_t* w, uint16_t* h) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    const uint8_t* image = MCU_RAM_PARA_func[fpga == 1 ? 1 : 0];
    *w = le::rd16(image + RAM1_WINDOW_W);
    *h = le::rd16(image + RAM1_WINDOW_H);
}

void fpga_manage::update_eth_state(int fpga) {
    if (fpga != 0 && fpga != 1) return;
    if (!read_from_register(FPGA_REG_LINKS0, fpga) || !read_from_register(FPGA_REG_LINKS8, fpga)) return;
    const uint8_t l0 = mirror(FPGA_REG_LINKS0, fpga), l8 = mirror(FPGA_REG_LINKS8, fpga);
    plat::Locker<plat::Mutex> lock(image_mutex);
    uint8_t* image = MCU_RAM_PARA_func[fpga];
    const uint8_t b96 = static_cast<uint8_t>((image[RAM1_LINKS_0_3] & 0xE4) | (l0 & 0x03) | ((l0 & 0x0C) << 1));
    const uint8_t b512 = static_cast<uint8_t>((image[RAM1_LINKS_4_7] & 0xF0) | (l0 >> 4));
    const uint8_t b513 = l8;
    const std::pair<uint16_t, uint8_t> bytes[3] = {{RAM1_LINKS_0_3, b96}, {RAM1_LINKS_4_7, b512}, {RAM1_LINKS_8_15, b513}};
    for (const auto& [at, v] : bytes) {
        if (image[at] == v) continue;
        image[at] = v;
        write_fpga_ram(image + at, at, 1, FPGA_RAM_PARA, fpga);
    }
    for (int p = 0; p < kPorts; ++p) {
        if (portLinked(p, l0, l8)) continue;
        // an unplugged port has no cards (written only when the table said otherwise)
        uint16_t count, status;
        rcv::cardTableEntry(p, &count, &status);
        if (le::rd16(image + count) == 0 && image[status] == 0) continue;
        writeCardEntry(fpga, p, 0, 0);
    }
}

uint16_t fpga_manage::get_port_card_num(int port) {
    if (port < 0 || port >= 2 * kPorts) return 0;
    plat::Locker<plat::Mutex> lock(image_mutex);
    return cardCount(MCU_RAM_PARA_func[port / kPorts], port % kPorts);
}

uint16_t fpga_manage::check_netport_card(int fpga) {
    if (fpga != 0 && fpga != 1) return 0;
    plat::Locker<plat::Mutex> lock(image_mutex);
    uint16_t sum = 0;
    for (int p = 0; p < kPorts; ++p) sum = static_cast<uint16_t>(sum + cardCount(MCU_RAM_PARA_func[fpga], p));
    return sum;
}

int fpga_manage::set_fpga_lcd() {
    if (!get_fpga_status()) return 0;
    H71_mcu_set_net_para(0);
    {
        plat::Locker<plat::Mutex> lock(image_mutex);
        write_fpga_ram(MCU_RAM_PARA_func[0], 0, kRam1ImageSize, FPGA_RAM_PARA, 0);
    }
    write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, 0);
    H71_mcu_set_lcd_x_y_para(1);
    return 1;
}

int fpga_manage::set_output_status() {
    if (!get_fpga_status()) return 0;
    // The switch is decided from this look; a PC may write the word again before its write-back.
    ChangeStamp seen = 0;
    const uint16_t state =
        VlxRamPara::p_vlxrampara_config ? VlxRamPara::p_vlxrampara_config->snapshotU16(vlxram::kScreenState, &seen) : 0;
    for (int i = 0; i < 2; ++i) writeRegister(FPGA_REG_SCREEN, SCREEN_BLACK, state == 0 ? 0 : SCREEN_BLACK, i, &seen);
    return 1;
}

int fpga_manage::set_fpga_bri_val() {
    if (!get_fpga_status()) return 0;
    Brightness_hand_dealwith(kBrightnessRequest);
    return 1;
}

void fpga_manage::SCREEN_fpgactrl_status(int status) {
    struct Action {
        uint8_t reg, mask, value;
    };
    static const Action kActions[] = {
        {FPGA_REG_SCREEN, SCREEN_BLACK, SCREEN_BLACK},     // 0 black
        {FPGA_REG_SCREEN, SCREEN_BLACK, 0},                // 1 picture shown
        {FPGA_REG_SCREEN, SCREEN_FREEZE, SCREEN_FREEZE},   // 2 freeze
        {FPGA_REG_SCREEN, SCREEN_FREEZE, 0},               // 3 unfreeze
        {FPGA_REG_VIDEO, VIDEO_OUTPUT_ON, VIDEO_OUTPUT_ON},  // 4 video on
        {FPGA_REG_VIDEO, VIDEO_OUTPUT_ON, 0},              // 5 video off
        {0, 0, 0},                                         // 6 nothing
        {FPGA_REG_CTRL, CTRL_VBO_OUT, 0},                  // 7 V-by-One out off
        {FPGA_REG_CTRL, CTRL_VBO_OUT, CTRL_VBO_OUT},       // 8 V-by-One out on
    };
    if (status == 9) {
        for (int i = 0; i < 2; ++i) read_from_register(FPGA_REG_VBO, i);
        return;
    }
    if (status < 0 || status > 8 || status == 6) return;
    const Action& a = kActions[status];
    for (int i = 0; i < 2; ++i) write_to_register(a.reg, a.mask, a.value, i);
}

void fpga_manage::SCREEN_fpgactrl_status2(int status, int fpga) {
    switch (status) {
    case 0: write_to_register(FPGA_REG_SCREEN, SCREEN_BLACK, SCREEN_BLACK, fpga); break;
    case 4: write_to_register(FPGA_REG_VIDEO, VIDEO_OUTPUT_ON, VIDEO_OUTPUT_ON, fpga); break;
    case 10: write_to_register(FPGA_REG_CTRL, CTRL_OUTPUT_HOLD, CTRL_OUTPUT_HOLD, fpga); break;
    case 11: write_to_register(FPGA_REG_CTRL, CTRL_OUTPUT_HOLD, 0, fpga); break;
    default: break;
    }
}

void fpga_manage::set_led_para_deal() {
    const uint8_t para = g_set_led_para;
    if (para == 2) {
        {
            plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
            g_set_led_para = 0;
            g_set_led_setup = 0;
        }
        // both start again with the new geometry and switch the output on at the end
        reset_fpga_rst(0);
        reset_fpga_rst(1);
        return;
    }
    if (para != 1) return;
    if (!get_fpga_status()) {
        // Nothing to blank: the FPGAs come up later with the new geometry anyway, and the
        // dispatcher must not wait on FPGAs that may not come up for a long time.
        plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = 0;
        g_set_led_setup = 0;
        return;
    }
    const auto wall = std::chrono::steady_clock::now() - s_handshakeWall;
    switch (g_set_led_setup) {
    case 0: {
        SCREEN_fpgactrl_status(0);
        plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
        handshake_time = G_timeTicks;
        s_handshakeWall = std::chrono::steady_clock::now();
        g_set_led_setup = 1;
        break;
    }
    case 1:
        if (Utils::getTimeSpace(handshake_time) < kBlackTicks && wall < kBlackWall) return;
        {
            plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
            handshake_time = G_timeTicks;
            s_handshakeWall = std::chrono::steady_clock::now();
        }
        SCREEN_fpgactrl_status(5);
        {
            plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
            g_set_led_setup = 2;
        }
        break;
    case 2: {
        if (Utils::getTimeSpace(handshake_time) < kVideoOffTicks && wall < kVideoOffWall) return;
        plat::Locker<plat::QtMutex> lock(Utils::_led_para_init_mutex);
        handshake_time = G_timeTicks;
        g_set_led_setup = 0;
        g_set_led_para = 0;
        ++handshake_count;
        break;
    }
    default: break;
    }
}
