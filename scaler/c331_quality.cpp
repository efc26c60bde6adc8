// Picture-quality processing of the input side: the shrink and zoom filters of every
// channel, and the de-interlacer of ICH 0..3 with its noise reduction, comb, motion and
// diagonal filters. Loaded whenever a window's input channel is programmed.
#include <algorithm>
#include <initializer_list>

#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;

namespace {

// Vertical filter sets: 8 zeros then 16 coefficients, set 1 the smoothest in use, set 9
// the sharpest. The sets between the two ends are spread evenly (chip configuration data).
constexpr int kSmooth[16] = {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15};
constexpr int kSharp[16] = {-4, -9, -13, -15, -15, -12, -7, 0, 9, 21, 35, 47, 57, 64, 66, 64};
constexpr int kVZoom[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -2, -3, -4, -4, -3, 0, 5, 13, 24, 35, 46, 56, 62, 64};

int lutValue(int set, int i) {
    if (i < 8) return 0;
    const int a = kSmooth[i - 8], b = kSharp[i - 8];
    return a + (b - a) * set / 9;
}

// De-interlacer memory of ICH 0..3, between the dot-by-dot blocks and the OSD area.
constexpr uint32_t kIpMemBase = 0x62500000, kIpMemStep = 0xA00000, kIpMemHalf = 0x500000;
constexpr int kIpMwi = 8;

constexpr uint32_t r1(unsigned bank, unsigned addr) { return desc(bank, addr, 1); }

}  // namespace

int c331_manage::hshrinkFilter(int step) {
    if (step < 1) return 44;
    static const struct {
        int below, filter;
    } kSteps[] = {{13108, 1},  {26215, 2},  {32769, 4},  {39322, 6},  {45876, 8},  {49153, 12},
                  {52429, 17}, {55706, 22}, {58983, 27}, {62260, 32}, {65001, 38}};
    for (const auto& s : kSteps)
        if (step < s.below) return s.filter;
    return 44;
}

int c331_manage::vshrinkSet(int step) {
    static const int kBelow[8] = {13108, 26215, 32769, 39322, 45876, 52429, 58983, 62260};
    for (int i = 0; i < 8; ++i)
        if (step < kBelow[i]) return i + 1;
    return 9;
}

void c331_manage::set_lut_hshrnk(int fd, int step, int ichn, int pair) {
    (void)fd;
    if (ichn < 0 || ichn >= ICH_MAX) return;
    writeW(kRegLutSelect, unsigned(hshrinkFilter(step)));
    writeW(kRegLutLoad, 0x83u + 4u * unsigned(ichn));
    if (pair) writeW(kRegLutLoad, 0x87u + 4u * unsigned(ichn));
}

void c331_manage::set_lut_vshrnk_4sym(int fd, int step, int ichn, int pair) {
    (void)fd;
    if (ichn < 0 || ichn >= ICH_MAX) return;
    const int set = vshrinkSet(step);
    for (int i = 0; i < 24; ++i) {
        const unsigned v = unsigned(lutValue(set, i)) & 0xFF;
        writeW(kRegVShrLut0 + (unsigned(i) << 8), v, unsigned(ichn));
        if (pair && ichn + 1 < ICH_MAX) writeW(kRegVShrLut0 + (unsigned(i) << 8), v, unsigned(ichn + 1));
    }
}

void c331_manage::set_lut_vzoom_4sym(int fd, int step, int och) {
    (void)fd;
    if (och < 0 || och >= OCH_MAX) return;
    for (int i = 0; i < 24; ++i) {
        const unsigned v = step < 1 ? (i == 0 ? 64u : 0u) : unsigned(kVZoom[i]) & 0xFF;
        writeW(kRegVZoomLut0 + (unsigned(i) << 8), v, unsigned(och));
    }
}

