// Control-protocol benchmark (not a test): request -> reply round trip of a controller
// register read over loopback TCP beside a bare echo server measured in the same run,
// frames per second with 1 and 8 clients, and the process's CPU use while every
// transport (TCP, UDP, both serial lines) sits idle.
//
//   build-bench/bench/protocol_rtt_bench [round-trips]
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

std::vector<uint8_t> registerReadLine() {
    std::vector<uint8_t> f(ctl::kHeaderSize);
    ctl::wr16(f.data() + ctl::kDst, ctl::kAddrController);
    ctl::wr16(f.data() + ctl::kSrc, ctl::kAddrPc);
    ctl::wr16(f.data() + ctl::kLen, 4);
    f[ctl::kGroup] = ctl::kGroupReadRegisters;
    f.insert(f.end(), {11, 0, 1, 0});
    uint8_t x = 0;
    for (uint8_t b : f) x ^= b;
    f.push_back(x);
    std::vector<uint8_t> line;
    protocol_phy::data_re_transf_meaning(line, f.data(), f.size());
    return line;
}

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

Percentiles measure(int port, bool echo, int count) {
    const int fd = connectTo(port);
    const auto req = registerReadLine();
    frame_deframer d(ctl::kMaxFrame);
    std::vector<double> us;
    us.reserve(size_t(count));
    for (int i = 0; i < count + 1000; ++i) {
        const auto t0 = Clock::now();
        if (!roundTrip(fd, req, echo, d)) std::exit(2);
        if (i >= 1000) us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(fd);
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
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
}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    char tmpl[] = "/tmp/vlx-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(tmpl);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    plat::net::setPortOffset(30000 + int(getpid() % 500) * 20);
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    udpnetManage::pInstance();
    Kv_uart_inout::pInstance();
    networkManage::pInstance();
    Kv_uart_inout_4G::pInstance();
    const int port = networkManage::p_networkManage->port();
    if (port <= 0) return 1;
    EchoServer echo;

    const Percentiles e = measure(echo.port(), true, count);
    const Percentiles c = measure(port, false, count);
    const double f1 = framesPerSecond(port, 1, 2.0);
    const double f8 = framesPerSecond(port, 8, 2.0);

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = cpuSeconds();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double idle = (cpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - w0).count() * 100.0;

    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| echo server round trip p50 / p99 | %.1f us / %.1f us |\n", e.p50, e.p99);
    std::printf("| register read round trip p50 / p99 | %.1f us / %.1f us |\n", c.p50, c.p99);
    std::printf("| register read p50 / echo p50 | %.2f |\n", c.p50 / e.p50);
    std::printf("| frames per second, 1 client | %.0f |\n", f1);
    std::printf("| frames per second, 8 clients | %.0f |\n", f8);
    std::printf("| CPU while idle (TCP, UDP, both serial lines) | %.3f %% of one core |\n", idle);
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    std::_Exit(0);  // the transport threads live as long as the process, as on the device
}
