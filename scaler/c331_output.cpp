// Layers, freeze and output: set_output re-applies the picture after any change of layout,
// source, crop, attributes or output mode. The old picture is held (freeze) or the one
// changed window is faded out, the changed windows' channels are programmed again, the
// mixers' layer order is rebuilt, and the picture is released (or faded in).
#include <algorithm>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;

namespace {

uint32_t coefDesc(int combination, int slot) {
    return kRegLayerCoef0 + (uint32_t(0x5 * combination + slot) << 8);
}

}  // namespace

void c331_manage::set_output(int fd) {
    ++set_output_calls;
    uint8_t* chgInput = PM_CHG[kChgInput];
    uint8_t* chgDbd = PM_CHG[kChgDbd];
    uint8_t* chgShape = PM_CHG[kChgShape];
    auto chgAttr = [this](int w) { return PM_CHG[kChgAttr][w] || mirror_update[w]; };

    for (int i = 0; i < WINDOW_MAX; ++i) reset_ich(i);
    for (int w = 0; w < WINDOW_MAX; ++w) {
        const bool noIch = ich.win_ich[w][0] < 0;
        if (chgInput[w] == 1 || chgInput[w] == 3 || chgDbd[w] || (chgShape[w] && noIch)) {
            // A window that is not shown has nothing to allocate (and nothing worth a log line).
            const bool shown = PM_WIN_SHAPE[w][0] && PM_WIN_SHAPE[w][1];
            if (!shown || set_input(w, PM_INPUT[w]) == c331ich::kFailed) chgInput[w] = chgDbd[w] = 0;
        }
    }
    // A fade only for exactly one window switching its source with the fade on, and nothing else changing.
    int fadeWin = -1, candidates = 0;
    bool other = chg_overlay != 0;
    check_stitching_chg();
    for (int w = 0; w < WINDOW_MAX; ++w) {
        if (chgInput[w] == 1 && PM_WIN_FADE_EN[w]) {
            ++candidates;
            fadeWin = w;
        } else if (chgInput[w] == 1 || chgInput[w] == 2 || chgInput[w] == 3 || chgDbd[w] == 1 || chgShape[w] == 1) {
            other = true;
        }
    }
    const bool fade = candidates == 1 && !other;
    if (fade) set_layer_coef(fd, fadeWin, PM_WIN_FADE_OUT[fadeWin], 0);
    else set_freeze(fd, 1);

    for (int w = 0; w < WINDOW_MAX; ++w) {
        line_back[w] = 1;
        width_clamp[w] = 0;
        if (!chgInput[w] && !chgDbd[w] && !chgShape[w]) continue;
        calc_iwin2(w);
        calc_owin2(w);
        if (PM_WIN_DBD_MODE[w] > 0 && !(PM_WIN_DBD_MODE[w] == 1 && !check_dbd_input(fd, PM_INPUT[w]))) {
            set_display_window_ich_dbd(fd, w, PM_WIN_DBD_MODE[w]);
            continue;
        }
        c331geom::ImageWindow target = OWIN[w];
        if (PS_VBOTX_MODE == 2) {
            const int t = IWIN[w].HW <= 2176 ? IWIN[w].HW : OWIN[w].HW;
            if (IWIN[w].VW < OWIN[w].VW) {
                line_back[w] = 0;
                if (t > 2176) {
                    width_clamp[w] = 1;
                    target.HW = 2176;
                }
            }
        }
        set_display_window_ich(fd, IWIN[w], target, w);
    }
    reset_act(fd, 0);
    wait1_pivs2(fd);
    set_rtct(fd, 2);
    for (int w = 0; w < WINDOW_MAX; ++w) {
        if (!chgInput[w] && !chgDbd[w] && !chgShape[w] && !chgAttr(w)) continue;
        c331geom::ImageWindow source = IWIN[w];
        if (width_clamp[w]) source.HW = 2176;
        set_display_window_och(fd, source, OWIN[w], w);
        bkgOfRecord(fd, w, 0);
    }
    if (chg_overlay || chg_priority) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        chg_overlay = chg_priority = 0;
    }
    reset_act(fd, 1);
    if (fade) set_layer_coef(fd, fadeWin, PM_WIN_FADE_IN[fadeWin], 1);
    else set_freeze(fd, 0);
    set_rtct(fd, 1);

    std::copy(std::begin(PM_WIN_NUM), std::end(PM_WIN_NUM), prev_och_win);
    for (int w = 0; w < WINDOW_MAX; ++w) {
        std::copy(std::begin(ich.win_ich[w]), std::end(ich.win_ich[w]), prev_ich_used[w]);
        if (PM_WIN_DBD_MODE[w] <= 0 || (PM_WIN_DBD_MODE[w] == 1 && !check_dbd_input(fd, PM_INPUT[w]))) reset_dbd_mem(w);
    }
    // A port whose every window was just programmed from its new timing needs no second pass.
    for (int c = 0; c < INPUT_PORTS; ++c) {
        if (!PI_UPDATE[c] && !PI_CHANGE[c]) continue;
        bool all = true;
        for (int w = 0; w < win_count; ++w)
            if (PM_INPUT[w] == c && !chgInput[w] && !chgDbd[w] && !chgShape[w]) all = false;
        if (all) PI_UPDATE[c] = PI_CHANGE[c] = 0;
    }
    for (int w = 0; w < WINDOW_MAX; ++w) {
        chgShape[w] = chgInput[w] = chgDbd[w] = 0;
        PM_CHG[kChgAttr][w] = 0;
        mirror_update[w] = 0;
        chg_extra[w] = 0;
    }
}

