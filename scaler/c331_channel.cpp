// Per-channel window programming: the input side (the window's ICHs capture the port,
// shrink, and write frame memory) and the output side (the OCHs whose tiles the window
// covers read the stored picture back, zoom, and place it in their tile).
#include <algorithm>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;
using c331geom::ImageWindow;

namespace {

constexpr uint32_t fieldDesc(uint32_t first, int i) { return first + (uint32_t(4 * i) << 8); }

}  // namespace

void c331_manage::get_och(int w, int och_of_area[8]) const {
    for (int a = 0; a < 8; ++a) {
        och_of_area[a] = -1;
        for (int k = 0; k < OCH_MAX; ++k)
            if (PM_WIN_NUM[k] == w && PM_AREA_NUM[k] == a) och_of_area[a] = k;
    }
}

void c331_manage::set_oscwct(int fd, int och) {
    (void)fd;
    if (och < 0 || och >= OCH_MAX) return;
    const int w = PM_WIN_NUM[och];
    if (w < 0 || w >= WINDOW_MAX) return;
    const int m = std::clamp(PM_WIN_STITCHING[w], 0, WINDOW_MAX - 1);
    writeW(kRegOchFormat0 + (unsigned(och) << 8), unsigned(c331geom::formatCode(PM_MEM_WMODE[m])));
}

void c331_manage::set_iscwct(int fd, int w) {
    (void)fd;
    if (w < 0 || w >= WINDOW_MAX) return;
    for (int j = 0; j < ICH_MAX && ich.win_ich[w][j] >= 0; ++j)
        writeW(kRegIchFormat0 + (unsigned(ich.win_ich[w][j]) << 8), unsigned(c331geom::formatCode(PM_MEM_WMODE[w])));
}

bool c331_manage::wait1_povs(int fd, int och) {
    (void)fd;
    if (och < 0 || och >= OCH_MAX) return false;
    const unsigned bit = 1u << och;
    writeW(kRegOchVsyncEn, bit);
    writeW(kRegUpdHold, kMeasHold);
    bool seen = false;
    {
        // A frame lasts at most 42 ms (24 Hz): the wait ends after a bounded number of polls,
        // and the pass's writers are not held up by it.
        PassHoldReleased wait(pass_holds_mutex_);
        for (int i = 0; i < kPovsPolls && !seen; ++i) {
            seen = (readW(kRegOchVsyncStat) & bit) != 0;
            if (!seen) Sleep(1);
        }
    }
    writeW(kRegOchVsyncEn, 0);
    writeW(kRegUpdHold, 0);
    if (!seen) {
        ++wait_timeouts;
        writeLogMsg(LOG_WARNING, "c331: no output vertical sync on OCH " + std::to_string(och) + " within " +
                                     std::to_string(kPovsPolls) + " ms");
    }
    return seen;
}

