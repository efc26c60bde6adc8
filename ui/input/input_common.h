#pragma once
// What the input and layout screens share: source names, the window colours, the typed
// number rules and the RAM reads they all make.
#include <QRect>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <vector>

class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QWidget;

namespace input_common {

// Source types as the RAM numbers them: 0 EXT, 1 DVI, 2..5 HDMI1..HDMI4.
constexpr int kTypes = 6;
// Order of the six input buttons and type columns on the screens: HDMI1..HDMI4, DVI, EXT.
constexpr int kTypeOfColumn[kTypes] = {2, 3, 4, 5, 1, 0};
int columnOfType(int type);

// "EXT", "DVI", "HDMI1".."HDMI4"; empty for a number outside 0..5.
QString sourceName(int type);
// Colour of window 0..5 in the window strips, its text colour, and the style of the name
// label on its tile.
QString windowTileStyle(int window);
QString windowTextColour(int window);
QString windowNameStyle(int window);

uint16_t ramWord(unsigned address);
uint16_t shadowWord(unsigned address);

// Crop number (1..40) of crop-table entry `index`, from its key word; 0 when the entry is not in use.
int cropNumberOfEntry(int index);
// Source type of the entry, or -1 when it is not in use or names no input.
int cropTypeOfEntry(int index);

// A badge or tag label takes the room its text needs, at least `geometry`, growing to the
// left from the right edge of `geometry` and never left of `minX`; a text too long for that
// takes a smaller font.
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
// ---- the shared keypad of the screens' numeric fields
// A touch on each field calls `screen`'s show_numberkeyboard_ui(QString) slot; every result
// of the keypad reaches its confirmString(QString) slot.
void connectKeypad(QObject* screen, std::initializer_list<QLineEdit*> fields);
// Runs the keypad for `field` (which becomes g_lineedit) under `title`, starting from `value`;
// `maxDigits` above 0 bounds what can be typed.
void openKeypad(QLineEdit* field, const QString& title, const QString& value, int maxDigits = 0);
// Whether the keypad's result is for one of `fields` (every connected screen hears every result).
bool keypadFieldIn(std::initializer_list<const QLineEdit*> fields);

// ---- the input strip and tile areas of the crop and EDID screens and the input choice
// The six inputs' icons over the strip (the same on both screens).
void setInputIcons(QLabel* hdmi1, QLabel* hdmi2, QLabel* hdmi3, QLabel* hdmi4, QLabel* dvi, QLabel* ext);
// The editor's three buttons along the bottom, hidden until the editor opens: cancel, the
// one that stores (`okName`) and delete.
struct EditorButtons {
    QPushButton* cancel = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* remove = nullptr;
};
EditorButtons makeEditorButtons(QWidget* screen, const QString& okName);
// The six input buttons in column order (objectName "0".."5"), over the strip's icons.
std::vector<QPushButton*> makeInputButtons(QWidget* screen);
// Name and size of tile n (1 on) of `type`'s crops: the crop's alias elided to `width`,
// else "<typeName>_cropN" with the crop's own number.
void cropTileTexts(QLabel* name, QLabel* info, int type, int n, const QString& typeName, int width);
// The previous and next buttons of a paged tile area at the right edge (x 715, 50 x 50),
// each only where there is such a page; null otherwise.
struct PageButtons {
    QPushButton* previous = nullptr;
    QPushButton* next = nullptr;
};
PageButtons makePageButtons(QWidget* area, int page, int lastPage, int previousY, int nextY);
}  // namespace input_common

namespace input_common {
// The panel draws at 72 dpi: a designer form's point sizes are the panel's pixel sizes;
// the screen's title takes the title size of the other screens.
constexpr int kTitlePixels = 24;
void pointsToPixels(QWidget* root);
}  // namespace input_common