void c331_manage::set_freeze(int fd, int on) {
    ++freeze_calls;
    if (!on) {
        // Only the frozen windows' outputs go back to their running field order.
        for (int w = 0; w < WINDOW_MAX; ++w) {
            if (!frozen[w]) continue;
            const int m = std::clamp(PM_WIN_STITCHING[w], 0, WINDOW_MAX - 1);
            const int* c = fld_order[m];
            const unsigned v = unsigned(((c[0] & 7) << 4 | (c[3] & 7)) + ((c[1] & 7) << 8) + ((c[2] & 7) << 12));
            for (int o = 0; o < OCH_MAX; ++o)
                if (PM_WIN_NUM[o] == w) writeW(kRegOutFieldOrder, v, unsigned(o));
            frozen[w] = 0;
        }
        return;
    }
    struct Listed {
        int w, ichn;
    };
    Listed list[WINDOW_MAX];
    int n = 0;
    for (int w = 0; w < WINDOW_MAX; ++w) {
        if (!PM_CHG[kChgInput][w] && !PM_CHG[kChgDbd][w] && !PM_CHG[kChgShape][w]) continue;
        const int prev = prev_ich_used[w][0] >= 0 ? prev_ich_used[w][0] : ich.win_ich[w][0];
        list[n++] = {w, prev};
    }
    set_rtct(fd, 0);
    if (n == 0 || list[0].ichn < 0 || list[0].ichn >= ICH_MAX) return;
    const unsigned first = unsigned(list[0].ichn);
    writeW(kRegIsyct, kIchFreeze, first);
    const unsigned s = (readW(kRegWriteField0 + (first << 8)) >> 2) & 3;
    // The other windows stop on the same write field; a field index that never matches
    // gives up after a bounded number of rounds.
    bool pending[WINDOW_MAX] = {};
    int left = 0;
    for (int i = 1; i < n; ++i)
        if (list[i].ichn >= 0 && list[i].ichn < ICH_MAX) pending[i] = true, ++left;
    for (int round = 0; round < kFreezeRounds && left > 0; ++round)
        for (int i = 1; i < n; ++i) {
            if (!pending[i]) continue;
            const unsigned c = unsigned(list[i].ichn);
            if (((readW(kRegWriteField0 + (c << 8)) >> 2) & 3) != s) continue;
            writeW(kRegIsyct, kIchFreeze, c);
            pending[i] = false;
            --left;
        }
    if (left > 0) {
        ++wait_timeouts;
        writeLogMsg(LOG_WARNING, "c331: freeze: " + std::to_string(left) + " input channel(s) never reached field " +
                                     std::to_string(s) + "; frozen where they stood");
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < ICH_MAX && prev_ich_used[list[i].w][j] >= 0; ++j)
            writeW(kRegChanCtl0 + (unsigned(prev_ich_used[list[i].w][j]) << 8), 1);
    wait1_povs(fd, 0);
    int* order = fld_order[list[0].w];
    std::swap(order[(s + 3) % 4], order[4]);
    for (int i = 0; i < n; ++i) {
        const int w = list[i].w;
        if (i > 0) std::copy(order, order + 5, fld_order[w]);
        for (int j = 0; j < ICH_MAX && ich.win_ich[w][j] >= 0; ++j)
            writeW(kRegFieldOrder, c331geom::packFieldOrder(fld_order[w]), unsigned(ich.win_ich[w][j]));
        frozen[w] = 1;
    }
    const unsigned held = unsigned(order[4] & 7) * 0x1111u;
    for (int o = 0; o < OCH_MAX; ++o)
        for (int i = 0; i < n; ++i)
            if (prev_och_win[o] == list[i].w) {
                writeW(kRegOutFieldOrder, held, unsigned(o));
                break;
            }
}

void c331_manage::reset_act(int fd, int mode) {
    (void)fd;
    if (mode == 0 || mode == 2)
        for (int i = 0; i < ICH_MAX; ++i)
            if (ich.ich_win[i] < 0) writeW(kRegIactHw, 0, unsigned(i));
    if (mode == 1 || mode == 2)
        for (int o = 0; o < OCH_MAX; ++o) {
            const int w = PM_WIN_NUM[o];
            const bool used = w >= 0 && w < WINDOW_MAX && PM_WIN_SHAPE[w][0] && PM_WIN_SHAPE[w][1] &&
                              PM_AREA_NUM[o] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
            if (!used) writeW(kRegOactHw, 0, unsigned(o));
        }
}

