// Test patterns: the pattern generator of every OCH of window 0, over the whole output.
#include <algorithm>

#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;

namespace {

enum ModeKind { kModeFixedWide, kModeFirstOch, kModeOwnType };

struct PatternRow {
    uint8_t type;
    uint8_t opt[3];
    ModeKind modeKind;
    uint16_t mode;  // for kModeFixedWide
    uint16_t p[3];
    uint8_t c[3];
    uint8_t en;
};

constexpr uint8_t kOn = 3;
// "c": white with the three colour enables on.
#define WHITE {255, 255, 255}, kOn

const PatternRow kPatterns[20] = {
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {255, 0, 0}, 0},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {0, 255, 0}, 0},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {0, 0, 255}, 0},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {255, 255, 255}, 0},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {0, 0, 0}, 0},
    {1, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 480, 0}, WHITE},
    {14, {0, 0, 0}, kModeOwnType, 0, {0, 1, 0}, WHITE},
    {15, {0, 0, 0}, kModeOwnType, 0, {0, 0, 1}, WHITE},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {0, 0, 0}, 0},
    {4, {0, 0, 0}, kModeFirstOch, 0, {0, 0, 0}, {0, 0, 0}, 0},
    {8, {48, 0, 0}, kModeFixedWide, 0x8000, {0, 32, 32}, WHITE},
    {5, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 240, 270}, WHITE},
    {14, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 1, 0}, WHITE},
    {1, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 480, 0}, WHITE},
    {3, {0, 1, 0}, kModeFixedWide, 0x8000, {0, 0x8FFF, 0}, {0, 120, 0}, 0},
    {3, {2, 1, 1}, kModeFixedWide, 0x8000, {0, 0x8FFF, 0x8FFF}, {0, 120, 0}, 0},
    {6, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 960, 0}, WHITE},
    {9, {0, 0, 0}, kModeFixedWide, 0x8095, {0, 4, 3840}, WHITE},
    {2, {0, 0, 0}, kModeFixedWide, 0x8000, {0, 0, 270}, WHITE},
    {3, {1, 1, 1}, kModeFixedWide, 0x8000, {0, 0, 0x4FFF}, WHITE},
};
#undef WHITE

const unsigned kPatternRegs[] = {kRegPatType, kRegPatOpt1, kRegPatOpt2, kRegPatOpt3, kRegPatMode, kRegPatP1, kRegPatP2,
                                 kRegPatP3,   kRegPatC1,   kRegPatC2,   kRegPatC3,   kRegPatEn1, kRegPatEn2, kRegPatEn3};

}  // namespace

int c331_manage::c331_SetPattern(int p) {
    // Switching a shown pattern off is always allowed: input polling stays stopped while it is on.
    if (win_count > 1 && !(p <= 0 && pattern_gen_)) return -1;
    const C331WinInfo& w0 = gWininfo[0];
    const int n = w0.ochCount() > OCH_MAX ? OCH_MAX : w0.ochCount();
    auto clear = [this](const C331WinInfo& win) {
        for (int i = 0; i < win.ochCount() && i < OCH_MAX; ++i)
            if (win.ochLst[i] < OCH_MAX)
                for (unsigned r : kPatternRegs) writeW(r, 0, win.ochLst[i]);
    };
    set_rtct(spi_fd, 2);
    // The layout may have changed under a shown pattern: switching off clears the generator
    // of every window's channels, not only of those window 0 has now.
    const int cleared = p <= 0 ? std::min(win_count, WINDOW_MAX) : 1;
    for (int k = 0; k < cleared; ++k) clear(gWininfo[k]);
    // The background is that of record 0, whichever RAM window it shows.
    if (p <= 0) {
        pattern_gen_ = 0;
        bkgOfRecord(spi_fd, 0, 0);
        set_rtct(spi_fd, 1);
        return 0;
    }
    const PatternRow& row = kPatterns[(p - 1) % 20];
    pattern_gen_ = 1;
    bkgOfRecord(spi_fd, 0, 0);
    const bool wide = IWIN_W[0] > 2048;
    for (int i = 0; i < n; ++i) {
        const unsigned o = w0.ochLst[i];
        if (o >= OCH_MAX) continue;
        unsigned mode = row.mode;
        if (row.modeKind == kModeFirstOch) mode = wide ? kPatModeWide : (i == 0 ? 0 : 3);
        else if (row.modeKind == kModeOwnType) mode = wide ? kPatModeWide : row.type;
        writeW(kRegPatType, row.type, o);
        writeW(kRegPatOpt1, row.opt[0], o);
        writeW(kRegPatOpt2, row.opt[1], o);
        writeW(kRegPatOpt3, row.opt[2], o);
        writeW(kRegPatMode, mode, o);
        writeW(kRegPatP1, row.p[0], o);
        writeW(kRegPatP2, row.p[1], o);
        writeW(kRegPatP3, row.p[2], o);
        writeW(kRegPatC1, row.c[0], o);
        writeW(kRegPatC2, row.c[1], o);
        writeW(kRegPatC3, row.c[2], o);
        writeW(kRegPatEn1, row.en, o);
        writeW(kRegPatEn2, row.en, o);
        writeW(kRegPatEn3, row.en, o);
    }
    set_rtct(spi_fd, 1);
    return 0;
}
