// Crop: a window may show a rectangle of its input. The chip takes it as four margins in
// source pixels (left, right, top, bottom), recomputed whenever the input's size changes.
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"

using c331geom::CropRect;

int c331_manage::inputWidth(int port) const {
    if (port < 0 || port >= INPUT_PORTS) return 0;
    // The V-by-One ports below state 4 deliver two pixels per clock: the measured width counts half.
    const int w = PI_ACT[port].HW;
    return (port >= 4 && PI_STATE(port) < 4) ? 2 * w : w;
}

int c331_manage::vlxApi_CropGetOffset(int port, const CropRect& rect, int type) const {
    if (port < 0 || port >= INPUT_PORTS) return 0;
    return c331geom::cropMargin(inputWidth(port), PI_ACT[port].VW, rect, type);
}

int c331_manage::vlxApi_OchGetWinOffset1(const C331WinInfo& win, int type) const {
    return c331geom::ochWinOffset(win.x, win.y, win.width, win.height, win.ochCntH, win.ochCntV, panel.ochW,
                                  panel.ochH, type);
}

void c331_manage::vlxApi_updateCrop(int port) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    for (int k = 0; k < win_count && k < WINDOW_MAX; ++k) {
        if (PM_INPUT[k] != port || !PM_INPUT_OFFSET_EN[k] || gWininfo[k].cropIdx >= vlxram::kCropEntries) continue;
        const unsigned e = vlxram::kCropTable + vlxram::kCropEntrySize * gWininfo[k].cropIdx;
        // the input poll runs outside the pass's hold while a PC may write the table
        unsigned char b[8];
        ram->snapshot(e + 2, sizeof b, b);
        const CropRect r{VlxRamPara::getU16(b, 0), VlxRamPara::getU16(b, 2), VlxRamPara::getU16(b, 4),
                         VlxRamPara::getU16(b, 6)};
        for (int i = 0; i < 4; ++i) PM_INPUT_OFFSET[k][i] = vlxApi_CropGetOffset(port, r, i);
    }
}

void c331_manage::c331_SetCrop(int w, int on, const int rect[4]) {
    const int k = recordOf(w);
    if (k < 0) {
        if (g_debugSwitch == 254) writeLogMsg(LOG_DEBUG, "[c331_SetCrop]  not found win:" + std::to_string(w));
        return;
    }
    setCropOfRecord(k, on, CropRect{rect[0], rect[1], rect[2], rect[3]});
}

void c331_manage::setCropOfRecord(int k, int on, CropRect rect) {
    if (k < 0 || k >= WINDOW_MAX) return;
    const int port = vlxApi_inputCvtC331(gWininfo[k].input);
    if (on && port > 5) {
        writeLogMsg(LOG_WARNING, "c331: crop of window " + std::to_string(k) + " names no input; ignored");
        return;
    }
    if (port <= 5) c331geom::clipCrop(inputWidth(port), PI_ACT[port].VW, rect);
    PM_INPUT_OFFSET_EN[k] = on ? 1 : 0;
    for (int i = 0; i < 4; ++i) PM_INPUT_OFFSET[k][i] = on ? vlxApi_CropGetOffset(port, rect, i) : 0;
    // The crop changes what the window's input channel captures.
    PM_CHG[kChgInput][k] = 3;
    set_output(spi_fd);
}
