#include "scaler/c331_init_data.h"

#include "scaler/c331_regs.h"

namespace c331data {

using namespace c331;

// Memory PLL from the 32 MHz reference: 32 MHz / 8 x 200 = 800 MHz, then enable.
const std::vector<RegWrite> kClockBlock = {
    {kRegClkSel, 8, 0}, {kRegPaletteWindow, 0, 0}, {kRegClkMul, 200, 0}, {kRegClk3, 0, 0}, {kRegClkDiv, 97, 0}, {kRegClkEnable, 1, 0},
};

// Output-channel widths and transmitter tap order per output arrangement.
const std::vector<RegWrite> kArrangMode1 = {
    {0x030802, 1920, 0}, {0x030A02, 1920, 0}, {0x030C02, 1920, 0}, {0x030E02, 1920, 0},
    {0x031004, 0x76543210, 0}, {0x031401, 1, 0}, {0x031501, 8, 0}, {0x031601, 0, 0},
};
const std::vector<RegWrite> kArrangMode2 = {
    {0x030802, 1920, 0}, {0x030A02, 1920, 0}, {0x030C02, 0, 0}, {0x030E02, 0, 0},
    {0x031004, 0x73625140, 0}, {0x031401, 2, 0}, {0x031501, 2, 0}, {0x031601, 1, 0},
};
const std::vector<RegWrite> kArrangOther = {
    {0x030802, 1920, 0}, {0x030A02, 1920, 0}, {0x030C02, 1920, 0}, {0x030E02, 1920, 0},
    {0x031004, 0x73625140, 0}, {0x031401, 0, 0}, {0x031501, 4, 0}, {0x031601, 0, 0},
};

// Neutral picture processing of an OCH until the picture setters run.
const std::vector<RegWrite> kOchDefaults = {
    {kRegBright0, 0, 0},   {kRegBright1, 0, 0},   {kRegBright2, 0, 0},
    {kRegContrast0, 511, 0}, {kRegContrast1, 511, 0}, {kRegContrast2, 511, 0},
    {kRegSat0, 511, 0},    {kRegSat1, 511, 0},    {kRegSat2, 511, 0},
    {kRegColorMatrix0, 8192, 0}, {kRegColorMatrix0 + 0x0800, 8192, 0}, {kRegColorMatrix0 + 0x1000, 8192, 0},
};

// V-by-One transmitter groups up to their PLL step.
const std::vector<RegWrite> kTx1Group = {
    {0x010901, 0, 0}, {0x010C01, 1, 0}, {0x010D01, 0x0F, 0}, {0x011001, 0x88, 0},
    {0x011101, 0x04, 0}, {0x011201, 0x3F, 0}, {0x011401, 0x01, 0}, {0x011601, 0x20, 0},
};
const std::vector<RegWrite> kTx2Group = {
    {0x020901, 0, 0}, {0x020C01, 1, 0}, {0x020D01, 0x0F, 0}, {0x021001, 0x88, 0},
    {0x021101, 0x04, 0}, {0x021201, 0x3F, 0}, {0x021401, 0x01, 0}, {0x021601, 0x20, 0},
};

const int parameters_txt[kParameterWords] = {
    // 0..11 window shape pairs
    2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // 12..17 PM_INPUT
    4, 5, 1, 2, 3, 0,
    // 18..41 window offsets x, y, w, h
    100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
    // 42..65 input offsets
    100, 100, 200, 200, 0, 0, 400, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 66..71 input offset enables
    1, 0, 0, 0, 0, 0,
    // 72..87 window number and area tables
    0, 0, 1, 1, 2, 3, 4, 5, 0, 1, 0, 1, 0, 0, 0, 0,
    // 88..95 channel table
    0, 0, 0, 0, 1, 2, 3, 4,
    // 96..101 PM_OVERLAY_PRI
    1, 0, 2, 3, 4, 5,
    // 102..113 attribute words
    0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0,
    // 114..119 PM_WIN_FADE_EN
    0, 1, 1, 1, 0, 1,
    // 120..131 fade in, fade out
    60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60,
    // 132..137 PM_WIN_DBD_MODE
    0, 0, 1, 0, 1, 1,
    // 138..143 dbd_fill
    0, 0, 0, 0, 0, 0,
    // 144..156 OSD items
    0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0,
    // 157..159 OSD mode words, update word
    1, 0, 0,
};

// Rectangles on a 1920 x 1080 canvas.
const C331LayoutPreset kLayoutPresets[10] = {
    {1, {{0, 0, 1920, 1080}}},
    {2, {{0, 0, 960, 1080}, {960, 0, 960, 1080}}},
    {3, {{0, 0, 960, 1080}, {960, 0, 960, 540}, {960, 540, 960, 540}}},
    {3, {{0, 0, 640, 1080}, {640, 0, 640, 1080}, {1280, 0, 640, 1080}}},
    {4, {{0, 0, 960, 540}, {960, 0, 960, 540}, {0, 540, 960, 540}, {960, 540, 960, 540}}},
    {4, {{0, 0, 1280, 1080}, {1280, 0, 640, 360}, {1280, 360, 640, 360}, {1280, 720, 640, 360}}},
    {5, {{0, 0, 960, 1080}, {960, 0, 480, 540}, {1440, 0, 480, 540}, {960, 540, 480, 540}, {1440, 540, 480, 540}}},
    {5, {{0, 0, 1280, 720}, {1280, 0, 640, 360}, {1280, 360, 640, 360}, {0, 720, 640, 360}, {640, 720, 640, 360}}},
    {6, {{0, 0, 640, 540}, {640, 0, 640, 540}, {1280, 0, 640, 540}, {0, 540, 640, 540}, {640, 540, 640, 540},
         {1280, 540, 640, 540}}},
    {6, {{0, 0, 1280, 720}, {1280, 0, 640, 360}, {1280, 360, 640, 360}, {0, 720, 640, 360}, {640, 720, 640, 360},
         {1280, 720, 640, 360}}},
};

}  // namespace c331data
