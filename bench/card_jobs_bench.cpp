// Receiving-card job benchmark (not a test), on the simulated board: a scan-file replay (64 KiB
// of card RAM, a save, an activation) to M = 1, 16 and 64 cards of one port, a self-recovery of
// one card and a check over 32 nets. For each: engine passes and board time (one pass per
// 10 ms tick), wall time, frames and SPI bus time; and, as the floor measured in the same run,
// the same frames sent back to back by hand, each answer taken before the next frame. Each job
// runs N times (11), each run followed by its floor, so that a change in the machine's load falls
// on both alike: the ratio is the median of the N ratios, the times the medians of the N.
//
//   build-bench/bench/card_jobs_bench [N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using plat::sim::SimFpga;
constexpr double kSpiHz = 10e6;

SimFpga* g_fpga[2];
fpga_manage* g_engine;

uint64_t busBytes() { return g_fpga[0]->counters().bytes + g_fpga[1]->counters().bytes; }

void tick() {
    G_timeTicks.fetch_add(1);
    plat::sim::board().step(10 * plat::sim::kNsPerMs);
    g_engine->fpga_manage_deal();
}

void generate(const std::string& absolute, const std::string& desc) {
    const std::string script = VLX_SOURCE_DIR "/scripts/gen_rcv_files.py";
    const std::string descPath = plat::path("/gen.json");
    FILE* f = std::fopen(descPath.c_str(), "w");
    if (!f) std::exit(1);
    std::fputs(desc.c_str(), f);
    std::fclose(f);
    plat::makeDirs(absolute.substr(0, absolute.rfind('/')));
    const std::string cmd = "python3 '" + script + "' '" + descPath + "' '" + plat::path(absolute) + "'";
    if (std::system(cmd.c_str()) != 0) std::exit(2);
}

struct HostFrame {
    int fpga, port;
    std::vector<uint8_t> bytes;
};

std::vector<HostFrame> hostFrames() {
    std::vector<HostFrame> out;
    for (SimFpga* f : g_fpga)
        for (const auto& r : f->cardLog())
            if (!r.answer) out.push_back({r.fpga, r.port, r.bytes});
    return out;
}

struct Figures {
    uint32_t passes = 0;
    double wallMs = 0, busMs = 0, floorMs = 0, ratio = 0, ratioLow = 0, ratioHigh = 0;
    size_t frames = 0;
};

int g_repeats = 11;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs the job handed over until the engine ends it, then its floor: the same frames, each
// sent and its answer taken, nothing else. N times, `before` (untimed) ahead of each; passes,
// frames and bus time are the last run's.
Figures run(uint8_t op, const std::function<void()>& before = {}) {
    Figures r;
    std::vector<double> walls, floors, ratios;
    for (int rep = 0; rep < g_repeats; ++rep) {
        if (before) before();
        for (SimFpga* f : g_fpga) f->clearCardLog();
        const uint64_t bytes0 = busBytes();
        job_block::setU8(job_block::kStep, 0);
        job_block::setU8(job_block::kOperation, op);
        r.passes = 0;
        const auto t0 = Clock::now();
        while (job_block::operation() != job_block::kNoJob && r.passes < 200000) {
            tick();
            ++r.passes;
        }
        walls.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        r.busMs = double(busBytes() - bytes0) * 8 / kSpiHz * 1e3;
        const std::vector<HostFrame> frames = hostFrames();
        r.frames = frames.size();
        const auto f0 = Clock::now();
        for (const HostFrame& f : frames) {
            g_engine->Send_to_port(f.bytes.data(), uint16_t(f.bytes.size()), f.port, f.fpga);
            for (int k = 0; k < 4 && g_engine->reg_IRQ_Dealwith(f.fpga); ++k) {
            }
        }
        floors.push_back(std::chrono::duration<double, std::milli>(Clock::now() - f0).count());
        ratios.push_back(floors.back() > 0 ? walls.back() / floors.back() : 0.0);
    }
    r.wallMs = median(walls);
    r.floorMs = median(floors);
    r.ratio = median(ratios);
    r.ratioLow = *std::min_element(ratios.begin(), ratios.end());
    r.ratioHigh = *std::max_element(ratios.begin(), ratios.end());
    return r;
}

void print(const char* what, const Figures& f) {
    std::printf("| %s | %u | %.2f s | %.1f ms | %zu | %.2f ms | %.1f ms | %.2f (%.2f-%.2f) |\n", what, f.passes,
                f.passes / 100.0, f.wallMs, f.frames, f.busMs, f.floorMs, f.ratio, f.ratioLow, f.ratioHigh);
}

