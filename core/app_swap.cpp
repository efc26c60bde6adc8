#include "core/app_swap.h"

#include <sys/stat.h>

#include <QSettings>
#include <QString>

#include <cerrno>
#include <string>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

namespace {
// The loader file is absent or a regular file; a link would point the loader's keys at a
// file outside the data folder, a pipe would hang the writer.
bool loaderFileUsable() {
    struct stat st;
    const std::string host = plat::path(kLoaderConfig);
    if (::lstat(host.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode)) return true;
    writeLogMsg(LOG_ERROR, std::string(kLoaderConfig) + " is not a regular file (a link, pipe or folder)");
    return false;
}
}  // namespace

bool write_loader_start_command() {
    if (!loaderFileUsable()) return false;
    return editIniFile(plat::path(kLoaderConfig), [](QSettings& loader, const std::string&) {
        loader.setValue(QStringLiteral("app-1/app_path"), QString::fromLatin1(kLoaderNormalStart));
        loader.setValue(QStringLiteral("app-1/app_name"), QStringLiteral("vlxH71N"));
    });
}

int app_swap_and_restart() {
    if (g_app_reset_flag) {
        // The restart asked for earlier may already be under way: no swap under it.
        writeLogMsg(LOG_WARNING, "application swap: a restart is already pending, nothing swapped");
        return 255;
    }
    if (!loaderFileUsable()) {
        // Checked before the move: the new image must not run under a start command that
        // cannot be written.
        writeLogMsg(LOG_ERROR, "application swap: the loader file is unusable, nothing swapped");
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
