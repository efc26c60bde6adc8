#include <QRegularExpression>

#include <map>

#include "shell_fixture.h"

using shelltest::ShellTest;

namespace {

// Register file of the two simulated sending cards as the ageing sample reads it.
struct FakeFpgas {
    std::map<std::pair<int, int>, uint8_t> regs;
    bool present = true;
    bool running = true;
    int reads = 0;
    void install() {
        ShellLinks& l = shellLinks();
        l.fpgaEnginePresent = [this] { return present; };
        l.fpgaRunning = [this] { return running; };
        l.fpgaRegister = [this](uint8_t reg, uint8_t fpga) {
            ++reads;
            return regs[{reg, fpga}];
        };
    }
    void set(int fpga, uint8_t counter, uint8_t flags, uint8_t value) {
        regs[{42, fpga}] = counter;
        regs[{40, fpga}] = flags;
        regs[{43, fpga}] = value;
    }
};

void resetCounters() {
    for (uint32_t* c : {&factoryage_log_diff3, &factoryage_log_diff5, &factoryage_log_diff10, &factoryage_log_diff20,
                        &factoryage_log_diffmore, &factoryage_log2_diff3, &factoryage_log2_diff5,
                        &factoryage_log2_diff10, &factoryage_log2_diff20, &factoryage_log2_diffmore})
        *c = 0;
    factoryage_log.clear();
}

}  // namespace

TEST_F(ShellTest, TickCountsAndRebootRunsExactlyThreeHundredTicksAfterTheRequestAndOnce) {
    MainWindow* w = home();
    G_timeTicks = 5000;
    G_reboot_tickTicks = 5000;
    g_app_reset_flag = 1;
    tick(w, 299);
    EXPECT_EQ(G_timeTicks.load(), 5299u);
    EXPECT_EQ(shell_->count("reboot"), 0u);
    tick(w, 1);
    EXPECT_EQ(shell_->count("reboot"), 1u);
    tick(w, 1000);
    EXPECT_EQ(shell_->count("reboot"), 1u) << "a reboot that was carried out must not be repeated every tick";
}

TEST_F(ShellTest, NoRebootWithoutTheResetFlag) {
    MainWindow* w = home();
    G_reboot_tickTicks = 0;
    g_app_reset_flag = 0;
    tick(w, 1000);
    EXPECT_EQ(shell_->count("reboot"), 0u);
}

TEST_F(ShellTest, FailedRebootIsRetriedAfterTheDelayNotOnEveryTick) {
    MainWindow* w = home();
    shell_->status = 256;
    G_reboot_tickTicks = 0;
    g_app_reset_flag = 1;
    tick(w, 300);
    EXPECT_EQ(shell_->count("reboot"), 1u);
    tick(w, 299);
    EXPECT_EQ(shell_->count("reboot"), 1u);
    tick(w, 1);
    EXPECT_EQ(shell_->count("reboot"), 2u);
}

TEST_F(ShellTest, AgeingSampleTakenEvery18000TicksWithTheSixRegisterFields) {
    resetCounters();
    FakeFpgas fpgas;
    fpgas.install();
    fpgas.set(0, 5, 31, 7);
    fpgas.set(1, 9, 0, 200);
    MainWindow* w = home();
    G_factoryage_ticks = 0;
    tick(w, 17999);
    EXPECT_TRUE(factoryage_log.isEmpty());
    tick(w, 1);
    ASSERT_EQ(factoryage_log.size(), 1);
    EXPECT_EQ(G_factoryage_ticks.load(), 18000u);
    const QRegularExpression line(QStringLiteral("^\\d\\d-\\d\\d \\d\\d:\\d\\d 5 31 7 9 0 200$"));
    EXPECT_TRUE(line.match(factoryage_log.first()).hasMatch()) << factoryage_log.first().toStdString();
    tick(w, 17999);
    EXPECT_EQ(factoryage_log.size(), 1);
    tick(w, 1);
    EXPECT_EQ(factoryage_log.size(), 2);
}