void c331_manage::set_mct(int fd, int w, int force) {
    (void)fd;
    if (w < 0 || w >= WINDOW_MAX) return;
    const int k = ich.win_ich[w][0];
    if (k < 0) return;
    const int mode = PM_WIN_DBD_MODE[w];
    int p = PM_INPUT[w];
    if (mode == 22 || mode == 23) p = 2;
    if (mode == 50 || mode == 51) p = 4;
    if (p < 0 || p >= INPUT_PORTS) return;
    const unsigned run = PI_STATE(p) ? 0x11 : 0x01;
    auto chan = [this](int i, unsigned v) { writeW(kRegChanCtl0 + (unsigned(i) << 8), v); };
    if (p >= 4) {
        for (int j = 0; j < ICH_MAX && ich.win_ich[w][j] >= 0; ++j) {
            chan(ich.win_ich[w][j], run);
            writeW(kRegIsyct, j == 0 ? 1u : unsigned(k + 8), unsigned(ich.win_ich[w][j]));
        }
        return;
    }
    const bool interlaced = PI_SCAN_MODE(p) != 0;
    int nr, code;
    unsigned isyct;
    if (PM_BNR[p]) {
        nr = 2, code = 14;
        isyct = (force || !interlaced) ? 1 : 0;
    } else {
        nr = (PM_HNR[p] || PM_VNR[p] || PM_TNR[p] || PM_MNR[p]) ? 1 : 0;
        code = (nr || (!force && interlaced)) ? 14 : 0;
        isyct = (interlaced && !force) ? 0 : 1;
    }
    chan(k, unsigned((k < 4 && mode <= 1) ? code : 0) | run);
    writeW(kRegIsyct, isyct, unsigned(k));
    if (nr != nren_old[p]) {
        nren_old[p] = nr;
        if (!(interlaced && !force)) writeW(kRegNrEnable, nr == 0 ? 0 : nr == 1 ? 1 : 3, unsigned(k));
    }
    for (int j = 1; j < ICH_MAX && ich.win_ich[w][j] >= 0; ++j) {
        chan(ich.win_ich[w][j], run);
        writeW(kRegIsyct, unsigned(k + 8), unsigned(ich.win_ich[w][j]));
    }
}

void c331_manage::set_ip(int fd, int ichn) {
    if (ichn < 0 || ichn > 3) return;
    const int w = ich.ich_win[ichn];
    if (w < 0 || w >= WINDOW_MAX) return;
    const int p = PM_INPUT[w];
    if (p < 0 || p >= INPUT_PORTS) return;
    const unsigned o = unsigned(ichn);
    const bool interlaced = PI_SCAN_MODE(p) != 0;
    const bool nrOn = PI_STATE(p) > 3 && (PM_HNR[p] || PM_VNR[p] || PM_TNR[p] || PM_BNR[p] || PM_MNR[p]);
    if (!interlaced && !nrOn) {
        writeW(r1(0x15, 0x70), 0, o);
        set_nr(fd, ichn, p);
    } else {
        wait1_pivs(fd, ichn);
        wait1_pivs(fd, ichn);
        writeW(kRegUpdHold, kMeasHold);
        PI_IFH[p] = int(readW(kRegIchFieldH + (unsigned(6 * ichn) << 8))) + 1;
        PI_IFV[p] = int(readW(kRegIchFieldV + (unsigned(6 * ichn) << 8)));
        writeW(kRegUpdHold, 0);
        const int h = interlaced ? (PI_IFH[p] + 1) / 2 : PI_IFH[p];
        const int f = interlaced ? 2 : 1;
        writeW(desc(0x14, 0x08, 2), unsigned(h + 32), o);
        writeW(desc(0x14, 0x0A, 2), unsigned((PI_IFV[p] + 16) * 2), o);
        writeW(desc(0x14, 0x6D, 2), unsigned((((h + 33) * 3 / 4) & 0x3FFF) | 0x8000), o);
        writeW(r1(0x14, 0x0C), 1, o);
        writeW(desc(0x14, 0x0F, 2), unsigned(PI_ACT[p].HW), o);
        writeW(desc(0x14, 0x13, 2), unsigned(PI_ACT[p].VW * f), o);
        writeW(desc(0x14, 0x11, 2), unsigned(PI_ACT[p].VST * f) | 0x8000, o);
        set_mvflt(fd, ichn, p);
        set_diag(fd, ichn, p);
        set_ipregs(fd, ichn, p);
        set_comb(fd, ichn, p);
        set_nr(fd, ichn, p);
        writeW(r1(0x14, 0x2A), interlaced ? (PM_IPEN[p] ? 0 : 32) : 16, o);
        writeW(r1(0x14, 0x67), interlaced ? 8 : 0, o);
        writeW(r1(0x14, 0x68), interlaced ? 4 : 0, o);
    }
    const uint32_t A0 = kIpMemBase + kIpMemStep * o, A1 = A0 + kIpMemHalf;
    const uint32_t off = uint32_t(kIpMwi & 31) << 10;
    const uint32_t v[8] = {interlaced ? A0 + off : A0, interlaced ? A0 : A1, interlaced ? A1 + off : A0,
                           A1,                        interlaced ? A0 + off : A0, interlaced ? A0 : A1,
                           interlaced ? A1 + off : A0, A1};
    static const unsigned kAddr[8] = {0x18, 0x1C, 0x20, 0x24, 0x08, 0x0C, 0x10, 0x14};
    for (int i = 0; i < 8; ++i) writeW(desc(0x17, kAddr[i], 4), v[i], o);
    writeW(desc(0x17, 0x59, 2), 0, o);
}

