#pragma once
// Output panel timing: from the LED screen size, the size of output 1 and the splice
// mode to the output-channel (OCH) arrangement, the output raster (htt x vtt) and the
// OCH size, and the words published in the parameter RAM for the FPGA engine.
// Pure computation; c331_manage programs the chip from the result.
#include <cstdint>
#include <vector>

namespace panel {

enum Splice { kNone = 0, kHV = 1, kV = 2, kH = 3, kCP12 = 4, kCP21 = 5 };
constexpr int kSpliceModes = 6;
const char* spliceName(int splice);

// OCH arrangements the panel set-up chooses.
enum Arrangement { kArrang2x1 = 5, kArrang4x1 = 6, kArrang2x2_8K = 7, kArrang1x2 = 8 };

// An OCH carries at most this many pixels of picture...
constexpr int64_t kPixelBudget = 9800000;
// ...in a raster of at most this many pixels per frame (4400 x 2250: 60 Hz at 594 MHz).
constexpr int64_t kFrameBudget = 9900000;

struct TimingPair {
    int32_t htt;
    int32_t vtt;
};
// The raster table, searched linearly for the first pair covering a need: 3,887 pairs with
// htt 660..4388 (step 4, several vtt per htt from the frame budget downwards), then 1,312
// pairs from (2257, 2257) to (8280, ~1196). Every product lies within the frame budget.
const std::vector<TimingPair>& timingTable();
constexpr int kTimingRun1 = 3887;
constexpr int kTimingRun2 = 1312;

struct PanelRecord {
    uint16_t ledW = 0, ledH = 0;
    uint16_t out1w = 0, out2w = 0, out1h = 0, out2h = 0;
    uint16_t xOffset = 0, yOffset = 0;
    uint8_t cols = 0, rows = 0;
    int splice = 0;
    int lane = 0;
    int arrang = 0;
    int ochW = 0, ochH = 0;
    int htt = 0, hsync = 0, hfp = 0, vtt = 0, vsync = 0, vfp = 0;
    uint8_t oneOch = 0;
};

// Words written back to RAM 0x566..0x572.
struct PanelRamWords {
    uint16_t xOffset, yOffset, gridA, gridB, ochW, ochH, lane;
};

// Steps 1-2 of the set-up: record cleared, splice mod 6, output sizes by splice.
// A split larger than the screen is clamped to the screen.
PanelRecord panelSizes(int ledW, int ledH, int out1w, int out1h, int splice);
// Arrangement, raster and OCH size (the whole timing of a record made by panelSizes).
void panelInitOch3(PanelRecord& p);
// The raster search; htt/vtt out; OCH width/height = htt - hblank, vtt - vblank.
int panelInitOchDiff(PanelRecord& p, int* htt, int* vtt, int hblank, int vblank);
PanelRamWords panelRamWords(const PanelRecord& p);

}  // namespace panel
