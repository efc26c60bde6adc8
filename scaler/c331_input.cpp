// Input ports and signal supervision: the receivers' timing, the scaler's own measurement
// of each port, the classification of the picture, the port's re-programming when its
// timing changes, and the background colour in place of a lost picture.
#include <QMutexLocker>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;

namespace {

uint32_t measDesc(unsigned bank, unsigned addr, unsigned bytes) { return desc(bank, addr, bytes); }

bool sameTiming(const c331in::ReceiverTiming& a, const c331in::ReceiverTiming& b) {
    return a.hact == b.hact && a.hsync == b.hsync && a.hback == b.hback && a.hpol == b.hpol && a.htotal == b.htotal &&
           a.vact == b.vact && a.vsync == b.vsync && a.vback == b.vback && a.vpol == b.vpol && a.vtotal == b.vtotal &&
           a.pfreq == b.pfreq && a.type == b.type && a.datamode == b.datamode && a.lane == b.lane && a.ip == b.ip &&
           a.nosignal == b.nosignal;
}

bool measuredOk(int htotal, int lines, uint32_t frame) {
    return htotal >= kMeasMin && htotal <= kMeasMax && lines >= kMeasMin && lines <= kMeasMax && frame >= kFrameMin &&
           frame <= kFrameMax;
}

}  // namespace

int c331_manage::portsOfRecord(int k, int ports[4]) const {
    if (k < 0 || k >= win_count || k >= WINDOW_MAX) return 0;
    const int n = c331geom::dbdPorts(PM_WIN_DBD_MODE[k], ports);
    if (n) return n;
    if (PM_INPUT[k] > 5) return 0;
    ports[0] = PM_INPUT[k];
    return 1;
}

void c331_manage::load_hdmi() {
    for (int c = 0; c < INPUT_PORTS; ++c) {
        c331in::ReceiverTiming t;
        PI_STABLE[c] = c331in::readReceiver(vlxApi_GetPortDevId(c), &t) ? 1 : 0;
        if (!PI_STABLE[c] || sameTiming(t, PI_HDMI_INFO[c])) continue;
        PI_HDMI_INFO[c] = t;
        PI_CHANGE[c] = 1;
        if (g_debugSwitch == 254)
            writeLogMsg(LOG_DEBUG, "[load_hdmi] chg_input, port:" + std::to_string(c) +
                                       ", dev_id:" + std::to_string(vlxApi_GetPortDevId(c)));
        for (int k = 0; k < win_count; ++k) {
            int ports[4];
            const int n = c331geom::dbdPorts(PM_WIN_DBD_MODE[k], ports);
            if (n == 0) {
                // A timing change re-allocates the window's channels; it never fades.
                if (PM_INPUT[k] == c) PM_CHG[kChgInput][k] = 3;
                continue;
            }
            for (int i = 0; i < n; ++i)
                if (ports[i] == c) {
                    PM_CHG[kChgInput][k] = 3;
                    set_ichsel(spi_fd, k);
                    break;
                }
        }
    }
}

// Reads the five measured values of chip port c (of V-by-One sub-link subLink) under the
// measurement hold: h total, vertical count, lines, frame length, active width.
bool c331_manage::measurePort(int c, int v[5], int subLink) {
    writeW(kRegUpdHold, kMeasHold);
    v[0] = int(readW(measDesc(kMeasBank, measHTotalAddr(c, subLink), 2))) + 1;
    v[1] = int(readW(measDesc(kMeasBank, measVCountAddr(c, subLink), 2)));
    v[2] = int(readW(measDesc(kMeasBank, measLinesAddr(c, subLink), 2))) + 1;
    v[3] = int(readW(measDesc(kMeasBank, measFrameAddr(c, subLink), 3))) + 1;
    v[4] = int(readW(measDesc(kMeasActBank, measActWAddr(c, subLink), 2)));
    writeW(kRegUpdHold, 0);
    return measuredOk(v[0], v[2], uint32_t(v[3]));
}

