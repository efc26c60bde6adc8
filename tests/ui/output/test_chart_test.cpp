// Test-pattern screen: the pattern byte, the update flag, and the scaler showing the pattern.
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <memory>

#include "output_fixture.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_wiring.h"
#include "support/panel_touch.h"
#include "support/text_fit.h"
#include "ui/shell/panel_style.h"
#include "ui/output/test_chart.h"

using namespace vlxram;
using outputtest::OutputTest;

namespace {

QPushButton* patternButton(test_chart& t, int index) {
    return t.findChild<QWidget*>(QStringLiteral("frame"))->findChild<QPushButton*>(QString::number(index));
}

QString pictureStyle(test_chart& t, int pattern) {
    return t.findChild<QLabel*>(QStringLiteral("label_test%1").arg(pattern))->styleSheet();
}

const QString kMarked = QStringLiteral("border:5px solid rgb(255,171,84);");

}  // namespace

TEST_F(OutputTest, PatternTapsWriteTheirNumberEveryTimeAndCloseWritesZero) {
    test_chart t;
    EXPECT_EQ(t.selectedPattern(), test_chart::kNone);
    patternButton(t, 2)->click();
    EXPECT_EQ(ram()->ramByte(kTestPattern), 3);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(pictureStyle(t, 3), kMarked);
    c331_manage::update_flag = 0;
    patternButton(t, 2)->click();  // the marked one again: stored again
    EXPECT_EQ(c331_manage::update_flag, 1);
    patternButton(t, 7)->click();
    EXPECT_EQ(ram()->ramByte(kTestPattern), 8);
    EXPECT_NE(pictureStyle(t, 3), kMarked);
    EXPECT_EQ(pictureStyle(t, 8), kMarked);
    c331_manage::update_flag = 0;
    t.findChild<QPushButton*>(QStringLiteral("Button_closetest"))->click();
    EXPECT_EQ(ram()->ramByte(kTestPattern), 0);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(t.selectedPattern(), test_chart::kNone);
    EXPECT_NE(pictureStyle(t, 8), kMarked);
    c331_manage::update_flag = 0;
    t.findChild<QPushButton*>(QStringLiteral("Button_closetest"))->click();  // nothing marked: still 0
    EXPECT_EQ(c331_manage::update_flag, 1);
}

TEST_F(OutputTest, BackLeavesThePatternOnAndANewScreenMarksNothing) {
    QTimer::singleShot(0, [] {
        patternButton(*g_test_chart, 4)->click();
        g_test_chart->on_Button_back_clicked();
    });
    g_option->on_test_chart_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(g_test_chart.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
    EXPECT_EQ(ram()->ramByte(kTestPattern), 5);
    test_chart again;
    EXPECT_EQ(again.selectedPattern(), test_chart::kNone);
    for (int p = 1; p <= 8; ++p) EXPECT_NE(pictureStyle(again, p), kMarked) << p;
}

namespace {

// The simulated C331 behind the screen: the manager's passes take the byte to the chip.
class PatternScalerTest : public outputtest::ScalerScreenTest {
protected:
    void SetUp() override {
        ScalerScreenTest::SetUp();
        startScaler();
    }
    // Window 0 over OCH 0, with `windows` windows shown.
    void windowsShown(int windows) {
        m->win_count = windows;
        m->gWininfo[0].ochLst[0] = 0;
        m->gWininfo[0].ochCntH = 1;
        m->gWininfo[0].ochCntV = 1;
    }
};

}  // namespace

TEST_F(PatternScalerTest, PatternReachesTheScalerAndCloseClearsItWithTwoWindowsOn) {
    windowsShown(1);

    test_chart t;
    patternButton(t, 0)->click();  // red
    m->step();
    shadowFollows();
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 1);
    EXPECT_EQ(chip->regValue(c331::kRegPatC1, 0), 255u);

    m->win_count = 2;  // a second window came on while the pattern is shown
    t.findChild<QPushButton*>(QStringLiteral("Button_closetest"))->click();
    m->step();
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
    EXPECT_EQ(chip->regValue(c331::kRegPatType, 0), 0u);
    EXPECT_EQ(chip->regValue(c331::kRegPatC1, 0), 0u);
    EXPECT_EQ(c331_manage::update_flag, 0) << "the manager took the change";
}

// With two windows shown the scaler refuses a pattern: the RAM and the mark keep what the LED
// screen shows, and the screen says why; with one window the same tap is taken.
TEST_F(PatternScalerTest, RefusedPatternIsNotShownAsChosenAndTheScreenSaysWhy) {
    windowsShown(2);

    test_chart t;
    t.show();
    QLabel* refused = t.findChild<QLabel*>(QStringLiteral("label_refused"));
    // the screen looks at the RAM again once the manager's pass is over
    auto settled = [&t] {
        const QTimer* follow = t.findChild<QTimer*>(QStringLiteral("follow_scaler"));
        QElapsedTimer limit;
        limit.start();
        while (follow->isActive() && limit.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return !follow->isActive();
    };
    testkit::touchWidget(patternButton(t, 0));
    m->step();
    ASSERT_TRUE(settled());
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
    EXPECT_EQ(ram()->ramByte(kTestPattern), 0);
    EXPECT_EQ(t.selectedPattern(), test_chart::kNone);
    EXPECT_NE(pictureStyle(t, 1), kMarked);
    EXPECT_TRUE(refused->isVisible());
    panel_style::installPanelFont(shelltest::app());
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        t.language_changed();
        EXPECT_FALSE(refused->text().isEmpty());
        const QStringList cut = testkit::textOverflows(refused);
        EXPECT_TRUE(cut.isEmpty()) << cut.join(QLatin1Char('\n')).toStdString();
    }

    m->win_count = 1;
    testkit::touchWidget(patternButton(t, 0));
    EXPECT_FALSE(refused->isVisible());
    m->step();
    ASSERT_TRUE(settled());
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 1);
    EXPECT_EQ(ram()->ramByte(kTestPattern), 1);
    EXPECT_EQ(t.selectedPattern(), 0);
    EXPECT_EQ(pictureStyle(t, 1), kMarked);
    EXPECT_FALSE(refused->isVisible());
}
