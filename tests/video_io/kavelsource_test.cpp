// The input-source manager on the simulated board: input timings reaching the parameter
// RAM and the scaler's records, receivers that do not answer, the FPGA pixel clocks,
// the audio route, the EDID EEPROMs and the SDI receiver reset.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "app/engine_links.h"
#include "core/utils.h"
#include "protocol/h71_wifi_config.h"
#include "ui/system/system_links.h"
#include "scaler/c331_inputs.h"
#include "fpga/fpga_manage.h"
#include "platform/gpio_word.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "platform/video_chip_map.h"
#include "support/edid_decode.h"
#include "video_fixture.h"

using namespace videotest;
namespace wiring = plat::wiring;

TEST_F(VideoTest, SignalOnHdmi1ReachesRamAndRecordOnceSettledAndPullingClearsBoth) {
    passes(2);
    EXPECT_EQ(ramTiming(2), (std::vector<int>{0, 0, 0, 0}));
    ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    passes(1);
    EXPECT_EQ(ramTiming(2)[0], 0) << "a receiver still locking reports no timing";
    EXPECT_EQ(record(2).stable, 0);
    codes.clear();
    passes(1, 250);
    EXPECT_EQ(ramTiming(2), (std::vector<int>{1920, 1080, 60, 0}));
    HDMI_INFO r = record(2);
    EXPECT_EQ(r.stable, 1);
    EXPECT_EQ(r.nosignal, 0);
    EXPECT_EQ(r.Hact, 1920);
    EXPECT_EQ(r.Htotal, 2200);
    EXPECT_EQ(r.Vtotal, 1125);
    EXPECT_FLOAT_EQ(r.pfreq, 148.5f);
    EXPECT_NE(std::find(codes.begin(), codes.end(), 1), codes.end());
    EXPECT_EQ(ramTiming(3)[0], 0) << "only the plugged input shows a timing";

    codes.clear();
    passes(3);
    EXPECT_TRUE(codes.empty()) << "no change, no change code";

    ASSERT_EQ(command("signal HDMI1 off"), "OK HDMI1 off");
    passes(1);
    EXPECT_EQ(ramTiming(2), (std::vector<int>{0, 0, 0, 0}));
    r = record(2);
    EXPECT_EQ(r.nosignal, 1);
    EXPECT_EQ(r.Hact, 0);
    EXPECT_NE(std::find(codes.begin(), codes.end(), 1), codes.end());
    EXPECT_EQ(misuses(), 0u);
}

TEST_F(VideoTest, ScalerReadsTheSettledRecordOfTheReceiverOnceLinked) {
    kavelsource::linkScaler();
    ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    passes(1);
    c331in::ReceiverTiming t;
    EXPECT_FALSE(c331in::readReceiver(2, &t)) << "a receiver still locking gives no record";
    passes(1, 250);
    ASSERT_TRUE(c331in::readReceiver(2, &t));
    EXPECT_EQ(t.hact, 1920);
    EXPECT_EQ(t.htotal, 2200);
    EXPECT_EQ(t.vtotal, 1125);
    EXPECT_FLOAT_EQ(t.pfreq, 148.5e6f);
    EXPECT_EQ(t.nosignal, 0);
    c331in::installReceiverReader(nullptr);
}

