// Screens, pop-ups and the keypad open on the panel's 800 x 480 area, wherever the home
// screen lies on a display larger than the panel (a window on a PC, VNC, Xvfb).
#include <QPushButton>
#include <QTimer>

#include "shell_fixture.h"
#include "ui/shell/firmwareupdate.h"

using shelltest::ShellTest;

namespace {

const QPoint kOrigin(120, 60);  // the home screen's client area on the display

class PlacementTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        home()->setGeometry(QRect(kOrigin, QSize(800, 480)));
        home()->show();
        g_page_focus = 1;
    }
    QRect onPanel(int x, int y, int w, int h) const { return QRect(kOrigin + QPoint(x, y), QSize(w, h)); }
};



}  // namespace

TEST_F(PlacementTest, SettingsMenuAndMachineStateOpenOnThePanelAndTakeTheBoardsTouches) {
    QRect menuAt, stateAt;
    bool missed = false;
    QTimer::singleShot(0, [&] {
        menuAt = g_option->geometry();
        QPointer<Option> menu = g_option;
        lcd_touch::clickAt(36, 36);  // its back button, in panel coordinates
        missed = !menu.isNull() && menu->isVisible();
        if (g_option) g_option->on_Button_back_clicked();
    });
    home()->on_option_clicked();
    EXPECT_EQ(menuAt, onPanel(0, 0, 800, 480));
    EXPECT_FALSE(missed) << "the touch on the back button missed the menu";
    EXPECT_EQ(g_page_focus.load(), 1);

    QTimer::singleShot(0, [&] {
        stateAt = g_machinestate->geometry();
        QPointer<MachineState> state = g_machinestate;
        lcd_touch::clickAt(36, 36);
        missed = !state.isNull() && state->isVisible();
        if (g_machinestate) g_machinestate->on_Button_back_clicked();
    });
    home()->on_machinestate_clicked();
    EXPECT_EQ(stateAt, onPanel(0, 0, 800, 480));
    EXPECT_FALSE(missed) << "the touch on the back button missed the machine state";
}

TEST_F(PlacementTest, PopupKeypadStatusAndUpdateDisplayOpenOnThePanel) {
    g_tip->tip_create(TIP::kDone);
    EXPECT_EQ(g_tip->geometry(), onPanel(250, 165, 300, 150));

    QRect keypadAt;
    QWidget* active = nullptr;
    QTimer::singleShot(0, [&] {
        keypadAt = g_numberkeyboard->geometry();
        QCoreApplication::processEvents();  // the window system's activation
        active = QApplication::activeWindow();
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_close"))->click();
    });
    g_numberkeyboard->exec();
    EXPECT_EQ(keypadAt, onPanel(420, 0, 380, 480));
    EXPECT_EQ(active, g_numberkeyboard.data())
        << "the keypad does not take the touches it asks for; active: "
        << (active ? active->metaObject()->className() : "none");

    lcd_touch* touch = lcd_touch::instanceWithoutThread();
    g_back_to_mainwindow_time = 5;
    g_auto_lock_time = 10;
    for (int i = 0; i < 11; ++i) touch->auto_timeout_back();
    ASSERT_FALSE(g_lockwindow.isNull());
    EXPECT_EQ(g_lockwindow->geometry(), onPanel(0, 0, 800, 480));

    home()->update_start();
    ASSERT_NE(home()->firmwareUpdateDisplay(), nullptr);
    EXPECT_EQ(home()->firmwareUpdateDisplay()->geometry(), onPanel(0, 0, 800, 480));
    home()->update_over();
}
