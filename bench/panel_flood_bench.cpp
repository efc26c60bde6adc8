// The front panel while a PC sends as fast as it gets replies. The controller program runs on the
// simulated board as ./run.sh starts it, three times afresh: with no PC (the floor), with a PC
// writing register 0xA3 (a scaler dump request, one manager pass each), and with a PC writing a
// RAM word and applying it with register 11. In each run, after a warm-up of the PC's stream:
// screenshots on the lock screen (the PC's read of file kind 7, timed from the read start to its
// answer); touches (board control) through the home and settings screens to the picture-quality
// screen; then touches on its brightness - and + buttons, each timed from the touch to the RAM word
// the button stores, read by a second PC. The controller's RSS at the stream's start, after the
// warm-up and at the end, and the time SIGTERM takes to end it with the PC still sending.
#include <QByteArray>
#include <QImage>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_controller.h"
#include "bench_net.h"
#include "bench_stats.h"
#include "core/vlxrampara.h"
#include "protocol/control_frame.h"
#include "protocol/protocol_phy.h"

namespace {

using Clock = std::chrono::steady_clock;
using benchstats::msSince;
using benchstats::percentile;

// A PC on the TCP link: one request, then its answer.
class Pc {
public:
    explicit Pc(int port, int timeoutS = 40) : fd_(benchnet::connectTo(port)) {
        timeval tv{timeoutS, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Pc() { ::close(fd_); }
    // The answer's frame, empty when none came.
    std::vector<uint8_t> ask(uint8_t group, const std::vector<uint8_t>& payload) {
        const std::vector<uint8_t> line = benchnet::lineOf(group, payload);
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return {};
        std::vector<uint8_t> frame;
        while (frame.empty()) {
            uint8_t buf[65536];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return {};
            deframer_.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) { frame.assign(f, f + len); });
        }
        return frame;
    }
    static uint8_t status(const std::vector<uint8_t>& f) { return f.size() > ctl::kPayload ? f[ctl::kPayload] : 0xEE; }

private:
    int fd_;
    frame_deframer deframer_{ctl::kMaxFrame};
};

// One screenshot: the read start's answer time in *ms, the picture in *image (null when refused).
bool screenshot(Pc& pc, double* ms, QImage* image) {
    const auto t0 = Clock::now();
    const std::vector<uint8_t> head = pc.ask(ctl::kGroupReadFileStart, {7, 0});
    *ms = msSince(t0);
    *image = QImage();
    if (Pc::status(head) != ctl::kStatusOk || head.size() < ctl::kPayload + 5) return false;
    const uint32_t size = ctl::rd32(head.data() + ctl::kPayload + 1);
    QByteArray png;
    while (uint32_t(png.size()) < size) {
        const uint32_t at = uint32_t(png.size());
        const uint16_t n = uint16_t(std::min<uint32_t>(size - at, 61440));
        const std::vector<uint8_t> block = pc.ask(ctl::kGroupReadFileBlock, {uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16),
                                                                             uint8_t(at >> 24), uint8_t(n), uint8_t(n >> 8)});
        if (Pc::status(block) != ctl::kStatusOk || block.size() <= ctl::kPayload + 2) break;
        png.append(reinterpret_cast<const char*>(block.data() + ctl::kPayload + 1), int(block.size() - ctl::kPayload - 2));
    }
    pc.ask(ctl::kGroupReadFileEnd, {});
    return image->loadFromData(png, "PNG");
}

long rssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

enum class Load { None, DumpRequests, RamApplies };
const char* kLoadNames[] = {"no PC (floor)", "PC writing 0xA3", "PC writing RAM + register 11"};

// A PC sending `load` as fast as the answers come, until `stop`; its request count in *sent.
void pcStream(int port, Load load, const std::atomic<bool>& stop, std::atomic<long>* sent) {
    Pc pc(port, 5);
    for (int i = 0; !stop; ++i) {
        std::vector<uint8_t> f;
        if (load == Load::DumpRequests) {
            f = pc.ask(ctl::kGroupWriteRegisters, {uint8_t(ctl::kRegDebugA3), 0, 0xFF, 1});
        } else {
            const uint16_t contrast = i % 2 ? 40 : 60;
            f = pc.ask(ctl::kGroupWriteMemory, {uint8_t(vlxram::kContrast), uint8_t(vlxram::kContrast >> 8), 0, 0, 2, 0, 0, 0,
                                                uint8_t(contrast), 0});
            if (!f.empty()) f = pc.ask(ctl::kGroupWriteRegisters, {uint8_t(ctl::kRegUpdate), 0, 0x02, 0x02});
        }
        if (f.empty()) return;  // the controller ended
        ++*sent;
    }
}

struct Run {
    std::vector<double> shots, touches;
    int refused = 0, unseen = 0;
    long rssStart = -1, rssWarm = -1, rssEnd = -1;
    double requestsPerS = 0, stopMs = -1;
};

// The RAM word at `address` as a PC reads it; -1 when unanswered.
int ramWord(Pc& pc, unsigned address) {
    const std::vector<uint8_t> f =
        pc.ask(ctl::kGroupReadMemory, {uint8_t(address), uint8_t(address >> 8), 0, 0, 2, 0});
    if (Pc::status(f) != ctl::kStatusOk || f.size() < ctl::kPayload + 4) return -1;
    return f[ctl::kPayload + 1] | f[ctl::kPayload + 2] << 8;
}

