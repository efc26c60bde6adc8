#pragma once
// The system screens on the shell's test world, with the FPGA engine played by the test:
// a job runner that takes jobs, FPGA registers in an array, and the engine's progress
// emitted from a thread of its own as the FPGA thread does.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <cstring>
#include <thread>

#include "app/engine_links.h"
#include "app/syncupdate.h"
#include "core/md5.h"
#include "platform/platform.h"
#include "protocol/file_transfer.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_fixture.h"
#include "ui/system/advancedoption.h"
#include "ui/system/card_job.h"
#include "ui/system/smartmapping.h"
#include "ui/system/system_links.h"

namespace systemtest {

template <class T = QPushButton>
T* child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

inline int pageOf(QWidget* screen) { return child<QStackedWidget>(screen, "stackedWidget")->currentIndex(); }
inline QString imageOf(QWidget* w, const char* name) { return panel_style::imageOf(child<QWidget>(w, name)); }

class SystemTest : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        std::memset(g_send_para, 0, sizeof g_send_para);
        std::memset(line_type, 0, sizeof line_type);
        g_kvfile_name.clear();
        systemLinks() = SystemLinks{};
        std::memset(regs, 0, sizeof regs);
        shellLinks().fpgaEnginePresent = [] { return true; };
        shellLinks().fpgaRegister = [this](uint8_t reg, uint8_t fpga) { return regs[fpga & 1][reg]; };
        systemLinks().fpgaWriteRegister = [this](uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga) {
            regs[fpga & 1][reg] = uint8_t((regs[fpga & 1][reg] & ~mask) | (value & mask));
        };
        systemLinks().cardJobRunner = [this] { return runner; };
        ram()->shadowTakesRam();
        // saves and announcements reach the refresh as in the application
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                         Qt::UniqueConnection);
        g_auto_lock_time = 30000;
        g_back_to_mainwindow_time = 18000;
        home();  // the keypad and the pop-up
    }
    void TearDown() override {
        g_vlx_file_deal_para.cardFileChanged = nullptr;
        g_advancedoption = nullptr;
        g_smartmapping = nullptr;
        systemLinks() = SystemLinks{};
        ShellTest::TearDown();
    }

    // The engine ends its job: clears the operation and step, then reports 100 from its thread.
    template <class Screen>
    void finishJob(Screen* screen) {
        __atomic_store_n(&g_send_para[1], uint8_t(0), __ATOMIC_RELEASE);
        __atomic_store_n(&g_send_para[0], uint8_t(0), __ATOMIC_RELEASE);
        std::thread engine([screen] { emit screen->sig_qround_bar_update(100); });
        engine.join();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    // The C331 manager takes the raised flag: applies it and announces the code.
    void managerPass() {
        const int flag = c331_manage::update_flag;
        c331_manage::update_flag = 0;
        if (flag) SyncUpdate::pInstance()->para_sync(flag);
    }
    // The PC stores (content given) or deletes a receiving-card file ("KVFX" recovery,
    // "KVFR" scan) over the protocol, on a link thread as the transports do; the screens'
    // part then runs on this (GUI) thread.
    static void pcCardFile(const char* code, const char* name, const char* content = nullptr) {
        std::thread link([&] {
            FileTransfer t;
            auto step = [&t](uint8_t group, const std::vector<uint8_t>& payload) {
                std::vector<uint8_t> out;
                t.handle(group, payload.data(), payload.size(), out);
                EXPECT_EQ(out.empty() ? -1 : int(out[0]), 0) << "group " << int(group);
            };
            std::vector<uint8_t> head(code, code + 4);
            head.insert(head.end(), name, name + 4);
            if (!content) return step(fxfer::kGroupDelete, head);
            const uint32_t n = uint32_t(std::strlen(content));
            for (int k = 0; k < 4; ++k) head.push_back(uint8_t(n >> (8 * k)));
            step(fxfer::kGroupWriteDefinedStart, head);
            std::vector<uint8_t> block(4, 0);
            block.insert(block.end(), content, content + n);
            step(fxfer::kGroupWriteBlock, block);
            MD5 digest(content, n);
            step(fxfer::kGroupWriteEnd, std::vector<uint8_t>(digest.digest(), digest.digest() + 16));
        });
        link.join();
        QCoreApplication::sendPostedEvents();
    }
    void enableWindows(std::initializer_list<int> windows) {
        for (int w : windows) ram()->setRamU16(vlxram::windowField(w, vlxram::kWinState), 1);
        ram()->shadowTakesRam();
    }

    uint8_t regs[2][256];
    bool runner = true;
};

}  // namespace systemtest
