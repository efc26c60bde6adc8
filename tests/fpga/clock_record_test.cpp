// The operating-time recorder on the simulated NOR flash: counting, the start-up repair,
// the log, the clock-set marker, and what a power cut at any flash command leaves.
#include <atomic>
#include <chrono>
#include <thread>

#include "clock_record_fixture.h"

using namespace clocktest;

namespace {

Bytes bcdOf(const QDateTime& t) {
    auto b = [](int v) { return uint8_t((v / 10) << 4 | (v % 10)); };
    const QDate d = t.date();
    const QTime h = t.time();
    return {b(d.year() % 100), b(d.year() / 100), b(d.month()), b(d.day()), b(h.hour()), b(h.minute()), b(h.second())};
}

Bytes slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + long(from), b.begin() + long(from + n)); }

}  // namespace

TEST_F(ClockRecordTest, BlankFlashCountsFromZeroAndWritesTheFirstThirtyMinutesAtOnce) {
    reboot();
    EXPECT_EQ(at(kHeader, 3), Bytes({0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(state().history_minutes, 0u);
    EXPECT_EQ(flash().counters().erases, 0u) << "blank sectors need no erase";

    minutes(29);
    EXPECT_EQ(rec().total_minutes(), 29u);
    EXPECT_EQ(at(kA, 0x3000), Bytes(0x3000, 0xFF)) << "a run under 30 minutes leaves no trace";

    minutes(1);
    const Bytes a = at(kA, 512), b = at(kB, 512);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[0], 0xAA);
    // the board's wall clock runs on from `wall` (seconds 00)
    const Bytes start = slice(bcdOf(QDateTime::fromSecsSinceEpoch(wall)), 0, 6);
    EXPECT_EQ(slice(a, 1, 6), start);
    EXPECT_LT(a[7], 0x10);
    EXPECT_EQ(slice(a, 33, 7), slice(a, 1, 7));
    EXPECT_EQ(le32(a, 8), 0u);
    EXPECT_EQ(slice(a, 48, 5), Bytes({0x55, 0x55, 0x55, 0xD5, 0xFF}));
    EXPECT_EQ(state().units, 15u);
    const Bytes entry = at(logEntry(0), 16);
    EXPECT_EQ(entry[0], 0xAA);
    EXPECT_EQ(slice(entry, 1, 7), slice(a, 1, 7));
    EXPECT_EQ(slice(entry, 8, 8), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}));

    minutes(2);
    EXPECT_EQ(at(kA + 51, 2), Bytes({0x55, 0xFF}));
    // a unit goes to A, then to B: a cut in between leaves A ahead, and the repair keeps it
    board().setSpiFrameLog(true);
    board().clearSpiFrames();
    minutes(2);
    std::vector<uint32_t> programmed;
    for (const auto& f : board().spiFrames())
        if (f.node == plat::wiring::kSpiFlash0 && f.selected && f.tx.size() > 4 && f.tx[0] == 0x02)
            programmed.push_back(uint32_t(f.tx[1]) << 16 | uint32_t(f.tx[2]) << 8 | f.tx[3]);
    board().setSpiFrameLog(false);
    EXPECT_EQ(programmed, (std::vector<uint32_t>{kA + 52, kB + 52}));
    EXPECT_EQ(at(kA + 51, 2), Bytes({0x55, 0xFD}));
    EXPECT_EQ(at(kB + 51, 2), Bytes({0x55, 0xFD}));
    EXPECT_EQ(state().units, 17u);
    EXPECT_EQ(flash().misuseCount(), 0u);

    EXPECT_EQ(totalAfterReboot(), 34u);
    EXPECT_EQ(le32(at(logEntry(0), 16), 8), 34u) << "the next start closes the run's log entry";
    EXPECT_EQ(state().log_sequence, 1u);
    EXPECT_EQ(state().group, 1);
}

