// How the program ends on a stop signal, each run in a child process of its own: a PC's change
// has reached the RAM and waits for the manager's pass (nothing has saved it), then the
// signal; the panel's event loop leaves at once, or is held in a refresh that never returns.
#include <QCoreApplication>
#include <QTimer>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <tuple>
#include <thread>

#include "core/global.h"
#include "core/ram_file_writer.h"
#include "app/stop_save.h"
#include "app/stop_signals.h"
#include "app/syncupdate.h"
#include "core/mode_file_requests.h"
#include "core/store_fixture.h"
#include "core/utils.h"
#include "platform/net.h"
#include "platform/sim/sim_file_system.h"
#include "protocol/networkmanage.h"
#include "protocol/transport_fixture.h"

using storetest::StoreTest;

namespace {
constexpr unsigned kWord = vlxram::kUnused8DE;

// The child as main makes the program, its application and the stop's handlers; `first` runs
// as the event loop's first event, and a held panel never returns from it.
[[noreturn]] void runChild(bool panelHeld, const std::function<void()>& first) {
    int argc = 1;
    char name[] = "vlxH71N";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    stop_signals::install(&app);
    QTimer::singleShot(0, &app, [panelHeld, &first] {
        first();
        if (panelHeld)
            for (;;) ::pause();
    });
    stop_signals::endAfterLoop(app.exec());
}

[[noreturn]] void runUntilStopped(bool panelHeld, uint16_t value) {
    runChild(panelHeld, [value] {
        std::thread pc([value] {  // as a link writes and applies
            unsigned char bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
            ManageMutexLocker lock;
            VlxRamPara::VlxRamParaDeal(bytes, 2, kWord);
            c331_manage::update_flag = 1;
        });
        pc.join();
        ::kill(::getpid(), SIGTERM);
    });
}
}  // namespace

TEST_F(StoreTest, AStopSavesTheLastChangeWhetherThePanelLeavesItsLoopOrIsHeld) {
    start();
    for (const bool panelHeld : {false, true}) {
        SCOPED_TRACE(panelHeld ? "panel held: the watcher ends the program" : "panel leaves its loop");
        const uint16_t value = panelHeld ? 0x5AA5 : 0x1234;
        RamFileWriter::flush();
        ASSERT_NE(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), value);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) runUntilStopped(panelHeld, value);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
        EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), value);
    }
}

// A notification running beside the stop hands over the copy of the RAM it took before the
// stop's: the parameter file keeps the stop's.
TEST_F(StoreTest, ACopyHandedOverAfterTheStopsSaveDoesNotReplaceIt) {
    VlxRamPara* p = start();
    unsigned char older[vlxram::kRamSize], atStop[vlxram::kRamSize];
    {
        ManageMutexLocker lock;
        p->copyRam(0, vlxram::kRamSize, older);
    }
    std::memcpy(atStop, older, sizeof atStop);
    VlxRamPara::setU16(atStop, kWord, 0x7777);
    RamFileWriter::saveAtStop(atStop);
    RamFileWriter::save(older);
    RamFileWriter::flush();
    EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), 0x7777);
}

