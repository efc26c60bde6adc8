#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <thread>

#include "app/syncupdate.h"
#include "shell_fixture.h"
#include "ui/shell/firmwareupdate.h"

using shelltest::ShellTest;

namespace {

QLabel* cardLabel(QWidget* screen, const char* frame, int port, const char* name) {
    QWidget* cards = screen->findChild<QWidget*>(QString::fromLatin1(frame));
    if (!cards) return nullptr;
    QWidget* card = cards->findChild<QWidget*>(QString::number(port));
    return card ? card->findChild<QLabel*>(QString::fromLatin1(name)) : nullptr;
}

void saveSlot(VlxRamPara* ram, int slot, unsigned char fill) {
    std::vector<uint8_t> image(2 + vlxram::kModeLength, fill);
    image[0] = image[1] = vlxram::kModeSaved;
    ram->writeSlot(slot, 0, image.data(), unsigned(image.size()));
}

}  // namespace

TEST_F(ShellTest, StatusScreenShowsInputSignalAndAliasNames) {
    shelltest::setTiming(ram(), 2, 1920, 1080, 60);
    shelltest::setTiming(ram(), 3, 1280, 0, 60);  // a zero means no signal
    testkit::writeFile("/data/configs/alias.json",
                       R"({"namelist":{"source":[{"id":"2","valid":"on","name":"Stage"},)"
                       R"({"id":"1","valid":"off","name":"Hidden"}]}})");
    LockWindow lock;
    EXPECT_EQ(cardLabel(&lock, "frame_input_cards", 2, "timing")->text(), QStringLiteral("1920x1080@60Hz"));
    EXPECT_EQ(cardLabel(&lock, "frame_input_cards", 3, "timing")->text(), QStringLiteral("无信号"));
    EXPECT_EQ(cardLabel(&lock, "frame_input_cards", 2, "name")->text(), QStringLiteral("Stage"));
    EXPECT_EQ(cardLabel(&lock, "frame_input_cards", 1, "name")->text(), QStringLiteral("DVI"));

    shelltest::setTiming(ram(), 3, 1280, 720, 50);
    lock.syncUpdate();
    EXPECT_EQ(cardLabel(&lock, "frame_input_cards", 3, "timing")->text(), QStringLiteral("1280x720@50Hz"));
}

TEST_F(ShellTest, TouchOnStatusScreenBringsTheHomeScreenAndDropsTheStatusScreen) {
    home();
    g_lockwindow = new LockWindow;
    g_lockwindow->show();
    QPointer<LockWindow> lock = g_lockwindow;
    g_page_focus = 0;
    lock->enterHome();
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_TRUE(g_lockwindow.isNull());
    EXPECT_TRUE(g_mainwindow->isVisible());
    lock->enterHome();  // a second touch before the deletion changes nothing
    EXPECT_EQ(g_page_focus.load(), 1);
    shelltest::flushDeletes();
    EXPECT_TRUE(lock.isNull());
}

TEST_F(ShellTest, LanguageChangeInRamRelabelsTheHomeScreen) {
    MainWindow* w = home();
    QPushButton* option = w->findChild<QPushButton*>(QStringLiteral("option"));
    EXPECT_EQ(option->text(), QStringLiteral("系统设置"));
    ram()->setRamByte(vlxram::kLanguage, 1);
    w->syncUpdate();
    EXPECT_EQ(g_language.load(), 1);
    EXPECT_EQ(option->text(), QStringLiteral("Settings"));
    ram()->setRamByte(vlxram::kLanguage, 2);
    w->syncUpdate();
    EXPECT_EQ(option->text(), QStringLiteral("Настройки"));
}

