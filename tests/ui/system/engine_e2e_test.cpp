// The system screens against the sending-card engine and the simulated FPGAs of the standard
// board: what the screens themselves do to the FPGAs and the receiving-card jobs they hand over.
#include <algorithm>
#include <chrono>
#include <thread>

#include <QJsonArray>
#include <QLineEdit>

#include "app/engine_links.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/board_control.h"
#include "protocol/usbserver.h"
#include "support/panel_touch.h"
#include "support/rcv_files.h"
#include "support/text_fit.h"
#include "ui/shell/tip.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "system_fixture.h"

using namespace systemtest;

namespace {

class EngineScreensTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        shellLinks() = ShellLinks{};
        systemLinks() = SystemLinks{};
        plat::sim::buildStandardBoard(plat::sim::board());
        plat::sim::board().followRealTime(true);
        fpga_manage::pInstance();
        linkFpgaEngine();
    }
    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        g_fpga_c331_start = 0;
        SystemTest::TearDown();
    }
    bool runUntilUp() {
        g_fpga_c331_start = 1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            if (fpga_manage::p_fpga_manage->get_fpga_status()) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }
    // Ticks of the panel while the engine's thread runs the job, until its ring is gone.
    bool runUntilRingCloses(int seconds = 30) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (g_qround_bar.isNull()) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        return false;
    }
    std::shared_ptr<plat::sim::SimFpga> fpga(int n) {
        return plat::sim::board().find<plat::sim::SimFpga>(n == 0 ? "fpga0" : "fpga1");
    }
};

}  // namespace

TEST_F(EngineScreensTest, MappingSwitchSetsAndClearsBitSevenInBothFpgas) {
    ASSERT_TRUE(runUntilUp());
    systemLinks().cardJobRunner = [] { return true; };  // the job itself is the card-jobs engine's
    g_language = 1;
    SmartMapping screen;
    g_smartmapping = &screen;
    screen.on_Button_mapping_clicked();
    EXPECT_EQ(imageOf(&screen, "Button_mapping_state"), QStringLiteral(":/png/button_off.png"));
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(card_job::operation(), card_job::kMappingSwitch);
    finishJob(&screen);
    screen.on_Button_mapping_clicked();
    EXPECT_EQ(imageOf(&screen, "Button_mapping_state"), QStringLiteral(":/png/button_on.png"));
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0);
    finishJob(&screen);
    g_smartmapping = nullptr;
}

TEST_F(EngineScreensTest, ResetChangingTheLedSizeAsksForTheHandshakeOnceBothFpgasRun) {
    ram()->setRamU16(vlxram::kLedWidth, 64);
    ram()->shadowTakesRam();
    AdvancedOption screen;
    g_set_led_para = 0;
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 0) << "the FPGAs are not up yet";
    ASSERT_TRUE(runUntilUp());
    ram()->setRamU16(vlxram::kLedWidth, 64);
    ram()->shadowTakesRam();
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 1);
}

TEST_F(EngineScreensTest, JobStartsAreRefusedUntilTheEngineThreadTakesJobsAndTheRingThenCloses) {
    SmartMapping screen;
    g_smartmapping = &screen;
    screen.on_Button_paraweld_clicked();
    screen.on_Button_confirm_clicked();  // the scaler has not started the engine's passes yet
    EXPECT_EQ(card_job::operation(), 0);
    EXPECT_TRUE(g_qround_bar.isNull()) << "no ring that nobody would close";
    ASSERT_TRUE(runUntilUp());
    screen.on_Button_confirm_clicked();
    EXPECT_EQ(card_job::operation(), card_job::kSaveParams);
    EXPECT_FALSE(g_qround_bar.isNull());
    EXPECT_TRUE(runUntilRingCloses()) << "no port has cards: 95, then 100 after 200 ticks";
    EXPECT_EQ(card_job::operation(), 0);
    fpga_manage::p_fpga_manage->stopThread();
    screen.on_Button_confirm_clicked();
    EXPECT_EQ(card_job::operation(), 0) << "no thread takes it";
    EXPECT_TRUE(g_qround_bar.isNull());
    screen.on_Button_back_clicked();
    EXPECT_TRUE(g_smartmapping.isNull());
}