void c331_manage::check_port_valid(int fd) {
    (void)fd;
    for (int k = 0; k < win_count; ++k) {
        int ports[4];
        const int n = portsOfRecord(k, ports);
        for (int i = 0; i < n; ++i) {
            const int c = ports[i];
            uint8_t check;
            {
                plat::Locker<plat::QtMutex> l(Utils::_check_nosig_mutex);
                check = nosig_check[c];
            }
            if (!(check & 0x80)) continue;
            int v[5];
            const bool ok = measurePort(c, v);
            {
                plat::Locker<plat::QtMutex> l(Utils::_check_nosig_mutex);
                nosig_check[c] = uint8_t(ok ? (nosig_check[c] & ~1u) : (nosig_check[c] | 1u));
            }
            // Only the V-by-One receivers have a lock to restart.
            if (!ok && c >= 4) {
                restartVboReceiver(c - 4, 0x80);
                set_VBORXfrange(spi_fd, c - 4, 1, 0);
            }
        }
    }
}

void c331_manage::restartVboReceiver(int k, unsigned laneMask) {
    if (k < 0 || k > 1) return;
    const unsigned off = unsigned(k) * kVboRxStride;
    writeW(kRegVboRxReset, k == 0 ? 14 : 13);
    writeW(kRegVboRxReset, 15);
    writeW(kRegVboRxCtl + (off << 8), 5);
    writeW(kRegVboRxLanes + (off << 8), laneMask);
    vbo_restart_tick[k] = G_timeTicks;
    vbo_restarted[k] = true;
}

