// Window controls and port queries. The dispatcher names windows by their RAM block
// (0..5); the window records and PM_ arrays are numbered among the enabled windows, so
// every setter first finds the record of the window it was given.
#include "core/vlxrampara.h"
#include "platform/board_wiring.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;

int c331_manage::recordOf(int w) const {
    for (int k = 0; k < win_count && k < WINDOW_MAX; ++k)
        if (gWininfo[k].ramWin == w) return k;
    return -1;
}

// Source 0..5 to the C331 input port its receiver drives (the board's wiring table).
int c331_manage::vlxApi_inputCvtC331(int port) {
    return port >= 0 && port < 6 ? plat::wiring::kVideoInputs[port].scalerPort : 255;
}

int c331_manage::vlxApi_GetPortDevId(int port) {
    for (const plat::wiring::VideoInputWiring& in : plat::wiring::kVideoInputs)
        if (in.scalerPort == port) return in.source;
    return 3;
}

int c331_manage::dbdModeCode(int ramValue) {
    static const int kCodes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    return ramValue >= 0 && ramValue < 10 ? kCodes[ramValue] : 1;
}

void c331_manage::c331_SetWinOutput(int fd, int w, int data) {
    const int k = recordOf(w);
    if (k < 0) return;
    C331WinInfo& wi = gWininfo[k];
    const uint8_t next = uint8_t(data & 3);
    const uint8_t old = wi.output;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    const int dbd = (data & 0x100) && ram ? dbdModeCode(ram->ramU16(vlxram::windowField(w, vlxram::kWinDbdMode))) : 0;
    if (next != old) {
        if ((next ^ old) & 1) {
            wi.output = uint8_t((wi.output & ~1u) | (next & 1));
            set_input_bkg2(fd, w, next & 1);
        }
        if ((next ^ old) & 2) {
            const int port = vlxApi_inputCvtC331(wi.input);
            const bool noSignal = port > 5 || PI_NOSIGNAL[port];
            if (!noSignal) {
                wi.output = uint8_t((wi.output & ~2u) | (next & 2));
                win_freeze_sel(fd, w, data & 2);
                // No reprogramming under a freeze change; the switching effect and the
                // dot-by-dot mode are kept for the next programming of the window (the shadow
                // refresh would otherwise hide them).
                PM_WIN_FADE_EN[k] = (data >> 2) & 1;
                if (PM_WIN_DBD_MODE[k] != dbd) {
                    PM_WIN_DBD_MODE[k] = dbd;
                    PM_CHG[kChgDbd][k] = 1;
                }
                return;
            }
            wi.output = uint8_t(wi.output & ~2u);  // nothing to freeze without a picture
        }
    }
    PM_WIN_FADE_EN[k] = (data >> 2) & 1;
    PM_WIN_DBD_MODE[k] = dbd;
    PM_CHG[kChgDbd][k] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinDbdMode(int fd, int w, int mode) {
    const int k = recordOf(w);
    if (k < 0) return;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    const bool dbdOn = ram && (ram->ramU16(vlxram::windowField(w, vlxram::kWinOutput)) & 0x100);
    // A code is kept only while the window shows dot by dot; otherwise it stays 0.
    if (!dbdOn) return;
    PM_WIN_DBD_MODE[k] = dbdModeCode(mode);
    PM_CHG[kChgDbd][k] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinAttr(int w, int data) {
    const int k = recordOf(w);
    if (k < 0) return;
    gWininfo[k].rotate = uint8_t(data & 3);
    PM_WIN_ATTR0[k] = data & 1;
    PM_WIN_ATTR1[k] = (data >> 1) & 1;
    PM_CHG[kChgAttr][k] = 1;
    set_output(spi_fd);
}

void c331_manage::c331_SetWinPriority(int w, int priority) {
    const int k = recordOf(w);
    if (k < 0) return;
    gWininfo[k].priority = uint8_t(priority);
}

void c331_manage::c331_SetWinPriority1(int fd) {
    for (int k = 0; k < WINDOW_MAX; ++k) PM_OVERLAY_PRI[k] = k < win_count ? 5 - gWininfo[k].priority % 6 : 0;
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::win_freeze_sel(int fd, int w, int flags) {
    (void)fd;
    const int k = recordOf(w);
    if (k < 0) return;
    const int c = win_ich[k];
    if (c < 0 || c > 7) return;
    writeW(kRegIsyct, (flags & 2) ? kIchFreeze : kIchRun, unsigned(c));
}

void c331_manage::c331_SetInputsourceCrop(int w, int sourceWord) {
    const int k = recordOf(w);
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    const int idx = sourceWord & 0xFF;
    if (k < 0 || !ram || idx >= kCropPresets) return;
    gWininfo[k].cropIdx = uint8_t(idx);
    gWininfo[k].input = uint8_t(ram->ramByte(vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(idx)) & 0x0F);
}

int c331_manage::vlxApi_GetWinDbdMultiPort(int w, int ports[6]) const {
    for (int i = 0; i < 6; ++i) ports[i] = 6;
    const int k = recordOf(w);
    if (k < 0) return 0;
    return c331geom::dbdPorts(PM_WIN_DBD_MODE[k], ports) > 0 ? 1 : 0;
}
