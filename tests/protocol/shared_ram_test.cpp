// The parameter RAM, the user-mode slots and the manager's locks as PCs and the panel reach them
// at once, on the standard board: PC links on their own threads over TCP, both engines' passes
// on a thread of their own (as the manager's thread runs them), the panel's touches and the
// change handling the passes queue to it on this thread, the GUI's.
#include <QApplication>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/syncupdate.h"
#include "engines_fixture.h"
#include "platform/board_wiring.h"
#include "platform/sim/sim_shell.h"
#include "platform/sim/video_chips.h"
#include "support/panel_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_globals.h"
#include "video_io/edid.h"
#include "video_io/kavelsource.h"

using namespace prototest;
using namespace ctl;
using namespace vlxram;

namespace {

using Clock = std::chrono::steady_clock;

// Words of the mode region no engine applies: a copy torn between two writes of the region
// shows as markers of both. A mode also holds the screen state its marker's last bit names
// (0x844, 1 black): the FPGA engine switches the screen and writes the state back meanwhile.
constexpr unsigned kMarkers[] = {0x3A4, 0x8DE, 0xB80, 0xFFE};

class SharedRamTest : public EnginesWorld {
protected:
    void SetUp() override {
        makeApplication();
        EnginesWorld::SetUp();
        if (HasFatalFailure()) return;
        QObject::connect(store, &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        store->copyRam(kModeStart, kModeLength, region);
    }
    void TearDown() override {
        stopPasses();
        QObject::disconnect(store, &VlxRamPara::sig_update_para, nullptr, nullptr);
        if (plat::sim::SimShell* sh = plat::sim::simShell()) sh->removeHandler("sync");
        delete g_mainwindow;
        stopLinks();
        kavelsource::resetInstanceForTest();
        EnginesWorld::TearDown();
    }
    void otherPasses() override {
        if (!passing) QCoreApplication::processEvents();
    }
    void startPasses() {
        passing = true;
        passer = std::thread([this] {
            while (passing) {
                tick();
                ++passCount;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    void stopPasses() {
        passing = false;
        if (passer.joinable()) passer.join();
    }
    // The GUI thread's events until `done`, for at most `seconds`.
    template <typename Done>
    bool waitFor(Done done, int seconds = 30) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (!done() && Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }
    void pump(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    static uint8_t ask(RawClient& c, const std::vector<uint8_t>& f) {
        c.send(line(f));
        const std::vector<uint8_t> r = c.receive();
        return r.size() > kPayload ? r[kPayload] : 0xEE;
    }
    static std::vector<uint8_t> readBack(RawClient& c, uint32_t address, uint16_t length) {
        c.send(line(memRead(address, length)));
        const std::vector<uint8_t> r = c.receive();
        if (r.size() < kPayload + 1u + length || r[kPayload] != kStatusOk) return {};
        return std::vector<uint8_t>(r.begin() + long(kPayload) + 1, r.begin() + long(kPayload) + 1 + length);
    }
    // RAM 0x380..0xFFF as the test began, every marker word set to `marker`.
    std::vector<uint8_t> mode(uint16_t marker) const {
        std::vector<uint8_t> m(region, region + kModeLength);
        for (unsigned a : kMarkers) VlxRamPara::setU16(m.data(), a - kModeStart, marker);
        VlxRamPara::setU16(m.data(), kScreenState - kModeStart, marker & 1);
        return m;
    }
    // The marker of a mode copy starting at RAM 0x380; 0 when its markers differ.
    static uint16_t markerOf(const unsigned char* m) {
        const uint16_t first = VlxRamPara::getU16(m, kMarkers[0] - kModeStart);
        for (unsigned a : kMarkers)
            if (VlxRamPara::getU16(m, a - kModeStart) != first) return 0;
        return VlxRamPara::getU16(m, kScreenState - kModeStart) == (first & 1) ? first : 0;
    }
    static uint16_t fileMarker(int slot) {
        const std::string f = testkit::readFile("/data/modes/custom_mode" + std::to_string(slot + 1));
        return f.size() == kModeFileSize ? markerOf(reinterpret_cast<const unsigned char*>(f.data()) + 2) : 0;
    }
    // A touch on the home screen's mode panel: recall (or save) of slot.
    void touchMode(int slot, bool save) {
        if (!g_mainwindow) {
            g_mainwindow = new MainWindow;
            g_mainwindow->show();
        }
        g_page_focus = 1;
        testkit::touchWidget(g_mainwindow->findChild<QPushButton*>(QStringLiteral("modepanel")));
        testkit::touchWidget(g_mainwindow->findChild<QPushButton*>(save ? QStringLiteral("Button_mode_save")
                                                                        : QStringLiteral("Button_mode_recall")));
        QWidget* buttons = g_mainwindow->findChild<QWidget*>(QStringLiteral("frame_mode_buttons"));
        ASSERT_TRUE(buttons);
        testkit::touchWidget(buttons->findChild<QPushButton*>(QString::number(slot)));
    }

    unsigned char region[kModeLength] = {};
    std::atomic<bool> passing{false};
    std::atomic<int> passCount{0};
    std::thread passer;
};

}  // namespace

// Four PCs rewrite the whole mode region, alternately with two patterns, while the PC's mode
// save requests (RAM 0x364 and register 11 bit 2) are carried out: every saved file and slot
// holds one pattern whole. A second request made while a save is under way, for the same
// slot after a change, is served too.
TEST_F(SharedRamTest, ModeSavesBesideFourPcsRewritingTheRegionKeepOnePatternAndALateRequest) {
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> pcs;
    for (int k = 0; k < 4; ++k)
        pcs.emplace_back([&, k] {
            RawClient c(networkManage::p_networkManage->port(), 60, 0, uint8_t(10 + k));  // a PC each
            const std::vector<uint8_t> patterns[2] = {mode(0x1111), mode(0x2222)};
            for (int i = k; !stop; ++i)
                if (ask(c, memWrite(kModeStart, patterns[i % 2])) != kStatusOk) ++refused;
        });
    startPasses();
    RawClient saver(networkManage::p_networkManage->port());
    ASSERT_EQ(ask(saver, memWrite(kModeStart, mode(0x1111))), kStatusOk);  // one whole pattern from the start
    int saves = 0, mixed = 0;
    for (int round = 0; round < 60 && !HasFatalFailure(); ++round) {
        const int slot = round % 4;
        ASSERT_EQ(ask(saver, memWrite(kModeSaveRequest, le16(uint16_t(slot + 1)))), kStatusOk);
        ASSERT_EQ(ask(saver, regWrite(kRegUpdate, 0x04, 0x04)), kStatusOk);
        ASSERT_TRUE(waitFor([&] { return store->snapshotU16(kModeSaveRequest) == 0; }));
        unsigned char copy[kModeSlotSize];
        store->readSlot(slot, 0, kModeSlotSize, copy);
        ++saves;
        if (fileMarker(slot) == 0 || markerOf(copy + 2) == 0) {
            ++mixed;
            ADD_FAILURE() << "round " << round << ": file " << fileMarker(slot) << ", slot " << markerOf(copy + 2);
        }
    }
    stop = true;
    for (auto& t : pcs) t.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(saves, 60);
    EXPECT_EQ(mixed, 0) << "of " << saves << " saved modes";

    // A writer's hold that changes the region in two steps (its bytes are whole only once it
    // lets go): the save asked for meanwhile copies the region after it, not half of it.
    ASSERT_EQ(ask(saver, memWrite(kModeSaveRequest, le16(7))), kStatusOk);
    std::atomic<bool> half{false};
    std::thread writer([&] {
        ManageMutexLocker lock;
        const std::vector<uint8_t> m = mode(0x5555);
        VlxRamPara::VlxRamParaDeal(const_cast<uint8_t*>(m.data()), kModeLength / 2, kModeStart);
        half = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        VlxRamPara::VlxRamParaDeal(const_cast<uint8_t*>(m.data()) + kModeLength / 2, kModeLength / 2,
                                   kModeStart + kModeLength / 2);
    });
    while (!half) std::this_thread::yield();
    SyncUpdate::pInstance()->para_sync(1);  // the change handling, on the GUI thread
    writer.join();
    EXPECT_EQ(fileMarker(6), 0x5555);

    // Slot 6 is being saved when the PC changes the region and asks for slot 6 again.
    ASSERT_EQ(ask(saver, memWrite(kModeStart, mode(0x3333))), kStatusOk);
    std::atomic<bool> asked{false};  // the parameter file's writer thread syncs too
    plat::sim::simShell()->addHandler("sync", [&](const std::vector<std::string>&, std::string&) {
        if (fileMarker(5) == 0x3333 && !asked.exchange(true)) {
            RawClient late(networkManage::p_networkManage->port());
            ask(late, memWrite(kModeStart, mode(0x4444)));
            ask(late, memWrite(kModeSaveRequest, le16(6)));
            ask(late, regWrite(kRegUpdate, 0x04, 0x04));
        }
        return 0;
    });
    ASSERT_EQ(ask(saver, memWrite(kModeSaveRequest, le16(6))), kStatusOk);
    ASSERT_EQ(ask(saver, regWrite(kRegUpdate, 0x04, 0x04)), kStatusOk);
    EXPECT_TRUE(waitFor([&] { return asked && fileMarker(5) == 0x4444; })) << "file holds " << fileMarker(5);
    EXPECT_EQ(store->slotWord(5, kMarkers[0]), 0x4444);
}

// A PC writes slot 3 (index 2) and reads it back while the panel's change handling rewrites the files of
// every saved slot (register 11 bit 2 from a second PC), saves the RAM into slot 2 and recalls
// slot 3 by touch: no write answered 0 reads back older, and every recall applies one whole mode.
TEST_F(SharedRamTest, PcSlotWritesBesidePanelSavesAndRecallsAreNeitherUndoneNorMixed) {
    constexpr uint32_t kSlot3 = 0x3000;  // slot N at N << 12
    RawClient setup(networkManage::p_networkManage->port());
    std::vector<uint8_t> first = {kModeSaved, kModeSaved};
    const std::vector<uint8_t> image = mode(1);
    first.insert(first.end(), image.begin(), image.end());
    startPasses();
    ASSERT_EQ(ask(setup, memWrite(kSlot3, first)), kStatusOk);
    ASSERT_EQ(ask(setup, regWrite(kRegUpdate, 0x04, 0x04)), kStatusOk);
    ASSERT_TRUE(waitFor([&] { return fileMarker(2) == 1; }));

    std::atomic<bool> stop{false};
    std::atomic<int> older{0}, written{0};
    std::thread writer([&] {
        RawClient c(networkManage::p_networkManage->port());
        for (uint16_t i = 2; !stop; ++i) {
            std::vector<uint8_t> slot = {kModeSaved, kModeSaved};
            const std::vector<uint8_t> m = mode(i);
            slot.insert(slot.end(), m.begin(), m.end());
            if (ask(c, memWrite(kSlot3, slot)) != kStatusOk) continue;
            ++written;
            std::this_thread::sleep_for(std::chrono::microseconds(500 * (i % 4)));
            const std::vector<uint8_t> back = readBack(c, kSlot3 + 2 + kMarkers[0] - kModeStart, 2);
            if (back.size() != 2 || VlxRamPara::getU16(back.data(), 0) != i) ++older;
        }
    });
    // One bookkeeping request per round of touches at most: the GUI thread serves them only
    // while the rounds pump its events, and a faster PC would only heap up a backlog.
    std::atomic<int> rounds{0};
    std::thread keeper([&] {
        RawClient c(networkManage::p_networkManage->port());
        int served = -1;
        while (!stop) {
            if (rounds.load() != served) {
                served = rounds.load();
                ask(c, regWrite(kRegUpdate, 0x04, 0x04));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    int recalls = 0, mixed = 0;
    // Four seconds of rounds, and on a slow machine on until enough of each happened.
    const auto end = Clock::now() + std::chrono::seconds(4);
    const auto limit = Clock::now() + std::chrono::seconds(90);
    auto enough = [&] { return recalls > 5 && written.load() > 20; };
    for (int round = 0; (Clock::now() < end || !enough()) && Clock::now() < limit && !HasFatalFailure();
         ++round, ++rounds) {
        touchMode(round % 3 == 0 ? 1 : 2, round % 3 == 0);
        if (round % 3 == 0) {
            pump(20);  // the save, by the change handling
            continue;
        }
        ++recalls;
        unsigned char now[kModeLength];
        store->snapshot(kModeStart, kModeLength, now);
        if (markerOf(now) == 0) ++mixed;
        pump(5);
    }
    stop = true;
    writer.join();
    keeper.join();
    EXPECT_GT(written.load(), 20);
    EXPECT_GT(recalls, 5);
    EXPECT_EQ(older.load(), 0) << "of " << written.load() << " acknowledged slot writes";
    EXPECT_EQ(mixed, 0) << "of " << recalls << " recalls";

    // A recall touched while a slot write is under way applies the slot once the write is whole.
    std::atomic<bool> half{false};
    std::thread slotWriter([&] {
        plat::Locker<plat::Mutex> lock(store->mode_mutex);  // a PC's slot write holds it so
        const std::vector<uint8_t> m = mode(0x6666);
        store->putSlot(2, 2, m.data(), kModeLength / 2);
        half = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        store->putSlot(2, 2 + kModeLength / 2, m.data() + kModeLength / 2, kModeLength / 2);
    });
    while (!half) std::this_thread::yield();
    touchMode(2, false);
    slotWriter.join();
    EXPECT_EQ(store->snapshotU16(kMarkers[0]), 0x6666);
    EXPECT_EQ(store->snapshotU16(kMarkers[3]), 0x6666);
}

// Two PCs on slot 3 at once, round after round: one deletes the mode (marker FF FF, register 11
// bit 2), the other saves a new one into the slot 0-10 ms after the delete is answered (marker
// AA AA and the mode, register 11 bit 2) while the delete's bookkeeping runs. Every save is
// answered "done", so every round ends with the saved mode in the slot and in its file.
TEST_F(SharedRamTest, ModeSavedJustAfterItsDeleteIsKeptInTheSlotAndItsFile) {
    constexpr uint32_t kSlot3 = 0x3000;
    constexpr int kRounds = 100;
    startPasses();
    std::atomic<int> deleted{-1}, saved{-1}, next{0};
    std::atomic<int> refused{0};
    std::thread deleter([&] {
        RawClient c(networkManage::p_networkManage->port());
        for (int round = 0; round < kRounds; ++round) {
            while (next < round) std::this_thread::yield();
            if (ask(c, memWrite(kSlot3, {kModeEmpty, kModeEmpty})) != kStatusOk ||
                ask(c, regWrite(kRegUpdate, 0x04, 0x04)) != kStatusOk)
                ++refused;
            deleted = round;
        }
    });
    std::thread saver([&] {
        RawClient c(networkManage::p_networkManage->port());
        for (int round = 0; round < kRounds; ++round) {
            while (deleted < round) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(round % 11 * 1000));  // the PC's gap
            std::vector<uint8_t> slot = {kModeSaved, kModeSaved};
            const std::vector<uint8_t> m = mode(uint16_t(0x100 + round));
            slot.insert(slot.end(), m.begin(), m.end());
            if (ask(c, memWrite(kSlot3, slot)) != kStatusOk || ask(c, regWrite(kRegUpdate, 0x04, 0x04)) != kStatusOk)
                ++refused;
            saved = round;
        }
    });
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(waitFor([&] { return saved >= round; }));
        const uint16_t marker = uint16_t(0x100 + round);
        const bool kept = waitFor(
            [&] {
                unsigned char head[2] = {0, 0};
                store->readSlot(2, 0, 2, head);
                return head[0] == kModeSaved && store->slotWord(2, kMarkers[0]) == marker && fileMarker(2) == marker;
            },
            5);
        if (!kept) ++lost;
        next = round + 1;
    }
    deleter.join();
    saver.join();
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(lost, 0) << "saves lost of " << kRounds;
}

// One PC asks for the receivers' dump (register 0xA3 = 10, on the scaler's pass) every few
// milliseconds while another keeps applying EDID words no EDID can carry (input 0, size 0),
// which the input-source thread sets back to its EEPROM's timing: the scaler's passes and
// both PCs are answered throughout.
TEST_F(SharedRamTest, ReceiverDumpBesideRefusedEdidWordsKeepsTheControllerAnswering) {
    for (const auto& in : plat::wiring::kVideoInputs)
        plat::sim::board().find<plat::sim::EdidEepromModel>(in.edid)->setContents(defaultEdid(edidKindOfSource(in.source)));
    kavelsource::linkScaler();
    ASSERT_EQ(kavelsource::pInstance()->initialize(), 0);  // its own thread, as on the device
    startPasses();
    std::atomic<bool> stop{false};
    std::atomic<int> dumps{0}, edids{0}, unanswered{0};
    std::thread dumper([&] {
        RawClient c(networkManage::p_networkManage->port());
        while (!stop) {
            if (ask(c, regWrite(kRegDebugA3, 0xFF, 10)) != kStatusOk) ++unanswered;
            else ++dumps;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::thread edid([&] {
        RawClient c(networkManage::p_networkManage->port());
        while (!stop) {
            if (ask(c, memWrite(kEdidPara, le16(0))) != kStatusOk ||
                ask(c, regWrite(kRegUpdate, 0x02, 0x02)) != kStatusOk)
                ++unanswered;
            else ++edids;
        }
    });
    // A hang leaves its threads (this one too) holding or waiting for the locks: the watch
    // reports it and ends the program.
    std::thread watch([&] {
        int seen = -1;
        auto lastProgress = Clock::now();
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (passCount != seen) {
                seen = passCount;
                lastProgress = Clock::now();
            } else if (Clock::now() - lastProgress > std::chrono::seconds(20)) {
                std::fprintf(stderr, "the scaler's pass stopped after %d EDID applies and %d dumps\n", edids.load(),
                             dumps.load());
                std::fflush(nullptr);
                std::_Exit(1);
            }
        }
    });
    waitFor([&] { return edids >= 60 && dumps >= 200; }, 100);
    stop = true;
    watch.join();
    EXPECT_GE(edids.load(), 60);
    EXPECT_GE(dumps.load(), 200);
    stopPasses();
    dumper.join();
    edid.join();
    EXPECT_EQ(unanswered.load(), 0);
}

// A shell command that takes long (the PC's clock set, its `hwclock`) does not hold up the
// FPGA engine's pass.
TEST_F(SharedRamTest, SlowShellCommandDoesNotHoldUpTheEnginePass) {
    std::atomic<bool> release{false}, running{false};
    plat::sim::simShell()->addHandler("hwclock", [&](const std::vector<std::string>&, std::string&) {
        running = true;
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (!release && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    });
    std::thread pc([&] {
        RawClient c(networkManage::p_networkManage->port(), 40);
        ask(c, frame(kGroupSetClock, {0x24, 0x20, 0x06, 0x15, 0x12, 0x30, 0x00}));
    });
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!running && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(running.load());
    engine_requests::fpgaOutputPosition = 1;  // the engine's pass takes its request
    passing = true;                           // (the GUI's events stay on this thread)
    std::atomic<bool> done{false};
    std::thread passes([&] {
        tick(3);
        done = true;
    });
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!done && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(done.load()) << "a pass waited for the shell command";
    release = true;
    passes.join();
    pc.join();
    plat::sim::simShell()->removeHandler("hwclock");
}
