// Output geometry in RAM 1, the port link bookkeeping, the screen commands, the
// requests of the pass and the LED-geometry hand-shake.
#include <atomic>
#include <chrono>
#include <thread>

#include "fpga_fixture.h"
#include "scaler/applied_ram.h"

using namespace fpgatest;
using namespace plat::wiring;

namespace {

uint16_t u16(const uint8_t* b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

}  // namespace

TEST(FpgaGeometry, DefaultHeadAndPortAddressesFollowTheRamLayout) {
    const uint8_t* h = fpga_manage::RAM1;
    EXPECT_EQ(u16(h, 0), 1280);
    EXPECT_EQ(u16(h, 2), 1024);
    EXPECT_EQ(u16(h, 4), 1398);
    EXPECT_EQ(u16(h, 6), 466);
    EXPECT_EQ(u16(h, 12), 1280);
    EXPECT_EQ(u16(h, 14), 512);
    EXPECT_EQ(u16(h, 23), 1280);
    EXPECT_EQ(u16(h, 25), 512);
    EXPECT_EQ(h[30], 2);
    EXPECT_EQ(u16(h, 36), 256);
    EXPECT_EQ(h[48], 1);
    EXPECT_EQ(u16(h, 60), 1280);
    EXPECT_EQ(u16(h, 62), 1024);
    EXPECT_EQ(h[96], 5);
    EXPECT_EQ(u16(h, 100), 2);
    EXPECT_EQ(u16(h, 116), 1366);
    EXPECT_EQ(u16(h, 118), 768);
    EXPECT_EQ(uint32_t(u16(h, 120)) | uint32_t(u16(h, 122)) << 16, 833753u);

    const uint16_t xs[] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
    for (int p = 0; p < 16; ++p) {
        uint16_t x, y, w, hh;
        fpga_manage::get_eth_param_addr(p, &x, &y, &w, &hh);
        EXPECT_EQ(x, xs[p]) << p;
        EXPECT_EQ(hh, xs[p] + 6) << p;
    }
    uint16_t x, y, w, hh;
    fpga_manage::get_eth_param_addr(16, &x, &y, &w, &hh);
    EXPECT_EQ(x, 8) << "out of range gives port 0";
}

TEST_F(FpgaTest, PanelOffsetMovesPortsAndExtendsTheWindowWithoutWrapping) {
    fpga_manage* e = open();
    uint8_t* image = fpga_manage::MCU_RAM_PARA_func[0];
    std::memcpy(image, fpga_manage::RAM1, 256);
    VlxRamPara::setU16(image, 43, 100);  // port 3 at (100, 0), 300 wide
    VlxRamPara::setU16(image, 47, 300);
    e->H71_back_mcu_set_net_para(0);
    const uint8_t* buf = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(u16(buf, 28), 100) << "port 3 at buffer 28..35";
    EXPECT_EQ(u16(buf, 0), 1280) << "window width first";
    ram->setRamU16(vlxram::kOutputX, 10);
    ram->setRamU16(vlxram::kOutputY, 20);
    e->H71_mcu_set_net_para(0);
    EXPECT_EQ(u16(image, 43), 110);
    EXPECT_EQ(u16(image, 45), 20);
    EXPECT_EQ(u16(image, 47), 300);
    EXPECT_EQ(u16(image, 60), 1290);
    EXPECT_EQ(u16(image, 62), 1044);

    ram->setRamU16(vlxram::kOutputX, 0xFFF0);
    e->H71_mcu_set_net_para(0);
    EXPECT_EQ(u16(image, 43), 0xFFFF) << "clamped, not wrapped to 84";
}

TEST_F(FpgaTest, LinkBookkeepingWritesOnlyChangedBytesAndClearsCardTablesOfDownPorts) {
    fpga_manage* e = open();
    uint8_t* image = fpga_manage::MCU_RAM_PARA_func[0];
    image[96] = 0xE4;
    image[512] = 0xA0;
    VlxRamPara::setU16(image, 564, 7);  // port 5: 7 cards
    image[566] = 1;
    chips->fpga[0]->setPortLinks(0xA50F);
    board().setSpiFrameLog(true);
    e->update_eth_state(0);
    EXPECT_EQ(image[96], 0xE4 | 0x1B) << "ports 0..3 at bits 0, 1, 3, 4";
    EXPECT_EQ(image[512], 0xA0);
    EXPECT_EQ(image[513], 0xA5);
    EXPECT_EQ(u16(image, 564), 0);
    EXPECT_EQ(image[566], 0);
    EXPECT_EQ(chips->fpga[0]->ram(1, 96, 1), Bytes({0xFF}));
    EXPECT_EQ(chips->fpga[0]->ram(1, 513, 1), Bytes({0xA5}));
    int linkByteWrites = 0;
    for (auto& f : frames("/dev/spidev32766.1"))
        if (f.tx.size() == 4 && f.tx[0] == 0x02 && (f.tx[2] | f.tx[3] << 8) >= 512 && (f.tx[2] | f.tx[3] << 8) <= 513)
            ++linkByteWrites;
    EXPECT_EQ(linkByteWrites, 1) << "byte 512 did not change";
}

TEST_F(FpgaTest, ScreenCommandsActOnBothFpgas) {
    fpga_manage* e = open();
    e->SCREEN_fpgactrl_status(0);
    EXPECT_TRUE(chips->fpga[0]->black() && chips->fpga[1]->black());
    e->SCREEN_fpgactrl_status(2);
    EXPECT_TRUE(chips->fpga[0]->frozen() && chips->fpga[1]->frozen());
    e->SCREEN_fpgactrl_status(4);
    EXPECT_TRUE(chips->fpga[0]->videoOn() && chips->fpga[1]->videoOn());
    e->SCREEN_fpgactrl_status(8);
    EXPECT_EQ(chips->fpga[1]->reg(23) & 1, 1);
    board().setSpiFrameLog(true);
    e->SCREEN_fpgactrl_status(6);
    e->SCREEN_fpgactrl_status(10);
    EXPECT_TRUE(board().spiFrames().empty());
    e->SCREEN_fpgactrl_status2(10, 1);
    EXPECT_EQ(chips->fpga[1]->reg(23) & 0x08, 0x08);
    EXPECT_EQ(chips->fpga[0]->reg(23) & 0x08, 0);
    e->SCREEN_fpgactrl_status(1);
    EXPECT_FALSE(chips->fpga[0]->black() || chips->fpga[1]->black());
}

TEST_F(FpgaTest, RequestsWaitUntilBothFpgasRunThenApplyOnce) {
    fpga_manage* e = open();
    ram->setRamU16(vlxram::kScreenState, 1);
    e->output_onoff_request = 1;
    e->output_position_request = 1;
    g_fpga_c331_start = 1;
    tick(20);
    EXPECT_EQ(e->output_onoff_request, 1);
    EXPECT_EQ(e->output_position_request, 1);
    ASSERT_TRUE(bringUp());
    tick();
    EXPECT_EQ(e->output_onoff_request, 0);
    EXPECT_EQ(e->output_position_request, 0);
    EXPECT_TRUE(chips->fpga[0]->black() && chips->fpga[1]->black()) << "0x844 = 1 means black";
}

TEST_F(FpgaTest, LedHandshakeBlanksWaitsAndRestartsBothFpgas) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    g_set_led_para = 1;
    g_set_led_setup = 0;
    tick();
    EXPECT_TRUE(chips->fpga[0]->black() && chips->fpga[1]->black());
    EXPECT_EQ(g_set_led_setup, 1);
    tick(10);
    EXPECT_TRUE(chips->fpga[0]->videoOn()) << "not before 11 ticks";
    tick(1);
    EXPECT_FALSE(chips->fpga[0]->videoOn() || chips->fpga[1]->videoOn());
    EXPECT_EQ(g_set_led_setup, 2);
    tick(31);
    EXPECT_EQ(g_set_led_para, 0) << "the dispatcher may reprogram the scaler";
    g_set_led_para = 2;  // scaler reprogrammed
    tick(2);
    EXPECT_EQ(g_set_led_para, 0);
    EXPECT_EQ(chips->fpga[0]->resets(), 1u);
    EXPECT_EQ(chips->fpga[1]->resets(), 1u);
    EXPECT_EQ(e->get_fpga_status(), 0) << "held in reset is not up";
    ASSERT_TRUE(bringUp());
    EXPECT_TRUE(chips->fpga[0]->videoOn() && chips->fpga[1]->videoOn());
}

