// The board-control channel: no client stalls another, bad lines are refused, the number
// and the life of connections are bounded.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;

namespace {

class BoardControlTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        ASSERT_TRUE(startBoardControl());
    }
    void TearDown() override {
        for (int fd : fds_) ::close(fd);
        stopBoardControl();
        setBoardControlIdleTimeout(0);
        testkit::SimBoardTest::TearDown();
    }
    int connectClient() {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, boardControlSocketPath().c_str(), sizeof addr.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        fds_.push_back(fd);
        return fd;
    }
    std::vector<int> fds_;
};

// One answer line, waiting at most `ms` for it; "" when none came.
std::string readLine(int fd, int ms) {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char c;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
        if (::recv(fd, &c, 1, 0) != 1) return "";
        if (c == '\n') return line;
        line.push_back(c);
    }
}

bool sendLine(int fd, const std::string& line) {
    const std::string out = line + "\n";
    return ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
}

// True once the server has closed the connection, waiting at most `ms`. Nothing is read:
// a client that reads its answers is no longer one that never reads, and is rightly kept.
bool closedWithin(int fd, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLRDHUP, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)))
            return true;
    }
}

TEST_F(BoardControlTest, ClientThatNeverReadsDoesNotStopAnotherClientsHelp) {
    const int greedy = connectClient();
    ASSERT_GE(greedy, 0);
    ::fcntl(greedy, F_SETFL, O_NONBLOCK);
    // Ask for far more answers than the socket buffers can hold, and never read one.
    const std::string burst = [] {
        std::string s;
        for (int i = 0; i < 400; ++i) s += "help\n";
        return s;
    }();
    size_t sent = 0;
    while (sent < (4u << 20)) {
        const ssize_t n = ::send(greedy, burst.data(), burst.size(), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        pollfd p{greedy, POLLOUT, 0};
        if (n < 0 && errno != EAGAIN) break;          // dropped by the server
        if (::poll(&p, 1, 200) <= 0) break;           // the server stopped reading us
    }
    ASSERT_GT(sent, 64u * 1024);  // answers to this are many times the socket buffers

    const int polite = connectClient();
    ASSERT_GE(polite, 0);
    ASSERT_TRUE(sendLine(polite, "help"));
    // Generous bounds: the server may still be working through the greedy burst on a loaded,
    // emulated CPU; without the fault the answer comes in milliseconds, with it never.
    EXPECT_EQ(readLine(polite, 60000).rfind("OK ", 0), 0u);
    // The greedy client was dropped rather than kept with its answers piling up.
    EXPECT_TRUE(closedWithin(greedy, 60000));
}

TEST_F(BoardControlTest, ClientThatReadsLateStillGetsEveryAnswerInOrder) {
    const int fd = connectClient();
    ASSERT_GE(fd, 0);
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "chipid " + std::to_string(i) + " 0 0\nchipid x\n";
    ASSERT_EQ(::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(readLine(fd, 1000), "OK");
        ASSERT_EQ(readLine(fd, 1000), "ERR usage: chipid X Y Z");
    }
    EXPECT_EQ(board().reg16(kChipIdX), 0x39);
}

TEST_F(BoardControlTest, NulInsideACommandLineIsRefusedAndChangesNothing) {
    int input = plat::sys().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(input, 0);
    int uevents = plat::sys().socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = 1;
    ASSERT_EQ(plat::sys().bind(uevents, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(runBoardCommand(std::string("touch 1\0 2", 10)).rfind("ERR", 0), 0u);
    EXPECT_EQ(runBoardCommand(std::string("uevent add@/block/sda\0ACTION=remove", 35)).rfind("ERR", 0), 0u);
    EXPECT_EQ(runBoardCommand(std::string("\0help", 5)).rfind("ERR", 0), 0u);
    input_event ev;
    EXPECT_LT(plat::sys().read(input, &ev, sizeof ev), 0);  // no touch reached the panel
    EXPECT_EQ(errno, EAGAIN);
    char msg[256];
    EXPECT_LT(plat::sys().recv(uevents, msg, sizeof msg, MSG_DONTWAIT), 0);  // and no uevent was sent
    EXPECT_EQ(errno, EAGAIN);

    // Over the socket too, and the connection goes on.
    const int fd = connectClient();
    ASSERT_GE(fd, 0);
    const std::string bad("touch 1\0 2\nhelp\n", 16);
    ASSERT_EQ(::send(fd, bad.data(), bad.size(), MSG_NOSIGNAL), 16);
    EXPECT_EQ(readLine(fd, 1000).rfind("ERR", 0), 0u);
    EXPECT_EQ(readLine(fd, 1000).rfind("OK ", 0), 0u);
    EXPECT_LT(plat::sys().read(input, &ev, sizeof ev), 0);
    plat::sys().close(input);
    plat::sys().close(uevents);
}

TEST_F(BoardControlTest, ConnectionsBeyondTheLimitAreRefusedAndIdleOnesTimeOut) {
    std::vector<int> held;
    for (size_t i = 0; i < kBoardControlMaxClients; ++i) {
        const int fd = connectClient();
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendLine(fd, "help"));
        ASSERT_EQ(readLine(fd, 1000).rfind("OK", 0), 0u);
        held.push_back(fd);
    }
    const int extra = connectClient();
    ASSERT_GE(extra, 0);
    EXPECT_EQ(readLine(extra, 1000), "ERR too many board-control connections");
    EXPECT_TRUE(closedWithin(extra, 1000));

    // Forgotten connections free their places.
    setBoardControlIdleTimeout(50);
    ASSERT_TRUE(sendLine(held[0], "help"));  // wakes the server to see the new time-out
    for (int fd : held) EXPECT_TRUE(closedWithin(fd, 2000));
    const int next = connectClient();
    ASSERT_GE(next, 0);
    ASSERT_TRUE(sendLine(next, "help"));
    EXPECT_EQ(readLine(next, 1000).rfind("OK ", 0), 0u);
}

TEST_F(BoardControlTest, LineWithoutEndIsRefusedAndTheClientClosed) {
    const int fd = connectClient();
    ASSERT_GE(fd, 0);
    const std::string junk(5000, 'x');
    ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), 5000);
    EXPECT_EQ(readLine(fd, 1000), "ERR line too long");
    EXPECT_TRUE(closedWithin(fd, 1000));
}

}  // namespace
