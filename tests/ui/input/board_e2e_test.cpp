// The input screens on the standard simulated board with both engines making their passes:
// the input-source manager (receivers, EDID EEPROMs) and the C331 manager on the simulated
// scaler. Each test steps the board clock and the 10 ms tick itself; no engine thread runs.
#include <QFrame>

#include <algorithm>
#include <vector>

#include "config_engine_guard.h"
#include "input_fixture.h"
#include "platform/board_wiring.h"
#include "platform/sim/board_control.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "platform/sim/video_chips.h"
#include "scaler/c331_geometry.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_regs_win.h"
#include "scaler/engine_requests.h"
#include "support/edid_decode.h"
#include "support/saved_ram_file.h"
#include "video_io/kavelsource.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {

unsigned win(int w, unsigned offset) { return vlxram::windowField(w, offset); }

class BoardScreenTest : public InputScreenTest {
protected:
    void SetUp() override {
        InputScreenTest::SetUp();
        engine_requests::clearAll();
        plat::sim::SimBoard& b = plat::sim::board();
        plat::sim::buildStandardBoard(b);
        // EEPROMs as the factory left them, each with the EDID its input offers
        for (const auto& in : plat::wiring::kVideoInputs)
            eeprom(in.source)->setContents(defaultEdid(edidKindOfSource(in.source)));
        b.followRealTime(true);  // the EEPROMs' write cycles pass in board time
        plat::sim::registerChipCommands();
        chip = b.find<plat::sim::C331Model>("c331");
        ASSERT_TRUE(chip);
        config.start();
        settle();
        src = kavelsource::pInstance();
        ASSERT_TRUE(src->prepare());
        kavelsource::linkScaler();
        g_force_bkcolor = 0;  // as the FPGA engine leaves it once both FPGAs run
        m = c331_manage::createForTest();
        for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
        ASSERT_EQ(m->state(), c331_manage::kStateRunning);
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        QObject::connect(ram(), &VlxRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
        passes(3);  // receivers set up, EEPROMs checked
        testkit::writeFile("/data/ram_device_info", std::string(vlxram::kRamFileSize, '\0'));
        codes.clear();
    }
    void TearDown() override {
        QObject::disconnect(ram(), &VlxRamPara::sig_update_para, nullptr, nullptr);
        c331_manage::resetInstanceForTest();
        kavelsource::resetInstanceForTest();
        chip.reset();
        InputScreenTest::TearDown();
    }
    // n ticks of 10 ms: board time, one input-source pass, one C331 manager pass.
    void passes(int n) {
        for (int i = 0; i < n; ++i) {
            plat::sim::board().step(10 * plat::sim::kNsPerMs);
            G_timeTicks += 1;
            src->source_deal();
            m->step();
        }
    }
    // Passes until `done`, at most `limit` ticks; whether it came true.
    template <class F>
    bool passUntil(F done, int limit = 100) {
        for (int i = 0; i < limit && !done(); ++i) passes(1);
        return done();
    }
    std::string command(const std::string& line) { return plat::sim::runBoardCommand(line); }
    std::shared_ptr<plat::sim::EdidEepromModel> eeprom(int source) {
        return plat::sim::board().find<plat::sim::EdidEepromModel>(plat::wiring::kVideoInputs[source].edid);
    }
    uint16_t savedWord(unsigned address) {
        const std::string file = testkit::savedRamFile();
        const unsigned off = 2 + address - vlxram::kSavedStart;
        if (file.size() < off + 2) return 0xFFFF;
        return uint16_t(uint8_t(file[off]) | (uint8_t(file[off + 1]) << 8));
    }
    // A register of the C331 block of channel `ch` (channel blocks lie 16 banks apart).
    uint32_t reg(uint32_t desc, int ch = 0) const { return chip->regValue(desc, 16u * unsigned(ch)); }
    // The input channel and the output channels of RAM window w.
    int ichOf(int w) const {
        const int k = m->recordOf(w);
        return k < 0 ? -1 : m->ich.win_ich[k][0];
    }
    std::vector<int> ochsOf(int w) const {
        std::vector<int> out;
        const int k = m->recordOf(w);
        for (int o = 0; o < 8 && k >= 0; ++o)
            if (m->PM_WIN_NUM[o] == k) out.push_back(o);
        return out;
    }
    uint32_t ichSelect(int w) const { return reg(c331::kRegIchSelect0 + (unsigned(ichOf(w)) << 8)); }
    static int scalerPort(int source) { return plat::wiring::kVideoInputs[source].scalerPort; }
    // HDMI1 1920x1080@60 and HDMI2 1280x720@60 plugged, an HDMI1 crop of 960 x 540 (crop 1,
    // entry 0); window 0 full screen and window 1 at 960,0 in 960 x 540, both on HDMI1,
    // laid out on the scaler.
    void twoWindowsOnHdmi1() {
        ASSERT_EQ(command("signal HDMI2 1280x720@60"), "OK HDMI2 1280x720@60");
        ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
        putCrop(0, 2, 1, 960, 540);
        ram()->setRamU16(win(0, vlxram::kWinSource), 2);
        ram()->setRamU16(win(1, vlxram::kWinState), 1);
        ram()->setRamU16(win(1, vlxram::kWinSource), 2);
        ram()->setRamU16(win(1, vlxram::kWinX), 960);
        ram()->setRamU16(win(1, vlxram::kWinWidth), 960);
        ram()->setRamU16(win(1, vlxram::kWinHeight), 540);
        c331_manage::update_flag = 1;
        ASSERT_TRUE(passUntil([&] { return at(vlxram::kInputTiming + 6 * 3) == 1280; }, 60));
        passes(vlxram::kWindows + 2 * int(c331_manage::kMeasureTicks));
        ASSERT_GE(ichOf(0), 0);
        ASSERT_GE(ichOf(1), 0);
    }
    QString windowName(int w) {
        return g_inputchoose->findChild<QFrame*>(QStringLiteral("frame_strip"))
            ->findChild<QLabel*>(QStringLiteral("tile%1").arg(w))
            ->findChild<QLabel*>(QStringLiteral("label_name"))
            ->text();
    }

    inputtest::ConfigEngineGuard config;
    std::shared_ptr<plat::sim::C331Model> chip;
    kavelsource* src = nullptr;
    c331_manage* m = nullptr;
    std::vector<int> codes;
};

// Button `name` in the screen's area `area`.
QPushButton* tile(QWidget* screen, const char* area, const char* name) {
    return screen->findChild<QWidget*>(QString::fromLatin1(area))->findChild<QPushButton*>(QString::fromLatin1(name));
}

using testkit::edidPreferredTiming;

}  // namespace

