#include "ui/system/system_links.h"

#include "ui/shell/mainwindow.h"

SystemLinks& systemLinks() {
    static SystemLinks links;   // filled by start-up, then used by the screens: GUI thread only
    return links;
}

bool fpgasRunning() {
    constexpr uint8_t kStateRegister = 80;
    constexpr uint8_t kRunning = 3;
    const ShellLinks& shell = shellLinks();
    if (!shell.fpgaRegister) return false;
    return shell.fpgaRegister(kStateRegister, 0) == kRunning && shell.fpgaRegister(kStateRegister, 1) == kRunning;
}