namespace {

// Cards plugged through board control, and the engine's search has counted them.
class CardScreensTest : public EngineScreensTest {
protected:
    void SetUp() override {
        EngineScreensTest::SetUp();
        plat::sim::registerChipCommands();
        g_language = 1;
        ram()->setRamByte(vlxram::kLanguage, 1);
        ram()->shadowTakesRam();
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                         Qt::UniqueConnection);
    }
    void cardCommand(int globalPort, int card, const std::string& what) {
        const std::string line = "chip fpga" + std::to_string(globalPort / 16) + " card " +
                                 std::to_string(globalPort % 16) + " " + std::to_string(card) + " " + what;
        ASSERT_EQ(plat::sim::runBoardCommand(line), "OK") << line;
    }
    // What the card took besides searches.
    static std::vector<std::vector<uint8_t>> commands(const plat::sim::SimCard& c) {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : c.received)
            if (f[9] != 0x10) out.push_back(f);
        return out;
    }
    static QString entryText(AdvancedOption* screen, int s) {
        QWidget* frame = screen->findChild<QWidget*>(QStringLiteral("frame_file"));
        if (!frame) return QStringLiteral("<no list>");
        if (QLabel* l = frame->findChild<QLabel*>(QStringLiteral("entry%1").arg(s))) return l->text();
        QLabel* none = frame->findChild<QLabel*>(QStringLiteral("label_none"));
        return none ? none->text() : QStringLiteral("<empty>");
    }
    void plug(int globalPort, int cards) {
        const std::string line = "chip fpga" + std::to_string(globalPort / 16) + " cards " +
                                 std::to_string(globalPort % 16) + " " + std::to_string(cards);
        ASSERT_EQ(plat::sim::runBoardCommand(line), "OK") << line;
    }
    // The cards of a port as they are now, copied under the board's lock: the engine's
    // thread keeps searching them.
    std::vector<plat::sim::SimCard> cards(int globalPort) {
        std::vector<plat::sim::SimCard> now;
        const auto chip = fpga(globalPort / 16);
        plat::sim::board().underLock([&] { now = chip->chain(globalPort % 16)->cards; });
        return now;
    }
    // Ticks until the engine's card table holds `n` cards on each of `ports`.
    bool counted(std::initializer_list<int> ports, int n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            bool all = true;
            for (int p : ports) all = all && fpga_manage::get_port_card_num(p) == n;
            if (all) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return false;
    }
    static uint16_t word(const plat::sim::SimCard& c, uint32_t at) {
        auto a = c.memory.find(at), b = c.memory.find(at + 1);
        return a == c.memory.end() || b == c.memory.end() ? 0xFFFF : uint16_t(a->second | b->second << 8);
    }
};

}  // namespace

TEST_F(CardScreensTest, WizardOfTwoByThreeCabinetsPatternFourWritesEachCardsOrigin) {
    ASSERT_TRUE(runUntilUp());
    plug(21, 6);  // LED22: FPGA 1 port 5
    ASSERT_TRUE(counted({21}, 6));
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    child<QLineEdit>(&screen, "lineEdit_X")->setText(QStringLiteral("128"));
    child<QLineEdit>(&screen, "lineEdit_Y")->setText(QStringLiteral("64"));
    screen.on_Button_next_clicked();
    screen.on_Button_wlan3_clicked();  // LED17~24
    screen.findChild<QFrame*>(QStringLiteral("frame_port"))->findChild<QPushButton*>(QStringLiteral("5"))->click();
    ASSERT_EQ(line_type[line_field::kPort], 21);
    screen.on_Button_next_2_clicked();
    screen.on_Button_route_clicked();
    screen.on_Button_route4_clicked();
    child<QLineEdit>(&screen, "lineEdit_line")->setText(QStringLiteral("2"));
    child<QLineEdit>(&screen, "lineEdit_column")->setText(QStringLiteral("3"));
    child<QLineEdit>(&screen, "lineEdit_horzion")->setText(QStringLiteral("0"));
    child<QLineEdit>(&screen, "lineEdit_vert")->setText(QStringLiteral("0"));
    screen.on_Button_send_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSmartSetup);
    ASSERT_TRUE(runUntilRingCloses());
    const int want[6][2] = {{0, 0}, {128, 0}, {256, 0}, {256, 64}, {128, 64}, {0, 64}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(word(cards(21)[size_t(c)], 0x180), want[c][0]) << "card " << c;
        EXPECT_EQ(word(cards(21)[size_t(c)], 0x182), want[c][1]) << "card " << c;
    }
    EXPECT_TRUE(card_job::unanswered().isEmpty());
    g_smartmapping = nullptr;
}

