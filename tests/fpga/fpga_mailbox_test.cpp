// The PC mailbox: clock setting through the shell, on/off times and brightness records
// in FPGA 0's flash, and what a power cut at any flash command leaves behind.
#include <QDateTime>

#include <atomic>
#include <functional>
#include <thread>

#include "fpga_fixture.h"

using namespace fpgatest;

namespace {

void putBlock(const Bytes& b) {
    std::memset(fpga_manage::MCU_RAM_CMD, 0, 24);
    std::memcpy(fpga_manage::MCU_RAM_CMD, b.data(), b.size());
}

Bytes onOffBlock(uint8_t store, uint8_t count, uint16_t length, uint8_t firstHour) {
    Bytes b = {0xAA, 2, store, 0, 0, 0, uint8_t(length), uint8_t(length >> 8), count};
    for (int k = 0; k < 4; ++k) {
        b.push_back(uint8_t(firstHour + k));
        b.push_back(0x30);
        b.push_back(0x22);
        b.push_back(0x15);
    }
    return b;
}

constexpr uint32_t kOnOffAt = 0x6CD000;
constexpr uint32_t kBrightAt = 0x6CE000;

}  // namespace

class MailboxTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        e = open();
        std::memset(fpga_manage::MCU_RAM_CMD, 0, 1024);
        e->softinit();
        simShell().clearCommands();
    }
    fpga_manage* e = nullptr;
};

TEST_F(MailboxTest, ClockCommandSetsSystemThenHardwareClockAndTellsTheRecorder) {
    int told = 0;
    fpga_manage::clock_changed = [&] { ++told; };
    putBlock({0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00});
    e->Dealwith_mcu_ram();
    EXPECT_EQ(simShell().commands(), std::vector<std::string>({"date \"2026-3-5 9:7:0\"", "hwclock -wu"}));
    EXPECT_EQ(told, 1);
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(plat::timeOfDay()).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
              QStringLiteral("2026-03-05 09:07"))
        << "the board's clock moved";
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[0], 0xAA) << "byte 0 stays";
}

TEST_F(MailboxTest, InvalidOrFailedClockSetIsNotReportedAsAChange) {
    int told = 0;
    fpga_manage::clock_changed = [&] { ++told; };
    const Bytes bad[] = {
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x2A, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00},  // not BCD
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x13, 0x05, 0x09, 0x07, 0x00},  // month 13
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x02, 0x30, 0x09, 0x07, 0x00},  // 30 February
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x03, 0x05, 0x24, 0x07, 0x00},  // hour 24
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x02, 0x29, 0x09, 0x07, 0x00},  // 29 February, no leap year
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x26, 0x20, 0x04, 0x31, 0x09, 0x07, 0x00},  // 31 April
        {0xAA, 1, 0, 0, 0, 0, 7, 0, 0x38, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00},  // past a 32-bit time_t
    };
    for (const Bytes& b : bad) {
        putBlock(b);
        e->Dealwith_mcu_ram();
    }
    EXPECT_TRUE(simShell().commands().empty());
    simShell().setResult("date", 1 << 8);
    putBlock({0xAA, 1, 0, 0, 0, 0, 7, 0, 0x37, 0x20, 0x12, 0x31, 0x23, 0x59, 0x59});
    e->Dealwith_mcu_ram();
    EXPECT_EQ(simShell().commands(), std::vector<std::string>({"date \"2037-12-31 23:59:59\""}))
        << "no hardware clock write after a failed date";
    EXPECT_EQ(told, 0);
}

