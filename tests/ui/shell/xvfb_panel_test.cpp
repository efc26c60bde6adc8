// The panel on a real X server (Xvfb, xcb platform, no window manager) on a 1024 x 768
// display, larger than the panel: what is on top and where is the X server's answer, not Qt's.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

#include "platform/sim/sim_board.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "shell_fixture.h"
#include "xvfb_display.h"

using shelltest::ShellTest;

namespace {

const QPoint kOrigin(112, 96);  // the home window on the display
constexpr int kSettleMs = 10000;  // the X server maps and activates late on a loaded machine

// Lets Qt and the X server carry out what was asked (map, raise, paint) until `done` holds.
bool settle(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > kSettleMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool exposed(QWidget* w) { return w && w->windowHandle() && w->windowHandle()->isExposed(); }

// The window the X server shows at a panel position.
QWidget* onTopAt(int x, int y) { return QApplication::topLevelAt(kOrigin + QPoint(x, y)); }

QImage displayArea(const QRect& global) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, global.x(), global.y(), global.width(), global.height())
        .toImage();
}

int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return a.width() * a.height();
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// A touch on the simulated board's touch device, read and delivered as the watcher does.
void touchThroughBoard(int x, int y) {
    plat::sim::board().queueTouch(x, y);
    TouchEventSource source;
    ASSERT_TRUE(source.open());
    int presses = 0;
    source.onPress = [&](int px, int py) {
        ++presses;
        lcd_touch::clickAt(px, py);
    };
    for (int i = 0; i < 10 && presses == 0; ++i) ASSERT_GE(source.readTouches(), 0);
    EXPECT_EQ(presses, 1);
}

class XvfbPanelTest : public ShellTest {
protected:
    void SetUp() override {
        display_ = std::make_unique<shelltest::XvfbDisplay>(1024, 768);
        if (display_->running()) {
            // an application of an earlier test in this process runs on another platform
            if (QCoreApplication::instance() && QGuiApplication::platformName() != QLatin1String("xcb"))
                delete QCoreApplication::instance();
            saved_platform_ = qgetenv("QT_QPA_PLATFORM");
            saved_display_ = qgetenv("DISPLAY");
            qputenv("QT_QPA_PLATFORM", "xcb");
            qputenv("DISPLAY", QByteArray::fromStdString(display_->name()));
        }
        ShellTest::SetUp();
        if (!display_->running()) GTEST_SKIP() << display_->error();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1024, 768));
        home()->setGeometry(QRect(kOrigin, QSize(800, 480)));
        home()->show();
        ASSERT_TRUE(settle([this] { return exposed(home()); }));
        g_page_focus = 1;
    }
    void TearDown() override {
        ShellTest::TearDown();
        if (!display_->running()) return;
        // the application's X connection ends before its server does
        delete QCoreApplication::instance();
        display_.reset();
        qputenv("QT_QPA_PLATFORM", saved_platform_);
        qputenv("DISPLAY", saved_display_);
    }

    std::unique_ptr<shelltest::XvfbDisplay> display_;
    QByteArray saved_platform_;
    QByteArray saved_display_;
};

}  // namespace

