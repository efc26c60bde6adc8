// Grabs the status, home and settings screens at panel size. With VLX_SCREENSHOT_DIR set
// the pictures are saved there (scripts/screenshots.sh).
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <cstdlib>

#include "shell_fixture.h"
#include "ui/shell/panel_style.h"

using shelltest::ShellTest;

namespace {

// A grab must be the panel's size and show more than the background.
void checkAndSave(QWidget* screen, const char* name) {
    screen->show();
    QCoreApplication::processEvents();
    const QImage image = screen->grab().toImage();
    EXPECT_EQ(image.size(), QSize(800, 480)) << name;
    const QRgb background = image.pixel(799, 479);
    int other = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) other += image.pixel(x, y) != background;
    EXPECT_GT(other, 500) << name << " shows nothing but its background";
    if (const char* dir = std::getenv("VLX_SCREENSHOT_DIR")) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1.png").arg(name)));
    }
}

}  // namespace

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
    checkAndSave(&status, "status");
    MainWindow* w = home();
    checkAndSave(w, "home");
    Option menu;
    checkAndSave(&menu, "settings");
    w->on_modepanel_clicked();
    checkAndSave(w, "home_modes");
    MachineState state;
    checkAndSave(&state, "machine_state");
}
