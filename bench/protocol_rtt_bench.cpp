// Control-protocol benchmark (not a test): request -> reply round trip of a controller
// register read over loopback TCP beside a bare echo server, the two timed in alternate
// batches; the same round trip of a second client while another client bursts file-block
// reads and never reads a reply; frames per second with 1 and 8 clients; and the process's
// CPU use while every transport (TCP, UDP, both serial lines) sits idle. It says on which
// CPUs the busy threads ran. Then, against the controller program on the simulated board
// (engines and all), another client's worst answer beside receiving-card pass-throughs on
// three links and beside a whole-flash erase of the C331. VLX_PORT_OFFSET moves its ports,
// TMPDIR holds its roots.
//
//   build-bench/bench/protocol_rtt_bench [round-trips]
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_controller.h"
#include "bench_env.h"
#include "bench_net.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "protocol/control_frame.h"
#include "protocol/networkmanage.h"
#include "protocol/protocol_phy.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"

namespace {
using benchnet::connectTo;
using benchnet::lineOf;
using benchnet::lineOfFrame;
using Clock = std::chrono::steady_clock;

// The bare floor: a thread per connection that sends back what it reads.
class EchoServer {
public:
    EchoServer() {
        fd_ = benchnet::listenLoopback(&port_);
        std::thread([this] {
            for (int c; (c = ::accept(fd_, nullptr, nullptr)) >= 0;) {
                const int one = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                std::thread([c] {
                    pthread_setname_np(pthread_self(), "echo");
                    char buf[4096];
                    for (ssize_t n; (n = ::recv(c, buf, sizeof buf, 0)) > 0;)
                        if (::send(c, buf, size_t(n), MSG_NOSIGNAL) != n) break;
                    ::close(c);
                }).detach();
            }
        }).detach();
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};


std::vector<uint8_t> registerReadLine() { return lineOf(ctl::kGroupReadRegisters, {11, 0, 1, 0}); }

// One request and its reply frame (controller) or the same bytes back (echo).
bool roundTrip(int fd, const std::vector<uint8_t>& req, bool echo, frame_deframer& d) {
    if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) != ssize_t(req.size())) return false;
    uint8_t buf[4096];
    size_t got = 0;
    bool frame = false;
    while (echo ? got < req.size() : !frame) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got += size_t(n);
        if (!echo) d.feed(buf, size_t(n), [&](const uint8_t*, size_t) { frame = true; });
    }
    return true;
}

struct Percentiles {
    double p50, p99;
};

Percentiles percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Round trips on one connection, each in microseconds.
void timeRoundTrips(int fd, bool echo, int count, std::vector<double>* us) {
    static const auto req = registerReadLine();
    frame_deframer d(ctl::kMaxFrame);
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        if (!roundTrip(fd, req, echo, d)) std::exit(2);
        if (us) us->push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
}

struct Interleaved {
    Percentiles echo, controller;
    double ratio;  // median over the batches of controller p50 / echo p50
    int batches;
};

// Echo and controller in alternate batches, so that a change in the machine's load
// falls on both alike.
Interleaved measureInterleaved(int echoPort, int port, int count, const std::function<void()>& afterBatch) {
    constexpr int kBatch = 500;
    const int e = connectTo(echoPort), c = connectTo(port);
    timeRoundTrips(e, true, 1000, nullptr);
    timeRoundTrips(c, false, 1000, nullptr);
    std::vector<double> allE, allC, ratios;
    for (int done = 0; done < count; done += kBatch) {
        std::vector<double> be, bc;
        timeRoundTrips(e, true, kBatch, &be);
        timeRoundTrips(c, false, kBatch, &bc);
        ratios.push_back(median(bc) / median(be));
        afterBatch();
        allE.insert(allE.end(), be.begin(), be.end());
        allC.insert(allC.end(), bc.begin(), bc.end());
    }
    ::close(e);
    ::close(c);
    return {percentiles(allE), percentiles(allC), median(ratios), int(ratios.size())};
}

// A client with a 4 KiB receive buffer that starts a file read, sends 300 block reads of
// 61,440 bytes in one burst and never reads; returns once the controller's replies have
// filled its window.
int startNonReader(int port) {
    std::ofstream(plat::path("/data/configs/alias.json"), std::ios::binary) << std::string(61440, 'a');
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    auto burst = lineOf(ctl::kGroupReadFileStart, {4, 0});
    const auto block = lineOf(ctl::kGroupReadFileBlock, {0, 0, 0, 0, 0x00, 0xF0});
    for (int i = 0; i < 300; ++i) burst.insert(burst.end(), block.begin(), block.end());
    if (::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) != ssize_t(burst.size())) std::exit(2);
    for (int n = 0; ::ioctl(fd, FIONREAD, &n) == 0 && n < 2048;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the controller fills its side too
    return fd;
}

