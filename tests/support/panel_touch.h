#pragma once
// The operator's finger on the simulated board: a touch at a panel position goes the way the
// touch driver's contacts go (lcd_touch::clickAt), to whatever is on top there.
#include <QPoint>
#include <QString>

class QComboBox;
class QWidget;

namespace testkit {

// Panel position of a point of `w` (its centre by default).
QPoint panelPointOf(const QWidget* w);
QPoint panelPointOf(const QWidget* w, const QPoint& local);
// A touch at the widget's place on the panel.
void touchWidget(const QWidget* w);
// Opens the combo's list with a touch and touches the row of `index` in it 0.15 s later, as
// quickly as an operator does (inside the double-click time). False when the list did not open. A keypad opened by a touch that missed the list is closed again, and
// `keypadOpened` tells it.
bool touchListItem(QComboBox* combo, int index, bool* keypadOpened = nullptr);
// Touches a number field and, on the keypad it opens, each key of `digits` ('-' is Delete) and
// then OK, at their places. False when no keypad opened. `shown`, when given, gets what the
// keypad showed before OK.
bool typeByTouch(const QWidget* field, const QString& digits, QString* shown = nullptr);

}  // namespace testkit
