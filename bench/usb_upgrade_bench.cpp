// USB upgrade benchmark (not a test), on the simulated board: a package with two bitstreams
// of the largest size the configuration flashes hold and a 4 MiB application, installed from
// a stick plugged in through board control, with the flashes' real erase and program times
// on a board clock that follows real time and the upgrade's own waits slept in full.
// Beside it, in the same run, the floor: what the flash part itself needs to erase and
// program those bytes the way the upgrade erases them (32 KiB blocks, 4 KiB sectors), from
// the part's table and as slept on this machine, each erase and page program its time one
// after another. The slept floor is timed just before and just after the upgrade, so on a
// busy machine the ratio holds: both pay the same timer slack.
//
//   build-bench/bench/usb_upgrade_bench [bitstream bytes]   (default 0x6C0000)
#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_package.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_shell.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = 0x9E3779B9u * (seed + 1);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x >> 24);
    }
    return s;
}

void writeFile(const std::string& device, const std::string& content) {
    const std::filesystem::path p(plat::path(device));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

// The part's own time for erasing and programming `length` bytes from address 0.
double floorSeconds(const plat::sim::NorPart& part, uint32_t length) {
    double us = 0;
    for (const usbpkg::EraseUnit& u : usbpkg::erasePlan(0, length))
        us += u.kind == 1 ? part.block32EraseUs : part.sectorEraseUs;
    us += double((length + part.pageSize - 1) / part.pageSize) * part.pageProgramUs;
    return us / 1e6;
}

// The same erases and page programs, each slept for the part's time, for `flashes` flashes.
double sleptFloorSeconds(const plat::sim::NorPart& part, uint32_t length, int flashes) {
    const auto t0 = Clock::now();
    for (int f = 0; f < flashes; ++f) {
        for (const usbpkg::EraseUnit& u : usbpkg::erasePlan(0, length))
            std::this_thread::sleep_for(std::chrono::microseconds(u.kind == 1 ? part.block32EraseUs : part.sectorEraseUs));
        for (uint32_t at = 0; at < length; at += part.pageSize)
            std::this_thread::sleep_for(std::chrono::microseconds(part.pageProgramUs));
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t bitstream = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 0)) : usbpkg::kBitstreamMax;
    const uint32_t app = 4u << 20;
    const std::string tmpl = benchenv::tempRoot("upgrade");
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(tmpl);
    plat::setSleepScale(1);  // the upgrade's own waits in full
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log", "/data/app"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    plat::sim::SimBoard& board = plat::sim::board();
    plat::sim::buildStandardBoard(board);
    plat::shell();
    plat::sim::simShell()->setRebootHook([] {});
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    g_usb_grade_path = QStringLiteral("VLX-H71");

    writeFile("/work/app", bytes(app, 1));
    writeFile("/work/fpga0", bytes(bitstream, 2));
    writeFile("/work/fpga1", bytes(bitstream, 3));
    writeFile("/sim/usb-stick/VLX-H71/x", "");
    const std::string script = VLX_SOURCE_DIR "/scripts/gen_upgrade_package.py";
    const std::string cmd = "python3 " + script + " " + plat::path("/sim/usb-stick/VLX-H71/H71N.VLX") + " --app " +
                            plat::path("/work/app") + " --fpga0 " + plat::path("/work/fpga0") + " --fpga1 " +
                            plat::path("/work/fpga1");
    if (std::system(cmd.c_str()) != 0 || plat::sim::runBoardCommand("usb insert") != "OK") return 1;

    auto* e = new fpga_manage;
    e->initialize();
    e->stopThread();
    std::shared_ptr<plat::sim::SpiNorFlash> flash[2] = {board.find<plat::sim::SpiNorFlash>("flash0"),
                                                         board.find<plat::sim::SpiNorFlash>("flash1")};
    board.followRealTime(true);  // the flashes stay busy for the part's times on this clock

    const plat::sim::NorPart& part = plat::sim::norPart("nor-8m");
    const double sleptBefore = sleptFloorSeconds(part, bitstream, 2);
    g_send_para[1] = 0;
    g_usb_grade = 1;
    e->usb_upgrade_manage_deal();  // display, start time
    e->usb_upgrade_manage_deal();  // package list
    const uint64_t erases0 = flash[0]->counters().erases + flash[1]->counters().erases;
    const uint64_t programs0 = flash[0]->counters().programs + flash[1]->counters().programs;
    const plat::sim::BoardNs b0 = board.now();
    const auto t0 = Clock::now();
    e->usb_upgrade_manage_deal();  // the installation
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double boardSeconds = double(board.now() - b0) / 1e9;
    e->usb_upgrade_manage_deal();  // end time, code 104
    const double sleptAfter = sleptFloorSeconds(part, bitstream, 2);
    const double slept = (sleptBefore + sleptAfter) / 2;

    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        const std::string want = bytes(bitstream, 2 + unsigned(i));
        ok = ok && flash[i]->read(0, bitstream) == std::vector<uint8_t>(want.begin(), want.end());
    }
    std::ifstream in(plat::path("/data/app/vlxH71N"), std::ios::binary);
    const std::string installed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double floor = 2 * floorSeconds(part, bitstream);
    // the waits the upgrade itself keeps: 1 ms after each erase and before each 32 KiB piece,
    // 100 ms per entry, the package's 1 ms, the application's 10 ms and the swap's 1.04 s
    const double waits = 2 * (double(usbpkg::erasePlan(0, bitstream).size()) +
                              double((bitstream + 32767) / 32768)) * 1e-3 + 3 * 0.1 + 0.001 + 0.01 + 1.04;

    std::printf("| upgrade: 2 x %u-byte bitstreams, %u-byte application | value |\n|---|---|\n", bitstream, app);
    std::printf("| installed as packaged | %s |\n", ok && installed == bytes(app, 1) ? "yes" : "NO");
    std::printf("| erase commands, page programs | %llu, %llu |\n",
                (unsigned long long)(flash[0]->counters().erases + flash[1]->counters().erases - erases0),
                (unsigned long long)(flash[0]->counters().programs + flash[1]->counters().programs - programs0));
    std::printf("| floor: the flash part's erase and program times | %.2f s |\n", floor);
    std::printf("| floor as slept here, just before / just after the upgrade | %.2f s / %.2f s |\n", sleptBefore,
                sleptAfter);
    std::printf("| the upgrade's own fixed waits (within its time) | %.2f s |\n", waits);
    std::printf("| upgrade, board clock | %.2f s |\n", boardSeconds);
    std::printf("| upgrade, wall clock | %.2f s |\n", wall);
    std::printf("| upgrade / floor | %.3f |\n", wall / floor);
    std::printf("| upgrade / slept floor (mean of the two) | %.3f |\n", wall / slept);
    delete e;
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    return ok ? 0 : 1;
}