void c331_manage::check_input_port(int fd) {
    (void)fd;
    bool shown[INPUT_PORTS] = {}, flagged[INPUT_PORTS] = {};
    for (int k = 0; k < win_count; ++k) {
        int ports[4];
        const int n = portsOfRecord(k, ports);
        for (int i = 0; i < n; ++i) {
            shown[ports[i]] = true;
            if (PM_CHG[kChgInput][k]) flagged[ports[i]] = true;
        }
    }
    bool anyFlagged = false;
    for (bool f : flagged) anyFlagged = anyFlagged || f;
    // The ports are measured every 100 ms, and at once for a window whose input changed:
    // an idle manager does not keep the SPI bus (shared with the FPGAs) busy.
    if (!anyFlagged && measured_once && Utils::getTimeSpace(measure_tick) < kMeasureTicks) return;
    measured_once = true;
    measure_tick = G_timeTicks;

    for (int c = 0; c < INPUT_PORTS; ++c) {
        if (!shown[c] || !PI_STABLE[c]) continue;
        const c331in::ReceiverTiming& rx = PI_HDMI_INFO[c];
        const bool vbo = c >= 4;
        const int k = c - 4;
        int* info = PI_PORT_INFO[c];
        const int prev[5] = {info[kPiHTotal], info[kPiVCount], info[kPiLines], info[kPiFrame], info[kPiActW]};
        const int prevState = info[kPiState];
        const bool hadSignal = !PI_NOSIGNAL[c];
        int v[5];
        const bool signal = measurePort(c, v) && rx.nosignal != 1;
        if (signal) {
            const bool same = std::abs(v[0] - prev[0]) <= 2 && std::abs(v[1] - prev[1]) <= 2 &&
                              std::abs(v[2] - prev[2]) <= 100 && std::abs(v[3] - prev[3]) <= 100 && v[4] == prev[4];
            if (same && hadSignal && !flagged[c]) continue;
            for (int i = 0; i < 5; ++i) info[i] = v[i];
            PI_NOSIGNAL[c] = 0;
            PI_FV[c] = double(PS.refClk) / double(v[3]);
            const double pclk = double(rx.htotal) * PI_FV[c] * double(rx.vtotal);
            unsigned mask = 0x80;
            if (vbo) {
                const int lanes = rx.lane;
                mask = lanes == 8 ? 0xFF : lanes == 4 ? 0xF0 : lanes == 2 ? 0xC0 : 0x80;
                restartVboReceiver(k, mask);
                // A receiver that reports no lanes counts as one: the per-lane rate stays finite.
                set_VBORXfrange(spi_fd, k, 0, float(pclk / double(lanes < 1 ? 1 : lanes)));
                set_VBOInput(spi_fd, k);
                info[kPiState] = (rx.hact <= 2176 && pclk <= 324e6 && lanes < 4) ? 4 : 1;
                info[kPiInterlace] = 0;
            } else {
                set_pict(spi_fd, rx.datamode, c);
                set_sypol(spi_fd, 0, c);
                info[kPiState] = rx.datamode ? 3 : 4;
                info[kPiInterlace] = 0;
                if (rx.ip) {
                    if (rx.vtotal >= 560 && rx.vtotal <= 565) info[kPiState] = PI_FV[c] >= 55 ? 5 : 6;
                    else if (rx.vtotal >= 260 && rx.vtotal <= 265) info[kPiState] = 7;
                    else if (rx.vtotal >= 266 && rx.vtotal <= 350) info[kPiState] = 8;
                    if (info[kPiState] >= 5) info[kPiInterlace] = 1;
                }
            }
            info[kPiLanes] = rx.lane;
            info[kPiNoSignal] = 0;
            c331geom::ImageWindow act{rx.hsync + rx.hback, rx.hact, rx.vsync + rx.vback, rx.vact};
            dbd_act[c] = act;
            if (info[kPiState] < 4) {
                act.HST /= 2;
                act.HW /= 2;
            }
            PI_ACT[c] = act;
            PI_VFACTOR[c] = uint8_t(info[kPiInterlace]);
            PI_UPDATE[c] = 1;
            vlxApi_updateCrop(c);
            char text[120];
            std::snprintf(text, sizeof text, "c331: PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d",
                          c, info[kPiState], info[kPiInterlace], rx.htotal, rx.vtotal);
            writeLogMsg(LOG_INFO, text);
            if (vbo) {
                const int subLinks = rx.lane == 8 ? 4 : rx.lane == 4 ? 2 : 1;
                for (int j = 0; j < subLinks; ++j) {
                    int s[5];
                    if (measurePort(c, s, j)) continue;
                    vbo_lock_fail[k] = uint8_t(vbo_lock_fail[k] >= 29 ? 0 : vbo_lock_fail[k] + 1);
                    restartVboReceiver(k, mask);
                    break;
                }
            }
            continue;
        }
        // No signal.
        if (hadSignal || prevState != 0) {
            PI_NOSIGNAL[c] = 1;
            set_input_bkg(spi_fd, c, 1);
            if (prevState != 0) PI_UPDATE[c] = 1;
            for (int i = 0; i < 5; ++i) info[i] = 0;
            PI_ACT[c] = dbd_act[c] = c331geom::ImageWindow{16, 0, 16, 0};
            info[kPiState] = 0;
            info[kPiInterlace] = 0;
            info[kPiNoSignal] = 1;
            PI_VFACTOR[c] = 0;
            writeLogMsg(LOG_INFO, "c331: input port " + std::to_string(c) + " lost its picture");
            if (!vbo) set_pict(spi_fd, rx.datamode, c);
        }
        PI_NOSIGNAL[c] = 1;
        // A V-by-One receiver without signal is restarted until it locks, paced so that the
        // restarts leave the shared SPI bus to the FPGAs.
        if (vbo && (!vbo_restarted[k] || Utils::getTimeSpace(vbo_restart_tick[k]) >= kVboRestartTicks)) {
            restartVboReceiver(k, 0x80);
            set_VBORXfrange(spi_fd, k, 1, 0);
            vbo_lock_fail[k] = uint8_t(vbo_lock_fail[k] >= 29 ? 0 : vbo_lock_fail[k] + 1);
        }
    }
}

void c331_manage::c331_SetInputsource(int w, int source) {
    const int k = recordOf(w);
    if (k < 0) {
        writeLogMsg(LOG_WARNING, "c331:     win:" + std::to_string(w) + " OOR, wincnt:" + std::to_string(win_count));
        return;
    }
    const int src = source % 6;
    const int port = vlxApi_inputCvtC331(src);
    if (port > 5) {
        writeLogMsg(LOG_WARNING, "c331:     input:" + std::to_string(source) + " OOR");
        return;
    }
    gWininfo[k].input = uint8_t(src);
    PM_INPUT[k] = port;
    PM_CHG[kChgInput][k] = 1;
    check_input_port(spi_fd);
    set_output(spi_fd);
}

