// The control links against the controller's real engines on the standard simulated board:
// the FPGA engine and the C331 manager as start-up makes them (their threads stopped, the
// test runs their passes one 10 ms tick at a time), the simulated FPGAs and C331, real
// loopback sockets and pseudo-terminals, and the Python client.
#include <condition_variable>
#include <ctime>
#include <mutex>

#include "engines_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

class EnginesLinkTest : public EnginesWorld {
protected:
    // Register writes to each FPGA and to both, read back through the engine.
    void registerWritesReachEachFpga(const std::string& link) {
        SCOPED_TRACE(link);
        const uint8_t before1 = fpga[1]->reg(23);
        EXPECT_EQ(runClient(link, "write-reg 23 0x08 0x08 --dst 0xF000 --fpga 1").status, kStatusOk);
        EXPECT_EQ(fpga[0]->reg(23) & 0x08, 0x08);
        EXPECT_EQ(fpga[1]->reg(23), before1) << "the first FPGA only";
        EXPECT_EQ(runClient(link, "write-reg 23 0x08 0x08 --dst 0xF000 --fpga 2").status, kStatusOk);
        EXPECT_EQ(fpga[1]->reg(23) & 0x08, 0x08);
        // both FPGAs; the value is the line's end byte, escaped on the way
        EXPECT_EQ(runClient(link, "write-reg 6 0xFF 0x5A --dst 0xF000").status, kStatusOk);
        EXPECT_EQ(fpga[0]->reg(6), 0x5A);
        EXPECT_EQ(fpga[1]->reg(6), 0x5A);
        EXPECT_EQ(runClient(link, "read-reg 6 1 --dst 0xF000 --fpga 2").data, "5a");
        EXPECT_EQ(runClient(link, "write-reg 200 0xFF 1 --dst 0xF000 --fpga 1").status, kStatusRefused);
    }

