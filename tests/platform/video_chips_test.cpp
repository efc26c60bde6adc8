// Simulated video chips on the standard board, seen from the I2C wire: receivers that
// settle on the board clock and stay silent in reset, EEPROM write cycles and pages,
// and the board-control "signal" command.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include "platform/board_wiring.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "platform/sim/video_chips.h"
#include "platform/sys.h"
#include "platform/video_chip_map.h"
#include "support/testkit.h"

using namespace plat::sim;
namespace wiring = plat::wiring;
namespace vm = plat::videomap;

namespace {

class VideoChipsTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        buildStandardBoard(board());
        registerChipCommands();
        fd_ = plat::sys().open(wiring::kI2cDevice, O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        plat::sys().close(fd_);
        testkit::SimBoardTest::TearDown();
    }
    bool xfer(uint8_t addr, std::vector<uint8_t> w, std::vector<uint8_t>* r = nullptr, size_t rlen = 0) {
        i2c_msg msgs[2] = {};
        unsigned n = 0;
        if (!w.empty()) msgs[n++] = i2c_msg{addr, 0, uint16_t(w.size()), w.data()};
        if (r) {
            r->assign(rlen, 0);
            msgs[n++] = i2c_msg{addr, I2C_M_RD, uint16_t(rlen), r->data()};
        }
        i2c_rdwr_ioctl_data d{msgs, n};
        return plat::sys().ioctl(fd_, I2C_RDWR, &d) == int(n);
    }
    bool channel(int ch) { return xfer(wiring::kI2cMuxAddress, {uint8_t(1u << ch)}); }
    int fd_ = -1;
};

}  // namespace

TEST_F(VideoChipsTest, HdmiTwoReceiverIsSilentInResetAndSettlesOnTheBoardClock) {
    ASSERT_TRUE(channel(6));
    board().setReg16(wiring::kGpioRxReset0, wiring::kLineLow);  // the FPGA engine's start level
    std::vector<uint8_t> r;
    EXPECT_FALSE(xfer(0x48, {vm::kRegChipId}, &r, 1)) << "held in reset by its line";
    board().setReg16(wiring::kGpioRxReset0, wiring::kLineHigh);
    ASSERT_TRUE(xfer(0x48, {vm::kRegChipId}, &r, 1));
    EXPECT_EQ(r[0], vm::kIdIte6805);

    ASSERT_EQ(runBoardCommand("signal HDMI3 3840x2160@60 dp"), "OK HDMI3 3840x2160@60+dp");
    ASSERT_TRUE(xfer(0x48, {vm::portReg(0)}, &r, vm::kPortBlockBytes));
    EXPECT_EQ(r[vm::kPortStatus], 0) << "no hot-plug, the source sends nothing";

    ASSERT_TRUE(xfer(0x48, {vm::kRegControl, vm::kControlHpd}));
    board().step(kReceiverSettle - kNsPerMs);
    ASSERT_TRUE(xfer(0x48, {vm::portReg(0)}, &r, vm::kPortBlockBytes));
    EXPECT_EQ(r[vm::kPortStatus], vm::kStatusSignal) << "not locked yet";
    EXPECT_EQ(r[vm::kPortHact], 0);
    board().step(kNsPerMs);
    ASSERT_TRUE(xfer(0x48, {vm::kRegChange}, &r, 1));
    EXPECT_EQ(r[0], 1);
    ASSERT_TRUE(xfer(0x48, {vm::kRegChange}, &r, 1));
    EXPECT_EQ(r[0], 0) << "reading clears";
    ASSERT_TRUE(xfer(0x48, {vm::portReg(0)}, &r, vm::kPortBlockBytes));
    EXPECT_EQ(r[vm::kPortStatus], vm::kStatusSignal | vm::kStatusStable | vm::kStatusDoublePixel | vm::kStatusHdmi);
    EXPECT_EQ(r[vm::kPortHact] | r[vm::kPortHact + 1] << 8, 1920);
    EXPECT_EQ(r[vm::kPortVtotal] | r[vm::kPortVtotal + 1] << 8, 2250);
    EXPECT_EQ(r[vm::kPortLanes], 8);
    EXPECT_EQ(r[vm::kPortRate], 60);

    ASSERT_EQ(runBoardCommand("signal HDMI3 off"), "OK HDMI3 off");
    ASSERT_TRUE(xfer(0x48, {vm::portReg(0)}, &r, vm::kPortBlockBytes));
    EXPECT_EQ(r[vm::kPortStatus], 0) << "a pulled cable is seen at once";
    EXPECT_EQ(board().findChip("rx-ite6805-0")->misuseCount(), 0u);
}

TEST_F(VideoChipsTest, EepromIsBusyDuringItsWriteCycleAndWrapsInsideAPage) {
    ASSERT_TRUE(channel(2));
    board().setReg16(wiring::kGpioEdidWrite, wiring::kLineLow);
    ASSERT_TRUE(xfer(0x50, {6, 1, 2, 3, 4}));  // bytes 6, 7, then 0, 1 of the same page
    std::vector<uint8_t> r;
    EXPECT_FALSE(xfer(0x50, {0}, &r, 8)) << "in its write cycle";
    board().step(vm::kEepromWriteCycleUs * kNsPerUs);
    ASSERT_TRUE(xfer(0x50, {0}, &r, 9));
    EXPECT_EQ(r, (std::vector<uint8_t>{3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF}));
    EXPECT_EQ(board().findChip("edid2")->misuseCount(), 0u);

    board().setReg16(wiring::kGpioEdidWrite, wiring::kLineHigh);
    EXPECT_FALSE(xfer(0x50, {16, 9}));
    EXPECT_EQ(board().findChip("edid2")->misuseCount(), 1u);
}

TEST_F(VideoChipsTest, SignalCommandNamesInputsAndRefusesWhatNoSourceSends) {
    EXPECT_EQ(runBoardCommand("signal hdmi2 1280x720@60 i").rfind("ERR no standard timing", 0), 0u);
    EXPECT_EQ(runBoardCommand("signal hdmi2 1280x720@60"), "OK HDMI2 1280x720@60");
    EXPECT_EQ(runBoardCommand("signal 0 1920x1080@50 i"), "OK EXT 1920x1080@50i");
    EXPECT_EQ(runBoardCommand("signal HDMI9 1920x1080@60").rfind("ERR no input", 0), 0u);
    EXPECT_EQ(runBoardCommand("signal DVI 1920x1080").rfind("ERR timing is", 0), 0u);
    EXPECT_EQ(runBoardCommand("signal DVI 1920x1080@60 lanes 3").rfind("ERR unknown word", 0), 0u);
    EXPECT_EQ(runBoardCommand("signal"), "OK EXT=1920x1080@50i DVI=off HDMI1=off HDMI2=1280x720@60 HDMI3=off HDMI4=off");
}
