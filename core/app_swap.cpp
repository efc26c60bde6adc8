#include "core/app_swap.h"

#include <QSettings>
#include <QString>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

bool write_loader_start_command() {
    // QSettings replaces the file through a temporary file and a rename.
    QSettings loader(QString::fromStdString(plat::path(kLoaderConfig)), QSettings::IniFormat);
    loader.setValue(QStringLiteral("app-1/app_path"), QString::fromLatin1(kLoaderNormalStart));
    loader.setValue(QStringLiteral("app-1/app_name"), QStringLiteral("vlxH71N"));
    loader.sync();
    return loader.status() == QSettings::NoError;
}

int app_swap_and_restart() {
    if (g_app_reset_flag) {
        // The restart asked for earlier may already be under way: no swap under it.
        writeLogMsg(LOG_WARNING, "application swap: a restart is already pending, nothing swapped");
        return 255;
    }
    Utils::system_mutex(QStringLiteral("chmod 777 -R /data/app"));
    plat::sleepMs(10);
    int status = 0;
    if (Utils::system_mutex(QStringLiteral("mv /data/app/vlxH71N2  /data/app/vlxH71N"), &status) != 0) {
        // The old application stays; restarting would gain nothing.
        writeLogMsg(LOG_ERROR, "application swap: mv failed with status " + std::to_string(status) + ", no restart");
        return 255;
    }
    if (g_update_status == 0) {
        if (write_loader_start_command())
            g_update_status = 1;
        else
            writeLogMsg(LOG_ERROR, "application swap: the loader's start command cannot be written");
    }
    plat::sleepMs(10);
    Utils::system_mutex(QStringLiteral("sync"));
    plat::sleepMs(20);
    Utils::system_mutex(QStringLiteral("sync"));
    plat::sleepMs(1000);
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    writeLogMsg(LOG_INFO, "application swapped, restart in 300 ticks");
    return 0;
}
