#include "scaler/c331_geometry.h"

#include <algorithm>

namespace c331geom {

int cropMargin(int W, int H, const CropRect& r, int side) {
    if (W <= 0 || H <= 0) return 0;  // no signal: the whole (absent) input
    int m = 0;
    switch (side) {
    case kLeft: m = r.x; break;
    case kRight: m = W - (r.x + r.w); break;
    case kTop: m = r.y; break;
    case kBottom: m = H - (r.y + r.h); break;
    default: return 0;
    }
    return m < 0 ? 0 : m;
}

bool clipCrop(int W, int H, CropRect& r) {
    bool clipped = false;
    if (r.x + r.w > W) {
        r.x = 0;
        r.w = W;
        clipped = true;
    }
    if (r.y + r.h > H) {
        r.y = 0;
        r.h = H;
        clipped = true;
    }
    return clipped;
}

int ochWinOffset(int x, int y, int width, int height, int cntH, int cntV, int Wo, int Ho, int side) {
    switch (side) {
    case kLeft: return Wo > 0 ? x % Wo : 0;
    case kRight: return Wo > 0 ? Wo * cntH - (x % Wo + width) : 0;
    case kTop: return Ho > 0 ? y % Ho : 0;
    case kBottom: return Ho > 0 ? Ho * cntV - (y % Ho + height) : 0;
    default: return 0;
    }
}

int32_t ratioStep(int32_t small, int32_t large) {
    if (large <= 1) return 0x10000;
    return int32_t((int64_t(small - 1) << 16) / int64_t(large - 1)) + 1;
}

Scaling calcScaling(const ImageWindow& src, const ImageWindow& dst) {
    Scaling s;
    auto one = [](int32_t from, int32_t to, int32_t* mode, int32_t* shrink, int32_t* zoom) {
        *mode = 0, *shrink = 0, *zoom = 0;
        if (from <= 0 || to <= 0 || from == to) return;
        if (from > to) {
            *mode = 1;
            *shrink = ratioStep(to, from);
        } else {
            *mode = 2;
            *zoom = ratioStep(from, to);
        }
    };
    one(src.HW, dst.HW, &s.hmode, &s.hshrink_step, &s.hzoom_step);
    one(src.VW, dst.VW, &s.vmode, &s.vshrink_step, &s.vzoom_step);
    return s;
}

int shrinkPhase(int32_t start, int32_t step) {
    if (start <= 0) return 0x100;
    return 0x100 - int((uint32_t(int64_t(start) * step) & 0xFFFFu) >> 8);
}

namespace {

void slice1(int32_t st, int32_t size, int32_t base, int32_t tile, int32_t* outSt, int32_t* outW) {
    const int32_t rel = st - base;
    if (rel >= tile) {
        *outSt = *outW = 0;
    } else if (rel < 0) {
        *outSt = 0;
        *outW = st + size > base + tile - 1 ? tile : std::max(0, st + size - base);
    } else {
        *outSt = rel;
        *outW = st + size > base + tile - 1 ? tile - rel : size;
    }
}

}  // namespace

void calcOact(const ImageWindow& owin, int cols, int rows, int tileW, int tileH, TileSlice out[8]) {
    for (int i = 0; i < 8; ++i) out[i] = TileSlice{};
    cols = std::clamp(cols, 0, 8);
    rows = std::clamp(rows, 0, 8);
    int first = -1, last = -1;
    for (int i = 0; i < cols; ++i) {
        slice1(owin.HST, owin.HW, i * tileW, tileW, &out[i].HST, &out[i].HW);
        if (out[i].HW) {
            if (first < 0) first = i;
            last = i;
        }
    }
    if (first >= 0) out[first].hfirst = out[last].hlast = 1;
    first = last = -1;
    for (int i = 0; i < rows; ++i) {
        slice1(owin.VST, owin.VW, i * tileH, tileH, &out[i].VST, &out[i].VW);
        if (out[i].VW) {
            if (first < 0) first = i;
            last = i;
        }
    }
    if (first >= 0) out[first].vfirst = out[last].vlast = 1;
}

bool ochSpan(int cols, int rows, int tileW, int tileH, int x, int y, int w, int h, int* start, int* end) {
    *start = *end = -1;
    if (cols <= 0 || rows <= 0 || tileW <= 0 || tileH <= 0) return false;
    const int x2 = x + w, y2 = y + h;
    const bool useX = cols > 1 || rows == 1, useY = rows > 1;
    for (int k = 0; k < cols * rows && k < 8; ++k) {
        const int ox = (k % cols) * tileW, oy = (k / cols) * tileH;
        const bool sx = !useX || (ox <= x && x < ox + tileW), sy = !useY || (oy <= y && y < oy + tileH);
        if (sx && sy && *start < 0) *start = k;
        const bool ex = !useX || (ox <= x2 && x2 <= ox + tileW), ey = !useY || (oy <= y2 && y2 <= oy + tileH);
        if (ex && ey && *start >= 0) {
            *end = k;
            break;
        }
    }
    return *start >= 0 && *end >= 0;
}

int ochList(int start, int end, int cols, uint8_t* cntH, uint8_t* cntV, uint8_t list[8]) {
    std::fill(list, list + 8, uint8_t(0xFF));
    *cntH = *cntV = 0;
    if (start < 0 || end < start || cols <= 0) return 0;
    // Counted by tile column and row: a window in one column over two rows is one column
    // wide, not the index difference.
    const int h = end % cols - start % cols + 1, v = end / cols - start / cols + 1;
    if (h < 1 || h > 8 || v < 1 || v > 8 || h * v > 8) return 0;
    *cntH = uint8_t(h);
    *cntV = uint8_t(v);
    int n = 0;
    for (int r = 0; r < v; ++r)
        for (int c = 0; c < h; ++c) list[n++] = uint8_t(start + r * cols + c);
    return n;
}

int formatNum(int fmt) {
    static const int k[kFormats] = {4, 16, 8, 2};
    return k[fmt & 3];
}
int formatDen(int fmt) {
    static const int k[kFormats] = {1, 5, 3, 1};
    return k[fmt & 3];
}
int formatCode(int fmt) {
    static const int k[kFormats] = {0x00, 0x80, 0x01, 0x11};
    return k[fmt & 3];
}

int32_t formatBytes(int32_t pixels, int fmt) {
    switch (fmt & 3) {
    case 1: return (pixels / 5) * 16 + (pixels % 5) * 3;
    case 2: return (pixels + (3 - pixels % 3) % 3) * 8 / 3;
    case 3: return 2 * pixels;
    default: return 4 * pixels;
    }
}

int ichDemand(int dbdMode, int chipPort) {
    if (dbdMode == 0 || dbdMode == 1) {
        if (chipPort >= 0 && chipPort <= 3) return 1;
        if (chipPort == 4 || chipPort == 5) return 2;
        return 0;
    }
    if (dbdMode >= 2 && dbdMode <= 29) return 2;
    if (dbdMode >= 30 && dbdMode <= 39) return 3;
    if (dbdMode >= 40 && dbdMode <= 51) return 4;
    return 0;
}

}  // namespace c331geom

