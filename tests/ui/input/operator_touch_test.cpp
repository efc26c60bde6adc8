// The input screens as an operator meets them: each opened the way the panel opens it and
// driven by touches of the simulated board at the widgets' places.
#include <QComboBox>
#include <QPointer>
#include <QRegularExpression>

#include <functional>

#include "input_fixture.h"
#include "support/panel_touch.h"
#include "support/text_fit.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {

class OperatorTouchTest : public InputScreenTest {
protected:
    void SetUp() override {
        InputScreenTest::SetUp();
        home()->show();
        g_page_focus = 1;
    }
    // Runs `inside` once the next modal screen has begun its run.
    static void whenOpen(std::function<void()> inside) { QTimer::singleShot(0, std::move(inside)); }
    static void touchBack() { lcd_touch::clickAt(36, 36); }
    static QPushButton* button(QWidget* w, const char* name) { return child<QPushButton>(w, name); }
};

}  // namespace

// The crop screen opens with its editor closed and its "+" up, from the settings menu and from
// the input choice's menu; the "+" touched opens the editor for a new crop.
TEST_F(OperatorTouchTest, CropScreenOpensWithItsAddButtonFromEitherMenu) {
    struct Seen {
        bool open = false;
        bool addShown = false;
        bool editorAfterTouch = false;
    };
    auto look = [](Seen* seen) {
        QPointer<InputCut> crop = g_inputcut.data();
        seen->open = crop && crop->isVisible();
        if (!seen->open) return;
        QPushButton* add = button(crop, "button_add");
        seen->addShown = add && add->isVisibleTo(crop) && !crop->editorOpen();
        if (seen->addShown) testkit::touchWidget(add);
        seen->editorAfterTouch = crop && crop->editorOpen();
        if (crop) touchBack();
        if (g_inputcut) g_inputcut->on_Button_back_clicked();  // a missed touch must not hang the test
    };

    Seen fromSettings;
    whenOpen([&] {
        whenOpen([&] { look(&fromSettings); });
        testkit::touchWidget(button(g_option, "input_cut"));
        touchBack();
        if (g_option) g_option->on_Button_back_clicked();
    });
    testkit::touchWidget(button(home(), "option"));
    shelltest::flushDeletes();
    EXPECT_TRUE(fromSettings.open);
    EXPECT_TRUE(fromSettings.addShown) << "opened from the settings menu";
    EXPECT_TRUE(fromSettings.editorAfterTouch);
    EXPECT_TRUE(g_option.isNull());

    Seen fromChoice;
    whenOpen([&] {
        whenOpen([&] { look(&fromChoice); });
        testkit::touchWidget(button(g_inputchoose, "button_menu"));
        testkit::touchWidget(button(g_inputchoose, "button_inputcut"));
        touchBack();
        if (g_inputchoose) g_inputchoose->on_Button_back_clicked();
    });
    testkit::touchWidget(button(home(), "inputchoose"));
    shelltest::flushDeletes();
    EXPECT_TRUE(fromChoice.open);
    EXPECT_TRUE(fromChoice.addShown) << "opened from the input choice's menu";
    EXPECT_TRUE(fromChoice.editorAfterTouch);
    EXPECT_TRUE(g_inputchoose.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

// A touch on a row of the layout's open dot-by-dot list picks it; the fields under the list
// do not take the touch.
TEST_F(OperatorTouchTest, DotByDotListOfTheLayoutPicksTheTouchedRow) {
    bool opened = false;
    bool keypad = true;
    int shown = -1;
    whenOpen([&] {
        whenOpen([&] {
            QComboBox* list = child<QComboBox>(g_imagelayout, "comboBox_P2P");
            opened = testkit::touchListItem(list, 2, &keypad);  // "HD3,HD4 Hor"
            shown = list->currentIndex();
            touchBack();
            if (g_imagelayout) g_imagelayout->on_Button_back_clicked();
        });
        testkit::touchWidget(button(g_option, "image_layout"));
        touchBack();
        if (g_option) g_option->on_Button_back_clicked();
    });
    g_imagelayoutpassword = QString();
    testkit::touchWidget(button(home(), "option"));
    shelltest::flushDeletes();
    EXPECT_TRUE(opened);
    EXPECT_FALSE(keypad) << "the touch went through the list to a field under it";
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(at(vlxram::windowField(0, vlxram::kWinDbdMode)), 8);
}

// The details badge tells the mode in use: not a selected slot that is not current, never an
// empty slot; the empty slot's line is in the panel's language and fits.
TEST_F(OperatorTouchTest, UserModeBadgeMarksOnlyTheModeInUseAndTheEmptySlotLineIsTranslated) {
    panel_style::installPanelFont(shelltest::app());
    VlxRamPara* p = ram();
    for (int slot : {0, 1}) testkit::saveLiveMode(p, slot);
    setBoth(vlxram::kCurrentMode, 2);
    const QRegularExpression han(QStringLiteral("[\\x{4E00}-\\x{9FFF}]"));
    for (int lang : {1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        CustomMode screen;
        screen.show();
        QWidget* list = child<QWidget>(&screen, "mode_list_widget");
        QLabel* badge = child<QLabel>(&screen, "label_using");
        QLabel* blank = child<QLabel>(&screen, "label_blank");
        EXPECT_TRUE(badge->isVisibleTo(&screen)) << lang << ": the current mode is selected on opening";
        testkit::touchWidget(button(list, "0"));
        EXPECT_FALSE(badge->isVisibleTo(&screen)) << lang << ": slot 1 is saved but mode 2 is in use";
        testkit::touchWidget(button(list, "1"));
        EXPECT_TRUE(badge->isVisibleTo(&screen)) << lang;
        testkit::touchWidget(button(list, "2"));
        EXPECT_FALSE(badge->isVisibleTo(&screen)) << lang << ": slot 3 is empty";
        ASSERT_TRUE(blank->isVisibleTo(&screen));
        if (lang != 4) {
            EXPECT_FALSE(blank->text().contains(han)) << lang << ": " << blank->text().toStdString();
        }
        EXPECT_TRUE(testkit::textOverflows(blank).isEmpty()) << testkit::textOverflows(blank).join(QLatin1Char('\n')).toStdString();
    }
    // the current mode names an empty slot: it opens selected, without the badge
    setBoth(vlxram::kCurrentMode, 3);
    CustomMode screen;
    EXPECT_FALSE(child<QLabel>(&screen, "label_using")->isVisibleTo(&screen));
}

// HDMI1's EDID stored at 30 Hz: the arrow on reopening steps from 30, and Save keeps what is shown.
TEST_F(OperatorTouchTest, EdidRateArrowStepsFromTheStoredRate) {
    const unsigned a = vlxram::kEdidPara + vlxram::kEdidParaSize * 2;
    setBoth(a + 4, 30);
    EDIDset screen;
    screen.show();
    ASSERT_EQ(screen.inputIndex(), 2);
    testkit::touchWidget(child<QFrame>(&screen, "frame_source")->findChild<QPushButton*>(QStringLiteral("button_tile")));
    ASSERT_TRUE(screen.editorOpen());
    EXPECT_EQ(child<QLabel>(&screen, "label_rate")->text(), QStringLiteral("30"));
    testkit::touchWidget(button(&screen, "Button_right"));
    EXPECT_EQ(child<QLabel>(&screen, "label_rate")->text(), QStringLiteral("60"));
    testkit::touchWidget(button(&screen, "button_save"));
    EXPECT_EQ(at(a + 4), 60);
}
