// Control-protocol benchmark (not a test): request -> reply round trip of a controller
// register read over loopback TCP beside a bare echo server, the two timed in alternate
// batches; the same round trip of a second client while another client bursts file-block
// reads and never reads a reply; frames per second with 1 and 8 clients; and the process's
// CPU use while every transport (TCP, UDP, both serial lines) sits idle. It says on which
// CPUs the busy threads ran, and how long a pass-through to silent cards waits behind the
// tick that stands still here, alone and with two queued behind it. Then, against the
// controller program on the simulated board (engines and all), another client's worst answer
// beside receiving-card pass-throughs on three links and beside a whole-flash erase of the
// C331, a pass-through one second after a change of the LED layout against the same on an
// idle controller, and another PC's device information beside UDP pass-through floods (one
// datagram of 200, 200 source ports of another machine) and beside 16 TCP clients gone after
// a whole-flash erase each, against the same PC on the idle controller; a pass-through one
// second after the controller's start against the same on the settled controller; and, with
// the FPGA engine in this process on the simulated board (board time), the panel's parameter
// saving beside a PC that polls the FPGAs or holds the cards' bus, against the same job alone.
// VLX_PORT_OFFSET moves its ports, TMPDIR holds its roots.
//
// Last, a real PC's pass-throughs beside 64 ports of garbage; a new and an established UDP PC
// and a TCP PC's pass-throughs beside 33 ports of one machine each sending a datagram of 64
// pass-throughs, against the same on the idle controller; the controller's RSS before,
// at the peak of and after a backlog of 60 KB datagrams from 32 senders of 8 machines; and
// its RSS before, at the peak of and 30 s after 4 rounds of 16 TCP clients that pipeline
// without reading ("udp" or "tcp" runs only those parts); another address's device information
// beside 16 TCP connections of one machine that pipeline and never read, against the same on the
// idle controller ("tcp" runs it too). Then a ninth machine's device information beside 8
// machines x 4 ports that each keep a long command running, a file transfer beside four
// other senders of its address, one PC's 8 connections on the idle controller, a tool that
// sends from a new port each time beside 20 machines x 4 ports of long commands, and a PC
// that polls every 40 s beside 15 busy connections of 5 machines ("places" runs only these).
//
//   build-bench/bench/protocol_rtt_bench [round-trips | udp | tcp | places]
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
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
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
#include "core/md5.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "protocol/control_frame.h"
#include "protocol/networkmanage.h"
#include "protocol/protocol_engines.h"
#include "protocol/protocol_phy.h"
#include "protocol/control_link.h"
#include "protocol/tcpserver.h"
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

// A client with a 4 KiB receive buffer that starts a file read (the 61,440-byte alias file
// under `root`, written here) and sends 300 block reads of 61,440 bytes and `more` requests
// for the device information in one burst, as far as its socket takes it; it never reads.
int startPipeliner(int port, const std::string& root, int more = 0, uint8_t machine = 1) {
    std::ofstream(root + "/data/configs/alias.json", std::ios::binary) << std::string(61440, 'a');
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + machine);
    if (machine != 1) ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    auto burst = lineOf(ctl::kGroupReadFileStart, {4, 0});
    const auto block = lineOf(ctl::kGroupReadFileBlock, {0, 0, 0, 0, 0x00, 0xF0});
    for (int i = 0; i < 300; ++i) burst.insert(burst.end(), block.begin(), block.end());
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    for (int i = 0; i < more; ++i) burst.insert(burst.end(), info.begin(), info.end());
    size_t sent = 0;
    for (ssize_t n; sent < burst.size() && (n = ::send(fd, burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT)) > 0;)
        sent += size_t(n);
    if (sent < std::min<size_t>(burst.size(), 8192)) std::exit(2);
    return fd;
}