// Panel places of the screens' buttons (their forms' geometry).
constexpr int kHomeSettings[2] = {205, 402};
constexpr int kSettingsPicture[2] = {108, 366};
constexpr int kBrightnessAdd[2] = {622, 124};
constexpr int kBrightnessReduce[2] = {738, 124};

Run runOnce(const char* program, Load load, int shots, int touches, int warmS, int offset) {
    Run r;
    benchctl::Controller ctl;
    if (!ctl.start(program, "flood", offset) || ctl.waitForAnswer() < 0) std::exit(1);
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::thread stream;
    r.rssStart = rssKb(ctl.pid());
    if (load != Load::None) stream = std::thread(pcStream, ctl.tcpPort(), load, std::cref(stop), &sent);
    const auto streamStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(warmS));
    r.rssWarm = rssKb(ctl.pid());

    Pc pc(ctl.tcpPort());
    QImage shown;
    auto shot = [&](QImage* image) {
        double ms = 0;
        if (!screenshot(pc, &ms, image)) ++r.refused;
        r.shots.push_back(ms);
        return !image->isNull();
    };
    for (int n = 0; n < shots; ++n) shot(&shown);
    auto touch = [&](const int at[2]) {
        benchctl::boardCommand(ctl.root(), "touch " + std::to_string(at[0]) + " " + std::to_string(at[1]));
    };
    // A touch that changes the screen: screenshots until it shows (at most 30 s).
    auto navigate = [&](const int at[2]) {
        const QImage before = shown;
        const auto t0 = Clock::now();
        touch(at);
        while (msSince(t0) < 30000)
            if (shot(&shown) && shown != before) return true;
        return false;
    };
    const int anywhere[2] = {400, 240};
    if (!navigate(anywhere) || !navigate(kHomeSettings) || !navigate(kSettingsPicture)) {
        std::fprintf(stderr, "%s: the picture-quality screen did not come\n", kLoadNames[int(load)]);
        ++r.unseen;
    }
    // A button that stores a word: the PC reads it until it changes (at most 30 s).
    for (int n = 0; n < touches && r.unseen == 0; ++n) {
        const int before = ramWord(pc, vlxram::kBrightness);
        const auto t0 = Clock::now();
        touch(n % 2 ? kBrightnessAdd : kBrightnessReduce);  // - first: the word may start at its top
        bool seen = false;
        while (!seen && msSince(t0) < 30000) seen = ramWord(pc, vlxram::kBrightness) != before;
        if (seen)
            r.touches.push_back(msSince(t0));
        else
            ++r.unseen;
    }
    r.rssEnd = rssKb(ctl.pid());
    r.requestsPerS = double(sent) / std::chrono::duration<double>(Clock::now() - streamStart).count();

    // SIGTERM with the PC still sending: the time to the program's end (SIGKILL after 60 s).
    const auto t0 = Clock::now();
    ::kill(ctl.pid(), SIGTERM);
    for (;;) {
        if (::waitpid(ctl.pid(), nullptr, WNOHANG) == ctl.pid()) {
            r.stopMs = msSince(t0);
            break;
        }
        if (msSince(t0) > 60000) {
            ::kill(ctl.pid(), SIGKILL);
            ::waitpid(ctl.pid(), nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    if (stream.joinable()) stream.join();
    ctl.stop();  // the root goes
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int shots = argc > 1 ? std::atoi(argv[1]) : 20;
    const int touches = argc > 2 ? std::atoi(argv[2]) : 20;
    const int warmS = argc > 3 ? std::atoi(argv[3]) : 10;
    const char* program = argc > 4 ? argv[4] : VLX_CONTROLLER;  // another build of the controller to compare
    const int offset = benchenv::portOffset(36000 + int(getpid() % 500) * 20);
    Run runs[3];
    for (int k = 0; k < 3; ++k) {
        runs[k] = runOnce(program, Load(k), shots, touches, warmS, offset);
        std::fprintf(stderr, "%s: done\n", kLoadNames[k]);
    }
    const double shotFloor = percentile(runs[0].shots, 0.9), touchFloor = percentile(runs[0].touches, 0.9);
    std::printf("| load | PC requests/s | screenshots (refused) | p50 ms | p90 ms | p90 / floor | touches (unseen) | p50 ms | "
                "p90 ms | p90 / floor | RSS at start / after warm-up / end MB | SIGTERM to end ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int k = 0; k < 3; ++k) {
        const Run& r = runs[k];
        const double s90 = percentile(r.shots, 0.9), t90 = percentile(r.touches, 0.9);
        std::printf("| %s | %.0f | %zu (%d) | %.1f | %.1f | %.2f | %zu (%d) | %.1f | %.1f | %.2f | %.1f / %.1f / %.1f | %.0f |\n",
                    kLoadNames[k], r.requestsPerS, r.shots.size(), r.refused, percentile(r.shots, 0.5), s90,
                    shotFloor > 0 ? s90 / shotFloor : 0, r.touches.size(), r.unseen, percentile(r.touches, 0.5), t90,
                    touchFloor > 0 ? t90 / touchFloor : 0, double(r.rssStart) / 1024, double(r.rssWarm) / 1024,
                    double(r.rssEnd) / 1024, r.stopMs);
    }
    return 0;
}