namespace {
// Where the panel is when the signal comes: in its event loop, held in a refresh that never
// returns, or held so inside a hold of the RAM it has taken once a PC asked for the files; or
// in its loop serving the change codes that a pass, as the scaler's manager makes one (its chip
// work left out), announces for each hand-over.
enum class Panel { Leaves, Held, HoldsRam, Serves };

// The controller's TCP link on a port the system picks, told to the parent through `out`
// (and then, with Panel::HoldsRam, a byte once the RAM is held), until the stop signal.
[[noreturn]] void serveUntilStopped(Panel panel, int out) {
    runChild(panel == Panel::Held || panel == Panel::HoldsRam, [panel, out] {
        {
            plat::Locker<plat::QtMutex> l(Utils::_settings_mutex);
            plat::net::setPortOffset(-g_port);
        }
        if (panel == Panel::Serves) {
            SyncUpdate::pInstance()->follow(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para);
            std::thread([] {
                for (;;) {
                    uint8_t code = 0;
                    {
                        ManageMutexLocker lock;
                        code = c331_manage::update_flag.exchange(0);
                    }
                    if (code)
                        VlxRamPara::test_signal(code);
                    else
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a pace
                }
            }).detach();
        }
        const int port = networkManage::pInstance()->port();
        (void)!::write(out, &port, sizeof port);
        if (panel != Panel::HoldsRam) return;
        while (c331_manage::update_flag != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a pace
        ManageMutexLocker hold;
        (void)!::write(out, "h", 1);
        for (;;) ::pause();
    });
}

// A child serving (Panel::Serves) on a board whose every fsync takes fsyncMs more; its TCP port
// in *port (-1 when none came).
pid_t servingChild(int fsyncMs, int* port) {
    *port = -1;
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    plat::sim::simFileSystem()->setFsyncDelay(fsyncMs);  // the child's board
    const pid_t child = ::fork();
    if (child == 0) serveUntilStopped(Panel::Serves, fds[1]);
    plat::sim::simFileSystem()->setFsyncDelay(0);
    ::close(fds[1]);
    if (child > 0 && ::read(fds[0], port, sizeof *port) != ssize_t(sizeof *port)) *port = -1;
    ::close(fds[0]);
    return child;
}

uint8_t answer(prototest::RawClient& pc, const std::vector<uint8_t>& frame) {
    pc.send(prototest::line(frame));
    const auto r = pc.receive();
    return r.size() > ctl::kPayload ? r[ctl::kPayload] : 0xEE;
}

uint16_t modeFileWord(const std::string& file, unsigned ramAddress) {
    const size_t at = 2 + ramAddress - vlxram::kModeStart;
    return file.size() < vlxram::kModeFileSize ? 0 : uint16_t(uint8_t(file[at]) | (uint8_t(file[at + 1]) << 8));
}

// The child's end: its wait status, or -1 (the child killed) when it has not ended within a
// minute, a limit for a loaded machine: the stop's own waits are a few seconds.
int endOf(pid_t child) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a pace
    }
    return status;
}
}  // namespace

// A PC writes a user-mode slot and a RAM word, asks for a save of the RAM as another mode
// (RAM 0x364) and, with register 11, for the apply and the user-mode files; each is answered
// "done", then the signal comes before any pass or refresh has run. A panel that holds the
// RAM for ever keeps the save from it, not the files nor the end.
TEST_F(StoreTest, AStopCarriesOutTheUserModeSaveAndFilesAPcWasAnsweredDoneFor) {
    using namespace prototest;
    struct Run {
        Panel panel;
        uint16_t saved, written, value;  // modes from 1, the RAM word
        const char* what;
    };
    start();
    for (const Run& run : {Run{Panel::Leaves, 3, 5, 0x1234, "panel leaves its loop"},
                           Run{Panel::Held, 4, 6, 0x5AA5, "panel held: the watcher ends the program"},
                           Run{Panel::HoldsRam, 7, 8, 0x0FF0, "panel held holding the RAM"}}) {
        SCOPED_TRACE(run.what);
        std::vector<uint8_t> slot(2 + kWord - vlxram::kModeStart, 0);
        slot[0] = slot[1] = vlxram::kModeSaved;
        slot = cat(slot, le16(uint16_t(~run.value)));
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) serveUntilStopped(run.panel, pipeFds[1]);
        ::close(pipeFds[1]);
        int port = -1;
        ASSERT_EQ(::read(pipeFds[0], &port, sizeof port), ssize_t(sizeof port));
        {
            RawClient pc(port);
            EXPECT_EQ(answer(pc, memWrite(0x1000u * run.written, slot)), kStatusOk);
            EXPECT_EQ(answer(pc, memWrite(kWord, le16(run.value))), kStatusOk);
            EXPECT_EQ(answer(pc, memWrite(vlxram::kModeSaveRequest, le16(run.saved))), kStatusOk);
            EXPECT_EQ(answer(pc, regWrite(11, 0x06, 0x06)), kStatusOk);
        }
        char held = 0;
        if (run.panel == Panel::HoldsRam) {
            EXPECT_EQ(::read(pipeFds[0], &held, 1), 1);
        }
        ::close(pipeFds[0]);
        ::kill(child, SIGTERM);
        const int status = endOf(child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
        restart();  // the mode files the stop owed are carried in before anything reads them
        const std::string file = testkit::readFile("/data/modes/custom_mode" + std::to_string(run.written));
        EXPECT_EQ(modeFileWord(file, kWord), uint16_t(~run.value)) << "the slot as the PC wrote it";
        EXPECT_EQ(file.substr(0, 2), std::string(2, char(vlxram::kModeSaved)));
        const std::string ram = testkit::readFile("/data/ram_device_info");
        const std::string mode = testkit::readFile("/data/modes/custom_mode" + std::to_string(run.saved));
        if (run.panel == Panel::HoldsRam) {
            EXPECT_EQ(mode, "") << "the save needs the RAM";
            EXPECT_NE(storetest::fileU16(ram, kWord), run.value);
            continue;
        }
        EXPECT_EQ(modeFileWord(mode, kWord), run.value);
        EXPECT_EQ(storetest::fileU16(ram, kWord), run.value);
        EXPECT_EQ(storetest::fileU16(ram, vlxram::kCurrentMode), run.saved) << "the saved mode is the current one";
        EXPECT_EQ(storetest::fileU16(ram, vlxram::kModeSaveRequest), 0) << "the request was served";
    }
}

