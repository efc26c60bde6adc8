// Input choice, crop and EDID screens on the default RAM image.
#include <QImage>
#include <QPointer>

#include <algorithm>
#include <cmath>

#include "input_fixture.h"
#include "support/saved_ram_file.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {

QFrame* tileArea(QWidget* screen) { return screen->findChild<QFrame*>(QStringLiteral("frame")); }
QWidget* tile(QWidget* screen, int t) {
    QFrame* area = tileArea(screen);
    if (!area) return nullptr;
    QPushButton* b = area->findChild<QPushButton*>(QString::number(t));
    return b ? b->parentWidget() : nullptr;
}
QLabel* stripName(QWidget* screen, int window) {
    QWidget* strip = screen->findChild<QWidget*>(QStringLiteral("frame_strip"));
    QWidget* t = strip ? strip->findChild<QWidget*>(QStringLiteral("tile%1").arg(window)) : nullptr;
    return t ? t->findChild<QLabel*>(QStringLiteral("label_name")) : nullptr;
}

}  // namespace

TEST_F(InputScreenTest, InputChoiceMarksAndNamesTheWindowsCropByItsOwnNumber) {
    // HDMI1 crops 1 and 2, crop 1 deleted, an HDMI2 crop takes the freed entry 0, a new
    // HDMI1 crop takes number 1 at entry 2: table order and number order now differ.
    CROP_PARA rect;
    rect.width = 640;
    rect.height = 360;
    VlxRamPara::VlxAddNewCrop(2, &rect);
    VlxRamPara::VlxAddNewCrop(2, &rect);
    VlxRamPara::VlxCropSourceInit();
    VlxRamPara::VlxDeleteCrop(2, 1);
    VlxRamPara::VlxCropSourceInit();
    VlxRamPara::VlxAddNewCrop(3, &rect);
    VlxRamPara::VlxCropSourceInit();
    VlxRamPara::VlxAddNewCrop(2, &rect);
    VlxRamPara::VlxCropSourceInit();
    ASSERT_EQ(at(vlxram::kCropTable + 20), 0x8002) << "crop 1 of HDMI1 at entry 2";
    settle();

    InputChoose screen;
    VlxRamPara::VlxSetImageSource(1, 2, 0);  // the first HDMI1 crop by number: entry 2
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinSource)), 0x8002);
    screen.syncUpdate(1);
    EXPECT_EQ(stripName(&screen, 0)->text(), QStringLiteral("HDMI1_Crop1"));
    ASSERT_NE(tile(&screen, 1), nullptr);
    EXPECT_NE(tile(&screen, 1)->findChild<QLabel*>(QStringLiteral("label_using")), nullptr) << "badge on crop 1";
    EXPECT_EQ(tile(&screen, 2)->findChild<QLabel*>(QStringLiteral("label_using")), nullptr);
    EXPECT_EQ(tile(&screen, 1)->findChild<QLabel*>(QStringLiteral("label_name"))->text(),
              QStringLiteral("HDMI1_crop1"));
}

TEST_F(InputScreenTest, InputChoiceRefreshSkipsWindowsWithoutATile) {
    setBoth(vlxram::windowField(3, vlxram::kWinState), 1);
    setBoth(vlxram::windowField(3, vlxram::kWinSource), 4);
    InputChoose screen;
    ASSERT_NE(stripName(&screen, 3), nullptr);
    ram()->setRamU16(vlxram::windowField(3, vlxram::kWinState), 0);  // switched off by the PC
    screen.syncUpdate(1);
    EXPECT_EQ(stripName(&screen, 3), nullptr) << "the strip lists window 3 no more";
    // the shadow still holds the old words: the source change of the tile-less window is skipped
    ram()->setRamU16(vlxram::windowField(3, vlxram::kWinSource), 5);
    ram()->setRamU16(vlxram::windowField(5, vlxram::kWinSource), 0x8000 | 39);
    screen.syncUpdate(1);
    EXPECT_EQ(stripName(&screen, 3), nullptr);
    EXPECT_EQ(screen.currentWindow(), 0);
}