TEST_F(ShellTest, NoAgeingSampleWithoutEngineWhileStoppedOrWhilePcCommandRuns) {
    resetCounters();
    FakeFpgas fpgas;
    fpgas.install();
    MainWindow* w = home();
    int refreshes = 0;
    shellLinks().ageViewRefresh = [&] { ++refreshes; };

    fpgas.present = false;
    tick(w, 18000);
    fpgas.present = true;
    fpgas.running = false;
    tick(w, 18000);
    fpgas.running = true;
    pc_window::note();
    tick(w, 18000);
    EXPECT_TRUE(factoryage_log.isEmpty());
    EXPECT_EQ(fpgas.reads, 0);
    // the open ageing view is refreshed every period all the same
    EXPECT_EQ(refreshes, 3);

    pc_window::clear();
    tick(w, 18000);
    EXPECT_EQ(factoryage_log.size(), 1);
    EXPECT_EQ(refreshes, 4);
}

TEST_F(ShellTest, NoEngineLinkReadsZeroRegistersWhenSampledDirectly) {
    resetCounters();
    home()->getagelog();
    ASSERT_EQ(factoryage_log.size(), 1);
    EXPECT_TRUE(factoryage_log.first().endsWith(QStringLiteral(" 0 0 0 0 0 0")));
}

TEST_F(ShellTest, CounterAdvanceAcrossWrapAndBucketsAreCountedPerOutput) {
    resetCounters();
    FakeFpgas fpgas;
    fpgas.install();
    MainWindow* w = home();
    // OUT1 counter 255 -> 1 is an advance of 2; OUT2 stands still and counts nothing
    fpgas.set(0, 255, 0, 0);
    fpgas.set(1, 40, 0, 0);
    w->getagelog();
    fpgas.set(0, 1, 0, 0);
    w->getagelog();
    EXPECT_EQ(factoryage_log_diff3, 1u);
    EXPECT_EQ(factoryage_log_diff5 + factoryage_log_diff10 + factoryage_log_diff20 + factoryage_log_diffmore, 0u);
    EXPECT_EQ(factoryage_log2_diff3 + factoryage_log2_diff5 + factoryage_log2_diff10 + factoryage_log2_diff20 +
                  factoryage_log2_diffmore,
              0u);

    // OUT1 advances 3, 5, 10, 20; OUT2 advances 4, 9, 19, 255
    const int out1[] = {4, 9, 19, 39};
    const int out2[] = {44, 53, 72, 71};
    for (int i = 0; i < 4; ++i) {
        fpgas.set(0, uint8_t(out1[i]), 0, 0);
        fpgas.set(1, uint8_t(out2[i]), 0, 0);
        w->getagelog();
    }
    EXPECT_EQ(factoryage_log_diff3, 1u);
    EXPECT_EQ(factoryage_log_diff5, 1u);
    EXPECT_EQ(factoryage_log_diff10, 1u);
    EXPECT_EQ(factoryage_log_diff20, 1u);
    EXPECT_EQ(factoryage_log_diffmore, 1u);
    EXPECT_EQ(factoryage_log2_diff3, 0u);
    EXPECT_EQ(factoryage_log2_diff5, 1u);
    EXPECT_EQ(factoryage_log2_diff10, 1u);
    EXPECT_EQ(factoryage_log2_diff20, 1u);
    EXPECT_EQ(factoryage_log2_diffmore, 1u);
}

TEST_F(ShellTest, AgeingLogKeepsAtMost3360LinesDroppingTheOldest) {
    resetCounters();
    FakeFpgas fpgas;
    fpgas.install();
    factoryage_log.append(QStringLiteral("01-01 00:00 1 0 0 1 0 0"));
    for (int i = 1; i < MainWindow::kAgeLogMaxLines; ++i) factoryage_log.append(QStringLiteral("01-02 00:00 1 0 0 1 0 0"));
    fpgas.set(0, 1, 0, 0);
    fpgas.set(1, 1, 0, 0);
    home()->getagelog();
    ASSERT_EQ(factoryage_log.size(), 3360);
    EXPECT_TRUE(factoryage_log.first().startsWith(QStringLiteral("01-02")));
}
