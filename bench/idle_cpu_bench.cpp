// Idle CPU use of the controller on the simulated board, and of the worker loops the
// controller is growing, paced the old way (a fixed 50 us pause per pass, as every loop
// of the device sleeps 1 us) and the new way (polling loops with plat::WorkerPacer,
// loops that wait for a socket or a device blocked on it). Not a timed test: run it by
// hand on a quiet machine and copy the figures into docs/performance.md.
//
//   idle_cpu_bench [SECONDS]        (20 by default, per figure)
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
#include "core/utils.h"
#include "platform/worker_pacer.h"

extern char** environ;

namespace {

// CPU time of every thread of a process so far, in seconds.
double processCpuSeconds(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return -1;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + e->d_name + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns) total += static_cast<double>(ns) / 1e9;
    }
    ::closedir(d);
    return total;
}

// The controller binary on the simulated board, offscreen, in a root of its own.
double controllerIdlePercent(int seconds) {
    char tmpl[] = "/tmp/vlx-idle-XXXXXX";
    const char* root = ::mkdtemp(tmpl);
    if (!root) return -1;
    std::vector<std::string> env = {"VLX_BOARD=sim", std::string("VLX_ROOT=") + root, "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "VLX_", 4) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(VLX_CONTROLLER), nullptr};
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, VLX_CONTROLLER, &quiet, nullptr, argv, envp.data());
    ::posix_spawn_file_actions_destroy(&quiet);
    double percent = -1;
    if (rc == 0) {
        // the 3 s start-up wait, the FPGA engine's 2 s, the scaler and both FPGAs coming up (~5 s)
        std::this_thread::sleep_for(std::chrono::seconds(14));
        const double before = processCpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double after = processCpuSeconds(pid);
        if (before >= 0 && after >= before) percent = (after - before) * 100.0 / seconds;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    } else {
        std::fprintf(stderr, "cannot start %s: %s\n", VLX_CONTROLLER, std::strerror(rc));
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return percent;
}

// One idle pass of a worker: its request flags and its tick time-outs, nothing due.
std::atomic<int> g_request{0};
bool idlePass(uint32_t since) { return g_request.load() != 0 || Utils::getTimeSpace(since) > 200; }

double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

enum class Pace { Old, New };

// The eleven loops of the finished controller. On the device every one passes every 1 us
// (the WiFi start-up thread and the two WiFi-port UDP threads every 1 ms). Paced anew,
// the input-source, FPGA and C331 manager loops and the WiFi start-up thread poll with
// a pacer; the UDP ports, the two serial links, the TCP server and the uevent listener
// wait for their descriptors.
double loopsIdlePercent(Pace pace, int seconds) {
    struct Loop {
        uint64_t us;
        bool waitsForDescriptor;
    };
    const std::vector<Loop> loops = {{1, false}, {1, false},    {1, false},    {1000, false},
                                     {1, true},  {1000, true},  {1000, true},  {1, true},
                                     {1, true},  {1, true},     {1, true}};
    std::atomic<bool> stop{false};
    std::vector<double> cpu(loops.size(), 0);
    int quiet[2];
    if (::pipe(quiet) != 0) return -1;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < loops.size(); ++i) {
        threads.emplace_back([&, i] {
            const Loop loop = loops[i];
            const uint32_t since = G_timeTicks.load();
            plat::WorkerPacer pacer(loop.us);
            const double start = threadCpuSeconds();
            while (!stop.load()) {
                const bool work = idlePass(since);
                if (pace == Pace::Old) {
                    std::this_thread::sleep_for(std::chrono::microseconds(loop.us < 50 ? 50 : loop.us));
                } else if (loop.waitsForDescriptor) {
                    char c;
                    (void)!::read(quiet[0], &c, 1);  // nothing arrives until the end
                } else {
                    pacer.pass(work);
                }
            }
            cpu[i] = threadCpuSeconds() - start;
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    (void)!::write(quiet[1], std::string(loops.size(), 'x').data(), loops.size());
    for (auto& t : threads) t.join();
    ::close(quiet[0]);
    ::close(quiet[1]);
    double total = 0;
    for (double c : cpu) total += c;
    return total * 100.0 / seconds;
}

// What the machine charges for waking a thread 100 times a second and doing nothing:
// the floor under the controller's 10 ms tick.
double bareTickPercent(int seconds) {
    const double start = threadCpuSeconds();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return (threadCpuSeconds() - start) * 100.0 / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::printf("idle CPU over %d s, percent of one core (%u cores, load %s)\n", seconds,
                std::thread::hardware_concurrency(), [] {
                    static char load[32] = "?";
                    std::ifstream in("/proc/loadavg");
                    std::string s;
                    if (in >> s) std::snprintf(load, sizeof load, "%s", s.c_str());
                    return load;
                }());
    std::printf("a bare thread waking every 10 ms (floor of the tick):      %6.2f %%\n", bareTickPercent(seconds));
    const double controller = controllerIdlePercent(seconds);
    std::printf("controller on the simulated board (its loops of today):  %6.2f %%\n", controller);
    const double oldLoops = loopsIdlePercent(Pace::Old, seconds);
    std::printf("eleven worker loops, fixed 50 us / 1 ms pause:             %6.2f %%\n", oldLoops);
    const double newLoops = loopsIdlePercent(Pace::New, seconds);
    std::printf("eleven worker loops, WorkerPacer / blocked on descriptor:  %6.2f %%\n", newLoops);
    std::printf("controller with all eleven, new pacing (sum):              %6.2f %%\n", controller + newLoops);
    return controller < 0 ? 1 : 0;
}
