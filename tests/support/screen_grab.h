#pragma once
// A screen grabbed at panel size for the screenshot tests; saved as NAME.png in
// VLX_SCREENSHOT_DIR when that is set (scripts/screenshots.sh).
#include <QWidget>

namespace testkit {

// Shows the screen, grabs it and checks that the grab is the panel's size and shows more
// than its background.
void grabCheckAndSave(QWidget* screen, const char* name);

}  // namespace testkit