TEST_F(VideoTest, DoublePixelAndInterlacedInputsReportFullWidthFrameHeightAndLanes) {
    ASSERT_EQ(command("signal HDMI3 3840x2160@60 dp").rfind("OK", 0), 0u);
    ASSERT_EQ(command("signal HDMI4 1920x1080@60").rfind("OK", 0), 0u);
    ASSERT_EQ(command("signal EXT 1920x1080@60 i").rfind("OK", 0), 0u);
    passes(2, 250);
    EXPECT_EQ(ramTiming(4), (std::vector<int>{3840, 2160, 60, 0}));
    EXPECT_EQ(record(4).Hact, 3840);
    EXPECT_EQ(record(4).lane, 8);
    EXPECT_EQ(src->ite6805[0]->timing.HActive, 1920) << "the receiver's own record stays halved";
    EXPECT_EQ(src->ite6805[0]->timing.DoublePixel, 1);
    EXPECT_EQ(record(5).lane, 2);
    EXPECT_EQ(ramTiming(0), (std::vector<int>{1920, 1080, 60, 0}));
    EXPECT_EQ(record(0).ip, 1);
    EXPECT_EQ(record(0).Vact, 540);

    // Dump group 10 refreshes the records from the receivers.
    {
        plat::Locker<plat::QtMutex> l(Utils::_source_hdminfo_mutex);
        src->hdminfo[4] = HDMI_INFO{};
    }
    EXPECT_TRUE(src->iTE6805_Get_Hdmi(0));
    EXPECT_EQ(record(4).Hact, 3840);
    EXPECT_EQ(misuses(), 0u);
}

TEST_F(VideoTest, ReceiverThatDoesNotAnswerIsRetriedWithoutHoldingUpTheOtherInputs) {
    ASSERT_EQ(command("chip rx-ite6805-0 fail 6"), "OK");
    command("signal HDMI1 1920x1080@60");
    command("signal HDMI3 3840x2160@30");
    passes(2, 250);
    EXPECT_EQ(ramTiming(2)[0], 1920) << "HDMI1 is served while HDMI3's receiver is silent";
    EXPECT_EQ(ramTiming(4)[0], 0);
    EXPECT_EQ(status(0) & 0x02, 0);
    passes(8, 250);
    EXPECT_EQ(ramTiming(4), (std::vector<int>{3840, 2160, 30, 0}));
    EXPECT_EQ(status(0) & 0x02, 0x02);
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    size_t warnings = 0;
    for (size_t at = 0; (at = log.find("rx-ite6805-0 does not answer", at)) != std::string::npos; ++at) ++warnings;
    EXPECT_EQ(warnings, 1u) << "one line per silence, not one per try";
    EXPECT_NE(log.find("rx-ite6805-0 answers again"), std::string::npos);
}

TEST_F(VideoTest, BothPixelClocksReachStageTwoAndAFailedWriteIsTriedAgain) {
    ASSERT_EQ(command("chip clock1 fail 3"), "OK");
    EXPECT_EQ(src->clock_stage(0), 0);
    passes(1, 1);
    EXPECT_EQ(src->clock_stage(0), 1) << "programmed, not yet locked";
    passes(10, 5);
    EXPECT_EQ(src->clock_stage(0), 2);
    EXPECT_EQ(src->clock_stage(1), 2);
    EXPECT_EQ(board().find<plat::sim::ClockSynthModel>("clock0")->outputKhz(), 148500u);
    EXPECT_EQ(status(1) & 0x60, 0x60);
    EXPECT_EQ(misuses(), 0u);
}

TEST_F(VideoTest, FpgaEngineSeesAnFpgaAsUpOnlyOnceItsPixelClockRuns) {
    kavelsource::linkFpgaEngine();
    ASSERT_TRUE(fpga_manage::clock_stage_ready);
    EXPECT_FALSE(fpga_manage::clock_stage_ready(0));
    ASSERT_EQ(command("chip clock1 fail 1000"), "OK");
    passes(5, 5);
    EXPECT_TRUE(fpga_manage::clock_stage_ready(0));
    EXPECT_FALSE(fpga_manage::clock_stage_ready(1)) << "its synthesiser never answered";
    fpga_manage::clock_stage_ready = nullptr;
}

