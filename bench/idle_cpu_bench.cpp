// The controller on the simulated board, started as ./run.sh starts it (offscreen, a
// fresh root): the time from launch to its first answered control frame, then its idle
// CPU use per named thread, measured in the same window as two floors in this program:
// a bare thread that wakes every 10 ms and does nothing, and a bare Qt event loop with a
// 10 ms timer that does nothing (what the controller's GUI thread pays for its tick). The
// controller is reported against both.
// Not a timed test: run it by hand and copy the figures into docs/performance.md.
//
//   idle_cpu_bench [SECONDS]        (20 by default)
//
// The controller gets this program's environment without its VLX_* variables, except
// VLX_PORT_OFFSET (its control ports); its root is made under TMPDIR.
#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_controller.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ThreadUse {
    std::string name;
    double cpu = 0;           // seconds on a core
    unsigned long long runs = 0;  // times it was put on a core (wake-ups)
};

// Every thread of a process: CPU time and wake-ups so far (/proc/PID/task/TID/schedstat).
std::map<int, ThreadUse> threadsOf(pid_t pid) {
    std::map<int, ThreadUse> out;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        ThreadUse u;
        std::ifstream comm(dir + "/" + e->d_name + "/comm");
        std::getline(comm, u.name);
        std::ifstream stat(dir + "/" + e->d_name + "/schedstat");
        unsigned long long ns = 0, wait = 0;
        if (!(stat >> ns >> wait >> u.runs)) continue;
        u.cpu = static_cast<double>(ns) / 1e9;
        out[std::atoi(e->d_name)] = u;
    }
    ::closedir(d);
    return out;
}

double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    benchctl::Controller ctl;
    if (!ctl.start(VLX_CONTROLLER, "idle", benchenv::portOffset(0))) return 1;
    const pid_t pid = ctl.pid();
    auto finish = [&](int code) {
        ctl.stop();
        return code;
    };
    const double startSeconds = ctl.waitForAnswer();
    if (startSeconds < 0) return finish(1);
    std::printf("launch to the first answered control frame (TCP %d): %.3f s\n", ctl.tcpPort(), startSeconds);
    // its floor: the same program launched on the same root, loaded and stopped at the root's lock
    std::vector<double> floors;
    for (int k = 0; k < 5; ++k) floors.push_back(ctl.refusedLaunchSeconds(VLX_CONTROLLER));
    std::sort(floors.begin(), floors.end());
    if (floors[2] > 0)
        std::printf("launch floor, the program loaded and stopped at the root's lock (median of 5): %.3f s; "
                    "launch / floor %.2f\n",
                    floors[2], startSeconds / floors[2]);

    // The scaler and both FPGAs come up within a few seconds of the start; then idle.
    std::this_thread::sleep_for(std::chrono::seconds(10));
    std::atomic<bool> stop{false};
    double bareCpu = 0;
    unsigned long long bareRuns = 0;
    std::thread bare([&] {
        const double start = threadCpuSeconds();
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ++bareRuns;
        }
        bareCpu = threadCpuSeconds() - start;
    });
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QTimer tick;
    unsigned long long qtTicks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++qtTicks; });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    tick.start(10);
    const std::map<int, ThreadUse> before = threadsOf(pid);
    const auto w0 = Clock::now();
    const double qt0 = threadCpuSeconds();
    app.exec();
    const double qtCpu = threadCpuSeconds() - qt0;
    const std::map<int, ThreadUse> after = threadsOf(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    stop = true;
    bare.join();

    std::printf("idle over %d s, percent of one core (%u cores, load %s)\n", seconds, std::thread::hardware_concurrency(),
                [] {
                    static char load[32] = "?";
                    std::ifstream in("/proc/loadavg");
                    std::string s;
                    if (in >> s) std::snprintf(load, sizeof load, "%s", s.c_str());
                    return load;
                }());
    std::printf("  %-16s %8s %11s\n", "thread", "CPU %", "wake-ups/s");
    double total = 0, totalRuns = 0, workers = 0;
    for (const auto& [tid, a] : after) {
        const auto b = before.find(tid);
        const double cpu = a.cpu - (b == before.end() ? 0 : b->second.cpu);
        const double runs = double(a.runs - (b == before.end() ? 0 : b->second.runs));
        total += cpu;
        totalRuns += runs;
        if (tid != pid) workers += cpu;  // all but the GUI thread
        std::printf("  %-16s %8.3f %11.1f\n", a.name.c_str(), cpu * 100.0 / wall, runs / wall);
    }
    const double controller = total * 100.0 / wall;
    const double floor = bareCpu * 100.0 / wall;
    std::printf("  %-16s %8.3f %11.1f\n", "controller", controller, totalRuns / wall);
    std::printf("  %-16s %8.3f %11.1f   (a bare thread waking every 10 ms, same window)\n", "bare 100 Hz", floor,
                double(bareRuns) / wall);
    std::printf("  %-16s %8.3f %11.1f   (a bare Qt event loop with a 10 ms timer, same window)\n", "bare Qt tick",
                qtCpu * 100.0 / wall, double(qtTicks) / wall);
    const double qtFloor = qtCpu * 100.0 / wall;
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("controller / bare Qt tick: %.2f (the floor the 10 ms tick allows)\n", ratio(controller, qtFloor));
    std::printf("controller / bare 100 Hz wake-up: %.2f (goal: 2 or less); every thread but the GUI thread / bare "
                "100 Hz wake-up: %.2f; bare Qt tick / bare wake-up: %.2f\n",
                ratio(controller, floor), ratio(workers * 100.0 / wall, floor), ratio(qtFloor, floor));
    return finish(0);
}
