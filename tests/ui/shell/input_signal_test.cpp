// A source plugged into the simulated board through the board-control socket shows on
// the status and home screens, and "No signal" once it is pulled: the
// receivers, the input-source thread, the parameter RAM and the change notification
// working together as on ./run.sh.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLabel>

#include <cstring>
#include <functional>

#include "app/syncupdate.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "platform/sim/video_chips.h"
#include "shell_fixture.h"
#include "ui/shell/screen_text.h"
#include "video_io/kavelsource.h"

using shelltest::ShellTest;

namespace {

class InputSignalTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        plat::sim::SimBoard& b = plat::sim::board();
        plat::sim::buildStandardBoard(b);
        for (const auto& in : plat::wiring::kVideoInputs)
            b.find<plat::sim::EdidEepromModel>(in.edid)->setContents(defaultEdid(edidKindOfSource(in.source)));
        b.followRealTime(true);
        plat::sim::registerChipCommands();
        ASSERT_TRUE(plat::sim::startBoardControl());
        SyncUpdate::pInstance();
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::p_SyncUpdate, &SyncUpdate::para_sync);
        ASSERT_EQ(kavelsource::pInstance()->initialize(), 0);
    }
    void TearDown() override {
        kavelsource::resetInstanceForTest();
        plat::sim::stopBoardControl();
        ShellTest::TearDown();
    }
    std::string ask(const std::string& line) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, plat::sim::boardControlSocketPath().c_str(), sizeof addr.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return "connect failed";
        }
        const std::string out = line + "\n";
        ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        std::string answer;
        char c;
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 5000) > 0 && ::recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
        ::close(fd);
        return answer;
    }
    // The timing text of input `port` on a screen's input card.
    static QString cardText(QWidget* screen, int port) {
        for (QFrame* card : screen->findChildren<QFrame*>(QString::number(port)))
            if (QLabel* l = card->findChild<QLabel*>(QStringLiteral("timing"))) return l->text();
        return QStringLiteral("?");
    }
    // Runs the event loop until `done`, for at most a minute (a loaded machine, qemu-arm).
    static bool shows(const std::function<bool()>& done) {
        return testkit::waitUntil([&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return done();
        });
    }
};

}  // namespace

TEST_F(InputSignalTest, PluggedTimingAndPulledNoSignalReachStatusAndHomeScreens) {
    g_lockwindow = new LockWindow;
    g_lockwindow->show();
    g_page_focus = 0;
    QWidget* lock = g_lockwindow.data();
    ASSERT_EQ(cardText(lock, 2), screen_text::noSignal());

    ASSERT_EQ(ask("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    EXPECT_TRUE(shows([&] { return cardText(lock, 2) == QStringLiteral("1920x1080@60Hz"); }))
        << cardText(lock, 2).toStdString();

    home()->show();
    g_page_focus = 1;
    QWidget* main = home();
    ASSERT_EQ(ask("signal HDMI3 3840x2160@30"), "OK HDMI3 3840x2160@30");
    EXPECT_TRUE(shows([&] { return cardText(main, 4) == QStringLiteral("3840x2160\n30Hz"); }))
        << cardText(main, 4).toStdString();

    ASSERT_EQ(ask("signal HDMI3 off"), "OK HDMI3 off");
    EXPECT_TRUE(shows([&] { return cardText(main, 4) == screen_text::noSignal(); }))
        << cardText(main, 4).toStdString();
    EXPECT_EQ(cardText(main, 2), QStringLiteral("1920x1080\n60Hz"));
}
