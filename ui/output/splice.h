#pragma once
// How the LED picture is split over OUT1 and OUT2: the rules of the output screen, free of
// widgets. Splice codes as the parameter RAM holds them (0x560): 3 horizontal (OUT1 left,
// OUT2 right), 2 vertical (OUT1 top, OUT2 bottom), 4 copy (both the whole picture).
#include <QString>

#include <cstdint>

namespace splice {

constexpr int kCodeVertical = 2;
constexpr int kCodeHorizontal = 3;
constexpr int kCodeCopy = 4;
// An output carries at most this many columns or rows.
constexpr int kMaxOut = 8188;

// Combo index 0, 1, 2 = code 3, 2, 4; any other stored code is shown as copy.
int codeOfIndex(int index);
int indexOfCode(int code);

int roundUp(int value, int multiple);

struct Split {
    int ledWidth = 0;  // copy limits the LED width to kMaxOut
    int out1Width = 0;
    int out1Height = 0;
    int out2Width = 0;
    int out2Height = 0;
};
// The default split of an LED size for combo index 0..2; false for any other index.
bool splitFor(int index, int ledWidth, int ledHeight, Split* out);

// An OUT1 width or height taken within its span (below): what the OUT1 field shows and what
// the OUT2 field of the same direction shows.
struct Entry {
    QString out1Text;
    int out2 = 0;
};
Entry typedOut1Width(int typed, int ledWidth, int code);
Entry typedOut1Height(int typed, int ledHeight, int code);

// What the OUT1 width or height field may take under splice `code` for an LED side of `led`:
// split, the other output keeps a column or row and neither carries more than kMaxOut; side by
// side both have the LED's height (vertical: width); a copy shows the whole picture. Empty
// (largest below smallest) when nothing fits.
struct Span {
    int smallest = 1;
    int largest = 0;
};
Span out1WidthSpan(int ledWidth, int code);
Span out1HeightSpan(int ledHeight, int code);

// What Apply stores at 0x584..0x58E.
struct Geometry {
    uint16_t out1Width = 0;
    uint16_t out1Height = 0;
    uint16_t out2X = 0;
    uint16_t out2Y = 0;
    uint16_t out2Width = 0;
    uint16_t out2Height = 0;
};
// From the fields of the screen; false when the split would leave OUT2 below one column or row.
bool geometryFor(int code, int ledWidth, int ledHeight, int out1Width, int out1Height, int out2Height,
                 Geometry* out);

}  // namespace splice
