#include "core/startup.h"

#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/platform.h"

QRect keypadRectFor(const QPoint& mainWindowPos) {
    const int x = mainWindowPos.x(), y = mainWindowPos.y();
    return QRect(QPoint(x + 420, y), QPoint(x + 799, y + 479));  // corners inclusive
}

int prepareDataFolders() {
    // /data/app too: a USB upgrade writes the new application there
    for (const char* dir : {"/data/kavelkv/log", "/data/configs", "/data/modes", "/data/app"}) plat::makeDirs(dir);
    int removed = 0;
    // Also the folders files arrive in over the protocol (a transfer cut by a power cut
    // leaves its hidden part file) and the WiFi files' folder.
    for (const char* dir : {"/data", "/data/configs", "/data/modes", "/data/app", "/data/kavelkv", "/data/rcvrecovery",
                            "/data/smartmapping", "/etc"})
        removed += plat::removeLeftoverTemps(plat::path(dir));
    // The settings lock of earlier versions: only ever left behind by a power cut.
    if (::unlink(plat::path("/data/configs/tcpip.ini.lock").c_str()) == 0) ++removed;
    return removed;
}
