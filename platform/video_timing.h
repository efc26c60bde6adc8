#pragma once
// Video timings by the public standards: the CTA-861 formats a source sends for the
// common modes, and CVT reduced blanking for every other size. The simulated sources
// of the board and the EDIDs the controller offers both take their timings from here,
// as a real source and a real sink both follow the same standards.
#include <cstdint>

namespace plat {

struct VideoTiming {
    int hact = 0, hfront = 0, hsync = 0, hback = 0, htotal = 0;
    int vact = 0, vfront = 0, vsync = 0, vback = 0, vtotal = 0;  // per field when interlaced
    bool hpos = true, vpos = true;                               // sync polarities
    bool interlaced = false;
    int rate = 0;             // frame rate (field rate when interlaced), Hz
    uint32_t pixelKhz = 0;    // pixel clock
};

// The timing of width x height at `rate` Hz: a CTA-861 format when one matches, else CVT
// reduced blanking (progressive only; a width off the 8-pixel grid keeps its active pixels,
// the blanking grows to the next cell). False for sizes no standard timing has (width or
// height below 64 or above 8192, interlaced without a CTA format, rate outside 1..240).
bool standardTiming(int width, int height, int rate, bool interlaced, VideoTiming* out);

}  // namespace plat
