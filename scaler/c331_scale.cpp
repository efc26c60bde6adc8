// Window geometry and scaling: a window's input rectangle (what its ICHs capture) and
// output rectangle (where its OCHs place it), and the stitching relation between windows.
#include <algorithm>
#include <cstdio>

#include "core/global.h"
#include "core/logMsg.h"
#include "scaler/c331_manage.h"

using c331geom::ImageWindow;

namespace {

void printWin(const char* name, int w, const ImageWindow& r) {
    if (g_debugSwitch != 254) return;
    char text[96];
    std::snprintf(text, sizeof text, "%s[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d", name, w, r.HST, r.HW, r.VST, r.VW);
    writeLogMsg(LOG_DEBUG, text);
}

}  // namespace

void c331_manage::calc_iwin2(int w) {
    if (w < 0 || w >= WINDOW_MAX) return;
    ImageWindow& iw = IWIN[w];
    iw = ImageWindow{};
    const int p = PM_INPUT[w];
    if (!PM_WIN_SHAPE[w][0] || !PM_WIN_SHAPE[w][1] || p < 0 || p >= INPUT_PORTS || !PI_ACT[p].HW || !PI_ACT[p].VW) {
        printWin("IWIN", w, iw);
        return;
    }
    const ImageWindow* R = dbd_act;
    const bool deint = ich.win_ich[w][0] >= 0 && ich.win_ich[w][0] < 4;
    switch (PM_WIN_DBD_MODE[w]) {
    case 1:
        iw.HW = R[p].HW;
        iw.VW = R[p].VW * ((PI_SCAN_MODE(p) && deint) ? 2 : 1);
        break;
    case 20: iw.HW = R[0].HW + R[1].HW, iw.VW = R[0].VW; break;
    case 22: iw.HW = R[2].HW + R[3].HW, iw.VW = R[2].VW; break;
    case 30: iw.HW = R[0].HW + R[1].HW + R[2].HW, iw.VW = R[0].VW; break;
    case 40: iw.HW = R[0].HW + R[1].HW + R[2].HW + R[3].HW, iw.VW = R[0].VW; break;
    case 50: iw.HW = R[4].HW + R[5].HW, iw.VW = R[4].VW; break;
    case 21: iw.HW = R[0].HW, iw.VW = R[0].VW + R[1].VW; break;
    case 23: iw.HW = R[2].HW, iw.VW = R[2].VW + R[3].VW; break;
    case 41: iw.HW = R[0].HW + R[1].HW, iw.VW = R[0].VW + R[2].VW; break;
    case 51: iw.HW = R[4].HW, iw.VW = R[4].VW + R[5].VW; break;
    default: {
        const int W = PI_ACT[p].HW * (PI_STATE(p) == 1 ? 2 : 1);
        int H = PI_ACT[p].VW;
        if (PM_INPUT_OFFSET_EN[w]) {
            if (PI_SCAN_MODE(p)) H *= 2;
            const int* m = PM_INPUT_OFFSET[w];
            iw.HST = m[0] < W ? m[0] : 0;
            iw.HW = W - m[0] - m[1];
            if (iw.HW < 1) iw.HW = W;
            iw.VST = m[2] < H ? m[2] : 0;
            iw.VW = H - m[2] - m[3];
            if (iw.VW < 1) iw.VW = H;
        } else {
            iw.HW = W;
            iw.VW = H * ((PI_SCAN_MODE(p) && deint) ? 2 : 1);
        }
    }
    }
    printWin("IWIN", w, iw);
    IWIN_W[w] = uint16_t(std::max(0, iw.HW));
    IWIN_H[w] = uint16_t(std::max(0, iw.VW));
}

void c331_manage::calc_owin2(int w) {
    if (w < 0 || w >= WINDOW_MAX) return;
    ImageWindow& ow = OWIN[w];
    ImageWindow& iw = IWIN[w];
    ow = ImageWindow{};
    if (PM_WIN_SHAPE[w][0] > 0) ow.HW = panel.ochW * PM_WIN_SHAPE[w][0];
    if (PM_WIN_SHAPE[w][1] > 0) ow.VW = panel.ochH * PM_WIN_SHAPE[w][1];
    const int* m = PM_WIN_OFFSET[w];
    ow.HST += m[0];
    ow.HW -= m[0] + m[1];
    ow.VST += m[2];
    ow.VW -= m[2] + m[3];
    if (PM_WIN_DBD_MODE[w] != 0) {
        if (dbd_fill[w]) {
            iw.HW = std::min(iw.HW, ow.HW);
            iw.VW = std::min(iw.VW, ow.VW);
            if (iw.HW < 1) ow.HW = iw.HW;
            if (iw.VW < 1) ow.VW = iw.VW;
        } else {
            // Dot by dot: a larger input is cut, a smaller one shrinks the output rectangle.
            ow.HW = iw.HW = std::min(iw.HW, ow.HW);
            ow.VW = iw.VW = std::min(iw.VW, ow.VW);
        }
    } else {
        ow.HW = std::max(0, ow.HW);
        ow.VW = std::max(0, ow.VW);
    }
    printWin("OWIN", w, ow);
    OWIN_W[w] = uint16_t(std::max(0, ow.HW));
    OWIN_H[w] = uint16_t(std::max(0, ow.VW));
    IWIN_W[w] = uint16_t(std::max(0, iw.HW));
    IWIN_H[w] = uint16_t(std::max(0, iw.VW));
}

void c331_manage::calc_oact(const ImageWindow& owin, c331geom::TileSlice* out, int w) const {
    if (w < 0 || w >= WINDOW_MAX) return;
    c331geom::calcOact(owin, PM_WIN_SHAPE[w][0], PM_WIN_SHAPE[w][1], panel.ochW, panel.ochH, out);
}

void c331_manage::calc_scaling(const ImageWindow& src, const ImageWindow& dst, c331geom::Scaling* out) {
    *out = c331geom::calcScaling(src, dst);
}

int c331_manage::check_stitching_win(int* w, int* other) const {
    const int* S = PM_WIN_STITCHING;
    auto scan = [S](int m, int* partner, bool* master) {
        *partner = -1;
        *master = false;
        for (int k = 0; k < WINDOW_MAX; ++k) {
            if (k != m && S[k] == m) *partner = k;
            if (S[m] == m) *master = true;
        }
    };
    if (*w < 0 || *w >= WINDOW_MAX) {
        *other = -1;
        return 0;
    }
    bool master = false;
    scan(*w, other, &master);
    if (master) return *other >= 0 ? 1 : 0;
    const int m = S[*w];
    if (m < 0 || m >= WINDOW_MAX) {
        *other = -1;
        return 0;
    }
    *w = m;
    scan(m, other, &master);
    return master && *other >= 0 ? 2 : 0;
}

void c331_manage::check_stitching_chg() {
    for (int w = 0; w < WINDOW_MAX; ++w) {
        if (chg_extra[w] || chg_stitch[w]) PM_CHG[kChgShape][w] = 1;
        chg_stitch[w] = 0;
    }
}
