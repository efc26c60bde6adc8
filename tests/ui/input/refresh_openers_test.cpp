// The crop and EDID screens' refresh after a change the PC made, the layout's hidden hot-backup
// list, and the home and settings tiles that open the user-mode and crop screens.
#include <QComboBox>
#include <QPointer>

#include "input_fixture.h"

using inputtest::InputScreenTest;

namespace {
QLabel* edidTileInfo(EDIDset* screen) {
    QFrame* tile = screen->findChild<QFrame*>(QStringLiteral("frame_source"));
    return tile ? tile->findChild<QLabel*>(QStringLiteral("label_info")) : nullptr;
}
}  // namespace

TEST_F(InputScreenTest, CropAndEdidRefreshesShowWhatThePcWroteWithoutAPopUp) {
    // crop screen in front: the PC adds an HDMI1 crop to the table
    g_inputcut = new InputCut;
    g_page_focus = 7;
    EXPECT_EQ(child<QLabel>(g_inputcut, "HDMI1_num")->text(), QStringLiteral("(1)"));
    const unsigned e = vlxram::kCropTable;
    ram()->setRamU16(e, uint16_t(vlxram::kCropInUse | 2));
    ram()->setRamU16(e + 6, 640);
    ram()->setRamU16(e + 8, 360);
    g_tip->tip_create(TIP::kClear);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(child<QLabel>(g_inputcut, "HDMI1_num")->text(), QStringLiteral("(2)"));
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up after the crop screen's refresh";
    QPointer<InputCut> cut = g_inputcut.data();
    g_inputcut->on_Button_back_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(cut.isNull());

    // EDID screen in front: the PC sets HDMI1's EDID timing; the tile is rebuilt every time
    g_edidset = new EDIDset;
    g_page_focus = 8;
    ASSERT_EQ(g_edidset->inputIndex(), 2);
    ASSERT_EQ(edidTileInfo(g_edidset)->text(), QStringLiteral("1920x1080@60Hz"));
    const unsigned a = vlxram::kEdidPara + vlxram::kEdidParaSize * 2;
    ram()->setRamU16(a, 1280);
    ram()->setRamU16(a + 2, 720);
    ram()->setRamU16(a + 4, 30);
    g_tip->tip_create(TIP::kClear);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(edidTileInfo(g_edidset)->text(), QStringLiteral("1280x720@30Hz"));
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up after the EDID screen's refresh";
    // the refresh came before the save: the shadow now holds the PC's timing
    EXPECT_EQ(ram()->shadowU16(a), 1280);
    QPointer<EDIDset> edid = g_edidset.data();
    g_edidset->on_Button_back_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(edid.isNull());
}

TEST_F(InputScreenTest, LayoutHotBackupStoresWithoutFlagAndIgnoresIndexesOutsideTheList) {
    setBoth(vlxram::windowField(0, vlxram::kWinHotBackup), 2);
    ImageLayout screen;
    QComboBox* list = child<QComboBox>(&screen, "comboBox");
    ASSERT_EQ(list->currentIndex(), 2);
    c331_manage::update_flag = 0;
    list->setCurrentIndex(5);
    EXPECT_EQ(ram()->ramByte(vlxram::windowField(0, vlxram::kWinHotBackup)), 5);
    EXPECT_EQ(c331_manage::update_flag, 0) << "hot backup is stored without raising the flag";
    // an index the list does not hold would store 0xFF or a backup that does not exist
    for (int bad : {-1, 7, 200}) screen.on_comboBox_currentIndexChanged(bad);
    EXPECT_EQ(ram()->ramByte(vlxram::windowField(0, vlxram::kWinHotBackup)), 5);
    list->setCurrentIndex(-1);
    EXPECT_EQ(ram()->ramByte(vlxram::windowField(0, vlxram::kWinHotBackup)), 5);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(InputScreenTest, LayoutKeypadKeepsTheWindowWithinTheLedHeight) {
    setBoth(vlxram::windowField(0, vlxram::kWinHeight), 1000);
    ImageLayout screen;
    QLineEdit* y = child<QLineEdit>(&screen, "lineEdit_Y");
    typeInto(y, QStringLiteral("81"));  // 81 + 1000 > 1080
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinY)), 0);
    EXPECT_EQ(c331_manage::update_flag, 0);
    typeInto(y, QStringLiteral("80"));
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinY)), 80);
    EXPECT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;
    typeInto(child<QLineEdit>(&screen, "lineEdit_H"), QStringLiteral("1001"));
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinHeight)), 1000);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(InputScreenTest, EdidKeypadResultForAnotherScreensFieldIsNotTaken) {
    EDIDset screen;
    child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("button_tile"))->click();
    ASSERT_TRUE(screen.editorOpen());
    typeInto(child<QLineEdit>(&screen, "lineEdit_W"), QStringLiteral("1280"));
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_W")->text(), QStringLiteral("1280"));
    QLineEdit foreign;
    foreign.setObjectName(QStringLiteral("lineEdit_H"));
    const QString before = child<QLineEdit>(&screen, "lineEdit_H")->text();
    g_lineedit = &foreign;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(QStringLiteral("77"));
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_H")->text(), before);
}