TEST_F(InputScreenTest, InputChoiceShowsASignalFoundAgainWithTheSameTiming) {
    // the shadow takes input timing only with a save: it still holds the first timing
    shelltest::setTiming(ram(), 2, 1920, 1080, 60);
    settle();
    InputChoose screen;
    QLabel* info = tile(&screen, 0)->findChild<QLabel*>(QStringLiteral("label_info"));
    EXPECT_EQ(info->text(), QStringLiteral("1920x1080@60Hz"));
    EXPECT_EQ(panel_style::imageOf(child<QLabel>(&screen, "label_HDMI1")), QStringLiteral(":/png/HDMI13_lv.png"));
    shelltest::setTiming(ram(), 2, 0, 0, 0);  // cable pulled
    screen.syncUpdate(1);
    EXPECT_EQ(tile(&screen, 0)->findChild<QLabel*>(QStringLiteral("label_info"))->text(), QStringLiteral("No signal"));
    EXPECT_EQ(panel_style::imageOf(child<QLabel>(&screen, "label_HDMI1")), QStringLiteral(":/png/HDMI13.png"));
    shelltest::setTiming(ram(), 2, 1920, 1080, 60);  // plugged back, same timing as the shadow
    screen.syncUpdate(1);
    EXPECT_EQ(tile(&screen, 0)->findChild<QLabel*>(QStringLiteral("label_info"))->text(),
              QStringLiteral("1920x1080@60Hz"));
    EXPECT_EQ(panel_style::imageOf(child<QLabel>(&screen, "label_HDMI1")), QStringLiteral(":/png/HDMI13_lv.png"));
}

TEST_F(InputScreenTest, InputChoiceTileTapSetsTheSourceUnderTheManagerAndPagesStopAtTheEnd) {
    for (int i = 0; i < 6; ++i) putCrop(i, 2, i + 1);
    setBoth(vlxram::kCurrentMode, 3);
    InputChoose screen;
    EXPECT_EQ(child<QLabel>(&screen, "label_HDMI1_num")->text(), QStringLiteral("(7)"));
    EXPECT_EQ(tileArea(&screen)->findChild<QPushButton*>(QStringLiteral("button_previous")), nullptr);
    QPushButton* next = tileArea(&screen)->findChild<QPushButton*>(QStringLiteral("button_next"));
    ASSERT_NE(next, nullptr);
    next->click();
    EXPECT_EQ(screen.currentPage(), 1);
    EXPECT_EQ(tileArea(&screen)->findChildren<QFrame*>(QStringLiteral("source_frame")).size(), 1);
    EXPECT_EQ(tileArea(&screen)->findChild<QPushButton*>(QStringLiteral("button_next")), nullptr);

    c331_manage::update_flag = 0;
    tileArea(&screen)->findChild<QPushButton*>(QStringLiteral("0"))->click();  // crop 6 on page 2
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinSource)), 0x8000 | 5);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(at(vlxram::kCurrentMode), 0) << "the settings are no longer the recalled mode";
    EXPECT_EQ(stripName(&screen, 0)->text(), QStringLiteral("HDMI1_Crop6"));
    EXPECT_EQ(g_tip->currentType(), 0);
}

TEST_F(InputScreenTest, CropEditorTitlesANewCropWithTheNumberItTakes) {
    putCrop(0, 2, 2);  // crop 1 was deleted: the next HDMI1 crop takes number 1
    InputCut screen;
    child<QPushButton>(&screen, "button_add")->click();
    EXPECT_EQ(child<QLabel>(&screen, "label_change_source")->text(), QStringLiteral("Name:HDMI1-Crop-1"));
    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "button_ok")->click();
    EXPECT_EQ(at(vlxram::kCropTable + 10), 0x8002) << "number 1 at the first free entry";
    EXPECT_EQ(at(vlxram::kCropTable + 16), 1920);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(child<QLabel>(&screen, "HDMI1_num")->text(), QStringLiteral("(3)"));
    EXPECT_FALSE(screen.editorOpen());
}

