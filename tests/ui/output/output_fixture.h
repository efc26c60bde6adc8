#pragma once
// The output, picture and link screens over the shell's world: the parameter store, a
// recording shell, the shared keypad and pop-up, and a settings menu to return to.
#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <memory>

#include "app/syncupdate.h"
#include "core/global.h"
#include "ui/output/output_links.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "qstring_print.h"
#include "scaler/c331_wiring.h"
#include "ui/shell/shell_fixture.h"

namespace outputtest {

class OutputTest : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        home();  // the shared keypad and pop-up
        g_option = new Option;
        outputLinks() = OutputLinks{};
        g_set_led_para = 0;
        g_set_led_setup = 0;
        g_usb_grade = 0;
        std::memset(g_send_para, 0, sizeof g_send_para);
        // nothing to apply: the shadow is the RAM as last saved
        ram()->shadowTakesRam();
    }
    void TearDown() override {
        outputLinks() = OutputLinks{};
        ShellTest::TearDown();
    }
    // What the change handling does once the scaler took a change: the shadow follows.
    void shadowFollows() { ram()->shadowTakesRam(); }
    static void bothFpgasRunning(bool running) {
        shellLinks().fpgaRunning = [running] { return running; };
    }
};

// The simulated C331 behind the screens: its manager brought up by startScaler() and then
// stepped by the test, each pass taking the RAM's changes to the chip.
class ScalerScreenTest : public OutputTest {
protected:
    void startScaler() {
        chip = std::make_shared<plat::sim::C331Model>();
        plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
        m = c331_manage::createForTest();
        for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
        ASSERT_EQ(m->state(), c331_manage::kStateRunning);
        shadowFollows();
    }
    void TearDown() override {
        c331_manage::resetInstanceForTest();
        chip.reset();
        OutputTest::TearDown();
    }
    std::shared_ptr<plat::sim::C331Model> chip;
    c331_manage* m = nullptr;
};

// Types `digits` on the shared keypad and presses OK once its modal run has started.
inline void answerKeypad(const QString& digits) {
    QTimer::singleShot(0, g_numberkeyboard, [digits] {
        for (QChar c : digits) g_numberkeyboard->pressDigit(c.digitValue());
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
}

// Deletes every digit shown and presses OK: an empty answer.
inline void answerKeypadEmpty() {
    QTimer::singleShot(0, g_numberkeyboard, [] {
        g_numberkeyboard->pressDigit(1);
        g_numberkeyboard->pressDelete();
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
}

}  // namespace outputtest

#include <QApplication>
#include <QMouseEvent>

namespace outputtest {
// A finger on a widget (a disabled one takes no press).
inline void touch(QWidget* w) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}
}  // namespace outputtest