TEST_F(ClockRecordTest, HistoryIsTheLastRecordsBaseAndTheMinutesItsCountersHold) {
    Bytes img = generateImage("--groups 2 --minutes 100,84 --history 5000 --first-seq 0x20");
    // the generator against the layout: 42 units are ten full bytes, then F5
    EXPECT_EQ(slice(img, kA - kArea + 512 + 48, 12), Bytes({0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                                             0x55, 0xF5, 0xFF}));
    load(img);
    reboot();
    EXPECT_EQ(state().history_minutes, 5184u);
    EXPECT_EQ(state().group, 2);
    EXPECT_EQ(state().log_sequence, 0x22u);
    EXPECT_EQ(le32(at(logEntry(0x21), 16), 8), 84u);
    EXPECT_EQ(le32(at(logEntry(0x20), 16), 8), 100u) << "closed entries stay as they are";

    load(generateImage("--groups 3 --minutes 100,84,2880 --history 5000"));
    EXPECT_EQ(totalAfterReboot(), 5000u + 100 + 84 + 2880) << "all counters 0x55: a full group";
}

TEST_F(ClockRecordTest, DamagedHeaderRewritesOnlyTheHeaderSector) {
    Bytes img = generateImage("--groups 3 --minutes 300");
    img[0] = 0x00;
    load(img);
    reboot();
    EXPECT_EQ(at(kHeader, 3), Bytes({0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(at(kA, 0x2000), slice(img, kA - kArea, 0x2000)) << "records untouched";
    EXPECT_EQ(at(logEntry(1), 16), slice(img, logEntry(1) - kArea, 16));
    EXPECT_EQ(state().history_minutes, 900u);
}

// B valid for records 0..2, A for 0..3: A is copied over B and the count taken after the
// copy, so the run begins record 4 and never programs over record 3.
TEST_F(ClockRecordTest, RecordAheadInAIsCopiedToBAndCountedAfterTheCopy) {
    const Bytes img = generateImage("--groups 3 --a-ahead --minutes 100");
    load(img);
    reboot();
    EXPECT_EQ(state().group, 4);
    EXPECT_EQ(state().history_minutes, 400u);
    EXPECT_EQ(at(kB, 4096), at(kA, 4096));
    minutes(30);
    EXPECT_EQ(at(kA + 3 * 512, 512), slice(img, kA - kArea + 3 * 512, 512)) << "record 3 as it was";
    EXPECT_EQ(at(kA + 4 * 512, 1), Bytes({0xAA}));
    EXPECT_EQ(le32(at(kB + 4 * 512, 16), 8), 400u);
    EXPECT_EQ(flash().misuseCount(), 0u);
    EXPECT_EQ(totalAfterReboot(), 430u);
}

TEST_F(ClockRecordTest, RecordBegunInAIsReplacedFromB) {
    load(generateImage("--groups 3 --a-begun --minutes 100"));
    reboot();
    EXPECT_EQ(at(kA + 3 * 512, 512), Bytes(512, 0xFF));
    EXPECT_EQ(at(kA, 4096), at(kB, 4096));
    EXPECT_EQ(state().group, 3);
    EXPECT_EQ(state().history_minutes, 300u);
    minutes(30);
    EXPECT_EQ(flash().misuseCount(), 0u);
    EXPECT_EQ(totalAfterReboot(), 330u);
}

// A count that reached A but not B: A is the newer copy at start and B follows it.
TEST_F(ClockRecordTest, CountThatReachedOnlyAIsKeptAndCopiedToB) {
    load(generateImage("--groups 2 --minutes 100,40"));
    flash().load(kA + 512 + 48 + 5, {0xFD});  // unit 20 in A only
    reboot();
    EXPECT_EQ(state().history_minutes, 142u);
    EXPECT_EQ(at(kB, 4096), at(kA, 4096));
}

TEST_F(ClockRecordTest, LogPastItsLastEntryWrapsToEntryZeroAndErasesTheFirstLogSector) {
    Bytes img = generateImage("--groups 2 --minutes 100 --first-seq 0x3CFF");
    for (size_t k = 0; k < 16; ++k) img[kLog - kArea + k] = 0x11;  // an entry of the last wrap
    load(img);
    reboot();
    EXPECT_EQ(state().log_sequence, 1u << 20);
    EXPECT_EQ(state().log_entry, CLOCK_LOG);
    EXPECT_EQ(at(kLog, 4096), Bytes(4096, 0xFF));
    EXPECT_EQ(le32(at(0x733000, 16), 8), 100u) << "entry 0x3D00 in the log's last sector";
    minutes(30);
    EXPECT_EQ(slice(at(kLog, 16), 12, 4), Bytes({0xFF, 0x00, 0x00, 0x10}));
    EXPECT_EQ(slice(at(kA + 2 * 512, 16), 13, 3), Bytes({0x00, 0x00, 0x10}));
    EXPECT_EQ(flash().misuseCount(), 0u);
}

TEST_F(ClockRecordTest, EnginePassCountsAndTheMailboxClockSetMarksGroupAndLogEntry) {
    load(generateImage("--groups 2 --minutes 100"));
    reboot();
    const uint64_t frames = flash().counters().frames;
    uint8_t block[16] = {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00};
    ASSERT_EQ(engine->Checktime(block), 1);
    EXPECT_EQ(flash().counters().frames, frames) << "before the first count the marker waits in memory";
    for (int k = 0; k < 30; ++k) {
        G_timeTicks.fetch_add(CLOCK_STEP_TICKS);
        engine->fpga_manage_deal();
    }
    EXPECT_EQ(at(kA + 2 * 512 + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(at(kB + 2 * 512 + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(at(logEntry(2) + 12, 1), Bytes({0x5A}));

    reboot();
    minutes(30);
    EXPECT_EQ(at(kA + 3 * 512 + 44, 1), Bytes({0xFF})) << "the marker belongs to the run that saw the set";
    ASSERT_EQ(engine->Checktime(block), 1);
    EXPECT_EQ(at(kA + 3 * 512 + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(at(kB + 3 * 512 + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(at(logEntry(3) + 12, 1), Bytes({0x5A}));
    EXPECT_EQ(flash().misuseCount(), 0u);
}

TEST_F(ClockRecordTest, FlashThatKeepsNothingLeavesTheRecorderOff) {
    onPowerUp = [this] { flash().cutPowerAfterCommands(1); };  // reads float high, nothing lands
    busyLimitMs = 20;
    reboot();
    EXPECT_EQ(state().enabled, 0);
    OperatingTime t;
    EXPECT_FALSE(rec().operating_time(&t));
    minutes(40);
    EXPECT_EQ(state().run_minutes, 0u);
}

// A run across a group change reports each minute once, and the next start finds the
// full group and the new one.
TEST_F(ClockRecordTest, ClosedGroupsCountOnceInTheTotalAndAGroupChangeSurvivesAnyPowerCut) {
    load(generateImage("--groups 2 --minutes 100"));
    reboot();
    minutes(2879);
    EXPECT_EQ(state().units, 1439u);
    EXPECT_EQ(rec().total_minutes(), 200u + 2879);
    const Prepared p = prepare();
    minutes(2);
    EXPECT_EQ(state().group, 3);
    EXPECT_EQ(state().units, 0u);
    EXPECT_EQ(state().history_minutes, 200u + 2880);
    EXPECT_EQ(rec().total_minutes(), 200u + 2881) << "the closed group is not counted twice";
    OperatingTime t;
    ASSERT_TRUE(rec().operating_time(&t));
    EXPECT_EQ(t.totalMinutes, 200u + 2881);
    EXPECT_EQ(t.runMinutes, 2881u);
    EXPECT_EQ(le32(at(logEntry(2), 16), 8), 2880u);
    EXPECT_EQ(at(logEntry(3), 1), Bytes({0xAA})) << "the new group's entry is opened at once";
    EXPECT_EQ(le32(at(kA + 3 * 512, 16), 8), 200u + 2880);
    EXPECT_EQ(flash().misuseCount(), 0u);

    uint32_t before = 0, after = 0;
    const unsigned commands = cutAtEveryCommand(p, [](clock_record_run& r) { r.clock_record_deal(); }, &before, &after);
    EXPECT_EQ(before, 200u + 2878);
    EXPECT_EQ(after, 200u + 2880);
    EXPECT_GE(commands, 9u) << "the last unit, the log, both records";
}

TEST_F(ClockRecordTest, PowerCutAtAnyCommandOfTheFirstCountKeepsTheTotal) {
    load(generateImage("--groups 3 --minutes 500"));
    reboot();
    minutes(29);
    uint32_t before = 0, after = 0;
    cutAtEveryCommand(prepare(), [](clock_record_run& r) { r.clock_record_deal(); }, &before, &after);
    EXPECT_EQ(before, 1500u);
    EXPECT_EQ(after, 1530u);
}

// Eight valid groups: the first count begins group 0 again. Erasing both copies before
// the new record is written would let a cut end at 0 or 0xFFFFFFFF minutes.
TEST_F(ClockRecordTest, PowerCutAtAnyCommandOfTheWrapKeepsTheTotal) {
    load(generateImage("--groups 8 --minutes 2880,1000 --history 70000"));
    reboot();
    EXPECT_EQ(state().group, 8);
    minutes(29);
    uint32_t before = 0, after = 0;
    cutAtEveryCommand(prepare(), [](clock_record_run& r) { r.clock_record_deal(); }, &before, &after);
    const uint32_t history = 70000 + 2880 + 7 * 1000;
    EXPECT_EQ(before, history);
    EXPECT_EQ(after, history + 30);
    EXPECT_EQ(le32(at(kB, 16), 8), history) << "record 0 carries the history";
    EXPECT_EQ(at(kB + 512, 3584), Bytes(3584, 0xFF));
}

// The clock set from the PC soon after start-up (first count pending, 8 valid groups)
// touches no flash; the marker reaches record 0 with the wrap. A set after the first
// count programs three bytes. A cut at any of these commands keeps the total.
TEST_F(ClockRecordTest, PowerCutAtAnyCommandOfAClockSetKeepsTheTotal) {
    const Bytes img = generateImage("--groups 8 --minutes 400");
    load(img);
    reboot();
    minutes(10);
    const Prepared pending = prepare();
    const unsigned none = cutAtEveryCommand(pending, [](clock_record_run& r) { r.dealwith_record_timing(); });
    EXPECT_EQ(none, 0u) << "nothing erased, nothing written while the first count is pending";
    EXPECT_EQ(at(kA, 4096), slice(img, kA - kArea, 4096));

    uint32_t before = 0, after = 0;
    cutAtEveryCommand(
        pending,
        [this](clock_record_run& r) {
            r.dealwith_record_timing();
            minutes(r, 20);
        },
        &before, &after);
    EXPECT_EQ(before, 3200u);
    EXPECT_EQ(after, 3230u);
    EXPECT_EQ(at(kA + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(at(kB + 44, 1), Bytes({0x5A}));

    reboot();
    minutes(31);
    const unsigned three = cutAtEveryCommand(prepare(), [](clock_record_run& r) { r.dealwith_record_timing(); });
    EXPECT_EQ(three, 3u) << "log entry, then A, then B";
    EXPECT_EQ(at(kA + 512 + 44, 1), Bytes({0x5A}));
}

// Counting on the engine thread while a protocol thread sets the clock and reads the
// total: the records stay whole copies of each other and the total never runs back.
TEST_F(ClockRecordTest, ClockSetsAndReadsFromAnotherThreadLeaveTheRecordsWhole) {
    load(generateImage("--groups 1 --minutes 100"));
    reboot();
    std::atomic<bool> done{false};
    std::atomic<int> backwards{0};
    std::atomic<unsigned> passes{0};
    std::thread pc([&] {
        uint32_t last = 0;
        for (; !done; ++passes) {
            rec().dealwith_record_timing();
            OperatingTime t;
            if (rec().operating_time(&t)) {
                if (t.totalMinutes < last || t.totalMinutes != 100 + t.runMinutes) ++backwards;
                last = t.totalMinutes;
            }
        }
    });
    for (int k = 0; k < 200; ++k) {
        // every minute overlaps the other thread's work
        const unsigned seen = passes;
        for (int spin = 0; spin < 100000 && passes == seen; ++spin) std::this_thread::yield();
        minutes(1);
    }
    done = true;
    pc.join();
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_EQ(at(kA, 4096), at(kB, 4096));
    EXPECT_EQ(at(kA + 512 + 44, 1), Bytes({0x5A}));
    EXPECT_EQ(flash().misuseCount(), 0u);
    EXPECT_EQ(totalAfterReboot(), 300u);
}

// The start-up repair itself cut short (A one record ahead of B, then a copy of a begun
// record): every following start finishes it with the same total.
TEST_F(ClockRecordTest, PowerCutDuringTheStartUpRepairKeepsTheTotal) {
    const auto init = [](clock_record_run& r) { r.clock_record_init(); };
    const std::pair<const char*, uint32_t> cases[] = {{"--groups 3 --a-ahead --minutes 100", 400},
                                                      {"--groups 3 --a-begun --minutes 100", 300}};
    for (const auto& [args, total] : cases) {
        SCOPED_TRACE(args);
        uint32_t before = 0, after = 0;
        EXPECT_GT(cutAtEveryCommand({generateImage(args), CLOCK_RECORD{}}, init, &before, &after), 0u);
        EXPECT_EQ(before, total);
        EXPECT_EQ(after, total);
    }
}

// A reader on another thread waits for the start-up to finish instead of reporting a
// state half made.
TEST_F(ClockRecordTest, OperatingTimeWaitsWhileTheRecorderIsBusy) {
    load(generateImage("--groups 2 --minutes 100"));
    reboot();
    CLOCK_RECORD s;
    clock_record_run r(engine->drv, &s);
    std::atomic<bool> answered{false};
    std::thread pc;
    OperatingTime t;
    r.read_rtc = [&](TimeRealType* now) {
        pc = std::thread([&] {
            r.operating_time(&t);
            answered = true;
        });
        for (int k = 0; k < 50 && !answered; ++k) std::this_thread::sleep_for(std::chrono::microseconds(100));
        EXPECT_FALSE(answered) << "the PC's read ran while the recorder was starting";
        now->year = 2026;
        now->month = 3;
        now->day = 5;
        return 0;
    };
    r.clock_record_init();
    pc.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(t.totalMinutes, 200u);
    EXPECT_EQ(t.startBcd[0], 0x26);
    EXPECT_EQ(t.startBcd[2], 0x03);
}

// What a cut in the middle of the wrap leaves: sector A erased while B holds all eight
// groups, or A restarted at record 0 (carrying the history and a first count) while B
// still holds the eight. The start takes the newer copy and makes both copies equal.
TEST_F(ClockRecordTest, SectorAErasedOrRestartedIsRepairedFromTheNewerCopy) {
    Bytes img = generateImage("--groups 8 --minutes 400");
    std::fill(img.begin() + (kA - kArea), img.begin() + (kB - kArea), 0xFF);
    load(img);
    reboot();
    EXPECT_EQ(state().history_minutes, 3200u);
    EXPECT_EQ(state().group, 8);
    EXPECT_EQ(at(kA, 4096), at(kB, 4096)) << "A restored from B";

    const Bytes restarted = generateImage("--groups 1 --minutes 30 --history 3200 --first-seq 8");
    std::copy(restarted.begin() + (kA - kArea), restarted.begin() + (kB - kArea), img.begin() + (kA - kArea));
    load(img);
    reboot();
    EXPECT_EQ(state().history_minutes, 3230u);
    EXPECT_EQ(state().group, 1);
    EXPECT_EQ(at(kB, 4096), at(kA, 4096));
    EXPECT_EQ(flash().misuseCount(), 0u);
}