TEST_F(CardScreensTest, ParameterSavingAndTheMappingSwitchReachEveryPortWithCards) {
    ASSERT_TRUE(runUntilUp());
    for (int p : {0, 9, 16, 31}) plug(p, 3);
    ASSERT_TRUE(counted({0, 9, 16, 31}, 3));
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    screen.on_Button_paraweld_clicked();
    screen.on_Button_confirm_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSaveParams);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) {
            EXPECT_EQ(c.saves, 1u) << "LED" << p + 1;
            EXPECT_TRUE(std::any_of(c.received.begin(), c.received.end(),
                                    [](const std::vector<uint8_t>& f) { return f.size() == 13 && f[9] == 0x81; }));
        }
    screen.on_Button_mapping_clicked();
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0x80);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) EXPECT_EQ(c.mappingDisplay, 9) << "LED" << p + 1;
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) EXPECT_EQ(c.mappingDisplay, 0) << "LED" << p + 1;
    EXPECT_TRUE(card_job::unanswered().isEmpty());
    g_smartmapping = nullptr;
}

TEST_F(CardScreensTest, ACheckListsTheChangedCardAndSelfRecoveryRestoresExactlyThatCard) {
    const QJsonObject map = testkit::generateRcvFile("/data/rcvrecovery/KVFX", R"({"kind": "packed", "screens": [
      {"config_id": 4660, "para_ops": [{"type": 1, "target": 2, "data": "0a0b0c"}],
       "nets": [{"net_ledx": 2, "cards": [[{"type": 1, "target": 1, "addr": 384, "fill": 64, "seed": 1}],
                                          [{"type": 1, "target": 1, "addr": 384, "fill": 64, "seed": 2}],
                                          [{"type": 1, "target": 1, "addr": 384, "fill": 64, "seed": 3}]]}]}]})");
    ASSERT_TRUE(runUntilUp());
    plug(2, 3);
    for (int c = 0; c < 3; ++c) cardCommand(2, c, "config 4660");
    cardCommand(2, 1, "config 99");  // its configuration was changed
    ASSERT_TRUE(counted({2}, 3));
    AdvancedOption screen;
    g_advancedoption = &screen;
    g_page_focus = 12;
    screen.on_Button_rcv_recovery_clicked();
    ASSERT_EQ(pageOf(&screen), 1);
    std::vector<int> ring;
    screen.on_Button_check_clicked();
    ASSERT_FALSE(g_qround_bar.isNull());
    QObject::connect(&screen, &AdvancedOption::sig_qround_bar_update, [&ring](int v) { ring.push_back(v); });
    ASSERT_TRUE(runUntilRingCloses());
    ASSERT_FALSE(ring.empty());
    EXPECT_EQ(ring.back(), 100);
    EXPECT_EQ(entryText(&screen, 0), QStringLiteral("Find Screen01, LED03, Rcv<font color = #FFFFFF >02</font>"));

    const auto chip = fpga(0);
    plat::sim::board().underLock([&] {
        for (auto& c : chip->chain(2)->cards) c.received.clear();
    });
    cardCommand(2, 1, "config 4660");
    screen.on_Button_self_recovery_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSelfRecovery);
    ASSERT_TRUE(runUntilRingCloses());
    const auto got = commands(cards(2)[1]);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(got[0].begin() + 10, got[0].end() - 1), (std::vector<uint8_t>{0x0A, 0x0B, 0x0C}));
    const QJsonObject op =
        map.value("screens").toArray().at(0).toObject().value("nets").toArray().at(0).toObject().value("cards")
            .toArray().at(1).toObject().value("ops").toArray().at(0).toObject();
    EXPECT_EQ(std::vector<uint8_t>(got[1].begin() + 18, got[1].end() - 1), testkit::mapBytes(op));
    EXPECT_TRUE(commands(cards(2)[0]).empty());
    EXPECT_TRUE(commands(cards(2)[2]).empty());
    EXPECT_EQ(entryText(&screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
    g_advancedoption = nullptr;
}

TEST_F(CardScreensTest, ACheckFindingNothingShowsTheNoCardTextAndRecoveryIsRefused) {
    testkit::generateRcvFile("/data/rcvrecovery/KVFX", R"({"kind": "packed", "screens": [
      {"config_id": 5, "nets": [{"net_ledx": 18, "cards": [[], []]}]}]})");
    ASSERT_TRUE(runUntilUp());
    plug(18, 2);
    for (int c = 0; c < 2; ++c) cardCommand(18, c, "config 5");
    ASSERT_TRUE(counted({18}, 2));
    AdvancedOption screen;
    g_advancedoption = &screen;
    g_page_focus = 12;
    screen.on_Button_rcv_recovery_clicked();
    screen.on_Button_check_clicked();
    ASSERT_TRUE(runUntilRingCloses());
    EXPECT_EQ(entryText(&screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
    screen.on_Button_self_recovery_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    EXPECT_TRUE(g_qround_bar.isNull());
    EXPECT_FALSE(fpga_manage::p_fpga_manage->found_card.valid);
    g_advancedoption = nullptr;
}

TEST_F(CardScreensTest, AScanFileOnAStickIsListedGreenAndLoadFillsTheChosenPortsCards) {
    const QJsonObject map = testkit::generateRcvFile("/sim/usb-stick/cabinet.kvfile", R"({"kind": "standalone",
        "ops": [{"type": 1, "target": 1, "addr": 4096, "fill": 1200, "seed": 9}, {"type": 2, "timeticks": 100}]})");
    ASSERT_TRUE(runUntilUp());
    plug(9, 3);
    ASSERT_TRUE(counted({9}, 3));
    UsbServer* usb = UsbServer::pInstance();
    ASSERT_TRUE(usb->running());
    QObject::connect(usb, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                     Qt::UniqueConnection);
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    screen.on_Button_loadscan_clicked();
    screen.on_Button_wlan2_clicked();  // LED9~16
    screen.findChild<QFrame*>(QStringLiteral("frame_port"))->findChild<QPushButton*>(QStringLiteral("1"))->click();
    ASSERT_EQ(line_type[line_field::kPort], 9);
    auto popUp = [this](int type) {
        for (int i = 0; i < 400 && g_tip->currentType() != type; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return g_tip->currentType() == type;
    };
    ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbConnected));
    G_timeTicks += UsbWatch::kSettleTicks;
    ASSERT_TRUE(popUp(0)) << "the reading message goes with the listing";
    ASSERT_EQ(pageOf(&screen), 5);
    ASSERT_EQ(screen.scanPaths(), QStringList{QStringLiteral("/mnt/usb1/cabinet.kvfile")});
    QWidget* list = screen.findChild<QWidget*>(QStringLiteral("frame_file"));
    ASSERT_NE(list, nullptr);
    list->findChild<QPushButton*>(QStringLiteral("0"))->click();
    EXPECT_TRUE(list->findChild<QLabel*>(QStringLiteral("row0"))->styleSheet().contains(QStringLiteral("#00FF00")));
    screen.on_Button_load_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kLoadScan);
    ASSERT_TRUE(runUntilRingCloses());
    const std::vector<uint8_t> data = testkit::mapBytes(map.value("ops").toArray().at(0).toObject());
    for (auto& c : cards(9)) {
        for (size_t k = 0; k < data.size(); ++k) ASSERT_EQ(c.memory[uint32_t(4096 + k)], data[k]) << k;
        EXPECT_EQ(c.saves, 1u);
    }
    EXPECT_TRUE(card_job::unanswered().isEmpty());

    ASSERT_EQ(plat::sim::runBoardCommand("usb remove"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbUnplugged));
    EXPECT_TRUE(screen.scanPaths().isEmpty()) << "the list is rebuilt without the stick";
    g_smartmapping = nullptr;
    UsbServer::resetInstanceForTest();
}