TEST_F(InputScreenTest, CropEditorStoresOnlyItsOwnFieldsAndRefusesAWidthPastTheInputPicture) {
    putCrop(0, 2, 1);
    putCrop(1, 2, 2);
    InputCut screen;
    child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("2"))->click();
    ASSERT_TRUE(screen.editorOpen());
    typeInto(child<QLineEdit>(&screen, "lineEdit_X"), QStringLiteral("100"));
    EXPECT_EQ(g_numberkeyboard->title(), QStringLiteral("X"));
    typeInto(child<QLineEdit>(&screen, "lineEdit_W"), QStringLiteral("40000"));
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_W")->text(), QStringLiteral("640"));
    EXPECT_TRUE(child<QLabel>(&screen, "label_refused")->text().contains(QStringLiteral("3995")));
    // a result asked for by another screen's field of the same name is not taken
    QLineEdit foreign;
    foreign.setObjectName(QStringLiteral("lineEdit_Y"));
    g_lineedit = &foreign;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(QStringLiteral("77"));
    EXPECT_EQ(child<QLineEdit>(&screen, "lineEdit_Y")->text(), QStringLiteral("0"));
    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "button_ok")->click();
    const unsigned e = vlxram::kCropTable + 10;
    EXPECT_EQ(at(e), 0x8102) << "the key word stays";
    EXPECT_EQ(at(e + 2), 100);
    EXPECT_EQ(at(e + 6), 640) << "40000 was refused, not stored as 0";
    EXPECT_EQ(c331_manage::update_flag, 1);
}

TEST_F(InputScreenTest, DeletingACropAWindowShowsGivesThatWindowTheWholeInput) {
    putCrop(0, 3, 1);
    setBoth(vlxram::windowField(1, vlxram::kWinSource), 0x8000);
    InputCut screen;
    child<QPushButton>(&screen, "1")->click();  // HDMI2
    EXPECT_EQ(screen.currentType(), 3);
    child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("1"))->click();
    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "button_delete")->click();
    EXPECT_EQ(at(vlxram::kCropTable), 0);
    EXPECT_EQ(at(vlxram::windowField(1, vlxram::kWinSource)), 3) << "window 1 shows HDMI2 whole";
    EXPECT_EQ(c331_manage::update_flag, 1);
    // the freed entry, reused by another input's crop, does not reach window 1
    CROP_PARA rect;
    VlxRamPara::VlxAddNewCrop(4, &rect);
    EXPECT_EQ(at(vlxram::windowField(1, vlxram::kWinSource)), 3);
}

TEST_F(InputScreenTest, CropTableFullStoresNothing) {
    for (int i = 0; i < vlxram::kCropEntries; ++i) putCrop(i, i % 6, i / 6 + 1);
    const std::vector<uint8_t> before = testkit::ramBytes(ram(), vlxram::kCropTable, 400);
    InputCut screen;
    child<QPushButton>(&screen, "button_add")->click();
    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "button_ok")->click();
    EXPECT_EQ(testkit::ramBytes(ram(), vlxram::kCropTable, 400), before);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(InputScreenTest, EdidEditorStoresWidthHeightAndToggledRate) {
    EDIDset screen;
    QWidget* tileFrame = child<QFrame>(&screen, "frame_source");
    EXPECT_EQ(tileFrame->findChild<QLabel*>(QStringLiteral("label_info"))->text(), QStringLiteral("1920x1080@60Hz"));
    child<QPushButton>(&screen, "2")->click();  // HDMI3
    EXPECT_EQ(screen.inputIndex(), 4);
    child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("button_tile"))->click();
    ASSERT_TRUE(screen.editorOpen());
    typeInto(child<QLineEdit>(&screen, "lineEdit_W"), QStringLiteral("3840"));
    typeInto(child<QLineEdit>(&screen, "lineEdit_H"), QStringLiteral("2160"));
    screen.on_Button_right_clicked();
    EXPECT_EQ(child<QLabel>(&screen, "label_rate")->text(), QStringLiteral("30"));
    c331_manage::update_flag = 0;
    child<QPushButton>(&screen, "button_save")->click();
    const unsigned a = vlxram::kEdidPara + 6 * 4;
    EXPECT_EQ(at(a), 3840);
    EXPECT_EQ(at(a + 2), 2160);
    EXPECT_EQ(at(a + 4), 30);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(child<QFrame>(&screen, "frame_source")->findChild<QLabel*>(QStringLiteral("label_info"))->text(),
              QStringLiteral("3840x2160@30Hz"));

    // a rate the typed size cannot have is refused at Save with the reason, the editor stays open;
    // cancel and delete store nothing
    child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("button_tile"))->click();
    typeInto(child<QLineEdit>(&screen, "lineEdit_H"), QStringLiteral("4095"));
    EXPECT_FALSE(child<QLabel>(&screen, "label_refused")->isVisibleTo(&screen));
    screen.on_Button_right_clicked();  // 30 -> 60
    child<QPushButton>(&screen, "button_save")->click();
    EXPECT_EQ(at(a), 3840);
    EXPECT_TRUE(screen.editorOpen());
    EXPECT_EQ(child<QLabel>(&screen, "label_refused")->text(),
              QStringLiteral("Refused: this input cannot offer 3840x4095@60Hz"));
    c331_manage::update_flag = 0;
    for (const char* name : {"button_cancel", "button_delete"}) {
        child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("button_tile"))->click();
        child<QLineEdit>(&screen, "lineEdit_W")->setText(QStringLiteral("1234"));
        child<QPushButton>(&screen, name)->click();
    }
    EXPECT_EQ(at(a), 3840);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