void c331_manage::set_display_window_ich(int fd, ImageWindow iwin, ImageWindow owin, int w) {
    if (w < 0 || w >= WINDOW_MAX) return;
    const int n = ich.count(w);
    if (n == 0) return;
    const int p = PM_INPUT[w];
    if (p < 0 || p >= INPUT_PORTS) return;
    const int k = ich.win_ich[w][0];
    const bool pair = n >= 2 && k + 1 < ICH_MAX;
    const bool split = pair && PI_STATE(p) < 4;  // two pixels per clock: the line is split over the pair
    const int dual = split ? (PI_HDMI_INFO[p].lane < 5 ? 2 : 1) : 0;
    PM_MEM_WMODE[w] = PI_SCAN_MODE(p) ? 2 : PS_MEM_WMODE[w];

    int32_t hstep = 0x10000, vstep = 0x10000;
    int32_t st1 = 0, w1 = 0, st2 = 0, w2 = 0, off1 = 0, off2 = 0, hph = 0x100, hflag = 0, ph2 = 0x100, flag2 = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fmt = PM_MEM_WMODE[w];
        hstep = owin.HW < iwin.HW && owin.HW >= 1 ? c331geom::ratioStep(owin.HW, iwin.HW) : 0x10000;
        vstep = owin.VW < iwin.VW && owin.VW >= 1 ? c331geom::ratioStep(owin.VW, iwin.VW) : 0x10000;
        const int X = PI_ACT[p].HST, W = PI_ACT[p].HW, off = PM_IACTHST[w];
        if (!split) {
            st1 = X + off - 7, w1 = W, st2 = 0, w2 = 0;
        } else if (off >= W) {
            st1 = X + W - 7, w1 = 0, st2 = X + (off - W) - 7, w2 = 2 * W;
        } else if (off >= -W) {
            st1 = X + off - 7, w1 = W - off, st2 = X - 7, w2 = W + off;
        } else {
            st1 = X - W - 7, w1 = 2 * W, st2 = 0, w2 = 0;
        }
        off1 = off2 = 0;
        hph = c331geom::shrinkPhase(iwin.HST, hstep);
        hflag = hph != 0x100;
        ph2 = 0x100, flag2 = 0;
        if (!split) break;
        if (hstep == 0x10000) {
            // No shrink: the partner writes right behind the first part.
            if (fmt == 2) {
                const int pad = (3 - w1 % 3) % 3;
                off1 = 2 * pad;
                off2 = (w1 + pad) * 8 / 3;
            } else {
                off2 = c331geom::formatBytes(w1, fmt);
            }
            break;
        }
        const c331geom::PairSeam seam = c331geom::pairSeam(w1, hstep, hph, hflag, fmt);
        if (fmt != 0 && seam.ext > 2) {
            writeLogMsg(LOG_INFO, "c331: *** YUV CHG DET win=" + std::to_string(w) + " [" + std::to_string(fmt) + "] to 0");
            PM_MEM_WMODE[w] = 0;
            continue;
        }
        if (fmt == 0 && PS_MEM_WMODE[w] != 0 && !PI_SCAN_MODE(p)) {
            const c331geom::PairSeam packed = c331geom::pairSeam(w1, hstep, hph, hflag, PS_MEM_WMODE[w]);
            if (packed.ext <= 2 && attempt == 0) {
                PM_MEM_WMODE[w] = PS_MEM_WMODE[w];
                continue;
            }
        }
        w1 += seam.ext;
        st2 += seam.ext;
        w2 -= seam.ext;
        off2 = seam.offset;
        ph2 = seam.phase;
        flag2 = seam.flag;
        break;
    }
    const int32_t vph = c331geom::shrinkPhase(iwin.VST, vstep);
    const int32_t vflag = vph != 0x100;
    const int32_t vst = PI_ACT[p].VST + PM_IACTVST[w] + 1, vw = PI_ACT[p].VW;

    set_idual(fd, k, dual != 0, p);
    set_ichsel(fd, w);
    auto program = [&](int c, int32_t hst, int32_t hw, int32_t phase, int32_t pflag) {
        const unsigned o = unsigned(c);
        writeW(kRegIsyct, 1, o);
        writeW(kRegIactHst, unsigned(std::max(0, hst)), o);
        writeW(kRegIactHw, unsigned(std::max(0, hw)), o);
        writeW(kRegIactVst, unsigned(std::max(0, vst)), o);
        writeW(kRegIactVw, unsigned(std::max(0, vw)), o);
        writeW(kRegShrPhaseFlags, unsigned(8 * (pflag * 16 + vflag)), o);
        writeW(kRegHShrCtl, hstep < 0x10000 ? kHShrOn : kHShrOff, o);
        writeW(kRegHShrStep, hstep < 0x10000 ? unsigned(hstep) : 0, o);
        writeW(kRegVShrCtl, vstep < 0x10000 ? kVShrOn : kVShrOff, o);
        writeW(kRegVShrStep, vstep < 0x10000 ? unsigned(vstep) : 0, o);
        writeW(kRegShr43, 2, o);
        writeW(kRegHShrPh0, unsigned(phase & 0xFF), o);
        writeW(kRegHShrPh1, unsigned(phase & 0xFF), o);
        writeW(kRegVShrPh0, unsigned(vph & 0xFF), o);
        writeW(kRegVShrPh1, unsigned(vph & 0xFF), o);
    };
    program(k, st1, w1, hph, hflag);
    if (pair) {
        program(k + 1, st2, w2, ph2, flag2);
        writeW(kRegIsyct, unsigned((k & ~1) + 8), unsigned(k + 1));
    }
    auto memory = [&](int c, int32_t offset) {
        for (int i = 0; i < 5; ++i) writeW(fieldDesc(kRegIsFld0, i), PS.memPlane[i][k] + uint32_t(offset), unsigned(c));
        writeW(kRegIMwi, PS.memWidth, unsigned(c));
        writeW(kRegFieldOrder, c331geom::packFieldOrder(fld_order[w]), unsigned(c));
    };
    memory(k, off1);
    if (pair) memory(k + 1, off2);
    set_lut_hshrnk(fd, hstep, k, pair);
    set_lut_vshrnk_4sym(fd, vstep, k, pair);
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    set_ip(fd, k);
}

