#pragma once
// Runs a screen modally, held in its g_ pointer while it runs: the opener of every screen
// of the home screen and the settings menu.
#include <QPointer>

#include <cstdint>

#include "core/global.h"

template <class Screen>
void runScreen(QPointer<Screen>& slot, uint8_t focus, uint8_t parentFocus) {
    if (slot) return;  // already running below a screen
    QPointer<Screen> screen = new Screen;
    slot = screen;
    g_page_focus = focus;
    screen->exec();
    // The idle return may have closed the screen (and deleted it) while it ran; one
    // closed without its back handler must not stay registered as open.
    if (screen && slot == screen && !screen->isVisible()) {
        slot = nullptr;
        screen->deleteLater();
        g_page_focus = parentFocus;
    }
}
