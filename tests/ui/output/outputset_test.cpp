// The output screen against the parameter RAM, the update flag and the LED hand-shake.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStackedWidget>

#include "fpga/fpga_manage.h"
#include "output_fixture.h"
#include "ui/output/outputset.h"
#include "ui/shell/panel_style.h"

using namespace vlxram;
using outputtest::answerKeypad;
using outputtest::OutputTest;

namespace {

class OutputSetTest : public OutputTest {
protected:
    void storeLed(uint16_t w, uint16_t h, uint16_t code) {
        ram()->setRamU16(kLedWidth, w);
        ram()->setRamU16(kLedHeight, h);
        ram()->setRamU16(kSpliceMode, code);
        shadowFollows();
    }
    QLineEdit* edit(OutputSet& s, const char* name) { return s.findChild<QLineEdit*>(QLatin1String(name)); }
    QString text(OutputSet& s, const char* name) { return edit(s, name)->text(); }
    QComboBox* combo(OutputSet& s) { return s.findChild<QComboBox*>(QStringLiteral("comboBox")); }
    void type(OutputSet& s, const char* field, const QString& digits) {
        answerKeypad(digits);
        outputtest::touch(edit(s, field));
    }
    void apply(OutputSet& s) { s.findChild<QPushButton*>(QStringLiteral("Button_apply1"))->click(); }
    void windowsOn() {
        for (int w = 0; w < kWindows; ++w) ram()->setRamU16(windowField(w, kWinState), 1);
        ram()->setRamU16(windowField(0, kWinX), 100);
        shadowFollows();
    }
};

}  // namespace

TEST_F(OutputSetTest, OpensOnTheStoredGeometryNotTheDefaultSplit) {
    storeLed(1920, 1080, 2);
    ram()->setRamU16(kOut1Width, 1920);
    ram()->setRamU16(kOut1Height, 600);
    ram()->setRamU16(kOut2Width, 1920);
    ram()->setRamU16(kOut2Height, 480);
    shadowFollows();
    OutputSet s;
    EXPECT_EQ(combo(s)->currentIndex(), 1);
    EXPECT_EQ(s.spliceCode(), 2);
    EXPECT_EQ(text(s, "lineEdit_out1_height"), QStringLiteral("600"));
    EXPECT_EQ(text(s, "lineEdit_out2_height"), QStringLiteral("480"));
    EXPECT_EQ(panel_style::imageOf(s.findChild<QWidget*>(QStringLiteral("out_label"))),
              QStringLiteral(":/png/out_vertical.png"));
    EXPECT_EQ(c331_manage::update_flag, 0) << "opening stores nothing";
}

// The fields a touch cannot edit (the LED size, OUT2) are drawn otherwise than OUT1's.
TEST_F(OutputSetTest, FieldsShownButNotEditableLookOtherThanTheEditableOnes) {
    OutputSet s;
    s.show();
    QCoreApplication::processEvents();
    const QImage shot = s.grab().toImage();
    auto look = [&](const char* name) {
        QLineEdit* f = edit(s, name);
        return std::make_pair(shot.pixel(f->mapTo(&s, QPoint(0, f->height() / 2))),   // border
                              shot.pixel(f->mapTo(&s, QPoint(3, f->height() / 2))));  // fill
    };
    ASSERT_TRUE(edit(s, "lineEdit_out1_width")->isEnabled());
    const auto editable = look("lineEdit_out1_width");
    EXPECT_EQ(look("lineEdit_out1_height"), editable);
    for (const char* shown : {"lineEdit_width", "lineEdit_height", "lineEdit_out2_width", "lineEdit_out2_height"}) {
        EXPECT_FALSE(edit(s, shown)->isEnabled()) << shown;
        EXPECT_NE(look(shown).first, editable.first) << shown;
        EXPECT_NE(look(shown).second, editable.second) << shown;
    }
}

