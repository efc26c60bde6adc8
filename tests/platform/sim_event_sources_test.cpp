// Uevent and touch sources of the simulated board, and the board-control channel.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_shell.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;

namespace {

using SimEventSourcesTest = testkit::SimBoardTest;

int openUeventSocket() {
    int fd = plat::sys().socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) return -1;
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = 1;
    if (plat::sys().bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return -1;
    return fd;
}

std::string recvOne(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return "";  // queued messages are there at once
    char buf[2048];
    ssize_t n = plat::sys().recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

TEST_F(SimEventSourcesTest, UeventsReachTheBoundSocketOneMessageEach) {
    board().queueUevent("add@/block/sda");  // before anyone listens: kept for the first bind
    int fd = openUeventSocket();
    ASSERT_GE(fd, 0);
    board().queueUevent(SimBoard::ueventMessage("remove", "/block/sda", {"SUBSYSTEM=block"}));
    EXPECT_EQ(recvOne(fd), "add@/block/sda");
    const char kRemove[] = "remove@/block/sda\0ACTION=remove\0DEVPATH=/block/sda\0SUBSYSTEM=block\0";
    EXPECT_EQ(recvOne(fd), std::string(kRemove, sizeof kRemove - 1));
    EXPECT_EQ(recvOne(fd), "");
    EXPECT_EQ(plat::sys().close(fd), 0);

    board().failUeventBind(true);
    EXPECT_LT(openUeventSocket(), 0);
    int udp = plat::sys().socket(AF_INET, SOCK_DGRAM, 0);  // other sockets are the host's own
    EXPECT_GE(udp, 0);
    ::close(udp);
}

TEST_F(SimEventSourcesTest, TouchGivesPressAndReleaseRecords) {
    int fd = plat::sys().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    board().queueTouch(100, 200);
    input_event ev[8];
    ssize_t n = plat::sys().read(fd, ev, sizeof ev);
    ASSERT_EQ(n, static_cast<ssize_t>(6 * sizeof(input_event)));
    EXPECT_EQ(ev[0].type, EV_ABS);
    EXPECT_EQ(ev[0].code, ABS_X);
    EXPECT_EQ(ev[0].value, 100);
    EXPECT_EQ(ev[1].value, 200);
    EXPECT_EQ(ev[2].code, BTN_TOUCH);
    EXPECT_EQ(ev[2].value, 1);
    EXPECT_EQ(ev[4].code, BTN_TOUCH);
    EXPECT_EQ(ev[4].value, 0);
    EXPECT_EQ(ev[5].type, EV_SYN);
    EXPECT_LT(plat::sys().read(fd, ev, sizeof ev), 0);  // nothing more, and no blocking
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_LT(plat::sys().open("/dev/input/event0", O_RDONLY), 0);
}

std::string ask(int fd, const std::string& line) {
    std::string out = line + "\n";
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) return "send failed";
    std::string answer;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 5000) > 0 && ::recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
    return answer;
}

TEST_F(SimEventSourcesTest, BoardControlSocketChangesTheBoardAndAnswersEachLine) {
    registerBoardCommand("signal", "signal PORT on|off: test command",
                         [](const std::vector<std::string>& a) { return a.size() == 2 ? "OK " + a[0] : "ERR usage"; });
    ASSERT_TRUE(startBoardControl());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, boardControlSocketPath().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    EXPECT_EQ(ask(fd, "chipid 1A2B 0 ffff"), "OK");
    EXPECT_EQ(board().reg16(kChipIdX), 0x1A2B);
    EXPECT_EQ(board().reg16(kChipIdZ), 0xFFFF);
    EXPECT_EQ(ask(fd, "chipid 1A2B"), "ERR usage: chipid X Y Z");
    EXPECT_EQ(ask(fd, "signal 3 on"), "OK 3");
    EXPECT_EQ(ask(fd, "warp 9"), "ERR unknown command 'warp' (try help)");
    EXPECT_NE(ask(fd, "help").find("signal PORT on|off"), std::string::npos);

    int input = plat::sys().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(ask(fd, "touch 10 20"), "OK");
    input_event ev[6];
    EXPECT_EQ(plat::sys().read(input, ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev[1].value, 20);

    int uevents = openUeventSocket();
    EXPECT_EQ(ask(fd, "usb insert"), "OK");
    EXPECT_TRUE(std::filesystem::is_directory(plat::path("/mnt/usb1")));
    EXPECT_TRUE(testkit::exists("/proc/scsi/usb-storage"));
    EXPECT_EQ(recvOne(uevents).rfind("add@", 0), 0u);
    testkit::writeFile("/mnt/usb1/update.VLX", "pkg");
    EXPECT_EQ(ask(fd, "usb remove"), "OK");
    EXPECT_FALSE(testkit::exists("/mnt/usb1/update.VLX"));
    EXPECT_FALSE(testkit::exists("/proc/scsi/usb-storage"));
    EXPECT_EQ(ask(fd, "usb insert"), "OK");  // the stick comes back with its files
    EXPECT_EQ(testkit::readFile("/mnt/usb1/update.VLX"), "pkg");

    plat::shell().system("sync");
    plat::shell().system("ifconfig eth0 &>/dev/null");
    EXPECT_EQ(ask(fd, "shell-log 2"), "OK 2: sync | ifconfig eth0 &>/dev/null");
    ::close(fd);
    stopBoardControl();
    EXPECT_FALSE(std::filesystem::exists(boardControlSocketPath()));
}

TEST_F(SimEventSourcesTest, BoardControlPublishesSerialPeersThatReachTheController) {
    ASSERT_TRUE(startBoardControl());
    const std::string link = plat::path("/run/ttyS1.peer");
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    int outside = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(outside, 0);
    int port = plat::sys().open("/dev/ttyS1", O_RDWR | O_NOCTTY);
    ASSERT_GE(port, 0);
    ASSERT_EQ(::write(outside, "AT\r", 3), 3);
    std::string got;
    pollfd p{port, POLLIN, 0};
    char buf[16];
    while (got.size() < 3 && ::poll(&p, 1, 5000) > 0) {
        ssize_t n = ::read(port, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "AT\r");
    ::close(outside);
    plat::sys().close(port);
    stopBoardControl();
}

}  // namespace