    // Brightness and contrast into the parameter RAM, register 11 bit 1: the C331 manager's
    // next pass programs the picture and hands the brightness to the FPGA engine, whose
    // pass sends it to both FPGAs.
    void brightnessReachesTheScalerAndTheFpgas(const std::string& link, uint16_t percent, uint16_t contrast) {
        SCOPED_TRACE(link);
        c331->setReg(0x0C, 0x3A, 0x55);  // a brightness word the manager must overwrite
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", percent & 0xFF, percent >> 8, contrast & 0xFF,
                      contrast >> 8);
        EXPECT_EQ(runClient(link, std::string("write-mem 0x880 ") + hex).status, kStatusOk);
        EXPECT_EQ(c331->reg(0x0C, 0x3A), 0x55) << "nothing runs before register 11";
        EXPECT_EQ(runClient(link, "write-reg 11 0x02 0x02").status, kStatusOk);
        const int value = int(percent * 255u / 100);
        ASSERT_TRUE(tickUntil([&] {
            return c331_manage::update_flag == 0 && fpga[0]->appliedBrightness() == value &&
                   fpga[1]->appliedBrightness() == value;
        })) << "fpga0 " << fpga[0]->appliedBrightness() << ", fpga1 " << fpga[1]->appliedBrightness();
        EXPECT_EQ(c331->regValue(c331::kRegContrast0), unsigned(contrast) * 1023 / 100);
        EXPECT_EQ(c331->regValue(c331::kRegBright0), unsigned(c331_manage::brightnessWord(50)))
            << "the scaler stays neutral: brightness is the FPGAs'";
        char valueHex[8];
        std::snprintf(valueHex, sizeof valueHex, "%02x", unsigned(value));
        EXPECT_EQ(runClient(link, "read-reg 64 1 --dst 0xF000 --fpga 2").data, valueHex) << "the engine's level";
        EXPECT_EQ(c331->guestErrors(), 0u);
    }

    // MCU_RAM_EXTEND as the engine keeps it: the screen state, the clock and the card count.
    void extendRamShowsTheEngine(const std::string& link, const std::string& cards) {
        SCOPED_TRACE(link);
        const ClientResult r = runClient(link, "read-mem 0xA0000000 128");
        ASSERT_EQ(r.status, kStatusOk);
        ASSERT_EQ(r.data.size(), 256u);
        EXPECT_EQ(r.data.substr(2 * 29, 2), "01") << "the picture is shown, before and after any register-0 write";
        EXPECT_EQ(r.data.substr(2 * 49, 4), "9f1f");
        EXPECT_EQ(r.data.substr(2 * 17, 2), "20") << "century of the clock in BCD";
        EXPECT_EQ(r.data.substr(2 * 0x7C, 4), cards);
        EXPECT_EQ(runClient(link, "read-mem 0xA000007D 1").data, cards.substr(2));
    }

    // The PC's manual brightness level through the mailbox and the doorbell (FPGA register
    // 2 bit 2), after a brightness request: the engine's mailbox sets the level, sends it to
    // both FPGAs and reports the percentage in the parameter RAM.
    void doorbellRunsTheMailbox(const std::string& link, uint8_t level) {
        SCOPED_TRACE(link);
        char hex[40];
        std::snprintf(hex, sizeof hex, "aa0300000000020000%02x", level);  // manual mode, the level
        EXPECT_EQ(runClient(link, std::string("write-mem 0x50000000 ") + hex).status, kStatusOk);
        char levelHex[4];
        std::snprintf(levelHex, sizeof levelHex, "%02x", level);
        EXPECT_EQ(runClient(link, "read-mem 0x50000009 1").data, levelHex) << "the engine's own mailbox";
        EXPECT_EQ(runClient(link, "write-reg 2 0x04 0x04 --dst 0xF000 --fpga 1").status, kStatusOk);
        // after a percentage from the RAM the engine runs fixed manual: the level goes out as it is
        const int value = level;
        EXPECT_EQ(fpga[0]->appliedBrightness(), value);
        EXPECT_EQ(fpga[1]->appliedBrightness(), value);
        EXPECT_EQ(runClient(link, "read-reg 64 1 --dst 0xF000 --fpga 1").data, levelHex);
        const unsigned percent = (value * 100 + 127) / 255;
        char percentHex[16];
        std::snprintf(percentHex, sizeof percentHex, "%02x%02x", percent & 0xFF, percent >> 8);
        EXPECT_EQ(runClient(link, "read-mem 0x880 2").data, percentHex) << "the percentage in the parameter RAM";
        EXPECT_EQ(fpga[0]->reg(FPGA_REG_APPLY) & APPLY_DOORBELL, 0) << "the doorbell is the controller's, not the FPGA's";
    }

    // Register 0 bit 2 blacks the screen; MCU_RAM_EXTEND byte 29 tells the PC.
    void screenStateFollowsRegisterZero(const std::string& link) {
        SCOPED_TRACE(link);
        EXPECT_EQ(runClient(link, "write-reg 0 0x04 0x04 --dst 0xF000").status, kStatusOk);
        EXPECT_TRUE(fpga[0]->black() && fpga[1]->black());
        EXPECT_EQ(runClient(link, "read-mem 0xA000001D 1").data, "00");
        EXPECT_EQ(runClient(link, "write-reg 0 0x04 0 --dst 0xF000").status, kStatusOk);
        EXPECT_FALSE(fpga[0]->black() || fpga[1]->black());
        EXPECT_EQ(runClient(link, "read-mem 0xA000001D 1").data, "01");
    }

    void servesTheEngineRequests(const std::string& link, uint16_t percent, uint8_t level) {
        registerWritesReachEachFpga(link);
        screenStateFollowsRegisterZero(link);
        brightnessReachesTheScalerAndTheFpgas(link, percent, 60);
        extendRamShowsTheEngine(link, "0400");
        doorbellRunsTheMailbox(link, level);
        unsigned misuse = 0;
        for (auto& f : fpga) misuse += f->misuseCount();
        EXPECT_EQ(misuse, 0u);
    }

};