TEST_F(OutputSetTest, ChoosingASpliceShowsTheSplitsOfTheLedSize) {
    storeLed(1921, 1080, 4);
    OutputSet s;
    combo(s)->setCurrentIndex(0);
    EXPECT_EQ(text(s, "lineEdit_out1_width"), QStringLiteral("968"));
    EXPECT_EQ(text(s, "lineEdit_out2_width"), QStringLiteral("953"));
    combo(s)->setCurrentIndex(1);
    EXPECT_EQ(text(s, "lineEdit_out1_height"), QStringLiteral("542"));
    EXPECT_EQ(text(s, "lineEdit_out2_height"), QStringLiteral("538"));
    EXPECT_EQ(s.spliceCode(), 2);
}

TEST_F(OutputSetTest, CopyOfATenThousandColumnScreenStoresEightThousandOneHundredEightyEight) {
    storeLed(10000, 1080, 4);
    OutputSet s;
    EXPECT_EQ(text(s, "lineEdit_width"), QStringLiteral("8188"));
    apply(s);
    EXPECT_EQ(ram()->ramU16(kLedWidth), 8188);
    EXPECT_EQ(ram()->ramU16(kOut1Width), 8188);
    EXPECT_EQ(c331_manage::update_flag, 1);
}

TEST_F(OutputSetTest, TypedWidthOnAWideScreenShowsRoundedPartsAndStoresTheRest) {
    storeLed(10000, 1080, 3);
    OutputSet s;
    type(s, "lineEdit_out1_width", QStringLiteral("5000"));
    EXPECT_EQ(text(s, "lineEdit_out1_width"), QStringLiteral("5024"));
    EXPECT_EQ(text(s, "lineEdit_out2_width"), QStringLiteral("4992"));
    apply(s);
    EXPECT_EQ(ram()->ramU16(kOut1Width), 5024);
    EXPECT_EQ(ram()->ramU16(kOut2X), 5024);
    EXPECT_EQ(ram()->ramU16(kOut2Width), 4976);
}

TEST_F(OutputSetTest, TypedHeightAboveTheLedIsRefusedWithTheRangeAndAnEmptyWidthToo) {
    g_language = 1;
    storeLed(1920, 1080, 3);
    OutputSet s;
    s.show();
    type(s, "lineEdit_out1_height", QStringLiteral("9000"));
    EXPECT_EQ(text(s, "lineEdit_out1_height"), QStringLiteral("1080"));
    QLabel* note = s.findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), QStringLiteral("Refused: the splice allows 1 to 1080"));
    const QString width = text(s, "lineEdit_out1_width");
    outputtest::answerKeypadEmpty();
    outputtest::touch(edit(s, "lineEdit_out1_width"));
    EXPECT_EQ(text(s, "lineEdit_out1_width"), width);
    EXPECT_EQ(note->text(), QStringLiteral("Refused: the splice allows 1 to 1919"));
    type(s, "lineEdit_out1_width", QStringLiteral("1000"));
    EXPECT_FALSE(note->isVisible());
    EXPECT_EQ(text(s, "lineEdit_out2_width"), QStringLiteral("920"));
}

TEST_F(OutputSetTest, KeypadTakesFourDigitsAndACopyTakesOnlyTheWholePicture) {
    storeLed(1920, 1080, 4);
    OutputSet s;
    type(s, "lineEdit_out1_height", QStringLiteral("30000000000"));
    EXPECT_EQ(g_numberkeyboard->shownText(), QStringLiteral("3000"));
    EXPECT_EQ(text(s, "lineEdit_out1_height"), QStringLiteral("1080"));
    type(s, "lineEdit_out1_width", QStringLiteral("1000"));
    EXPECT_EQ(text(s, "lineEdit_out1_width"), QStringLiteral("1920")) << "a copy is not cut at Apply without a word";
    apply(s);
    EXPECT_EQ(ram()->ramU16(kOut1Height), 1080);
    EXPECT_EQ(ram()->ramU16(kOut1Width), 1920);
}

TEST_F(OutputSetTest, WidthAboveWhatOneOutputCarriesIsRefusedAndTheSpliceStays) {
    storeLed(10000, 1080, 4);
    OutputSet s;
    combo(s)->setCurrentIndex(1);
    storeLed(10000, 1080, 2);  // applied as vertical
    s.syncUpdate();
    ASSERT_EQ(combo(s)->currentIndex(), 1);
    const QString shown = text(s, "lineEdit_out1_width");
    type(s, "lineEdit_out1_width", QStringLiteral("9000"));
    EXPECT_EQ(s.spliceCode(), 2);
    EXPECT_EQ(combo(s)->currentIndex(), 1);
    EXPECT_EQ(text(s, "lineEdit_out1_width"), shown);
    EXPECT_TRUE(s.findChild<QLabel*>(QStringLiteral("label_refused"))->text().contains(QStringLiteral("8188")));
}

