#include "scaler/c331_ich_alloc.h"

#include "scaler/c331_geometry.h"

namespace c331ich {

void IchAlloc::clear() {
    for (int& o : ich_win) o = -1;
    rebuild();
}

void IchAlloc::rebuild() {
    for (auto& row : win_ich)
        for (int& i : row) i = -1;
    int n[kWin] = {};
    for (int i = 0; i < kIch; ++i) {
        const int w = ich_win[i];
        if (w >= 0 && w < kWin) win_ich[w][n[w]++] = i;
    }
}

int IchAlloc::count(int win) const {
    int n = 0;
    while (n < kIch && win_ich[win][n] >= 0) ++n;
    return n;
}

bool IchAlloc::holdsPair(int win) const {
    return count(win) >= 2 && win_ich[win][0] % 2 == 0 && win_ich[win][1] == win_ich[win][0] + 1;
}

int IchAlloc::firstFree(std::initializer_list<int> order) const {
    for (int i : order)
        if (ich_win[i] < 0) return i;
    return -1;
}

void IchAlloc::move(int from, int to, int chgInput[kWin]) {
    const int w = ich_win[from];
    ich_win[to] = w;
    ich_win[from] = -1;
    if (w >= 0 && w < kWin) chgInput[w] = 2;
}

int IchAlloc::check_ich_all(int win, const WinView v[kWin]) {
    int sum = 0;
    for (int w = 0; w < kWin; ++w)
        if (v[w].shown) sum += c331geom::ichDemand(v[w].dbdMode, v[w].port);
    if (sum > kIch) {
        messages.push_back("check_ich_all ret=-1");
        return -1;
    }
    for (int i = 0; i < kIch; ++i) {
        const int o = ich_win[i];
        if (o < 0) continue;
        if (o == win || o >= kWin || !v[o].shown) ich_win[i] = -1;
    }
    rebuild();
    messages.push_back("check_ich_all ret=" + std::to_string(sum));
    return sum;
}

int IchAlloc::check_ich(bool interlaced, bool pair) const {
    auto freeIch = [this](int i) { return ich_win[i] < 0; };
    if (pair) {
        for (int first : {4, 6, 2, 0})
            if (freeIch(first) && freeIch(first + 1)) return first;
        return -1;
    }
    if (freeIch(0)) return !freeIch(2) && freeIch(3) ? 3 : 0;
    for (int i : {1, 2, 3})
        if (freeIch(i)) return i;
    if (interlaced) return -1;
    const bool f4 = freeIch(4), f6 = freeIch(6);
    if (f4 && f6) return 4;
    if (f4) return freeIch(7) ? 7 : 4;
    if (f6) return freeIch(5) ? 5 : 6;
    if (freeIch(5)) return 5;
    if (freeIch(7)) return 7;
    return -1;
}

int IchAlloc::adjust_ich(bool interlaced, bool pair, int win, const WinView v[kWin], int chgInput[kWin]) {
    if (!pair && !interlaced) {
        const int i = firstFree({0, 1, 2, 3, 4, 5, 6, 7});
        if (i < 0) {
            messages.push_back("adjust_ich NG!!!");
            return -1;
        }
        ich_win[i] = win;
        rebuild();
        return 0;
    }
    if (!pair) {
        for (int i = 0; i < 4; ++i) {
            const int o = ich_win[i];
            // A window on an aligned pair is never moved half: it reads one port through both.
            if (o < 0 || o >= kWin || v[o].interlaced || holdsPair(o)) continue;
            const int to = firstFree({4, 5, 6, 7});
            if (to < 0) {
                messages.push_back("adjust_ich NG!!!");
                return -1;
            }
            move(i, to, chgInput);
            ich_win[i] = win;
            rebuild();
            return 0;
        }
        messages.push_back("ICH1-4 is not available!!!");
        const int to = firstFree({4, 5, 6, 7});
        if (to < 0) {
            messages.push_back("adjust_ich NG!!!");
            return -1;
        }
        ich_win[to] = win;
        rebuild();
        return 0;
    }
    struct Move {
        int freeIch, occupied;
        std::initializer_list<int> targets;
    };
    const Move moves[] = {{4, 5, {6, 7, 0, 1, 2, 3}}, {5, 4, {6, 7, 0, 1, 2, 3}}, {6, 7, {0, 1, 2, 3}},
                          {7, 6, {0, 1, 2, 3}},       {0, 1, {2, 3}},             {1, 0, {2, 3}}};
    for (const Move& m : moves) {
        if (ich_win[m.freeIch] >= 0 || ich_win[m.occupied] < 0) continue;
        const int o = ich_win[m.occupied];
        if (o >= 0 && o < kWin && holdsPair(o)) continue;
        int to = -1;
        for (int t : m.targets)
            // An interlaced picture stays on a de-interlacing ICH.
            if (ich_win[t] < 0 && !(t >= 4 && o >= 0 && o < kWin && v[o].interlaced)) {
                to = t;
                break;
            }
        if (to < 0) continue;
        move(m.occupied, to, chgInput);
        const int first = m.freeIch & ~1;
        ich_win[first] = ich_win[first + 1] = win;
        rebuild();
        return 0;
    }
    messages.push_back("adjust_ich NG!!!");
    return -1;
}

int IchAlloc::set_input(int win, const WinView v[kWin], int chgInput[kWin]) {
    if (win < 0 || win >= kWin) return kFailed;
    const WinView& me = v[win];
    int result = kFailed;
    if (me.dbdMode > 1 && !me.dbdChange) return kAssigned;
    if (!me.shown) {
        messages.push_back("[set_input] win_" + std::to_string(win) + ", window is unavailable");
        return kFailed;
    }
    if (check_ich_all(win, v) < 0) return kFailed;
    const int need = c331geom::ichDemand(me.dbdMode, me.port);
    if (me.dbdMode == 0 || me.dbdMode == 1) {
        if (me.port >= 0 && me.port <= 3) {
            const int i = check_ich(me.interlaced, false);
            if (i >= 0) {
                ich_win[i] = win;
                result = kAssigned;
            } else {
                result = adjust_ich(me.interlaced, false, win, v, chgInput) == 0 ? kAssignedAfterMove : kFailed;
            }
        } else if (me.port == 4 || me.port == 5) {
            const int i = check_ich(me.interlaced, true);
            if (i >= 0) {
                ich_win[i] = ich_win[i + 1] = win;
                result = kAssigned;
            } else {
                result = adjust_ich(me.interlaced, true, win, v, chgInput) == 0 ? kAssignedAfterMove : kFailed;
            }
        }
    } else if (need > 0) {
        // One ICH per port of the dot-by-dot window; the window has them all or none.
        result = kAssigned;
        for (int n = 0; n < need; ++n) {
            const int i = check_ich(false, false);
            if (i >= 0) {
                ich_win[i] = win;
                continue;
            }
            if (adjust_ich(false, false, win, v, chgInput) != 0) {
                result = kFailed;
                break;
            }
            result = kAssignedAfterMove;
        }
        if (result == kFailed) {
            for (int& o : ich_win)
                if (o == win) o = -1;
            messages.push_back("set_input Dot-By-Dot Rare Case!!!   win=" + std::to_string(win) +
                               "  port=" + std::to_string(me.port));
        }
    } else {
        messages.push_back("set_input Dot-By-Dot Rare Case!!!   win=" + std::to_string(win) +
                           "  port=" + std::to_string(me.port));
    }
    rebuild();
    return result;
}

void IchAlloc::reset_ich(int win, const WinView v[kWin]) {
    if (win < 0 || win >= kWin || v[win].shown) return;
    for (int& o : ich_win)
        if (o == win) o = -1;
    rebuild();
}

}  // namespace c331ich