TEST_F(EnginesLinkTest, TcpReachesTheSimulatedFpgasAndScaler) { servesTheEngineRequests(tcp, 40, 5); }

// The PC's on/off times reach the engine's schedule whole: while the engine holds its
// schedule (as its pass does while it reads the times), the PC's command waits for it; then
// the engine switches the screen on at the time the PC set, at 12:34 on the board's clock.
TEST_F(EnginesLinkTest, OnOffTimesFromThePcWaitForTheEnginesScheduleAndApplyWhole) {
    std::tm local{};
    local.tm_year = 2026 - 1900, local.tm_mon = 2, local.tm_mday = 5;
    local.tm_hour = 12, local.tm_min = 34, local.tm_sec = 5, local.tm_isdst = -1;
    plat::sim::board().setWallClock(std::mktime(&local));
    RawClient pc(networkManage::p_networkManage->port());
    ASSERT_TRUE(pc.connected());
    auto ask = [&](const std::vector<uint8_t>& f) {
        pc.send(line(f));
        const std::vector<uint8_t> r = pc.receive();
        return r.size() > kPayload ? r[kPayload] : uint8_t(0xEE);
    };
    ASSERT_EQ(ask(regWrite(0, 0x04, 0x04, kAddrSendingCard)), kStatusOk);
    ASSERT_TRUE(fpga[0]->black() && fpga[1]->black());
    // saved, one entry: on 12:34, off 01:01 (BCD)
    ASSERT_EQ(ask(memWrite(0x50000000, {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x12, 0x34, 0x01, 0x01})), kStatusOk);
    std::atomic<int> doorbell{-1};
    std::thread link;
    {
        plat::Locker<plat::Mutex> schedule(g_schedule_mutex);
        link = std::thread([&] { doorbell = ask(regWrite(2, 0x04, 0x04, kAddrSendingCard, 1)); });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (doorbell < 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a pace: nothing may come
        EXPECT_EQ(doorbell, -1) << "the times changed under the engine's schedule";
        EXPECT_EQ(engine->onoff_count, 0);
    }
    link.join();
    EXPECT_EQ(doorbell, kStatusOk);
    EXPECT_EQ(engine->on_hour[0], 12);
    EXPECT_EQ(engine->on_minute[0], 34);
    // the schedule runs once the PC's window of 80 ticks is over
    EXPECT_TRUE(tickUntil([&] { return !fpga[0]->black() && !fpga[1]->black(); }, 400));
}
TEST_F(EnginesLinkTest, UdpReachesTheSimulatedFpgasAndScaler) { servesTheEngineRequests(udp, 70, 9); }
TEST_F(EnginesLinkTest, SerialPort2ReachesTheSimulatedFpgasAndScaler) { servesTheEngineRequests(serial2, 25, 3); }
TEST_F(EnginesLinkTest, The4GSerialPortReachesTheSimulatedFpgasAndScaler) { servesTheEngineRequests(serial1, 90, 12); }

// The second FPGA comes up without a linked port: the engine clears that port's cards,
// and the count the PC reads is the first FPGA's alone.
class UnlinkedSecondFpgaTest : public EnginesLinkTest {
protected:
    uint16_t fpga1Links() const override { return 0; }
};

TEST_F(UnlinkedSecondFpgaTest, CardCountIsWhatTheEnginesCardTablesHold) {
    EXPECT_EQ(fpga_manage::get_port_card_num(0), 2);
    EXPECT_EQ(fpga_manage::get_port_card_num(16), 0);
    extendRamShowsTheEngine(tcp, "0200");
    extendRamShowsTheEngine(udp, "0200");
    // 300 cards on port 9 of the second FPGA (card table at 640 + 4 x 1)
    {
        std::lock_guard<std::mutex> image(fpga_manage::image_mutex);
        fpga_manage::MCU_RAM_PARA_func[1][644] = 0x2C;
        fpga_manage::MCU_RAM_PARA_func[1][645] = 0x01;
    }
    EXPECT_EQ(fpga_manage::get_port_card_num(25), 300);
    extendRamShowsTheEngine(serial2, "2e01");
}

}  // namespace