TEST_F(MailboxTest, OnOffTimesLoadAtMostFourAndTheRecordHoldsOnlyWhatTheCommandCarries) {
    putBlock(onOffBlock(0xAA, 7, 0xFFFF, 0x06));  // a length far past the mailbox
    e->Dealwith_mcu_ram();
    EXPECT_EQ(e->onoff_count, 4);
    EXPECT_EQ(e->on_hour[3], 9);
    EXPECT_EQ(e->on_minute[0], 30);
    EXPECT_EQ(e->off_hour[0], 22);
    EXPECT_EQ(e->off_minute[0], 15);
    EXPECT_EQ(e->mirror(66, 0), 1);
    const Bytes rec = chips->flash[0]->read(kOnOffAt, 32);
    EXPECT_EQ(rec[0], 0xAA);
    EXPECT_EQ(Bytes(rec.begin() + 8, rec.begin() + 25), Bytes(fpga_manage::MCU_RAM_CMD + 8, fpga_manage::MCU_RAM_CMD + 25));
    EXPECT_EQ(Bytes(rec.begin() + 25, rec.end()), Bytes(7, 0xFF)) << "8 + 17 bytes, nothing more";
    EXPECT_EQ(chips->flash[0]->read(kBrightAt, 4), Bytes(4, 0xFF)) << "the next record is untouched";
    EXPECT_EQ(guestErrors(), 0u);

    putBlock(onOffBlock(0x55, 2, 9, 0x01));
    e->Dealwith_mcu_ram();
    EXPECT_EQ(chips->flash[0]->read(kOnOffAt, 1), Bytes({0xFF}));
    EXPECT_EQ(e->mirror(66, 0), 0);
    EXPECT_EQ(e->onoff_count, 2) << "times just loaded stay in memory";
    EXPECT_EQ(e->on_hour[1], 2);
}

TEST_F(MailboxTest, BrightnessScheduleIsSavedAndReloadRequested) {
    Bytes b = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 17};
    for (int k = 0; k < 48; ++k) b.push_back(uint8_t(k % 16 + 1));
    putBlock(b);
    g_change.sensor_fail_count = 7;
    e->Dealwith_mcu_ram();
    EXPECT_EQ(chips->flash[0]->read(kBrightAt, 57), b);
    EXPECT_EQ(g_change.bri_reload_request, 1u);
    EXPECT_EQ(g_change.sensor_fail_count, 0u);
    e->write_to_register(80, 0xFF, 3, 0);
    e->record_bright_change();
    EXPECT_EQ(e->brightness_mode, 17);
    EXPECT_EQ(e->HalfHourValue[47], 47 % 16 + 1);
    EXPECT_EQ(g_change.bri_task_enable, 1u);
}

TEST_F(MailboxTest, ABlockWithoutItsMarkerChangesNothing) {
    Bytes b = onOffBlock(0xAA, 2, 9, 0x06);
    b[0] = 0xAB;
    putBlock(b);
    e->Dealwith_mcu_ram();
    EXPECT_EQ(e->onoff_count, 0);
    EXPECT_EQ(chips->flash[0]->counters().erases, 0u);
}

TEST_F(MailboxTest, StartUpLoadsRecordsWithoutOverwritingTheMailboxStatusBytes) {
    Bytes rec = onOffBlock(0xAA, 1, 5, 0x07);
    rec.resize(50, 0xFF);
    chips->flash[0]->load(kOnOffAt, rec);
    Bytes bright = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, 9};
    bright.resize(57, 9);
    chips->flash[0]->load(kBrightAt, bright);
    const Bytes before(fpga_manage::MCU_RAM_CMD + 16, fpga_manage::MCU_RAM_CMD + 40);
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(Bytes(fpga_manage::MCU_RAM_CMD + 16, fpga_manage::MCU_RAM_CMD + 40), before);
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[0], 0) << "no command left behind in the mailbox";
    EXPECT_EQ(e->on_hour[0], 7);
    EXPECT_EQ(e->mirror(66, 0), 1);
    EXPECT_EQ(e->brightness_mode, 16);
    EXPECT_EQ(e->mirror(64, 0), 9);
}

