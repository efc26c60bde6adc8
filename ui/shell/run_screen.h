#pragma once
// The shell's modal run of a screen: created without a parent, held in its g_ pointer while
// it runs, with the focus number of the screen in front.
#include <QPointer>

#include <cstdint>

#include "core/global.h"

namespace shell_screens {

// `back` is the focus the opener returns to when the screen was closed without its back
// handler (by the idle return, say) and so could not hand the focus back itself.
template <class Screen>
void runScreen(QPointer<Screen>& slot, uint8_t focus, uint8_t back) {
    if (slot) return;  // already running below a screen
    QPointer<Screen> screen = new Screen;
    slot = screen;
    g_page_focus = focus;
    screen->exec();
    // one closed without its back handler must not stay registered as open
    if (screen && slot == screen && !screen->isVisible()) {
        slot = nullptr;
        screen->deleteLater();
        g_page_focus = back;
    }
}

}  // namespace shell_screens
