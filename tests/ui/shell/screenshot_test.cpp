// Grabs the status, home and settings screens at panel size. With VLX_SCREENSHOT_DIR set
// the pictures are saved there (scripts/screenshots.sh).
#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>

#include <atomic>
#include <string>
#include <thread>

#include "protocol/file_transfer.h"
#include "shell_fixture.h"
#include "ui/shell/panel_stack.h"
#include "ui/shell/panel_style.h"

#include "support/screen_grab.h"

using shelltest::ShellTest;

TEST_F(ShellTest, StatusHomeAndSettingsScreensGrabAtPanelSize) {
    panel_style::installPanelFont(shelltest::app());
    g_str_ip = QStringLiteral("192.168.1.199");
    shelltest::setTiming(ram(), 0, 1920, 1080, 60);
    shelltest::setTiming(ram(), 2, 3840, 2160, 30);
    shelltest::setTiming(ram(), 3, 1280, 720, 50);
    ram()->setRamU16(vlxram::kCurrentMode, 2);
    testkit::writeFile("/data/configs/alias.json",
                       R"({"namelist":{"source":[{"id":"2","valid":"on","name":"舞台相机"}]}})");

    LockWindow status;
    testkit::grabCheckAndSave(&status, "status");
    MainWindow* w = home();
    testkit::grabCheckAndSave(w, "home");
    Option menu;
    testkit::grabCheckAndSave(&menu, "settings");
    w->on_modepanel_clicked();
    testkit::grabCheckAndSave(w, "home_modes");
    MachineState state;
    testkit::grabCheckAndSave(&state, "machine_state");
}

// The PC's screenshot where the platform grabs one window at a time: the panel as a user sees
// it, each point from the window on top there (an open list over the done mark over the keypad
// over a screen over the home screen), also once the keypad is raised after the mark and the
// list: it stays below both, drawn and touched.
TEST_F(ShellTest, PcScreenshotComposesEveryVisibleWindowInItsStackingOrder) {
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    MainWindow* w = home();
    w->show();
    Option menu;
    menu.show();
    QComboBox list;
    panel_style::useListView(&list);
    list.addItems({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    panel_style::placeOnPanel(&list, QRect(300, 100, 200, 40));  // its list reaches over the keypad
    list.show();
    g_numberkeyboard->show();
    g_tip->tip_create(TIP::kDone);
    list.showPopup();
    QWidget* popup = list.view()->window();
    ASSERT_TRUE(popup->isVisible());
    g_numberkeyboard->raise();
    QCoreApplication::processEvents();
    const QRect listOverKeypad = popup->geometry().intersected(g_numberkeyboard->geometry());
    ASSERT_FALSE(listOverKeypad.isEmpty());
    EXPECT_EQ(panel_stack::inputWindowAt(listOverKeypad.center()), popup);

    std::string png;
    ASSERT_TRUE(VlxFileDeal().grabScreen(&png));
    const QImage shot = QImage::fromData(reinterpret_cast<const uchar*>(png.data()), int(png.size()), "PNG")
                            .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(800, 480));
    const QList<QWidget*> bottomFirst = {w, &menu, &list, g_numberkeyboard, g_tip, popup};
    QList<QImage> pictures;
    for (QWidget* window : bottomFirst) pictures.append(window->grab().toImage().convertToFormat(QImage::Format_RGB32));
    QStringList wrong;
    for (int y = 2; y < 480; y += 8)
        for (int x = 2; x < 800; x += 8) {
            const QPoint global = panel_style::panelOrigin() + QPoint(x, y);
            for (int i = bottomFirst.size() - 1; i >= 0; --i) {
                if (!bottomFirst[i]->geometry().contains(global)) continue;
                const QPoint local = global - bottomFirst[i]->geometry().topLeft();
                if (shot.pixel(x, y) != pictures[i].pixel(local))
                    wrong << QStringLiteral("(%1,%2) not from %3").arg(x).arg(y).arg(bottomFirst[i]->metaObject()->className());
                break;
            }
        }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << " points, first " << wrong.value(0).toStdString();
    list.hidePopup();
}

// A PC applying a setting every 0.1 s keeps change notifications queued on the GUI thread: a
// screenshot asked for from a link thread waits while they are worked through (4 s of them
// here) and is taken; only a GUI thread that delivers nothing for 2 s refuses it, at once.
TEST_F(ShellTest, PcScreenshotWaitsForABusyPanelAndIsRefusedOnlyByAStuckOne) {
    home()->show();
    std::atomic<bool> answered{false};
    for (int i = 0; i < 40; ++i)
        QMetaObject::invokeMethod(qApp, [&answered] {
            QElapsedTimer busy;
            busy.start();
            while (!answered && busy.elapsed() < 100) {}  // a notification and its save
        }, Qt::QueuedConnection);
    bool taken = false;
    std::string png;
    std::thread link([&] {
        taken = VlxFileDeal().grabScreen(&png);
        answered = true;
    });
    QElapsedTimer limit;
    limit.start();
    while (!answered && limit.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    link.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(taken);
    EXPECT_FALSE(QImage::fromData(reinterpret_cast<const uchar*>(png.data()), int(png.size()), "PNG").isNull());

    // the GUI thread takes up no event while the link waits
    QElapsedTimer stuck;
    stuck.start();
    std::thread blocked([&taken, &png] { taken = VlxFileDeal().grabScreen(&png); });
    blocked.join();
    EXPECT_FALSE(taken);
    EXPECT_LT(stuck.elapsed(), 10000);
    QCoreApplication::processEvents();
}
