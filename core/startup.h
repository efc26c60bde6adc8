#pragma once
// Pieces of the start-up sequence that do more than create a singleton.
#include <QRect>

// The shared keypad's place: the 380 x 480 strip whose left edge lies 420 pixels right
// of the main window's left edge, from the main window's top to the panel's bottom.
QRect keypadRectFor(const QPoint& mainWindowPos);

// The data partition's folders (the device has them; a fresh simulated root gets them
// here), cleared of the temporary files of saves a power cut interrupted. Returns how
// many such files went.
int prepareDataFolders();
