// USB hot-plug watcher: the uevent rules and the watcher thread on the simulated board.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "protocol/usbserver.h"
#include "support/testkit.h"

using plat::sim::SimBoard;

namespace {

const std::string kDisk = "/devices/platform/soc/usb0/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";

std::vector<int> feed(UsbWatch& w, const std::string& msg) {
    std::vector<int> codes;
    w.onUevent(msg.data(), msg.size(), &codes);
    return codes;
}

std::vector<int> pollAt(UsbWatch& w, uint32_t tick) {
    G_timeTicks = tick;
    std::vector<int> codes;
    w.poll(&codes);
    return codes;
}

class UsbWatchTest : public testkit::SimBoardTest {};

TEST_F(UsbWatchTest, OneStickRaisesOneAddAndReadyOnlyAfter301TicksWithStorage) {
    UsbWatch w;
    EXPECT_EQ(feed(w, SimBoard::ueventMessage("add", kDisk)), std::vector<int>{100});
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("add", kDisk + "/sda1")).empty());  // same stick
    EXPECT_TRUE(w.waiting());
    // No /proc/scsi/usb-storage yet: time alone does not make the storage ready.
    EXPECT_TRUE(pollAt(w, 1000).empty());
    testkit::writeFile("/proc/scsi/usb-storage/1", "Host scsi0: usb-storage\n");
    EXPECT_TRUE(pollAt(w, 1000).empty());   // storage seen now; the settle time starts
    EXPECT_TRUE(pollAt(w, 1300).empty());   // 300 ticks
    EXPECT_EQ(pollAt(w, 1301), std::vector<int>{102});
    EXPECT_TRUE(pollAt(w, 5000).empty());   // once
    EXPECT_EQ(feed(w, SimBoard::ueventMessage("remove", kDisk + "/sda1")), std::vector<int>{101});
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("remove", kDisk)).empty());
}

TEST_F(UsbWatchTest, RemovalBeforeSettlingCancelsReady) {
    UsbWatch w;
    testkit::writeFile("/proc/scsi/usb-storage/1", "x");
    feed(w, SimBoard::ueventMessage("add", kDisk));
    feed(w, SimBoard::ueventMessage("add", kDisk + "/sda1"));
    EXPECT_TRUE(pollAt(w, 10).empty());
    EXPECT_EQ(feed(w, SimBoard::ueventMessage("remove", kDisk + "/sda1")), std::vector<int>{101});
    EXPECT_TRUE(pollAt(w, 1000).empty());
    EXPECT_FALSE(w.waiting());
}

TEST_F(UsbWatchTest, OtherDevicesAndBrokenMessagesRaiseNothing) {
    UsbWatch w;
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("add", "/devices/virtual/net/wlan0")).empty());
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("add", "/devices/platform/mmc0/block/mmcblk0/mmcblk0p1")).empty());
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("add", kDisk + "/sda10")).empty());
    EXPECT_TRUE(feed(w, "garbage without an at sign").empty());
    EXPECT_TRUE(feed(w, std::string("add@") + std::string(5000, 'x')).empty());  // no NUL at all
    // A removal without a stick raises nothing.
    EXPECT_TRUE(feed(w, SimBoard::ueventMessage("remove", kDisk)).empty());
    EXPECT_FALSE(w.waiting());
}

class UsbServerTest : public testkit::SimBoardTest {
protected:
    void TearDown() override {
        UsbServer::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }
    std::vector<int> codes() {
        std::lock_guard<std::mutex> l(m_);
        return codes_;
    }
    // Waits (briefly, on the watcher thread) until `pred` holds for the codes seen.
    template <typename Pred>
    bool waitFor(Pred pred) {
        for (int i = 0; i < 400; ++i) {
            if (pred(codes())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    std::mutex m_;
    std::vector<int> codes_;
};

TEST_F(UsbServerTest, StickFromBoardControlGivesAddReadyAfter301TicksAndRemove) {
    UsbServer* u = UsbServer::pInstance();
    ASSERT_TRUE(u->running());
    QObject::connect(u, &UsbServer::sig_usb_update, u, [this](int c) {
        std::lock_guard<std::mutex> l(m_);
        codes_.push_back(c);
    }, Qt::DirectConnection);

    ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
    ASSERT_TRUE(waitFor([](const std::vector<int>& c) { return !c.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(codes(), std::vector<int>{100});  // the tick stands still: not ready yet

    G_timeTicks = 301;
    ASSERT_TRUE(waitFor([](const std::vector<int>& c) { return c.size() >= 2; }));
    EXPECT_EQ(codes(), (std::vector<int>{100, 102}));

    ASSERT_EQ(plat::sim::runBoardCommand("usb remove"), "OK");
    ASSERT_TRUE(waitFor([](const std::vector<int>& c) { return c.size() >= 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(codes(), (std::vector<int>{100, 102, 101}));
}

TEST_F(UsbServerTest, UnbindableSocketLeavesNoThread) {
    plat::sim::board().failUeventBind(true);
    UsbServer* u = UsbServer::pInstance();
    EXPECT_FALSE(u->running());
}

}  // namespace
