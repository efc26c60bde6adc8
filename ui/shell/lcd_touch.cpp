#include "ui/shell/lcd_touch.h"

#include <fcntl.h>
#include <linux/input.h>

#include <QApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QWidget>

#include <array>
#include <cerrno>

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_stack.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

// ---------------------------------------------------------------- touch events

TouchEventSource::TouchEventSource(const char* device) : device_(device) {}

TouchEventSource::~TouchEventSource() { close(); }

bool TouchEventSource::open() {
    if (fd_ >= 0) return true;
    fd_ = plat::sys().open(device_, O_RDONLY);
    return fd_ >= 0;
}

void TouchEventSource::close() {
    if (fd_ < 0) return;
    plat::sys().close(fd_);
    fd_ = -1;
}

int TouchEventSource::readTouches() {
    if (fd_ < 0) return -1;
    std::array<input_event, 16> events;
    const ssize_t n = plat::sys().read(fd_, events.data(), sizeof events);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    if (n == 0) return -1;  // the device went away
    int touches = 0;
    const size_t count = size_t(n) / sizeof(input_event);
    for (size_t i = 0; i < count; ++i) {
        const input_event& ev = events[i];
        if (ev.type == EV_SYN) continue;
        ++touches;  // contact, release and movement all mean "in use"
        if (ev.type == EV_ABS && ev.code == ABS_X) x_ = ev.value;
        if (ev.type == EV_ABS && ev.code == ABS_Y) y_ = ev.value;
        if (ev.type == EV_KEY && ev.code == BTN_TOUCH && ev.value == 1 && onPress) onPress(x_, y_);
    }
    return touches;
}

// ---------------------------------------------------------------- screens of the idle return

namespace {
std::array<std::function<QObject*()>, size_t(IdleScreen::Count)>& screenTable() {
    static std::array<std::function<QObject*()>, size_t(IdleScreen::Count)> table;
    return table;
}

// True when the screen is gone afterwards; one that refused to close (a job of its own runs)
// keeps the menu below it.
bool backOf(IdleScreen screen) {
    if (QObject* live = lcd_touch::liveScreen(screen))
        QMetaObject::invokeMethod(live, "on_Button_back_clicked", Qt::DirectConnection);
    return lcd_touch::liveScreen(screen) == nullptr;
}

void settingsMenuBack() {
    if (g_option) g_option->on_Button_back_clicked();
}
}  // namespace

void lcd_touch::registerScreen(IdleScreen screen, std::function<QObject*()> live) {
    if (screen >= IdleScreen::Count) return;
    screenTable()[size_t(screen)] = std::move(live);
}

QObject* lcd_touch::liveScreen(IdleScreen screen) {
    if (screen >= IdleScreen::Count) return nullptr;
    const auto& live = screenTable()[size_t(screen)];
    return live ? live() : nullptr;
}

// ---------------------------------------------------------------- watcher

lcd_touch* lcd_touch::p_lcd_touch = nullptr;

lcd_touch::lcd_touch() : QObject(nullptr) {}

lcd_touch* lcd_touch::pInstance() {
    if (!p_lcd_touch) {
        p_lcd_touch = new lcd_touch;
        p_lcd_touch->startThread();
    }
    return p_lcd_touch;
}

lcd_touch* lcd_touch::instanceWithoutThread() {
    if (!p_lcd_touch) p_lcd_touch = new lcd_touch;
    return p_lcd_touch;
}

void lcd_touch::startThread() {
    try {
        thread_ = std::thread([this] {
            plat::nameThisThread("touch");
            run();
        });
        thread_.detach();
    } catch (const std::system_error& e) {
        writeLogMsg(LOG_ERROR, std::string("touch watcher thread not started: ") + e.what());
    }
}

