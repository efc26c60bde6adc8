// Touch to changed screen on the picture-quality screen: every +/- button and, as the floor,
// the screen's own navigation (its two tabs), first with the panel alone and then with a PC
// applying a contrast change every 20 ms. The controller's threads run as on the device: the
// C331 manager on the standard simulated board, the TCP link, the change handling and its saves
// on the GUI thread (this program's main thread); sleeps take their real time. A finger thread
// hands each touch to the GUI thread as the touch watcher does; the time runs from that hand-over
// to the first paint that shows the change.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/syncupdate.h"
#include "bench_env.h"
#include "bench_net.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "protocol/control_frame.h"
#include "protocol/networkmanage.h"
#include "protocol/protocol_phy.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_print.h"
#include "ui/output/imagequality.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

namespace {

using Clock = std::chrono::steady_clock;

// The first paint of a watched widget once `changed` holds, after the touch was handed over.
class PaintWatch : public QObject {
public:
    std::atomic<bool> armed{false};
    Clock::time_point handedOver;
    double ms = -1;
    std::function<bool()> changed;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && armed && changed && changed()) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - handedOver).count();
            armed = false;
        }
        return QObject::eventFilter(o, e);
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// A PC on the TCP link: contrast 40 / 60 and its apply (register 11 bit 1), every 20 ms.
void pcApplying(int port, const std::atomic<bool>& stop) {
    const int fd = benchnet::connectTo(port);
    auto send = [fd](uint8_t group, const std::vector<uint8_t>& payload) {
        const std::vector<uint8_t> line = benchnet::lineOf(group, payload);
        if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return;
        uint8_t buf[256];
        (void)::recv(fd, buf, sizeof buf, 0);  // its answer
    };
    for (int i = 0; !stop; ++i) {
        const uint16_t contrast = i % 2 ? 40 : 60;
        send(ctl::kGroupWriteMemory, {uint8_t(vlxram::kContrast), uint8_t(vlxram::kContrast >> 8), 0, 0, 2, 0, 0, 0,
                                      uint8_t(contrast), 0});
        send(ctl::kGroupWriteRegisters, {uint8_t(ctl::kRegUpdate), 0, 0x02, 0x02});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
}

// The GUI thread's wait for the manage mutex, as its RAM writes meet it: while the manager
// re-lays the windows out (a width change every 40 ms), and with that beside `beside` (run on a
// thread of its own; the measure lasts until it returns, or `seconds` without one). The floor is
// the same measure with nothing else going on.
struct ManageWaits {
    double p50 = 0, p99 = 0, worst = 0;
    size_t samples = 0;
    int relayouts = 0;
    double besideMs = 0;
};

ManageWaits guiManageWaits(bool relayout, double seconds, const std::function<void()>& beside) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    std::atomic<bool> stop{false}, besideDone{!beside};
    std::atomic<int> relayouts{0};
    ManageWaits out;
    std::thread layouts, other;
    if (relayout)
        layouts = std::thread([&] {
            for (int i = 0; !stop; ++i) {
                {
                    ManageMutexLocker lock;
                    ram->setRamU16(vlxram::windowField(0, vlxram::kWinState), 1);
                    ram->setRamU16(vlxram::windowField(0, vlxram::kWinWidth), i % 2 ? 960 : 1920);
                    c331_manage::update_flag = 1;
                }
                ++relayouts;
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
        });
    if (beside)
        other = std::thread([&] {
            const auto t0 = Clock::now();
            beside();
            out.besideMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            besideDone = true;
        });
    std::vector<double> waits;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (beside ? !besideDone.load() : Clock::now() < end) {
        const auto t0 = Clock::now();
        { ManageMutexLocker lock; }
        waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    if (layouts.joinable()) layouts.join();
    if (other.joinable()) other.join();
    out.p50 = percentile(waits, 0.5);
    out.p99 = percentile(waits, 0.99);
    out.worst = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
    out.samples = waits.size();
    out.relayouts = relayouts;
    return out;
}

void reportManageWaits() {
    // The FPGA engine on the same board, its thread stopped: only the erase below uses its flash.
    auto* fpga = new fpga_manage;
    if (fpga->initialize() != 0 || !fpga->drv) {
        std::fprintf(stderr, "the FPGA engine did not come up: no erase measured\n");
        return;
    }
    fpga->stopThread();
    fpga_drv* drv = fpga->drv;
    const ManageWaits floor = guiManageWaits(false, 3, nullptr);
    const ManageWaits layout = guiManageWaits(true, 5, nullptr);
    bool erased = false;
    const ManageWaits erase = guiManageWaits(true, 0, [&] {
        std::lock_guard<plat::Mutex> update(drv->update_mutex);
        erased = drv->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 2, kFlashSectors / 16) == 1;
    });
    std::printf("\nGUI thread's wait for the manage mutex (every 2 ms)\n");
    std::printf("| beside | samples | re-layouts | p50 ms | p99 ms | worst ms | worst / floor worst |\n|---|---|---|---|---|---|---|\n");
    auto row = [&](const char* name, const ManageWaits& w) {
        std::printf("| %s | %zu | %d | %.2f | %.2f | %.2f | %.1f |\n", name, w.samples, w.relayouts, w.p50, w.p99,
                    w.worst, floor.worst > 0 ? w.worst / floor.worst : 0);
    };
    row("nothing (floor)", floor);
    row("re-layouts", layout);
    row(erased ? "re-layouts and a whole FPGA-flash erase" : "re-layouts and an FPGA-flash erase (failed)", erase);
    std::printf("the erase took %.0f ms\n", erase.besideMs);
}

struct Control {
    std::string name;
    QPushButton* button;
    int page;
    QWidget* watched;
    std::function<bool()> changed;  // set up just before each touch
    std::vector<double> ms;
};

}  // namespace