namespace {

TEST_F(EnginesLinkTest, FreshControllerReportsThePictureShownBeforeAnyRegisterZeroWrite) {
    EXPECT_EQ(runClient(tcp, "read-mem 0xA000001D 1").data, "01");
}

// The screen is shown (or black), applied; a PC writes the other screen state into RAM 0x844
// without applying it, then switches the screen as it is with FPGA register 0 (mask 4). The
// switch is the newer: the RAM follows it, and the next apply of an unrelated change
// (contrast) leaves the FPGAs as switched. Both ways.
TEST_F(EnginesLinkTest, RegisterZeroSwitchIsNewerThanAnUnappliedScreenWordAndOutlivesTheNextApply) {
    for (const bool black : {false, true}) {
        SCOPED_TRACE(black ? "switched black" : "switched to the picture");
        const std::string state = black ? "0100" : "0000", other = black ? "0000" : "0100";
        ASSERT_EQ(runClient(tcp, "write-mem 0x844 " + state).status, kStatusOk);
        ASSERT_EQ(runClient(tcp, "write-reg 11 0x02 0x02").status, kStatusOk);
        ASSERT_TRUE(tickUntil([&] {
            return c331_manage::update_flag == 0 && fpga[0]->black() == black && fpga[1]->black() == black;
        }));
        tick(5);

        ASSERT_EQ(runClient(tcp, "write-mem 0x844 " + other).status, kStatusOk);  // not applied
        ASSERT_EQ(runClient(tcp, std::string("write-reg 0 0x04 ") + (black ? "0x04" : "0") + " --dst 0xF000").status,
                  kStatusOk);
        EXPECT_EQ(runClient(tcp, "read-mem 0x844 2").data, state) << "the RAM follows the switch";
        ASSERT_EQ(runClient(tcp, std::string("write-mem 0x882 ") + (black ? "2800" : "3c00")).status, kStatusOk);
        ASSERT_EQ(runClient(tcp, "write-reg 11 0x02 0x02").status, kStatusOk);
        ASSERT_TRUE(tickUntil([&] { return c331_manage::update_flag == 0; }));
        tick(10);  // the engine's passes after the apply
        EXPECT_EQ(fpga[0]->black(), black);
        EXPECT_EQ(fpga[1]->black(), black);
        EXPECT_EQ(runClient(tcp, "read-mem 0xA000001D 1").data, black ? "00" : "01");
    }
}

}  // namespace