// Slow storage, every fsync 300 ms: a PC has written all 16 user-mode slots and asked for their
// files (register 11 bit 2), a brightness change, and a save of the RAM into mode 7 (RAM 0x364),
// each answered "done"; the panel's notification is writing them when the signal comes, and
// nothing kills the program. The stop ends by itself, the parameter file written before the
// modes owed; at the next start every slot holds the PC's bytes, mode 7 the RAM, 0x364 reads 0
// and 7 is the current mode: no "done" lost to a deadline or to the notification's own save.
TEST_F(StoreTest, AStopOnSlowStorageKeepsEveryModeAnsweredDoneWithTheParameterFileFirst) {
    using namespace prototest;
    const uint16_t ramWord = start()->snapshotU16(kWord);
    int port = -1;
    const pid_t child = servingChild(300, &port);
    ASSERT_GE(child, 0);
    ASSERT_GE(port, 0);
    const uint16_t value = 0x0042, saved = 7;
    const auto tag = [](uint32_t mode) { return uint16_t(0x5A00 + mode); };
    {
        RawClient pc(port);
        for (uint32_t mode = 1; mode <= vlxram::kModeSlots; ++mode) {
            std::vector<uint8_t> slot(2 + kWord - vlxram::kModeStart, 0);
            slot[0] = slot[1] = vlxram::kModeSaved;
            EXPECT_EQ(answer(pc, memWrite(0x1000u * mode, cat(slot, le16(tag(mode))))), kStatusOk);
        }
        EXPECT_EQ(answer(pc, memWrite(vlxram::kBrightness, le16(value))), kStatusOk);
        EXPECT_EQ(answer(pc, memWrite(vlxram::kModeSaveRequest, le16(saved))), kStatusOk);
        EXPECT_EQ(answer(pc, regWrite(11, 0x06, 0x06)), kStatusOk);
    }
    ::kill(child, SIGTERM);
    const int status = endOf(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    struct stat ram {}, owed {};
    ASSERT_EQ(::stat(plat::path("/data/ram_device_info").c_str(), &ram), 0);
    const bool owing = ::stat(plat::path(VlxRamPara::kOwedModesFile).c_str(), &owed) == 0;
    EXPECT_TRUE(owing) << "no user mode owed by the stop";
    if (owing) {
        EXPECT_LE(std::tie(ram.st_mtim.tv_sec, ram.st_mtim.tv_nsec), std::tie(owed.st_mtim.tv_sec, owed.st_mtim.tv_nsec))
            << "the parameter file first";
    }
    const std::string ramFile = testkit::readFile("/data/ram_device_info");
    VlxRamPara* p = restart();
    for (uint32_t mode = 1; mode <= vlxram::kModeSlots; ++mode) {
        const std::string file = testkit::readFile("/data/modes/custom_mode" + std::to_string(mode));
        EXPECT_EQ(modeFileWord(file, kWord), mode == saved ? ramWord : tag(mode)) << "mode " << mode;
        EXPECT_EQ(modeFileWord(file, vlxram::kBrightness), mode == saved ? value : 0) << "mode " << mode;
        EXPECT_EQ(p->slotWord(int(mode) - 1, kWord), mode == saved ? ramWord : tag(mode)) << "mode " << mode;
    }
    EXPECT_EQ(storetest::fileU16(ramFile, vlxram::kCurrentMode), saved) << "the saved mode is the current one";
    ManageMutexLocker lock;
    EXPECT_EQ(p->ramU16(vlxram::kBrightness), value);
    EXPECT_EQ(p->ramU16(vlxram::kModeSaveRequest), 0) << "the save was served";
}

// A PC writes a saved RAM word as fast as it is answered and applies each, with no user-mode
// slot pending and with 16 (their files asked for, the panel's notification writing them), on
// storage where every fsync takes 600 ms; the signal comes while the parameter file's writer or
// the notification is under way, and a supervisor kills 2 s later. One write of the parameter
// file (1.2 s) fits: the file holds the last value answered "done", for the stop waits neither
// for an older copy under way nor for a mode file.
TEST_F(StoreTest, AKillTwoSecondsAfterTheStopFindsTheLastChangeOnSlowStorage) {
    using namespace prototest;
    start();
    for (const bool slotsPending : {false, true}) {
        SCOPED_TRACE(slotsPending ? "16 slots pending" : "no slot pending");
        int port = -1;
        const pid_t child = servingChild(600, &port);
        ASSERT_GE(child, 0);
        ASSERT_GE(port, 0);
        RawClient pc(port);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        const auto pace = [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };  // a pace
        if (slotsPending) {
            for (uint32_t mode = 1; mode <= vlxram::kModeSlots; ++mode)
                EXPECT_EQ(answer(pc, memWrite(0x1000u * mode, {vlxram::kModeSaved, vlxram::kModeSaved})), kStatusOk);
            EXPECT_EQ(answer(pc, regWrite(11, 0x04, 0x04)), kStatusOk);
            // the notification past its first mode file
            while (testkit::readFile("/data/modes/custom_mode1").empty() && std::chrono::steady_clock::now() < limit)
                pace();
        }
        constexpr uint16_t kFirst = 0x100;  // (the factory image has 1)
        std::atomic<uint16_t> answered{0};
        std::thread stream([&pc, &answered] {
            for (uint16_t v = kFirst;; v = uint16_t(v == 0xFFFF ? kFirst : v + 1)) {
                if (answer(pc, memWrite(kWord, le16(v))) != kStatusOk) return;
                answered = v;
                if (answer(pc, regWrite(11, 0x02, 0x02)) != kStatusOk) return;
            }
        });
        // the parameter file's writer under way with a copy after one has landed
        while ((answered == 0 ||
                (!slotsPending && storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord) < kFirst)) &&
               std::chrono::steady_clock::now() < limit)
            pace();
        ::kill(child, SIGTERM);
        const auto killAt = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        int status = 0;
        pid_t ended = 0;
        while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < killAt)
            pace();
        if (ended == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        stream.join();
        ASSERT_NE(answered.load(), 0);
        EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), answered.load());
    }
}

