// SPI traffic of the FPGA engine on the simulated board, from the chips' own counters:
// the start-up of both FPGAs and an LED-size change (with the scaler's share where a
// scaler model is fitted), and the engine's CPU use while both FPGAs run and nothing
// happens. Prints a table; docs/performance.md keeps the figures.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/startup.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"
#include "platform/sys.h"
#include "scaler/c331_manage.h"

using namespace plat::sim;

namespace {

struct Traffic {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    double busMs = -1;  // from the chip's own count where it keeps one (the scaler reads at 5 MHz)
};

struct Snapshot {
    Traffic fpga[2], flash[2], c331;
};

Snapshot snapshot(SimBoard& b) {
    Snapshot s;
    for (int i = 0; i < 2; ++i) {
        auto f = b.find<SimFpga>(i ? "fpga1" : "fpga0");
        auto n = b.find<SpiNorFlash>(i ? "flash1" : "flash0");
        s.fpga[i] = {f->counters().frames, f->counters().bytes};
        s.flash[i] = {n->counters().frames, n->counters().bytes};
    }
    if (auto c = b.find<C331Model>("c331"))
        s.c331 = {c->counters().frames, c->counters().bytes, c->counters().busSeconds * 1000.0};
    return s;
}

// Bus time of `bytes` at the FPGA links' 10 MHz clock, in milliseconds.
double busMs(uint64_t bytes) { return double(bytes) * 8.0 / double(plat::wiring::kFpgaSpeedHz) * 1000.0; }

void report(const char* what, const Snapshot& a, const Snapshot& b, uint32_t ticks) {
    std::printf("\n%s (%u ticks = %.2f s of engine time)\n", what, ticks, ticks / 100.0);
    std::printf("  %-8s %8s %10s %10s\n", "chip", "frames", "bytes", "bus ms");
    uint64_t frames = 0, bytes = 0;
    double ms = 0;
    const char* names[5] = {"fpga0", "fpga1", "flash0", "flash1", "c331"};
    const Traffic* before[5] = {&a.fpga[0], &a.fpga[1], &a.flash[0], &a.flash[1], &a.c331};
    const Traffic* after[5] = {&b.fpga[0], &b.fpga[1], &b.flash[0], &b.flash[1], &b.c331};
    for (int k = 0; k < 5; ++k) {
        const uint64_t f = after[k]->frames - before[k]->frames, by = after[k]->bytes - before[k]->bytes;
        const double m = after[k]->busMs >= 0 ? after[k]->busMs - before[k]->busMs : busMs(by);
        frames += f;
        bytes += by;
        ms += m;
        std::printf("  %-8s %8llu %10llu %10.3f\n", names[k], (unsigned long long)f, (unsigned long long)by, m);
    }
    std::printf("  %-8s %8llu %10llu %10.3f\n", "total", (unsigned long long)frames, (unsigned long long)bytes, ms);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
    const std::string root = benchenv::tempRoot("fpga");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(root);
    prepareDataFolders();  // the data folders the program makes at its start (configs, log ...)
    plat::setSleepScale(0);
    // The engines' own sleeps pass as board time, as they would on the device.
    plat::setSleepHook([](uint64_t us) { board().step(us * kNsPerUs); });
    SimBoard& b = board();
    buildStandardBoard(b);
    for (const char* n : {"flash0", "flash1"}) b.find<SpiNorFlash>(n)->setBusyPolls(2);
    ConfigEngine::pInstance();
    VlxRamPara* ram = VlxRamPara::pInstance();
    ram->shadowTakesRam();

    // The scaler's manager and the engine, both stepped: one tick is 10 ms of board
    // time, one manager pass and one engine pass.
    c331_manage* scaler = c331_manage::createForTest();
    auto* e = new fpga_manage;
    if (e->initialize() != 0) return 1;
    e->stopThread();
    auto tick = [&] {
        G_timeTicks.fetch_add(1);
        b.step(10 * kNsPerMs);
        scaler->step();
        e->fpga_manage_deal();
        // the GUI thread's change notification takes the applied RAM as the new shadow
        if (c331_manage::update_flag == 0) ram->shadowTakesRam();
    };

    Snapshot s0 = snapshot(b);
    uint32_t t0 = G_timeTicks;
    while (!e->get_fpga_status() && G_timeTicks - t0 < 5000) tick();
    report("Start-up: the scaler brought up, then both FPGAs from power-on to output on", s0, snapshot(b),
           G_timeTicks - t0);
    ram->shadowTakesRam();

    // An LED-size change as a screen makes it: the new size in the parameter RAM under
    // the manage mutex, the scaler asked to apply it, the hand-shake started.
    Snapshot s1 = snapshot(b);
    uint32_t t1 = G_timeTicks;
    {
        ManageMutexLocker lock;
        ram->setRamU16(vlxram::kLedWidth, static_cast<uint16_t>(ram->ramU16(vlxram::kLedWidth) == 1280 ? 1024 : 1280));
        c331_manage::update_flag = 1;
        plat::Locker<plat::QtMutex> l(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_set_led_setup = 0;
    }
    auto fpga0 = b.find<SimFpga>("fpga0");
    const unsigned resetsBefore = fpga0->resets();
    while ((fpga0->resets() == resetsBefore || !e->get_fpga_status()) && G_timeTicks - t1 < 5000) tick();
    report("LED-size change: hand-shake, the scaler reprogrammed, both FPGAs reset and up again", s1, snapshot(b),
           G_timeTicks - t1);
    ram->shadowTakesRam();
    c331_manage::resetInstanceForTest();

    // Idle: the engine's own thread, the board clock and a 10 ms tick in real time.
    plat::setSleepHook(nullptr);
    b.followRealTime(true);
    plat::setSleepScale(1);  // the workers pace in real time, as on the device
    fpga_manage::p_fpga_manage = e;
    delete e;
    fpga_manage::p_fpga_manage = nullptr;
    e = fpga_manage::pInstance();
    g_fpga_c331_start = 1;
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            G_timeTicks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    while (!e->get_fpga_status()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto idle = [] {
        const double cpu0 = cpuSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        return 100.0 * (cpuSeconds() - cpu0) /
               std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    };
    const double running = idle();
    g_fpga_c331_start = 0;  // the thread still paces, but runs no pass
    const double waiting = idle();
    stop = true;
    ticker.join();
    std::printf("\nIdle, both FPGAs running: %.3f %% of one core for the whole process (engine thread, board\n"
                "clock, 10 ms tick); %.3f %% with the engine thread running no pass: the passes cost %.3f %%\n",
                running, waiting, running - waiting);
    fpga_manage::resetInstanceForTest();
    std::filesystem::remove_all(root);
    return 0;
}