void lcd_touch::run() {
    TouchEventSource source;
    if (plat::board() == plat::Board::Sim)
        source.onPress = [this](int x, int y) {
            QMetaObject::invokeMethod(this, [x, y] { clickAt(x, y); }, Qt::QueuedConnection);
        };
    bool reported = false;
    for (;;) {
        if (!source.isOpen() && !source.open()) {
            if (!reported) writeLogMsg(LOG_ERROR, "touch device /dev/input/event1 cannot be opened");
            reported = true;
            plat::sleepMs(1000);
            continue;
        }
        reported = false;
        const int touches = source.readTouches();
        if (touches > 0) {
            touched();
        } else if (touches < 0) {
            source.close();
            plat::sleepMs(1000);
        }
        plat::workerPace(1);
    }
}

void lcd_touch::clickAt(int x, int y) {
    const QPoint global = panel_style::panelOrigin() + QPoint(x, y);
    // an open drop-down list lies over the modal screen that opened it and takes the touch,
    // as it takes the pointer: in its rectangle it picks an item, outside it closes
    QWidget* top = QApplication::activePopupWidget();
    if (!top) top = QApplication::activeModalWidget();
    // the window a finger reaches there: one that lets touches through (the done mark) is not it
    if (!top) top = panel_stack::inputWindowAt(global);
    if (!top && g_lockwindow && g_lockwindow->isVisible()) top = g_lockwindow;
    if (!top && g_mainwindow && g_mainwindow->isVisible()) top = g_mainwindow;
    if (!top) return;
    QPoint local = top->mapFromGlobal(global);
    QPointer<QWidget> target = top->childAt(local);
    if (!target) target = top;
    local = target->mapFromGlobal(global);
    // A finger lands where it presses: the pointer moves there first. An open drop-down list
    // takes a release within the double-click time of its opening only after such a move.
    QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (!target) return;
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    if (!target) return;  // the press closed the screen under it
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

bool lcd_touch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) touched();
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------- idle return

void lcd_touch::auto_timeout_back() {
    // an update or a receiving-card job must run to its end on the screen that started it
    if (g_update_flag || g_qround_bar || g_auto_lock_time == kNeverLock) return;
    if (untouched_.load() >= kCountLimit) return;
    const uint32_t count = untouched_.fetch_add(1) + 1;
    if (count > g_back_to_mainwindow_time) returnHome();
    if (count > g_auto_lock_time && g_page_focus != 0) lockPanel();
}

void lcd_touch::returnHome() {
    if (g_numberkeyboard) g_numberkeyboard->dismiss();
    switch (g_page_focus.load()) {
    case 3:
        backOf(IdleScreen::InputChoose);
        if (liveScreen(IdleScreen::ImageLayout)) {
            backOf(IdleScreen::ImageLayout);
            settingsMenuBack();
        }
        break;
    case 4:
        backOf(IdleScreen::CustomMode);
        break;
    case 6:
        backOf(IdleScreen::OutputSet);
        settingsMenuBack();
        break;
    case 7:
        backOf(IdleScreen::InputCut);
        if (liveScreen(IdleScreen::InputChoose))
            backOf(IdleScreen::InputChoose);
        else
            settingsMenuBack();
        break;
    case 8:
        backOf(IdleScreen::EdidSet);
        if (liveScreen(IdleScreen::InputChoose)) backOf(IdleScreen::InputChoose);
        break;
    case 9:
        backOf(IdleScreen::ImageLayout);
        settingsMenuBack();
        break;
    case 10:
        backOf(IdleScreen::LinkOption);
        settingsMenuBack();
        break;
    case 11:
        backOf(IdleScreen::ImageQuality);
        settingsMenuBack();
        break;
    case 12:
        if (backOf(IdleScreen::AdvancedOption)) settingsMenuBack();
        break;
    case 24:
        if (backOf(IdleScreen::SmartMapping)) settingsMenuBack();
        break;
    default:
        break;
    }
}

void lcd_touch::lockPanel() {
    if (g_numberkeyboard) g_numberkeyboard->dismiss();
    if (!g_lockwindow) g_lockwindow = new LockWindow;
    panel_style::placeOnPanel(g_lockwindow);
    g_lockwindow->setCoveredFocus(g_page_focus.load());
    g_page_focus = 0;
    g_lockwindow->show();
    g_lockwindow->raise();
    g_lockwindow->activateWindow();
}