// A cut at each flash command of a save, then a reboot: the engine starts with the
// old record or the new one, never a torn or a missing one.
TEST_F(MailboxTest, PowerCutAtAnyCommandOfARecordSaveLeavesTheOldOrTheNewRecord) {
    Bytes oldRec = onOffBlock(0xAA, 1, 5, 0x05);
    oldRec.resize(50, 0xFF);
    const Bytes newBlock = onOffBlock(0xAA, 1, 5, 0x08);
    int sawOld = 0, sawNew = 0;
    for (unsigned cut = 1;; ++cut) {
        SCOPED_TRACE(cut);
        FpgaChips on = powerUpBoard();  // power back on: the board and its flashes again, from their stores
        SpiNorFlash& flash = *on.flash[0];
        flash.load(kOnOffAt, oldRec);
        flash.load(0x6D0000, Bytes(4096, 0xFF));  // the spare sector
        fpga_manage writer;
        ASSERT_EQ(writer.initialize(), 0);
        writer.stopThread();
        writer.drv->setBusyLimitMs(20);  // a cut flash never becomes ready: fail soon
        flash.cutPowerAfterCommands(cut);
        putBlock(newBlock);
        writer.Dealwith_mcu_ram();
        const bool finished = !flash.powerCut();

        powerUpBoard();
        fpga_manage reader;
        ASSERT_EQ(reader.initialize(), 0);
        reader.stopThread();
        reader.record_onoff_time(2);
        ASSERT_EQ(reader.onoff_count, 1) << "a record is always there";
        ASSERT_TRUE(reader.on_hour[0] == 5 || reader.on_hour[0] == 8) << int(reader.on_hour[0]);
        (reader.on_hour[0] == 5 ? sawOld : sawNew)++;
        if (finished) {
            EXPECT_EQ(reader.on_hour[0], 8);
            break;
        }
        ASSERT_LT(cut, 200u);
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 1);
}

