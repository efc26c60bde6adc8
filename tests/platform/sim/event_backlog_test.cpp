// Uevent and touch queues of the simulated board are bounded as the kernel bounds them.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/sim/event_backlog.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;

namespace {

using EventBacklogTest = testkit::SimBoardTest;

int bindUeventSocket() {
    int fd = plat::sys().socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = 1;
    if (fd < 0 || plat::sys().bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return -1;
    return fd;
}

std::string uevent(int i) { return SimBoard::ueventMessage("change", "/devices/x/" + std::to_string(i)); }

// Every message the socket holds now.
std::vector<std::string> drain(int fd) {
    std::vector<std::string> out;
    char buf[8192];
    for (;;) {
        ssize_t n = plat::sys().recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == ENOBUFS) continue;
        if (n <= 0) return out;
        out.emplace_back(buf, static_cast<size_t>(n));
    }
}

TEST_F(EventBacklogTest, UeventsWithNobodyListeningKeepTheNewestAndCountTheRest) {
    constexpr int kSent = 20000;
    for (int i = 0; i < kSent; ++i) board().queueUevent(uevent(i));
    const uint64_t droppedBeforeBind = board().ueventsDropped();
    EXPECT_GT(droppedBeforeBind, 0u);
    EXPECT_LE(uint64_t(kSent) - droppedBeforeBind, kUeventBacklogBytes / uevent(0).size());

    const int fd = bindUeventSocket();
    ASSERT_GE(fd, 0);
    const std::vector<std::string> got = drain(fd);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), uevent(kSent - 1));  // the newest are the ones kept
    EXPECT_EQ(got.size() + board().ueventsDropped(), uint64_t(kSent));
    const int first = kSent - int(got.size());  // an unbroken run of the newest, in order
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], uevent(first + int(i)));
}

TEST_F(EventBacklogTest, BoundSocketThatDoesNotReadLosesTheNewestAndHearsOfItOnce) {
    const int fd = bindUeventSocket();
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 3000; ++i) board().queueUevent(uevent(i));
    const uint64_t dropped = board().ueventsDropped();
    EXPECT_GT(dropped, 0u);
    char buf[512];
    EXPECT_LT(plat::sys().recv(fd, buf, sizeof buf, MSG_DONTWAIT), 0);
    EXPECT_EQ(errno, ENOBUFS);
    ssize_t n = plat::sys().recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, size_t(n)), uevent(0));  // what was queued stays
    EXPECT_EQ(drain(fd).size() + 1 + dropped, 3000u);
    board().queueUevent(uevent(1));  // room again: no more loss
    EXPECT_EQ(drain(fd), std::vector<std::string>{uevent(1)});
    EXPECT_EQ(board().ueventsDropped(), dropped);
}

std::vector<input_event> readEvents(int fd) {
    std::vector<input_event> out;
    input_event ev[32];
    for (;;) {
        ssize_t n = plat::sys().read(fd, ev, sizeof ev);
        if (n <= 0) return out;
        out.insert(out.end(), ev, ev + size_t(n) / sizeof(input_event));
    }
}

// Whole press/release packets, newest last: ABS_X ABS_Y BTN 1 SYN | BTN 0 SYN.
void expectWholeTouches(const std::vector<input_event>& evs, int lastX) {
    ASSERT_GE(evs.size(), 6u);
    EXPECT_TRUE(evs.front().type == EV_ABS || (evs.front().type == EV_KEY && evs.front().value == 0));
    EXPECT_EQ(evs.back().type, EV_SYN);
    EXPECT_EQ(evs[evs.size() - 6].value, lastX);
}

TEST_F(EventBacklogTest, TouchesWithNobodyReadingKeepTheNewestWholePackets) {
    constexpr int kTouches = 1000;
    for (int i = 0; i < kTouches; ++i) board().queueTouch(i, 1);  // nobody has the device open
    const int fd = plat::sys().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::vector<input_event> evs = readEvents(fd);
    EXPECT_LE(evs.size(), kInputBacklogEvents);
    expectWholeTouches(evs, kTouches - 1);
    EXPECT_EQ(evs.size() + board().inputEventsDropped(), 6u * kTouches);

    // A reader that has the device open but does not read: the same bound.
    for (int i = 0; i < kTouches; ++i) board().queueTouch(i + 5000, 2);
    evs = readEvents(fd);
    EXPECT_LE(evs.size(), kInputBacklogEvents);
    expectWholeTouches(evs, 5000 + kTouches - 1);
    EXPECT_EQ(evs.size() * 2 + board().inputEventsDropped(), 12u * kTouches);
    plat::sys().close(fd);
}

TEST_F(EventBacklogTest, OldestPacketEndsAtTheFirstSynReport) {
    std::string recs;
    auto add = [&recs](uint16_t type, uint16_t code, int32_t value) {
        input_event ev{};
        ev.type = type;
        ev.code = code;
        ev.value = value;
        recs.append(reinterpret_cast<const char*>(&ev), sizeof ev);
    };
    add(EV_ABS, ABS_X, 1);
    EXPECT_EQ(oldestInputPacket(recs.data(), recs.size()), sizeof(input_event));  // no SYN yet: one event
    add(EV_SYN, SYN_MT_REPORT, 0);  // not the end of a packet
    add(EV_SYN, SYN_REPORT, 0);
    add(EV_KEY, BTN_TOUCH, 0);
    EXPECT_EQ(oldestInputPacket(recs.data(), recs.size()), 3 * sizeof(input_event));
}

}  // namespace
