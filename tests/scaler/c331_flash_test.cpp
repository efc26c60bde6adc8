// The C331's serial flash through the bank-4 controller: program, read, erase, DMA, fonts,
// the sequence lock and the bounded waits.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "c331_osd_fixture.h"
#include "platform/platform.h"
#include "protocol/c331_engines.h"
#include "scaler/c331_osd_regs.h"

using scalertest::OsdTest;

namespace {
std::vector<uint8_t> pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed * 7 + (i >> 8));
    return v;
}
}  // namespace

TEST_F(OsdTest, WriteProgramsEachPageAtItsBoundaryAndReadsBackByteExact) {
    startRunning();
    const auto data = pattern(300, 1);
    const unsigned before = engineStats().pagePrograms;
    ASSERT_EQ(m->write_flash(m->fd(), 0x1F0, 300, reinterpret_cast<const char*>(data.data())), 0);
    // 0x1F0..0x1FF, 0x200..0x2FF, 0x300..0x31B: three page programs
    EXPECT_EQ(engineStats().pagePrograms - before, 3u);
    std::vector<char> back(300);
    ASSERT_EQ(m->read_flash(m->fd(), 0x1F0, 300, back.data()), 0);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), data);
    // 256 bytes on a page boundary: one program in the loop, none at the end
    const unsigned mid = engineStats().pagePrograms;
    const auto page = pattern(256, 2);
    ASSERT_EQ(m->write_flash(m->fd(), 0x10000, 256, reinterpret_cast<const char*>(page.data())), 0);
    EXPECT_EQ(engineStats().pagePrograms - mid, 1u);
    EXPECT_EQ(engineStats().broken, 0u);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(OsdTest, ProgramOverUnerasedCellsAndsAsANorDoes) {
    startRunning();
    const char a[2] = {char(0xF0), char(0x3C)}, b[2] = {char(0x0F), char(0xFF)};
    ASSERT_EQ(m->write_flash(m->fd(), 0x2000, 2, a), 0);
    ASSERT_EQ(m->write_flash(m->fd(), 0x2000, 2, b), 0);
    char back[2];
    ASSERT_EQ(m->read_flash(m->fd(), 0x2000, 2, back), 0);
    EXPECT_EQ(uint8_t(back[0]), 0x00);
    EXPECT_EQ(uint8_t(back[1]), 0x3C);
}

TEST_F(OsdTest, EraseTakesUnitsOfItsKindFromTheStartSector) {
    startRunning();
    {
        auto lock = chip->engineLock();
        chip->engine().flashLoad(0xF000, std::vector<uint8_t>(0x20000, 0x00));
    }
    ASSERT_EQ(m->erase_flash(m->fd(), 0x10, 3, 1), 0);  // 32 KB units at 0x10000, 0x18000, 0x20000
    std::vector<char> b(1);
    auto at = [&](uint32_t a) {
        m->read_flash(m->fd(), a, 1, b.data());
        return uint8_t(b[0]);
    };
    EXPECT_EQ(at(0xFFFF), 0x00) << "the sector before is kept";
    EXPECT_EQ(at(0x10000), 0xFF);
    EXPECT_EQ(at(0x27FFF), 0xFF);
    auto erases = recorded("erase");
    ASSERT_EQ(erases.size(), 3u);
    EXPECT_EQ(erases[0].dst, 0x10000u);
    EXPECT_EQ(erases[1].dst, 0x18000u);
    EXPECT_EQ(erases[2].dst, 0x20000u);
    EXPECT_EQ(erases[2].size, 0x8000u);
}

