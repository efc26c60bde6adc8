// Bench operations on the C331 started by the service registers: moving bars, V-by-One
// receiver restarts, register read-backs and the synchronisation tests.
#include "core/global.h"
#include "platform/platform.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_print.h"

namespace {

// Slide-bar block of one OCH (bank 0x08 + 16 x OCH).
constexpr uint32_t kBarCtl = 0x085701, kBarOpt[3] = {0x085801, 0x085901, 0x085A01};
constexpr uint32_t kBarH = 0x085B02, kBarV = 0x085D02, kBarW = 0x085F02, kBarLen = 0x086102;
constexpr uint32_t kBarColor[3] = {0x086301, 0x086401, 0x086501}, kBarStep[3] = {0x086601, 0x086701, 0x086801};

struct SlideBar {
    unsigned och;
    uint8_t colour[3], step[3];
};

void closing(const char* text) {
    if (g_debugSwitch == 254) c331_printf("%s", text);
}

// Input and output bars alike: control, position 160/0, width 32, length, colours, steps.
template <size_t N>
void slideBars(c331_manage& m, const SlideBar (&bars)[N], unsigned ctl, unsigned length) {
    auto w = [&m](uint32_t d, unsigned v, unsigned och) { m.drv()->write_C331(m.fd(), d, v, 16 * och); };
    for (const SlideBar& b : bars) {
        w(kBarCtl, ctl, b.och);
        for (uint32_t r : kBarOpt) w(r, 0, b.och);
        w(kBarH, 160, b.och);
        w(kBarV, 0, b.och);
        w(kBarW, 32, b.och);
        w(kBarLen, length, b.och);
        for (int i = 0; i < 3; ++i) w(kBarColor[i], b.colour[i], b.och);
        for (int i = 0; i < 3; ++i) w(kBarStep[i], b.step[i], b.och);
    }
}

}  // namespace

void c331_manage::output_slidebar(int fd) {
    (void)fd;
    static const SlideBar kBars[4] = {{0, {255, 255, 255}, {3, 3, 3}},
                                      {1, {255, 0, 0}, {3, 0, 0}},
                                      {2, {0, 255, 0}, {0, 3, 0}},
                                      {3, {0, 0, 255}, {0, 0, 3}}};
    slideBars(*this, kBars, 9, 0x560);
    closing("\n output_slidebar over ");
}

void c331_manage::input_slidebar(int fd) {
    (void)fd;
    static const SlideBar kBars[2] = {{4, {255, 255, 255}, {3, 3, 3}}, {5, {0, 255, 0}, {0, 3, 0}}};
    slideBars(*this, kBars, 0x89, 0xAC0);
    closing("\n input_slidebar over ");
}

void c331_manage::disable_slidebar(int fd) {
    (void)fd;
    for (unsigned k = 0; k < 6; ++k) writeW(kBarCtl, 0, k);
    closing("\n disable_slidebar over ");
}

void c331_manage::vbyone_rx_ch1_seq(int fd) {
    (void)fd;
    writeW(0x027F01, 14);
    writeW(0x027F01, 15);
    writeW(0x024001, 5);
    writeW(0x024F01, 255);
    writeW(0x024C01, 0xAB);
    closing("\n vbyone_rx_ch1_seq over ");
}

void c331_manage::vbyone_rx_ch2_seq(int fd) {
    (void)fd;
    writeW(0x027F01, 13);
    writeW(0x027F01, 15);
    writeW(0x025C01, 5);
    writeW(0x026B01, 255);
    writeW(0x026801, 0xAB);
    closing("\n vbyone_rx_ch2_seq over ");
}

void c331_manage::read_c331_b174bug(int fd) {
    (void)fd;
    static const struct {
        uint32_t desc;
        const char* name;
    } kRegs[8] = {{0xAE4002, "B174_VI11FHM"}, {0xAE4202, "B174_VI13FHM"}, {0xAE4402, "B174_VI15FHM"},
                  {0xAE4602, "B174_VI17FHM"}, {0xAE5C03, "B174_VI11FVM"}, {0xAE5F03, "B174_VI13FVM"},
                  {0xAE6203, "B174_VI15FVM"}, {0xAE6503, "B174_VI17FVM"}};
    for (const auto& r : kRegs) {
        const unsigned v = readW(r.desc);
        if (g_debugSwitch == 254) c331_printf("\n read_c331_b174bug(%s=%d ) over \n", r.name, int(v + 1));
    }
    const unsigned dual = readW(0x031A01);
    if (g_debugSwitch == 254) c331_printf("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n", int(dual));
}

void c331_manage::write_read_c331_b80_iacthstch5(int fd) {
    (void)fd;
    const unsigned before = readW(0x501702);
    c331_printf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) read \n", int(before));
    const unsigned written = (before + 100) & 0xFFFF;
    writeW(0x501702, written);
    const unsigned after = readW(0x501702);
    c331_printf("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) write=%#x,read=%#x \n", int(written), written,
                after);
}

void c331_manage::sync_c331_device_test_input(int fd) {
    (void)fd;
    writeW(0x004801, 0x89);
    writeW(0x004901, 0x43);
    writeW(0x004A01, 2);
    writeW(0x004B01, 0x10);
    writeW(0x081802, 1);
    writeW(0x080F01, 0xC4);
    Sleep(100);
    writeW(0x080F01, 0);
    closing("\n sync_c331_device_test_input over ");
}

void c331_manage::sync_c331_device_test_frame_lock(int fd) {
    (void)fd;
    writeW(0x080F01, 4);
    writeW(0x080802, 3);
    writeW(0x081802, 1);
    for (unsigned k = 0; k < 8; ++k) writeW(0x080C02, 5612, k);
    closing("\n sync_c331_device_test_frame_lock over ");
}