void c331_manage::set_nr(int fd, int ichn, int p) {
    const unsigned o = unsigned(ichn);
    if (PI_STATE(p) <= 3) {
        writeW(desc(0x15, 0x39, 2), 0, o);
        writeW(r1(0x12, 0x08), 0, o);
        writeW(r1(0x15, 0x6B), 0, o);
        writeW(r1(0x15, 0x09), 0, o);
        writeW(kRegNrEnable, 0, o);
        return;
    }
    set_nr_block(fd, ichn, p);
    set_nr_tpx(fd, ichn, p);
    set_nr_hvpx(fd, ichn, p);
    set_nr_mosq(fd, ichn, p);
    const unsigned en = PI_SCAN_MODE(p) ? 0
                        : PM_BNR[p]     ? 3
                        : (PM_HNR[p] || PM_VNR[p] || PM_TNR[p] || PM_MNR[p]) ? 1
                                                                               : 0;
    writeW(kRegNrEnable, en, o);
}

void c331_manage::set_nr_block(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    const int level = PM_BNR[p];
    if (level == 0) {
        writeW(desc(0x15, 0x39, 2), 0, o);
        return;
    }
    struct Member {
        int height;
        bool interlaced;
        int g1[5], g2[5], format;
    };
    static const Member kMembers[] = {
        {240, true, {64, 18, 16, 64, 16}, {64, 18, 16, 64, 16}, 8},
        {480, false, {64, 18, 16, 64, 16}, {64, 18, 16, 128, 32}, 6},
        {540, true, {64, 18, 16, 384, 96}, {64, 18, 16, 384, 96}, 48},
        {720, false, {64, 18, 16, 171, 43}, {64, 18, 16, 342, 86}, 16},
        {1080, false, {64, 18, 16, 384, 96}, {64, 18, 16, 768, 192}, 36},
    };
    const Member* m = nullptr;
    for (const Member& x : kMembers)
        if (x.height == PI_ACT[p].VW) m = &x;
    if (!m || level < 1 || level > 3) return;
    static const int kLevel[3][7] = {{8855, 144, 32, 132, 65, 6, 16}, {8855, 160, 16, 66, 51, 4, 16},
                                     {3223, 176, 16, 66, 51, 4, 6}};
    const int* L = kLevel[level - 1];
    writeW(kRegNrEnable, m->interlaced ? 0 : 3, o);
    writeW(desc(0x15, 0x39, 2), unsigned(L[0]), o);
    writeW(r1(0x15, 0x3B), unsigned(L[1]), o);
    for (int i = 0; i < 5; ++i) writeW(r1(0x15, 0x40 + unsigned(i)), unsigned(L[2 + i]), o);
    const unsigned fixed[4] = {64, 80, 96, 128};
    for (int i = 0; i < 4; ++i) writeW(r1(0x15, 0x3C + unsigned(i)), fixed[i], o);
    writeW(r1(0x15, 0x45), 64, o);
    writeW(r1(0x15, 0x46), 0, o);
    writeW(r1(0x15, 0x47), 0, o);
    writeW(r1(0x15, 0x48), 6, o);
    writeW(r1(0x15, 0x49), 4, o);
    auto grid = [&](unsigned a, const int* g) {
        writeW(r1(0x15, a), unsigned(g[0]), o);
        writeW(r1(0x15, a + 1), unsigned(g[1]), o);
        writeW(r1(0x15, a + 2), unsigned(g[2]), o);
        writeW(desc(0x15, a + 3, 2), unsigned(g[3]), o);
        writeW(desc(0x15, a + 5, 2), unsigned(g[4]), o);
    };
    grid(0x4A, m->g1);
    grid(0x51, m->g2);
    for (unsigned a = 0x58; a <= 0x5B; ++a) writeW(r1(0x15, a), 0, o);
    for (unsigned a = 0x5C; a <= 0x62; a += 2) writeW(desc(0x15, a, 2), 0, o);
    writeW(r1(0x15, 0x64), 18, o);
    writeW(r1(0x15, 0x65), 0, o);
    writeW(r1(0x15, 0x66), 0, o);
    writeW(desc(0x15, 0x67, 2), 0, o);
    writeW(r1(0x15, 0x69), 8, o);
    writeW(r1(0x15, 0x6A), unsigned(m->format), o);
}

