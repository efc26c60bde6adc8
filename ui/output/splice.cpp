#include "ui/output/splice.h"

#include <algorithm>

namespace splice {

int codeOfIndex(int index) {
    switch (index) {
    case 0: return kCodeHorizontal;
    case 1: return kCodeVertical;
    case 2: return kCodeCopy;
    default: return 0;
    }
}

int indexOfCode(int code) {
    if (code == kCodeHorizontal) return 0;
    if (code == kCodeVertical) return 1;
    return 2;
}

int roundUp(int value, int multiple) { return (value + multiple - 1) / multiple * multiple; }

bool splitFor(int index, int w, int h, Split* out) {
    Split s;
    s.ledWidth = w;
    switch (index) {
    case 0: {
        // an odd width gives OUT1 the larger share, on an 8-column boundary
        const int half = w / 2 + (w % 2 ? 2 : 0);
        s.out1Width = roundUp(half, 8);
        s.out2Width = w - s.out1Width;
        s.out1Height = s.out2Height = h;
        break;
    }
    case 1:
        s.out1Width = s.out2Width = w;
        s.out1Height = h / 2 + (h % 2 ? 0 : 2);
        s.out2Height = h - s.out1Height;
        break;
    case 2:
        if (w > kMaxOut) s.ledWidth = w = kMaxOut;
        s.out1Width = s.out2Width = w;
        s.out1Height = s.out2Height = h;
        break;
    default:
        return false;
    }
    *out = s;
    return true;
}

Entry typedOut1Width(int t, int w, int code) {
    // wider than one output: both parts on 32-column boundaries
    if (w > kMaxOut) {
        const int t32 = roundUp(t, 32);
        return {QString::number(t32), code == kCodeHorizontal ? roundUp(w, 32) - t32 : t32};
    }
    return {QString::number(t), code == kCodeHorizontal ? w - t : t};
}

Entry typedOut1Height(int t, int h, int code) { return {QString::number(t), code == kCodeVertical ? h - t : t}; }

Span out1WidthSpan(int w, int code) {
    if (code == kCodeCopy) {
        const int whole = std::min(w, kMaxOut);
        return {whole, whole};
    }
    if (code != kCodeHorizontal) return {1, std::min(w, kMaxOut)};
    // wider than one output: OUT1 on a 32-column boundary that still fits one output
    if (w > kMaxOut) return {std::max(1, w - kMaxOut), kMaxOut / 32 * 32};
    return {1, w - 1};
}

Span out1HeightSpan(int h, int code) {
    if (code == kCodeCopy) return {h, h};
    if (code != kCodeVertical) return {1, std::min(h, kMaxOut)};
    return {std::max(1, h - kMaxOut), std::min(h - 1, kMaxOut)};
}

bool geometryFor(int code, int ledW, int ledH, int f1w, int f1h, int f2h, Geometry* out) {
    Geometry g;
    if (code == kCodeHorizontal) {
        if (ledW - f1w < 1) return false;
        g = {uint16_t(f1w), uint16_t(f1h), uint16_t(f1w), 0, uint16_t(ledW - f1w), uint16_t(f1h)};
    } else if (code == kCodeVertical) {
        if (f2h < 1) return false;
        g = {uint16_t(f1w), uint16_t(f1h), 0, uint16_t(f1h), uint16_t(f1w), uint16_t(f2h)};
    } else {
        g = {uint16_t(ledW), uint16_t(ledH), 0, 0, uint16_t(ledW), uint16_t(ledH)};
    }
    *out = g;
    return true;
}

}  // namespace splice
