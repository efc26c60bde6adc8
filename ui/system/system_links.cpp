#include "ui/system/system_links.h"

#include "ui/shell/mainwindow.h"

SystemLinks& systemLinks() {
    // GUI thread only: start-up fills it on that thread, the screens call it; a worker never
    // reads it, the file transfer's card-file hook calls copies (engine_links.cpp)
    static SystemLinks links;
    return links;
}

bool fpgasRunning() {
    constexpr uint8_t kStateRegister = 80;
    constexpr uint8_t kRunning = 3;
    const ShellLinks& shell = shellLinks();
    if (!shell.fpgaRegister) return false;
    return shell.fpgaRegister(kStateRegister, 0) == kRunning && shell.fpgaRegister(kStateRegister, 1) == kRunning;
}