void c331_manage::set_nr_hvpx(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    writeW(r1(0x15, 0x6B), (PM_VNR[p] ? 16u : 0u) | (PM_HNR[p] ? 1u : 0u), o);
    static const unsigned kA[4] = {0, 66, 117, 168}, kB[4] = {0, 150, 201, 252};
    const int h = std::clamp(PM_HNR[p], 0, 3), v = std::clamp(PM_VNR[p], 0, 3);
    writeW(r1(0x15, 0x6E), kA[h], o);
    writeW(r1(0x15, 0x6F), kB[h], o);
    writeW(r1(0x15, 0x6C), kA[v], o);
    writeW(r1(0x15, 0x6D), kB[v], o);
}

void c331_manage::set_nr_tpx(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    const int level = PM_TNR[p];
    if (level < 1 || level > 3) {
        writeW(r1(0x12, 0x08), 0, o);
        return;
    }
    writeW(r1(0x12, 0x08), 3, o);
    const unsigned k4[4] = {49, 117, 185, 253};
    for (int i = 0; i < 4; ++i) writeW(r1(0x12, 0x09 + unsigned(i)), k4[i], o);
    static const unsigned kL[3][6] = {{18, 20, 24, 27, 28, 29}, {17, 18, 20, 22, 24, 26}, {0, 8, 12, 16, 20, 24}};
    for (int i = 0; i < 6; ++i) writeW(r1(0x12, 0x0D + unsigned(i)), kL[level - 1][i], o);
    writeW(r1(0x12, 0x13), level == 1 ? 30 : 28, o);
    writeW(r1(0x12, 0x14), 31, o);
}

void c331_manage::set_nr_mosq(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    const int level = PM_MNR[p];
    if (level < 1 || level > 3) {
        writeW(r1(0x15, 0x09), 0, o);
        return;
    }
    writeW(r1(0x15, 0x09), 1, o);
    const unsigned head[6] = {128, 56, 8, 128, 56, 8};
    for (int i = 0; i < 6; ++i) writeW(r1(0x15, 0x0A + unsigned(i)), head[i], o);
    static const unsigned kL1[12] = {63, 63, 127, 127, 127, 127, 63, 63, 127, 127, 127, 127};
    for (int i = 0; i < 12; ++i) writeW(r1(0x15, 0x11 + unsigned(i)), level == 1 ? kL1[i] : 127u, o);
    static const std::initializer_list<unsigned> kTail[3] = {
        {252, 32, 213, 127, 24, 36}, {252, 63, 217, 255, 24}, {252, 255, 217, 111}};
    unsigned a = 0x1D;
    for (unsigned v : kTail[level - 1]) writeW(r1(0x15, a++), v, o);
    for (; a <= 0x27; ++a) writeW(r1(0x15, a), 0, o);
    writeW(r1(0x15, 0x28), level <= 2 ? 64 : 0, o);
    writeW(r1(0x15, 0x29), level == 1 ? 81 : 0, o);
    for (a = 0x2A; a <= 0x2E; ++a) writeW(r1(0x15, a), 0, o);
}

