// The parameter dispatcher: RAM differences against the shadow, one pass at a time.
#include <atomic>
#include <chrono>
#include <thread>

#include "c331_fixture.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/worker_pacer.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;
using namespace vlxram;

class C331DispatchTest : public ScalerTest {
protected:
    void SetUp() override {
        ScalerTest::SetUp();
        startRunning();
        QObject::connect(ram, &VlxRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
    }
    // One manager pass, then the GUI's change handling.
    void pass() {
        m->step();
        shadowFollows();
    }
    std::vector<int> codes;
};

TEST_F(C331DispatchTest, LedWidthAndHeightInOneWriteGiveOnePanelInitAndTheHandshakeAnswer) {
    const unsigned before = m->panel_inits;
    {
        ManageMutexLocker lock;
        ram->setRamU16(kLedWidth, 3840);
        ram->setRamU16(kLedHeight, 2160);
        c331_manage::update_flag = 1;
    }
    pass();
    EXPECT_EQ(m->panel_inits, before + 1);
    EXPECT_EQ(g_set_led_para.load(), 2);
    EXPECT_EQ(m->panel.ledW, 3840);
    EXPECT_EQ(ram->ramU16(kPanelResults + 4), uint16_t(m->panel.ochW));
    EXPECT_EQ(c331_manage::update_flag.load(), 0);
    EXPECT_EQ(codes, std::vector<int>{1});
}

TEST_F(C331DispatchTest, OnlyTheGreenGainChangedStillSendsAllFourGainsInOneCall) {
    ram->setRamByte(kColorTempMode, 0);
    ram->setRamByte(kColorTempR, 128);
    ram->setRamByte(kColorTempB, 32);
    takeAsApplied();
    const unsigned calls = m->colortemp_calls;
    writeRam(kColorTempG, 77);
    pass();
    EXPECT_EQ(m->colortemp_calls, calls + 1);
    EXPECT_EQ(regOf(c331::kRegColorMatrix0, 2), 8192u);
    EXPECT_EQ(regOf(0x0C6202, 2), 77u * 64);
    EXPECT_EQ(regOf(0x0C6A02, 2), 2048u);
}

TEST_F(C331DispatchTest, RectangleAndOutputWordInOnePassReLayOutWithoutTheOutputSetter) {
    ram->setRamU16(windowField(0, kWinState), 1);
    takeAsApplied();
    m->vlxApi_initEnvC331();
    {
        ManageMutexLocker lock;
        ram->setRamU16(windowField(0, kWinWidth), 960);
        ram->setRamU16(windowField(0, kWinOutput), 1);
        c331_manage::update_flag = 1;
    }
    const unsigned calls = m->set_output_calls;
    m->polling_guard = -1;  // only the dispatcher's own calls are counted
    pass();
    EXPECT_EQ(m->set_output_calls, calls + 1);
    EXPECT_EQ(m->gWininfo[0].width, 960);
    EXPECT_EQ(m->PM_CHG[kChgDbd][0], 0);  // c331_SetWinOutput did not run
}

TEST_F(C331DispatchTest, CropSourceAppliesThePresetAndPlainSourceSwitchesItOff) {
    ram->setRamU16(windowField(0, kWinState), 1);
    ram->setRamU16(kCropTable + 30, kCropInUse | 2);  // preset 3: input 2
    takeAsApplied();
    m->vlxApi_initEnvC331();
    writeRam(windowField(0, kWinSource), 0x8003);
    pass();
    EXPECT_EQ(m->gWininfo[0].cropIdx, 3);
    EXPECT_EQ(m->gWininfo[0].input, 2);
}

TEST_F(C331DispatchTest, CropIndexOfFortyOrAnEntryNotInUseIsIgnored) {
    ram->setRamU16(windowField(0, kWinState), 1);
    ram->setRamU16(kAudioWindow, 0);
    takeAsApplied();
    m->vlxApi_initEnvC331();
    writeRam(windowField(0, kWinSource), 0x8028);
    pass();
    EXPECT_EQ(engine_requests::audioRoute.load(), 0);  // no source switch happened
    writeRam(windowField(0, kWinSource), 0x8005);     // entry 5 without its in-use bit
    pass();
    EXPECT_EQ(engine_requests::audioRoute.load(), 0);
    EXPECT_EQ(m->gWininfo[0].cropIdx, 0);
}

TEST_F(C331DispatchTest, AudioRouteFollowsTheAudioWindowsSourceAndAnySoundWord) {
    ram->setRamU16(kAudioWindow, 2);
    takeAsApplied();
    writeRam(windowField(1, kWinSource), 0);
    pass();
    EXPECT_EQ(engine_requests::audioRoute.load(), 0);
    writeRam(windowField(2, kWinSource), 0);
    pass();
    EXPECT_EQ(engine_requests::audioRoute.load(), 1);
    engine_requests::audioRoute = 0;
    writeRam(windowField(4, kWinSound), 0x8000);
    pass();
    EXPECT_EQ(engine_requests::audioRoute.load(), 1);
}

TEST_F(C331DispatchTest, EdidChangesOfSeveralPortsInOneWriteFlagEveryPort) {
    {
        ManageMutexLocker lock;
        ram->setRamU16(kEdidPara + 6 * 1, 1280);
        ram->setRamU16(kEdidPara + 6 * 3 + 4, 50);
        c331_manage::update_flag = 1;
    }
    engine_requests::edidWritten[1] = engine_requests::edidWritten[3] = 1;
    pass();
    EXPECT_EQ(engine_requests::edidRequest[1].load(), 1);
    EXPECT_EQ(engine_requests::edidRequest[3].load(), 1);
    EXPECT_EQ(engine_requests::edidWritten[3].load(), 0);
    EXPECT_EQ(engine_requests::edidRequest[0].load(), 0);
    EXPECT_EQ(engine_requests::edidRequest[2].load(), 0);
}

TEST_F(C331DispatchTest, FadeLengthFromTheRamIsClampedToAFewSeconds) {
    ram->setRamU16(windowField(0, kWinState), 1);
    takeAsApplied();
    m->vlxApi_initEnvC331();
    writeRam(kFadeTable, 60000);
    pass();
    EXPECT_EQ(m->PM_WIN_FADE_IN[0], c331_manage::kFadeMaxFrames);
    writeRam(kFadeTable + 2, 30);
    pass();
    EXPECT_EQ(m->PM_WIN_FADE_OUT[0], 30);
}

TEST_F(C331DispatchTest, FlagValueTwoIsPassedOnAsChangeCodeTwo) {
    writeRam(kContrast, 70, 2);
    pass();
    EXPECT_EQ(codes, std::vector<int>{2});
    EXPECT_EQ(regOf(c331::kRegContrast0, 6), 70u * 1023 / 100);
}

TEST_F(C331DispatchTest, ChangeCodeRaisedWhileThePassWaitsForTheMutexIsNotLost) {
    std::thread manager;
    {
        ManageMutexLocker lock;
        ram->setRamU16(kContrast, 40);
        c331_manage::update_flag = 1;
        manager = std::thread([this] { m->step(); });
        // The pass has seen the flag and waits for the mutex: a contended glibc mutex reads 2.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (c331_manage::manage_mutex.native_handle()->__data.__lock != 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(c331_manage::manage_mutex.native_handle()->__data.__lock, 2);
        c331_manage::update_flag = 2;  // a user-mode delete handed over before the pass got the mutex
    }
    manager.join();
    EXPECT_EQ(codes, std::vector<int>{2});
    EXPECT_EQ(c331_manage::update_flag.load(), 0);
}

// A bring-up again applies the RAM as it then is, and its passes find changes against that:
// a contrast written before it and changed back afterwards reaches the chip.
TEST_F(C331DispatchTest, ContrastChangedBackAfterABringUpAgainReachesTheChip) {
    writeRam(kContrast, 30);
    pass();
    {
        ManageMutexLocker lock;
        ram->updateRegister(34, 0x40, 0x40);  // service request: bring the chip up again
        c331_manage::update_flag = 1;
    }
    pass();
    ASSERT_NE(m->state(), c331_manage::kStateRunning);
    {
        ManageMutexLocker lock;  // a PC's RAM write, its apply still to come
        ram->setRamU16(kContrast, 70);
    }
    for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(regOf(c331::kRegContrast0, 6), 70u * 1023 / 100);
    writeRam(kContrast, 30);
    pass();
    EXPECT_EQ(regOf(c331::kRegContrast0, 6), 30u * 1023 / 100);
}

// A PC's brightness applied in the first seconds, before the chip is up: the bring-up applies
// the RAM but not the brightness, the FPGA engine's, so the first pass hands it over.
TEST_F(ScalerTest, ABrightnessAppliedBeforeTheBringUpIsHandedToTheFpgaEngine) {
    ram = startStore();
    ram->shadowTakesRam();
    m = c331_manage::createForTest();
    writeRam(kBrightness, ram->snapshotU16(kBrightness) == 30 ? 40 : 30);
    for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    m->step();
    EXPECT_EQ(engine_requests::fpgaBrightness.load(), 1);
    EXPECT_EQ(regOf(c331::kRegBright0, 0), 0u) << "the chip stays neutral";
}

TEST_F(C331DispatchTest, BrightnessKeepsTheChipNeutralAndAsksTheFpgaEngine) {
    writeRam(kBrightness, 20);
    pass();
    EXPECT_EQ(engine_requests::fpgaBrightness.load(), 1);
    EXPECT_EQ(regOf(c331::kRegBright0, 1), 0u);
}

// The owners' loops idle for long pauses: the pass that raises a request ends the pause of
// that owner and of no other; a request still waiting does not wake its owner again, one
// raised again does.
TEST_F(C331DispatchTest, ARaisedRequestWakesItsOwnersIdleLoopOnce) {
    engine_requests::clearAll();
    plat::WorkerPacer fpga(1, 500), inputs(1, 500);  // idle pauses of 5 s
    for (int i = 0; i < 30; ++i) fpga.pass(false), inputs.pass(false);
    engine_requests::fpgaOwner.set(&fpga);
    engine_requests::inputsOwner.set(&inputs);
    plat::setSleepScale(1.0);
    std::atomic<bool> fpgaDone{false}, inputsDone{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread fpgaLoop([&] { fpga.pass(false), fpgaDone = true; });
    std::thread inputsLoop([&] { inputs.pass(false), inputsDone = true; });
    writeRam(kBrightness, 20);
    pass();
    fpgaLoop.join();
    EXPECT_FALSE(inputsDone.load());
    plat::setSleepScale(0);
    for (int i = 0; i < 30; ++i) fpga.pass(false);  // back in a long idle pause
    plat::setSleepScale(1.0);
    fpgaDone = false;
    std::thread fpgaAgain([&] { fpga.pass(false), fpgaDone = true; });
    {
        ManageMutexLocker lock;
        ram->setRamU16(kEdidPara + 6 * 2, 1280);
        c331_manage::update_flag = 1;
    }
    pass();  // the brightness request still waits: only the input-source manager is woken
    inputsLoop.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fpgaDone.load());
    fpga.wake();
    fpgaAgain.join();
    // raised again while the first still waits (as when the owner took it during the pass): woken
    plat::setSleepScale(0);
    for (int i = 0; i < 30; ++i) fpga.pass(false);
    plat::setSleepScale(1.0);
    std::thread fpgaThird([&] { fpga.pass(false); });
    writeRam(kBrightness, 30);
    pass();
    fpgaThird.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    plat::setSleepScale(0);
    engine_requests::fpgaOwner.set(nullptr);
    engine_requests::inputsOwner.set(nullptr);
}

TEST_F(C331DispatchTest, ScreenStateAndPanelOffsetRaiseTheFpgaFlags) {
    writeRam(kScreenState, ram->ramU16(kScreenState) ^ 1);
    pass();
    EXPECT_EQ(engine_requests::fpgaOutputOnOff.load(), 1);
    EXPECT_EQ(engine_requests::fpgaOutputPosition.load(), 0);
    writeRam(kOutputX, 16);
    pass();
    EXPECT_EQ(engine_requests::fpgaOutputPosition.load(), 1);
}

TEST_F(C331DispatchTest, DebugRegistersAreClearedOnceTakenAndRegister33KeepsUnknownBits) {
    ram->registersForTest()[34] = 0x06;
    ram->registersForTest()[35] = 3;
    ram->registersForTest()[36] = 1;
    ram->registersForTest()[33] = 4;
    writeRam(kContrast, 40);
    pass();
    EXPECT_EQ(ram->registersForTest()[34], 0);
    EXPECT_EQ(ram->registersForTest()[35], 0);
    EXPECT_EQ(ram->registersForTest()[36], 0);
    EXPECT_EQ(ram->registersForTest()[33], 4);
    EXPECT_EQ(m->state(), c331_manage::kStateRunning);
}

TEST_F(C331DispatchTest, APassWithoutTheFlagTouchesNeitherTheMutexNorTheChip) {
    const auto frames = chip->counters().frames;
    ram->setRamU16(kContrast, 33);  // written without the hand-over: not applied
    ManageMutexLocker lock;          // a writer holds the mutex: the pass must not block
    m->step();
    EXPECT_EQ(chip->counters().frames, frames);
    EXPECT_TRUE(codes.empty());
}

TEST_F(C331DispatchTest, InputPollingStopsWhileAPatternIsShown) {
    ram->setRamU16(windowField(0, kWinState), 1);
    takeAsApplied();
    m->vlxApi_initEnvC331();
    m->vlxApi_MultiWinChAlloc(1);
    m->vlxApi_MultiWinChInit();
    writeRam(kTestPattern, 4);
    pass();
    ASSERT_EQ(m->vlxApi_IsPatternGen(), 1);
    const int port = m->PM_INPUT[0];
    m->PI_UPDATE[port] = 1;
    const unsigned calls = m->set_output_calls;
    pass();
    EXPECT_EQ(m->set_output_calls, calls);
    writeRam(kTestPattern, 0);
    pass();
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
    EXPECT_EQ(m->set_output_calls, calls + 1);
    EXPECT_EQ(m->PI_UPDATE[port], 0);
}

// A pattern refused beside a second window goes back to the pattern shown in the RAM, but a
// PC's word written after the pass's look (its re-layout lets writers in) is newer: it stays,
// the same number as well, and its own apply refuses it in turn.
TEST_F(C331DispatchTest, ARefusedPatternGoesBackOnlyOverTheWordThePassLookedAt) {
    static std::atomic<bool> rewritten;
    rewritten = false;
    plat::setSleepHook([](uint64_t us) {
        if (!rewritten.exchange(true)) {
            std::thread([] {  // a link thread's write, answered "done"
                unsigned char three[2] = {3, 0};
                ManageMutexLocker lock;
                EXPECT_EQ(VlxRamPara::VlxRamParaDeal(three, 2, kTestPattern), 0);
            }).join();
        }
        plat::sim::board().clock().step(us * plat::sim::kNsPerUs);
    });
    {
        ManageMutexLocker lock;  // a second window and a pattern in one hand-over
        ram->setRamU16(windowField(1, kWinState), 1);
        ram->setRamU16(kTestPattern, 3);
        c331_manage::update_flag = 1;
    }
    pass();
    ASSERT_TRUE(rewritten.load());
    ASSERT_EQ(m->win_count, 2);
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
    EXPECT_EQ(ram->snapshotU16(kTestPattern), 3) << "the PC's newer word";
    writeRam(kTestPattern, 3);
    pass();
    EXPECT_EQ(ram->snapshotU16(kTestPattern), 0) << "refused and set back to none";
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
}

// ---- the LED-size hand-shake with the FPGA engine

TEST_F(C331DispatchTest, LedChangeWhileTheFpgaEngineIsBusyIsKeptPendingWithoutHoldingTheMutex) {
    g_set_led_para = 1;
    writeRam(kLedWidth, 2560);
    const unsigned before = m->panel_inits;
    pass();  // the GUI refreshes the shadow: the difference is gone from the RAM's view
    EXPECT_TRUE(m->panelPending());
    EXPECT_EQ(m->panel_inits, before);
    EXPECT_TRUE(c331_manage::manage_mutex.try_lock());
    c331_manage::manage_mutex.unlock();
    m->step();
    EXPECT_EQ(m->panel_inits, before);
    g_set_led_para = 0;  // the engine finished the previous change
    codes.clear();
    m->step();
    EXPECT_FALSE(m->panelPending());
    EXPECT_EQ(m->panel_inits, before + 1);
    EXPECT_EQ(m->panel.ledW, 2560);
    EXPECT_EQ(g_set_led_para.load(), 2);
    EXPECT_EQ(codes, std::vector<int>{1});  // the panel results reach the screens
}

TEST_F(C331DispatchTest, LedHandshakeThatNeverEndsIsGivenUpAfterItsBoundWithALoggedError) {
    g_set_led_para = 1;
    writeRam(kLedHeight, 1200);
    pass();
    G_timeTicks += c331_manage::kLedHandshakeTimeoutTicks;
    m->step();
    EXPECT_TRUE(m->panelPending());
    G_timeTicks += 2;
    m->step();
    EXPECT_FALSE(m->panelPending());
    EXPECT_EQ(m->panel.ledH, 1200);
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("LED-size"), std::string::npos);
}

