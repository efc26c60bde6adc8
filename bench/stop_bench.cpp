// The stop on slow storage. The controller program runs on the simulated board as ./run.sh starts
// it, with every fsync slowed by the board's `fsync MS`. A PC writes all 16 user-mode slots (each
// tagged for the run) and asks for their files (register 11 bit 2); once the panel's notification
// has written the first file (the rest under way), it changes the brightness and applies it
// (register 11 bit 1); each is answered "done". 200 ms later comes SIGTERM. Measured:
// the time from the signal until the parameter file holds the brightness (the file is looked at
// every 5 ms) and until the program has ended, and how many mode files hold their slot's tag.
//   stop_bench [runs=5] [fsync delays, ms="0,100,300"] [controller]
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_controller.h"
#include "bench_net.h"
#include "bench_stats.h"
#include "core/vlxrampara.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using benchstats::msSince;
using benchstats::percentile;

constexpr unsigned kTagAt = 2 + vlxram::kUnused8DE - vlxram::kModeStart;  // in a slot and its file

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint16_t wordAt(const Bytes& b, size_t at) { return b.size() < at + 2 ? 0 : uint16_t(b[at] | (b[at + 1] << 8)); }

struct Run {
    double fileMs = -1;   // the parameter file holds the brightness; -1: never
    double endMs = 0;
    int modes = 0;        // mode files holding their slot's tag
};

// The panel is up, the stop's handlers with it, once the USB watcher (started last) runs.
bool panelUp(pid_t pid) {
    for (const auto t0 = Clock::now(); msSince(t0) < 60000;) {
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
            std::string name;
            std::getline(std::ifstream(task.path() / "comm"), name);
            if (name == "usb-uevent") return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

Run runOnce(const char* program, int fsyncMs, int n, int offset) {
    benchctl::Controller ctl;
    if (!ctl.start(program, "stop", offset) || ctl.waitForAnswer() < 0 || !panelUp(ctl.pid())) std::exit(1);
    const std::string delay = benchctl::boardCommand(ctl.root(), "fsync " + std::to_string(fsyncMs));
    if (delay.rfind("OK", 0) != 0) {
        std::fprintf(stderr, "fsync %d: %s\n", fsyncMs, delay.c_str());
        ctl.stop();
        std::exit(1);
    }
    const uint16_t brightness = uint16_t(10 + n % 80);
    const auto tag = [n](int slot) { return uint16_t(0x5A00 + 16 * (n % 16) + slot); };
    bool ok = true;
    {
        benchnet::Pc pc(ctl.tcpPort());
        for (int slot = 0; slot < vlxram::kModeSlots; ++slot) {
            Bytes image(kTagAt + 2, 0);
            image[0] = image[1] = vlxram::kModeSaved;
            image[kTagAt] = uint8_t(tag(slot));
            image[kTagAt + 1] = uint8_t(tag(slot) >> 8);
            ok = ok && pc.write(uint32_t(slot + 1) << 12, image);
        }
        ok = ok && pc.reg(ctl::kRegUpdate, 0x04, 0x04);
        // the panel's notification is writing the files: the change waits behind them
        const std::string first = ctl.root() + "/data/modes/custom_mode1";
        for (const auto t0 = Clock::now(); ok && wordAt(readFile(first), kTagAt) != tag(0) && msSince(t0) < 20000;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ok = ok && pc.write(vlxram::kBrightness, {uint8_t(brightness), uint8_t(brightness >> 8)});
        ok = ok && pc.reg(ctl::kRegUpdate, 0x02, 0x02);
    }
    if (!ok) std::fprintf(stderr, "a request was not answered \"done\"\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string ramFile = ctl.root() + "/data/ram_device_info";
    const unsigned brightnessAt = 2 + vlxram::kBrightness - vlxram::kSavedStart;
    Run r;
    const auto t0 = Clock::now();
    ::kill(ctl.pid(), SIGTERM);
    for (;;) {
        if (r.fileMs < 0 && wordAt(readFile(ramFile), brightnessAt) == brightness) r.fileMs = msSince(t0);
        if (::waitpid(ctl.pid(), nullptr, WNOHANG) == ctl.pid()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.endMs = msSince(t0);
    if (r.fileMs < 0 && wordAt(readFile(ramFile), brightnessAt) == brightness) r.fileMs = r.endMs;
    for (int slot = 0; slot < vlxram::kModeSlots; ++slot)
        r.modes += wordAt(readFile(ctl.root() + "/data/modes/custom_mode" + std::to_string(slot + 1)), kTagAt) ==
                   tag(slot);
    ctl.stop();  // (ended already: removes the root)
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<int> delays;
    std::stringstream list(argc > 2 ? argv[2] : "0,100,300");
    for (std::string d; std::getline(list, d, ',');) delays.push_back(std::atoi(d.c_str()));
    const char* program = argc > 3 ? argv[3] : VLX_CONTROLLER;  // another build of the controller to compare
    const int offset = benchenv::portOffset(36000 + int(getpid() % 500) * 20);
    std::printf("| fsync +ms | stop ends, ms (median, max) | file holds the change, ms (median, max) | "
                "kept under a kill 2 s after SIGTERM | mode files kept of 16 (min-max) |\n|---|---|---|---|---|\n");
    for (int d : delays) {
        std::vector<double> ends, files;
        int keptUnderKill = 0, minModes = 16, maxModes = 0;
        for (int n = 0; n < runs; ++n) {
            const Run r = runOnce(program, d, n, offset);
            ends.push_back(r.endMs);
            files.push_back(r.fileMs < 0 ? 1e9 : r.fileMs);
            keptUnderKill += r.fileMs >= 0 && r.fileMs < 2000;
            minModes = std::min(minModes, r.modes);
            maxModes = std::max(maxModes, r.modes);
            std::fprintf(stderr, "fsync +%d ms, run %d: file %.0f ms, end %.0f ms, %d mode files\n", d, n + 1,
                         r.fileMs, r.endMs, r.modes);
        }
        std::printf("| %d | %.0f, %.0f | %.0f, %.0f | %d of %d | %d-%d |\n", d, percentile(ends, 0.5),
                    percentile(ends, 1.0), percentile(files, 0.5), percentile(files, 1.0), keptUnderKill, runs,
                    minModes, maxModes);
        std::fflush(stdout);
    }
    return 0;
}
