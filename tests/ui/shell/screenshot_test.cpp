// Grabs the status, home and settings screens at panel size. With VLX_SCREENSHOT_DIR set
// the pictures are saved there (scripts/screenshots.sh).
#include "shell_fixture.h"
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
