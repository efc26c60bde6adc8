// The heap of an idle controller over a day of board time, at a fast board clock: the
// standard simulated board as ./run.sh starts it (the demo receiving cards, sources on
// HDMI1 and HDMI3), the input-source manager, the C331 manager and the FPGA engine
// each running one pass per 10 ms tick, stepped as fast as they run. Every log the
// simulated board keeps is bounded by bytes, at the share the controller gives them, so
// the heap must stay flat from the first minutes. Prints the heap in use every 10 board
// minutes of the first hour, then every two hours; docs/performance.md keeps it.
//
//   idle_heap_bench [HOURS]        (24 by default)
#include <malloc.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_print.h"
#include "video_io/kavelsource.h"

#if defined(__SANITIZE_ADDRESS__)
#define VLX_HEAP_ASAN 1
// The sanitizer runtime's count of the bytes in use (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace plat::sim;

namespace {

// Bytes the program holds on the heap now.
double heapBytes() {
#ifdef VLX_HEAP_ASAN
    return double(__sanitizer_get_current_allocated_bytes());
#else
    return double(mallinfo2().uordblks);
#endif
}

double rssBytes() {
    std::ifstream in("/proc/self/statm");
    unsigned long long size = 0, resident = 0;
    in >> size >> resident;
    return double(resident) * double(::sysconf(_SC_PAGESIZE));
}

}  // namespace

int main(int argc, char** argv) {
    const int hours = argc > 1 ? std::max(4, std::atoi(argv[1])) : 24;
    const std::string root = benchenv::tempRoot("heap");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(root);
    plat::setSleepScale(0);
    setInspectionLogShare(1.0 / 64);  // as the controller keeps the board's logs
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    setC331PrintSink([](const std::string&) {});  // the scaler's dumps: the figures are what is read
    SimBoard& b = board();
    buildStandardBoard(b);
    plugDemoCards(b);
    registerChipCommands();
    for (const char* s : {"signal HDMI1 1920x1080@60", "signal HDMI3 3840x2160@60"}) runBoardCommand(s);
    ConfigEngine::pInstance();
    VlxRamPara* ram = VlxRamPara::pInstance();
    ram->shadowTakesRam();
    kavelsource* sources = kavelsource::pInstance();
    c331_manage* scaler = c331_manage::createForTest();
    auto* e = new fpga_manage;
    fpga_manage::p_fpga_manage = e;
    if (e->initialize() != 0 || !sources->prepare()) return 1;
    e->stopThread();
    g_fpga_c331_start = 1;

    // One tick: 10 ms of board time, one pass of each manager, as their threads run them.
    auto tick = [&] {
        G_timeTicks.fetch_add(1);
        b.step(10 * kNsPerMs);
        sources->source_deal();
        scaler->step();
        e->fpga_manage_deal();
        if (c331_manage::update_flag == 0) ram->shadowTakesRam();
    };
    const uint32_t ticksPerHour = 100 * 3600;
    const auto t0 = std::chrono::steady_clock::now();
    while (!e->get_fpga_status() && G_timeTicks < 5000) tick();
    if (!e->get_fpga_status()) {
        std::fprintf(stderr, "the FPGAs did not come up\n");
        return 1;
    }

    std::printf("idle heap over %d hours of board time, one pass of each manager per 10 ms tick\n", hours);
    std::printf("  %7s %12s %10s %12s %10s\n", "minute", "heap kB", "RSS kB", "card frames", "wall s");
    // every 10 minutes of the first hour (the logs fill at the start), then every two hours
    const uint32_t ticksPerTenMinutes = ticksPerHour / 6;
    double heapAt10 = 0, heapEnd = 0;
    for (int m = 10; m <= hours * 60; m += 10) {
        for (uint32_t k = 0; k < ticksPerTenMinutes; ++k) tick();
        if (m > 60 && m % 120) continue;
        unsigned long long cards = 0;
        for (const char* f : {"fpga0", "fpga1"}) cards += b.find<SimFpga>(f)->cardLog().size() + b.find<SimFpga>(f)->cardLog().dropped();
        const double heap = heapBytes();
        if (m == 10) heapAt10 = heap;
        heapEnd = heap;
        std::printf("  %7d %12.0f %10.0f %12llu %10.0f\n", m, heap / 1024, rssBytes() / 1024, cards,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        std::fflush(stdout);
    }
    std::printf("heap from minute 10 to hour %d: %+.0f kB (%+.2f kB per board hour)\n", hours,
                (heapEnd - heapAt10) / 1024, (heapEnd - heapAt10) / 1024 / (hours - 1.0 / 6));

    fpga_manage::resetInstanceForTest();
    c331_manage::resetInstanceForTest();
    kavelsource::resetInstanceForTest();
    setC331PrintSink(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
