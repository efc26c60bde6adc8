// Window layout and user-mode screens on the default RAM image (LED 1920 x 1080).
#include <QComboBox>
#include <QPointer>

#include "input_fixture.h"
#include "support/panel_touch.h"
#include "support/text_fit.h"
#include "ui/shell/panel_style.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {
unsigned win0(unsigned offset) { return vlxram::windowField(0, offset); }
}  // namespace

TEST_F(InputScreenTest, LayoutOpeningKeepsDotByDotAndAnOutOfListHotBackup) {
    setBoth(win0(vlxram::kWinOutput), 0x0100);
    setBoth(win0(vlxram::kWinDbdMode), 8);
    setBoth(win0(vlxram::kWinHotBackup), 9);  // written by the PC, beyond the list
    const std::vector<uint8_t> before = testkit::ramBytes(ram());
    ImageLayout screen;
    EXPECT_EQ(testkit::ramBytes(ram()), before);
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(child<QComboBox>(&screen, "comboBox_P2P")->currentIndex(), 2);
    screen.syncUpdate();
    EXPECT_EQ(ram()->ramByte(win0(vlxram::kWinHotBackup)), 9);
}

TEST_F(InputScreenTest, LayoutKeypadKeepsTheWindowOnTheLedScreenAndRefusesHugeNumbers) {
    setBoth(win0(vlxram::kWinWidth), 920);
    ImageLayout screen;
    QLineEdit* x = child<QLineEdit>(&screen, "lineEdit_X");
    typeInto(x, QStringLiteral("1000"));
    EXPECT_EQ(at(win0(vlxram::kWinX)), 1000);
    EXPECT_EQ(at(win0(vlxram::kWinWidth)), 920);
    EXPECT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;
    typeInto(x, QStringLiteral("1001"));
    EXPECT_EQ(x->text(), QStringLiteral("1000"));
    typeInto(child<QLineEdit>(&screen, "lineEdit_W"), QStringLiteral("921"));
    EXPECT_EQ(at(win0(vlxram::kWinWidth)), 920);
    typeInto(x, QStringLiteral("99999999999"));  // would pass the check as 0 and store 0
    EXPECT_EQ(x->text(), QStringLiteral("1000"));
    EXPECT_EQ(at(win0(vlxram::kWinX)), 1000);
    EXPECT_EQ(c331_manage::update_flag, 0);
    // a crop field over this screen, same name: the layout is not stored again
    QLineEdit foreign;
    foreign.setObjectName(QStringLiteral("lineEdit_X"));
    g_lineedit = &foreign;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(QStringLiteral("5"));
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(at(win0(vlxram::kWinX)), 1000);
}

// A window past the LED screen's edge, or a number its 16-bit field cannot hold, is refused with
// the reason and the range on screen, and the RAM keeps the window as it was.
TEST_F(InputScreenTest, LayoutPositionPastTheLedEdgeIsRefusedWithTheRangeOnScreen) {
    setBoth(win0(vlxram::kWinWidth), 920);
    ImageLayout screen;
    panel_style::placeOnPanel(&screen);
    screen.show();
    QLineEdit* x = child<QLineEdit>(&screen, "lineEdit_X");
    auto* note = child<QLabel>(&screen, "label_refused");
    ASSERT_NE(note, nullptr);
    auto refusedInEveryLanguage = [&](const char* range) {
        testkit::expectShownInEveryLanguage(note, &screen, QLatin1String(range), [&] { screen.language_changed(); });
    };
    const QString shown = x->text();
    const uint16_t stored = at(win0(vlxram::kWinX));
    ASSERT_TRUE(testkit::typeByTouch(x, QStringLiteral("1001")));
    EXPECT_EQ(x->text(), shown);
    EXPECT_EQ(at(win0(vlxram::kWinX)), stored);
    EXPECT_EQ(c331_manage::update_flag, 0);
    refusedInEveryLanguage("1000");
    EXPECT_TRUE(note->text().contains(QStringLiteral("LED")));
    ASSERT_TRUE(testkit::typeByTouch(x, QStringLiteral("1000")));
    EXPECT_FALSE(note->isVisible());
    EXPECT_EQ(at(win0(vlxram::kWinX)), 1000);
    EXPECT_EQ(c331_manage::update_flag, 1);

    // an LED screen wider than the field: the field's own bound, five digits at most
    c331_manage::update_flag = 0;
    setBoth(vlxram::kLedWidth, 60000);
    ASSERT_TRUE(testkit::typeByTouch(x, QStringLiteral("327680")));
    EXPECT_EQ(x->text(), QStringLiteral("1000"));
    EXPECT_EQ(at(win0(vlxram::kWinX)), 1000);
    EXPECT_EQ(c331_manage::update_flag, 0);
    refusedInEveryLanguage("32767");
    EXPECT_FALSE(note->text().contains(QStringLiteral("LED")));
}

