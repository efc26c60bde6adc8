// The screens with the C331 manager running its passes on the simulated board: a screen's
// write is applied by the dispatcher, whose change code refreshes the screen in front and
// saves the RAM file. The input chips' side (EDID EEPROMs, receivers) joins with its engine.
#include <QComboBox>

#include "config_engine_guard.h"
#include "input_fixture.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_wiring.h"
#include "scaler/engine_requests.h"
#include "support/saved_ram_file.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {

class EngineScreenTest : public InputScreenTest {
protected:
    void SetUp() override {
        InputScreenTest::SetUp();
        engine_requests::clearAll();
        chip = std::make_shared<plat::sim::C331Model>();
        plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
        config.start();
        settle();
        m = c331_manage::createForTest();
        for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
        ASSERT_EQ(m->state(), c331_manage::kStateRunning);
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        testkit::writeFile("/data/ram_device_info", std::string(vlxram::kRamFileSize, '\0'));
    }
    void TearDown() override {
        QObject::disconnect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        c331_manage::resetInstanceForTest();
        chip.reset();
        InputScreenTest::TearDown();
    }
    // One manager pass with the flag raised: apply, announce, and the GUI's save follows.
    void applied() {
        ASSERT_EQ(c331_manage::update_flag, 1);
        m->step();
        EXPECT_EQ(c331_manage::update_flag, 0);
    }
    uint16_t savedWord(unsigned address) {
        const std::string file = testkit::savedRamFile();
        const unsigned off = 2 + address - vlxram::kSavedStart;
        if (file.size() < off + 2) return 0xFFFF;
        return uint16_t(uint8_t(file[off]) | (uint8_t(file[off + 1]) << 8));
    }

    inputtest::ConfigEngineGuard config;
    std::shared_ptr<plat::sim::C331Model> chip;
    c331_manage* m = nullptr;
};

}  // namespace

TEST_F(EngineScreenTest, LayoutMirrorReachesTheWindowAndTheSavedRam) {
    g_imagelayout = new ImageLayout;
    g_page_focus = 9;
    g_imagelayout->on_mirror3_clicked();
    applied();
    EXPECT_EQ(m->gWininfo[0].rotate, 2);
    EXPECT_EQ(m->PM_WIN_ATTR1[0], 1);
    EXPECT_EQ(savedWord(vlxram::windowField(0, vlxram::kWinAttributes)) & 0xFF, 2);
    EXPECT_EQ(g_tip->currentType(), TIP::kDone) << "the layout refresh shows the done mark";
}

TEST_F(EngineScreenTest, InputChoiceTapIsAppliedRefreshedAndSaved) {
    putCrop(0, 2, 1, 960, 540);
    settle();
    setBoth(vlxram::windowField(1, vlxram::kWinState), 1);
    g_inputchoose = new InputChoose;
    g_page_focus = 3;
    // HDMI2 whole into window 0
    g_inputchoose->findChild<QPushButton*>(QStringLiteral("Button_HDMI2"))->click();
    g_inputchoose->findChild<QFrame*>(QStringLiteral("frame"))->findChild<QPushButton*>(QStringLiteral("0"))->click();
    applied();
    EXPECT_EQ(savedWord(vlxram::windowField(0, vlxram::kWinSource)), 3);
    // the HDMI1 crop into window 1
    g_inputchoose->findChild<QFrame*>(QStringLiteral("frame_strip"))->findChild<QPushButton*>(QStringLiteral("1"))->click();
    g_inputchoose->findChild<QPushButton*>(QStringLiteral("Button_HDMI1"))->click();
    g_inputchoose->findChild<QFrame*>(QStringLiteral("frame"))->findChild<QPushButton*>(QStringLiteral("1"))->click();
    applied();
    EXPECT_EQ(savedWord(vlxram::windowField(1, vlxram::kWinSource)), 0x8000);
    EXPECT_EQ(ram()->shadowU16(vlxram::windowField(1, vlxram::kWinSource)), 0x8000);
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up on the input choice screen";
}

TEST_F(EngineScreenTest, EdidSaveAndAModeWithTwoNewEdidsRequestEveryChangedPort) {
    g_edidset = new EDIDset;
    g_page_focus = 8;
    g_edidset->findChild<QPushButton*>(QStringLiteral("2"))->click();  // HDMI3
    g_edidset->findChild<QFrame*>(QStringLiteral("frame_source"))
        ->findChild<QPushButton*>(QStringLiteral("button_tile"))
        ->click();
    g_edidset->findChild<QLineEdit*>(QStringLiteral("lineEdit_W"))->setText(QStringLiteral("3840"));
    g_edidset->findChild<QLineEdit*>(QStringLiteral("lineEdit_H"))->setText(QStringLiteral("2160"));
    g_edidset->on_Button_right_clicked();
    g_edidset->findChild<QPushButton*>(QStringLiteral("button_save"))->click();
    applied();
    EXPECT_EQ(engine_requests::edidRequest[4].load(), 1);
    EXPECT_EQ(savedWord(vlxram::kEdidPara + 6 * 4 + 4), 30);
    engine_requests::clearAll();

    // a mode whose EDIDs differ from the RAM on HDMI1 and DVI
    VlxRamPara* p = ram();
    testkit::saveLiveMode(p, 6, {{vlxram::kEdidPara + 6 * 2, 1280}, {vlxram::kEdidPara + 6 * 1 + 4, 30}});
    g_custommode = new CustomMode;
    g_page_focus = 4;
    g_custommode->findChild<QWidget*>(QStringLiteral("mode_list_widget"))
        ->findChild<QPushButton*>(QStringLiteral("6"))
        ->click();
    g_custommode->findChild<QPushButton*>(QStringLiteral("Button_use"))->click();
    applied();
    EXPECT_EQ(engine_requests::edidRequest[2].load(), 1);
    EXPECT_EQ(engine_requests::edidRequest[1].load(), 1);
    EXPECT_EQ(engine_requests::edidRequest[4].load(), 0);
    EXPECT_EQ(savedWord(vlxram::kCurrentMode), 7);
    EXPECT_EQ(g_tip->currentType(), TIP::kDone);
}
