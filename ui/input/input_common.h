#pragma once
// What the input and layout screens share: source names, the window colours, the typed
// number rules and the RAM reads they all make.
#include <QRect>
#include <QString>

#include <cstdint>

class QLabel;
class QWidget;

namespace input_common {

// Source types as the RAM numbers them: 0 EXT, 1 DVI, 2..5 HDMI1..HDMI4.
constexpr int kTypes = 6;
// Order of the six input buttons and type columns on the screens: HDMI1..HDMI4, DVI, EXT.
constexpr int kTypeOfColumn[kTypes] = {2, 3, 4, 5, 1, 0};
int columnOfType(int type);

// "EXT", "DVI", "HDMI1".."HDMI4"; empty for a number outside 0..5.
QString sourceName(int type);
// Colour of window 0..5 in the window strips.
QString windowTileStyle(int window);

// A typed number as a signed 16-bit field takes it: 0 when empty, not a number or out of range.
int16_t toShort(const QString& text);
// A typed number as an unsigned 32-bit value; false when it is not one (too long, a sign, empty).
bool toU32(const QString& text, uint32_t* value);

uint16_t ramWord(unsigned address);
uint16_t shadowWord(unsigned address);

// Crop number (1..40) of crop-table entry `index`, from its key word; 0 when the entry is not in use.
int cropNumberOfEntry(int index);
// Source type of the entry, or -1 when it is not in use or names no input.
int cropTypeOfEntry(int index);

// A badge or tag label takes the room its text needs, at least `geometry`, growing to the
// left from the right edge of `geometry` and never left of `minX`.
void fitToText(QLabel* label, const QRect& geometry, int minX, int margin = 8);

}  // namespace input_common

namespace input_common {
// Texts the input screens share, in the language of the moment.
QString noSignalText();
QString usingText();
QString cancelText();
QString deleteText();
QString widthLabelText();
QString heightLabelText();
// Makes a flat run-time button that shows only the press over what lies beneath it.
QString clearLook();
}  // namespace input_common

namespace input_common {
// The panel draws at 72 dpi: a designer form's point sizes are the panel's pixel sizes.
void pointsToPixels(QWidget* root);
}  // namespace input_common