TEST_F(OsdTest, FontHeadersSetThePresentWordAndRegister43AndPacedDmasLandAtTheFontAddresses) {
    startRunning();
    loadSmallFonts();
    ram->registersForTest()[43] = 0xC0;  // bits 6 and 7 are not the fonts'
    ASSERT_EQ(m->read_c331_font(m->fd()), 0);
    EXPECT_EQ(m->font_present.load(), 0x0Fu);
    EXPECT_EQ(ram->registersForTest()[43], 0xFF);
    clearRecorded();
    // The manager's pauses pass as board time, as on the device: 13.5 MB of DMA is 34 ms of
    // the chip's time, 70 polls at the DMA's pace where back-to-back polls took 10,550.
    struct PausesAsBoardTime {
        PausesAsBoardTime() { plat::setSleepHook([](uint64_t us) { plat::sim::board().step(us * plat::sim::kNsPerUs); }); }
        ~PausesAsBoardTime() { plat::setSleepHook(nullptr); }
    } pacing;
    chip->setFrameLog(true);
    ASSERT_EQ(m->update_font(m->fd()), 0);
    size_t polls = 0;
    for (const auto& f : chip->frames()) polls += f.bank == 4 && f.tx[0] == (c331osd::B4_SFLSTAT >> 8 & 0x7F);
    EXPECT_GE(polls, 4u);
    EXPECT_LT(polls, 100u);
    auto dmas = recorded("dma");
    ASSERT_EQ(dmas.size(), 4u);
    EXPECT_EQ(dmas[0].dst, m->g_font_addr_32ASCII);
    EXPECT_EQ(dmas[1].dst, m->g_font_addr_32CHN);
    EXPECT_EQ(dmas[2].dst, m->g_font_addr_64ASCII);
    EXPECT_EQ(dmas[3].dst, m->g_font_addr_64CHN);
    EXPECT_EQ(m->g_font_addr_32CHN, m->g_font_addr_32ASCII + 0x3000);
    EXPECT_EQ(m->g_font_addr_64CHN, m->g_font_addr_64ASCII + 0xC000);
    // glyph 'A' of the 32-dot font and U+4E2D of the 64-dot font, byte-exact in OSD memory
    auto lock = chip->engineLock();
    EXPECT_EQ(chip->engine().osdRead(m->g_font_addr_32ASCII + ('A' - 0x20) * 128, 128), scalertest::glyph(32, 'A'));
    EXPECT_EQ(chip->engine().osdRead(m->g_font_addr_64ASCII + (96 + 0x2D) * 512, 512), scalertest::glyph(64, 0x4E2D));
}

TEST_F(OsdTest, AHeaderThatIsNotPClearsThatFontsBitsAtTheNextCheck) {
    startRunning();
    loadSmallFonts();
    m->read_c331_font(m->fd());
    {
        auto lock = chip->engineLock();
        chip->engine().flashLoad(0x410000, scalertest::fontHeader(true, 64, 'Q'));
    }
    m->read_c331_font(m->fd());
    EXPECT_EQ(m->font_present.load(), 0x07u);
    EXPECT_EQ(ram->registersForTest()[43] & 0x3F, 0x2B);
}

TEST_F(OsdTest, ControllerHeldBusyEndsAFlashWriteWithinItsBoundWithTheMessage) {
    startRunning();
    {
        auto lock = chip->engineLock();
        chip->engine().holdFlashBusy(true);
    }
    const auto data = pattern(600, 3);
    EXPECT_EQ(m->write_flash(m->fd(), 0x3000, 600, reinterpret_cast<const char*>(data.data())), -1);
    EXPECT_NE(console().find("B4_SFLDTCTL WEMPTY Timeout Error!!"), std::string::npos);
    EXPECT_EQ(m->osd_timeouts, 1u);
    // the drawing engine held busy: a fill gives up as well and the manager runs on
    {
        auto lock = chip->engineLock();
        chip->engine().holdFlashBusy(false);
        chip->engine().holdDrawBusy(true);
    }
    m->osdPitch(64);
    m->osd_paint(0, 64, 0, 4, 1, m->PS_MEM_OSD);
    EXPECT_EQ(m->osd_timeouts, 2u);
    EXPECT_EQ(m->read_c331_font(m->fd()), 0) << "the flash controller itself is free again";
}