// Waits until the controller's replies have filled the pipeliner's window; false when they
// have not within 10 s.
bool windowFilled(int fd) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    for (int n = 0; ::ioctl(fd, FIONREAD, &n) == 0 && Clock::now() < end;) {
        if (n >= 2048) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A pipeliner whose window the controller's replies have filled.
int startNonReader(int port) {
    const int fd = startPipeliner(port, plat::root());
    windowFilled(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the controller fills its side too
    return fd;
}

double framesPerSecond(int port, int clients, double seconds) {
    std::atomic<long> frames{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> t;
    for (int c = 0; c < clients; ++c) {
        t.emplace_back([&, c] {
            const int fd = connectTo(port, uint8_t(10 + c));  // a PC each
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

// ---- the controller program

// Started on a root of its own with its ports `offset` above the device's, answering, and 10 s
// on, when the scaler and both FPGAs are up; false (ended) when it does not answer.
bool startSettled(benchctl::Controller& program, const char* what, int offset) {
    if (!program.start(VLX_CONTROLLER, what, offset)) return false;
    if (program.waitForAnswer() < 0) {
        program.stop();
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(10));
    return true;
}

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

// A datagram socket of 127.0.0.host (each host a machine of its own) connected to the port.
int udpConnected(int port, uint8_t host = 1) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + host);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0) std::exit(1);
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

// ---- UDP floods and departed TCP clients, against the controller program

// Device information on a datagram socket of its own, of another machine than the floods',
// asked in a closed loop until `stop`; a request unanswered for 2 s counts as lost and the
// next goes.
std::thread askDeviceInfoUdp(int port, const std::atomic<bool>& stop, Answers* out, std::atomic<long>* lost) {
    return std::thread([port, &stop, out, lost] {
        const int fd = udpConnected(port, 2);
        const auto req = lineOf(ctl::kGroupDeviceInfo, {});
        uint8_t buf[2048];
        while (!stop) {
            const auto t0 = Clock::now();
            if (::send(fd, req.data(), req.size(), 0) != ssize_t(req.size())) std::exit(3);
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) == 1 && ::recv(fd, buf, sizeof buf, 0) > 0)
                out->ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            else
                ++*lost;
        }
        ::close(fd);
    });
}

struct Beside {
    const char* what;
    Answers answers;
    long lost = 0;
};

// Another PC's device information for `seconds` while `load` runs (UDP or TCP asker).
Beside measureBeside(const char* what, benchctl::Controller& program, bool udp, double seconds,
                     const std::function<void(const std::atomic<bool>&)>& load) {
    Beside b{what, {}, 0};
    std::atomic<bool> stop{false};
    std::atomic<long> lost{0};
    std::thread loader([&] { load(stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the load is under way
    std::thread asker = udp ? askDeviceInfoUdp(program.udpPort(), stop, &b.answers, &lost)
                            : askDeviceInfo(program.tcpPort(), stop, &b.answers);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    asker.join();
    loader.join();
    b.lost = lost;
    return b;
}

// A request on a new connection from 127.0.0.<machine>: ms from the connect to its reply, or
// -1 after limitMs without one.
double replyOnNewConnectionMs(int port, uint8_t machine, const std::vector<uint8_t>& req, int limitMs) {
    const auto t0 = Clock::now();
    const int fd = connectTo(port, machine);
    double ms = -1;
    frame_deframer d(ctl::kMaxFrame);
    if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size())) {
        uint8_t buf[256];
        pollfd p{fd, POLLIN, 0};
        while (ms < 0 && ::poll(&p, 1, limitMs) == 1) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            d.feed(buf, size_t(n), [&](const uint8_t*, size_t) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            });
        }
    }
    ::close(fd);
    return ms;
}

// A clock set (a long command: it runs as its client's job) on a new connection.
double clockSetMs(int port) {
    return replyOnNewConnectionMs(port, 1, lineOf(ctl::kGroupSetClock, {0x26, 0x20, 0x12, 0x08, 0x01, 0x00, 0x00}), 30000);
}

// The table of this part, printed after the others.
std::string besideFloodsAndDepartures(benchctl::Controller& program) {
    const auto card = cardLine();
    std::vector<Beside> rows;
    const auto idle = [](const std::atomic<bool>&) {};
    rows.push_back(measureBeside("UDP, idle controller", program, true, 5, idle));
    // 200 pass-throughs in one datagram, to a port without cards: 0.8 s each.
    rows.push_back(measureBeside("UDP, beside one datagram of 200 pass-throughs", program, true, 10,
                                 [&](const std::atomic<bool>&) {
                                     std::vector<uint8_t> d;
                                     for (int i = 0; i < 200; ++i) d.insert(d.end(), card.begin(), card.end());
                                     const int fd = udpConnected(program.udpPort());
                                     ::send(fd, d.data(), d.size(), 0);
                                     ::close(fd);
                                 }));
    std::this_thread::sleep_for(std::chrono::seconds(60));  // the pass-throughs admitted run out
    // 200 source ports, each sending a pass-through every 100 ms.
    rows.push_back(measureBeside("UDP, beside pass-throughs from 200 ports (2,000 a second)", program, true, 10,
                                 [&](const std::atomic<bool>& stop) {
                                     std::vector<int> fds;
                                     for (int i = 0; i < 200; ++i) fds.push_back(udpConnected(program.udpPort()));
                                     while (!stop) {
                                         for (int fd : fds) ::send(fd, card.data(), card.size(), MSG_DONTWAIT);
                                         std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                     }
                                     for (int fd : fds) ::close(fd);
                                 }));
    rows.push_back(measureBeside("TCP, idle controller", program, false, 5, idle));
    const double clockIdle = clockSetMs(program.tcpPort());
    double clockBeside = -1;
    // 16 clients that each send a whole-flash erase of the C331 and close at once.
    rows.push_back(measureBeside("TCP, beside 16 clients gone after a whole-flash erase each", program, false, 10,
                                 [&](const std::atomic<bool>&) {
                                     const auto erase = lineOf(ctl::kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2});
                                     for (int i = 0; i < 16; ++i) {
                                         const int fd = connectTo(program.tcpPort());
                                         ::send(fd, erase.data(), erase.size(), MSG_NOSIGNAL);
                                         ::close(fd);
                                     }
                                     std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the erases run
                                     clockBeside = clockSetMs(program.tcpPort());
                                 }));
    std::string out = "\n| another PC's device information | answers | lost | p50 | p99 | worst |\n|---|---|---|---|---|---|\n";
    for (const Beside& b : rows) {
        char row[256];
        std::snprintf(row, sizeof row, "| %s | %zu | %ld | %.2f ms | %.2f ms | %.2f ms |\n", b.what, b.answers.ms.size(),
                      b.lost, b.answers.ms.empty() ? 0 : percentiles(b.answers.ms).p50, b.answers.p99(), b.answers.worst());
        out += row;
    }
    char row[200];
    std::snprintf(row, sizeof row, "\nA clock set on a new TCP connection: %.1f ms on the idle controller, %.1f ms beside the 16 gone.\n",
                  clockIdle, clockBeside);
    return out + row;
}

// The controller program; its ports are 10 above the in-process links'.
int besideLongCommands(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-long", offset + 10)) return 1;

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
    const std::string floods = besideFloodsAndDepartures(program);
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
    std::printf("%s", floods.c_str());
    return 0;
}

// ---- a pass-through after a change of the LED layout, against the controller program

// Read 4 bytes at 0x100 of card 2 on [7] = 1: port 0 of the first FPGA, which has cards.
std::vector<uint8_t> answeredCardLine() {
    return lineOfFrame({0x02, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x61, 0, 1, 0, 0, 4, 0, 0, 0});
}

// Milliseconds from the request to its reply frame; -1 when none came within `limitMs`.
double timedRequest(int fd, const std::vector<uint8_t>& line, int limitMs) {
    frame_deframer d(ctl::kMaxFrame);
    const auto t0 = Clock::now();
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return -1;
    bool frame = false;
    uint8_t buf[4096];
    while (!frame) {
        const int left = limitMs - int(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) != 1) return -1;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return -1;
        d.feed(buf, size_t(n), [&](const uint8_t*, size_t) { frame = true; });
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Lines of the controller's log that hold `text`.
int logLines(const std::string& root, const char* text) {
    std::ifstream in(root + "/data/kavelkv/log/zufEnglneLog");
    int n = 0;
    for (std::string l; std::getline(in, l);) n += l.find(text) != std::string::npos;
    return n;
}

// The table rows of a pass-through's floor (20 tries) and of the tries after an event (-1: none).
void passRows(const char* floorWhat, const std::vector<double>& floor, const char* afterWhat,
              const std::vector<double>& after, const char* ratioWhat) {
    std::printf("| %s: answered / p50 / worst | %zu of 20 / %.2f ms / %.2f ms |\n", floorWhat, floor.size(),
                floor.empty() ? 0 : median(floor), floor.empty() ? 0 : *std::max_element(floor.begin(), floor.end()));
    std::string each;
    std::vector<double> got;
    for (double ms : after) {
        char b[32];
        std::snprintf(b, sizeof b, "%s%.0f ms", each.empty() ? "" : ", ", ms);
        each += ms >= 0 ? b : (each.empty() ? "none" : ", none");
        if (ms >= 0) got.push_back(ms);
    }
    std::printf("| %s: answered / each | %zu of %zu / %s |\n", afterWhat, got.size(), after.size(), each.c_str());
    if (!got.empty() && !floor.empty()) std::printf("| %s, medians | %.0f |\n", ratioWhat, median(got) / median(floor));
}

// The same client's pass-through to an answering card on an idle controller (the floor), then
// one second after each of four splice-mode changes (RAM 0x560, then register 11 bit 1), while
// both FPGAs restart with the new layout.
int passAfterLayoutChange(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-layout", offset + 40)) return 1;
    const int fd = connectTo(program.tcpPort());
    const auto card = answeredCardLine();
    std::vector<double> idle;
    for (int i = 0; i < 20; ++i) {
        const double ms = timedRequest(fd, card, 5000);
        if (ms >= 0) idle.push_back(ms);
    }
    constexpr int kChanges = 4;
    std::vector<double> after;
    int answered = 0;
    for (int c = 0; c < kChanges; ++c) {
        std::vector<uint8_t> write(8);
        ctl::wr32(write.data(), vlxram::kSpliceMode);
        ctl::wr16(write.data() + 4, 2);
        const uint8_t code = c % 2 ? 4 : 2;  // the start-up code is 4 (copy)
        write.insert(write.end(), {code, 0});
        if (timedRequest(fd, lineOf(ctl::kGroupWriteMemory, write), 5000) < 0 ||
            timedRequest(fd, lineOf(ctl::kGroupWriteRegisters, {11, 0, 0x02, 0x02}), 5000) < 0) {
            std::fprintf(stderr, "the layout change was not answered\n");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double ms = timedRequest(fd, card, 15000);
        after.push_back(ms);
        answered += ms >= 0;
        // up again: the same pass-through is answered at once
        for (const auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
            const double again = timedRequest(fd, card, 5000);
            if (again >= 0 && again < 100) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    ::close(fd);
    const int busy = logLines(program.root(), "transmit still busy");
    const int givenUp = logLines(program.root(), "pass-through given up");
    const int notPassed = logLines(program.root(), "card frame not passed");
    program.stop();

    std::printf("\nA pass-through after a change of the LED layout (controller program):\n\n| measure | value |\n|---|---|\n");
    passRows("idle controller", idle, "1 s after a splice-mode change", after, "after the change / idle");
    std::printf("| log: transmit still busy / pass-through given up / not passed (restart) | %d / %d / %d |\n", busy,
                givenUp, notPassed);
    return answered == kChanges ? 0 : 1;
}

// ---- a pass-through right after the controller's start, against the controller program

// The same client's pass-through to an answering card one second after each of three starts of
// the controller, then on the settled controller (the floor).
int passAfterStart(int offset) {
    constexpr int kStarts = 3;
    const auto card = answeredCardLine();
    std::vector<double> first, settled;
    int answered = 0, givenUp = 0, notPassed = 0;
    for (int k = 0; k < kStarts; ++k) {
        benchctl::Controller program;
        if (!program.start(VLX_CONTROLLER, "rtt-start", offset + 60)) return 1;
        const double up = program.waitForAnswer();
        if (up < 0) {
            program.stop();
            return 1;
        }
        if (up < 1.0) std::this_thread::sleep_for(std::chrono::duration<double>(1.0 - up));
        const int fd = connectTo(program.tcpPort());
        const double ms = timedRequest(fd, card, 15000);
        first.push_back(ms);
        answered += ms >= 0;
        if (k == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(10));  // the scaler and both FPGAs are up
            for (int i = 0; i < 20; ++i) {
                const double again = timedRequest(fd, card, 5000);
                if (again >= 0) settled.push_back(again);
            }
        }
        ::close(fd);
        givenUp += logLines(program.root(), "pass-through given up");
        notPassed += logLines(program.root(), "card frame not passed");
        program.stop();
    }
    std::printf("\nA pass-through one second after the controller's start (controller program):\n\n| measure | value |\n|---|---|\n");
    passRows("settled controller", settled, "1 s after start", first, "after start / settled");
    std::printf("| log: pass-through given up / not passed (restart) | %d / %d |\n", givenUp, notPassed);
    return answered == kStarts ? 0 : 1;
}

// ---- the panel's card job beside a PC's FPGA polls (FPGA engine in this process, board time)

// A request for FPGA 0 ([7] = 1), coded for the line.
std::vector<uint8_t> fpgaLine(uint8_t group, const std::vector<uint8_t>& payload, uint16_t dst) {
    std::vector<uint8_t> f(ctl::kHeaderSize);
    ctl::wr16(f.data() + ctl::kDst, dst);
    ctl::wr16(f.data() + ctl::kSrc, ctl::kAddrPc);
    ctl::wr16(f.data() + ctl::kLen, uint16_t(payload.size()));
    f[ctl::kGroup] = group;
    f[ctl::kPort] = 1;
    f.insert(f.end(), payload.begin(), payload.end());
    return lineOfFrame(f);
}

// Engine passes, one per 10 ms tick of the board, until the panel's parameter saving ends; every
// `period` ticks (0: never) the PC's request goes first, answered before the tick goes on.
// The ticks it took, -1 when not within `limit`.
int saveJobTicks(fpga_manage* engine, int fd, const std::vector<uint8_t>& poll, int period, int limit) {
    job_block::setU8(job_block::kStep, 0);
    job_block::setU8(job_block::kOperation, job_block::kSaveParams);
    for (int k = 0; k < limit; ++k) {
        if (job_block::operation() == job_block::kNoJob) return k;
        if (period && k % period == 0 && timedRequest(fd, poll, 5000) < 0) return -1;
        G_timeTicks.fetch_add(1);
        plat::sim::board().step(10 * plat::sim::kNsPerMs);
        engine->fpga_manage_deal();
    }
    job_block::setU8(job_block::kOperation, job_block::kNoJob);
    return -1;
}

std::string cardJobBesidePolls() {
    plat::sim::SimBoard& board = plat::sim::board();
    plat::sim::buildStandardBoard(board);
    auto fpga0 = board.find<plat::sim::SimFpga>("fpga0");
    board.underLock([&] { fpga0->attachCards(0, 4); });
    fpga_manage* engine = fpga_manage::pInstance();
    engine->stopThread();
    g_fpga_c331_start = 1;
    for (int k = 0; k < 3000 && !engine->get_fpga_status(); ++k) {
        G_timeTicks.fetch_add(1);
        board.step(10 * plat::sim::kNsPerMs);
        engine->fpga_manage_deal();
    }
    if (!engine->get_fpga_status()) return "\nThe card job beside FPGA polls: the FPGAs did not come up.\n";
    for (int k = 0; k < 300 && fpga_manage::get_port_card_num(0) == 0; ++k) {
        G_timeTicks.fetch_add(1);
        board.step(10 * plat::sim::kNsPerMs);
        engine->fpga_manage_deal();
    }
    const int fd = connectTo(networkManage::p_networkManage->port());
    // register 22; 4 bytes, and a write of 2, at 0 of FPGA RAM 33
    const auto regRead = fpgaLine(ctl::kGroupReadRegisters, {22, 0, 1, 0}, ctl::kAddrSendingCard);
    const auto ramRead = fpgaLine(ctl::kGroupReadMemory, {0, 0, 0x21, 0x30, 4, 0}, ctl::kAddrController);
    const auto ramWrite = fpgaLine(ctl::kGroupWriteMemory, {0, 0, 0x21, 0x30, 2, 0, 0, 0, 1, 2}, ctl::kAddrController);
    struct Row {
        const char* what;
        const std::vector<uint8_t>* poll;
        int period;
    };
    const Row rows[] = {{"alone (the floor)", nullptr, 0},
                        {"FPGA register read every 0.3 s", &regRead, 30},
                        {"FPGA register read every 2 s", &regRead, 200},
                        {"FPGA RAM read every 0.3 s", &ramRead, 30},
                        {"FPGA RAM write every 1.5 s (holds the bus 0.8 s each)", &ramWrite, 150}};
    std::string out =
        "\nThe panel's parameter saving (4 cards on one port) beside a PC on TCP (FPGA engine in this process, "
        "board time; median of 5 runs):\n\n| PC beside the job | job ends after | / alone |\n|---|---|---|\n";
    double alone = 0;
    for (const Row& r : rows) {
        std::vector<double> ticks;
        for (int n = 0; n < 5; ++n) {
            const int t = saveJobTicks(engine, fd, r.poll ? *r.poll : regRead, r.period, 6000);
            ticks.push_back(t < 0 ? 6000 : t);
        }
        const double m = median(ticks);
        if (!r.poll) alone = m;
        char row[200];
        std::snprintf(row, sizeof row, "| %s | %s%.2f s | %.2f |\n", r.what, m >= 6000 ? "over " : "", m / 100.0,
                      alone > 0 ? m / alone : 0.0);
        out += row;
    }
    ::close(fd);
    return out;
}

// ---- UDP places and held bytes, against the controller program

long rssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string l; std::getline(in, l);)
        if (l.compare(0, 6, "VmRSS:") == 0) return std::atol(l.c_str() + 6);
    return -1;
}

// A PC's 40 pass-throughs to a card that answers in 0.3 s, one after the other (2 s each at
// most): how many were answered, and their median in ms.
std::pair<int, double> fortyPassThroughs(int port) {
    const int fd = udpConnected(port, 2);
    std::vector<double> ms;
    for (int i = 0; i < 40; ++i) {
        const double t = timedRequest(fd, answeredCardLine(), 2000);
        if (t >= 0) ms.push_back(t);
    }
    ::close(fd);
    return {int(ms.size()), ms.empty() ? -1 : median(ms)};
}

// ---- one machine's burst from many ports, against the controller program

// A receiving-card frame for every linked port with cards ([7] = 255).
std::vector<uint8_t> allPortsCardLine() { return lineOfFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0xFF, 0x00, 0x61, 0, 0, 0, 0}); }

