#pragma once
// Input-channel (ICH) allocation of the C331, as a plain table without the chip. Eight
// ICHs; a port that delivers two pixels per clock (the V-by-One ports 4 and 5) takes an
// aligned pair (0,1), (2,3), (4,5) or (6,7); only ICH 0..3 de-interlace, so an interlaced
// input sits on ICH 0..3. Every change rebuilds the per-window lists from the owner table.
#include <string>
#include <vector>

namespace c331ich {

constexpr int kIch = 8;
constexpr int kWin = 6;

// What the allocator needs to know of each window slot.
struct WinView {
    bool shown = false;       // both OCH counts non-zero
    int dbdMode = 0;          // PM_WIN_DBD_MODE
    int port = 6;             // chip port (PM_INPUT)
    bool interlaced = false;  // the port carries an interlaced picture
    bool dbdChange = false;   // g_chg_dbd
};

enum SetInputResult { kAssigned = 0, kAssignedAfterMove = 1, kFailed = 2 };

class IchAlloc {
public:
    int ich_win[kIch];
    int win_ich[kWin][kIch];
    // Messages the always-printed cases leave (the caller logs them).
    std::vector<std::string> messages;

    IchAlloc() { clear(); }
    void clear();
    void rebuild();
    int count(int win) const;
    bool holdsPair(int win) const;  // the window's first two ICHs are an aligned pair

    int check_ich_all(int win, const WinView v[kWin]);
    int check_ich(bool interlaced, bool pair) const;
    // chgInput[w] becomes 2 for a window moved to other ICHs.
    int adjust_ich(bool interlaced, bool pair, int win, const WinView v[kWin], int chgInput[kWin]);
    int set_input(int win, const WinView v[kWin], int chgInput[kWin]);
    void reset_ich(int win, const WinView v[kWin]);

private:
    int firstFree(std::initializer_list<int> order) const;
    void move(int from, int to, int chgInput[kWin]);
};

}  // namespace c331ich
