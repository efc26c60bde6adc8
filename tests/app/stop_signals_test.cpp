// How the program ends on a stop signal, each run in a child process of its own: a PC's change
// has reached the RAM and waits for the manager's pass (nothing has saved it), then the
// signal; the panel's event loop leaves at once, or is held in a refresh that never returns.
#include <QCoreApplication>
#include <QTimer>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "core/ram_file_writer.h"
#include "app/stop_signals.h"
#include "core/store_fixture.h"

using storetest::StoreTest;

namespace {
constexpr unsigned kWord = vlxram::kUnused8DE;

[[noreturn]] void runUntilStopped(bool panelHeld, uint16_t value) {
    int argc = 1;
    char name[] = "vlxH71N";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    stop_signals::install(&app);
    QTimer::singleShot(0, &app, [panelHeld, value] {
        std::thread pc([value] {  // as a link writes and applies
            unsigned char bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
            ManageMutexLocker lock;
            VlxRamPara::VlxRamParaDeal(bytes, 2, kWord);
            c331_manage::update_flag = 1;
        });
        pc.join();
        ::kill(::getpid(), SIGTERM);
        if (panelHeld)
            for (;;) ::pause();
    });
    stop_signals::endAfterLoop(app.exec());
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