void plug(int port, size_t n, uint32_t id) {
    g_fpga[port / 16]->attachCards(port % 16, n);
    for (auto& c : g_fpga[port / 16]->chain(port % 16)->cards) c.configId = id;
}

void search() {
    for (int k = 0; k < 3; ++k) {
        G_timeTicks.fetch_add(80);
        tick();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_repeats = std::max(1, std::atoi(argv[1]));
    const std::string tmpl = benchenv::tempRoot("jobs");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(tmpl);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log", "/data/rcvrecovery", "/data/smartmapping"})
        plat::makeDirs(d);
    g_debugSwitch = 0;
    plat::sim::SimBoard& board = plat::sim::board();
    plat::sim::buildStandardBoard(board);
    g_fpga[0] = board.find<SimFpga>("fpga0").get();
    g_fpga[1] = board.find<SimFpga>("fpga1").get();
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    g_engine = new fpga_manage;
    g_engine->initialize();
    g_engine->stopThread();
    for (int i = 0; i < 2; ++i) {  // both FPGAs up without their start-up
        g_engine->write_to_register(FPGA_VREG_STATE, 0xFF, FPGA_STATE_RUNNING, i);
        g_engine->start_state[i] = 7;
        g_engine->check_state[i] = 18;
        g_engine->image_loaded[i] = 1;
    }
    pc_window::clear();
    g_fpga_c331_start = 1;

    std::printf("%d runs of each job, each followed by its floor; medians, the ratio's lowest and highest in brackets\n"
                "| job | engine passes | board time | wall | frames | SPI bus | floor (same frames) | wall / floor |\n"
                "|---|---|---|---|---|---|---|---|\n",
                g_repeats);
    generate("/data/smartmapping/bench.kvfile", R"({"kind": "standalone", "ops": [
        {"type": 1, "target": 1, "addr": 0, "fill": 65536, "seed": 5},
        {"type": 2, "timeticks": 100}, {"type": 3, "data": "01", "timeticks": 300}]})");
    g_kvfile_name = QStringLiteral("/data/smartmapping/bench.kvfile");
    line_type[line_field::kPort] = 0;
    for (size_t m : {1u, 16u, 64u}) {
        plug(0, m, 0);
        search();
        const std::string what = "scan-file replay, 64 KiB + save + activation, M = " + std::to_string(m);
        print(what.c_str(), run(job_block::kLoadScan));
    }

    // one screen of 32 nets of 16 cards; card 3 of LED18 lost its configuration
    std::string nets;
    for (int p = 0; p < 32; ++p) {
        std::string cards;
        for (int c = 0; c < 16; ++c)
            cards += std::string(c ? "," : "") + R"([{"type": 1, "target": 1, "addr": 4096, "fill": 65536, "seed": )" +
                     std::to_string(c) + R"(}, {"type": 3, "data": "01", "timeticks": 300}])";
        nets += std::string(p ? "," : "") + R"({"net_ledx": )" + std::to_string(p) + R"(, "cards": [)" + cards + "]}";
    }
    generate("/data/rcvrecovery/KVFX", R"({"kind": "packed", "screens": [{"config_id": 51,
        "para_ops": [{"type": 1, "target": 2, "data": "0102"}, {"type": 2, "timeticks": 100}], "nets": [)" + nets +
                                            "]}]}");
    for (int p = 0; p < 32; ++p) plug(p, 16, 51);
    search();
    print("check over 32 nets x 16 cards, nothing to update", run(job_block::kCheck));
    g_fpga[1]->chain(1)->cards[3].lost = true;
    print("check over 32 nets x 16 cards, a card of the 18th net", run(job_block::kCheck));
    g_fpga[1]->chain(1)->cards[3].lost = false;
    // each recovery takes the card a check found
    print("self-recovery of that card (2 + 66 + 1 frames)", run(job_block::kSelfRecovery, [] {
              g_fpga[1]->chain(1)->cards[3].lost = true;
              job_block::setU8(job_block::kStep, 0);
              job_block::setU8(job_block::kOperation, job_block::kCheck);
              for (int n = 0; job_block::operation() != job_block::kNoJob && n < 200000; ++n) tick();
              g_fpga[1]->chain(1)->cards[3].lost = false;
          }));
    std::fflush(stdout);
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    std::_Exit(0);
}