TEST_F(XvfbPanelTest, SettingsMenuOpensOnThePanelAndItsBackButtonTouchedThroughTheBoardReturnsHome) {
    ASSERT_EQ(home()->geometry().topLeft(), kOrigin);
    QRect menuAt;
    QWidget* onTop = nullptr;
    bool missed = false;
    QTimer::singleShot(0, [&] {
        QPointer<Option> menu = g_option;
        settle([&] { return exposed(menu) && onTopAt(400, 240) == menu; });
        menuAt = menu->geometry();
        onTop = onTopAt(400, 240);
        touchThroughBoard(36, 36);  // the back button
        missed = !menu.isNull() && menu->isVisible();
        if (g_option) g_option->on_Button_back_clicked();  // a missed touch must not hang the test
    });
    home()->on_option_clicked();
    EXPECT_EQ(menuAt, QRect(kOrigin, QSize(800, 480)));
    EXPECT_TRUE(onTop && onTop->inherits("Option")) << "in front: " << (onTop ? onTop->metaObject()->className() : "none");
    EXPECT_FALSE(missed) << "the touch on the back button missed the menu";
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

namespace {
// What the X server shows while the settings menu's keypad asks for the layout code.
struct KeypadSeen {
    QWidget* onTop = nullptr;
    QWidget* active = nullptr;
    QRect at;
};

// Opens the settings menu from the home screen, asks for the layout code, looks at the
// keypad, closes it and goes back home.
KeypadSeen askForTheLayoutCode() {
    KeypadSeen seen;
    QTimer::singleShot(0, [&] {
        settle([] { return exposed(g_option); });
        QTimer::singleShot(0, [&] {
            // X maps, stacks and activates in its own time: each is waited for
            settle([] {
                return exposed(g_numberkeyboard) && onTopAt(600, 240) == g_numberkeyboard &&
                       QApplication::activeWindow() == g_numberkeyboard;
            });
            seen.onTop = onTopAt(600, 240);
            seen.active = QApplication::activeWindow();
            seen.at = g_numberkeyboard->geometry();
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_close"))->click();
        });
        g_option->on_image_layout_clicked();
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_option_clicked();
    return seen;
}
}  // namespace

TEST_F(XvfbPanelTest, KeypadOfAReopenedSettingsMenuOpensAboveItAndActive) {
    g_imagelayoutpassword = QStringLiteral("1234");
    const KeypadSeen first = askForTheLayoutCode();
    EXPECT_EQ(first.onTop, g_numberkeyboard.data());
    ASSERT_TRUE(g_option.isNull());
    // the menu is a new window now, the keypad the window it already had
    const KeypadSeen second = askForTheLayoutCode();
    EXPECT_EQ(second.onTop, g_numberkeyboard.data())
        << "in front of the keypad: " << (second.onTop ? second.onTop->metaObject()->className() : "none");
    EXPECT_EQ(second.active, g_numberkeyboard.data());
    EXPECT_EQ(second.at, QRect(kOrigin + QPoint(420, 0), QSize(380, 480)));
}

TEST_F(XvfbPanelTest, PressedTileLooksPressedOnTheDisplay) {
    QPushButton* tile = home()->findChild<QPushButton*>(QStringLiteral("machinestate"));
    ASSERT_NE(tile, nullptr);
    const QRect area(tile->mapToGlobal(QPoint(0, 0)), tile->size());
    const QImage released = displayArea(area);
    const QPoint centre(tile->width() / 2, tile->height() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, centre, tile->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(tile, &press);
    ASSERT_TRUE(tile->isDown());
    int changed = 0;
    settle([&] {
        changed = differingPixels(released, displayArea(area));
        return changed * 20 >= area.width() * area.height();
    });
    EXPECT_GE(changed * 20, area.width() * area.height()) << changed << " pixels changed";
    // let go outside the tile: no click, the machine state stays closed
    const QPoint outside(-20, -20);
    QMouseEvent release(QEvent::MouseButtonRelease, outside, tile->mapToGlobal(outside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(tile, &release);
    EXPECT_FALSE(tile->isDown());
}

// Input choice on the real X server, driven by touches of the simulated board at panel
// positions: a type button, then the input tile, then the back button.
TEST_F(XvfbPanelTest, InputChoiceTouchedThroughTheBoardPutsHdmi2InWindowZeroAndReturnsHome) {
    bool onTop = false;
    QTimer::singleShot(0, [&] {
        QPointer<InputChoose> screen = g_inputchoose.data();
        settle([&] { return exposed(screen) && onTopAt(400, 240) == screen; });
        onTop = onTopAt(400, 240) == screen;
        touchThroughBoard(210, 215);  // HDMI2
        touchThroughBoard(140, 317);  // its first tile: the input whole
        if (g_inputchoose) {
            touchThroughBoard(36, 36);
            if (g_inputchoose) g_inputchoose->on_Button_back_clicked();  // a missed touch must not hang
        }
    });
    c331_manage::update_flag = 0;
    home()->on_inputchoose_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(onTop);
    EXPECT_EQ(ram()->ramU16(vlxram::windowField(0, vlxram::kWinSource)), 3);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_TRUE(g_inputchoose.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}
