#pragma once
// Look of the front panel (800 x 480 LCD) and the small factories every screen
// uses for the widgets it builds at run time.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QAbstractButton;
class QApplication;
class QComboBox;
class QFont;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;

namespace panel_style {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 480;
// The keypad occupies the right strip of the panel.
constexpr int kKeypadX = 420;
constexpr int kKeypadWidth = 380;

// Latin, Cyrillic and Vietnamese come from the first family, Han from the second.
constexpr const char* kFontFamily = "DejaVu Sans";
constexpr const char* kCjkFontFamily = "Noto Sans CJK SC";

constexpr const char* kScreenStyle = "background-color: rgb(16, 16, 28);";
constexpr const char* kWhiteText = "color: rgb(255, 255, 255);";
constexpr const char* kPageFrameStyle = "border:1px solid rgb(133, 129, 153);";
constexpr const char* kInputFieldStyle =
    "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";
// A line edit of that look which is dimmed while disabled: a field the screen only shows must
// not look like one a touch can edit.
constexpr const char* kLineEditStyle =
    "QLineEdit{color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);}"
    "QLineEdit:disabled{color: rgb(133, 129, 153);background-color: rgb(16, 16, 28);"
    "border:1px solid rgb(133, 129, 153);}";
// Tiles of the home screen and the settings menu, and the cards built on the home and
// machine-state screens.
constexpr const char* kTileStyle =
    "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(133, 129, 153);border-radius:8px;";
constexpr const char* kCardStyle = "QFrame{background-color: #212435;border:0px;border-radius:6px;}";
constexpr const char* kInUseDotStyle = "background-color:#00D65B;border:0px groove gray;border-radius:7px;";
constexpr int kInUseDotSize = 14;

// Tab and tile columns: highlighted / plain.
constexpr const char* kTabOnStyle = "background-color:#4777FF;color:#FFFFFF";
constexpr const char* kTabOffStyle = "background-color:#10101C;color:#FFFFFF";
// Framed buttons: highlighted / plain.
constexpr const char* kFramedOnStyle =
    "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr const char* kFramedOffStyle = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";

// Held down, every touch target takes this background over its look: the finger hides
// the button, so the colour around it is the sign that the touch was taken.
constexpr const char* kPressedLook = "background-color: #34488C;";
// Icon and glyph buttons without a frame (back, close): the press shows as a rounded patch.
constexpr const char* kBareLook = "color: rgb(255, 255, 255);border:0px;border-radius:20px;";

// Rich-text words, filled with QString::arg.
constexpr const char* kGreenWord = "<font color = #00FF00 >%1</font>";
constexpr const char* kRedWord = "<font color = #FF0000 >%1</font>";
constexpr const char* kWhiteWord = "<font color = #FFFFFF >%1</font>";

constexpr const char* kIconBack = ":/png/back.png";
constexpr const char* kIconChecked = ":/png/checked.png";
constexpr const char* kIconUnchecked = ":/png/unchecked.png";
constexpr const char* kIconSwitchOn = ":/png/button_on.png";
constexpr const char* kIconSwitchOff = ":/png/button_off.png";

const QRect kBackButtonRect(11, 11, 50, 50);
const QSize kBackIconSize(32, 32);

// Text for the current g_language: 0 simplified Chinese, 2 Russian, 3 Vietnamese,
// 4 traditional Chinese, anything else English. Literals are UTF-8.
QString langText(const char* zh, const char* en, const char* ru, const char* vi, const char* tw);

// Panel font; pixelSize <= 0 keeps the default size.
QFont panelFont(int pixelSize = 0);
// Makes the panel font the application default and lets Han text fall back to the CJK family.
void installPanelFont(QApplication* app);

// Top-left corner of the panel's 800 x 480 area on the display: the home screen's client
// area. On the device it fills the LCD; on a PC or over VNC it is a window on a larger display.
QPoint panelOrigin();
// Places a window (screen, pop-up, keypad) at `rect` in panel coordinates, so that it looks
// and takes the touches the same on the LCD, in a window and over VNC. Without the rectangle
// it covers the whole panel.
void placeOnPanel(QWidget* window, const QRect& rect);
void placeOnPanel(QWidget* window);

// Fixes a screen at the panel's 800 x 480 and places it on the panel's area (screens are
// built when they open); a back button of its form gets the back icon in place of its
// placeholder text, and the bare look.
void prepareScreen(QWidget* screen, QPushButton* back = nullptr);
void setBackIcon(QPushButton* button);
// Combo boxes take a fresh QListView so the item rules of their style sheet apply.
void useListView(QComboBox* combo);

// Gives a touch target its look (one of the styles above, or its own) with the pressed look
// over it. Buttons change their look through this, never with setStyleSheet alone, so that
// a highlighted or plain button still shows the press.
void setLook(QAbstractButton* button, const QString& look);

// A slider as the panel's finger uses it. A tap on the groove puts the handle under the finger
// (and a drag goes on from there), in place of the page step of a desktop slider, too small to
// see on a long range. `store` gets the slider's value each time the finger leaves it, whatever
// the gesture (a tap, a press held, a drag), so that nothing hangs on sliderReleased.
void touchSlider(QSlider* slider, std::function<void(int)> store);

// Flat, focus-less button as built at run time; the object name carries the index it stands for.
QPushButton* makeButton(QWidget* parent, const QString& objectName, const QRect& geometry,
                        const QString& style = QString::fromLatin1(kTabOffStyle), const QString& text = QString());
QLabel* makeLabel(QWidget* parent, const QString& objectName, const QRect& geometry, const QString& text = QString(),
                  int pixelSize = 0);
// Why the screen refused what the user asked for (object name "label_refused"): orange, word
// wrapped, hidden until a refusal shows it.
QLabel* makeRefusedLabel(QWidget* parent, const QRect& geometry);
QFrame* makeFrame(QWidget* parent, const QString& objectName, const QRect& geometry,
                  const QString& style = QString::fromLatin1(kPageFrameStyle));
// Container of widgets built at run time: deletes the previous one with all its children
// and puts a fresh, borderless one over `host`, `inset` pixels inside its edge.
QFrame* rebuildContainer(QFrame*& container, QWidget* host, const QString& objectName, int inset = 1);
// Green in-use dot, 14 x 14 with its top-left corner at x, y.
QLabel* makeInUseDot(QWidget* parent, int x, int y);

// Icon and picture setters remember the resource path in the property "vlxImage",
// so a screen (and its tests) can tell which picture is on a widget. A resource's icon is built
// once and shared: Qt's pixmap cache keys the scaled pixmaps of an icon by its pixmap, so a new
// icon per screen would fill the cache with scaled duplicates. GUI thread only.
void setIcon(QAbstractButton* button, const QString& resource, const QSize& size);
void setPicture(QLabel* label, const QString& resource, bool scaled = true);
void clearPicture(QLabel* label);
QString imageOf(const QWidget* widget);

// The label's font (a pixel size, set on the widget or in its style sheet) made smaller, down
// to 12 px, until its text and `margin` fit `room` pixels.
void fitFont(QLabel* label, int room, int margin = 0);

// A widget that shows a user's name (an alias) shortens it with "…" to its width on purpose;
// the mark tells it from a widget whose text is cut because it does not fit.
void markElides(QWidget* widget);
bool elidesOnPurpose(const QWidget* widget);

}  // namespace panel_style
