// Dot-by-dot windows and the V-by-One receive ports. A dot-by-dot window writes its
// inputs straight into frame memory of its own, made of blocks of the six-block table,
// and reads it back one pixel per panel pixel.
#include <algorithm>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;

namespace {

struct DbdLayout {
    int blocks;
    bool downward;
    int widthPorts[4];  // ports whose widths make the line, -1 ends
    bool stacked;
};

DbdLayout dbdLayout(int mode, int port) {
    switch (mode) {
    case 1: return {port >= 4 ? 2 : 1, false, {port, -1}, false};
    case 20: return {2, false, {0, 1, -1}, false};
    case 21: return {2, true, {0, -1}, true};
    case 22: return {2, false, {2, 3, -1}, false};
    case 23: return {2, true, {2, -1}, true};
    case 30: return {3, false, {0, 1, 2, -1}, false};
    case 40: return {4, false, {0, 1, 2, 3}, false};
    case 41: return {4, true, {0, 1, -1}, true};
    case 50: return {4, false, {4, 5, -1}, false};
    case 51: return {4, true, {4, -1}, true};
    default: return {0, false, {-1}, false};
    }
}

}  // namespace

int c331_manage::check_dbd_input(int fd, int port) const {
    (void)fd;
    if (port < 0 || port >= INPUT_PORTS) return 0;
    const int w = dbd_act[port].HW, h = dbd_act[port].VW;
    return (w > (port < 4 ? 2560 : 5120) || h > 2176) ? 1 : 0;
}

void c331_manage::reset_dbd_mem(int win) {
    if (win < 0 || win >= WINDOW_MAX) return;
    for (int& b : dbd_slots[win]) {
        if (b >= 0 && b < 6) dbd_blocks[b] = -1;
        b = -1;
    }
}

int c331_manage::set_dbd_mem(int fd, int win) {
    if (win < 0 || win >= WINDOW_MAX) return -1;
    const int mode = PM_WIN_DBD_MODE[win];
    if (ich.win_ich[win][0] < 0 || mode == 0) {
        reset_dbd_mem(win);
        return -1;
    }
    reset_dbd_mem(win);
    const int port = PM_INPUT[win];
    if (mode == 1 && !check_dbd_input(fd, port)) {
        for (int f = 0; f < 5; ++f) dbd_mem[win][f] = PS.memPlane[f][ich.win_ich[win][0]];
        dbd_mem_width[win] = int(PS.memWidth);
        return 0;
    }
    const DbdLayout l = dbdLayout(mode, port);
    if (l.blocks <= 0) return -1;
    // The window's memory is one run of adjacent blocks: its lines run on past the first block.
    int first = -1;
    if (!l.downward) {
        for (int s = 0; s + l.blocks <= 6 && first < 0; ++s)
            if (std::all_of(dbd_blocks + s, dbd_blocks + s + l.blocks, [](int b) { return b < 0; })) first = s;
    } else {
        for (int e = 5; e - l.blocks + 1 >= 0 && first < 0; --e)
            if (std::all_of(dbd_blocks + e - l.blocks + 1, dbd_blocks + e + 1, [](int b) { return b < 0; }))
                first = e - l.blocks + 1;
    }
    if (first < 0) {
        int freeBlocks = 0;
        for (int b : dbd_blocks) freeBlocks += b < 0;
        writeLogMsg(LOG_WARNING, "c331: Dot-By-Dot memory assignment error!!!   win=" + std::to_string(win) +
                                     "  mode=" + std::to_string(mode) + "  mem_cnt=" + std::to_string(l.blocks) +
                                     "  blk_cnt=" + std::to_string(freeBlocks));
        return -1;
    }
    for (int i = 0; i < l.blocks; ++i) {
        // Slots in the order taken: upward from the first, downward from the last.
        const int b = l.downward ? first + l.blocks - 1 - i : first + i;
        dbd_blocks[b] = 1;
        if (i < 4) dbd_slots[win][i] = b;
    }
    for (int f = 0; f < 5; ++f) dbd_mem[win][f] = PS.memBase[f] + kDbdBlockSize * uint32_t(first);
    int sum = 0;
    for (int p : l.widthPorts) {
        if (p < 0) break;
        sum += dbd_act[p].HW;
    }
    dbd_mem_width[win] = (sum + 319) / 320;
    return 0;
}

