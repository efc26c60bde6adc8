#include "core/app_swap.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QMutexLocker>

#include <QSettings>
#include <QString>

#include <cerrno>
#include <string>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

plat::QtMutex g_app_install_mutex{plat::Lock::AppInstall};

namespace {
// The loader file's folder is a folder inside the root that takes a new file, and the file
// is absent or a regular file: a link would point the loader's keys at a file outside the
// data folder, a pipe would hang the writer, and a linked folder is refused by the writer.
bool loaderFileUsable() {
    const std::string host = plat::path(kLoaderConfig);
    const std::string dir = host.substr(0, host.rfind('/'));
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !plat::folderInsideRoot(dir) ||
        ::access(dir.c_str(), W_OK) != 0) {
        writeLogMsg(LOG_ERROR, std::string(kLoaderConfig) + ": its folder is missing, not writable or outside the root");
        return false;
    }
    if (::lstat(host.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode)) return true;
    writeLogMsg(LOG_ERROR, std::string(kLoaderConfig) + " is not a regular file (a link, pipe or folder)");
    return false;
}

// A refused image is not kept: up to 32 MiB of the data partition.
int refuse(const std::string& why) {
    writeLogMsg(LOG_ERROR, "application swap: " + why + ", nothing swapped");
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (::unlink(plat::path(kAppImageNew).c_str()) != 0 && errno != ENOENT)
        writeLogMsg(LOG_ERROR, std::string("application swap: ") + kAppImageNew + " cannot be removed");
    return 255;
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
    // The restart asked for earlier may already be under way: no swap under it.
    if (g_app_reset_flag) return refuse("a restart is already pending");
    // mv would move the image into a folder of that name and the loader would start
    // nothing; a link would send the new program somewhere else.
    struct stat st;
    const std::string current = plat::path(kAppImage);
    if (::lstat(current.c_str(), &st) == 0 ? !S_ISREG(st.st_mode) : errno != ENOENT)
        return refuse(std::string(kAppImage) + " is not a regular file");
    if (!loaderFileUsable()) return refuse("the loader file is unusable");
    // Written before the move, and its failure stops the swap: the new image must not run
    // under a start command that could not be written (the start command names
    // /data/app/vlxH71N, where the old program still is until the move).
    if (g_update_status == 0) {
        if (!write_loader_start_command()) return refuse("the loader's start command cannot be written");
        g_update_status = 1;
    }
    Utils::system_mutex(QStringLiteral("chmod 777 -R /data/app"));
    plat::sleepMs(10);
    int status = 0;
    if (Utils::system_mutex(QStringLiteral("mv /data/app/vlxH71N2  /data/app/vlxH71N"), &status) != 0)
        // The old application stays; restarting would gain nothing.
        return refuse("mv failed with status " + std::to_string(status));
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
