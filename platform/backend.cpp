#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sys.h"
#include "platform/linux/linux_backend.h"
#include "platform/sim/sim_backend.h"

#include <memory>
#include <mutex>

namespace plat {

namespace {
std::mutex g_backendMutex;
std::unique_ptr<Sys> g_sys;
std::unique_ptr<Shell> g_shell;
}  // namespace

Sys& sys() {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    if (!g_sys) g_sys = board() == Board::Sim ? sim::makeSys() : linuxdev::makeSys();
    return *g_sys;
}

void resetSys() {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    g_sys.reset();
}

void installSys(std::unique_ptr<Sys> backend) {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    g_sys = std::move(backend);
}

void installShell(std::unique_ptr<Shell> runner) {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    g_shell = std::move(runner);
}

Shell& shell() {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    if (!g_shell) g_shell = board() == Board::Sim ? sim::makeShell() : linuxdev::makeShell();
    return *g_shell;
}

void resetShell() {
    std::lock_guard<std::mutex> lock(g_backendMutex);
    g_shell.reset();
}

}  // namespace plat