TEST_F(MailboxTest, PowerCutDuringAParameterImageSaveLeavesTheOldOrTheNewImage) {
    int sawOld = 0, sawNew = 0;
    for (unsigned cut = 1;; ++cut) {
        SCOPED_TRACE(cut);
        FpgaChips on = powerUpBoard();
        SpiNorFlash& flash = *on.flash[0];
        Bytes oldImage(1025, 0x11);
        oldImage[0] = 0xAA;
        flash.load(0x6C7000, oldImage);
        fpga_manage writer;
        ASSERT_EQ(writer.initialize(), 0);
        writer.stopThread();
        writer.drv->setBusyLimitMs(20);  // a cut flash never becomes ready: fail soon
        std::memset(fpga_manage::MCU_RAM_PARA_func[0], 0x22, 1024);
        flash.cutPowerAfterCommands(cut);
        writer.save_param_image(0);
        const bool finished = !flash.powerCut();

        powerUpBoard();
        fpga_manage reader;
        ASSERT_EQ(reader.initialize(), 0);
        reader.stopThread();
        Bytes got(1025);
        ASSERT_EQ(reader.load_flash_record(2, 1735, got.data(), 1025), 1);
        const Bytes body(got.begin() + 1, got.end());
        ASSERT_TRUE(body == Bytes(1024, 0x11) || body == Bytes(1024, 0x22));
        (body[0] == 0x11 ? sawOld : sawNew)++;
        if (finished) break;
        ASSERT_LT(cut, 200u);
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
}

// Two parameter saves in a row, each cut at one of its erases or programs (or not at all),
// with no start between them: the record is never lost, a finished save is never undone
// by a cut one, and the next start puts a record left only in the spare back in its sector.
TEST_F(MailboxTest, TwoPowerCutsInARowNeverLoseTheParameterRecord) {
    constexpr uint32_t kSector = 0x6C7000, kSpare = 1746 * 4096;
    struct Cells {
        Bytes sector, spare;
    };
    auto image = [](uint8_t fill) {
        Bytes b(1025, fill);
        b[0] = 0xAA;
        return b;
    };
    auto cellsOf = [&](SpiNorFlash& f) { return Cells{f.read(kSector, 4096), f.read(kSpare, 4096)}; };
    // A save of `fill` from `cells`, cut at the cut-th frame (0: never): whether it finished,
    // the frames (from its start) of its erases and programs, and the cells it left.
    auto save = [&](const Cells& cells, uint8_t fill, unsigned cut, std::vector<unsigned>* cellSteps, Cells* after) {
        FpgaChips on = powerUpBoard();
        SpiNorFlash& flash = *on.flash[0];
        flash.load(kSector, cells.sector);
        flash.load(kSpare, cells.spare);
        fpga_manage writer;
        EXPECT_EQ(writer.initialize(), 0);
        writer.stopThread();
        writer.drv->setBusyLimitMs(20);  // a cut flash never becomes ready: fail soon
        std::memset(fpga_manage::MCU_RAM_PARA_func[0], fill, 1024);
        const uint64_t base = flash.counters().frames;
        flash.cutPowerAfterCommands(cut);
        const bool done = writer.save_param_image(0) == 1;
        if (cellSteps)
            for (uint64_t f : flash.cellFrames())
                if (f > base) cellSteps->push_back(unsigned(f - base));
        *after = cellsOf(flash);
        return done && !flash.powerCut();
    };
    Cells start{image(0x11), Bytes(4096, 0xFF)};
    start.sector.resize(4096, 0xFF);
    std::vector<unsigned> firstSteps;
    Cells ignored;
    ASSERT_TRUE(save(start, 0x22, 0, &firstSteps, &ignored));
    ASSERT_GE(firstSteps.size(), 5u);
    bool repairSeen = false;
    for (size_t i = 0; i <= firstSteps.size(); ++i) {
        const unsigned cut1 = i < firstSteps.size() ? firstSteps[i] : 0;
        Cells mid;
        const bool first = save(start, 0x22, cut1, nullptr, &mid);
        std::vector<unsigned> secondSteps;
        ASSERT_TRUE(save(mid, 0x33, 0, &secondSteps, &ignored));
        for (size_t k = 0; k <= secondSteps.size(); ++k) {
            const unsigned cut2 = k < secondSteps.size() ? secondSteps[k] : 0;
            SCOPED_TRACE(std::to_string(cut1) + " then " + std::to_string(cut2));
            Cells end;
            const bool second = save(mid, 0x33, cut2, nullptr, &end);

            FpgaChips on = powerUpBoard();
            on.flash[0]->load(kSector, end.sector);
            on.flash[0]->load(kSpare, end.spare);
            fpga_manage reader;
            ASSERT_EQ(reader.initialize(), 0);
            reader.stopThread();
            Bytes got(1025);
            ASSERT_EQ(reader.load_flash_record(2, 1735, got.data(), 1025), 1) << "the record is lost";
            const uint8_t body = got[1];
            ASSERT_EQ(Bytes(got.begin() + 1, got.end()), Bytes(1024, body));
            if (second) EXPECT_EQ(body, 0x33);
            else if (first) EXPECT_TRUE(body == 0x22 || body == 0x33) << int(body);
            else EXPECT_TRUE(body == 0x11 || body == 0x22 || body == 0x33) << int(body);
            if (end.sector[0] != 0xAA) {
                // the start found the record only in the spare: back in its sector, spare cleared
                repairSeen = true;
                EXPECT_EQ(on.flash[0]->read(kSector, 1025), got);
                EXPECT_EQ(on.flash[0]->read(kSpare, 4096), Bytes(4096, 0xFF));
            }
        }
    }
    EXPECT_TRUE(repairSeen);
}

// Another PC's save of the parameter record comes between this save's program and its
// read-back: it finds the flash held and waits its turn, so this save is checked against
// what it wrote, not against the other's record.
TEST_F(MailboxTest, ParameterSaveIsReadBackBeforeAnotherSaveOfItsRecord) {
    std::memset(fpga_manage::MCU_RAM_PARA_func[0], 0x11, 1024);
    Bytes other(1025, 0x22);
    other[0] = 0xAA;
    e->param_saved_hook = [&] {
        std::thread pc([&] {
            std::unique_lock<plat::Mutex> flash(e->drv->update_mutex, std::try_to_lock);
            if (!flash) return;
            flash.unlock();
            e->save_flash_record(2, 1735, other.data(), uint32_t(other.size()));
        });
        pc.join();
    };
    EXPECT_EQ(e->save_param_image(0), 1);
    e->param_saved_hook = nullptr;
    Bytes saved(1025, 0x11);
    saved[0] = 0xAA;
    EXPECT_EQ(chips->flash[0]->read(0x6C7000, 1025), saved);
}

TEST_F(MailboxTest, ManualBrightnessLevelIsSentAtOnceAndSavedWhenAsked) {
    for (auto& f : chips->fpga) f->setPortLinks(0x0100);
    ASSERT_TRUE(bringUp());
    Bytes b = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 0, 8};
    b.resize(57, 8);
    putBlock(b);
    e->Dealwith_mcu_ram();
    EXPECT_EQ(e->mirror(64, 0), 8);
    EXPECT_EQ(g_change.bri_current_level, 8u);
    EXPECT_EQ(chips->fpga[0]->reg(6), 8 * 16 - 1) << "a level in a scaled mode";
    EXPECT_EQ(chips->fpga[1]->appliedBrightness(), 127);
    EXPECT_EQ(ram->ramU16(vlxram::kBrightness), 50) << "the panel shows what the screen got";
    EXPECT_EQ(chips->flash[0]->read(0x6CE000, 10), Bytes(b.begin(), b.begin() + 10));
    EXPECT_EQ(g_change.bri_reload_request, 1u);
    // a scaled mode holds the PC's level to 1..16: 0 would wrap to 255, 17 to 15
    b[2] = 0;
    for (const auto& [level, sent] : {std::pair<int, int>{0, 15}, {17, 255}, {200, 255}}) {
        b[9] = uint8_t(level);
        putBlock(b);
        e->Dealwith_mcu_ram();
        EXPECT_EQ(chips->fpga[0]->reg(6), sent) << "level " << level;
        EXPECT_EQ(chips->fpga[1]->appliedBrightness(), sent) << "level " << level;
    }
}