// A PC deletes the scan file being loaded while the engine settles: the load fails, the screen
// says so below the list, and the list shows what is left (the other file, then none: the
// engine then finds no scan-file folder at all).
TEST_F(CardScreensTest, AScanFileDeletedWhileItLoadsIsSaidToHaveFailedAndTheListShowsWhatIsLeft) {
    ASSERT_TRUE(runUntilUp());
    linkFileTransferScreens();
    pcCardFile("KVFR", "SC01", "scan");
    pcCardFile("KVFR", "SC02", "scan");
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    panel_style::placeOnPanel(&screen);
    screen.show();
    testkit::touchWidget(child<QPushButton>(&screen, "Button_loadscan"));
    testkit::touchWidget(child<QPushButton>(&screen, "Button_next_5"));
    ASSERT_EQ(pageOf(&screen), 5);
    QLabel* note = child<QWidget>(&screen, "page_6")->findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(note, nullptr);
    auto loadThenDelete = [&](const char* name) {
        QWidget* list = child<QWidget>(&screen, "frame_file");
        testkit::touchWidget(list->findChild<QPushButton*>(QStringLiteral("0")));
        ASSERT_EQ(g_kvfile_name, QStringLiteral("/data/smartmapping/") + QLatin1String(name));
        testkit::touchWidget(child<QPushButton>(&screen, "Button_load"));
        ASSERT_EQ(card_job::operation(), card_job::kLoadScan);
        EXPECT_FALSE(note->isVisible());
        pcCardFile("KVFR", name);
        ASSERT_LE(job_block::u8(job_block::kStep), 1) << "the engine had chosen its file before the deletion";
        ASSERT_TRUE(runUntilRingCloses());
        for (int i = 0; i < 60000 && card_job::operation() != 0; ++i) {
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ASSERT_EQ(card_job::operation(), 0);
        EXPECT_TRUE(note->isVisible()) << "the ring closed without a word";
        EXPECT_EQ(note->text(), QStringLiteral("Load failed. The list is refreshed."));
        const QStringList cut = testkit::textOverflows(note) + testkit::drawnOverlaps(child<QWidget>(&screen, "page_6"));
        EXPECT_TRUE(cut.isEmpty()) << cut.join(QLatin1Char('\n')).toStdString();
    };
    loadThenDelete("SC01");
    testkit::expectShownInEveryLanguage(
        note, child<QWidget>(&screen, "page_6"),
        QStringList{QStringLiteral("加载失败，列表已刷新"), QStringLiteral("Load failed. The list is refreshed."),
                    QStringLiteral("Загрузка не удалась. Список обновлён."),
                    QStringLiteral("Tải thất bại. Danh sách đã làm mới."), QStringLiteral("加載失敗，列表已刷新")},
        [&screen] { screen.language_changed(); });
    EXPECT_EQ(screen.scanPaths(), QStringList{QStringLiteral("/data/smartmapping/SC02")});
    QLabel* row = child<QWidget>(&screen, "frame_file")->findChild<QLabel*>(QStringLiteral("row0"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(), QStringLiteral("SC02"));
    loadThenDelete("SC02");
    EXPECT_TRUE(screen.scanPaths().isEmpty());
    QLabel* none = child<QWidget>(&screen, "frame_file")->findChild<QLabel*>(QStringLiteral("label_none"));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->text(), QStringLiteral("No loaded file!"));
    g_smartmapping = nullptr;
}
