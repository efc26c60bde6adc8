#pragma once
// What the output, picture and link screens share: the close into the settings menu and the
// look of their widgets.
#include <QString>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

namespace output_ui {

// Back (and the idle return): the screen deletes itself on close, the settings menu comes
// back in front in the current language.
void closeToSettings(QDialog* screen);

// Fonts of the forms, in pixels.
void setFontPx(QWidget* widget, int px);
// White text on the screen's background; framed buttons plain or highlighted; tabs likewise.
void framed(QPushButton* button, bool highlighted);
void tab(QPushButton* button, bool highlighted);

}  // namespace output_ui
