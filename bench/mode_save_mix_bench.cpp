// User-mode saves while PCs rewrite the mode region. The controller program runs on the simulated
// board as ./run.sh starts it (two live inputs); once the FPGA engine switches the screen, four
// PCs on the TCP link rewrite RAM 0x380..0xFFF whole, one frame each, alternately with patterns A
// and B, while a fifth asks for N user-mode saves (RAM 0x364 = 4, register 11 bit 2) and reads
// back, after each, slot 4 over the protocol and its mode file from the root, and a sixth reads
// the region whole over and over. A copy holding bytes only A has and bytes only B has is mixed.
// The floor is the same N saves with no PC writing: a save's time from its request to the
// request word read back as 0, against the floor's.
//   mode_save_mix_bench [saves=100] [runs=3] [pause after each PC write, us=0] [controller]
// Delete then save: one PC deletes mode 4 (marker FF FF, register 11 bit 2), a second saves a new
// mode into its slot 0-10 ms after the delete is answered (marker AA AA, register 11 bit 2), N
// rounds; a round whose saved mode is not in the slot and its file within 5 s is lost.
//   mode_save_mix_bench delete-save [rounds=1000] [controller]
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
using Bytes = std::vector<uint8_t>;
using benchstats::msSince;
using benchstats::percentile;
using Pc = benchnet::Pc;

constexpr int kSlot = 3;                  // user mode 4
constexpr uint32_t kExtendScreenState = 29;  // extend RAM: 1 shown, 0 black, as the FPGAs hold it

