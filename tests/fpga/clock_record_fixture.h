#pragma once
// Operating-time recorder world: FPGA 0's configuration flash with images from the
// generator, an engine booted on it (start-up runs the recorder's init), minutes stepped
// on the tick counter, and reboots that power the board down and up again.
#include <QDate>
#include <QDateTime>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "fpga/fpga_clock_record.h"
#include "fpga_fixture.h"
#include "protocol/protocol_engines.h"

namespace clocktest {

using namespace fpgatest;

constexpr uint32_t kArea = 0x6F3000;
constexpr uint32_t kAreaEnd = 0x734000;
constexpr uint32_t kHeader = 0x6F3000;
constexpr uint32_t kA = 0x6F4000;
constexpr uint32_t kB = 0x6F5000;
constexpr uint32_t kLog = 0x6F6000;

inline uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint32_t logEntry(uint32_t index) { return kLog + 4096 * (index / 256) + 16 * (index % 256); }

// The recorder's area as scripts/gen_clock_record.py writes it for `args`.
inline Bytes generateImage(const std::string& args) {
    const std::string out = plat::path("/clock-image.bin");
    const std::string cmd =
        "python3 " VLX_SOURCE_DIR "/scripts/gen_clock_record.py '" + out + "' " + args + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream f(out, std::ios::binary);
    Bytes img((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(img.size(), size_t(kAreaEnd - kArea)) << args;
    return img;
}

// A recorder caught just before an operation: the flash area and its state.
struct Prepared {
    Bytes area;
    CLOCK_RECORD state;
};

class ClockRecordTest : public FpgaTest {
protected:
    void TearDown() override {
        engine.reset();
        FpgaTest::TearDown();
    }

    SpiNorFlash& flash() { return *chips->flash[0]; }
    Bytes at(uint32_t address, size_t n) { return flash().read(address, n); }
    void load(const Bytes& area) { flash().load(kArea, area); }

    // Power off and on: the board again from its stores, an engine started on it.
    void reboot() {
        engine.reset();
        chipSet = powerUpBoard();
        board().setWallClock(wall);
        if (onPowerUp) onPowerUp();
        engine = std::make_unique<fpga_manage>();
        engine->drv->setBusyLimitMs(busyLimitMs);
        ASSERT_EQ(engine->initialize(), 0);
        engine->stopThread();
    }
    clock_record_run& rec() { return *engine->clock_record; }
    CLOCK_RECORD state() { return rec().snapshot(); }

    // n minutes of the engine's recorder, one step per 6001 ticks.
    void minutes(clock_record_run& r, int n) {
        for (int k = 0; k < n; ++k) {
            G_timeTicks.fetch_add(CLOCK_STEP_TICKS);
            r.clock_record_deal();
        }
    }
    void minutes(int n) { minutes(rec(), n); }

    Prepared prepare() { return {at(kArea, kAreaEnd - kArea), state()}; }

    // After a reboot: the total the recorder starts with (the flash's history), checked
    // to come from a whole repair with no bit programmed back to 1.
    uint32_t totalAfterReboot() {
        reboot();
        EXPECT_EQ(flash().misuseCount(), 0u) << "the repair at start-up";
        EXPECT_EQ(state().enabled, 1);
        return rec().total_minutes();
    }

    // Runs `op` on a recorder in the prepared state, on a fresh board, with the power cut
    // at the cut-th command frame the flash sees (0: no cut). True when the operation ran
    // to its end. `changes` gets the frame numbers (from 1) of its erases and programs.
    bool runPrepared(const Prepared& p, const std::function<void(clock_record_run&)>& op, unsigned cut,
                     std::vector<unsigned>* changes = nullptr) {
        reboot();
        load(p.area);
        CLOCK_RECORD s = p.state;
        s.last_step = G_timeTicks.load() - CLOCK_STEP_TICKS;  // the next step is due
        clock_record_run r(engine->drv, &s);
        // a flash without power reads busy for ever: give up on it soon (the recorder
        // waits once and leaves the rest of the update)
        if (cut) engine->drv->setBusyLimitMs(50);
        board().setSpiFrameLog(changes != nullptr);
        board().clearSpiFrames();
        flash().cutPowerAfterCommands(cut);
        op(r);
        EXPECT_EQ(flash().misuseCount(), 0u) << "no bit set back to 1 without an erase";
        if (changes) {
            EXPECT_EQ(board().spiFramesDropped(), 0u);
            unsigned n = 0;
            for (const auto& f : board().spiFrames()) {
                if (f.node != plat::wiring::kSpiFlash0 || f.selected == 0 || f.tx.empty()) continue;
                ++n;
                if (f.tx[0] == 0x02 || f.tx[0] == 0x20 || f.tx[0] == 0x52 || f.tx[0] == 0xD8) changes->push_back(n);
            }
        }
        return !flash().powerCut();
    }

    // The power cut before the operation's first erase or program and after each of them
    // (a cut at a read or status command leaves the cells as the cut after the last change
    // before it): after the reboot the total lies between the one before the operation and
    // the one after it. Returns the erases and programs the operation took.
    unsigned cutAtEveryCommand(const Prepared& p, const std::function<void(clock_record_run&)>& op,
                               uint32_t* before = nullptr, uint32_t* after = nullptr) {
        runPrepared(p, [](clock_record_run&) {}, 0);
        const uint32_t lo = totalAfterReboot();
        std::vector<unsigned> changes;
        EXPECT_TRUE(runPrepared(p, op, 0, &changes));
        const uint32_t hi = totalAfterReboot();
        EXPECT_LE(lo, hi);
        if (before) *before = lo;
        if (after) *after = hi;
        std::vector<unsigned> cuts = {1};
        for (unsigned k : changes) cuts.push_back(k + 1);
        for (unsigned cut : cuts) {
            SCOPED_TRACE("power cut at command " + std::to_string(cut));
            runPrepared(p, op, cut);
            const uint32_t total = totalAfterReboot();
            EXPECT_GE(total, lo);
            EXPECT_LE(total, hi);
            if (::testing::Test::HasFailure()) break;
        }
        return unsigned(changes.size());
    }

    std::unique_ptr<fpga_manage> engine;
    std::function<void()> onPowerUp;
    unsigned busyLimitMs = fpga_drv::kBusyLimitMs;  // after the board is up, before the engine starts
    std::time_t wall = QDateTime(QDate(2026, 3, 5), QTime(9, 7, 0)).toSecsSinceEpoch();
};

}  // namespace clocktest