// The mailbox on a transport thread and the panel's brightness on the engine thread save
// the same record: their erases and programs never run in between each other.
TEST_F(MailboxTest, ConcurrentSavesOfOneRecordTakeTurnsOnTheFlash) {
    Bytes a = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16};
    a.resize(57, 0x11);
    Bytes b = a;
    std::fill(b.begin() + 9, b.end(), 0x22);
    std::atomic<int> failed{0};
    auto saver = [&](const Bytes& rec) {
        for (int k = 0; k < 300; ++k)
            if (!e->save_flash_record(2, 1742, rec.data(), uint32_t(rec.size()))) ++failed;
    };
    std::thread transport(saver, std::cref(a)), engine(saver, std::cref(b));
    transport.join();
    engine.join();
    EXPECT_EQ(chips->flash[0]->misuseCount(), 0u);
    EXPECT_EQ(failed, 0);
    const Bytes rec = chips->flash[0]->read(kBrightAt, 57);
    EXPECT_TRUE(rec == a || rec == b);
    EXPECT_EQ(chips->flash[0]->read(0x6D1000, 1), Bytes({0xFF})) << "the spare cleared";
}

// A page program the part drops: the record is read back, written once more, and after a
// second difference the save fails (the doorbell answers failed) with the last record kept.
TEST_F(MailboxTest, ARecordThatDoesNotReadBackIsWrittenOnceMoreThenReportedAsNotSaved) {
    const Bytes first = onOffBlock(0xAA, 1, 5, 0x05), second = onOffBlock(0xAA, 1, 5, 0x08);
    chips->flash[0]->losePrograms(1);
    putBlock(first);
    EXPECT_EQ(e->write_to_register(FPGA_REG_APPLY, APPLY_DOORBELL, APPLY_DOORBELL, 0), 1);
    EXPECT_EQ(chips->flash[0]->read(kOnOffAt, 13), Bytes(first.begin(), first.begin() + 13));

    chips->flash[0]->losePrograms(1000);
    putBlock(second);
    EXPECT_EQ(e->write_to_register(FPGA_REG_APPLY, APPLY_DOORBELL, APPLY_DOORBELL, 0), 0);
    chips->flash[0]->losePrograms(0);
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("sector 1741 of chip 2 not saved"),
              std::string::npos);
    e->on_hour[0] = 0;
    e->record_onoff_time(2);
    EXPECT_EQ(e->on_hour[0], 5) << "the record saved before";
    EXPECT_EQ(guestErrors(), 0u);
}