TEST_F(OutputSetTest, Out1BeyondTheLedSizeIsRefusedAndNoEmptyOut2IsStored) {
    storeLed(1920, 1080, 4);
    OutputSet s;
    combo(s)->setCurrentIndex(0);
    type(s, "lineEdit_out1_width", QStringLiteral("1920"));
    EXPECT_EQ(text(s, "lineEdit_out1_width"), QStringLiteral("960"));
    combo(s)->setCurrentIndex(1);
    type(s, "lineEdit_out1_height", QStringLiteral("2000"));
    EXPECT_EQ(text(s, "lineEdit_out1_height"), QStringLiteral("542"));
    // a tiny LED size splits into nothing: Apply stores nothing at all
    storeLed(8, 8, 4);
    s.syncUpdate();
    combo(s)->setCurrentIndex(0);
    apply(s);
    EXPECT_EQ(ram()->ramU16(kSpliceMode), 4);
    EXPECT_EQ(c331_manage::update_flag, 0);
    QLabel* note = s.findChild<QLabel*>(QStringLiteral("label_refused"));
    EXPECT_FALSE(note->isHidden()) << "refused without a word";
    EXPECT_TRUE(note->text().endsWith(QStringLiteral("1至7"))) << note->text().toStdString();
}

TEST_F(OutputSetTest, ApplyWithoutANewScreenLeavesWindowsAndHandshakeAlone) {
    storeLed(1920, 1080, 4);
    windowsOn();
    bothFpgasRunning(true);
    OutputSet s;
    apply(s);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(ram()->ramU16(kOut2Width), 1920);
    EXPECT_EQ(ram()->ramU16(windowField(3, kWinState)), 1);
    EXPECT_EQ(ram()->ramU16(windowField(0, kWinX)), 100);
    EXPECT_EQ(g_set_led_para.load(), 0);
}

TEST_F(OutputSetTest, NewSpliceResetsWindowsAndStartsTheHandshakeOnlyWithBothFpgasRunning) {
    for (bool running : {false, true}) {
        storeLed(1920, 1080, 4);
        windowsOn();
        g_set_led_para = 0;
        g_set_led_setup = 1;  // the last set-up had finished
        c331_manage::update_flag = 0;
        bothFpgasRunning(running);
        OutputSet s;
        combo(s)->setCurrentIndex(1);
        apply(s);
        EXPECT_EQ(ram()->ramU16(kSpliceMode), 2);
        EXPECT_EQ(ram()->ramU16(kOut1Height), 542);
        EXPECT_EQ(ram()->ramU16(kOut2Y), 542);
        EXPECT_EQ(ram()->ramU16(kOut2Height), 538);
        EXPECT_EQ(ram()->ramU16(windowField(0, kWinX)), 0);
        EXPECT_EQ(ram()->ramU16(windowField(0, kWinWidth)), 1920);
        EXPECT_EQ(ram()->ramU16(windowField(0, kWinHeight)), 1080);
        EXPECT_EQ(ram()->ramU16(windowField(0, kWinState)), 1) << "window 0 stays as it was";
        for (int w = 1; w < kWindows; ++w) EXPECT_EQ(ram()->ramU16(windowField(w, kWinState)), 0) << w;
        EXPECT_EQ(g_set_led_para.load(), running ? 1 : 0) << running;
        EXPECT_EQ(g_set_led_setup.load(), running ? 0 : 1) << "the hand-shake starts from its first step";
        EXPECT_EQ(c331_manage::update_flag, 1);
    }
}

TEST_F(OutputSetTest, ChangeNotificationReloadsTheLedPageAndShowsTheDoneMark) {
    storeLed(1920, 1080, 4);
    QPointer<OutputSet> s = new OutputSet;
    g_outputset = s;
    g_page_focus = 6;
    combo(*s)->setCurrentIndex(0);
    ASSERT_EQ(s->spliceCode(), 3);
    SyncUpdate::pInstance()->para_sync(11);
    EXPECT_EQ(s->spliceCode(), 4) << "unapplied edits are discarded";
    EXPECT_EQ(g_tip->currentType(), int(TIP::kDone));
}

