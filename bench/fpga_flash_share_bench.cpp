// FPGA 0's configuration flash shared by two PCs saving its parameters (0x81) and the
// engine's start-up load of both FPGAs (RAM-50 block, unique ID, records), with the
// flashes busy for the part's own erase and program times in real time. Reports the
// commands the flash models took while busy (a real part ignores them), the saves answered
// failed and the start-up loads that gave an FPGA a wrong unique ID or RAM-50 block, and the
// time of a save and of a load beside the others against each alone (the floor, same run).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/startup.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/fpga_protocol.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"

using namespace plat::sim;
using Clock = std::chrono::steady_clock;

namespace {

struct Phase {
    int saves = 0, failedSaves = 0;
    int loads = 0, wrongLoads = 0, loadsBesideErase = 0;
    unsigned misuse = 0;
    double saveMs = 0, loadMs = 0;  // mean per save, per load of both FPGAs
};

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::max(2, std::atoi(argv[1])) : 40;  // per saver
    const std::string root = benchenv::tempRoot("flashshare");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(root);
    prepareDataFolders();
    plat::setSleepScale(0);
    SimBoard& b = board();
    buildStandardBoard(b);
    std::shared_ptr<SimFpga> fpga[2] = {b.find<SimFpga>("fpga0"), b.find<SimFpga>("fpga1")};
    std::shared_ptr<SpiNorFlash> flash[2] = {b.find<SpiNorFlash>("flash0"), b.find<SpiNorFlash>("flash1")};
    std::vector<uint8_t> block(256);
    for (size_t k = 0; k < block.size(); ++k) block[k] = uint8_t(0x31 + 7 * k);
    for (auto& f : flash) {
        f->load(FLASH_RAM50_BLOCK, block);
        f->setBusyPolls(2);  // the bring-up below steps the board clock
    }
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    auto* e = new fpga_manage;
    if (e->initialize() != 0) return 1;
    e->stopThread();
    g_fpga_c331_start = 1;
    for (int k = 0; k < 5000 && !e->get_fpga_status(); ++k) {
        G_timeTicks.fetch_add(1);
        b.step(10 * kNsPerMs);
        e->fpga_manage_deal();
    }
    if (!e->get_fpga_status()) {
        std::fprintf(stderr, "the FPGAs did not come up\n");
        return 1;
    }
    // From here on the flashes are busy for the part's times, and every pause is real.
    for (auto& f : flash) f->setBusyPolls(0);
    b.followRealTime(true);
    plat::setSleepScale(1);
    FpgaProtocolEngines pe(e);

    auto misuse = [&] { return flash[0]->misuseCount() + flash[1]->misuseCount(); };
    // One start-up load of both FPGAs, as a restart runs it (the RAM-50 block and the ID
    // registers cleared first); false when either FPGA was left without the unique ID or
    // RAM-50 block its flash holds.
    const std::vector<uint8_t> zeros(block.size(), 0);
    auto load = [&] {
        bool right = true;
        for (int i = 0; i < 2; ++i) {
            e->write_fpga_ram(zeros.data(), 0, uint16_t(zeros.size()), FPGA_RAM_FLASHBLOCK, i);
            for (int k = 0; k < int(kFlashUidBytes); ++k) e->write_to_register(uint8_t(FPGA_REG_UID0 + k), 0xFF, 0, i);
            e->fpgainit(i);
            right = right && fpga[i]->ram(FPGA_RAM_FLASHBLOCK, 0, block.size()) == block;
            for (int k = 0; k < int(kFlashUidBytes); ++k)
                right = right && fpga[i]->reg(uint8_t(FPGA_REG_UID0 + k)) == kFpgaFlashUid[0][k];
        }
        return right;
    };
    auto run = [&](int savers, bool loading) {
        Phase p;
        const unsigned misuse0 = misuse();
        std::atomic<int> saving{savers}, failed{0};
        std::vector<std::thread> pcs;
        const auto t0 = Clock::now();
        for (int s = 0; s < savers; ++s)
            pcs.emplace_back([&] {
                for (int n = 0; n < saves; ++n)
                    if (pe.fpgaSaveParameters(0) != kEngineOk) ++failed;
                --saving;
            });
        double loadMs = 0;
        while (loading && (savers ? saving > 0 : p.loads < saves)) {
            const uint64_t erases = flash[0]->counters().erases;
            const auto l0 = Clock::now();
            if (!load()) ++p.wrongLoads;
            loadMs += msSince(l0);
            ++p.loads;
            if (flash[0]->counters().erases != erases) ++p.loadsBesideErase;
        }
        for (auto& t : pcs) t.join();
        const double all = msSince(t0);
        p.saves = savers * saves;
        p.failedSaves = failed;
        p.misuse = misuse() - misuse0;
        p.saveMs = savers ? all / saves : 0;  // a save's mean time on each PC
        p.loadMs = p.loads ? loadMs / p.loads : 0;
        return p;
    };
    const Phase saveFloor = run(1, false);
    const Phase loadFloor = run(0, true);
    const Phase both = run(2, true);

    std::printf("FPGA 0's flash: %d saves per PC (0x81), start-up loads of both FPGAs, flashes busy in real time\n\n",
                saves);
    std::printf("| run | saves (failed) | loads (wrong; beside an erase) | commands while busy | ms per save | / floor |"
                " ms per load | / floor |\n|---|---|---|---|---|---|---|---|\n");
    auto row = [&](const char* name, const Phase& p) {
        std::printf("| %s | %d (%d) | %d (%d; %d) | %u | %.1f | %.2f | %.1f | %.2f |\n", name, p.saves, p.failedSaves,
                    p.loads, p.wrongLoads, p.loadsBesideErase, p.misuse, p.saveMs,
                    saveFloor.saveMs > 0 ? p.saveMs / saveFloor.saveMs : 0, p.loadMs,
                    loadFloor.loadMs > 0 && p.loads ? p.loadMs / loadFloor.loadMs : 0);
    };
    row("one PC saving (floor)", saveFloor);
    row("start-up loads alone (floor)", loadFloor);
    row("two PCs saving beside the loads", both);
    b.followRealTime(false);
    delete e;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::fflush(nullptr);
    std::_Exit(0);
}
