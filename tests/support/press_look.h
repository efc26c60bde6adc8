#pragma once
// Touch targets that do not show the press: on a touch panel the finger hides the button,
// so the pressed look is the only sign that the touch was taken.
#include <QStringList>

class QWidget;

namespace testkit {

// Pixels of `button` that change when it is held down.
int pressedPixels(QWidget* button);
// One line per enabled button under `root` whose pressed look differs from its released
// look in fewer than a twentieth of its pixels.
QStringList buttonsWithoutPressedLook(QWidget* root);
// One line per button under `root` whose look names a background colour that the button,
// released, does not show flat over most of its face (the platform style drew its own
// shaded bevel in place of it).
QStringList buttonsNotInTheirColour(QWidget* root);

}  // namespace testkit