TEST_F(OutputSetTest, PortPageReadsOddOffsetsOfBothImagesAndZeroWithoutEngine) {
    OutputSet bare;
    bare.findChild<QPushButton*>(QStringLiteral("Button_wlan1"))->click();
    EXPECT_EQ(bare.findChild<QLineEdit*>(QStringLiteral("lineEdit_W"))->text(), QStringLiteral("0"));

    fpga_manage::p_fpga_manage = new fpga_manage;  // the engine without its thread
    auto put = [](int fpga, unsigned at, uint16_t v) {
        fpga_manage::MCU_RAM_PARA_func[fpga][at] = uint8_t(v);
        fpga_manage::MCU_RAM_PARA_func[fpga][at + 1] = uint8_t(v >> 8);
    };
    put(0, 19, 1234);          // port 2: X, at an odd offset
    put(0, 19 + 4, 0x0201);    // its width
    put(1, 632 + 6, 777);      // port 32: H
    OutputSet s;
    s.findChild<QPushButton*>(QStringLiteral("Button_lanset"))->click();
    EXPECT_EQ(s.findChild<QStackedWidget*>(QStringLiteral("stackedWidget"))->currentIndex(), 1);
    s.findChild<QWidget*>(QStringLiteral("frame_port_tiles"))->findChild<QPushButton*>(QStringLiteral("1"))->click();
    EXPECT_EQ(s.findChild<QLineEdit*>(QStringLiteral("lineEdit_X"))->text(), QStringLiteral("1234"));
    EXPECT_EQ(s.findChild<QLineEdit*>(QStringLiteral("lineEdit_W"))->text(), QStringLiteral("513"));
    s.findChild<QPushButton*>(QStringLiteral("Button_wlan4"))->click();
    EXPECT_EQ(s.portGroup(), 3);
    QWidget* tiles = s.findChild<QWidget*>(QStringLiteral("frame_port_tiles"));
    EXPECT_EQ(tiles->findChild<QLabel*>(QStringLiteral("text7"))->text(), QStringLiteral("网口LED32"));
    tiles->findChild<QPushButton*>(QStringLiteral("7"))->click();
    EXPECT_EQ(s.portTile(), 7);
    EXPECT_EQ(s.findChild<QLineEdit*>(QStringLiteral("lineEdit_H"))->text(), QStringLiteral("777"));
    fpga_manage::resetInstanceForTest();
}

TEST_F(OutputSetTest, SettingsTileOpensTheScreenAndBackReturnsToTheMenu) {
    QTimer::singleShot(0, [] {
        ASSERT_FALSE(g_outputset.isNull());
        EXPECT_EQ(g_page_focus.load(), 6);
        g_outputset->on_Button_back_clicked();
    });
    g_option->on_output_set_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(g_outputset.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(OutputSetTest, IdleReturnClosesTheScreenAndTheMenu) {
    lcd_touch* touchWatch = lcd_touch::instanceWithoutThread();
    g_back_to_mainwindow_time = 5;
    QTimer::singleShot(0, [this, touchWatch] {
        touchWatch->touched();
        tick(home(), 10);
    });
    g_option->on_output_set_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(g_outputset.isNull());
    EXPECT_TRUE(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(OutputSetTest, KeypadResultForAnotherScreensFieldChangesNothingHere) {
    storeLed(1920, 1080, 3);
    OutputSet s;
    const QString out1 = text(s, "lineEdit_out1_width"), out2 = text(s, "lineEdit_out2_width");
    QLineEdit foreign;
    foreign.setObjectName(QStringLiteral("lineEdit_out1_width"));
    g_lineedit = &foreign;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(QStringLiteral("500"));
    EXPECT_EQ(text(s, "lineEdit_out1_width"), out1);
    EXPECT_EQ(text(s, "lineEdit_out2_width"), out2);
    EXPECT_EQ(s.spliceCode(), 3);
    EXPECT_EQ(c331_manage::update_flag, 0);
}