// The manager redraws the OSD and reloads fonts while the protocol erases and writes the flash
// and prints the registers. Each round starts the three together and ends when each has done
// its one piece: the sequences overlap whatever the scheduler does, and the work is bounded,
// not the time (a thread that retakes the lock at once cannot hold the writer off for ever).
TEST_F(OsdTest, FlashSequencesOfThreeThreadsDoNotInterleave) {
    startRunning();
    loadSmallFonts();
    m->read_c331_font(m->fd());
    m->vlxApi_OsdSet(3, 1);
    m->vlxApi_OsdSet(19, 256);  // a small canvas keeps the redraws short
    m->vlxApi_OsdSet(20, 64);
    constexpr int kRounds = 4;
    constexpr uint32_t kSector = 4096;
    std::mutex gate;
    std::condition_variable opened;
    int waiting = 0, round = 0;
    auto startRound = [&] {  // the three meet; the last one in opens the round
        std::unique_lock<std::mutex> l(gate);
        const int mine = round;
        if (++waiting == 3) {
            waiting = 0;
            ++round;
            opened.notify_all();
        } else {
            opened.wait(l, [&] { return round != mine; });
        }
    };
    std::thread manager([&] {
        for (int i = 0; i < kRounds; ++i) {
            startRound();
            m->update_osd(m->fd());
            m->osd_write_dma_sfl(m->fd(), 0, m->PS_FONT_ADDR, 0, 0x3000);
        }
    });
    std::thread printer([&] {
        for (int i = 0; i < kRounds; ++i) {
            startRound();
            m->c331_print();
        }
    });
    const auto data = pattern(kRounds * kSector, 4);
    int result = 0;
    for (int i = 0; i < kRounds; ++i) {
        startRound();
        if (result == 0) result = m->erase_flash(m->fd(), 0x200 + uint32_t(i), 1, 0);
        if (result == 0)
            result = m->write_flash(m->fd(), 0x200000 + uint32_t(i) * kSector, kSector,
                                    reinterpret_cast<const char*>(data.data()) + i * kSector);
    }
    manager.join();
    printer.join();
    ASSERT_EQ(result, 0);
    std::vector<char> back(data.size());
    ASSERT_EQ(m->read_flash(m->fd(), 0x200000, uint32_t(back.size()), back.data()), 0);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), data);
    EXPECT_EQ(engineStats().broken, 0u);
}

TEST_F(OsdTest, PcFlashRequestsOffTheirUnitOrPastTheEndAreRefused) {
    startRunning();
    C331ProtocolEngines part;
    EXPECT_EQ(part.c331FlashErase(0x11, 1, 1), kEngineFailed) << "a 32 KB unit starts on a multiple of 8 sectors";
    EXPECT_EQ(part.c331FlashErase(0x18, 1, 2), kEngineFailed) << "a 64 KB unit starts on a multiple of 16 sectors";
    EXPECT_EQ(part.c331FlashErase(0x1FFF, 2, 0), kEngineFailed) << "past the 32 MiB end";
    EXPECT_TRUE(recorded("erase").empty());
    const uint8_t b[4] = {1, 2, 3, 4};
    uint8_t r[4];
    EXPECT_EQ(part.c331FlashWrite(c331flash::kFlashSize - 2, b, 4), kEngineFailed);
    EXPECT_EQ(part.c331FlashRead(c331flash::kFlashSize - 2, r, 4), kEngineFailed);
    EXPECT_EQ(part.c331FlashErase(0x18, 1, 1), kEngineOk);
    EXPECT_EQ(part.c331FlashWrite(0x18000, b, 4), kEngineOk);
    EXPECT_EQ(part.c331FlashRead(0x18000, r, 4), kEngineOk);
    EXPECT_EQ(r[3], 4);
}

TEST_F(OsdTest, PcFlashRequestsFailWhileTheChipDoesNotAnswer) {
    startStore();
    chip->setPresence(plat::sim::C331Model::Presence::Absent);
    m = c331_manage::createForTest();
    for (int i = 0; i < 6; ++i) m->step();
    C331ProtocolEngines part;
    uint8_t r[4] = {1, 1, 1, 1};
    const uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(part.c331FlashRead(0x18000, r, 4), kEngineUnavailable) << "never found";
    EXPECT_EQ(part.c331FlashWrite(0x18000, b, 4), kEngineUnavailable);
    chip->setPresence(plat::sim::C331Model::Presence::Present);
    for (int i = 0; i < 8 && m->state() != c331_manage::kStateRunning; ++i) m->step();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(part.c331FlashRead(0x18000, r, 4), kEngineOk);
    chip->setPresence(plat::sim::C331Model::Presence::Absent);
    EXPECT_EQ(part.c331FlashRead(0x18000, r, 4), kEngineUnavailable) << "gone since bring-up";
    EXPECT_EQ(part.c331FlashErase(0x18, 1, 1), kEngineUnavailable);
    EXPECT_TRUE(recorded("erase").empty());
}