void c331_manage::set_display_window_och(int fd, ImageWindow iwin, ImageWindow owin, int w) {
    if (w < 0 || w >= WINDOW_MAX) return;
    int m = w, other = -1;
    check_stitching_win(&m, &other);
    const int mode = PM_WIN_DBD_MODE[m];
    const bool ownMemory = mode != 0 && !(mode == 1 && !check_dbd_input(fd, PM_INPUT[m]));
    const int k = ich.win_ich[w][0];
    if (k < 0 && !ownMemory) return;  // nothing stored to read
    const int P = ownMemory ? dbd_mem_width[m] : int(PS.memWidth);
    const bool hmirror = PM_WIN_ATTR0[m] != 0, vflip = PM_WIN_ATTR1[m] != 0;
    const int64_t pitch = int64_t(P) * 1024;
    const int fmt = PM_MEM_WMODE[m];
    const int num = c331geom::formatNum(fmt), den = c331geom::formatDen(fmt);

    c331geom::TileSlice tiles[8];
    calc_oact(owin, tiles, w);
    c331geom::Scaling sc;
    calc_scaling(iwin, owin, &sc);
    const int cols = std::clamp(PM_WIN_SHAPE[w][0], 0, 8), rows = std::clamp(PM_WIN_SHAPE[w][1], 0, 8);

    const int64_t hoff = sc.hmode == 1 ? ((((int64_t(sc.hshrink_step) * (iwin.HST - 1)) >> 16) + 1) * num / den)
                                       : int64_t(iwin.HST) * num / den;
    const int64_t voff = sc.vmode == 1 ? ((((int64_t(sc.vshrink_step) * (iwin.VST - 1)) >> 16) + 1) * pitch)
                                       : int64_t(iwin.VST) * pitch;
    int32_t hs[8], vs[8];
    for (int i = 0; i < 8; ++i) hs[i] = tiles[i].HW, vs[i] = tiles[i].VW;
    c331geom::AxisRead hr[8], vr[8];
    c331geom::axisPlan(hs, cols, owin.HW, sc.hzoom_step, sc.hmode == 2, false, hr);
    c331geom::axisPlan(vs, rows, owin.VW, sc.vzoom_step, sc.vmode == 2, true, vr);
    // Stored size (what the ICHs wrote), for reading from the far end when mirrored.
    const int32_t storedW = sc.hmode == 1 ? owin.HW : iwin.HW, storedH = sc.vmode == 1 ? owin.VW : iwin.VW;
    const int64_t L = line_back[w] ? (vflip ? -pitch : pitch) : 0;

    bool zeroW = false, zeroH = false;
    for (int i = 0; i < cols; ++i)
        if (hr[i].used && tiles[i].HST + hr[i].sub + int(PS.actStartH) < 10) zeroW = true;
    for (int j = 0; j < rows; ++j)
        if (vr[j].used && tiles[j].VST + vr[j].sub + int(PS.actStartV) < 3) zeroH = true;

    int area[8];
    get_och(w, area);
    int firstOch = -1;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            if (j * cols + i >= 8) continue;
            const int o = area[j * cols + i];
            if (o < 0) continue;
            const unsigned ou = unsigned(o);
            const unsigned base = o == 0 ? 0x01 : 0x11;
            writeW(kRegOsyct, firstOch < 0 ? (unsigned(std::max(k, 0)) << 8) | base : base | (unsigned(firstOch) << 8) | 0x1000,
                   ou);
            if (firstOch < 0) firstOch = o;
            const int32_t hStart = hmirror ? std::max(0, storedW - hr[i].start - hr[i].read) : hr[i].start;
            const int32_t vStart = vflip ? std::max(0, storedH - vr[j].start - vr[j].read) : vr[j].start;
            const int64_t colBytes = int64_t(hStart) * num / den;
            const int64_t rowBytes = int64_t(vStart) * pitch;
            for (int f = 0; f < 5; ++f) {
                const uint32_t fieldBase = ownMemory ? dbd_mem[w][f] : PS.memPlane[f][std::max(k, 0)];
                writeW(fieldDesc(kRegOsFld0, f), uint32_t(rowBytes + fieldBase + colBytes + hoff + voff - L), ou);
            }
            writeW(kRegOMwi, unsigned(vflip ? 0x100 - P : P), ou);
            writeW(kRegOactHst, unsigned(tiles[i].HST + hr[i].sub + int(PS.actStartH)) & 0xFFFF, ou);
            writeW(kRegOactHw, zeroW ? 0 : unsigned(hr[i].read), ou);
            writeW(kRegOactVst, unsigned(tiles[j].VST + vr[j].sub + int(PS.actStartV)) & 0xFFFF, ou);
            writeW(kRegOactVw, zeroH ? 0 : unsigned(vr[j].read), ou);
            writeW(kRegOchMirror, hmirror ? 1 : 0, ou);
            writeW(kRegOchHEnd2, unsigned(tiles[i].HST + tiles[i].HW + int(PS.actStartH)), ou);
            writeW(kRegHZoomCtl, sc.hmode == 2 ? (hr[i].used ? kHZoomUsed : kHZoomUnused) : 0, ou);
            writeW(kRegHZoomPh0, unsigned(hr[i].phase & 0xFF), ou);
            writeW(kRegHZoomPh1, unsigned(hr[i].phase & 0xFF), ou);
            writeW(kRegHZoomStep, unsigned(sc.hzoom_step), ou);
            writeW(kRegVZoomEn, sc.vmode == 2 ? 3 : 0, ou);
            const unsigned vctl = line_back[w] ? kVZoomLineBack
                                  : sc.vmode == 2 ? (vr[j].used ? kVZoomUsed : kVZoomUnused)
                                                  : 0;
            writeW(kRegVZoomCtl, vctl, ou);
            writeW(kRegVZoomPh0, unsigned(vr[j].phase & 0xFF), ou);
            writeW(kRegVZoomPh1, unsigned(vr[j].phase & 0xFF), ou);
            writeW(kRegVZoomStep, unsigned(sc.vzoom_step), ou);
            set_oscwct(fd, o);
            set_lut_vzoom_4sym(fd, sc.vzoom_step, o);
        }
}
