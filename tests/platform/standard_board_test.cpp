// The wiring table and the standard board built from it; the board's wall clock.
#include <set>
#include <tuple>

#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sys.h"
#include "scaler/c331_regs_win.h"
#include "platform/sim/board_control.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/example_chip.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "support/testkit.h"

using namespace plat::sim;
namespace wiring = plat::wiring;

using StandardBoardTest = testkit::SimBoardTest;

TEST_F(StandardBoardTest, WiringTableHasNoTwoChipsAnsweringOneI2cAddressOrOneName) {
    std::set<std::string> names;
    std::set<std::tuple<int, int>> rootAddresses;
    std::set<std::tuple<int, int, int>> muxAddresses;
    for (const auto& c : wiring::kChips) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        if (c.bus != wiring::ChipBus::I2c || c.address == 0) continue;
        if (c.muxAddress == wiring::kNoMux)
            EXPECT_TRUE(rootAddresses.insert({0, c.address}).second) << c.name;
        else
            EXPECT_TRUE(muxAddresses.insert({c.muxAddress, c.muxChannel, c.address}).second) << c.name;
    }
    // A chip behind the switch shares the wire with the chips on the bus itself.
    for (const auto& [mux, channel, address] : muxAddresses) EXPECT_EQ(rootAddresses.count({0, address}), 0u) << address;
    // Every SPI chip sits on a node the board has, and its select lines are known lines.
    for (const auto& c : wiring::kChips) {
        if (c.bus != wiring::ChipBus::Spi) continue;
        bool node = false;
        for (const auto& n : wiring::kSpiNodes) node = node || std::string(n.path) == c.spiNode;
        EXPECT_TRUE(node) << c.name;
        for (const auto& l : c.select) {
            if (!l.offset) continue;
            bool known = false;
            for (const auto& g : wiring::kGpioLines) known = known || g.offset == l.offset;
            EXPECT_TRUE(known) << c.name;
            EXPECT_LT(l.offset, wiring::kGpioWindowNeeded);
        }
    }
}

TEST_F(StandardBoardTest, StandardBoardAttachesWhatHasAModelAndSaysWhatHasNot) {
    EXPECT_TRUE(board().chipNames().empty());  // a bare board
    auto lines = buildStandardBoard(board());
    ASSERT_EQ(lines.size(), std::size(wiring::kChips));
    EXPECT_EQ(lines[0], "i2c-mux: 8-channel I2C switch on i2c-0 at 0x70: attached");
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool hasModel = modelCatalog().count(wiring::kChips[i].model) != 0;
        EXPECT_EQ(lines[i].find(": no model yet") != std::string::npos, !hasModel) << lines[i];
        EXPECT_EQ(board().findChip(wiring::kChips[i].name) != nullptr, hasModel) << lines[i];
    }
    EXPECT_NE(board().find<I2cMuxModel>("i2c-mux"), nullptr);
}

TEST_F(StandardBoardTest, BoardControlFindsChipsByName) {
    board().attachSpi(wiring::kSpiC331, std::make_shared<ExampleChip>("example", 0, "", 0));
    registerChipCommands();
    EXPECT_EQ(runBoardCommand("chips"), "OK example=0");
    EXPECT_EQ(runBoardCommand("chip example status"), "OK idle resets 0");
    EXPECT_EQ(runBoardCommand("chip nothing status").rfind("ERR", 0), 0u);
    EXPECT_EQ(runBoardCommand("clock step 5").rfind("OK board 5 ms", 0), 0u);
    EXPECT_EQ(board().now(), 5 * kNsPerMs);
}

