#pragma once
// Modal run of a screen opened from a tile or from another screen: created without a
// parent, held in its g_ pointer while it runs, the focus set to its number.
#include <QPointer>

#include <cstdint>

#include "core/global.h"
#include "platform/waits.h"

namespace screen_run {

// Runs a new Screen in `slot` with focus `focus`; nothing when one is already running below
// the screen in front. `parentFocus` is the focus of the screen it was opened from.
template <class Screen>
void runScreen(QPointer<Screen>& slot, uint8_t focus, uint8_t parentFocus) {
    if (slot) return;
    QPointer<Screen> screen = new Screen;
    slot = screen;
    g_page_focus = focus;
    plat::runEventLoop(*screen);
    // The idle return may have closed the screen (and deleted it) while it ran; one
    // closed without its back handler must not stay registered as open.
    if (screen && slot == screen && !screen->isVisible()) {
        slot = nullptr;
        screen->deleteLater();
        g_page_focus = parentFocus;
    }
}

}  // namespace screen_run