void c331_manage::set_display_window_ich_dbd(int fd, int win, int mode) {
    if (win < 0 || win >= WINDOW_MAX) return;
    const int n = ich.count(win);
    if (n == 0) return;
    for (int j = 0; j < n; ++j) set_idual(fd, ich.win_ich[win][j], 0, 0);
    if (set_dbd_mem(fd, win) < 0) {
        PM_CHG[kChgInput][win] = PM_CHG[kChgDbd][win] = 0;
        writeLogMsg(LOG_WARNING, "c331: [set_display_window_ich_dbd] win " + std::to_string(win) + " left dark");
        set_mct(fd, win, 0);
        return;
    }
    set_ichsel(fd, win);
    const int port = PM_INPUT[win];
    struct Part {
        int hst, hw, vst, vw, row, xBefore, upperH;
    };
    Part part[4] = {};
    auto whole = [this](int p) {
        const c331geom::ImageWindow& r = dbd_act[p];
        return Part{r.HST - 7, r.HW, r.VST + 1, r.VW, 0, 0, 0};
    };
    int parts = 0;
    auto vboPair = [&](int p, int at, int row, int xBefore) {
        const c331geom::ImageWindow& r = dbd_act[p];
        if (PI_STATE(port) >= 4) {
            part[at] = {r.HST - 7, r.HW, r.VST + 1, r.VW, row, xBefore, 0};
            part[at + 1] = {0, 0, 0, 0, row, xBefore + r.HW, 0};
        } else {
            part[at] = {r.HST / 2 - 7, r.HW / 2, r.VST + 1, r.VW, row, xBefore, 0};
            part[at + 1] = {r.HST / 2 - 7, r.HW / 2, r.VST + 1, r.VW, row, xBefore + r.HW / 2, 0};
        }
    };
    int ports[4];
    const int np = c331geom::dbdPorts(mode, ports);
    if (mode == 1) {
        if (port >= 4 && port <= 5 && n >= 2) {
            vboPair(port, 0, 0, 0);
            parts = 2;
        } else if (port >= 0 && port < INPUT_PORTS) {
            part[0] = whole(port);
            parts = 1;
        }
    } else if (mode == 50 || mode == 51) {
        const bool stacked = mode == 51;
        vboPair(5, 0, 0, 0);
        vboPair(4, 2, stacked ? 1 : 0, stacked ? 0 : dbd_act[5].HW);
        part[2].upperH = part[3].upperH = dbd_act[5].VW;
        parts = 4;
    } else {
        if (n < np) return;  // fewer ICHs than ports
        int x = 0;
        for (int j = 0; j < np; ++j) {
            part[j] = whole(ports[j]);
            const bool lower = (mode == 21 || mode == 23) ? j == 1 : mode == 41 ? j >= 2 : false;
            if (mode == 41 && j == 2) x = 0;
            part[j].row = lower ? 1 : 0;
            part[j].xBefore = (mode == 21 || mode == 23) ? 0 : x;
            part[j].upperH = lower ? dbd_act[ports[0]].VW : 0;
            x += dbd_act[ports[j]].HW;
        }
        parts = np;
    }
    PM_MEM_WMODE[win] = (mode == 1 && PI_SCAN_MODE(port)) ? 2 : PS_MEM_WMODE[win];
    const int fmt = PM_MEM_WMODE[win];
    const int firstIch = ich.win_ich[win][0];
    for (int j = 0; j < parts && j < n; ++j) {
        const int c = ich.win_ich[win][j];
        const unsigned o = unsigned(c);
        const uint32_t offset = uint32_t(c331geom::formatBytes(part[j].xBefore, fmt)) +
                                uint32_t(part[j].row) * uint32_t(dbd_mem_width[win]) * uint32_t(part[j].upperH) * 1024u;
        writeW(kRegIsyct, j == 0 ? 1u : unsigned(8 + firstIch), o);
        writeW(kRegIactHst, unsigned(std::max(0, part[j].hst)), o);
        writeW(kRegIactHw, unsigned(std::max(0, part[j].hw)), o);
        writeW(kRegIactVst, unsigned(std::max(0, part[j].vst)), o);
        writeW(kRegIactVw, unsigned(std::max(0, part[j].vw)), o);
        for (unsigned a : {0x42u, 0x43u, 0x44u, 0x45u, 0x46u, 0x49u, 0x4Au, 0x4Bu}) writeW(desc(0x11, a, 1), 0, o);
        writeW(desc(0x11, 0x47, 2), 0, o);
        writeW(desc(0x11, 0x4C, 2), 0, o);
        for (int f = 0; f < 5; ++f) writeW(kRegIsFld0 + (uint32_t(4 * f) << 8), dbd_mem[win][f] + offset, o);
        writeW(kRegIMwi, unsigned(dbd_mem_width[win]), o);
        writeW(kRegFieldOrder, c331geom::packFieldOrder(fld_order[win]), o);
        writeW(kRegIchFormat0 + (o << 8), unsigned(c331geom::formatCode(fmt)));
    }
    set_mct(fd, win, 0);
    if (mode == 1) set_ip(fd, firstIch);
}

void c331_manage::set_VBOInput(int fd, int k) {
    if (k < 0 || k > 1) return;
    set_sypol(fd, 1, k);
    unsigned word, layout;
    switch (PI_HDMI_INFO[4 + k].lane) {
    case 1: word = 0, layout = 0; break;
    case 2: word = 1, layout = 0x10; break;
    case 4: word = 17, layout = 4; break;
    default: word = 1028, layout = 2; break;
    }
    writeW(kRegVboLaneWord0 + (unsigned(2 * k) << 8), word);
    maskW(kRegVboLayout, layout << (8 * k), 0xFFu << (8 * k));
}

void c331_manage::set_VBORXfrange(int fd, int k, int toggle, float freq) {
    (void)fd;
    if (k < 0 || k > 1) return;
    const uint32_t reg = kRegVboRxRange + (uint32_t(kVboRxStride * unsigned(k)) << 8);
    if (toggle) {
        maskW(reg, readW(reg) ^ kVboRxLowRange, kVboRxLowRange);
        return;
    }
    maskW(reg, double(freq) < kVboLowRangeHz ? kVboRxLowRange : 0, kVboRxLowRange);
    const unsigned lockBit = 1u << (5 + 2 * k);
    if (readW(kRegVboRxLock) & lockBit) return;
    const uint32_t frameDesc = desc(kMeasBank, measFrameAddr(4 + k), 3);
    for (int i = 0; i < kVboLockReads; ++i) {
        const unsigned f = readW(frameDesc);
        if (f != 0xFFFFFE && f != 0xFFFFFF) return;
        if (readW(kRegVboRxLock) & lockBit) return;
    }
    writeLogMsg(LOG_WARNING, "c331: V-by-One receiver " + std::to_string(k) + " did not lock within " +
                                 std::to_string(kVboLockReads) + " reads");
}
