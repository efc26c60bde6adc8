#include <QDialog>
#include <QPointer>
#include <QTimer>

#include "shell_fixture.h"

using shelltest::ShellTest;

namespace {

// A screen of a later subsystem as the idle return sees it: a dialog with a back slot
// that closes it, clears its pointer and hands the focus back to its parent.
class FakeScreen : public QDialog {
    Q_OBJECT
public:
    FakeScreen(QPointer<FakeScreen>* slot, int parentFocus) : slot_(slot), parentFocus_(parentFocus) {}
    int backs = 0;
public slots:
    void on_Button_back_clicked() {
        ++backs;
        setAttribute(Qt::WA_DeleteOnClose);
        close();
        *slot_ = nullptr;
        g_page_focus = uint8_t(parentFocus_);
    }

private:
    QPointer<FakeScreen>* slot_;
    int parentFocus_;
};

QPointer<FakeScreen> g_fake_inputchoose;
QPointer<FakeScreen> g_fake_inputcut;
QPointer<FakeScreen> g_fake_outputset;

class IdleTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        touch = lcd_touch::instanceWithoutThread();
        touch->touched();
        lcd_touch::registerScreen(IdleScreen::InputChoose, [] { return g_fake_inputchoose.data(); });
        lcd_touch::registerScreen(IdleScreen::InputCut, [] { return g_fake_inputcut.data(); });
        lcd_touch::registerScreen(IdleScreen::OutputSet, [] { return g_fake_outputset.data(); });
        g_back_to_mainwindow_time = 100;
        g_auto_lock_time = 1000;
    }
    void idle(uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) touch->auto_timeout_back();
    }
    // Settings menu with a screen of it over it, as a tile leaves them.
    void openOutputSetOverMenu() {
        g_option = new Option;
        g_option->show();
        g_fake_outputset = new FakeScreen(&g_fake_outputset, 5);
        g_fake_outputset->show();
        g_page_focus = 6;
    }
    lcd_touch* touch = nullptr;
};

}  // namespace

TEST_F(IdleTest, ReturnHomeClosesScreenAndSettingsMenuOnlyAfterTheBackTime) {
    openOutputSetOverMenu();
    QPointer<FakeScreen> screen = g_fake_outputset;
    QPointer<Option> menu = g_option;
    idle(100);
    EXPECT_EQ(screen->backs, 0);
    EXPECT_EQ(g_page_focus.load(), 6);
    idle(1);
    EXPECT_TRUE(g_fake_outputset.isNull());
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
    shelltest::flushDeletes();
    EXPECT_TRUE(screen.isNull());
    EXPECT_TRUE(menu.isNull());
}

