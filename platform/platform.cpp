#include "platform/platform.h"
#include "platform/lock_check.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

namespace plat {

namespace {
std::once_flag g_envOnce;
// Read by every worker thread; tests change them between cases.
std::atomic<Board> g_board{
#if defined(__x86_64__) || defined(__i386__)
    Board::Sim
#else
    Board::Device
#endif
};
std::string g_root;   // set by start-up (setRoot) before any thread, read-only after
std::atomic<double> g_sleepScale{1.0};
std::atomic<SleepHook> g_sleepHook{nullptr};
std::atomic<int64_t> g_wallOffset{0};
}  // namespace

void initFromEnvironment() {
    std::call_once(g_envOnce, [] {
        if (const char* b = std::getenv("VLX_BOARD")) {
            if (std::strcmp(b, "device") == 0) g_board = Board::Device;
            else if (std::strcmp(b, "sim") == 0) g_board = Board::Sim;
            else std::fprintf(stderr, "VLX_BOARD=%s is neither sim nor device; staying on the %s board\n", b, boardName());
        }
        if (const char* r = std::getenv("VLX_ROOT")) setRoot(r);
    });
}

Board board() { return g_board; }
const char* boardName() { return g_board.load() == Board::Sim ? "sim" : "device"; }
void setBoard(Board b) { g_board = b; }

const std::string& root() { return g_root; }

void setRoot(const std::string& dir) {
    g_root = dir;
    while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
    if (g_root == "/") g_root.clear();
}

std::string path(const std::string& absolute) {
    if (absolute.empty() || absolute[0] != '/') return absolute;  // relative paths stay relative
    return g_root + absolute;
}

std::string unroot(const std::string& p) {
    if (g_root.empty()) return p;
    if (p.compare(0, g_root.size(), g_root) != 0) return "";
    if (p.size() == g_root.size()) return "/";
    if (p[g_root.size()] != '/') return "";
    return p.substr(g_root.size());
}

bool folderInsideRoot(const std::string& hostDir) {
    if (g_root.empty()) return true;
    char* dir = ::realpath(hostDir.c_str(), nullptr);
    char* top = ::realpath(g_root.c_str(), nullptr);
    bool inside = false;
    if (dir && top) {
        const std::string d = dir, t = top;
        inside = d == t || (d.size() > t.size() && d.compare(0, t.size(), t) == 0 && (t == "/" || d[t.size()] == '/'));
    }
    std::free(dir);
    std::free(top);
    return inside;
}

bool makeDirs(const std::string& absolute) {
    std::string full = path(absolute);
    for (size_t i = 1; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == '/') {
            std::string part = full.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

std::time_t timeOfDay() {
    const std::time_t host = std::time(nullptr);
    return g_board.load() == Board::Sim ? host + static_cast<std::time_t>(g_wallOffset.load()) : host;
}

bool lockRoot(std::string* why) {
    const std::string rootName = g_root.empty() ? "/" : g_root;
    const std::string file = path("/run/vlxH71N.lock");
    makeDirs("/run");
    // kept open for the process's life; children do not inherit it
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why) *why = "cannot open " + file + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (why)
            *why = e == EWOULDBLOCK ? "another controller runs on the root " + rootName + " (it holds " + file + ")"
                                    : "cannot lock " + file + ": " + std::strerror(e);
        return false;
    }
    return true;
}

void setWallClockOffset(int64_t seconds) { g_wallOffset = seconds; }
int64_t wallClockOffset() { return g_wallOffset; }

void sleepUs(uint64_t us) {
    if (us > 0) lockcheck::waitPoint(Wait::Sleep);   // a yield waits for nobody
    if (SleepHook hook = g_sleepHook.load()) {
        hook(us);
        return;
    }
    double scaled = static_cast<double>(us) * g_sleepScale.load();
    if (scaled < 1.0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<uint64_t>(scaled)));
}

void setSleepScale(double scale) { g_sleepScale = scale < 0 ? 0 : scale; }
double sleepScale() { return g_sleepScale; }
void setSleepHook(SleepHook hook) { g_sleepHook = hook; }

void workerPace(uint64_t us) {
    lockcheck::waitPoint(Wait::Sleep);
    // Worker loops must not spin a core even when tests shorten sleeps.
    uint64_t scaled = static_cast<uint64_t>(static_cast<double>(us) * g_sleepScale.load());
    std::this_thread::sleep_for(std::chrono::microseconds(scaled < 50 ? 50 : scaled));
}

void nameThisThread(const char* name) {
    char cut[16];
    std::snprintf(cut, sizeof cut, "%s", name);
    ::pthread_setname_np(::pthread_self(), cut);
}

}  // namespace plat