TEST_F(ShellTest, LockedPanelRefusesInputChoiceAndUserModesTiles) {
    MainWindow* w = home();
    ram()->setRamByte(vlxram::kPanelLock, 1);
    w->on_modepanel_clicked();
    w->on_custommode_clicked();
    EXPECT_TRUE(w->modePanelShown()) << "refused before anything is done";
    ram()->setRamByte(vlxram::kPanelLock, 0);
    shelltest::backOutOfNextScreen();
    w->on_custommode_clicked();
    EXPECT_FALSE(w->modePanelShown());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(ShellTest, ModePanelRecallCopiesTheSlotUnderTheManagerAndRaisesTheFlag) {
    MainWindow* w = home();
    saveSlot(ram(), 2, 0x5A);
    w->on_modepanel_clicked();
    QWidget* buttons = w->findChild<QWidget*>(QStringLiteral("frame_mode_buttons"));
    ASSERT_NE(buttons, nullptr);
    QPushButton* empty = buttons->findChild<QPushButton*>(QStringLiteral("3"));
    EXPECT_FALSE(empty->isEnabled()) << "an empty slot has nothing to recall";
    buttons->findChild<QPushButton*>(QStringLiteral("2"))->click();
    EXPECT_EQ(ram()->ramU16(vlxram::kCurrentMode), 3);
    EXPECT_EQ(ram()->ramByte(vlxram::kModeStart), 0x5A);
    EXPECT_EQ(ram()->ramByte(0xFFF), 0x5A);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    EXPECT_EQ(w->mode_recall_flag, 1);
    EXPECT_EQ(g_mode_select, 2);
    EXPECT_FALSE(w->modePanelShown());
}

TEST_F(ShellTest, ModePanelSaveAsksForTheSlotThroughTheSaveRequest) {
    MainWindow* w = home();
    w->on_modepanel_clicked();
    w->on_Button_mode_save_clicked();
    QWidget* buttons = w->findChild<QWidget*>(QStringLiteral("frame_mode_buttons"));
    buttons->findChild<QPushButton*>(QStringLiteral("4"))->click();
    EXPECT_EQ(ram()->ramU16(vlxram::kModeSaveRequest), 5);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    EXPECT_EQ(w->mode_recall_flag, 1);
}

TEST_F(ShellTest, ChangeNotificationShowsDoneMarkOnceAfterAModeRecall) {
    MainWindow* w = home();
    g_page_focus = 1;
    w->mode_recall_flag = 1;
    SyncUpdate::pInstance()->para_sync(1);
    ASSERT_FALSE(g_tip.isNull());
    EXPECT_EQ(g_tip->currentType(), int(TIP::kDone));
    EXPECT_EQ(w->mode_recall_flag, 0);
    g_tip->tip_create(TIP::kClear);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_NE(g_tip->currentType(), int(TIP::kDone));
}

namespace {
// Types `digits` on the shared keypad and presses OK once its modal run has started.
void answerKeypad(const QString& digits) {
    QTimer::singleShot(0, g_numberkeyboard, [digits] {
        for (QChar c : digits) g_numberkeyboard->pressDigit(c.digitValue());
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
}
}  // namespace

TEST_F(ShellTest, LayoutCodeOpensLayoutOnlyWhenThisMenuAskedForIt) {
    g_imagelayoutpassword = QStringLiteral("1234");
    home();  // builds the shared keypad
    Option menu;
    QList<int> opened;
    bool keypadRunOver = false;
    QObject::connect(&menu, &Option::sig_open_screen, [&](int focus) {
        opened.append(focus);
        keypadRunOver = !g_numberkeyboard->isVisible();
        shelltest::backOutOfNextScreen();
    });

    // a field of a screen over the menu takes the code's digits: not an access code
    g_numberkeyboard->label_show(QStringLiteral("X"), QStringLiteral("0"));
    answerKeypad(QStringLiteral("1234"));
    g_numberkeyboard->exec();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(opened.isEmpty());

    answerKeypad(QStringLiteral("01234"));  // the keypad drops the leading zero
    menu.on_image_layout_clicked();
    EXPECT_FALSE(menu.awaitingLayoutCode());
    QCoreApplication::sendPostedEvents();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0), 9);
    EXPECT_TRUE(keypadRunOver) << "the layout screen runs the keypad itself";

    answerKeypad(QStringLiteral("1235"));
    menu.on_image_layout_clicked();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(opened.count(), 1);
    menu.confirmString(QStringLiteral("1234"));  // a later result for another screen
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(ShellTest, KeypadHiddenByIdleReturnEndsTheMenusQuestion) {
    g_imagelayoutpassword = QStringLiteral("1234");
    home();
    Option menu;
    int opened = 0;
    QObject::connect(&menu, &Option::sig_open_screen, [&](int) {
        ++opened;
        shelltest::backOutOfNextScreen();
    });
    QTimer::singleShot(0, [] { g_numberkeyboard->hide(); });
    menu.on_image_layout_clicked();
    EXPECT_FALSE(menu.awaitingLayoutCode());
    menu.confirmString(QStringLiteral("1234"));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(opened, 0);
}

TEST_F(ShellTest, MenuClosedWhileItsKeypadRunsIsNotTouchedAfterwards) {
    g_imagelayoutpassword = QStringLiteral("1234");
    home();
    QPointer<Option> menu = new Option;
    g_option = menu;
    QTimer::singleShot(0, [] {
        g_option->on_Button_back_clicked();
        shelltest::flushDeletes();
        g_numberkeyboard->hide();
    });
    menu->on_image_layout_clicked();
    EXPECT_TRUE(menu.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(ShellTest, NoLayoutCodeConfiguredOpensLayoutDirectly) {
    g_imagelayoutpassword = QStringLiteral("No");
    Option menu;
    QList<int> opened;
    QObject::connect(&menu, &Option::sig_open_screen, [&](int focus) {
        opened.append(focus);
        shelltest::backOutOfNextScreen();
    });
    menu.on_image_layout_clicked();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0), 9);
}

TEST_F(ShellTest, MachineStateShowsPortLinksAndRereadsThemOnLinkChange) {
    uint32_t links = (1u << 0) | (1u << 1) | (1u << 16);
    shellLinks().fpgaEnginePresent = [] { return true; };
    shellLinks().fpgaPortLinks = [&] { return links; };
    MachineState state;
    EXPECT_EQ(state.shownLinks(), links);
    QWidget* ports = state.findChild<QWidget*>(QStringLiteral("frame_port_cells"));
    ASSERT_NE(ports, nullptr);
    const QString up = ports->findChild<QLabel*>(QStringLiteral("16"))->styleSheet();
    EXPECT_NE(up, ports->findChild<QLabel*>(QStringLiteral("17"))->styleSheet());
    links = 1u << 31;
    state.syncUpdate(1);
    EXPECT_NE(state.shownLinks(), links);
    state.syncUpdate(11);
    EXPECT_EQ(state.shownLinks(), links);
}

TEST_F(ShellTest, FirmwareUpdateDisplayOpensFromAWorkerThreadOnTheGuiThread) {
    MainWindow* w = home();
    std::thread worker([w] { w->update_start(); });
    worker.join();
    EXPECT_EQ(g_update_flag.load(), 1);
    QCoreApplication::processEvents();
    ASSERT_NE(w->firmwareUpdateDisplay(), nullptr);
    EXPECT_TRUE(w->firmwareUpdateDisplay()->isVisible());
    const int step = w->firmwareUpdateDisplay()->step();
    tick(w, FirmwareUpdate::kTicksPerStep);
    EXPECT_EQ(w->firmwareUpdateDisplay()->step(), (step + 1) % FirmwareUpdate::kSteps);

    std::thread ender([w] { w->update_over(); });
    ender.join();
    EXPECT_EQ(g_update_flag.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->firmwareUpdateDisplay(), nullptr);
}