void c331_manage::set_input_bkg(int fd, int port, int on) {
    set_rtct(fd, 2);
    const bool force = g_force_bkcolor == 1;
    const unsigned colour = force ? kColorGreen : 0;
    for (int k = 0; k < win_count; ++k) {
        if (PM_INPUT[k] != port || PM_WIN_DBD_MODE[k] != 0) continue;
        const unsigned en = (force || on || PI_STATE(port) == 0) ? 1 : 0;
        for (int o = 0; o < OCH_MAX; ++o) {
            if (PM_WIN_NUM[o] != k) continue;
            writeW(kRegOchBgColor, colour, unsigned(o));
            writeW(kRegOchBgEnable, en, unsigned(o));
        }
    }
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int w, int on) { bkgOfRecord(fd, recordOf(w), on); }

void c331_manage::bkgOfRecord(int fd, int k, int on) {
    (void)fd;
    if (k < 0 || k >= win_count || PM_WIN_DBD_MODE[k] != 0) return;
    const int port = PM_INPUT[k];
    const bool force = g_force_bkcolor == 1;
    const bool en = on || (!pattern_gen_ && (port > 5 || PI_STATE(port) == 0)) || force;
    const unsigned colour = force ? kColorGreen : 0;
    for (int o = 0; o < OCH_MAX; ++o) {
        if (PM_WIN_NUM[o] != k) continue;
        writeW(kRegOchBgColor, colour, unsigned(o));
        writeW(kRegOchBgEnable, (en || (gWininfo[k].output & 1)) ? 1 : 0, unsigned(o));
    }
}

void c331_manage::set_pict(int fd, int datamode, int port) {
    (void)fd;
    if (port < 0 || port > 3) return;
    const unsigned bit = 1u << (4 * port);
    maskW(kRegInputFormat, datamode ? bit : 0, bit);
}

void c331_manage::set_sypol(int fd, int vbo, int port) {
    (void)fd;
    const int c = vbo ? 4 + port : port;
    if (c < 0 || c >= INPUT_PORTS || (vbo && port > 1) || (!vbo && port > 3)) return;
    const unsigned p = unsigned((PI_HDMI_INFO[c].vpol & 1) | ((PI_HDMI_INFO[c].hpol & 1) << 1));
    writeW(kRegUpdHold, kMeasHold);
    if (vbo) {
        const unsigned shift = 16u * unsigned(port);
        maskW(kRegVboSyncPol, (p * 0x1111u) << shift, 0xFFFFu << shift);
    } else {
        const unsigned shift = 8u * unsigned(port);
        maskW(kRegCmosSyncPol, (p | 4u) << shift, 0xFFu << shift);
    }
    writeW(kRegUpdHold, 0);
}

bool c331_manage::wait1_pivs(int fd, int ichn) {
    (void)fd;
    if (ichn < 0 || ichn >= ICH_MAX) return false;
    const unsigned bit = 1u << ichn;
    const uint32_t fieldDesc = desc(kIchFieldBank, kIchFieldFirst + kIchFieldStride * unsigned(ichn), 1);
    writeW(kRegIchVsyncEn, bit);
    writeW(kRegUpdHold, kMeasHold);
    bool seen = false;
    {
        PassHoldReleased wait(pass_holds_mutex_);   // up to a frame of polls
        seen = (readW(kRegIchVsyncStat) & bit) || readW(fieldDesc) == 0xFF;
        for (int i = 0; i < kPivsPolls && !seen; ++i) seen = (readW(kRegIchVsyncStat) & bit) || readW(fieldDesc) == 0xFF;
    }
    writeW(kRegIchVsyncEn, 0);
    writeW(kRegUpdHold, 0);
    if (!seen) {
        ++wait_timeouts;
        writeLogMsg(LOG_WARNING, "c331: no input vertical sync on ICH " + std::to_string(ichn) + " within " +
                                     std::to_string(kPivsPolls) + " polls");
    }
    return seen;
}

void c331_manage::wait1_pivs2(int fd) {
    int best = -1;
    double fv = 120;
    for (int k = 0; k < win_count; ++k) {
        if (!win_active[k] && !PM_CHG[kChgInput][k] && !PM_CHG[kChgDbd][k]) continue;
        const int p = PM_INPUT[k];
        if (p > 5 || ich.win_ich[k][0] < 0 || PI_FV[p] <= 0 || PI_FV[p] >= fv) continue;
        fv = PI_FV[p];
        best = k;
    }
    if (best < 0) {
        Sleep(45);
        return;
    }
    wait1_pivs(fd, ich.win_ich[best][0]);
}
