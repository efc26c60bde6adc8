#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/annotated_mutex.h"
#include "platform/shell.h"
#include "platform/sys.h"
#include "platform/linux/linux_backend.h"
#include "platform/sim/sim_backend.h"

#include <unistd.h>

#include <memory>
#include <mutex>

namespace plat {

namespace {
plat::Mutex g_backendMutex{plat::Lock::Backend};   // g_sys and g_shell: made on first use from any thread (a leaf)
std::unique_ptr<Sys> g_sys;
std::unique_ptr<Shell> g_shell;
std::unique_ptr<FileSystem> g_fileSystem;

// The backend in a slot, made for the board in force on first use.
template <typename T, typename SimMake, typename DeviceMake>
T& backend(std::unique_ptr<T>& slot, SimMake sim, DeviceMake device) {
    std::lock_guard<plat::Mutex> lock(g_backendMutex);
    if (!slot) slot = board() == Board::Sim ? sim() : device();
    return *slot;
}

template <typename T>
void replace(std::unique_ptr<T>& slot, std::unique_ptr<T> next) {
    std::lock_guard<plat::Mutex> lock(g_backendMutex);
    slot = std::move(next);
}
}  // namespace

Sys& sys() { return backend(g_sys, sim::makeSys, linuxdev::makeSys); }
void resetSys() { replace(g_sys, {}); }
void installSys(std::unique_ptr<Sys> backend) { replace(g_sys, std::move(backend)); }

void hardwareWaitMs(uint64_t ms) {
    if (board() == Board::Sim && sim::passBoardTime(ms * 1000 * 1000)) return;
    sleepMs(ms);
}

Shell& shell() { return backend(g_shell, sim::makeShell, linuxdev::makeShell); }
void resetShell() { replace(g_shell, {}); }
void installShell(std::unique_ptr<Shell> runner) { replace(g_shell, std::move(runner)); }

int FileSystem::unlink(const std::string& hostPath) { return ::unlink(hostPath.c_str()); }

FileSystem& fileSystem() { return backend(g_fileSystem, sim::makeFileSystem, linuxdev::makeFileSystem); }
void resetFileSystem() { replace(g_fileSystem, {}); }
void installFileSystem(std::unique_ptr<FileSystem> fs) { replace(g_fileSystem, std::move(fs)); }

}  // namespace plat