TEST_F(VideoTest, AudioRouteFollowsTheAudioWindowAndAFailedWriteIsRetried) {
    auto audio = board().find<plat::sim::AudioSwitchModel>("audio-switch");
    ram->setRamU16(vlxram::kAudioWindow, 1);
    ram->setRamU16(vlxram::windowField(1, vlxram::kWinSound), 0x8000);
    ram->setRamU16(vlxram::windowField(1, vlxram::kWinSource), 3);
    audio->failTransfers(1);
    src->volume_flag = 1;
    src->stepForTest(&kavelsource::about_volume_deal);
    EXPECT_EQ(src->volume_flag.load(), 1) << "kept for the next pass";
    EXPECT_EQ(audio->route(), 0);
    src->stepForTest(&kavelsource::about_volume_deal);
    EXPECT_EQ(src->volume_flag.load(), 0);
    EXPECT_EQ(audio->route(), 1 + 3);

    // Through a crop preset: its entry names the input.
    ram->setRamU16(vlxram::windowField(1, vlxram::kWinSource), 0x8000 | 7);
    ram->setRamU16(vlxram::kCropTable + 70, 0x8000 | 5);
    src->volume_flag = 1;
    src->stepForTest(&kavelsource::about_volume_deal);
    EXPECT_EQ(audio->route(), 1 + 5);

    // A change raised while the switch takes the route is served by the next pass.
    bool raised = false;
    audio->onRouteWrite([&](int) {
        if (raised) return;
        raised = true;
        std::thread([&] {  // a PC's link thread, which the chip's bus does not hold up
            ManageMutexLocker lock;
            ram->setRamU16(vlxram::windowField(1, vlxram::kWinSource), 2);
        }).join();
        src->volume_flag = 1;
    });
    ram->setRamU16(vlxram::windowField(1, vlxram::kWinSource), 4);
    src->volume_flag = 1;
    src->stepForTest(&kavelsource::about_volume_deal);
    EXPECT_EQ(audio->route(), 1 + 4);
    src->stepForTest(&kavelsource::about_volume_deal);
    audio->onRouteWrite(nullptr);
    EXPECT_EQ(audio->route(), 1 + 2);
    EXPECT_EQ(src->volume_flag.load(), 0);

    // Sound not wanted, or an audio window out of range (falls back to window 0, silent here).
    ram->setRamU16(vlxram::kAudioWindow, 0xFFFF);
    src->volume_flag = 1;
    src->stepForTest(&kavelsource::about_volume_deal);
    EXPECT_EQ(audio->route(), 0);
    EXPECT_EQ(misuses(), 0u);
}

TEST_F(VideoTest, EdidRequestWritesThePatchedTimingOnlyWhenItDiffersAndReadsItBack) {
    board().followRealTime(true);  // the EEPROM's write cycles pass in board time
    passes(1);
    auto e = eeprom(2);
    const unsigned before = e->pageWrites();
    EXPECT_EQ(before, 0u) << "EEPROMs already holding their EDID are not rewritten";
    requestHdmi1Edid(1280, 1024, 75);
    src->stepForTest(&kavelsource::about_set_edid_deal);
    EXPECT_EQ(src->edid_write_flag[2].load(), 1);
    EXPECT_EQ(src->set_edid_flag[2].load(), 0);
    const std::vector<uint8_t> now = e->contents();
    EXPECT_TRUE(edidValid(now.data(), now.size()));
    EXPECT_EQ(testkit::edidPreferredTiming(now), (std::vector<int>{1280, 1024, 75}));
    EXPECT_GT(e->pageWrites(), before);
    EXPECT_LT(e->pageWrites() - before, 32u) << "only the pages that changed";
    EXPECT_EQ(board().gpio(wiring::kGpioEdidWrite), wiring::kLineHigh) << "protected again";

    const unsigned after = e->pageWrites();
    src->set_edid_flag[2] = 1;
    src->edid_write_flag[2] = 0;
    src->stepForTest(&kavelsource::about_set_edid_deal);
    EXPECT_EQ(e->pageWrites(), after) << "same content, no write";
    EXPECT_EQ(e->misuseCount(), 0u);
}

