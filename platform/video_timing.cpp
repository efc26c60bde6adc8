#include "platform/video_timing.h"

namespace plat {

namespace {

struct CtaFormat {
    int hact, vact, rate;
    bool interlaced;
    int hfront, hsync, hback, vfront, vsync, vback;
    uint32_t pixelKhz;
};

// CTA-861 formats (vertical values per field for the interlaced one).
constexpr CtaFormat kCta[] = {
    {1280, 720, 60, false, 110, 40, 220, 5, 5, 20, 74250},
    {1280, 720, 50, false, 440, 40, 220, 5, 5, 20, 74250},
    {1920, 1080, 60, false, 88, 44, 148, 4, 5, 36, 148500},
    {1920, 1080, 50, false, 528, 44, 148, 4, 5, 36, 148500},
    {1920, 1080, 30, false, 88, 44, 148, 4, 5, 36, 74250},
    {1920, 1080, 60, true, 88, 44, 148, 2, 5, 15, 74250},
    {1920, 1080, 50, true, 528, 44, 148, 2, 5, 15, 74250},
    {3840, 2160, 30, false, 176, 88, 296, 8, 10, 72, 297000},
    {3840, 2160, 60, false, 176, 88, 296, 8, 10, 72, 594000},
    {3840, 2160, 50, false, 1056, 88, 296, 8, 10, 72, 594000},
};

int cvtVsync(int w, int h) {
    if (w * 3 == h * 4) return 4;
    if (w * 9 == h * 16) return 5;
    if (w * 10 == h * 16) return 6;
    if (w * 4 == h * 5 || w * 9 == h * 15) return 7;
    return 10;
}

}  // namespace

bool standardTiming(int width, int height, int rate, bool interlaced, VideoTiming* out) {
    if (width < 64 || height < 64 || width > 8192 || height > 8192 || rate < 1 || rate > 240) return false;
    VideoTiming t;
    t.hact = width;
    t.rate = rate;
    t.interlaced = interlaced;
    for (const CtaFormat& f : kCta) {
        if (f.hact != width || f.vact != height || f.rate != rate || f.interlaced != interlaced) continue;
        t.hfront = f.hfront, t.hsync = f.hsync, t.hback = f.hback;
        t.htotal = width + f.hfront + f.hsync + f.hback;
        t.vact = interlaced ? height / 2 : height;
        t.vfront = f.vfront, t.vsync = f.vsync, t.vback = f.vback;
        t.vtotal = t.vact + f.vfront + f.vsync + f.vback;
        t.pixelKhz = f.pixelKhz;
        *out = t;
        return true;
    }
    if (interlaced) return false;
    // CVT reduced blanking: a 160-pixel horizontal blank, at least 460 us of vertical blank.
    // The line is counted in 8-pixel cells: a width off the grid (1366) keeps its active
    // pixels and the back porch takes the rest of its last cell.
    const int pad = (8 - width % 8) % 8;
    t.hfront = 48, t.hsync = 32, t.hback = 80 + pad;
    t.htotal = width + 160 + pad;
    t.vact = height;
    t.vfront = 3;
    t.vsync = cvtVsync(width, height);
    const double framUs = 1e6 / rate;
    const double linePeriodUs = (framUs - 460.0) / height;
    if (linePeriodUs <= 0) return false;
    int blank = int(460.0 / linePeriodUs) + 1;
    const int minBlank = t.vfront + t.vsync + 6;
    if (blank < minBlank) blank = minBlank;
    t.vback = blank - t.vfront - t.vsync;
    t.vtotal = height + blank;
    t.hpos = true;
    t.vpos = false;
    const uint64_t hz = uint64_t(t.htotal) * uint64_t(t.vtotal) * uint64_t(rate);
    t.pixelKhz = uint32_t(hz / 250000 * 250);  // 0.25 MHz steps
    *out = t;
    return true;
}

}  // namespace plat