TEST_F(FpgaTest, LedHandshakeCompletesAtOnceWhileTheFpgasAreDown) {
    open();
    g_set_led_para = 1;
    tick();
    EXPECT_EQ(g_set_led_para, 0) << "no dispatcher left waiting on FPGAs that are not up";
    EXPECT_EQ(g_set_led_setup, 0);
}

// The scaler's dispatcher holds its mutex while it waits for the hand-shake; a screen
// writes the parameter RAM under the same mutex meanwhile. The engine runs on its own
// thread, the test advances the tick.
TEST_F(FpgaTest, LedSizeChangeWithAConcurrentRamWriterDoesNotHang) {
    fpga_manage* e = start();
    g_fpga_c331_start = 1;
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            G_timeTicks.fetch_add(1);
            board().step(10 * kNsPerMs);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    auto waitFor = [](const std::function<bool()>& ok, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!ok() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ok();
    };
    EXPECT_TRUE(waitFor([&] { return e->get_fpga_status() == 1; }, 30));

    std::atomic<int> ramWrites{0};
    std::thread screen([&] {
        while (!stop) {
            ManageMutexLocker lock;
            ram->setRamU16(vlxram::kBrightness, uint16_t(ramWrites++ % 100));
            c331_manage::update_flag = 1;
        }
    });
    bool handshakeDone = false;
    std::thread dispatcher([&] {
        ManageMutexLocker lock;
        g_set_led_para = 1;
        g_set_led_setup = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (g_set_led_para == 1 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        handshakeDone = g_set_led_para != 1;
        g_set_led_para = 2;  // the panel is reprogrammed for the new size
    });
    dispatcher.join();
    EXPECT_TRUE(handshakeDone);
    EXPECT_TRUE(waitFor([&] { return chips->fpga[0]->resets() == 1 && chips->fpga[1]->resets() == 1; }, 10));
    EXPECT_TRUE(waitFor([&] { return e->get_fpga_status() == 1; }, 30)) << "both up again";
    stop = true;
    screen.join();
    ticker.join();
    EXPECT_GT(ramWrites, 0);
    e->stopThread();
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(FpgaTest, BrightnessRequestSendsThePercentageToBothFpgasAndKeepsItAsAManualRecord) {
    fpga_manage* e = open();
    for (auto& f : chips->fpga) f->setPortLinks(0x0001);
    ASSERT_TRUE(bringUp());
    ram->setRamU16(vlxram::kBrightness, 50);
    e->brightness_request = 1;
    tick();
    EXPECT_EQ(e->brightness_request, 0);
    for (auto& f : chips->fpga) {
        EXPECT_EQ(f->reg(6), 127) << "50 x 255 / 100, the integer part";
        EXPECT_EQ(f->appliedBrightness(), 127);
    }
    const Bytes rec = chips->flash[0]->read(0x6CE000, 57);
    EXPECT_EQ(Bytes(rec.begin(), rec.begin() + 10), Bytes({0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16, 127}));
    EXPECT_EQ(e->brightness_mode, 16) << "the running state follows the record";
    // a later send of the current level gives the same percentage back, not 49 %
    e->Brightness_hand_dealwith(0);
    EXPECT_EQ(ram->ramU16(vlxram::kBrightness), 50);
    EXPECT_EQ(guestErrors(), 0u);
}

// A PC writes RAM 0x844 after the engine's look and before its write-back (at the engine's first
// command word to FPGA 0 after the look): the engine switches as it looked, and its write-back of
// the state the FPGAs hold does not land on the PC's newer word, which stays for its own apply.
// A switch no look decided (the schedule's) is newer than a PC's word not yet applied: the RAM
// takes it, and the apply after it keeps the screen as switched.
TEST_F(FpgaTest, ScreenStateWriteBackNeverLandsOnAPcsNewerWord) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    for (const uint16_t looked : {uint16_t(1), uint16_t(0)}) {
        {
            ManageMutexLocker lock;
            ram->setRamU16(vlxram::kScreenState, looked);
        }
        std::atomic<bool> armed{true}, written{false};
        const int watch = board().watchGpio(plat::wiring::kGpioFpga0Command, [&](uint32_t, uint16_t, uint16_t level) {
            if (level == 0 || !armed.exchange(false)) return;
            // a link thread's write; this thread holds the SPI lock, which comes after the RAM's
            std::thread([&] {
                unsigned char word[2] = {uint8_t(looked ^ 1), 0};
                ManageMutexLocker lock;
                VlxRamPara::VlxRamParaDeal(word, 2, vlxram::kScreenState);
                written = true;
            }).join();
        });
        EXPECT_EQ(e->set_output_status(), 1);
        board().unwatchGpio(watch);
        ASSERT_TRUE(written.load());
        EXPECT_EQ(chips->fpga[0]->black(), looked == 1);
        EXPECT_EQ(chips->fpga[1]->black(), looked == 1);
        EXPECT_EQ(ram->snapshotU16(vlxram::kScreenState), looked ^ 1) << "the PC's word stays";
    }

    e->SCREEN_fpgactrl_status(0);  // black, applied
    {
        ManageMutexLocker lock;  // a PC's picture word, its apply still to come
        ram->setRamU16(vlxram::kScreenState, 0);
    }
    e->SCREEN_fpgactrl_status(0);  // the schedule's off time, newer than the PC's word
    EXPECT_EQ(ram->snapshotU16(vlxram::kScreenState), 1);
    e->output_onoff_request = 1;  // the apply, as the scaler's pass hands it over
    tick();
    EXPECT_TRUE(chips->fpga[0]->black() && chips->fpga[1]->black());
    EXPECT_EQ(guestErrors(), 0u);
}

// RAM 0x880 follows the level the FPGAs show. A repeat of the level sent lands only over the
// percentage it was sent from: a PC's newer one, not applied yet, stays for its apply. A new
// level (the PC's manual level in the mailbox) is newer than any percentage written before it,
// a rewrite of the same one as well: the RAM and the manager's base take it, so the panel and
// the file show what the screen shows, and a later apply of the old percentage sends it again.
TEST_F(FpgaTest, BrightnessWriteBackYieldsToANewerPercentageAndANewLevelToNone) {
    fpga_manage* e = open();
    for (auto& f : chips->fpga) f->setPortLinks(0x0001);
    ASSERT_TRUE(bringUp());
    auto pcWrites = [&](uint16_t percent) {
        unsigned char word[2] = {uint8_t(percent), uint8_t(percent >> 8)};
        ManageMutexLocker lock;
        VlxRamPara::VlxRamParaDeal(word, 2, vlxram::kBrightness);
    };
    auto base = [] {
        ManageMutexLocker lock;
        return applied_ram::word(vlxram::kBrightness);
    };
    pcWrites(50);
    e->brightness_request = 1;  // the apply, as the scaler's pass hands it over
    tick();
    ASSERT_EQ(chips->fpga[0]->reg(6), 127);
    pcWrites(60);
    e->Brightness_hand_dealwith(fpga_manage::kBrightnessRepeat);
    EXPECT_EQ(ram->snapshotU16(vlxram::kBrightness), 60) << "a newer percentage, not applied yet";

    pcWrites(50);  // answered "done": the same percentage again
    Bytes block = {0xAA, 3, 0, 0, 0, 0, 49, 0, 0, 12};
    block.resize(57, 12);
    std::memcpy(fpga_manage::MCU_RAM_CMD, block.data(), block.size());
    e->Dealwith_mcu_ram();
    for (auto& f : chips->fpga) EXPECT_EQ(f->appliedBrightness(), 12) << "a level as it is: the panel's mode";
    EXPECT_EQ(ram->snapshotU16(vlxram::kBrightness), 5);
    EXPECT_EQ(base(), 5) << "the manager's base: an apply of 50 is a change again";
    e->Brightness_hand_dealwith(fpga_manage::kBrightnessRepeat);
    EXPECT_EQ(ram->snapshotU16(vlxram::kBrightness), 5);
    EXPECT_EQ(guestErrors(), 0u);
}