TEST_F(BoardScreenTest, TileTapsPutHdmi2InWindowZeroAndACropInWindowOneOnTheScalerAndSaveThem) {
    twoWindowsOnHdmi1();
    EXPECT_EQ(ichSelect(0), 2u * unsigned(scalerPort(2))) << "window 0 starts on HDMI1";
    // window 1 shows the whole of HDMI1 in 960 x 540: its input channel shrinks by half
    EXPECT_EQ(reg(c331::kRegIactHw, ichOf(1)), 1920u);
    EXPECT_EQ(reg(c331::kRegHShrCtl, ichOf(1)), c331::kHShrOn);
    EXPECT_EQ(reg(c331::kRegHShrStep, ichOf(1)), unsigned(c331geom::ratioStep(960, 1920)));
    EXPECT_EQ(reg(c331::kRegVShrCtl, ichOf(1)), c331::kVShrOn);
    codes.clear();

    g_inputchoose = new InputChoose;
    g_page_focus = 3;
    g_inputchoose->findChild<QPushButton*>(QStringLiteral("Button_HDMI2"))->click();
    tile(g_inputchoose, "frame", "0")->click();
    EXPECT_EQ(at(win(0, vlxram::kWinSource)), 3);
    ASSERT_EQ(c331_manage::update_flag, 1);
    passes(2);
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(ichSelect(0), 2u * unsigned(scalerPort(3))) << "window 0's input channel takes HDMI2";
    EXPECT_EQ(reg(c331::kRegIactHw, ichOf(0)), 1280u);
    EXPECT_EQ(reg(c331::kRegIactVw, ichOf(0)), 720u);
    EXPECT_NE(std::find(codes.begin(), codes.end(), 1), codes.end()) << "the change was announced";
    EXPECT_EQ(savedWord(win(0, vlxram::kWinSource)), 3) << "the RAM file is saved";
    EXPECT_EQ(ram()->shadowU16(win(0, vlxram::kWinSource)), 3);
    // the refresh kept the screen on window 0 showing HDMI2, its whole-input tile in use
    EXPECT_EQ(windowName(0), QStringLiteral("HDMI2"));
    QFrame* tiles = g_inputchoose->findChild<QFrame*>(QStringLiteral("frame"));
    EXPECT_TRUE(tiles->findChild<QLabel*>(QStringLiteral("label_using")));
    EXPECT_EQ(g_page_focus, 3);
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up on the input choice screen";

    // the HDMI1 crop into window 1: its 960 x 540 fill the window as they are
    tile(g_inputchoose, "frame_strip", "1")->click();
    g_inputchoose->findChild<QPushButton*>(QStringLiteral("Button_HDMI1"))->click();
    tile(g_inputchoose, "frame", "1")->click();
    ASSERT_EQ(c331_manage::update_flag, 1);
    passes(2);
    EXPECT_EQ(ichSelect(1), 2u * unsigned(scalerPort(2)));
    EXPECT_EQ(m->IWIN[m->recordOf(1)].HW, 960);
    EXPECT_EQ(reg(c331::kRegHShrCtl, ichOf(1)), c331::kHShrOff) << "the crop is not shrunk";
    EXPECT_EQ(reg(c331::kRegVShrCtl, ichOf(1)), c331::kVShrOff);
    EXPECT_EQ(ichSelect(0), 2u * unsigned(scalerPort(3))) << "window 0 stays on HDMI2";
    EXPECT_EQ(savedWord(win(1, vlxram::kWinSource)), 0x8000);

    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(BoardScreenTest, CropDeletedOverTheInputChoiceMovesItsWindowToTheWholeInputOnScalerAndStrip) {
    twoWindowsOnHdmi1();
    g_inputchoose = new InputChoose;
    g_page_focus = 3;
    tile(g_inputchoose, "frame_strip", "1")->click();
    tile(g_inputchoose, "frame", "1")->click();  // HDMI1's crop 1 into window 1
    passes(2);
    ASSERT_EQ(reg(c331::kRegHShrCtl, ichOf(1)), c331::kHShrOff);
    ASSERT_EQ(windowName(1), QStringLiteral("HDMI1_Crop1"));

    // the crop screen runs over the input choice; its delete is applied while it is in front
    g_inputcut = new InputCut;
    g_page_focus = 7;
    g_inputcut->findChild<QPushButton*>(QStringLiteral("0"))->click();  // HDMI1
    tile(g_inputcut, "frame_source", "1")->click();
    g_inputcut->findChild<QPushButton*>(QStringLiteral("button_delete"))->click();
    ASSERT_EQ(c331_manage::update_flag, 1);
    passes(2);
    EXPECT_EQ(savedWord(win(1, vlxram::kWinSource)), 2);
    EXPECT_EQ(ichSelect(1), 2u * unsigned(scalerPort(2)));
    EXPECT_EQ(reg(c331::kRegHShrCtl, ichOf(1)), c331::kHShrOn);
    EXPECT_EQ(reg(c331::kRegHShrStep, ichOf(1)), unsigned(c331geom::ratioStep(960, 1920)));
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up on the crop screen";
    g_inputcut->on_Button_back_clicked();
    EXPECT_EQ(g_page_focus, 3);
    EXPECT_EQ(windowName(1), QStringLiteral("HDMI1")) << "not the deleted crop";
    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(BoardScreenTest, LayoutTypedPositionAndWidthAndTheMirrorReachTheWindowsOutputChannel) {
    ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    ram()->setRamU16(win(0, vlxram::kWinSource), 2);
    ram()->setRamU16(win(0, vlxram::kWinX), 0);
    ram()->setRamU16(win(0, vlxram::kWinWidth), 1920);
    c331_manage::update_flag = 1;
    passes(30);
    const std::vector<int> before = ochsOf(0);
    ASSERT_EQ(before.size(), 1u);
    const uint32_t endBefore = reg(c331::kRegOchHEnd2, before[0]);
    EXPECT_EQ(reg(c331::kRegOchMirror, before[0]), 0u);

    g_imagelayout = new ImageLayout;
    g_page_focus = 9;
    // W first: X + W must stay within the LED width
    typeInto(g_imagelayout->findChild<QLineEdit*>(QStringLiteral("lineEdit_W")), QStringLiteral("800"));
    typeInto(g_imagelayout->findChild<QLineEdit*>(QStringLiteral("lineEdit_X")), QStringLiteral("100"));
    EXPECT_EQ(at(win(0, vlxram::kWinX)), 100);
    EXPECT_EQ(at(win(0, vlxram::kWinWidth)), 800);
    ASSERT_EQ(c331_manage::update_flag, 1);
    passes(2);
    const std::vector<int> after = ochsOf(0);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(reg(c331::kRegOchHEnd2, after[0]), endBefore - 1920u + 100u + 800u) << "the window ends at 900";
    EXPECT_EQ(savedWord(win(0, vlxram::kWinX)), 100);
    EXPECT_EQ(g_tip->currentType(), TIP::kDone) << "the layout refresh shows the done mark";

    g_imagelayout->on_mirror2_clicked();
    ASSERT_EQ(c331_manage::update_flag, 1);
    passes(2);
    EXPECT_EQ(reg(c331::kRegOchMirror, after[0]), 1u) << "read mirrored";
    EXPECT_EQ(savedWord(win(0, vlxram::kWinAttributes)) & 0xFF, 1);
    g_imagelayout->on_mirror1_clicked();
    passes(2);
    EXPECT_EQ(reg(c331::kRegOchMirror, after[0]), 0u);
    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(BoardScreenTest, EdidOf3840x2160At30SetOnHdmi3LandsInItsEepromAndAnEmptiedWidthIsRefused) {
    const std::vector<uint8_t> hdmi4Before = eeprom(5)->contents();
    g_edidset = new EDIDset;
    g_page_focus = 8;
    g_edidset->findChild<QPushButton*>(QStringLiteral("2"))->click();  // HDMI3
    tile(g_edidset, "frame_source", "button_tile")->click();
    typeInto(g_edidset->findChild<QLineEdit*>(QStringLiteral("lineEdit_W")), QStringLiteral("3840"));
    typeInto(g_edidset->findChild<QLineEdit*>(QStringLiteral("lineEdit_H")), QStringLiteral("2160"));
    g_edidset->on_Button_right_clicked();  // 60 -> 30
    g_edidset->findChild<QPushButton*>(QStringLiteral("button_save"))->click();
    ASSERT_EQ(c331_manage::update_flag, 1);
    ASSERT_TRUE(passUntil([&] { return engine_requests::edidWritten[4].load() == 1; }, 10));
    const std::vector<uint8_t> e = eeprom(4)->contents();
    EXPECT_EQ(edidPreferredTiming(e), (std::vector<int>{3840, 2160, 30}));
    EXPECT_EQ(eeprom(5)->contents(), hdmi4Before) << "only the port that was set";
    EXPECT_EQ(savedWord(vlxram::kEdidPara + 6 * 4 + 4), 30);
    EXPECT_EQ(eeprom(4)->misuseCount(), 0u);
    QWidget* edidTile = g_edidset->findChild<QFrame*>(QStringLiteral("frame_source"));
    EXPECT_EQ(edidTile->findChild<QLabel*>(QStringLiteral("label_info"))->text(), QStringLiteral("3840x2160@30Hz"));
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up on the EDID screen";

    // an emptied width is refused on the screen: nothing stored, the port keeps its EDID
    const unsigned writes = eeprom(4)->pageWrites();
    tile(g_edidset, "frame_source", "button_tile")->click();
    QTimer::singleShot(0, [] {
        g_numberkeyboard->pressDelete();
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    QLineEdit* w = g_edidset->findChild<QLineEdit*>(QStringLiteral("lineEdit_W"));
    c331_manage::update_flag = 0;
    emit static_cast<My_lineEdit*>(w)->send_show(w->text());
    EXPECT_EQ(w->text(), QStringLiteral("3840"));
    QLabel* note = g_edidset->findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisibleTo(g_edidset));
    EXPECT_EQ(at(vlxram::kEdidPara + 6 * 4), 3840);
    EXPECT_EQ(c331_manage::update_flag, 0);
    passes(3);
    EXPECT_EQ(eeprom(4)->contents(), e);
    EXPECT_EQ(eeprom(4)->pageWrites(), writes);
    if (!testkit::edidDecodeInstalled()) GTEST_SKIP() << "edid-decode is not installed";
    std::string out;
    EXPECT_TRUE(testkit::edidDecodePasses(e, &out)) << out;
}

TEST_F(BoardScreenTest, UserModeWhoseEdidsDifferOnTwoPortsWritesBothEeproms) {
    const std::vector<uint8_t> dviBefore = eeprom(1)->contents();
    VlxRamPara* p = ram();
    testkit::saveLiveMode(p, 6);
    auto edidWord = [&](int source, unsigned field, uint16_t v) {
        testkit::setSlotWord(p, 6, vlxram::kEdidPara + 6 * unsigned(source) + field, v);
    };
    edidWord(2, 0, 1280);  // HDMI1 1280x1024@60
    edidWord(2, 2, 1024);
    edidWord(2, 4, 60);
    edidWord(5, 0, 3840);  // HDMI4 3840x2160@30
    edidWord(5, 2, 2160);
    edidWord(5, 4, 30);
    g_custommode = new CustomMode;
    g_page_focus = 4;
    tile(g_custommode, "mode_list_widget", "6")->click();
    g_custommode->findChild<QPushButton*>(QStringLiteral("Button_use"))->click();
    ASSERT_EQ(c331_manage::update_flag, 1);
    ASSERT_TRUE(passUntil(
        [&] { return engine_requests::edidWritten[2].load() == 1 && engine_requests::edidWritten[5].load() == 1; }, 10));
    const std::vector<uint8_t> hdmi1 = eeprom(2)->contents(), hdmi4 = eeprom(5)->contents();
    EXPECT_EQ(edidPreferredTiming(hdmi1), (std::vector<int>{1280, 1024, 60}));
    EXPECT_EQ(edidPreferredTiming(hdmi4), (std::vector<int>{3840, 2160, 30}));
    EXPECT_EQ(eeprom(1)->contents(), dviBefore) << "a port whose EDID did not change keeps it";
    EXPECT_EQ(savedWord(vlxram::kCurrentMode), 7);
    EXPECT_EQ(g_tip->currentType(), TIP::kDone);
    if (!testkit::edidDecodeInstalled()) GTEST_SKIP() << "edid-decode is not installed";
    std::string out;
    EXPECT_TRUE(testkit::edidDecodePasses(hdmi1, &out)) << out;
    EXPECT_TRUE(testkit::edidDecodePasses(hdmi4, &out)) << out;
}

TEST_F(BoardScreenTest, SignalPluggedPulledAndPluggedAgainTurnsTheOpenScreensIconAndTileLive) {
    ram()->setRamU16(win(0, vlxram::kWinSource), 2);  // window 0 shows HDMI1
    c331_manage::update_flag = 1;
    passes(2);
    g_inputchoose = new InputChoose;
    g_page_focus = 3;
    g_inputchoose->findChild<QPushButton*>(QStringLiteral("Button_HDMI1"))->click();
    QLabel* icon = g_inputchoose->findChild<QLabel*>(QStringLiteral("label_HDMI1"));
    auto info = [] {
        QFrame* tiles = g_inputchoose->findChild<QFrame*>(QStringLiteral("frame"));
        QLabel* l = tiles ? tiles->findChild<QLabel*>(QStringLiteral("label_info")) : nullptr;
        return l ? l->text() : QStringLiteral("?");
    };
    auto live = [&] { return panel_style::imageOf(icon) == QStringLiteral(":/png/HDMI13_lv.png"); };
    const QString noSignal = QStringLiteral("No signal");
    ASSERT_FALSE(live());
    ASSERT_EQ(info(), noSignal);

    // the receiver reports it stable 200 ms after the plug
    ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    EXPECT_TRUE(passUntil([&] { return live() && info() == QStringLiteral("1920x1080@60Hz"); }, 60)) << info().toStdString();
    EXPECT_EQ(m->PI_NOSIGNAL[scalerPort(2)], 0) << "the scaler measures the picture too";
    const std::vector<int> ochs = ochsOf(0);
    ASSERT_FALSE(ochs.empty());
    auto background = [&] {
        bool all = true;
        for (int o : ochs) all = all && reg(c331::kRegOchBgEnable, o) == 1;
        return all;
    };
    EXPECT_TRUE(passUntil([&] { return !background(); }, 30)) << "window 0 shows the picture";

    ASSERT_EQ(command("signal HDMI1 off"), "OK HDMI1 off");
    EXPECT_TRUE(passUntil([&] { return !live() && info() == noSignal; }, 60)) << info().toStdString();
    EXPECT_EQ(panel_style::imageOf(icon), QStringLiteral(":/png/HDMI13.png"));
    EXPECT_TRUE(passUntil(background, 30)) << "the scaler shows the background in its place";

    // the same timing again: compared with what the screen last showed, it is live once more
    ASSERT_EQ(command("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
    EXPECT_TRUE(passUntil([&] { return live() && info() == QStringLiteral("1920x1080@60Hz"); }, 60)) << info().toStdString();
    EXPECT_TRUE(passUntil([&] { return !background(); }, 30)) << "and the picture again";
    EXPECT_EQ(g_page_focus, 3);
    EXPECT_TRUE(g_inputchoose);
}