void c331_manage::set_comb(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    const int c = PI_STATE(p) > 3 ? PM_COMB[p] : 0;
    static const unsigned kC[3][2] = {{16, 128}, {20, 128}, {112, 160}};
    if (c < 1 || c > 3) {
        writeW(r1(0x14, 0x3B), 0, o);
        return;
    }
    writeW(r1(0x14, 0x3B), 1, o);
    writeW(r1(0x14, 0x3C), kC[c - 1][0], o);
    writeW(r1(0x14, 0x3D), kC[c - 1][1], o);
}

void c331_manage::set_mvflt(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    static const unsigned kRegs[8] = {0x1A, 0x1E, 0x1B, 0x1F, 0x1C, 0x20, 0x1D, 0x21};
    const int level = PM_MVFLT[p];
    if (PI_STATE(p) < 4 || level == 0) {
        writeW(r1(0x14, 0x15), 0, o);
        for (unsigned a : kRegs) writeW(r1(0x14, a), 0, o);
        return;
    }
    writeW(r1(0x14, 0x15), 31, o);
    if (level > 4) return;
    static const unsigned kL[4][4] = {{4, 4, 8, 8}, {8, 8, 8, 16}, {8, 8, 16, 24}, {16, 16, 24, 31}};
    for (int i = 0; i < 8; ++i) writeW(r1(0x14, kRegs[i]), kL[level - 1][i / 2], o);
}

void c331_manage::set_diag(int fd, int ichn, int p) {
    (void)fd;
    const unsigned o = unsigned(ichn);
    static const unsigned kL[3][16] = {
        {9, 0xFF, 0x77, 0, 4, 0x10, 3, 8, 10, 0x14, 4, 4, 2, 2, 0x10, 0x32},
        {0x0B, 0x7F, 0x77, 3, 4, 0x10, 1, 4, 10, 0x14, 4, 4, 2, 2, 0x10, 0x32},
        {0x0B, 0x7F, 0x77, 0x13, 9, 0x10, 3, 8, 10, 0x14, 4, 4, 2, 2, 0x10, 0x31}};
    const int level = PM_DIAG[p];
    if (PI_STATE(p) < 4 || level < 1 || level > 3) {
        for (unsigned i = 0; i < 16; ++i) writeW(r1(0x14, 0x50 + i), 0, o);
        return;
    }
    for (unsigned i = 0; i < 16; ++i) writeW(r1(0x14, 0x50 + i), kL[level - 1][i], o);
    for (unsigned i = 0; i < 4; ++i) writeW(r1(0x14, 0x60 + i), 0, o);
}

void c331_manage::set_ipregs(int fd, int ichn, int p) {
    (void)fd;
    const int s = PI_STATE(p);
    if (s < 5 || s > 8) return;
    const unsigned o = unsigned(ichn);
    const bool hd = s <= 6;
    const unsigned first[7] = {hd ? 26u : 13u, hd ? 16u : 3u, 17, hd ? 142u : (s == 7 ? 53u : 69u), hd ? 6u : 2u, 128,
                               hd ? 192u : 40u};
    for (unsigned i = 0; i < 7; ++i) writeW(r1(0x14, 0x2E + i), first[i], o);
    unsigned v[5] = {};
    if (s == 5) v[0] = v[1] = v[2] = 193, v[3] = 0, v[4] = 193;
    if (s == 7) v[0] = v[1] = v[2] = v[3] = 196, v[4] = 194;
    for (unsigned i = 0; i < 5; ++i) writeW(r1(0x14, 0x35 + i), v[i], o);
    writeW(r1(0x14, 0x3A), v[4], o);
    const unsigned tail[9] = {hd ? 68u : 70u, 0, 3, 0, 0, hd ? 2u : 0u, hd ? 15u : 9u, 0, 0};
    for (unsigned i = 0; i < 9; ++i) writeW(r1(0x14, 0x42 + i), tail[i], o);
    writeW(r1(0x14, 0x2C), 50u + (PM_22PD[p] ? 64u : 0u) + (PM_23PD[p] ? 128u : 0u) + (hd ? 1u : 0u), o);
    writeW(r1(0x14, 0x2D), PM_24SF[p] ? 25 : 9, o);
    writeW(r1(0x14, 0x30), unsigned(PM_23PDSQTH[p] | PM_22PDSQTH[p] << 4), o);
}