// RAM 0x844 = `black`, applied, until the FPGAs hold it (at most 60 s: they come up first).
// The other state goes first: a word the scaler's bring-up took is no change to hand over.
bool switchScreen(Pc& pc, bool black) {
    const auto t0 = Clock::now();
    Bytes held;
    while (msSince(t0) < 60000) {
        for (bool b : {!black, black}) {
            pc.write(vlxram::kScreenState, {uint8_t(b), 0});
            pc.reg(ctl::kRegUpdate, 0x02, 0x02);
        }
        for (auto t1 = Clock::now(); msSince(t1) < 1000;) {
            if (pc.read((ctl::kSpaceExtend << ctl::kSpaceShift) | kExtendScreenState, 1, &held) && held[0] == !black)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return false;
}

// A and B differ in words no engine writes back (the stretch after the EDID words, the spare
// word before the window records, the tail after the fade table), in words the scaler applies
// (contrast, a window's place, a fade: each save's pass lays the windows out again) and in the
// screen state, which the FPGA engine switches and writes back after each save's pass.
Bytes pattern(const Bytes& start, uint16_t marker, bool second) {
    Bytes m = start;
    auto set = [&](unsigned address, uint16_t v) { VlxRamPara::setU16(m.data(), address - vlxram::kModeStart, v); };
    for (unsigned a = 0x3A4; a < vlxram::kSpliceMode; a += 2) set(a, marker);
    set(vlxram::kUnused8DE, marker);
    for (unsigned a = vlxram::kFadeTable + 4 * vlxram::kFadeEntries; a < vlxram::kRamSize; a += 2) set(a, marker);
    set(vlxram::kContrast, second ? 40 : 60);
    set(vlxram::windowField(0, vlxram::kWinX), second ? 64 : 0);
    set(vlxram::kFadeTable, second ? 20 : 60);
    set(vlxram::kScreenState, second ? 1 : 0);
    return m;
}

// A mode copy starting at RAM 0x380 with bytes only A has and bytes only B has.
bool mixed(const uint8_t* m, const Bytes& a, const Bytes& b) {
    bool fromA = false, fromB = false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        fromA = fromA || m[i] == a[i];
        fromB = fromB || m[i] == b[i];
    }
    return fromA && fromB;
}

struct Run {
    int saves = 0, lost = 0, mixedFiles = 0, mixedSlots = 0, mixedSaves = 0;
    long writes = 0, reads = 0, mixedReads = 0;
    std::vector<double> ms;
};

Run runOnce(const char* program, int saves, bool writers, int paceUs, int offset) {
    Run r;
    benchctl::Controller ctl;
    ctl.addEnv("VLX_SIM_SIGNALS=HDMI1 1920x1080@60; HDMI3 3840x2160@60");
    if (!ctl.start(program, "modemix", offset) || ctl.waitForAnswer() < 0) std::exit(1);
    Pc saver(ctl.tcpPort());
    Bytes start;
    if (!switchScreen(saver, true) || !switchScreen(saver, false) ||
        !saver.read(vlxram::kModeStart, uint16_t(vlxram::kModeLength), &start)) {
        std::fprintf(stderr, "the FPGA engine never switched the screen\n");
        ctl.stop();
        std::exit(1);
    }
    const Bytes a = pattern(start, 0x1111, false), b = pattern(start, 0x2222, true);
    saver.write(vlxram::kModeStart, a);
    std::atomic<bool> stop{false};
    std::atomic<long> written{0}, reads{0}, mixedReads{0};
    std::vector<std::thread> pcs;
    for (int k = 0; writers && k < 4; ++k)
        pcs.emplace_back([&, k] {
            Pc pc(ctl.tcpPort(), uint8_t(10 + k));  // a PC each: one address holds four places
            for (int i = k; !stop && pc.write(vlxram::kModeStart, i % 2 ? b : a); ++i) {
                ++written;
                if (paceUs) std::this_thread::sleep_for(std::chrono::microseconds(paceUs));
            }
        });
    if (writers)
        pcs.emplace_back([&] {
            Pc pc(ctl.tcpPort());
            for (Bytes now; !stop && pc.read(vlxram::kModeStart, uint16_t(vlxram::kModeLength), &now);) {
                ++reads;
                if (mixed(now.data(), a, b)) ++mixedReads;
            }
        });
    const auto began = Clock::now();
    for (int n = 0; n < saves; ++n) {
        const auto t0 = Clock::now();
        saver.write(vlxram::kModeSaveRequest, {uint8_t(kSlot + 1), 0});
        saver.reg(ctl::kRegUpdate, 0x04, 0x04);
        Bytes word;
        bool served = false;
        while (!served && msSince(t0) < 30000)
            served = saver.read(vlxram::kModeSaveRequest, 2, &word) && word[0] == 0 && word[1] == 0;
        if (!served) {
            ++r.lost;
            continue;
        }
        r.ms.push_back(msSince(t0));
        std::ifstream f(ctl.root() + "/data/modes/custom_mode" + std::to_string(kSlot + 1), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        Bytes slot;
        const bool fileMixed = file.size() < 2 + vlxram::kModeLength || mixed(file.data() + 2, a, b);
        const bool slotMixed = !saver.read(uint32_t(kSlot + 1) << 12, uint16_t(2 + vlxram::kModeLength), &slot) ||
                               mixed(slot.data() + 2, a, b);
        ++r.saves;
        r.mixedFiles += fileMixed;
        r.mixedSlots += slotMixed;
        r.mixedSaves += fileMixed || slotMixed;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    stop = true;
    for (auto& t : pcs) t.join();
    r.writes = long(double(written) / seconds);
    r.reads = reads;
    r.mixedReads = mixedReads;
    ctl.stop();
    return r;
}

struct DeleteSave {
    int rounds = 0, lost = 0, refused = 0;
    std::vector<double> ms;  // the save's answer to the mode in its file
};

DeleteSave deleteThenSave(const char* program, int rounds, int offset) {
    DeleteSave r;
    benchctl::Controller ctl;
    if (!ctl.start(program, "delsave", offset) || ctl.waitForAnswer() < 0) std::exit(1);
    const uint32_t slotAddress = uint32_t(kSlot + 1) << 12;
    const std::string file = ctl.root() + "/data/modes/custom_mode" + std::to_string(kSlot + 1);
    Pc checker(ctl.tcpPort());
    Bytes start;
    if (!checker.read(vlxram::kModeStart, uint16_t(vlxram::kModeLength), &start)) std::exit(1);
    std::atomic<int> deleted{-1}, saved{-1}, next{0}, refused{0};
    std::thread deleter([&] {
        Pc pc(ctl.tcpPort());
        for (int n = 0; n < rounds; ++n) {
            while (next < n) std::this_thread::yield();
            if (!pc.write(slotAddress, {vlxram::kModeEmpty, vlxram::kModeEmpty}) || !pc.reg(ctl::kRegUpdate, 0x04, 0x04))
                ++refused;
            deleted = n;
        }
    });
    std::vector<Clock::time_point> answered(static_cast<size_t>(rounds));
    std::thread saver([&] {
        Pc pc(ctl.tcpPort());
        for (int n = 0; n < rounds; ++n) {
            while (deleted < n) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(n % 11 * 1000));
            Bytes slot = {vlxram::kModeSaved, vlxram::kModeSaved};
            const Bytes m = pattern(start, uint16_t(0x100 + n), false);
            slot.insert(slot.end(), m.begin(), m.end());
            if (!pc.write(slotAddress, slot) || !pc.reg(ctl::kRegUpdate, 0x04, 0x04)) ++refused;
            answered[size_t(n)] = Clock::now();
            saved = n;
        }
    });
    for (int n = 0; n < rounds; ++n) {
        while (saved < n) std::this_thread::sleep_for(std::chrono::microseconds(200));
        const uint16_t marker = uint16_t(0x100 + n);
        const unsigned at = 0x3A4 - vlxram::kModeStart;  // a word only the marker sets
        bool kept = false;
        while (!kept && msSince(answered[size_t(n)]) < 5000) {
            Bytes head, word;
            std::ifstream f(file, std::ios::binary);
            const Bytes bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            kept = checker.read(slotAddress, 2, &head) && head[0] == vlxram::kModeSaved &&
                   checker.read(slotAddress + 2 + at, 2, &word) && VlxRamPara::getU16(word.data(), 0) == marker &&
                   bytes.size() == vlxram::kModeFileSize && VlxRamPara::getU16(bytes.data() + 2, at) == marker;
            if (!kept) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (kept) r.ms.push_back(msSince(answered[size_t(n)]));
        else ++r.lost;
        ++r.rounds;
        next = n + 1;
    }
    deleter.join();
    saver.join();
    r.refused = refused;
    ctl.stop();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "delete-save") {
        const int rounds = argc > 2 ? std::atoi(argv[2]) : 1000;
        const char* program = argc > 3 ? argv[3] : VLX_CONTROLLER;
        const DeleteSave r = deleteThenSave(program, rounds, benchenv::portOffset(37000 + int(getpid() % 500) * 20));
        std::printf("| rounds | refused | saves lost | kept: p50 ms | p90 ms | max ms |\n|---|---|---|---|---|---|\n");
        std::printf("| %d | %d | %d of %d | %.1f | %.1f | %.1f |\n", r.rounds, r.refused, r.lost, r.rounds,
                    percentile(r.ms, 0.5), percentile(r.ms, 0.9), percentile(r.ms, 1.0));
        return r.lost == 0 ? 0 : 1;
    }
    const int saves = argc > 1 ? std::atoi(argv[1]) : 100;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const int paceUs = argc > 3 ? std::atoi(argv[3]) : 0;  // each PC's pause after a write, 0: none
    const char* program = argc > 4 ? argv[4] : VLX_CONTROLLER;  // another build of the controller to compare
    const int offset = benchenv::portOffset(37000 + int(getpid() % 500) * 20);
    const Run floor = runOnce(program, saves, false, 0, offset);
    std::fprintf(stderr, "floor: done\n");
    std::printf("| run | region writes/s | saves (unserved) | mixed files | mixed slots | mixed saves | mixed region "
                "reads | save p50 ms | p90 ms | p90 / floor |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    auto row = [&](const std::string& name, const Run& r) {
        const double p90 = percentile(r.ms, 0.9), f90 = percentile(floor.ms, 0.9);
        std::printf("| %s | %ld | %d (%d) | %d | %d | %d of %d | %ld of %ld | %.1f | %.1f | %.2f |\n", name.c_str(),
                    r.writes, r.saves, r.lost, r.mixedFiles, r.mixedSlots, r.mixedSaves, r.saves, r.mixedReads,
                    r.reads, percentile(r.ms, 0.5), p90, f90 > 0 ? p90 / f90 : 0);
        std::fflush(stdout);
    };
    row("no PC writing (floor)", floor);
    for (int k = 0; k < runs; ++k) row("four PCs writing, run " + std::to_string(k + 1), runOnce(program, saves, true, paceUs, offset));
    return 0;
}