namespace c331geom {

int dbdPorts(int dbdMode, int ports[4]) {
    auto fill = [ports](std::initializer_list<int> l) {
        int n = 0;
        for (int p : l) ports[n++] = p;
        return n;
    };
    switch (dbdMode) {
    case 20: case 21: return fill({0, 1});
    case 22: case 23: return fill({2, 3});
    case 30: return fill({0, 1, 2});
    case 40: case 41: return fill({0, 1, 2, 3});
    case 50: case 51: return fill({5, 4});
    default: return 0;
    }
}

}  // namespace c331geom

namespace c331geom {

int32_t zoomSource(int32_t s, int32_t step) {
    const int64_t a = int64_t(step) * s;
    return int32_t(a >> 16) + ((a & 0xFFFF) >= step ? 1 : 0);
}

void axisPlan(const int32_t* size, int n, int32_t total, int32_t step, bool zoom, bool vertical, AxisRead* out) {
    int first = -1, last = -1;
    for (int i = 0; i < n; ++i)
        if (size[i] > 0) {
            if (first < 0) first = i;
            last = i;
        }
    int32_t S = 0;
    for (int i = 0; i < n; ++i) {
        AxisRead& r = out[i];
        r = AxisRead{};
        if (size[i] <= 0) {
            if (vertical) r.read = zoom ? 2 : 1;
            continue;
        }
        r.used = 1;
        if (!zoom) {
            r.start = S;
            r.read = vertical ? size[i] + 1 : std::max<int32_t>(16, size[i]);
            S += size[i];
            continue;
        }
        const int32_t pos = zoomSource(S, step);
        const int32_t next = i == last ? zoomSource(total, step) : zoomSource(S + size[i], step);
        int32_t margin = 0, q = 0;
        r.start = pos;
        r.sub = vertical ? -1 : 0;
        if (i != first) {
            if (pos >= 5) {
                margin = 4;
                q = int32_t(((int64_t(pos - 4) << 16) + step - 1) / step);
                r.start = pos - 4;
            } else {
                margin = pos;
                r.start = 0;
            }
            r.sub = q - S - (vertical ? 1 : 0);
        }
        const int32_t extra = i == last ? 0 : std::min<int32_t>(4, std::max<int32_t>(0, next));
        r.read = next - pos + margin + extra + (vertical ? 2 : 0);
        if (!vertical) r.read = std::max<int32_t>(16, r.read);
        r.phase = int32_t(((int64_t(q) * step) & 0xFFFF) + 128) >> 8;
        S += size[i];
    }
}

PairSeam pairSeam(int32_t w1, int32_t step, int32_t phase, int32_t flag, int fmt) {
    PairSeam s;
    if (step <= 0) return s;
    const int64_t ph = phase == 0x100 ? 0 : phase;
    const int64_t at = (int64_t(step) * (w1 - 1) + int64_t(1 - flag) * 0x10000 + ph * 256) >> 16;
    int64_t E = at + (at & 1);
    int64_t w1x = w1;
    if (fmt != 0) {
        const int64_t need = ((E - 1) * 65536 + step - 1) / step + 1;
        w1x = std::max<int64_t>(w1, need);
    }
    s.ext = int32_t(w1x - w1);
    s.seam = int32_t(E);
    const int64_t a = int64_t(step) * w1x + ph * 256;
    s.phase = int32_t((a & 0xFFFF) >> 8) + ((a & 0x80) ? 1 : 0);
    s.flag = !(s.phase == 0x100 || (a & 0xFFFF) < step);
    // In the 4-byte format the partner's part starts right at the seam before rounding.
    s.offset = fmt == 0 ? int32_t(4 * at) : formatBytes(int32_t(E), fmt);
    return s;
}

uint32_t packFieldOrder(const int c[5]) {
    return uint32_t(c[0] & 7) | uint32_t(c[1] & 7) << 4 | uint32_t(c[2] & 7) << 8 | uint32_t(c[3] & 7) << 12 |
           uint32_t(c[4] & 7) << 16;
}

}  // namespace c331geom