TEST_F(C331DispatchTest, LedSizeChangeWhileAScreenWritesTheRamDoesNotHang) {
    // The FPGA engine's step counts GUI ticks; the GUI is a screen writer that needs the mutex.
    g_set_led_para = 1;
    std::atomic<bool> managerDone{false}, screenDone{false};
    std::thread manager([&] {
        writeRam(kLedWidth, 3000);
        for (int i = 0; i < 200; ++i) m->step();
        managerDone = true;
    });
    std::thread screen([&] {
        for (int i = 0; i < 200; ++i) {
            {
                ManageMutexLocker lock;
                ram->setRamU16(kContrast, uint16_t(i % 100));
                c331_manage::update_flag = 1;
            }
            G_timeTicks++;  // the GUI tick goes on
            if (i == 100) g_set_led_para = 0;  // the engine's steps complete
        }
        screenDone = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!managerDone || !screenDone) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool finished = managerDone && screenDone;
    manager.join();
    screen.join();
    ASSERT_TRUE(finished);
    m->step();
    EXPECT_FALSE(m->panelPending());
    EXPECT_EQ(m->panel.ledW, 3000);
}

TEST_F(C331DispatchTest, HSplitResultsAreWrittenBackForTheFpgaEngine) {
    {
        ManageMutexLocker lock;
        ram->setRamU16(kSpliceMode, 3);  // H
        ram->setRamU16(kOut1Width, 800);
        c331_manage::update_flag = 1;
    }
    pass();
    const panel::PanelRecord& p = m->panel;
    EXPECT_EQ(p.out2w, 1120);
    EXPECT_EQ(ram->ramU16(kOutputX), uint16_t(p.ochW - 800));
    EXPECT_GT(ram->ramU16(kOutputX), 0);
    EXPECT_EQ(ram->ramU16(kOutputY), 0);
    EXPECT_EQ(ram->ramU16(kPanelResults + 0), 2);
    EXPECT_EQ(ram->ramU16(kPanelResults + 2), 1);
    EXPECT_EQ(ram->ramU16(kPanelResults + 4), uint16_t(p.ochW));
    EXPECT_EQ(ram->ramU16(kPanelResults + 6), uint16_t(p.ochH));
    EXPECT_EQ(ram->ramU16(kPanelResults + 8), 0);
    EXPECT_EQ(engine_requests::fpgaOutputPosition.load(), 1);  // the offset moved
    // the chip's OCH timing follows the raster
    EXPECT_EQ(regOf(c331::kRegOchHTotal, 5), unsigned(p.htt - 2));
    EXPECT_EQ(regOf(c331::kRegOchVTotal, 0), unsigned(p.vtt - 2));
    EXPECT_EQ(regOf(c331::kRegOchHEnd, 3), m->PS.actStartH + unsigned(p.ochW));
}