TEST_F(StandardBoardTest, DateOnTheSimulatedShellSetsTheBoardsWallClockNotThePcs) {
    const std::time_t pcBefore = std::time(nullptr);
    EXPECT_EQ(plat::shell().system("date -s \"2031-02-03 04:05:06\""), 0);
    std::tm want{};
    want.tm_year = 131;
    want.tm_mon = 1;
    want.tm_mday = 3;
    want.tm_hour = 4;
    want.tm_min = 5;
    want.tm_sec = 6;
    want.tm_isdst = -1;
    const std::time_t expected = std::mktime(&want);
    EXPECT_LE(std::llabs(static_cast<long long>(plat::timeOfDay() - expected)), 2);
    EXPECT_LE(std::llabs(static_cast<long long>(std::time(nullptr) - pcBefore)), 5);  // the PC's clock untouched

    // busybox also takes the time as a plain argument, its fields unpadded
    EXPECT_EQ(plat::shell().system("date \"2031-2-3 4:5:7\""), 0);
    EXPECT_LE(std::llabs(static_cast<long long>(plat::timeOfDay() - (expected + 1))), 2);

    // A date it cannot read fails and changes nothing.
    const int64_t offset = plat::wallClockOffset();
    EXPECT_NE(plat::shell().system("date -s \"2031-02-30 04:05:06\""), 0);
    EXPECT_NE(plat::shell().system("date -s tomorrow"), 0);
    EXPECT_EQ(plat::wallClockOffset(), offset);

    // Board control sets it too; a rebooted board starts from the PC's clock again.
    registerChipCommands();
    EXPECT_EQ(runBoardCommand("clock wall 2029-12-31 23:59:00").rfind("OK", 0), 0u);
    EXPECT_GT(plat::wallClockOffset(), 0);
    plat::resetSys();
    board();
    EXPECT_EQ(plat::wallClockOffset(), 0);
}

TEST_F(StandardBoardTest, DateFormsOfTheShellAreReadAsLocalTime) {
    std::time_t now = 0, t = 0;
    std::tm base{};
    base.tm_year = 126;
    base.tm_mon = 2;
    base.tm_mday = 5;
    base.tm_hour = 12;
    base.tm_isdst = -1;
    now = std::mktime(&base);
    auto fields = [](std::time_t v) {
        std::tm tm{};
        localtime_r(&v, &tm);
        char b[32];
        std::strftime(b, sizeof b, "%Y-%m-%d %H:%M:%S", &tm);
        return std::string(b);
    };
    ASSERT_TRUE(parseDateTime("2026/03/05 09:07:00", now, &t));
    EXPECT_EQ(fields(t), "2026-03-05 09:07:00");
    ASSERT_TRUE(parseDateTime("2026.03.05-09:07", now, &t));
    EXPECT_EQ(fields(t), "2026-03-05 09:07:00");
    ASSERT_TRUE(parseDateTime("09:07:30", now, &t));
    EXPECT_EQ(fields(t), "2026-03-05 09:07:30");
    ASSERT_TRUE(parseDateTime("030509072027.15", now, &t));
    EXPECT_EQ(fields(t), "2027-03-05 09:07:15");
    EXPECT_FALSE(parseDateTime("2026-13-01 00:00", now, &t));
    EXPECT_FALSE(parseDateTime("24:00", now, &t));
    EXPECT_FALSE(parseDateTime("", now, &t));
}

TEST_F(StandardBoardTest, SignalReachesTheScalerPortItsReceiverDrivesAndLeavesWithThePull) {
    buildStandardBoard(board());
    registerChipCommands();
    auto scaler = board().find<C331Model>("c331");
    ASSERT_TRUE(scaler);
    auto word = [&](unsigned bank, unsigned addr) { return scaler->reg(bank, addr) | scaler->reg(bank, addr + 1) << 8; };
    // HDMI1's receiver drives C331 port 1: 1920x1080@60 is 2200 x 1125 at 148.5 MHz
    ASSERT_EQ(runBoardCommand("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    EXPECT_EQ(word(c331::kMeasBank, c331::measHTotalAddr(1)), 2199);
    EXPECT_EQ(word(c331::kMeasActBank, c331::measActWAddr(1)), 1920);
    for (int other : {0, 2, 3, 4, 5}) EXPECT_EQ(word(c331::kMeasBank, c331::measHTotalAddr(other)), 0) << other;
    // HDMI3 (V-by-One port 5): 3840x2160@60 needs eight lanes, so all four sub-links count
    ASSERT_EQ(runBoardCommand("signal HDMI3 3840x2160@60"), "OK HDMI3 3840x2160@60");
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(word(c331::kMeasActBank, c331::measActWAddr(5, j)), 3840) << "sub-link " << j;
    // a refused line changes nothing; a pull clears the port
    EXPECT_EQ(runBoardCommand("signal HDMI1 17x3@60").rfind("ERR", 0), 0u);
    EXPECT_EQ(word(c331::kMeasActBank, c331::measActWAddr(1)), 1920);
    ASSERT_EQ(runBoardCommand("signal hdmi1 off"), "OK HDMI1 off");
    EXPECT_EQ(word(c331::kMeasActBank, c331::measActWAddr(1)), 0);
    EXPECT_EQ(word(c331::kMeasBank, c331::measHTotalAddr(1)), 0);
}
