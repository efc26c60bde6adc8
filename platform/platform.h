#pragma once
// The one place that knows which board we run on and where the file system root is.
// Every absolute path of the system (/data, /etc, /mnt/usb1, /proc/scsi, /dev) is taken
// under root(), so a test or a simulated run uses its own folder.
#include <cstdint>
#include <ctime>
#include <string>

namespace plat {

enum class Board { Sim, Device };

// Reads VLX_BOARD (sim|device) and VLX_ROOT once; safe to call again.
void initFromEnvironment();
Board board();
const char* boardName();
void setBoard(Board b);

// Root folder ("" means "/"). path("/data/x") -> "<root>/data/x".
const std::string& root();
void setRoot(const std::string& dir);
std::string path(const std::string& absolute);
// Inverse of path(): strips the root prefix; returns "" when p lies outside the root.
std::string unroot(const std::string& p);
// True when the folder `hostDir` (a path on this machine) resolves, links followed, to
// the root or a folder below it. Always true when the root is "/".
bool folderInsideRoot(const std::string& hostDir);
// Creates the folder and its parents under the root (mkdir -p).
bool makeDirs(const std::string& absolute);
// One controller per root: an exclusive lock on <root>/run/vlxH71N.lock, held until the
// process ends. False, with `why` naming the root, when another process holds it.
bool lockRoot(std::string* why);

// The controller's time of day: what schedules, logs and clock records read. The
// kernel's clock on the device; on the simulated board the PC's clock plus the board's
// offset, which `date -s` on the simulated shell, tests and board control set (the
// PC's own clock is never changed).
std::time_t timeOfDay();
void setWallClockOffset(int64_t seconds);
int64_t wallClockOffset();

// Every sleep of the system goes through here so tests can shorten them.
// scale 1.0 = real time, 0 = no sleep at all.
void sleepUs(uint64_t us);
inline void sleepMs(uint64_t ms) { sleepUs(ms * 1000); }
void setSleepScale(double scale);
double sleepScale();
// For benchmarks and tests that step the simulated board's clock on one thread: every
// sleep is handed to `hook` (microseconds, unscaled) instead of slept, so the hook can
// pass it as board time and the chip models see the waits go by as on the device.
// nullptr sleeps again.
using SleepHook = void (*)(uint64_t us);
void setSleepHook(SleepHook hook);
// A fixed pause of a worker loop: gives up the CPU for `us` microseconds, scaled like
// the sleeps but never below 50 us, so a loop never spins a core when tests shorten
// sleeps. A loop that polls for work paces itself with plat::WorkerPacer
// (worker_pacer.h) instead; one that waits for a descriptor blocks on it.
void workerPace(uint64_t us);

// A fixed start-up wait for the hardware to settle (3 s before the singletons, 2 s before
// the FPGA thread). Real time on the device, scaled like the sleeps; on the simulated
// board it passes as board time: the clock is stepped through it, so the chip models
// see it go by and the start goes on at once.
void hardwareWaitMs(uint64_t ms);

// Names the calling thread after its subsystem (at most 15 characters, cut beyond), so
// `top -H` and a per-thread CPU figure tell the loops apart.
void nameThisThread(const char* name);

}  // namespace plat