TEST_F(VideoTest, EdidRequestRaisedWhileTheEepromIsWrittenIsServedNext) {
    board().followRealTime(true);
    passes(1);
    auto e = eeprom(2);  // HDMI1
    requestHdmi1Edid(1280, 1024, 75);
    bool second = false;
    e->onPageWrite([&](unsigned) {
        if (!second) requestHdmi1Edid(1600, 1200, 60);
        second = true;
    });
    src->stepForTest(&kavelsource::about_set_edid_deal);
    ASSERT_TRUE(second);
    EXPECT_EQ(testkit::edidPreferredTiming(e->contents()), (std::vector<int>{1280, 1024, 75}));
    EXPECT_EQ(src->edid_write_flag[2].load(), 0) << "the newer words are not written yet";
    src->stepForTest(&kavelsource::about_set_edid_deal);
    e->onPageWrite(nullptr);
    EXPECT_EQ(testkit::edidPreferredTiming(e->contents()), (std::vector<int>{1600, 1200, 60}));
    EXPECT_EQ(src->edid_write_flag[2].load(), 1);
    EXPECT_EQ(src->set_edid_flag[2].load(), 0);
    EXPECT_EQ(e->misuseCount(), 0u);
}

TEST_F(VideoTest, EdidRequestWhoseEepromStopsAnsweringIsServedOnTheNextPass) {
    board().followRealTime(true);
    passes(1);
    auto e = eeprom(2);  // HDMI1
    requestHdmi1Edid(1280, 1024, 75);
    e->onPageWrite([&](unsigned) { e->failTransfers(1000000); });  // silent after its first page
    src->stepForTest(&kavelsource::about_set_edid_deal);
    e->onPageWrite(nullptr);
    e->failTransfers(0);
    EXPECT_EQ(src->set_edid_flag[2].load(), 1) << "the request is put back";
    EXPECT_EQ(src->edid_write_flag[2].load(), 0);
    src->stepForTest(&kavelsource::about_set_edid_deal);
    EXPECT_EQ(testkit::edidPreferredTiming(e->contents()), (std::vector<int>{1280, 1024, 75}));
    EXPECT_EQ(src->edid_write_flag[2].load(), 1);
    EXPECT_EQ(src->set_edid_flag[2].load(), 0);
}

// An EEPROM in its write cycle is polled until it answers, for at most 50 ms: a thread held off
// the CPU past that limit still tries once more after it, and a page the EEPROM took is not
// given up on.
TEST_F(VideoTest, EepromPollTriesOnceMoreAfterAPausePastItsLimit) {
    passes(1);
    // each pause of the poll: 60 ms off the CPU, the EEPROM's 5 ms write cycle over meanwhile
    plat::setSleepHook([](uint64_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        board().step(10 * kNsPerMs);
    });
    requestHdmi1Edid(1280, 1024, 75);
    src->stepForTest(&kavelsource::about_set_edid_deal);
    plat::setSleepHook(nullptr);
    EXPECT_EQ(src->edid_write_flag[2].load(), 1) << "written and read back in one pass";
    EXPECT_EQ(testkit::edidPreferredTiming(eeprom(2)->contents()), (std::vector<int>{1280, 1024, 75}));
}

TEST_F(VideoTest, RefusedEdidTimingLeavesTheEepromAsItWas) {
    const std::vector<uint8_t> before = eeprom(1)->contents();
    ram->setRamU16(vlxram::kEdidPara + 6, 3840);
    ram->setRamU16(vlxram::kEdidPara + 8, 2160);
    ram->setRamU16(vlxram::kEdidPara + 10, 60);  // far above DVI's link
    src->set_edid_flag[1] = 1;
    src->stepForTest(&kavelsource::about_set_edid_deal);
    EXPECT_EQ(src->set_edid_flag[1].load(), 0);
    EXPECT_EQ(eeprom(1)->contents(), before);
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("EDID timing of DVI refused"), std::string::npos);
    EXPECT_EQ(ram->ramU16(vlxram::kEdidPara + 6), 1920) << "the RAM says what the input offers";
    EXPECT_EQ(ram->ramU16(vlxram::kEdidPara + 8), 1080);
    EXPECT_EQ(ram->ramU16(vlxram::kEdidPara + 10), 60);
}

