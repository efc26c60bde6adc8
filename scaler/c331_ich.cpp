// Input channels: which ICHs each window reads its input through, and the ICH input
// selectors and dual-input blocks of the chip.
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"

using namespace c331;

c331ich::WinView c331_manage::ichView(int w) const {
    c331ich::WinView v;
    if (w < 0 || w >= WINDOW_MAX) return v;
    v.shown = PM_WIN_SHAPE[w][0] != 0 && PM_WIN_SHAPE[w][1] != 0;
    v.dbdMode = PM_WIN_DBD_MODE[w];
    v.port = PM_INPUT[w];
    v.interlaced = PM_INPUT[w] >= 0 && PM_INPUT[w] < INPUT_PORTS && PI_SCAN_MODE(PM_INPUT[w]) != 0;
    v.dbdChange = PM_CHG[kChgDbd][w] != 0;
    return v;
}

// The allocator's messages that are always printed; the first ICH of each window for the
// controls that name one.
void c331_manage::syncIchTables() {
    for (const std::string& m : ich.messages) {
        const bool bad = m.find("ret=-1") != std::string::npos || m.find("NG") != std::string::npos ||
                         m.find("not available") != std::string::npos || m.find("Rare Case") != std::string::npos;
        writeLogMsg(bad ? LOG_WARNING : LOG_INFO, "c331: " + m);
    }
    ich.messages.clear();
    for (int w = 0; w < WINDOW_MAX; ++w) win_ich[w] = int8_t(ich.win_ich[w][0]);
}

int c331_manage::set_input(int win, int port) {
    (void)port;  // the allocator reads the window's port from PM_INPUT
    c331ich::WinView v[WINDOW_MAX];
    for (int w = 0; w < WINDOW_MAX; ++w) v[w] = ichView(w);
    int chg[WINDOW_MAX];
    for (int w = 0; w < WINDOW_MAX; ++w) chg[w] = PM_CHG[kChgInput][w];
    const int r = ich.set_input(win, v, chg);
    for (int w = 0; w < WINDOW_MAX; ++w) PM_CHG[kChgInput][w] = uint8_t(chg[w]);
    // Only "check_ich_all" stays a debug line when all went well.
    if (r != c331ich::kFailed && g_debugSwitch != 254) {
        auto& msgs = ich.messages;
        for (size_t i = 0; i < msgs.size();)
            if (msgs[i].rfind("check_ich_all ret=", 0) == 0 && msgs[i] != "check_ich_all ret=-1") msgs.erase(msgs.begin() + long(i));
            else ++i;
    }
    syncIchTables();
    return r;
}

void c331_manage::reset_ich(int win) {
    c331ich::WinView v[WINDOW_MAX];
    for (int w = 0; w < WINDOW_MAX; ++w) v[w] = ichView(w);
    ich.reset_ich(win, v);
    syncIchTables();
}

void c331_manage::set_ichsel(int fd, int win) {
    (void)fd;
    if (win < 0 || win >= WINDOW_MAX) return;
    const int mode = PM_WIN_DBD_MODE[win];
    const int* ichs = ich.win_ich[win];
    auto sel = [this](int i, unsigned v) { writeW(kRegIchSelect0 + (unsigned(i) << 8), v); };
    if (mode == 0 || mode == 1) {
        const int i = ichs[0];
        const int port = PM_INPUT[win];
        if (i < 0) return;
        if (port >= 0 && port <= 3) {
            sel(i, 2u * unsigned(port));
        } else if (port == 4 || port == 5) {
            const unsigned s = 4u * unsigned(port - 2);
            sel(i, s);
            if (i + 1 < ICH_MAX) sel(i + 1, s + (PI_HDMI_INFO[port].lane > 4 ? 2 : 1));
        }
        return;
    }
    unsigned list[4];
    int n = 0;
    switch (mode) {
    case 20: case 21: list[0] = 0, list[1] = 2, n = 2; break;
    case 22: case 23: list[0] = 4, list[1] = 6, n = 2; break;
    case 30: list[0] = 0, list[1] = 2, list[2] = 4, n = 3; break;
    case 40: case 41: list[0] = 0, list[1] = 2, list[2] = 4, list[3] = 6, n = 4; break;
    case 50: case 51:
        list[0] = 8, list[1] = PI_HDMI_INFO[4].lane > 4 ? 10 : 9;
        list[2] = 12, list[3] = PI_HDMI_INFO[5].lane > 4 ? 14 : 13;
        n = 4;
        break;
    default: return;
    }
    for (int j = 0; j < n && j < ICH_MAX && ichs[j] >= 0; ++j) sel(ichs[j], list[j]);
}

void c331_manage::set_idual(int fd, int ichn, int enable, int port) {
    (void)fd;
    if (ichn < 0 || ichn >= ICH_MAX) return;
    const unsigned off = kIdualStride * unsigned(ichn / 2);
    if (!enable || port < 0 || port >= INPUT_PORTS) {
        writeW(kRegIdualCtl + (off << 8), 0);
        return;
    }
    writeW(kRegIdualCtl + (off << 8), 3);
    writeW(kRegIdualStart + (off << 8), unsigned(PI_ACT[port].HST));
    writeW(kRegIdualWidth + (off << 8), unsigned(2 * PI_ACT[port].HW));
}