// layout -> input choice -> crop, each run modally over the one below, unwound by back
// buttons and then by the idle return.
TEST_F(InputScreenTest, ChainFromLayoutUnwindsByBackButtonsAndByTheIdleReturn) {
    g_option = new Option;
    g_page_focus = 5;
    QList<int> focus;
    QTimer::singleShot(0, [&] {
        focus.append(g_page_focus);  // layout
        QTimer::singleShot(0, [&] {
            focus.append(g_page_focus);  // input choice
            QTimer::singleShot(0, [&] {
                focus.append(g_page_focus);  // crop
                g_inputcut->on_Button_back_clicked();
                focus.append(g_page_focus);
                g_inputchoose->on_Button_back_clicked();
                focus.append(g_page_focus);
                g_imagelayout->on_Button_back_clicked();
            });
            g_inputchoose->findChild<QPushButton*>(QStringLiteral("button_inputcut"))->click();
        });
        g_imagelayout->on_Button_source_select_clicked();
    });
    g_option->on_image_layout_clicked();
    shelltest::flushDeletes();
    EXPECT_EQ(focus, (QList<int>{9, 3, 7, 3, 9}));
    EXPECT_EQ(g_page_focus.load(), 5);
    EXPECT_TRUE(g_imagelayout.isNull());
    EXPECT_TRUE(g_inputchoose.isNull());
    EXPECT_TRUE(g_inputcut.isNull());

    // the same chain left alone: the idle return closes it from the inside out
    lcd_touch* touch = lcd_touch::instanceWithoutThread();
    touch->touched();
    g_back_to_mainwindow_time = 10;
    g_auto_lock_time = 100000;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&] {
                ASSERT_EQ(g_page_focus.load(), 8);
                for (int i = 0; i < 11; ++i) touch->auto_timeout_back();
                // back in the layout screen's run: the next tick closes it and the menu
                QTimer::singleShot(0, [&] {
                    focus.append(g_page_focus);
                    focus.append(g_inputchoose.isNull() && g_edidset.isNull() ? 1 : 0);
                    touch->auto_timeout_back();
                });
            });
            g_inputchoose->findChild<QPushButton*>(QStringLiteral("button_edid"))->click();
        });
        g_imagelayout->on_Button_source_select_clicked();
    });
    focus.clear();
    QPointer<Option> menu = g_option.data();
    menu->on_image_layout_clicked();
    shelltest::flushDeletes();
    EXPECT_EQ(focus, (QList<int>{9, 1})) << "the first tick unwinds to the layout screen";
    EXPECT_TRUE(g_imagelayout.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(InputScreenTest, ChangeNotificationRefreshesInputChoiceWithoutPopUpAndSavesTheRam) {
    testkit::writeFile("/data/ram_device_info", std::string(vlxram::kRamFileSize, '\0'));
    putCrop(0, 2, 1);
    g_inputchoose = new InputChoose;
    g_page_focus = 3;
    tileArea(g_inputchoose)->findChild<QPushButton*>(QStringLiteral("1"))->click();
    ASSERT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;  // the manager applied it and announces code 1
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up after the input choice refresh";
    EXPECT_EQ(stripName(g_inputchoose, 0)->text(), QStringLiteral("HDMI1_Crop1"));
    const std::string file = testkit::savedRamFile();
    const unsigned off = 2 + vlxram::windowField(0, vlxram::kWinSource) - vlxram::kSavedStart;
    ASSERT_GT(file.size(), off + 1);
    EXPECT_EQ(uint8_t(file[off]), 0x00);
    EXPECT_EQ(uint8_t(file[off + 1]), 0x80);
    EXPECT_EQ(ram()->shadowU16(vlxram::windowField(0, vlxram::kWinSource)), 0x8000);
}

TEST_F(InputScreenTest, InputChoiceRelabelsOnANewLanguageAndRereadsAliasesOnCode103) {
    putCrop(0, 2, 1);
    InputChoose screen;
    QPushButton* cut = child<QPushButton>(&screen, "button_inputcut");
    EXPECT_EQ(cut->geometry().left(), 620);
    ram()->setRamByte(vlxram::kLanguage, 0);
    screen.syncUpdate(1);
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(child<QLabel>(&screen, "label_title")->text(), QStringLiteral("信源切换"));
    EXPECT_EQ(cut->text(), QStringLiteral("输入截取"));
    EXPECT_EQ(cut->geometry(), QRect(680, 310, 99, 60));
    EXPECT_EQ(tile(&screen, 1)->findChild<QLabel*>(QStringLiteral("label_name"))->text(),
              QStringLiteral("HDMI1_crop1"));

    // the alias file arrives over the protocol: code 103 with no RAM change
    testkit::writeFile("/data/configs/alias.json",
                       R"({"namelist":{"source":[{"id":"2","valid":"on","name":"Stage"}],)"
                       R"("crop":[{"id":"0","valid":"on","name":"Left"}]}})");
    settle();
    screen.syncUpdate(103);
    EXPECT_EQ(child<QLabel>(&screen, "label_HDMI1_text")->text(), QStringLiteral("Stage"));
    EXPECT_EQ(tile(&screen, 1)->findChild<QLabel*>(QStringLiteral("label_name"))->text(), QStringLiteral("Left"));
    EXPECT_EQ(tile(&screen, 0)->findChild<QLabel*>(QStringLiteral("label_info"))->text(), QStringLiteral("无信号"));
}

namespace {
double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
}  // namespace

// Each window tile's name and number read against the tile's colour on both window strips
// (white on the darker five, from 2.1:1; white on window 6's pale blue was 1.3:1).
TEST_F(InputScreenTest, EveryWindowTileReadsAgainstItsColour) {
    for (int w = 1; w < vlxram::kWindows; ++w) setBoth(vlxram::windowField(w, vlxram::kWinState), 1);
    InputChoose choice;
    ImageLayout layout;
    for (QWidget* screen : {static_cast<QWidget*>(&choice), static_cast<QWidget*>(&layout)}) {
        screen->show();
        QCoreApplication::processEvents();
        for (int w = 0; w < vlxram::kWindows; ++w) {
            auto* tile = screen->findChild<QLabel*>(QStringLiteral("tile%1").arg(w));
            ASSERT_NE(tile, nullptr) << w;
            const QImage face = tile->grab().toImage();
            const QColor back = face.pixelColor(3, face.height() - 3);
            for (QLabel* text : {tile, tile->findChild<QLabel*>(QStringLiteral("label_name"))})
                EXPECT_GE(contrast(text->palette().color(QPalette::WindowText), back), 2.0)
                    << screen->metaObject()->className() << " window " << w + 1 << " " << text->objectName().toStdString();
        }
    }
}
