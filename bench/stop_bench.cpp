// The stop on slow storage. The controller program runs on the simulated board as ./run.sh starts
// it, with every fsync slowed by the board's `fsync MS`. With 16 slots pending, a PC first writes
// all 16 user-mode slots (each tagged for the run) and asks for their files (register 11 bit 2),
// and waits until the panel's notification has written the first (the rest under way). Then it
// writes RAM 0x302 and applies it (register 11 bit 1) as fast as it is answered, a new value each
// time, for 300 ms, and SIGTERM comes while it does. Measured: the time from the signal until
// the parameter file holds the last value answered "done" (or the next one, carried out and not
// answered: the signal came between; the file is looked at every 5 ms) and
// until the program has ended, and how many slots the next start finds with their tag (their
// mode file, or the stop's pending file that start carries in first).
//   stop_bench [runs=5] [fsync delays, ms="0,100,300,600"] [controller]
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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
    double fileMs = -1;   // the parameter file holds the last change answered; -1: never
    double endMs = 0;
    int modes = 0;        // slots the next start finds with their tag
};

// The slot's file as the next start finds it: the stop's pending copy when it owes one.
Bytes slotAtNextStart(const std::string& root, int slot) {
    const Bytes owedFile = readFile(root + VlxRamPara::kOwedModesFile);
    std::vector<VlxRamPara::OwedMode> owed;
    if (VlxRamPara::readOwedModes(std::string(owedFile.begin(), owedFile.end()), &owed))
        for (const VlxRamPara::OwedMode& m : owed)
            if (m.slot == slot) return Bytes(m.image.begin(), m.image.end());
    return readFile(root + "/data/modes/custom_mode" + std::to_string(slot + 1));
}

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

Run runOnce(const char* program, int fsyncMs, bool pending, int n, int offset) {
    benchctl::Controller ctl;
    if (!ctl.start(program, "stop", offset) || ctl.waitForAnswer() < 0 || !panelUp(ctl.pid())) std::exit(1);
    const std::string delay = benchctl::boardCommand(ctl.root(), "fsync " + std::to_string(fsyncMs));
    if (delay.rfind("OK", 0) != 0) {
        std::fprintf(stderr, "fsync %d: %s\n", fsyncMs, delay.c_str());
        ctl.stop();
        std::exit(1);
    }
    const auto tag = [n](int slot) { return uint16_t(0x5A00 + 16 * (n % 16) + slot); };
    benchnet::Pc pc(ctl.tcpPort());
    bool ok = true;
    if (pending) {
        for (int slot = 0; slot < vlxram::kModeSlots; ++slot) {
            Bytes image(kTagAt + 2, 0);
            image[0] = image[1] = vlxram::kModeSaved;
            image[kTagAt] = uint8_t(tag(slot));
            image[kTagAt + 1] = uint8_t(tag(slot) >> 8);
            ok = ok && pc.write(uint32_t(slot + 1) << 12, image);
        }
        ok = ok && pc.reg(ctl::kRegUpdate, 0x04, 0x04);
        // the panel's notification is writing the files
        const std::string first = ctl.root() + "/data/modes/custom_mode1";
        for (const auto t0 = Clock::now(); ok && wordAt(readFile(first), kTagAt) != tag(0) && msSince(t0) < 20000;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!ok) std::fprintf(stderr, "a request was not answered \"done\"\n");
    // the stream: each value answered "done" is the last one the file must hold
    std::atomic<uint16_t> last{0};
    std::thread stream([&pc, &last] {
        for (uint16_t v = 0x1000;; v = uint16_t(v == 0xFFFF ? 0x1000 : v + 1)) {
            if (!pc.write(vlxram::kUnused302, {uint8_t(v), uint8_t(v >> 8)})) return;
            last = v;
            if (!pc.reg(ctl::kRegUpdate, 0x02, 0x02)) return;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string ramFile = ctl.root() + "/data/ram_device_info";
    const unsigned changeAt = 2 + vlxram::kUnused302 - vlxram::kSavedStart;
    // The file holds the last value answered, or the one after it: a write carried out when the
    // signal came, its answer not sent (an answer sent just before the signal may still move `last`).
    const auto holdsLast = [&] {
        const uint16_t v = last;
        return v != 0 && uint16_t(wordAt(readFile(ramFile), changeAt) - v) <= 1;
    };
    Run r;
    const auto t0 = Clock::now();
    ::kill(ctl.pid(), SIGTERM);
    for (;;) {
        const bool holds = holdsLast();
        if (!holds) r.fileMs = -1;
        else if (r.fileMs < 0) r.fileMs = msSince(t0);
        if (::waitpid(ctl.pid(), nullptr, WNOHANG) == ctl.pid()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.endMs = msSince(t0);
    stream.join();  // (its connection ended with the program)
    if (holdsLast()) {
        if (r.fileMs < 0) r.fileMs = r.endMs;
    } else {
        r.fileMs = -1;
    }
    for (int slot = 0; pending && slot < vlxram::kModeSlots; ++slot)
        r.modes += wordAt(slotAtNextStart(ctl.root(), slot), kTagAt) == tag(slot);
    ctl.stop();  // (ended already: removes the root)
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<int> delays;
    std::stringstream list(argc > 2 ? argv[2] : "0,100,300,600");
    for (std::string d; std::getline(list, d, ',');) delays.push_back(std::atoi(d.c_str()));
    const char* program = argc > 3 ? argv[3] : VLX_CONTROLLER;  // another build of the controller to compare
    const int offset = benchenv::portOffset(36000 + int(getpid() % 500) * 20);
    std::printf("| slots pending | fsync +ms | stop ends, ms (median, max) | file holds the last change, ms (median, "
                "max) | kept under a kill 2 s after SIGTERM | slots kept of 16 at the next start (min-max) |\n"
                "|---|---|---|---|---|---|\n");
    for (const bool pending : {false, true}) {
        for (int d : delays) {
            std::vector<double> ends, files;
            int keptUnderKill = 0, minModes = 16, maxModes = 0;
            for (int n = 0; n < runs; ++n) {
                const Run r = runOnce(program, d, pending, n, offset);
                ends.push_back(r.endMs);
                files.push_back(r.fileMs < 0 ? 1e9 : r.fileMs);
                keptUnderKill += r.fileMs >= 0 && r.fileMs < 2000;
                minModes = std::min(minModes, r.modes);
                maxModes = std::max(maxModes, r.modes);
                std::fprintf(stderr, "%s, fsync +%d ms, run %d: file %.0f ms, end %.0f ms, %d slots\n",
                             pending ? "16 pending" : "none pending", d, n + 1, r.fileMs, r.endMs, r.modes);
            }
            std::printf("| %s | %d | %.0f, %.0f | %.0f, %.0f | %d of %d | %s |\n", pending ? "16" : "0", d,
                        percentile(ends, 0.5), percentile(ends, 1.0), percentile(files, 0.5), percentile(files, 1.0),
                        keptUnderKill, runs,
                        pending ? (std::to_string(minModes) + "-" + std::to_string(maxModes)).c_str() : "-");
            std::fflush(stdout);
        }
    }
    return 0;
}
