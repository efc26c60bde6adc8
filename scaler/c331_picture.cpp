// Picture adjustments of the scaler's output processing, the same on every OCH. Each
// setter holds register updates while it writes so a frame never shows half a change.
#include <algorithm>

#include "core/global.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;

namespace {

// Neutral (non-enhancing) coefficient rows for sharpness level 0.
const uint8_t kSharpNeutralH[5] = {32, 0, 0, 0, 0};
const uint8_t kSharpNeutralV[5] = {32, 0, 0, 0, 0};

}  // namespace

int c331_manage::brightnessWord(unsigned b) {
    b %= 101;
    const int d = (int(b) - 50) * 1024 / 50;  // truncated toward 0
    return d < 0 ? (d & 0xFFF) : d;
}

void c331_manage::c331_SetBrightness(unsigned short b) {
    c331_manage* m = p_c331_manage;
    if (!m) return;
    const unsigned v = unsigned(brightnessWord(b));
    m->set_rtct(m->spi_fd, 2);
    for (int k = 0; k < OCH_MAX; ++k)
        for (unsigned r : {kRegBright0, kRegBright1, kRegBright2}) m->writeW(r, v, unsigned(k));
    m->set_rtct(m->spi_fd, 1);
}

void c331_manage::c331_SetContrast(int c) {
    c331_manage* m = p_c331_manage;
    if (!m) return;
    const unsigned v = unsigned(((c % 101) + 101) % 101) * 1023 / 100;
    m->set_rtct(m->spi_fd, 2);
    for (int k = 0; k < OCH_MAX; ++k) {
        m->maskW(kRegEnhEnable, 1, 1, unsigned(k));
        for (unsigned r : {kRegContrast0, kRegContrast1, kRegContrast2}) m->writeW(r, v, unsigned(k));
    }
    m->set_rtct(m->spi_fd, 1);
}

void c331_manage::c331_SetSaturation(int s) {
    c331_manage* m = p_c331_manage;
    if (!m) return;
    const unsigned v = (unsigned(((s % 101) + 101) % 101) * 1023 / 100) & 0x7FF;
    m->set_rtct(m->spi_fd, 2);
    for (int k = 0; k < OCH_MAX; ++k) {
        m->maskW(kRegSatEnable, 1, 1, unsigned(k));
        for (unsigned r : {kRegSat0, kRegSat1, kRegSat2}) m->writeW(r, v, unsigned(k));
    }
    m->set_rtct(m->spi_fd, 1);
}

void c331_manage::c331_SetColorTemp(int packed) {
    c331_manage* m = p_c331_manage;
    if (!m) return;
    const uint32_t p = uint32_t(packed);
    unsigned g[3];
    switch (p & 3) {
    case 1: g[0] = 8845; g[1] = 8113; g[2] = 7056; break;
    case 2: g[0] = g[1] = g[2] = 8192; break;
    case 3: g[0] = 6944; g[1] = 8282; g[2] = 10978; break;
    default:  // user gains: a byte of 128 is unity
        g[0] = ((p >> 24) & 0xFF) * 64;
        g[1] = ((p >> 16) & 0xFF) * 64;
        g[2] = ((p >> 8) & 0xFF) * 64;
        break;
    }
    ++m->colortemp_calls;
    m->set_rtct(m->spi_fd, 2);
    for (unsigned a = 0x59; a <= 0x60; ++a) m->maskW(desc(0, a, 1), kColorMatrixEnBit, kColorMatrixEnBit);
    for (int k = 0; k < OCH_MAX; ++k)
        for (int i = 0; i < kColorMatrixWords; ++i) {
            const unsigned v = i % 4 == 0 ? g[i / 4] : 0;  // words 0, 4, 8 are the diagonal
            m->writeW(kRegColorMatrix0 + (unsigned(2 * i) << 8), v, unsigned(k));
        }
    m->set_rtct(m->spi_fd, 1);
}

void c331_manage::c331_SetSharpness(int s) {
    c331_manage* m = p_c331_manage;
    if (!m) return;
    s = ((s % 101) + 101) % 101;
    const int level = s <= 9 ? 0 : s - 10;
    // The gain registers are one byte wide: a high level saturates instead of wrapping to off.
    const unsigned gain = unsigned(std::min(255, int(level * 12.8)));
    m->set_rtct(m->spi_fd, 2);
    for (int k = 0; k < OCH_MAX; ++k) m->maskW(kRegEnhEnable, 1, 1, unsigned(k));
    for (int r = 0; r < m->win_count && r < WINDOW_MAX; ++r) {
        const C331WinInfo& wi = m->gWininfo[r];
        const int port = vlxApi_inputCvtC331(wi.input);
        if (port > 5 || m->PI_NOSIGNAL[port]) continue;
        // Sizes come from the window geometry; a window not yet sized has no ratio.
        if (!m->IWIN_W[r] || !m->IWIN_H[r] || !m->OWIN_W[r] || !m->OWIN_H[r]) continue;
        const uint8_t* hset = kSharpNeutralH;
        const uint8_t* vset = kSharpNeutralV;
        static const uint8_t kH[4][5] = {{36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}};
        static const uint8_t kV[4][5] = {{42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}};
        auto row = [](float ratio) { return ratio > 2.5f ? 0 : ratio > 2.0f ? 1 : ratio > 1.25f ? 2 : 3; };
        const float hr = float(m->OWIN_W[r]) / float(m->IWIN_W[r]);
        const float vr = float(m->OWIN_H[r]) / (float(m->IWIN_H[r]) * float(1 + m->PI_VFACTOR[port]));
        if (level > 0) {
            hset = kH[row(hr)];
            vset = kV[row(vr)];
        }
        for (int i = 0; i < wi.ochCount() && i < OCH_MAX; ++i) {
            const unsigned o = wi.ochLst[i];
            if (o >= OCH_MAX) continue;
            m->writeW(kRegSharpCtl, level > 0 ? 6 : 0, o);
            for (int j = 0; j < 5; ++j) m->writeW(kRegSharpHCoef0 + (unsigned(j) << 8), hset[j], o);
            m->writeW(kRegSharpHGain, level > 0 ? gain : 0, o);
            m->writeW(kRegSharpHMode, level > 0 ? 6 : 0, o);
            if (level > 0) {
                m->writeW(kRegSharpVEnable, 1, o);
                for (int j = 0; j < 5; ++j) m->writeW(kRegSharpVCoef0 + (unsigned(j) << 8), vset[j], o);
                m->writeW(kRegSharpVGain, gain, o);
            } else {
                for (int j = 0; j < 5; ++j) m->writeW(kRegSharpVCoef0 + (unsigned(j) << 8), vset[j], o);
                m->writeW(kRegSharpVGain, 0, o);
            }
        }
    }
    m->set_rtct(m->spi_fd, 1);
}

void c331_manage::vlxApi_forceColorDisable(int fd) {
    (void)fd;
    g_force_bkcolor = 2;
    for (int k = 0; k < OCH_MAX; ++k) writeW(kRegOchBgColor, 0, unsigned(k));
    for (int r = 0; r < win_count && r < WINDOW_MAX; ++r) {
        const C331WinInfo& wi = gWininfo[r];
        const int port = vlxApi_inputCvtC331(wi.input);
        const unsigned on = port <= 5 && PI_NOSIGNAL[port] ? 1 : 0;
        for (int i = 0; i < wi.ochCount() && i < OCH_MAX; ++i)
            if (wi.ochLst[i] < OCH_MAX) writeW(kRegOchBgEnable, on, wi.ochLst[i]);
    }
}