double framesPerSecond(int port, int clients, double seconds) {
    std::atomic<long> frames{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> t;
    for (int c = 0; c < clients; ++c) {
        t.emplace_back([&] {
            const int fd = connectTo(port);
            const auto req = registerReadLine();
            frame_deframer d(ctl::kMaxFrame);
            while (!stop)
                if (roundTrip(fd, req, false, d)) ++frames;
            ::close(fd);
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& th : t) th.join();
    return double(frames) / seconds;
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct ThreadUse {
    std::string name;
    int cpu = -1;  // the CPU it last ran on
    double seconds = 0;
};

// Every thread of the process: name, last CPU, CPU time (from /proc/self/task).
std::map<int, ThreadUse> threadUse() {
    std::map<int, ThreadUse> out;
    const double tck = double(::sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream in(e.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::vector<std::string> f;
        for (std::string w; rest >> w;) f.push_back(w);
        if (f.size() < 37) continue;
        ThreadUse t;
        t.name = stat.substr(open + 1, close - open - 1);
        t.seconds = (std::stod(f[11]) + std::stod(f[12])) / tck;  // utime, stime
        t.cpu = std::stoi(f[36]);
        out[std::stoi(e.path().filename().string())] = t;
    }
    return out;
}

// Where the threads ran: the CPUs each was seen on, sampled after every batch (a thread
// that has ended keeps its last sample).
class ThreadWatch {
public:
    ThreadWatch() : first_(threadUse()), start_(Clock::now()) {}
    void sample() {
        for (const auto& [tid, t] : threadUse()) {
            last_[tid] = t;
            cpus_[tid].insert(t.cpu);
        }
        end_ = Clock::now();
    }
    // The threads that used at least 1 % of one core between the first and last sample.
    std::string report() const {
        const double wall = std::chrono::duration<double>(end_ - start_).count();
        std::string s;
        for (const auto& [tid, t] : last_) {
            const auto b = first_.find(tid);
            const double used = t.seconds - (b == first_.end() ? 0 : b->second.seconds);
            if (used < 0.01 * wall) continue;
            std::string list;
            for (int cpu : cpus_.at(tid)) list += (list.empty() ? "" : ",") + std::to_string(cpu);
            char part[200];
            std::snprintf(part, sizeof part, "%s%s (%d): CPUs %s, %.0f %% of one core", s.empty() ? "" : "; ", t.name.c_str(), tid,
                          list.c_str(), used / wall * 100);
            s += part;
        }
        return s;
    }

private:
    std::map<int, ThreadUse> first_, last_;
    Clock::time_point start_, end_;
    std::map<int, std::set<int>> cpus_;
};

// ---- beside long commands, against the controller program

// The PC's frame for the receiving cards (destination below 0xF000) on port 5 of the first
// FPGA, where the simulated board has no cards: each waits out its 0.8 s.
std::vector<uint8_t> cardLine() { return lineOfFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x05, 0x00, 0x61, 0, 0, 0, 0}); }

struct Answers {
    std::vector<double> ms;
    double p99() const { return ms.empty() ? 0 : percentiles(ms).p99; }
    double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

// Device information asked in a closed loop on a connection of its own until `stop`.
std::thread askDeviceInfo(int port, const std::atomic<bool>& stop, Answers* out) {
    return std::thread([port, &stop, out] {
        const int fd = connectTo(port);
        const auto req = lineOf(ctl::kGroupDeviceInfo, {});
        frame_deframer d(ctl::kMaxFrame);
        while (!stop) {
            const auto t0 = Clock::now();
            if (!roundTrip(fd, req, false, d)) std::exit(3);
            out->ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        ::close(fd);
    });
}

struct PassCount {
    std::atomic<long> sent{0}, answered{0};
};

// Card frames one after the other on a stream or a connected datagram socket: the next
// goes after the answer, or after 1.5 s without one.
std::thread passThroughs(int fd, const std::atomic<bool>& stop, PassCount* n) {
    return std::thread([fd, &stop, n] {
        const auto line = cardLine();
        uint8_t buf[4096];
        while (!stop) {
            if (::write(fd, line.data(), line.size()) != ssize_t(line.size())) return;
            ++n->sent;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1500) == 1 && ::read(fd, buf, sizeof buf) > 0) ++n->answered;
        }
    });
}

int udpConnected(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    return fd;
}

int serialPeer(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// The controller program; its ports are 10 above the in-process links'.
int besideLongCommands(int offset) {
    benchctl::Controller program;
    if (!program.start(VLX_CONTROLLER, "rtt-long", offset + 10)) return 1;
    if (program.waitForAnswer() < 0) {
        program.stop();
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));  // the scaler and both FPGAs come up

    // Pass-throughs on TCP, UDP and serial port 2 for 20 s, another TCP client beside them.
    std::atomic<bool> stop{false};
    PassCount tcp, udp, serial;
    const int fds[3] = {connectTo(program.tcpPort()), udpConnected(program.udpPort()), serialPeer(program.root() + "/run/ttyS2.peer")};
    Answers beside;
    std::vector<std::thread> t;
    t.push_back(passThroughs(fds[0], stop, &tcp));
    t.push_back(passThroughs(fds[1], stop, &udp));
    t.push_back(passThroughs(fds[2], stop, &serial));
    t.push_back(askDeviceInfo(program.tcpPort(), stop, &beside));
    std::this_thread::sleep_for(std::chrono::seconds(20));
    stop = true;
    for (auto& th : t) th.join();
    for (int fd : fds) ::close(fd);

    // A whole-flash erase (512 units of 64 KB from sector 0) on one client, another beside it.
    stop = false;
    Answers duringErase;
    const int e = connectTo(program.tcpPort());
    const auto erase = lineOf(ctl::kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2});
    const auto e0 = Clock::now();
    std::thread info = askDeviceInfo(program.tcpPort(), stop, &duringErase);
    int status = -1;
    frame_deframer d(ctl::kMaxFrame);
    if (::send(e, erase.data(), erase.size(), MSG_NOSIGNAL) == ssize_t(erase.size())) {
        uint8_t buf[256];
        for (ssize_t n; status < 0 && (n = ::recv(e, buf, sizeof buf, 0)) > 0;)
            d.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) {
                if (len > ctl::kPayload) status = f[ctl::kPayload];
            });
    }
    const double eraseS = std::chrono::duration<double>(Clock::now() - e0).count();
    stop = true;
    info.join();
    ::close(e);
    program.stop();

    std::printf("\nAgainst the controller program on the simulated board:\n\n| measure | value |\n|---|---|\n");
    std::printf("| pass-throughs in 20 s (answered): TCP %ld (%ld), UDP %ld (%ld), serial port 2 %ld (%ld) | - |\n",
                tcp.sent.load(), tcp.answered.load(), udp.sent.load(), udp.answered.load(), serial.sent.load(),
                serial.answered.load());
    std::printf("| beside them, another TCP client's device information: answers / p99 / worst | %zu / %.2f ms / %.2f ms |\n",
                beside.ms.size(), beside.p99(), beside.worst());
    std::printf("| whole-flash erase (512 x 64 KB): time, status | %.1f s, %d |\n", eraseS, status);
    std::printf("| beside it, another TCP client's device information: answers / p99 / worst | %zu / %.2f ms / %.2f ms |\n",
                duringErase.ms.size(), duringErase.p99(), duringErase.worst());
    return 0;
}

