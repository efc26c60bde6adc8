// The controller's singletons on the simulated board with the manager thread running.
#include "c331_fixture.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;

TEST_F(ScalerTest, RunningControllerAppliesPatternAndBrightnessHandedOverByAScreen) {
    ram = startStore();
    ram->shadowTakesRam();
    std::atomic<int> lastCode{0};
    QObject::connect(ram, &VlxRamPara::sig_update_para, [&](int code) { lastCode = code; });
    c331_manage* mgr = c331_manage::pInstance();
    // The manager thread emits into `lastCode`: it stops before this scope ends, on every way out.
    struct StopManager {
        ~StopManager() { c331_manage::resetInstanceForTest(); }
    } stopManager;
    ASSERT_TRUE(testkit::waitUntil([&] { return g_fpga_c331_start.load() == 1; }));
    EXPECT_EQ(mgr->state(), c331_manage::kStateRunning);
    const uint16_t brightness = uint16_t(ram->ramU16(vlxram::kBrightness) == 30 ? 40 : 30);
    {
        ManageMutexLocker lock;
        ram->setRamByte(vlxram::kTestPattern, 2);  // green
        ram->setRamU16(vlxram::kBrightness, brightness);
        c331_manage::update_flag = 1;
    }
    ASSERT_TRUE(testkit::waitUntil([&] { return lastCode.load() == 1; }));
    EXPECT_TRUE(testkit::waitUntil([] { return c331_manage::update_flag.load() == 0; }));
    EXPECT_EQ(mgr->vlxApi_IsPatternGen(), 1);
    EXPECT_EQ(regOf(c331::kRegPatType, 0), 4u);
    EXPECT_EQ(regOf(c331::kRegPatC2, 0), 255u);
    EXPECT_EQ(engine_requests::fpgaBrightness.load(), 1);
    EXPECT_EQ(regOf(c331::kRegBright0, 0), 0u);  // the chip stays neutral
    EXPECT_EQ(chip->guestErrors(), 0u);
}