namespace {

// Driver mistakes of both FPGAs and their configuration flashes (a command while busy among them).
unsigned fpgaMisuse(const std::shared_ptr<plat::sim::SimFpga> (&fpga)[2]) {
    unsigned n = fpga[0]->misuseCount() + fpga[1]->misuseCount();
    for (const char* f : {"flash0", "flash1"}) n += plat::sim::board().findChip(f)->misuseCount();
    return n;
}

// A PC saves both FPGAs' parameters again and again on the TCP thread while the engine's card
// search (this thread) keeps finding another number of cards on port 1: a save
// checks the flash against the image it wrote, so none is answered as failed. The two take
// turns by work done, not by the clock: each save waits for the table to change once more.
TEST_F(EnginesLinkTest, ParameterSavesBesideCardSearchesAreAllDone) {
    plat::sim::SimBoard& b = plat::sim::board();
    RawClient pc(networkManage::p_networkManage->port());
    ASSERT_TRUE(pc.connected());
    constexpr int kSaves = 20;
    std::mutex turn;
    std::condition_variable changed;
    int changes = 0;
    bool ticking = true;
    std::atomic<bool> saving{true};
    int saves = 0;
    std::vector<uint8_t> failed;
    std::thread saver([&] {
        for (; saves < kSaves; ++saves) {
            pc.send(line(frame(kGroupParamSave, {}, kAddrSendingCard)));
            const auto r = pc.receive();
            if (r.size() <= kPayload || r[kPayload] != kStatusOk) failed.push_back(r.size() > kPayload ? r[kPayload] : 0xEE);
            std::unique_lock<std::mutex> l(turn);
            const int before = changes;
            changed.wait(l, [&] { return changes != before || !ticking; });
            if (!ticking) break;
        }
        saving = false;
    });
    uint16_t seen = fpga_manage::get_port_card_num(1);
    size_t chain = 3;
    b.underLock([&] { fpga[0]->attachCards(1, chain); });
    for (int n = 0; saving && n < 100000; ++n) {
        tick();
        const uint16_t now = fpga_manage::get_port_card_num(1);
        if (now != seen) {
            std::lock_guard<std::mutex> l(turn);
            ++changes;
            changed.notify_one();
        }
        seen = now;
        if (now == chain) {  // found: the next search finds another chain
            chain = chain == 3 ? 4 : 3;
            b.underLock([&] { fpga[0]->attachCards(1, chain); });
        }
    }
    {
        std::lock_guard<std::mutex> l(turn);
        ticking = false;
        changed.notify_one();
    }
    saver.join();
    EXPECT_EQ(saves, kSaves) << "the card search stopped changing the table";
    EXPECT_EQ(failed, std::vector<uint8_t>{}) << "of " << saves << " saves";
    EXPECT_EQ(fpgaMisuse(fpga), 0u);
}

// Two PCs read FPGA registers over TCP and UDP while the engine restarts both FPGAs (as after an LED
// size change or a failed RAM check) and searches their cards: a reset line that went high
// between a command word and its data phase would hand an FPGA data without a command.
TEST_F(EnginesLinkTest, FpgaRestartsBesideRegisterTrafficKeepEveryCommandWithItsData) {
    plat::sim::board().underLock([&] { fpga[1]->attachCards(0, 2); });
    std::atomic<bool> running{true};
    std::atomic<int> tcpReads{0}, udpReads{0};
    // the TCP and the UDP thread each read one FPGA's register 22 without pause
    std::thread tcp([&] {
        RawClient pc(networkManage::p_networkManage->port());
        while (running && pc.connected()) {
            pc.send(line(frame(kGroupReadRegisters, cat(le16(22), le16(1)), kAddrSendingCard, 1)));
            if (!pc.receive().empty()) ++tcpReads;
        }
    });
    std::thread udp([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(udpnetManage::p_udpnetManage->port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        const auto request = line(frame(kGroupReadRegisters, cat(le16(22), le16(1)), kAddrSendingCard, 2));
        uint8_t reply[256];
        while (running) {
            ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (::recv(fd, reply, sizeof reply, 0) > 0) ++udpReads;
        }
        ::close(fd);
    });
    // the engine's reset and, a hold later, its release, over and over until each link has
    // had its reads among them (bounded, should a link never get through); then a normal start
    const unsigned before[2] = {fpga[0]->resets(), fpga[1]->resets()};
    constexpr unsigned kRounds = 300, kMaxRounds = 200000;
    constexpr int kReadsEach = 20;
    unsigned rounds = 0;
    for (; rounds < kMaxRounds && (rounds < kRounds || tcpReads < kReadsEach || udpReads < kReadsEach); ++rounds) {
        engine->reset_fpga_rst(0);
        engine->reset_fpga_rst(1);
        G_timeTicks.fetch_add(201);
        engine->fpga_manage_deal();
        std::this_thread::yield();
    }
    EXPECT_TRUE(tickUntil([&] { return engine->get_fpga_status() == 1; }, 3000)) << "up again";
    EXPECT_GE(fpga[0]->resets(), before[0] + rounds);
    EXPECT_GE(fpga[1]->resets(), before[1] + rounds);
    running = false;
    tcp.join();
    udp.join();
    EXPECT_GE(tcpReads.load(), kReadsEach) << "in " << rounds << " restarts";
    EXPECT_GE(udpReads.load(), kReadsEach) << "in " << rounds << " restarts";
    EXPECT_EQ(fpgaMisuse(fpga), 0u);
}

}  // namespace