std::string allowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return "?";
    return std::to_string(CPU_COUNT(&set)) + " of " + std::to_string(std::thread::hardware_concurrency());
}
}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    plat::setBoard(plat::Board::Sim);
    const std::string root = benchenv::tempRoot("rtt");
    plat::setRoot(root);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    const int offset = benchenv::portOffset(30000 + int(getpid() % 500) * 20);
    plat::net::setPortOffset(offset);
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    udpnetManage::pInstance();
    Kv_uart_inout::pInstance();
    networkManage::pInstance();
    Kv_uart_inout_4G::pInstance();
    const int port = networkManage::p_networkManage->port();
    if (port <= 0) return 1;
    EchoServer echo;
    pthread_setname_np(pthread_self(), "client");  // after the controller's and the echo server's threads began

    ThreadWatch watch;
    const Interleaved rtt = measureInterleaved(echo.port(), port, count, [&] { watch.sample(); });
    const int hog = startNonReader(port);
    const Interleaved beside = measureInterleaved(echo.port(), port, count / 2, [&] { watch.sample(); });
    ::close(hog);
    const std::string ran = watch.report();
    const double f1 = framesPerSecond(port, 1, 2.0);
    const double f8 = framesPerSecond(port, 8, 2.0);

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = cpuSeconds();
    const auto i0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double idle = (cpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - i0).count() * 100.0;

    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| echo server round trip p50 / p99 | %.1f us / %.1f us |\n", rtt.echo.p50, rtt.echo.p99);
    std::printf("| register read round trip p50 / p99 | %.1f us / %.1f us |\n", rtt.controller.p50, rtt.controller.p99);
    std::printf("| register read p50 / echo p50, median of %d alternate batches | %.2f |\n", rtt.batches, rtt.ratio);
    std::printf("| beside a client that reads nothing: echo p50 / p99 | %.1f us / %.1f us |\n", beside.echo.p50, beside.echo.p99);
    std::printf("| beside a client that reads nothing: register read p50 / p99 | %.1f us / %.1f us |\n", beside.controller.p50,
                beside.controller.p99);
    std::printf("| beside a client that reads nothing: register read p50 / echo p50, median of %d batches | %.2f |\n",
                beside.batches, beside.ratio);
    std::printf("| frames per second, 1 client | %.0f |\n", f1);
    std::printf("| frames per second, 8 clients | %.0f |\n", f8);
    std::printf("| CPU while idle (TCP, UDP, both serial lines) | %.3f %% of one core |\n", idle);
    std::printf("\nCPUs allowed: %s. Threads busy during the round trips (both parts): %s\n",
                allowedCpus().c_str(), ran.c_str());
    std::fflush(stdout);
    const int rc = besideLongCommands(offset);
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::_Exit(rc);  // the transport threads live as long as the process, as on the device
}