TEST_F(IdleTest, TouchStartsTheIdleCountAgain) {
    openOutputSetOverMenu();
    idle(90);
    touch->touched();
    idle(100);
    EXPECT_EQ(g_page_focus.load(), 6);
    idle(1);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(IdleTest, CropOverInputChoiceUnwindsToInputChoiceElseToTheMenu) {
    g_fake_inputchoose = new FakeScreen(&g_fake_inputchoose, 1);
    g_fake_inputcut = new FakeScreen(&g_fake_inputcut, 3);
    g_page_focus = 7;
    idle(101);
    EXPECT_TRUE(g_fake_inputcut.isNull());
    EXPECT_TRUE(g_fake_inputchoose.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);

    // crop screen opened from the settings menu
    touch->touched();
    g_option = new Option;
    g_fake_inputcut = new FakeScreen(&g_fake_inputcut, 5);
    g_page_focus = 7;
    idle(101);
    EXPECT_TRUE(g_fake_inputcut.isNull());
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(IdleTest, AutoLockShowsANewStatusScreenAfterTheLockTime) {
    home();
    g_page_focus = 1;
    idle(1000);
    EXPECT_TRUE(g_lockwindow.isNull());
    idle(1);
    ASSERT_FALSE(g_lockwindow.isNull());
    EXPECT_TRUE(g_lockwindow->isVisible());
    EXPECT_EQ(g_page_focus.load(), 0);
    // in front already: no second status screen
    QPointer<LockWindow> first = g_lockwindow;
    idle(50);
    EXPECT_EQ(g_lockwindow, first);
}

TEST_F(IdleTest, StatusScreenOverTheRunningSettingsMenuTakesTheTouchAndGoesBackToIt) {
    MainWindow* w = home();
    g_page_focus = 1;
    QWidget* modalAfterLock = nullptr;
    uint8_t focusAfterTouch = 0;
    bool menuAfterTouch = false;
    // the return home leaves the settings menu open; the lock covers it
    QTimer::singleShot(0, [&] {
        idle(1001);
        ASSERT_FALSE(g_lockwindow.isNull());
        modalAfterLock = QApplication::activeModalWidget();
        EXPECT_EQ(modalAfterLock, g_lockwindow.data()) << "a blocked status screen would never get the touch";
        g_lockwindow->enterHome();
        focusAfterTouch = g_page_focus.load();
        menuAfterTouch = !g_option.isNull() && QApplication::activeModalWidget() == g_option.data();
        if (g_option) g_option->on_Button_back_clicked();
    });
    w->on_option_clicked();
    EXPECT_EQ(focusAfterTouch, 5);
    EXPECT_TRUE(menuAfterTouch);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(IdleTest, NeverLockValueStopsTheReturnHomeAndTheLock) {
    g_auto_lock_time = lcd_touch::kNeverLock;
    openOutputSetOverMenu();
    idle(130000);
    EXPECT_EQ(touch->untouchedTicks(), 0u);
    EXPECT_FALSE(g_fake_outputset.isNull());
    EXPECT_EQ(g_page_focus.load(), 6);
    EXPECT_TRUE(g_lockwindow.isNull());
}

TEST_F(IdleTest, NothingCountsWhileAnUpdateRunsAndTheCountStopsAt100001) {
    g_back_to_mainwindow_time = 110000;
    g_auto_lock_time = 115000;
    g_update_flag = 1;
    idle(500);
    EXPECT_EQ(touch->untouchedTicks(), 0u);
    g_update_flag = 0;
    idle(100010);
    EXPECT_EQ(touch->untouchedTicks(), lcd_touch::kCountLimit);
}

TEST_F(IdleTest, HomeTickRunsTheIdleReturn) {
    MainWindow* w = home();
    openOutputSetOverMenu();
    tick(w, 101);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(IdleTest, MenuTileSurvivesItsMenuClosedAndDeletedDuringTheNestedRun) {
    MainWindow* w = home();
    g_page_focus = 1;
    QPointer<Option> menu;
    bool guardFired = false;
    // while the menu runs modally with a screen of it in front, the idle return closes both
    // and the deletions are carried out before the menu's run returns
    QTimer::singleShot(0, [&] {
        menu = g_option;
        ASSERT_FALSE(menu.isNull());
        g_fake_outputset = new FakeScreen(&g_fake_outputset, 5);
        g_page_focus = 6;
        idle(101);
        shelltest::flushDeletes();
    });
    // the guard dies with this test: a later test of the process never sees it fire
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* m = QApplication::activeModalWidget()) {
            guardFired = true;  // keeps a broken build from hanging
            m->close();
        }
    });
    guard.start(5000);
    w->on_option_clicked();
    EXPECT_FALSE(guardFired);
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
    shelltest::flushDeletes();
    EXPECT_TRUE(menu.isNull());
}

TEST_F(IdleTest, MenuClosedWithoutItsBackHandlerIsNotLeftRegistered) {
    MainWindow* w = home();
    g_page_focus = 1;
    QTimer::singleShot(0, [] {
        if (g_option) g_option->reject();  // e.g. Escape on a desktop keyboard
    });
    w->on_option_clicked();
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

#include "idle_test.moc"