int main(int argc, char** argv) {
    const int touches = argc > 1 ? std::atoi(argv[1]) : 40;  // per control and phase
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    plat::setBoard(plat::Board::Sim);
    const std::string root = benchenv::tempRoot("touch");
    plat::setRoot(root);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    setC331PrintSink([](const std::string&) {});
    plat::net::setPortOffset(benchenv::portOffset(31000 + int(getpid() % 500) * 20));
    plat::sim::buildStandardBoard(plat::sim::board());
    plat::sim::board().followRealTime(true);
    QApplication app(argc, argv);
    ConfigEngine::pInstance();
    VlxRamPara* ram = VlxRamPara::pInstance();
    QObject::connect(ram, &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
    c331_manage* scaler = c331_manage::pInstance();
    networkManage::pInstance();
    const int port = networkManage::p_networkManage->port();
    const auto upBy = Clock::now() + std::chrono::seconds(30);
    while (scaler->state() != c331_manage::kStateRunning && Clock::now() < upBy)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (scaler->state() != c331_manage::kStateRunning || port <= 0) {
        std::fprintf(stderr, "the scaler did not come up\n");
        return 1;
    }

    auto* screen = new ImageQuality;
    g_imagequality = screen;
    panel_style::placeOnPanel(screen);
    screen->show();
    g_page_focus = 11;
    QStackedWidget* pages = screen->findChild<QStackedWidget*>(QStringLiteral("stackedWidget"));
    std::vector<Control> controls;
    const char* rows[][2] = {{"bright", "bright"},   {"sharpness", "sharpness"}, {"contrast", "contrast"},
                             {"saturation", "saturation"}, {"red", "red"}, {"green", "green"}, {"blue", "blue"}};
    for (const auto& r : rows) {
        const int page = std::string(r[0]) == "red" || std::string(r[0]) == "green" || std::string(r[0]) == "blue";
        QLabel* value = screen->findChild<QLabel*>(QStringLiteral("label_%1").arg(r[1]));
        // - then + keeps every value inside its range (sharpness starts at its top)
        for (const char* way : {"reduce", "add"})
            controls.push_back({std::string(r[0]) + " " + way,
                                screen->findChild<QPushButton*>(QStringLiteral("Button_%1_%2").arg(r[0], way)), page,
                                value, nullptr, {}});
    }
    Control navigation{"navigation (tab)", nullptr, -1, pages, nullptr, {}};
    QPushButton* tabs[2] = {screen->findChild<QPushButton*>(QStringLiteral("Button_quality")),
                            screen->findChild<QPushButton*>(QStringLiteral("Button_temperature"))};
    for (const Control& c : controls)
        if (!c.button || !c.watched || !tabs[0] || !tabs[1]) {
            std::fprintf(stderr, "the screen has no %s\n", c.name.c_str());
            return 1;
        }

    PaintWatch watch;
    for (Control& c : controls) c.watched->installEventFilter(&watch);
    for (QWidget* w : {pages->widget(0), pages->widget(1)}) w->installEventFilter(&watch);

    // The finger: one touch handed to the GUI thread, then a wait for its paint.
    auto touch = [&](QPushButton* b, std::function<bool()> changed) {
        const QPoint at = b->mapToGlobal(b->rect().center()) - panel_style::panelOrigin();
        watch.ms = -1;
        watch.changed = std::move(changed);
        watch.handedOver = Clock::now();
        watch.armed = true;
        QMetaObject::invokeMethod(qApp, [at] { lcd_touch::clickAt(at.x(), at.y()); }, Qt::QueuedConnection);
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (watch.armed && Clock::now() < end) std::this_thread::sleep_for(std::chrono::microseconds(200));
        watch.armed = false;
        return watch.ms;
    };
    std::map<std::string, std::vector<double>> results[2];
    std::atomic<bool> stopPc{false};
    std::thread pc;
    std::thread finger([&] {
        std::mt19937 pause(7);
        for (int phase = 0; phase < 2; ++phase) {
            if (phase == 1) pc = std::thread(pcApplying, port, std::cref(stopPc));
            for (int n = 0; n < touches; ++n) {
                for (Control& c : controls) {
                    if (pages->currentIndex() != c.page) {
                        // navigation: the other tab's page is painted
                        QWidget* page = pages->widget(c.page);
                        const double ms = touch(tabs[c.page], [pages, page] { return pages->currentWidget() == page; });
                        if (ms >= 0) results[phase][navigation.name].push_back(ms);
                    }
                    const QString before = static_cast<QLabel*>(c.watched)->text();
                    QLabel* label = static_cast<QLabel*>(c.watched);
                    QPushButton* b = c.button;
                    const double ms = touch(b, [label, before] { return label->text() != before; });
                    if (ms >= 0) results[phase][c.name].push_back(ms);
                    std::this_thread::sleep_for(std::chrono::milliseconds(20 + pause() % 40));
                }
            }
        }
        stopPc = true;
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    finger.join();
    if (pc.joinable()) pc.join();

    std::printf("| control | touches (alone / PC applying) | p50 ms | p90 ms | p90 / navigation p90 | PC applying: p50 ms | p90 ms | p90 / navigation p90 |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    const double floor0 = percentile(results[0][navigation.name], 0.9), floor1 = percentile(results[1][navigation.name], 0.9);
    auto row = [&](const std::string& name) {
        const auto& a = results[0][name];
        const auto& b = results[1][name];
        std::printf("| %s | %zu / %zu | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n", name.c_str(), a.size(), b.size(),
                    percentile(a, 0.5), percentile(a, 0.9), floor0 > 0 ? percentile(a, 0.9) / floor0 : 0,
                    percentile(b, 0.5), percentile(b, 0.9), floor1 > 0 ? percentile(b, 0.9) / floor1 : 0);
    };
    row(navigation.name);
    double worst0 = 0, worst1 = 0;
    for (const Control& c : controls) {
        row(c.name);
        worst0 = std::max(worst0, percentile(results[0][c.name], 0.9));
        worst1 = std::max(worst1, percentile(results[1][c.name], 0.9));
    }
    std::printf("\nworst control p90: %.1f ms alone, %.1f ms with the PC applying (navigation p90 %.1f / %.1f ms)\n", worst0,
                worst1, floor0, floor1);
    reportManageWaits();
    delete screen;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::fflush(nullptr);
    std::_Exit(0);  // the controller's threads are not made to end
}