void c331_manage::update_overlay_info() {
    for (auto& row : och_of_win) std::fill(std::begin(row), std::end(row), -1);
    for (int w = 0; w < WINDOW_MAX; ++w) {
        int n = 0;
        for (int o = 0; o < OCH_MAX; ++o)
            if (PM_WIN_NUM[o] == w) och_of_win[w][n++] = o;
    }
    for (int m = 0; m < OCH_MAX; ++m) {
        int n = 0;
        for (int o = 0; o < OCH_MAX && n < 8; ++o)
            if (PM_OVERLAY[o] - 1 == m) g_och_layer[m][n++] = o;
        g_och_layer_cnt[m] = n;
        for (int i = n; i < 8; ++i) g_och_layer[m][i] = -1;
        auto pri = [this](int o) {
            const int w = PM_WIN_NUM[o];
            return w >= 0 && w < WINDOW_MAX ? PM_OVERLAY_PRI[w] : 99;
        };
        // The chip's exchange sort: equal priorities do not keep their OCH order.
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b)
                if (pri(g_och_layer[m][b]) < pri(g_och_layer[m][a])) std::swap(g_och_layer[m][a], g_och_layer[m][b]);
    }
}

void c331_manage::set_overlay(int fd) {
    (void)fd;
    for (int m = 0; m < OCH_MAX; ++m) {
        uint32_t v = 0;
        for (int k = 0; k < g_och_layer_cnt[m] && k < 8; ++k) v += uint32_t(8 + g_och_layer[m][k]) << (4 * k);
        writeW(kRegLayerList, v, unsigned(m));
    }
}

void c331_manage::reset_layer_coef(int fd, int mode) {
    (void)fd;
    const unsigned modeWord = mode == 0 ? 0 : mode == 1 ? 0x100 : 0x200;
    for (int m = 0; m < kMixers; ++m) {
        const unsigned a = g_och_layer_cnt[m] > 0 ? kCoefFull : 0;
        for (int c = 0; c < 16; ++c) {
            int top = -1;
            for (int b = 3; b >= 0 && c; --b)
                if (c & (1 << b)) {
                    top = b;
                    break;
                }
            for (int t = 0; t < 5; ++t) writeW(coefDesc(c, t), (t == top + 1) ? a : 0, unsigned(m));
            writeW(kRegLayerMode, modeWord, unsigned(m));
        }
    }
}

void c331_manage::set_layer_coef(int fd, int w, int steps, int dir) {
    if (steps < 0 || w < 0 || w >= WINDOW_MAX) return;
    steps = std::min(steps, int(kFadeMaxFrames));
    if (g_debugSwitch == 254)
        writeLogMsg(LOG_DEBUG, "set_layer_coef  win=" + std::to_string(w) + "  cnt=" + std::to_string(steps) +
                                   "  dir=" + std::to_string(dir));
    for (int s = 0; s <= steps; ++s) {
        const unsigned a = steps == 0 ? 128 : unsigned(s * 128 / steps);
        const unsigned own = dir ? a : 128 - a, below = dir ? 128 - a : a;
        writeW(kRegUpdCtl0, 255);
        writeW(kRegUpdCtl0 + 0x100, 255);
        for (int m = 0; m < kMixers; ++m) {
            if (g_och_layer_cnt[m] <= 0) continue;
            int p = -1;
            for (int i = 0; i < g_och_layer_cnt[m] && i < 8; ++i)
                if (g_och_layer[m][i] >= 0 && PM_WIN_NUM[g_och_layer[m][i]] == w) p = i;
            if (p < 0) continue;
            if (p > 3) {
                writeW(kRegLayerMode, p == 4 ? 0x100 : 0x200, unsigned(m));
                p = 3;
            } else {
                writeW(kRegLayerMode, 0, unsigned(m));
            }
            for (int c = 1; c < 16; ++c) {
                if (!(c & (1 << p)) || (c >> (p + 1))) continue;
                int lower = -1;
                for (int b = p - 1; b >= 0; --b)
                    if (c & (1 << b)) {
                        lower = b;
                        break;
                    }
                writeW(coefDesc(c, p + 1), own, unsigned(m));
                writeW(coefDesc(c, lower + 1), below, unsigned(m));
            }
        }
        writeW(kRegUpdCtl0, 0xA9);
        writeW(kRegUpdCtl0 + 0x100, 0xCB);
        ++fade_steps;
        // A fade lasts up to hundreds of frames: the screens' writers get the manage mutex
        // while each frame goes out (wait1_povs), instead of waiting seconds for the whole fade.
        wait1_povs(fd, 0);
    }
}