TEST_F(InputScreenTest, HomeTileOpensUserModesAndTheSettingsTileTheCropScreen) {
    int seen = -1;
    QTimer::singleShot(0, [&] {
        seen = g_page_focus.load();
        ASSERT_FALSE(g_custommode.isNull());
        g_custommode->on_Button_back_clicked();
    });
    g_page_focus = 1;
    home()->on_custommode_clicked();
    shelltest::flushDeletes();
    EXPECT_EQ(seen, 4);
    EXPECT_TRUE(g_custommode.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);

    g_option = new Option;
    g_page_focus = 5;
    QTimer::singleShot(0, [&] {
        seen = g_page_focus.load();
        ASSERT_FALSE(g_inputcut.isNull());
        g_inputcut->on_Button_back_clicked();
    });
    g_option->on_input_cut_clicked();
    shelltest::flushDeletes();
    EXPECT_EQ(seen, 7);
    EXPECT_TRUE(g_inputcut.isNull());
    EXPECT_EQ(g_page_focus.load(), 5) << "the crop screen opened from the menu goes back to it";
}

TEST_F(InputScreenTest, LayoutRefreshShowsThePcsGeometryAndRebuildsTheStripOnASourceChange) {
    ImageLayout screen;
    QPointer<QFrame> strip = child<QFrame>(&screen, "image_frame");
    ASSERT_FALSE(strip.isNull());
    // written by the PC, applied and announced: the panel shows it at every refresh
    ram()->setRamU16(vlxram::windowField(0, vlxram::kWinX), 320);
    ram()->setRamU16(vlxram::windowField(0, vlxram::kWinWidth), 640);
    screen.syncUpdate();
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_X")->text(), QStringLiteral("320"));
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_W")->text(), QStringLiteral("640"));
    EXPECT_FALSE(strip.isNull()) << "no window state or source changed: the strip stays";
    // a new source of window 0: the strip is built again and names it
    ram()->setRamU16(vlxram::windowField(0, vlxram::kWinSource), 5);
    screen.syncUpdate();
    EXPECT_TRUE(strip.isNull()) << "the strip was built again";
    EXPECT_EQ(child<QLabel>(&screen, "image_source")->text(), QStringLiteral("Source:HDMI4"));
}

TEST_F(InputScreenTest, WindowAndUserModeAliasesNameTheLayoutPanelAndTheModeList) {
    testkit::writeFile("/data/configs/alias.json",
                       R"({"namelist":{"win":[{"id":"0","valid":"on","name":"Stage"},)"
                       R"({"id":"1","valid":"off","name":"Hidden"}],)"
                       R"("usermode":[{"id":"2","valid":"on","name":"Concert"}]}})");
    ImageLayout layout;
    EXPECT_EQ(child<QLabel>(&layout, "image_name")->text(), QStringLiteral("Name:Stage"));
    child<QFrame>(&layout, "image_frame")->findChild<QPushButton*>(QStringLiteral("1"))->click();
    EXPECT_EQ(child<QLabel>(&layout, "image_name")->text(), QStringLiteral("Name:image2")) << "an alias turned off";
    g_mode_select = 0;
    CustomMode modes;
    QWidget* list = modes.findChild<QWidget*>(QStringLiteral("mode_list_widget"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->findChild<QLabel*>(QStringLiteral("name2"))->text(), QStringLiteral("Concert"));
    EXPECT_NE(list->findChild<QLabel*>(QStringLiteral("name1"))->text(), QStringLiteral("Concert"));
}