TEST_F(InputScreenTest, LayoutPanelWritesStateMirrorAndPointToPointOfItsWindow) {
    ImageLayout screen;
    QWidget* strip = child<QFrame>(&screen, "image_frame");
    strip->findChild<QPushButton*>(QStringLiteral("2"))->click();
    EXPECT_EQ(screen.imageIndex(), 2);
    EXPECT_EQ(child<QLabel>(&screen, "image_state")->text(), QStringLiteral("Image state:OFF"));
    child<QPushButton>(&screen, "button_state")->click();
    EXPECT_EQ(ram()->ramByte(vlxram::windowField(2, vlxram::kWinState)), 1);
    EXPECT_EQ(c331_manage::update_flag, 1);
    // the strip is rebuilt on the state change; its frame keeps marking window 3
    screen.syncUpdate();
    EXPECT_EQ(child<QFrame>(&screen, "select_frame")->geometry(), QRect(17 + 260, 0, 126, 96));

    c331_manage::update_flag = 0;
    screen.on_mirror3_clicked();
    EXPECT_EQ(ram()->ramByte(vlxram::windowField(2, vlxram::kWinAttributes)), 2);
    EXPECT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;
    screen.on_mirror3_clicked();
    EXPECT_EQ(c331_manage::update_flag, 0) << "the mode already set";

    child<QComboBox>(&screen, "comboBox_P2P")->setCurrentIndex(3);
    EXPECT_EQ(at(vlxram::windowField(2, vlxram::kWinOutput)) & 0x100, 0x100);
    EXPECT_EQ(at(vlxram::windowField(2, vlxram::kWinDbdMode)), 9);
    EXPECT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;
    child<QComboBox>(&screen, "comboBox_P2P")->setCurrentIndex(0);
    EXPECT_EQ(at(vlxram::windowField(2, vlxram::kWinOutput)) & 0x100, 0);
    EXPECT_EQ(at(vlxram::windowField(2, vlxram::kWinDbdMode)), 9);
    EXPECT_EQ(c331_manage::update_flag, 1);
}

