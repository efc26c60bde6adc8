// Receiving-card benchmark (not a test), on the simulated board: from link-up to a
// complete card table for 2 x 16 ports x N cards (time, search passes, SPI frames and bus
// time), the bus share of the periodic search, and the pass-through round trip of a card
// memory read over TCP beside a sending-card register read.
//
//   build-test/bench/card_bench [round-trips]
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/fpga_protocol.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "protocol/control_frame.h"
#include "protocol/networkmanage.h"
#include "protocol/protocol_phy.h"

namespace {

using Clock = std::chrono::steady_clock;
using plat::sim::SimFpga;
constexpr double kSpiHz = 10e6;

struct Bus {
    uint64_t frames = 0, bytes = 0;
};
Bus busOf(SimFpga* f[2]) {
    Bus b;
    for (int i = 0; i < 2; ++i) {
        b.frames += f[i]->counters().frames;
        b.bytes += f[i]->counters().bytes;
    }
    return b;
}
double busMs(const Bus& a, const Bus& b) { return double(b.bytes - a.bytes) * 8 / kSpiHz * 1e3; }

void tick(fpga_manage* e) {
    G_timeTicks.fetch_add(1);
    plat::sim::board().step(10 * plat::sim::kNsPerMs);
    e->reg_IRQ_Dealwith(0);
    e->reg_IRQ_Dealwith(1);
    e->Check_search_card();
}

bool complete(fpga_manage* e, unsigned n) {
    for (int p = 0; p < 32; ++p)
        if (e->get_port_card_num(p) != n) return false;
    return true;
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

std::vector<uint8_t> line(std::vector<uint8_t> f) {
    f.push_back(Utils::BCC(f.data(), unsigned(f.size())));
    std::vector<uint8_t> out;
    protocol_phy::data_re_transf_meaning(out, f.data(), f.size());
    return out;
}

struct Percentiles {
    double p50, p99;
};
Percentiles measure(int port, const std::vector<uint8_t>& req, int count) {
    const int fd = connectTo(port);
    frame_deframer d(ctl::kMaxFrame);
    std::vector<double> us;
    for (int i = 0; i < count + 50; ++i) {
        const auto t0 = Clock::now();
        if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) != ssize_t(req.size())) std::exit(2);
        bool frame = false;
        uint8_t buf[4096];
        while (!frame) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) std::exit(3);
            d.feed(buf, size_t(n), [&](const uint8_t*, size_t) { frame = true; });
        }
        if (i >= 50) us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(fd);
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    const std::string tmpl = benchenv::tempRoot("cards");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(tmpl);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    plat::sim::SimBoard& board = plat::sim::board();
    plat::sim::buildStandardBoard(board);
    SimFpga* f[2] = {board.find<SimFpga>("fpga0").get(), board.find<SimFpga>("fpga1").get()};
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    auto* e = new fpga_manage;
    e->initialize();
    e->stopThread();
    for (int i = 0; i < 2; ++i) {  // both FPGAs up without their start-up
        e->write_to_register(FPGA_VREG_STATE, 0xFF, FPGA_STATE_RUNNING, i);
        e->start_state[i] = 7;
        e->check_state[i] = 18;
        e->image_loaded[i] = 1;
    }
    pc_window::clear();

    std::printf("| cards per port | time to a full table | search passes | SPI frames | bus time |\n|---|---|---|---|---|\n");
    for (unsigned n : {1u, 16u, 64u}) {
        for (int i = 0; i < 2; ++i)
            for (int p = 0; p < 16; ++p) f[i]->attachCards(p, 0);
        for (int k = 0; k < 100; ++k) tick(e);  // unplugged ports read 0
        for (int i = 0; i < 2; ++i)
            for (int p = 0; p < 16; ++p) f[i]->attachCards(p, n);
        const Bus b0 = busOf(f);
        const uint32_t t0 = G_timeTicks, pass0 = g_change.search_pass_count;
        while (!complete(e, n) && Utils::getTimeSpace(t0) < 10000) tick(e);
        const Bus b1 = busOf(f);
        std::printf("| %u | %u ms | %u | %llu | %.2f ms |\n", n, Utils::getTimeSpace(t0) * 10,
                    g_change.search_pass_count - pass0, (unsigned long long)(b1.frames - b0.frames), busMs(b0, b1));
    }
    const Bus s0 = busOf(f);
    constexpr int kSteady = 6000;
    for (int k = 0; k < kSteady; ++k) tick(e);
    const Bus s1 = busOf(f);
    std::printf("\n| periodic search, 32 ports x 64 cards | value |\n|---|---|\n");
    std::printf("| bus time per second | %.2f ms (%.3f %% of the bus) |\n", busMs(s0, s1) / (kSteady / 100.0),
                busMs(s0, s1) / (kSteady * 10.0) * 100);

    // pass-through round trip over TCP, the GUI's tick running
    FpgaProtocolEngines engines(e);
    installProtocolEngines(&engines);
    board.followRealTime(true);
    plat::net::setPortOffset(benchenv::portOffset(31000 + int(getpid() % 500) * 20));
    networkManage::pInstance();
    const int port = networkManage::p_networkManage->port();
    if (port <= 0) return 1;
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            G_timeTicks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto card = line({0x03, 0x30, 0x10, 0xF0, 0x10, 'g', 1, 20, 0, 0x61, 0, 1, 0, 0, 16, 0, 0, 0});
    const auto reg = line({0x00, 0xF0, 0x10, 0xF0, 4, 0, 0, 1, 0, ctl::kGroupReadRegisters, 129, 0, 1, 0});
    const Percentiles c = measure(port, card, count);
    const Percentiles r = measure(port, reg, count);
    stop = true;
    ticker.join();
    std::printf("\n| round trip over TCP | p50 | p99 |\n|---|---|---|\n");
    std::printf("| card memory read, card 3 of global port 20 | %.0f us | %.0f us |\n", c.p50, c.p99);
    std::printf("| sending-card register read | %.0f us | %.0f us |\n", r.p50, r.p99);
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    std::_Exit(0);
}
