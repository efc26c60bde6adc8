// A touch fed on the simulated board's touch device reaches the screens as a click.
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "platform/sim/sim_board.h"
#include "shell_fixture.h"
#include "support/panel_touch.h"
#include "ui/shell/tip.h"

using shelltest::ShellTest;

namespace {

class BoardTouchTest : public ShellTest {};

}  // namespace

TEST_F(BoardTouchTest, ContactsOnTheTouchDeviceAreReportedWithTheirPosition) {
    plat::sim::board().queueTouch(120, 340);
    plat::sim::board().queueTouch(700, 20);
    TouchEventSource source;
    ASSERT_TRUE(source.open());
    std::vector<std::pair<int, int>> presses;
    source.onPress = [&](int x, int y) { presses.emplace_back(x, y); };
    int events = 0;
    for (int i = 0; i < 10 && presses.size() < 2; ++i) {
        const int n = source.readTouches();
        ASSERT_GE(n, 0);
        events += n;
    }
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0], std::make_pair(120, 340));
    EXPECT_EQ(presses[1], std::make_pair(700, 20));
    EXPECT_GT(events, 0);
}

TEST_F(BoardTouchTest, TouchOnTheStatusScreenBringsTheHomeScreen) {
    home()->show();
    g_lockwindow = new LockWindow;
    g_lockwindow->show();
    g_page_focus = 0;
    QPointer<LockWindow> lock = g_lockwindow;
    lcd_touch::clickAt(400, 240);
    shelltest::flushDeletes();
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_TRUE(lock.isNull() || !lock->isVisible());
}

TEST_F(BoardTouchTest, ClickInTheWindowRestartsTheIdleCount) {
    lcd_touch* touch = lcd_touch::instanceWithoutThread();
    g_auto_lock_time = 1000;
    for (int i = 0; i < 50; ++i) touch->auto_timeout_back();
    ASSERT_EQ(touch->untouchedTicks(), 50u);
    QApplication::instance()->installEventFilter(touch);
    home()->show();
    lcd_touch::clickAt(10, 470);
    QApplication::instance()->removeEventFilter(touch);
    EXPECT_EQ(touch->untouchedTicks(), 0u);
}

// The done mark floats over the home screen for 3 s and lets the touches through: the tile
// under it opens its screen.
TEST_F(BoardTouchTest, TouchUnderTheDoneMarkReachesTheTileBelowIt) {
    MainWindow* w = home();
    w->show();
    g_page_focus = 1;
    g_tip->tip_create(TIP::kDone);
    ASSERT_TRUE(g_tip->markShown());
    QPushButton* tile = w->findChild<QPushButton*>(QStringLiteral("custommode"));
    ASSERT_TRUE(g_tip->geometry().contains(tile->mapToGlobal(tile->rect().center())));
    int focusWhileOpen = -1;
    QTimer::singleShot(0, [&focusWhileOpen] {
        focusWhileOpen = g_page_focus.load();
        if (QWidget* modal = QApplication::activeModalWidget())
            QMetaObject::invokeMethod(modal, "on_Button_back_clicked", Qt::DirectConnection);
    });
    testkit::touchWidget(tile);
    EXPECT_EQ(focusWhileOpen, 4) << "the user-mode screen did not open";
    EXPECT_TRUE(g_tip->markShown());
}
