#pragma once
// The application swap: a verified new application image waiting at
// /data/app/vlxH71N2 replaces /data/app/vlxH71N, the loader's start command is set back
// to the normal one, and the board restarts 300 ticks later (the GUI tick carries out
// the reboot). One procedure for the protocol's transfer and the USB upgrade.
#include "platform/annotated_mutex.h"

#include <atomic>

constexpr const char* kAppImage = "/data/app/vlxH71N";
constexpr const char* kAppImageNew = "/data/app/vlxH71N2";
constexpr const char* kLoaderConfig = "/data/configs/led_load_config.ini";
constexpr const char* kLoaderNormalStart = "/data/app/vlxH71N -platform linuxfb";

// One install at a time: whoever puts an image at /data/app/vlxH71N2 holds it from that
// write through the swap, so a second upload can neither replace the image a running swap
// is about to move nor be moved by it. Held across the swap's shell commands and pauses;
// only installers take it. Order: before Utils::_file_deal_mutex. A lock of its own to the
// analysis: its bodies hold the mutex inside, which the analysis cannot follow.
class CAPABILITY("mutex") AppInstallLock {
public:
    void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
        ++waiting_;
        mutex_.lock();
        --waiting_;
    }
    void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS { return mutex_.tryLock(); }
    // Installers waiting for the install under way to end.
    int waiting() const { return waiting_.load(); }

private:
    plat::QtMutex mutex_{plat::Lock::AppInstall};
    std::atomic<int> waiting_{0};
};
extern AppInstallLock g_app_install_mutex;

// Call only once the new image is complete and checked, holding g_app_install_mutex.
// 0 when the image was moved into place and the restart is pending; 255 when nothing was
// swapped and nothing restarts (the old application stays): a restart already pending,
// the loader file or its start command not writable, /data/app/vlxH71N not a regular
// file, or a failed move. The start command is written before the move, so an answer of
// 0 always means the loader starts the new program.
int app_swap_and_restart();

// Rewrites group "app-1" of the loader file (app_path, app_name), keeping its other
// keys, as the settings file is written (private copy, atomic replace, no lock wait).
// False when it cannot be written or is not a regular file.
bool write_loader_start_command();
