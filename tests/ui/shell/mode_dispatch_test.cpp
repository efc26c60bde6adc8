// The mode panel with the scaler manager running: a save and a recall go through the
// hand-over, the dispatcher raises the change code and the screens follow.
#include <QLabel>
#include <QPushButton>

#include <cstring>
#include <memory>

#include "app/syncupdate.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_wiring.h"
#include "shell_fixture.h"
#include "support/panel_touch.h"
#include "ui/shell/screen_text.h"
#include "support/ram_copies.h"

using shelltest::ShellTest;

namespace {

QString modeLabel(QWidget* screen) {
    QLabel* l = screen->findChild<QLabel*>(QStringLiteral("label_mode"));
    return l ? l->text() : QStringLiteral("<no label>");
}

// The slot touched on the panel.
void clickSlot(MainWindow* w, int slot) {
    QWidget* buttons = w->findChild<QWidget*>(QStringLiteral("frame_mode_buttons"));
    ASSERT_NE(buttons, nullptr);
    QPushButton* b = buttons->findChild<QPushButton*>(QString::number(slot));
    ASSERT_NE(b, nullptr);
    w->show();
    testkit::touchWidget(b);
}

}  // namespace

class ModeDispatchTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        plat::sim::board().attachSpi(c331::kC331SpiNode, std::make_shared<plat::sim::C331Model>());
        ram()->shadowTakesRam();
        m = c331_manage::createForTest();
        for (int i = 0; i < 6; ++i) m->step();
        ASSERT_EQ(m->state(), c331_manage::kStateRunning);
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
    }
    void TearDown() override {
        c331_manage::resetInstanceForTest();
        ShellTest::TearDown();
    }
    c331_manage* m = nullptr;
};

TEST_F(ModeDispatchTest, SaveToSlotThreeThenRecallItAndAllThreeScreensNameIt) {
    MainWindow* w = home();
    g_page_focus = 1;
    {
        ManageMutexLocker lock;
        ram()->setRamU16(vlxram::kContrast, 37);  // something to recognise in the file
        c331_manage::update_flag = 1;
    }
    m->step();
    w->on_modepanel_clicked();
    w->on_Button_mode_save_clicked();
    clickSlot(w, 2);
    m->step();  // the dispatcher raises code 1; the GUI saves the requested slot
    ASSERT_TRUE(testkit::exists("/data/modes/custom_mode3"));
    const std::string file = testkit::readFile("/data/modes/custom_mode3");
    ASSERT_GE(file.size(), size_t(2 + vlxram::kModeLength));
    EXPECT_EQ(std::memcmp(file.data() + 2, testkit::ramBytes(ram(), vlxram::kModeStart, vlxram::kModeLength).data(),
                          vlxram::kModeLength),
              0);
    EXPECT_EQ(ram()->ramU16(vlxram::kCurrentMode), 3);
    ASSERT_FALSE(g_tip.isNull());
    EXPECT_EQ(g_tip->currentType(), int(TIP::kDone));
    EXPECT_NE(modeLabel(w), screen_text::modePrefix() + screen_text::none())
        << "the home screen names the saved mode at once, not at the next change";

    // another mode in between, then recall slot 3
    {
        ManageMutexLocker lock;
        ram()->setRamU16(vlxram::kContrast, 80);
        ram()->setRamU16(vlxram::kCurrentMode, 0);
        c331_manage::update_flag = 1;
    }
    m->step();
    w->on_modepanel_clicked();
    w->on_Button_mode_recall_clicked();
    clickSlot(w, 2);
    m->step();
    EXPECT_EQ(ram()->ramU16(vlxram::kCurrentMode), 3);
    EXPECT_EQ(ram()->ramU16(vlxram::kContrast), 37);
    EXPECT_EQ(testkit::shadowByte(ram(), vlxram::kContrast), 37);  // applied and saved
    EXPECT_EQ(m->PS.actW, 1920u);

    LockWindow lock;
    MachineState state;
    const QString name = modeLabel(w);
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(modeLabel(&lock), name);
    EXPECT_EQ(modeLabel(&state), name);
    EXPECT_NE(name, screen_text::modePrefix() + screen_text::none());
}

// "Mode recall" recalls, whatever the panel was last used for: a saved mode is written over
// only after the user's own touch on Save.
TEST_F(ModeDispatchTest, ModeRecallAfterASaveRecallsAndLeavesTheSavedModeAlone) {
    MainWindow* w = home();
    w->show();
    g_page_focus = 1;
    auto pcSetsBrightness = [this](uint8_t value) {
        unsigned char word[2] = {value, 0};
        {
            ManageMutexLocker lock;
            ASSERT_EQ(VlxRamPara::VlxRamParaDeal(word, 2, vlxram::kBrightness), 0);
            c331_manage::update_flag = 1;  // register 11, bit 1
        }
        m->step();
    };
    auto touch = [w](const char* name) {
        QWidget* target = w->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(target, nullptr) << name;
        testkit::touchWidget(target);
    };
    pcSetsBrightness(100);
    touch("modepanel");
    touch("Button_mode_save");
    clickSlot(w, 1);
    m->step();
    ASSERT_EQ(ram()->slotWord(1, vlxram::kBrightness), 100);

    pcSetsBrightness(40);
    touch("modepanel");
    EXPECT_EQ(w->modeAction(), MainWindow::ModeAction::Recall);
    clickSlot(w, 1);
    m->step();
    EXPECT_EQ(ram()->slotWord(1, vlxram::kBrightness), 100) << "mode 2 was saved over";
    const std::string file = testkit::readFile("/data/modes/custom_mode2");
    ASSERT_GE(file.size(), size_t(2 + vlxram::kModeLength));
    EXPECT_EQ(uint8_t(file[2 + vlxram::kBrightness - vlxram::kModeStart]), 100);
    EXPECT_EQ(testkit::shadowByte(ram(), vlxram::kBrightness), 100) << "the recalled brightness applied and saved";
    EXPECT_EQ(ram()->ramU16(vlxram::kCurrentMode), 2);
}

TEST_F(ModeDispatchTest, LanguageChangeInTheRamRelabelsTheOpenScreen) {
    MainWindow* w = home();
    g_page_focus = 1;
    const QString before = w->findChild<QWidget*>(QStringLiteral("custommode"))->property("text").toString();
    {
        ManageMutexLocker lock;
        ram()->setRamU16(vlxram::kLanguage, ram()->ramU16(vlxram::kLanguage) == 1 ? 0 : 1);
        c331_manage::update_flag = 1;
    }
    m->step();
    const QString after = w->findChild<QWidget*>(QStringLiteral("custommode"))->property("text").toString();
    EXPECT_NE(before, after);
}
