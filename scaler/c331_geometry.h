#pragma once
// Window geometry of the C331's window path as plain arithmetic, without the chip: crop
// margins, a window's margins inside its OCH span, the OCHs a window crosses, the
// 16.16 scaling steps and phases, the per-tile slices of an output rectangle and the
// memory cost of a line in each frame-memory format. c331_manage programs the chip
// from these results.
#include <cstdint>

namespace c331geom {

// One rectangle of the window path: start and size in pixels and lines (_ImageWindowDef_st).
struct ImageWindow {
    int32_t HST = 0, HW = 0, VST = 0, VW = 0;
};

// The part of a window inside one OCH tile (_ImageWindowDef2_St): element i holds the
// horizontal fields of tile column i and the vertical fields of tile row i.
struct TileSlice {
    int32_t HST = 0, HW = 0, VST = 0, VW = 0;
    int32_t hfirst = 0, hlast = 0, vfirst = 0, vlast = 0;
};

// Scaling mode per direction (0 none, 1 shrink, 2 zoom) and the 16.16 steps (_ScalingSt).
struct Scaling {
    int32_t hmode = 0, vmode = 0, hshrink_step = 0, vshrink_step = 0, hzoom_step = 0, vzoom_step = 0;
};

struct CropRect {
    int x = 0, y = 0, w = 0, h = 0;
};

enum Side { kLeft = 0, kRight = 1, kTop = 2, kBottom = 3 };

// Margin of a crop inside an input of W x H (0 without a measured input; never negative).
int cropMargin(int W, int H, const CropRect& r, int side);
// A crop larger than the input is the whole input on that axis. True when it was clipped.
bool clipCrop(int W, int H, CropRect& r);

// Margin of a window inside the tiles it spans (OCH tile Wo x Ho, cntH x cntV tiles).
int ochWinOffset(int x, int y, int width, int height, int cntH, int cntV, int Wo, int Ho, int side);

// Ratio of the smaller to the larger size in 16.16, as the chip's scalers take it:
// ((small - 1) << 16) / (large - 1) + 1.
int32_t ratioStep(int32_t small, int32_t large);
Scaling calcScaling(const ImageWindow& src, const ImageWindow& dst);
// Initial phase of a scaler reading from `start` with `step`: 0x100 - fraction, 0x100 when
// the start is 0 (the caller treats 0x100 as phase 0 without a phase flag).
int shrinkPhase(int32_t start, int32_t step);

// Tile slices of an output rectangle over cols x rows tiles of tileW x tileH.
void calcOact(const ImageWindow& owin, int cols, int rows, int tileW, int tileH, TileSlice out[8]);

// OCHs a window crosses on a cols x rows grid of tiles (OCH k at column k % cols, row
// k / cols): the start and end OCH by the window's corners (the right and bottom corners
// lie just past the window). False when the window starts outside the grid.
bool ochSpan(int cols, int rows, int tileW, int tileH, int x, int y, int w, int h, int* start, int* end);
// Column and row counts of a span and its OCH list (start first, end last). The counts are
// cleared when a limit of 8 is passed; the list length is returned.
int ochList(int start, int end, int cols, uint8_t* cntH, uint8_t* cntV, uint8_t list[8]);

// Frame-memory formats: 0 = 4 bytes per pixel, 1 = 16 per 5, 2 = 8 per 3, 3 = 2 per pixel.
constexpr int kFormats = 4;
int formatNum(int fmt);
int formatDen(int fmt);
int formatCode(int fmt);  // OSCWCT / ISCWCT
// Bytes that `pixels` pixels take in a line of the format (packed formats round up their group).
int32_t formatBytes(int32_t pixels, int fmt);

// Input channels a window needs by its dot-by-dot mode and chip port (0 for an unknown mode).
int ichDemand(int dbdMode, int chipPort);

}  // namespace c331geom

namespace c331geom {
// Chip ports a multi-port dot-by-dot window joins, in ICH order; 0 for a single-port mode.
int dbdPorts(int dbdMode, int ports[4]);
// The five 3-bit field-buffer codes of a channel as its field-order register takes them.
uint32_t packFieldOrder(const int codes[5]);
}  // namespace c331geom

namespace c331geom {

// How one tile column (or row) of a window reads the stored picture back.
struct AxisRead {
    int used = 0;
    int32_t start = 0;  // first stored pixel (line) read
    int32_t sub = 0;    // output sub-start relative to the tile slice
    int32_t read = 0;   // pixels (lines) read
    int32_t phase = 0;  // initial zoom phase
};

// Source position of output pixel s under a 16.16 zoom step.
int32_t zoomSource(int32_t s, int32_t step);
// Read plan of n tiles with slice sizes size[i] of an output of `total` pixels. zoom: the
// OCH zoomer enlarges with `step`; each tile after the first starts 4 source pixels early
// and each but the last reads 4 more, so the filter has its neighbours at the seams.
// vertical: rows (sub-start one line less, 2 more lines read, no minimum of 16).
void axisPlan(const int32_t* size, int n, int32_t total, int32_t step, bool zoom, bool vertical, AxisRead* out);

// The seam of an ICH pair that shrinks a line split over two channels: the first channel's
// part is widened so that its output ends on an even pixel, the partner starts that much
// later, and the partner's phase continues the first's.
struct PairSeam {
    int32_t ext = 0;       // pixels the first part grew by
    int32_t seam = 0;      // even output pixel where the partner's output starts
    int32_t offset = 0;    // partner's byte offset in the line
    int32_t phase = 0;     // partner's initial phase
    int32_t flag = 0;      // partner's phase flag
};
PairSeam pairSeam(int32_t w1, int32_t step, int32_t phase, int32_t flag, int fmt);

}  // namespace c331geom