// DVI's words are set back from a look that found them refused; a PC writes good words before
// the set-back lands: they stay. Words still as refused take the timing the EEPROM offers.
TEST_F(VideoTest, EdidSetBackLandsOnlyOnTheRefusedWordsItWasDecidedFrom) {
    constexpr unsigned kDvi = vlxram::kEdidPara + 6;
    auto put = [&](uint16_t w, uint16_t h) {
        ManageMutexLocker lock;
        ram->setRamU16(kDvi, w);
        ram->setRamU16(kDvi + 2, h);
        ram->setRamU16(kDvi + 4, 60);
    };
    const std::vector<uint8_t> offered = eeprom(1)->contents();
    std::vector<uint8_t> edid;
    std::string error;
    ChangeStamp refused = 0;
    put(3840, 2160);  // more than DVI's link carries
    ASSERT_FALSE(src->wanted_edid(1, &edid, &error, &refused));
    put(1280, 1024);  // the PC's, after the look
    src->restore_edid_words(1, offered, refused);
    EXPECT_EQ(ram->snapshotU16(kDvi), 1280);
    EXPECT_EQ(ram->snapshotU16(kDvi + 2), 1024);
    put(3840, 2160);
    ASSERT_FALSE(src->wanted_edid(1, &edid, &error, &refused));
    src->restore_edid_words(1, offered, refused);
    EXPECT_EQ(ram->snapshotU16(kDvi), 1920);
    EXPECT_EQ(ram->snapshotU16(kDvi + 2), 1080);
}

TEST_F(VideoTest, InvalidEepromIsRepairedAtStartAndKeepsItsEdidOverAReboot) {
    board().followRealTime(true);
    std::vector<uint8_t> broken = eeprom(3)->contents();
    broken[60] ^= 0x40;  // checksum no longer matches
    eeprom(3)->setContents(broken);
    passes(1);
    std::vector<uint8_t> now = eeprom(3)->contents();
    EXPECT_TRUE(edidValid(now.data(), now.size()));
    EXPECT_EQ(status(1) & 0x04, 0x04);
    EXPECT_EQ(g_check_edid, QString("Done"));

    // The cells are the board's: a new board reads the same EDID.
    kavelsource::resetInstanceForTest();
    plat::resetSys();
    plat::sim::buildStandardBoard(board());
    EXPECT_EQ(eeprom(3)->contents(), now);
}

TEST_F(VideoTest, StartCheckKeepsTheEepromsEdidWhenTheRamAsksForASizeNoInputOffers) {
    board().followRealTime(true);
    std::vector<uint8_t> custom = defaultEdid(EdidKind::Hdmi20);
    ASSERT_TRUE(Set_Custom_HDMI_EDID(custom, EdidKind::Hdmi20, 3840, 2160, 30));
    eeprom(4)->setContents(custom);
    // HDMI3 with an empty width field, HDMI4 taller than an EDID can say
    ram->setRamU16(vlxram::kEdidPara + 6 * 4, 0);
    ram->setRamU16(vlxram::kEdidPara + 6 * 5 + 2, 5000);
    kavelsource::resetInstanceForTest();
    g_check_edid = "Always";
    src = kavelsource::pInstance();
    ASSERT_TRUE(src->prepare());
    passes(1);
    EXPECT_EQ(eeprom(4)->contents(), custom) << "the port keeps the EDID it offers";
    EXPECT_EQ(eeprom(5)->contents(), defaultEdid(EdidKind::Hdmi20));
    EXPECT_EQ(eeprom(4)->pageWrites() + eeprom(5)->pageWrites(), 0u);
    EXPECT_EQ(status(1) & 0x18, 0x18) << "both EEPROMs hold a valid EDID";
    EXPECT_EQ(misuses(), 0u);
}

TEST_F(VideoTest, EepromRefusesDataWhileItsWriteLineProtectsIt) {
    auto e = eeprom(0);
    const std::vector<uint8_t> before = e->contents();
    VideoI2c bus;
    ASSERT_TRUE(bus.open());
    const uint8_t junk[8] = {};
    const I2cTarget t = i2cTargetOf(*wiring::findChip("edid0"));
    EXPECT_FALSE(bus.writeRegs(t, 0, junk, sizeof junk));
    EXPECT_EQ(e->contents(), before);
    EXPECT_EQ(e->misuseCount(), 1u);
}