TEST_F(InputScreenTest, UserModesUseCopiesTheSlotAndDeleteRemovesItsFilesWithoutFlag) {
    VlxRamPara* p = ram();
    testkit::saveLiveMode(p, 4, {{vlxram::kLedWidth, 3840}, {vlxram::kBrightness, 80}});
    setBoth(vlxram::kCurrentMode, 5);
    CustomMode screen;
    EXPECT_EQ(g_mode_select, 4);
    EXPECT_EQ(child<QLabel>(&screen, "label_ID")->text(), QStringLiteral("ID:5"));
    EXPECT_TRUE(child<QLabel>(&screen, "label_LED")->text().startsWith(QStringLiteral("LED size:3840x")));
    EXPECT_EQ(child<QLabel>(&screen, "using_mark")->text(), QStringLiteral("Using"));

    child<QPushButton>(&screen, "Button_use")->click();
    EXPECT_EQ(at(vlxram::kCurrentMode), 5);
    EXPECT_EQ(at(vlxram::kLedWidth), 3840);
    EXPECT_EQ(at(vlxram::kBrightness), 80);
    EXPECT_EQ(c331_manage::update_flag, 1);

    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "Button_delete")->click();
    EXPECT_EQ(shell_->count("rm  -rf  /data/modes/custom_mode5"), 1u);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(4), 0);
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(at(vlxram::kCurrentMode), 5);
    EXPECT_TRUE(child<QLabel>(&screen, "label_blank")->isVisibleTo(&screen));
    EXPECT_EQ(screen.findChild<QWidget*>(QStringLiteral("detail_widget")), nullptr);

    // an empty slot: nothing is recalled
    child<QPushButton>(&screen, "Button_use")->click();
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(InputScreenTest, UserModeSubtitlePreviewKeepsWholeColoursAndNamesTheScrollingEffect) {
    VlxRamPara* p = ram();
    // window 1 on, showing crop entry 2 (an HDMI2 crop)
    testkit::saveLiveMode(p, 2,
                          {{vlxram::kOsdEnable, 1},
                           {vlxram::windowField(1, vlxram::kWinState), 1},
                           {vlxram::windowField(1, vlxram::kWinSource), 0x8002},
                           {vlxram::kCropTable + 20, 0x8003}});
    testkit::writeFile("/data/modes/MO03.json",
                       R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on",)"
                       R"("pos":{"x":1,"y":2,"w":3,"h":4},"act":{"effect":1,"speed":5,"staytime":0},)"
                       R"("backpara":{"enable":"on","color":"FF0000"},)"
                       R"("fontpara":{"startx":6,"starty":7,"fontw":32,"fonth":32,"wordspace":1,"verticalspace":2,)"
                       R"("color":"0x00FF00"},"texts":["a\nb\nc\nd\ne"]}]})");
    g_mode_select = 0;
    CustomMode screen;
    screen.findChild<QWidget*>(QStringLiteral("mode_list_widget"))->findChild<QPushButton*>(QStringLiteral("2"))->click();
    QLabel* preview = screen.findChild<QLabel*>(QStringLiteral("subtitle_preview"));
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->styleSheet(), QStringLiteral("background-color:#FF0000;color:#00FF00;"));
    EXPECT_EQ(preview->text(), QStringLiteral("a\nb\nc"));
    QLabel* settings = screen.findChild<QLabel*>(QStringLiteral("subtitle_settings"));
    EXPECT_TRUE(settings->text().endsWith(QStringLiteral("speed:5,effect:move up"))) << settings->text().toStdString();
    EXPECT_EQ(screen.findChild<QLabel*>(QStringLiteral("window_name1"))->text(), QStringLiteral("HDMI2_Crop3 ON"));
}

TEST_F(InputScreenTest, UserModeRefreshFollowsTheCurrentModeWithTheDoneMark) {
    g_custommode = new CustomMode;
    g_page_focus = 4;
    EXPECT_TRUE(g_custommode->findChild<QLabel*>(QStringLiteral("using_mark"))->text().isEmpty());
    ram()->setRamU16(vlxram::kCurrentMode, 2);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(g_custommode->findChild<QLabel*>(QStringLiteral("using_mark"))->geometry().y(), 92);
    EXPECT_EQ(g_tip->currentType(), TIP::kDone);
    QPointer<CustomMode> screen = g_custommode.data();
    g_custommode->on_Button_back_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(screen.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

// The in-use mark grows to the left with a longer word; the slot's number stays uncovered.
TEST_F(InputScreenTest, UserModesInUseMarkLeavesTheSlotNumberUncoveredInEveryLanguage) {
    panel_style::installPanelFont(shelltest::app());
    setBoth(vlxram::kCurrentMode, 3);
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        CustomMode screen;
        QLabel* mark = child<QLabel>(&screen, "using_mark");
        QLabel* number = child<QLabel>(&screen, "number2");
        ASSERT_FALSE(mark->text().isEmpty());
        EXPECT_TRUE(mark->geometry().intersects(screen.findChild<QWidget*>(QStringLiteral("entry2"))->geometry()));
        EXPECT_FALSE(mark->geometry().intersects(number->geometry()))
            << "language " << lang << ": mark " << mark->geometry().left() << " number ends " << number->geometry().right();
    }
}
