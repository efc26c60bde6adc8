// How the program ends on a stop signal, each run in a child process of its own: a PC's change
// has reached the RAM and waits for the manager's pass (nothing has saved it), then the
// signal; the panel's event loop leaves at once, or is held in a refresh that never returns.
#include <QCoreApplication>
#include <QTimer>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <tuple>
#include <thread>

#include "core/global.h"
#include "core/ram_file_writer.h"
#include "app/stop_save.h"
#include "app/stop_signals.h"
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
// returns, or held so inside a hold of the RAM it has taken once a PC asked for the files.
enum class Panel { Leaves, Held, HoldsRam };

// The controller's TCP link on a port the system picks, told to the parent through `out`
// (and then, with Panel::HoldsRam, a byte once the RAM is held), until the stop signal.
[[noreturn]] void serveUntilStopped(Panel panel, int out) {
    runChild(panel != Panel::Leaves, [panel, out] {
        {
            plat::Locker<plat::QtMutex> l(Utils::_settings_mutex);
            plat::net::setPortOffset(-g_port);
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

// Slow storage, every fsync 100 ms: a PC has written all 16 user-mode slots and asked for their
// files (register 11 bit 2), then a brightness change and its apply, each answered "done"; the
// panel is held, so all 16 files wait for the stop. A supervisor kills a second after the
// stop's deadline: the parameter file holds the brightness and was written before the first
// mode file, the stop ended before the kill, the files that did not fit are logged, and one
// last save ran.
TEST_F(StoreTest, AStopOnSlowStorageWritesTheParameterFileFirstAndEndsWithinItsDeadline) {
    using namespace prototest;
    start();
    const std::string log = "/data/kavelkv/log/zufEnglneLog";
    const size_t logBefore = logSize();
    plat::sim::simFileSystem()->setFsyncDelay(100);  // the child's board
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) serveUntilStopped(Panel::Held, pipeFds[1]);
    plat::sim::simFileSystem()->setFsyncDelay(0);
    ::close(pipeFds[1]);
    int port = -1;
    ASSERT_EQ(::read(pipeFds[0], &port, sizeof port), ssize_t(sizeof port));
    ::close(pipeFds[0]);
    const uint16_t value = 0x0042;
    {
        RawClient pc(port);
        for (uint32_t mode = 1; mode <= vlxram::kModeSlots; ++mode)
            EXPECT_EQ(answer(pc, memWrite(0x1000u * mode, {vlxram::kModeSaved, vlxram::kModeSaved})), kStatusOk);
        EXPECT_EQ(answer(pc, regWrite(11, 0x04, 0x04)), kStatusOk);
        EXPECT_EQ(answer(pc, memWrite(vlxram::kBrightness, le16(value))), kStatusOk);
        EXPECT_EQ(answer(pc, regWrite(11, 0x02, 0x02)), kStatusOk);
    }
    ::kill(child, SIGTERM);
    const auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(stop_save::kDeadlineMs + 1000);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < killAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a pace
    if (ended == 0) {
        ADD_FAILURE() << "the stop did not end a second after its deadline: killed";
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), vlxram::kBrightness), value);
    struct stat ram {}, mode {};
    ASSERT_EQ(::stat(plat::path("/data/ram_device_info").c_str(), &ram), 0);
    ASSERT_EQ(::stat(plat::path("/data/modes/custom_mode1").c_str(), &mode), 0) << "no mode file fitted";
    EXPECT_LE(std::tie(ram.st_mtim.tv_sec, ram.st_mtim.tv_nsec), std::tie(mode.st_mtim.tv_sec, mode.st_mtim.tv_nsec))
        << "the parameter file first";
    const std::string lines = testkit::readFile(log).substr(logBefore);
    EXPECT_NE(lines.find("file not written at the stop: past its"), std::string::npos) << lines;
    size_t saves = 0;
    for (size_t at = lines.find("the last save took"); at != std::string::npos;
         at = lines.find("the last save took", at + 1))
        ++saves;
    EXPECT_EQ(saves, 1u) << lines;
}