// A PC's requests, one a second, each waiting up to 1 s for its answer (late answers of
// earlier ones are read and dropped first): how many went and were answered, and the
// seconds to the first answer from the start (-1: none).
struct Polls {
    int sent = 0, answered = 0;
    double first = -1;
};
Polls pollOncePerSecond(int fd, const std::vector<uint8_t>& req, double seconds) {
    Polls p;
    const auto t0 = Clock::now();
    uint8_t buf[2048];
    for (int i = 0; Clock::now() - t0 < std::chrono::duration<double>(seconds); ++i) {
        while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
        if (::send(fd, req.data(), req.size(), 0) != ssize_t(req.size())) break;
        ++p.sent;
        pollfd q{fd, POLLIN, 0};
        if (::poll(&q, 1, 1000) == 1 && ::recv(fd, buf, sizeof buf, 0) > 0) {
            ++p.answered;
            if (p.first < 0) p.first = std::chrono::duration<double>(Clock::now() - t0).count();
        }
        std::this_thread::sleep_until(t0 + std::chrono::seconds(i + 1));
    }
    return p;
}

struct BurstPhase {
    const char* what;
    Polls newcomer, established;
    std::vector<double> tcpMs;   // each pass-through; a lost one counts as its limit
    int tcpLost = 0;
};

