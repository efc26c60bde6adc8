// Every touch target of the shell shows that it is pressed: tiles, menu tiles, back
// buttons, mode-panel buttons and the keypad's keys.
#include <QPushButton>

#include "shell_fixture.h"
#include "support/press_look.h"
#include "ui/shell/panel_style.h"
#include "support/ram_copies.h"

using shelltest::ShellTest;

namespace {

std::string join(const QStringList& lines) { return lines.join(QLatin1Char('\n')).toStdString(); }
QStringList looks(QWidget* w) { return testkit::buttonsWithoutPressedLook(w) + testkit::buttonsNotInTheirColour(w); }

}  // namespace

TEST_F(ShellTest, EveryTouchTargetLooksDifferentWhilePressedAndShowsItsFlatColour) {
    panel_style::installPanelFont(shelltest::app());
    testkit::markSlot(ram(), 3, vlxram::kModeSaved);
    ram()->setRamU16(vlxram::kCurrentMode, 4);
    MainWindow* w = home();
    w->show();
    EXPECT_TRUE(looks(w).isEmpty()) << join(looks(w));
    w->on_modepanel_clicked();  // recall: highlighted recall button, saved and current slots
    EXPECT_TRUE(looks(w).isEmpty()) << join(looks(w));
    w->on_Button_mode_save_clicked();  // save: every slot can be pressed
    EXPECT_TRUE(looks(w).isEmpty()) << join(looks(w));

    Option menu;
    menu.show();
    EXPECT_TRUE(looks(&menu).isEmpty()) << join(looks(&menu));
    MachineState state;
    state.show();
    EXPECT_TRUE(looks(&state).isEmpty())
        << join(looks(&state));
    g_numberkeyboard->label_show(QStringLiteral("key"), QStringLiteral("**********"));
    g_numberkeyboard->show();
    EXPECT_TRUE(looks(g_numberkeyboard).isEmpty())
        << join(looks(g_numberkeyboard));
}

// The highlight of a group changes a button's look; the pressed look stays with it.
TEST_F(ShellTest, ButtonRestyledByItsGroupKeepsItsPressedLook) {
    QWidget screen;
    QPushButton* choice = panel_style::makeButton(&screen, QStringLiteral("0"), QRect(0, 0, 120, 60),
                                                  QString::fromLatin1(panel_style::kFramedOffStyle));
    panel_style::setLook(choice, QString::fromLatin1(panel_style::kFramedOnStyle));
    EXPECT_GT(testkit::pressedPixels(choice) * 20, 120 * 60);
    panel_style::setLook(choice, QString::fromLatin1(panel_style::kFramedOffStyle));
    EXPECT_GT(testkit::pressedPixels(choice) * 20, 120 * 60);
}
