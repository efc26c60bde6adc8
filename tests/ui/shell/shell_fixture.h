#pragma once
// Front-panel world for the shell screens: sim board with a private root, the parameter
// store loaded from it, a recording shell and one QApplication per test process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <ostream>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/shell.h"
#include "scaler/c331_manage.h"
#include "support/testkit.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/tip.h"

// Rectangles in test messages as x,y wxh.
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}

namespace shelltest {

inline QApplication* app() {
    static int argc = 1;
    static char name[] = "test_ui_shell";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Every command the controller hands to the shell, with a status the test chooses.
struct ShellRecord {
    std::mutex mutex;
    std::vector<std::string> commands;
    int status = 0;
    size_t count(const std::string& command) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& c : commands) n += c == command;
        return n;
    }
};

class RecordingShell : public plat::Shell {
public:
    explicit RecordingShell(std::shared_ptr<ShellRecord> record) : record_(std::move(record)) {}
    int system(const std::string& command) override {
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->commands.push_back(command);
        return record_->status;
    }
    int popen(const std::string& command, std::string* output) override {
        if (output) output->clear();
        return system(command);
    }

private:
    std::shared_ptr<ShellRecord> record_;
};

// Measured timing of an input as the video receivers publish it (a zero size: no signal).
inline void setTiming(VlxRamPara* ram, int port, uint16_t w, uint16_t h, uint8_t rate) {
    const unsigned base = vlxram::kInputTiming + vlxram::kInputTimingSize * unsigned(port);
    ram->setRamU16(base, w);
    ram->setRamU16(base + 2, h);
    ram->setRamByte(base + 4, rate);
}

// A screen opened by a tile runs modally: once its run has begun, its back button is pressed.
inline void backOutOfNextScreen() {
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QMetaObject::invokeMethod(modal, "on_Button_back_clicked", Qt::DirectConnection);
    });
}

inline void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class ShellTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        app();
        shell_ = std::make_shared<ShellRecord>();
        plat::installShell(std::make_unique<RecordingShell>(shell_));
        VlxRamPara::pInstance();
        c331_manage::update_flag = 0;
        g_page_focus = 0;
        g_language = 0;
        // the idle times and count an earlier test of this process shortened or ran up
        g_back_to_mainwindow_time = 18000;
        g_auto_lock_time = 30000;
        if (lcd_touch::p_lcd_touch) lcd_touch::p_lcd_touch->touched();
        // the ageing record of an earlier test, and its last sample's tick
        factoryage_log.clear();
        for (uint32_t* c : {&factoryage_log_diff3, &factoryage_log_diff5, &factoryage_log_diff10,
                            &factoryage_log_diff20, &factoryage_log_diffmore, &factoryage_log2_diff3,
                            &factoryage_log2_diff5, &factoryage_log2_diff10, &factoryage_log2_diff20,
                            &factoryage_log2_diffmore})
            *c = 0;
        G_factoryage_ticks = 0;
        shellLinks() = ShellLinks{};
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) w->deleteLater();
        flushDeletes();
        shellLinks() = ShellLinks{};
        // its settings file lies under this test's root
        ConfigEngine::resetInstanceForTest();
        VlxRamPara::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }
    VlxRamPara* ram() { return VlxRamPara::p_vlxrampara_config; }
    MainWindow* home() {
        if (!g_mainwindow) g_mainwindow = new MainWindow;
        return g_mainwindow;
    }
    void tick(MainWindow* w, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) w->slot_update_timer_ticks();
    }

    std::shared_ptr<ShellRecord> shell_;
};

}  // namespace shelltest