// For `seconds`: a new UDP PC (a machine not heard from before) and an established one (its
// place taken before) each ask the device information once a second, and a TCP PC passes
// frames to card 2 on port 1 (0.3 s late) one after the other (5 s each at most); with
// `burst`, 33 ports of one other machine each send one datagram of 64 pass-throughs for every
// linked port with cards, again every 5 s.
BurstPhase burstPhase(const char* what, benchctl::Controller& program, int established, int tcp, uint8_t newHost,
                      bool burst, double seconds) {
    BurstPhase ph{what, {}, {}, {}, 0};
    std::atomic<bool> stop{false};
    std::thread attacker([&] {
        if (!burst) return;
        std::vector<uint8_t> d;
        const auto card = allPortsCardLine();
        for (size_t i = 0; i < udpnetManage::kSenderFrames; ++i) d.insert(d.end(), card.begin(), card.end());
        std::vector<int> fds;
        for (int i = 0; i < 33; ++i) fds.push_back(udpConnected(program.udpPort()));
        for (auto next = Clock::now(); !stop; next += std::chrono::seconds(5)) {
            for (int fd : fds) ::send(fd, d.data(), d.size(), MSG_DONTWAIT);
            while (!stop && Clock::now() < next + std::chrono::seconds(5)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (int fd : fds) ::close(fd);
    });
    std::thread passes([&] {
        const auto line = answeredCardLine();
        uint8_t buf[4096];
        while (!stop) {
            while (::recv(tcp, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            }
            const double ms = timedRequest(tcp, line, 5000);
            ph.tcpMs.push_back(ms >= 0 ? ms : 5000);
            ph.tcpLost += ms < 0;
        }
    });
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    std::thread old([&] { ph.established = pollOncePerSecond(established, info, seconds); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the burst is in
    const int fresh = udpConnected(program.udpPort(), newHost);
    ph.newcomer = pollOncePerSecond(fresh, info, seconds - 0.1);
    ::close(fresh);
    old.join();
    stop = true;
    attacker.join();
    passes.join();
    return ph;
}

// The three PCs on the idle controller, during 20 s of the burst and in the 20 s after it.
std::string oneMachinesBurst(benchctl::Controller& program) {
    const int established = udpConnected(program.udpPort(), 20);
    const int tcp = connectTo(program.tcpPort());
    std::vector<BurstPhase> phases;
    phases.push_back(burstPhase("idle controller", program, established, tcp, 21, false, 20));
    phases.push_back(burstPhase("during the burst", program, established, tcp, 22, true, 20));
    phases.push_back(burstPhase("after the burst", program, established, tcp, 23, false, 20));
    ::close(tcp);
    ::close(established);
    std::string out =
        "\n| 20 s each | new UDP PC: first answer, answered | established UDP PC: answered | TCP PC's pass-throughs: "
        "answered, p50, p90 |\n|---|---|---|---|\n";
    for (const BurstPhase& ph : phases) {
        std::vector<double> sorted = ph.tcpMs;
        std::sort(sorted.begin(), sorted.end());
        const double p50 = sorted.empty() ? 0 : sorted[sorted.size() / 2];
        const double p90 = sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * 9 / 10)];
        char row[320];
        std::snprintf(row, sizeof row, "| %s | %.1f s, %d of %d | %d of %d | %zu of %zu, %.0f ms, %.0f ms |\n", ph.what,
                      ph.newcomer.first, ph.newcomer.answered, ph.newcomer.sent, ph.established.answered,
                      ph.established.sent, ph.tcpMs.size() - size_t(ph.tcpLost), ph.tcpMs.size(), p50, p90);
        out += row;
    }
    return out;
}

// A real PC's pass-throughs on the idle controller and beside 64 source ports that each send
// 20 frames with a bad BCC every 50 ms; then the controller's RSS before, at the peak of and
// after 8 rounds of 32 senders (4 of each of 8 machines) that each send a pass-through to a
// port without cards (0.8 s) and 64 datagrams of one 60 KB frame (an unknown group, answered
// at once).
int udpPlacesAndMemory(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-udp", offset + 60)) return 1;
    const std::string delay = benchctl::boardCommand(program.root(), "chip fpga0 card 0 2 delay 30");
    const auto idle = fortyPassThroughs(program.udpPort());

    std::atomic<bool> stop{false};
    std::thread garbage([&] {
        auto bad = lineOf(ctl::kGroupDeviceInfo, {});
        bad[bad.size() - 2] ^= 0x01;  // the BCC (never a coded byte here)
        std::vector<uint8_t> d;
        for (int i = 0; i < 20; ++i) d.insert(d.end(), bad.begin(), bad.end());
        std::vector<int> fds;
        for (int i = 0; i < 64; ++i) fds.push_back(udpConnected(program.udpPort()));
        while (!stop) {
            for (int fd : fds) ::send(fd, d.data(), d.size(), MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        for (int fd : fds) ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto beside = fortyPassThroughs(program.udpPort());
    stop = true;
    garbage.join();
    const std::string burst = oneMachinesBurst(program);
    const int staleLines = logLines(program.root(), "waiting unstarted");

    const long before = rssKb(program.pid());
    std::atomic<long> peak{before};
    stop = false;
    std::thread sampler([&] {
        while (!stop) {
            peak = std::max(peak.load(), rssKb(program.pid()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<int> fds;  // four of each of eight machines: all places
    for (int i = 0; i < 32; ++i) fds.push_back(udpConnected(program.udpPort(), uint8_t(3 + i / 4)));
    const auto card = cardLine();
    const auto big = lineOf(0xEE, std::vector<uint8_t>(60000, 0x11));
    const auto t0 = Clock::now();
    for (int round = 0; round < 8; ++round)
        for (int fd : fds) {
            ::send(fd, card.data(), card.size(), 0);
            for (int i = 0; i < 64; ++i) {
                ::send(fd, big.data(), big.size(), 0);
                if (i % 8 == 7) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // within the socket's buffer
            }
        }
    // Drained: each sender's device information, asked last and again every second (as a PC
    // asks again), is answered (5 min at most).
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    std::vector<uint8_t> buf(65536);
    long replies = 0;
    std::set<int> done;
    const auto sent = Clock::now();
    for (auto ask = sent; done.size() < fds.size() && Clock::now() - sent < std::chrono::minutes(5);) {
        if (Clock::now() >= ask) {
            for (int fd : fds)
                if (!done.count(fd)) ::send(fd, info.data(), info.size(), 0);
            ask += std::chrono::seconds(1);
        }
        std::vector<pollfd> p;
        for (int fd : fds) p.push_back({fd, POLLIN, 0});
        if (::poll(p.data(), p.size(), 200) <= 0) continue;
        for (const pollfd& q : p)
            for (ssize_t n; (q.revents & POLLIN) && (n = ::recv(q.fd, buf.data(), buf.size(), MSG_DONTWAIT)) > 0;) {
                if (n > 40) done.insert(q.fd);  // the device information; a status reply is 16 bytes at most
                else ++replies;
            }
    }
    const double drainS = std::chrono::duration<double>(Clock::now() - t0).count();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    sampler.join();
    const long after = rssKb(program.pid());
    for (int fd : fds) ::close(fd);
    const int refused = logLines(program.root(), " refused, ");
    const int forgotten = logLines(program.root(), "forgotten for a new one");
    program.stop();

    std::printf("\nUDP places and held bytes (controller program; card delay: %s):\n\n| measure | value |\n|---|---|\n",
                delay.empty() ? "?" : delay.substr(0, delay.find('\n')).c_str());
    std::printf("| a PC's 40 pass-throughs, idle controller: answered / p50 | %d / %.0f ms |\n", idle.first, idle.second);
    std::printf("| the same beside 64 ports of bad-BCC frames (25,600 a second): answered / p50 | %d / %.0f ms |\n",
                beside.first, beside.second);
    std::printf("| p50 beside / p50 idle | %.2f |\n", idle.second > 0 ? beside.second / idle.second : 0.0);
    std::printf("| 8 rounds of 32 senders (a pass-through, 64 x 60 KB): 60 KB frames answered / senders drained / after | %ld / %zu / %.0f s |\n",
                replies, done.size(), drainS);
    std::printf("| RSS before / peak / 2 s after the drain | %ld / %ld / %ld MB |\n", before / 1024, peak.load() / 1024,
                after / 1024);
    std::printf("| log lines: sender refused / sender forgotten for a new one | %d / %d |\n", refused, forgotten);
    std::printf("\nOne machine's burst: 33 ports of 127.0.0.1, each one datagram of 64 pass-throughs for every linked port "
                "(2,112), again every 5 s; log lines of stale work dropped by its end: %d\n%s",
                staleLines, burst.c_str());
    return beside.first >= 38 && after - before < 24 * 1024 ? 0 : 1;
}

// ---- a ninth machine beside eight busy ones, a file transfer beside its address's other senders

// One request on a connected datagram socket: the reply's status (-1: none in `limitMs`).
int askStatus(int fd, const std::vector<uint8_t>& line, int limitMs) {
    uint8_t buf[2048];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    if (::send(fd, line.data(), line.size(), 0) != ssize_t(line.size())) return -1;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, limitMs) != 1) return -1;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    int status = -1;
    frame_deframer d(ctl::kMaxFrame);
    d.feed(buf, n > 0 ? size_t(n) : 0, [&](const uint8_t* f, size_t len) {
        if (len > ctl::kPayload) status = f[ctl::kPayload];
    });
    return status;
}

// For 20 s a ninth machine (127.0.0.30) asks the device information once a second, beside
// 8 machines x 4 ports (127.0.0.3 to .10) that each keep one long command outstanding, the
// next as soon as the last is answered or given up after 1 s, as a PC does: with `mixed`, in turn a pass-through to a
// port without cards (0.8 s), a one-unit C331 erase and a parameter save 0x81; else only
// pass-throughs. No flood: the idle controller. The floods' commands sent and answered go to
// *flood.
Polls ninthMachine(benchctl::Controller& program, int flooders, bool mixed, PassCount* flood) {
    std::atomic<bool> stop{false};
    const std::vector<std::vector<uint8_t>> cycle =
        mixed ? std::vector<std::vector<uint8_t>>{cardLine(), lineOf(ctl::kGroupFlashErase, {0, 0, 0, 0, 1, 0, 2}),
                                                  lineOf(ctl::kGroupParamSave, {})}
              : std::vector<std::vector<uint8_t>>{cardLine()};
    std::vector<std::thread> t;
    for (int i = 0; i < flooders; ++i)
        t.emplace_back([&, i] {
            const int fd = udpConnected(program.udpPort(), uint8_t(3 + i / 4));
            for (size_t k = size_t(i); !stop; ++k) {
                ++flood->sent;
                if (askStatus(fd, cycle[k % cycle.size()], 1000) >= 0) ++flood->answered;
            }
            ::close(fd);
        });
    if (flooders) std::this_thread::sleep_for(std::chrono::seconds(2));  // every place taken
    const int fd = udpConnected(program.udpPort(), 30);
    const Polls p = pollOncePerSecond(fd, lineOf(ctl::kGroupDeviceInfo, {}), 20);
    ::close(fd);
    stop = true;
    for (auto& th : t) th.join();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the last commands ended
    return p;
}

// A file of 4 x 1 KiB written by one sender of 127.0.0.40 (start, blocks, end one after the
// other); with `others`, after its first block four other senders of its address each ask
// the device information once. The status of each step ("-": none in 2 s).
std::string transferBesideItsAddress(benchctl::Controller& program, bool others) {
    const auto le32 = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    const int fd = udpConnected(program.udpPort(), 40);
    std::vector<int> status;
    std::vector<uint8_t> start = {'K', 'V', 'F', 'R', 's', 'c', 'a', 'n'};
    const auto size = le32(uint32_t(data.size()));
    start.insert(start.end(), size.begin(), size.end());
    status.push_back(askStatus(fd, lineOf(ctl::kGroupWriteDefinedFileStart, start), 2000));
    for (uint32_t at = 0; at < data.size(); at += 1024) {
        std::vector<uint8_t> block = le32(at);
        block.insert(block.end(), data.begin() + at, data.begin() + at + 1024);
        status.push_back(askStatus(fd, lineOf(ctl::kGroupWriteFileBlock, block), 2000));
        if (at == 0 && others)
            for (int k = 0; k < 4; ++k) {
                const int other = udpConnected(program.udpPort(), 40);
                askStatus(other, lineOf(ctl::kGroupDeviceInfo, {}), 2000);
                ::close(other);
            }
    }
    MD5 m(data.data(), unsigned(data.size()));
    status.push_back(askStatus(fd, lineOf(ctl::kGroupWriteFileEnd, std::vector<uint8_t>(m.digest(), m.digest() + 16)), 2000));
    ::close(fd);
    std::string out;
    for (int s : status) out += (out.empty() ? "" : " ") + (s < 0 ? std::string("-") : std::to_string(s));
    return out;
}

int ninthAndTransfer(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-ninth", offset + 100)) return 1;
    struct Row {
        const char* what;
        Polls p;
        PassCount flood;
    };
    Row rows[3] = {{"idle controller", {}, {}},
                   {"8 machines x 4 ports: pass-throughs, C331 erases, saves", {}, {}},
                   {"8 machines x 4 ports: pass-throughs", {}, {}}};
    for (int i = 0; i < 3; ++i) rows[i].p = ninthMachine(program, i ? 32 : 0, i == 1, &rows[i].flood);
    const std::string alone = transferBesideItsAddress(program, false);
    const std::string beside = transferBesideItsAddress(program, true);
    const int refused = logLines(program.root(), " refused, ");
    const int forgotten = logLines(program.root(), "for a new one");
    program.stop();
    std::printf("\nA ninth machine beside eight busy ones (controller program), once a second for 20 s:\n\n"
                "| beside | answered | first answer | the floods' commands answered |\n|---|---|---|---|\n");
    for (const Row& r : rows)
        std::printf("| %s | %d of %d | %.1f s | %ld of %ld |\n", r.what, r.p.answered, r.p.sent, r.p.first,
                    r.flood.answered.load(), r.flood.sent.load());
    std::printf("\nA file transfer (start, 4 blocks, end) of one sender: status of each step alone: %s; with four "
                "other senders of its address asking after its first block: %s. Log lines: sender refused %d, "
                "given up for a new one %d\n",
                alone.c_str(), beside.c_str(), refused, forgotten);
    return 0;
}

// ---- TCP clients that pipeline without reading, against the controller program

// 4 rounds of 16 TCP clients (every place) that pipeline file-block reads and 32,768 short
// requests (480 KiB) and never read; once the controller's replies fill each one's window
// they close with the replies unread (a reset), and the controller drops them. Its RSS
// before the rounds (the floor), at their peak (sampled every 20 ms) and 30 s after the last
// round's clients were dropped.
int tcpPipelinersMemory(int offset) {
    constexpr int kMoreRequests = 32768;
    benchctl::Controller program;
    if (!startSettled(program, "rtt-tcp", offset + 80)) return 1;
    const long before = rssKb(program.pid());
    std::atomic<long> peak{before};
    std::atomic<bool> stop{false};
    std::thread sampler([&] {
        while (!stop) {
            peak = std::max(peak.load(), rssKb(program.pid()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    int filled = 0;
    for (int round = 0; round < 4; ++round) {
        std::vector<int> fds;
        for (size_t i = 0; i < TcpServer::kMaxClients; ++i)
            fds.push_back(startPipeliner(program.tcpPort(), program.root(), kMoreRequests, uint8_t(10 + i)));
        for (int fd : fds) filled += windowFilled(fd) ? 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the controller fills its side too
        for (int fd : fds) ::close(fd);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // their places are free again
    }
    std::this_thread::sleep_for(std::chrono::seconds(30));
    const long after = rssKb(program.pid());
    stop = true;
    sampler.join();
    const bool answers = benchctl::answers(program.tcpPort(), benchctl::kRegisterReadLine);
    program.stop();
    std::printf("\nTCP clients that pipeline without reading (controller program): 4 rounds of %zu, each closed "
                "once its window is full, with 480 KiB of requests behind its block reads\n\n| windows filled | RSS before / peak / 30 s after | after / before | answers after |\n"
                "|---|---|---|---|\n| %d of %zu | %ld / %ld / %ld MB | %.2f | %s |\n",
                TcpServer::kMaxClients, filled, 4 * TcpServer::kMaxClients, before / 1024, peak.load() / 1024,
                after / 1024, before > 0 ? double(after) / double(before) : 0.0, answers ? "yes" : "no");
    return answers ? 0 : 1;
}

// ---- one machine's 16 TCP connections that pipeline and never read, against the controller program

// 16 connections of 127.0.0.100, each sent 3,000 pass-throughs (to a port without cards: 0.8 s
// each) and device informations in turn, as far as its socket takes them, then neither read
// nor closed until `stop`. *ended: how many the controller had ended (refused or closed) by then.
void oneMachinesPipeliners(int port, const std::atomic<bool>& stop, int* ended) {
    std::vector<uint8_t> burst;
    const auto card = cardLine(), info = lineOf(ctl::kGroupDeviceInfo, {});
    for (int i = 0; i < 3000; ++i) {
        burst.insert(burst.end(), card.begin(), card.end());
        burst.insert(burst.end(), info.begin(), info.end());
    }
    std::vector<int> fds;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        fds.push_back(connectTo(port, 100));
        (void)::send(fds.back(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a pace
    *ended = 0;
    for (int fd : fds) {
        pollfd p{fd, POLLRDHUP, 0};
        *ended += ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) ? 1 : 0;
        ::close(fd);
    }
}

// Device information of a PC at 127.0.0.1 in a closed loop for 10 s, and one asked on a new
// connection of 127.0.0.2, on the idle controller and beside one machine's 16 pipeliners.
int tcpOneMachine(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-tcp-machine", offset + 90)) return 1;
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    double firstIdle = -1, firstBeside = -1;
    int ended = 0;
    const Beside idle = measureBeside("idle controller", program, false, 10, [&](const std::atomic<bool>&) {
        firstIdle = replyOnNewConnectionMs(program.tcpPort(), 2, info, 10000);
    });
    const Beside beside = measureBeside("beside 16 connections of 127.0.0.100", program, false, 10,
                                        [&](const std::atomic<bool>& stop) {
                                            std::thread attack([&] { oneMachinesPipeliners(program.tcpPort(), stop, &ended); });
                                            std::this_thread::sleep_for(std::chrono::seconds(1));  // all 16 have sent
                                            firstBeside = replyOnNewConnectionMs(program.tcpPort(), 2, info, 10000);
                                            attack.join();
                                        });
    const bool answers = benchctl::answers(program.tcpPort(), benchctl::kRegisterReadLine);
    program.stop();
    std::printf("\nTCP places by machine (controller program): another address's device information beside 16 "
                "connections of one machine that pipeline 3,000 pass-throughs and device informations each and "
                "neither read nor close\n\n| | closed loop, 10 s: answers / p50 / p99 / worst | new connection: "
                "first answer |\n|---|---|---|\n");
    for (const auto& [b, first] : {std::make_pair(&idle, firstIdle), std::make_pair(&beside, firstBeside)})
        std::printf("| %s | %zu / %.2f / %.2f / %.2f ms | %.1f ms |\n", b->what, b->answers.ms.size(),
                    b->answers.ms.empty() ? 0 : percentiles(b->answers.ms).p50, b->answers.p99(), b->answers.worst(), first);
    std::printf("\nOf 127.0.0.100's 16 connections the controller ended (refused, or closed for a later one of its "
                "own): %d\n", ended);
    return answers && firstBeside >= 0 && !beside.answers.ms.empty() ? 0 : 1;
}

// ---- places by machine: one PC's connections, a tool that sends from a new port, a poller

// One PC's 8 connections (127.0.0.1) on the idle controller, each asking the device
// information 200 times in turn: answered, the connections the controller closed, p50.
std::string onePcsEightConnections(benchctl::Controller& program) {
    constexpr int kConnections = 8, kRounds = 200;
    std::vector<int> fds;
    for (int i = 0; i < kConnections; ++i) {
        fds.push_back(connectTo(program.tcpPort()));
        timeval tv{5, 0};
        ::setsockopt(fds.back(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    std::vector<bool> open(fds.size(), true);
    std::vector<double> ms;
    frame_deframer d(ctl::kMaxFrame);
    for (int round = 0; round < kRounds; ++round)
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!open[i]) continue;
            const auto t0 = Clock::now();
            open[i] = roundTrip(fds[i], info, false, d);
            if (open[i]) ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    for (int fd : fds) ::close(fd);
    char out[200];
    std::snprintf(out, sizeof out, "| one PC's %d connections, %d device informations each | %zu of %d answered, %d closed, p50 %.2f ms |\n",
                  kConnections, kRounds, ms.size(), kConnections * kRounds,
                  int(std::count(open.begin(), open.end(), false)), ms.empty() ? 0 : median(ms));
    return out;
}

// For 10 s a PC of 127.0.0.50 asks the device information every 0.5 s, each time from a new
// port (a socket per request, 1 s for its answer), and one of 127.0.0.51 the same from one
// port; with `flood`, beside 20 machines x 4 ports (127.0.0.60 on) that each keep a long
// command outstanding as in ninthMachine (pass-throughs, C331 erases, saves in turn).
std::string newPortBesideFloods(benchctl::Controller& program, bool flood) {
    std::atomic<bool> stop{false};
    PassCount floods;
    const std::vector<std::vector<uint8_t>> cycle = {cardLine(), lineOf(ctl::kGroupFlashErase, {0, 0, 0, 0, 1, 0, 2}),
                                                     lineOf(ctl::kGroupParamSave, {})};
    std::vector<std::thread> t;
    for (int i = 0; flood && i < 80; ++i)
        t.emplace_back([&, i] {
            const int fd = udpConnected(program.udpPort(), uint8_t(60 + i / 4));
            for (size_t k = size_t(i); !stop; ++k) {
                ++floods.sent;
                if (askStatus(fd, cycle[k % cycle.size()], 1000) >= 0) ++floods.answered;
            }
            ::close(fd);
        });
    if (flood) std::this_thread::sleep_for(std::chrono::seconds(2));  // every place taken
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    int fresh = 0, same = 0;
    const int samePort = udpConnected(program.udpPort(), 51);
    const auto t0 = Clock::now();
    for (int i = 0; i < 20; ++i) {
        const int fd = udpConnected(program.udpPort(), 50);
        fresh += askStatus(fd, info, 1000) >= 0;
        ::close(fd);
        same += askStatus(samePort, info, 1000) >= 0;
        std::this_thread::sleep_until(t0 + std::chrono::milliseconds(500 * (i + 1)));
    }
    ::close(samePort);
    stop = true;
    for (auto& th : t) th.join();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the last commands ended
    char out[240];
    std::snprintf(out, sizeof out, "| %s | %d of 20 | %d of 20 | %ld of %ld |\n",
                  flood ? "20 machines x 4 ports: pass-throughs, C331 erases, saves" : "idle controller", fresh, same,
                  floods.answered.load(), floods.sent.load());
    return out;
}

// Every TCP place busy: a PC of 127.0.0.70 that polls the device information at 0 and 40 s
// on one connection, idle between, and 5 machines (127.0.0.71 to .75) with 3 connections
// each sending one-unit C331 erases one after the other (they wait for each other: a command
// always runs or waits on each). From 31 s each of the 5 tries a fourth connection every
// second (over its share of 16 / 6 = 2), and at 35 s a new machine (127.0.0.76) asks once.
std::string pollerBesideBusyPlaces(benchctl::Controller& program) {
    const auto info = lineOf(ctl::kGroupDeviceInfo, {});
    const int poller = connectTo(program.tcpPort(), 70);
    const double first = timedRequest(poller, info, 2000);
    std::atomic<bool> stop{false};
    const auto erase = lineOf(ctl::kGroupFlashErase, {0, 0, 0, 0, 1, 0, 2});
    std::vector<int> busy;
    std::vector<std::thread> t;
    for (int i = 0; i < 15; ++i) {
        busy.push_back(connectTo(program.tcpPort(), uint8_t(71 + i / 3)));
        t.emplace_back([&, fd = busy.back()] {
            while (!stop && timedRequest(fd, erase, 20000) >= 0) {
            }
        });
    }
    const auto t0 = Clock::now();
    std::this_thread::sleep_until(t0 + std::chrono::seconds(31));
    int tries = 0, taken = 0;
    double newcomer = -2;
    for (int s = 31; s < 40; ++s) {
        for (uint8_t m = 71; m <= 75; ++m) {
            ++tries;
            taken += replyOnNewConnectionMs(program.tcpPort(), m, info, 300) >= 0;
        }
        if (s == 35) newcomer = replyOnNewConnectionMs(program.tcpPort(), 76, info, 5000);
        std::this_thread::sleep_until(t0 + std::chrono::seconds(s + 1));
    }
    const double second = timedRequest(poller, info, 2000);
    stop = true;
    for (int fd : busy) ::shutdown(fd, SHUT_RDWR);
    for (auto& th : t) th.join();
    for (int fd : busy) ::close(fd);
    ::close(poller);
    const auto text = [](double ms) {
        char t[32];
        std::snprintf(t, sizeof t, ms >= 0 ? "%.1f ms" : "none", ms);
        return std::string(t);
    };
    char out[400];
    std::snprintf(out, sizeof out,
                  "| every place busy: a poller's answer at 0 s / at 40 s | %s / %s |\n| the same: fourth connections of "
                  "the 5 busy machines (31-40 s) answered, each in the place of its own machine's | %d of %d |\n| the same: a new machine at 35 s, its answer | %s |\n",
                  text(first).c_str(), text(second).c_str(), taken, tries, text(newcomer).c_str());
    return out;
}

int placesByMachine(int offset) {
    benchctl::Controller program;
    if (!startSettled(program, "rtt-machines", offset + 120)) return 1;
    const std::string eight = onePcsEightConnections(program);
    const std::string idle = newPortBesideFloods(program, false);
    const std::string flooded = newPortBesideFloods(program, true);
    const std::string poller = pollerBesideBusyPlaces(program);
    const int given = logLines(program.root(), "places given up");
    program.stop();
    std::printf("\nPlaces by machine (controller program):\n\n| measure | value |\n|---|---|\n%s%s\nA tool that sends "
                "each request from a new port, every 0.5 s for 10 s, and a PC of another machine from one port:\n\n"
                "| beside | new port each time: answered | one port: answered | the floods' commands answered |\n"
                "|---|---|---|---|\n%s%s\nLog lines of places given up: %d\n",
                eight.c_str(), poller.c_str(), idle.c_str(), flooded.c_str(), given);
    return 0;
}

// ---- a pass-through's wait behind a stalled tick (in this process, whose tick stands still)

// Cards that never answer: each pass-through's wait ends on its wall-clock backstop. Notes
// when each frame went and when its wait last looked for an answer.
class SilentCards : public ProtocolEngines {
public:
    int passToCards(const uint8_t*, unsigned) override {
        std::lock_guard<std::mutex> l(m_);
        passed_.push_back(Clock::now());
        return kEngineOk;
    }
    void serviceCardAnswers() override {
        std::lock_guard<std::mutex> l(m_);
        lastLook_ = Clock::now();
    }
    size_t passed() {
        std::lock_guard<std::mutex> l(m_);
        return passed_.size();
    }
    // Seconds from each pass to the next, the last to its last look.
    std::vector<double> waits() {
        std::lock_guard<std::mutex> l(m_);
        std::vector<double> w;
        for (size_t i = 0; i < passed_.size(); ++i)
            w.push_back(std::chrono::duration<double>((i + 1 < passed_.size() ? passed_[i + 1] : lastLook_) - passed_[i]).count());
        return w;
    }

private:
    std::mutex m_;
    std::vector<Clock::time_point> passed_;
    Clock::time_point lastLook_;
};

// One TCP client's pass-through alone, then three clients' at once: each one's wait.
std::string stalledTickWaits(int port) {
    const auto card = cardLine();
    const auto run = [&](int clients) {
        SilentCards cards;
        installProtocolEngines(&cards);
        std::vector<int> fds;
        for (int i = 0; i < clients; ++i) fds.push_back(connectTo(port));
        for (int fd : fds) ::send(fd, card.data(), card.size(), MSG_NOSIGNAL);
        while (cards.passed() < size_t(clients) || control_link::passThroughsWaiting() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::seconds(4));  // the last one's wait is over
        installProtocolEngines(nullptr);
        for (int fd : fds) ::close(fd);
        return cards.waits();
    };
    const std::vector<double> alone = run(1);
    const std::vector<double> three = run(3);
    char out[400];
    std::snprintf(out, sizeof out,
                  "\nBehind a stalled tick, silent cards: one pass-through alone waits %.2f s (the floor); three at once "
                  "wait %.2f / %.2f / %.2f s (first / floor %.2f)\n",
                  alone.empty() ? 0 : alone[0], three.size() > 0 ? three[0] : 0, three.size() > 1 ? three[1] : 0,
                  three.size() > 2 ? three[2] : 0, alone.empty() || three.empty() ? 0 : three[0] / alone[0]);
    return out;
}

std::string allowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return "?";
    return std::to_string(CPU_COUNT(&set)) + " of " + std::to_string(std::thread::hardware_concurrency());
}
}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);  // a connection the controller closed fails its writes, not the benchmark
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool udpOnly = mode == "udp";  // only the UDP places and held bytes
    const bool tcpOnly = mode == "tcp";  // only the TCP pipeliners' memory
    const bool placesOnly = mode == "places";  // only the ninth machine and the file transfer
    const int count = argc > 1 && !udpOnly && !tcpOnly && !placesOnly ? std::atoi(argv[1]) : 20000;
    plat::setBoard(plat::Board::Sim);
    const std::string root = benchenv::tempRoot("rtt");
    plat::setRoot(root);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    const int offset = benchenv::portOffset(30000 + int(getpid() % 500) * 20);
    plat::net::setPortOffset(offset);
    if (udpOnly || tcpOnly || placesOnly) {
        const int rc = udpOnly   ? udpPlacesAndMemory(offset)
                       : tcpOnly ? tcpPipelinersMemory(offset) | tcpOneMachine(offset)
                                 : ninthAndTransfer(offset) | placesByMachine(offset);
        std::fflush(stdout);
        std::error_code ec;
        std::filesystem::remove_all(root, ec);  // no root left behind in TMPDIR
        std::_Exit(rc);
    }
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    udpnetManage::pInstance();
    Kv_uart_inout::pInstance();
    networkManage::pInstance();
    Kv_uart_inout_4G::pInstance();
    const int port = networkManage::p_networkManage->port();
    if (port <= 0) {   // held by another program (said above): no figures of a controller without its link
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
        std::_Exit(1);   // the links' threads still run: no static destructors under them
    }
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
    std::printf("%s", stalledTickWaits(port).c_str());
    std::fflush(stdout);
    int rc = besideLongCommands(offset);
    std::fflush(stdout);
    rc |= passAfterLayoutChange(offset);
    std::fflush(stdout);
    rc |= passAfterStart(offset);
    std::fflush(stdout);
    std::printf("%s", cardJobBesidePolls().c_str());
    rc |= udpPlacesAndMemory(offset);
    std::fflush(stdout);
    rc |= tcpPipelinersMemory(offset);
    std::fflush(stdout);
    rc |= tcpOneMachine(offset);
    std::fflush(stdout);
    rc |= ninthAndTransfer(offset);
    std::fflush(stdout);
    rc |= placesByMachine(offset);
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::_Exit(rc);  // the transport threads live as long as the process, as on the device
}