TEST_F(VideoTest, SdiReceiverResetHoldsItsLineLowThenReleasesIt) {
    passes(1);
    ASSERT_EQ(board().gpio(wiring::kGpioSdiReset), wiring::kLineHigh);
    auto sdi = board().find<plat::sim::SdiReceiverModel>(wiring::kSdiReceiver);
    src->it66121->GS2971_Reset();
    EXPECT_EQ(sdi->resets(), 1);
    EXPECT_EQ(board().gpio(wiring::kGpioSdiReset), wiring::kLineHigh);
}

TEST_F(VideoTest, SystemScreensResetTheSdiReceiverAndRestartWifiThroughTheirLinks) {
    passes(1);
    auto sdi = board().find<plat::sim::SdiReceiverModel>(wiring::kSdiReceiver);
    systemLinks() = SystemLinks{};
    linkSystemServices();
    ASSERT_TRUE(systemLinks().sdiReset && systemLinks().wifiRestart);
    systemLinks().sdiReset();
    EXPECT_EQ(sdi->resets(), 1);
    systemLinks().wifiRestart();  // no WiFi module running: logged, nothing else
    H71_WIFI_CONFIG* wifi = H71_WIFI_CONFIG::pInstance();
    G_timeTicks += H71_WIFI_CONFIG::kResetDelayTicks + 1;  // the first set-up falls due
    for (int i = 0; i < 100 && wifi->resetPending(); ++i) wifi->startupPass();
    ASSERT_FALSE(wifi->resetPending());
    systemLinks().wifiRestart();
    EXPECT_TRUE(wifi->resetPending());
    H71_WIFI_CONFIG::resetInstanceForTest();
}

TEST_F(VideoTest, WithoutTheI2cBusInitializeLogsAndStartsNoThread) {
    kavelsource::resetInstanceForTest();
    board().failOpen(wiring::kI2cDevice);
    EXPECT_EQ(kavelsource::pInstance()->initialize(), 255);
    EXPECT_FALSE(kavelsource::p_kavel_source->threadRunning());
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("cannot open /dev/i2c-0"), std::string::npos);
}

TEST_F(VideoTest, ReceiverResetBehindTheManagersBackIsSetUpAgain) {
    command("signal HDMI4 1920x1080@50");
    passes(2, 250);
    ASSERT_EQ(ramTiming(5), (std::vector<int>{1920, 1080, 50, 0}));
    board().setReg16(wiring::kGpioRxReset1, wiring::kLineLow);  // e.g. the FPGA engine's start levels
    board().setReg16(wiring::kGpioRxReset1, wiring::kLineHigh);
    passes(1);
    EXPECT_EQ(ramTiming(5)[0], 0) << "hot-plug dropped with the reset: the source stopped";
    passes(2, 250);
    EXPECT_EQ(ramTiming(5), (std::vector<int>{1920, 1080, 50, 0})) << "hot-plug asserted again";
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    EXPECT_NE(log.find("rx-ite6805-1 was reset; setting it up again"), std::string::npos);
    EXPECT_EQ(log.find("rx-ite6805-1 does not answer"), std::string::npos);
}

TEST_F(VideoTest, SilentEepromIsLoggedOnceAndCheckedOnALaterPass) {
    ASSERT_EQ(command("chip edid5 fail 3"), "OK");
    std::vector<uint8_t> broken(256, 0xFF);
    eeprom(5)->setContents(broken);
    board().followRealTime(true);
    passes(4);
    std::vector<uint8_t> now = eeprom(5)->contents();
    EXPECT_TRUE(edidValid(now.data(), now.size()));
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    size_t warnings = 0;
    for (size_t at = 0; (at = log.find("EEPROM of HDMI4 does not answer", at)) != std::string::npos; ++at) ++warnings;
    EXPECT_EQ(warnings, 1u);
    EXPECT_EQ(status(1) & 0x10, 0x10);
}
