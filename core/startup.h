#pragma once
// Pieces of the start-up sequence that do more than create a singleton.
#include <QRect>

// The shared keypad's place: the 380 x 480 strip whose left edge lies 420 pixels right
// of the main window's left edge, from the main window's top to the panel's bottom.
QRect keypadRectFor(const QPoint& mainWindowPos);