// The panel's bookkeeping of register 11 bit 2 that comes while the stop writes the parameter
// file (its flush held) is turned away: the slot it leaves is owed by the stop all the same, and
// in its file at the next start.
TEST_F(StoreTest, ASlotFileTheStopTurnsTheNotificationAwayFromIsOwedByTheStop) {
    VlxRamPara* p = start();
    std::vector<unsigned char> slot(2 + kWord - vlxram::kModeStart + 2, 0);
    slot[0] = slot[1] = vlxram::kModeSaved;
    VlxRamPara::setU16(slot.data(), 2 + kWord - vlxram::kModeStart, 0x3C3C);
    p->writeSlot(4, 0, slot.data(), unsigned(slot.size()));
    mode_file_requests::asked();
    {
        ManageMutexLocker lock;
        p->setRamU16(kWord, 0x4321);  // the stop has a parameter file to write
    }
    RamFileWriter::flush();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        plat::sim::SimFileSystem* fs = plat::sim::simFileSystem();
        fs->holdNextFsync();
        std::thread stop(stop_save::run);
        const bool held = fs->waitForHeldFsync();
        SyncUpdate::pInstance()->para_sync(2);
        fs->releaseFsync();
        stop.join();
        ::_exit(held ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    p = restart();
    EXPECT_EQ(modeFileWord(testkit::readFile("/data/modes/custom_mode5"), kWord), 0x3C3C);
    EXPECT_EQ(p->slotWord(4, kWord), 0x3C3C);
    EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), 0x4321);
}
