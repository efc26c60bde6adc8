// Smart mapping: the wizard's bytes, the port grid, scan files from the controller and a
// stick, parameter saving and the mapping switch, and what a running job keeps unchanged.
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>

#include <cstdio>
#include <unistd.h>

#include "platform/sim/sim_board.h"
#include "support/panel_touch.h"
#include "support/text_fit.h"
#include "system_fixture.h"

using namespace systemtest;

namespace {

QWidget* grid(QWidget* screen) { return screen->findChild<QWidget*>(QStringLiteral("frame_port")); }
QWidget* files(QWidget* screen) { return screen->findChild<QWidget*>(QStringLiteral("frame_file")); }

void tapCell(QWidget* screen, int cell) {
    QWidget* g = grid(screen);
    ASSERT_NE(g, nullptr);
    g->findChild<QPushButton*>(QString::number(cell))->click();
}

QString cellStyle(QWidget* screen, int cell) {
    return grid(screen)->findChild<QFrame*>(QStringLiteral("cell%1").arg(cell))->styleSheet();
}

QLabel* row(QWidget* screen, int r) {
    QWidget* f = files(screen);
    return f ? f->findChild<QLabel*>(QStringLiteral("row%1").arg(r)) : nullptr;
}

class SmartMappingTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        g_language = 1;
        ram()->setRamByte(vlxram::kLanguage, 1);
        ram()->shadowTakesRam();
    }
    SmartMapping* open() {
        screen = new SmartMapping;
        g_smartmapping = screen;
        g_page_focus = 24;
        return screen;
    }
    SmartMapping* screen = nullptr;
};

}  // namespace

TEST_F(SmartMappingTest, WizardStoresTheTypedValuesAndHandsJobOneOver) {
    open();
    EXPECT_EQ(pageOf(screen), 0);
    EXPECT_EQ(child<QLineEdit>(screen, "lineEdit_X")->text(), QStringLiteral("128"));
    EXPECT_EQ(child<QLineEdit>(screen, "lineEdit_Y")->text(), QStringLiteral("96"));
    child<QLineEdit>(screen, "lineEdit_X")->setText(QStringLiteral("4464"));
    screen->on_Button_next_clicked();
    EXPECT_EQ(pageOf(screen), 1);
    EXPECT_EQ(line_field::u16(line_field::kCabinetWidth), 4464);
    EXPECT_EQ(line_field::u16(line_field::kCabinetHeight), 96);
    EXPECT_TRUE(child<QPushButton>(screen, "Button_wlan1")->styleSheet().contains(QStringLiteral("#4777FF")));
    EXPECT_EQ(cellStyle(screen, 0), QStringLiteral("background-color: #212435;border:1px solid #00D65B;"));
    screen->on_Button_next_2_clicked();
    EXPECT_EQ(child<QPushButton>(screen, "Button_route")->text(), QStringLiteral("Routing 1"));
    screen->on_Button_route_clicked();
    screen->on_Button_route4_clicked();
    EXPECT_EQ(pageOf(screen), 2);
    EXPECT_EQ(line_type[line_field::kPattern], 4);
    EXPECT_EQ(imageOf(screen, "Button_route"), QStringLiteral(":/png/line4.png"));

    child<QLineEdit>(screen, "lineEdit_line")->setText(QStringLiteral("44"));
    child<QLineEdit>(screen, "lineEdit_column")->setText(QStringLiteral("3"));
    child<QLineEdit>(screen, "lineEdit_horzion")->setText(QStringLiteral("x"));
    child<QLineEdit>(screen, "lineEdit_vert")->setText(QStringLiteral("64"));
    // no number is no offset: Send says so and runs nothing
    screen->on_Button_send_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    QLabel* note = child<QWidget>(screen, "page_3")->findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains(QStringLiteral("52143"))) << note->text().toStdString();
    child<QLineEdit>(screen, "lineEdit_horzion")->setText(QStringLiteral("0"));
    screen->on_Button_send_clicked();
    EXPECT_EQ(line_type[line_field::kRows], 44);
    EXPECT_EQ(line_type[line_field::kColumns], 3);
    EXPECT_EQ(line_field::u16(line_field::kOffsetX), 0);
    EXPECT_EQ(line_field::u16(line_field::kOffsetY), 64);
    EXPECT_EQ(card_job::operation(), card_job::kSmartSetup);
    ASSERT_FALSE(g_qround_bar.isNull());
    finishJob(screen);
    EXPECT_TRUE(g_qround_bar.isNull());
}

TEST_F(SmartMappingTest, KeypadResultsReachOnlyTheFieldThatAskedForThem) {
    open();
    auto* rows = child<QLineEdit>(screen, "lineEdit_line");
    QTimer::singleShot(0, [] {
        for (int d : {2, 5}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    QMetaObject::invokeMethod(rows, "send_show", Q_ARG(QString, rows->text()));
    EXPECT_EQ(rows->text(), QStringLiteral("25"));
    EXPECT_EQ(g_numberkeyboard->title(), QStringLiteral("rows"));
    // a later result asked for by another screen's field of the same name
    QLineEdit other;
    other.setObjectName(QStringLiteral("lineEdit_line"));
    g_lineedit = &other;
    screen->confirmString(QStringLiteral("9"));
    EXPECT_EQ(rows->text(), QStringLiteral("25"));
}

// The touch thread queues touches as they come: OK and a touch on the next field can be taken
// in one pass, while the keypad's run is still ending. The field gets the keypad next.
TEST_F(SmartMappingTest, AFieldTouchedAsTheKeypadClosesGetsTheKeypadOnceItsRunHasEnded) {
    open();
    panel_style::placeOnPanel(screen);
    screen->show();
    QLineEdit* width = child<QLineEdit>(screen, "lineEdit_X");
    QLineEdit* height = child<QLineEdit>(screen, "lineEdit_Y");
    auto key = [](const char* name) {
        testkit::touchWidget(g_numberkeyboard->findChild<QPushButton*>(QLatin1String(name)));
    };
    bool heightAsked = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!g_numberkeyboard->isVisible() || g_numberkeyboard->title() != QLatin1String("height")) return;
        answer.stop();
        heightAsked = true;
        key("Button_7");
        key("Button_ok");
    });
    QTimer::singleShot(0, [&] {
        key("Button_3");
        answer.start();
        for (const QPoint& at : {testkit::panelPointOf(g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))),
                                 testkit::panelPointOf(height)})
            plat::sim::board().queueTouch(at.x(), at.y());
        // read and handed to the GUI thread as the touch watcher does
        TouchEventSource source;
        ASSERT_TRUE(source.open());
        int presses = 0;
        source.onPress = [&presses](int x, int y) {
            ++presses;
            QMetaObject::invokeMethod(qApp, [x, y] { lcd_touch::clickAt(x, y); }, Qt::QueuedConnection);
        };
        for (int i = 0; i < 10 && presses < 2; ++i) ASSERT_GE(source.readTouches(), 0);
    });
    testkit::touchWidget(width);
    QElapsedTimer clock;
    clock.start();
    while ((answer.isActive() || g_numberkeyboard->isVisible()) && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(heightAsked) << "the second request was lost";
    EXPECT_EQ(width->text(), QStringLiteral("3"));
    EXPECT_EQ(height->text(), QStringLiteral("7"));
}

TEST_F(SmartMappingTest, PortCellSetsThePortAndAGroupChangeKeepsIt) {
    open();
    screen->on_Button_next_clicked();
    screen->on_Button_wlan4_clicked();
    tapCell(screen, 7);
    EXPECT_EQ(line_type[line_field::kPort], 31);
    EXPECT_EQ(cellStyle(screen, 7), QStringLiteral("background-color: #212435;border:1px solid #00D65B;"));
    EXPECT_EQ(grid(screen)->findChild<QLabel*>(QStringLiteral("name7"))->text(), QStringLiteral("LED32"));
    screen->on_Button_wlan1_clicked();
    EXPECT_EQ(line_type[line_field::kPort], 31);
    for (int c = 0; c < 8; ++c) EXPECT_FALSE(cellStyle(screen, c).contains(QStringLiteral("00D65B"))) << c;
}

TEST_F(SmartMappingTest, EveryJobControlIsRefusedWhileARingIsUp) {
    for (int i = 0; i < 3; ++i) testkit::writeFile("/data/smartmapping/s" + std::to_string(i) + ".kvfile", "x");
    for (int i = 0; i < 4; ++i) testkit::writeFile("/mnt/usb1/u" + std::to_string(i) + ".kvfile", "x");
    open();
    screen->on_Button_loadscan_clicked();
    screen->on_Button_wlan6_clicked();
    tapCell(screen, 2);
    EXPECT_EQ(line_type[line_field::kPort], 10);
    screen->on_Button_next_5_clicked();
    ASSERT_EQ(pageOf(screen), 5);
    screen->on_Button_load_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kLoadScan);
    EXPECT_EQ(g_kvfile_name, QStringLiteral("/data/smartmapping/s0.kvfile"));
    const QString loading = g_kvfile_name;

    // every start, every change of what the job reads, every close
    g_send_para[0] = 0;  // the engine has cleared its block, its 100 not yet here
    screen->on_Button_load_clicked();
    screen->on_Button_confirm_clicked();
    screen->on_Button_mapping_state_clicked();
    screen->on_Button_send_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    g_send_para[0] = card_job::kLoadScan;
    files(screen)->findChild<QPushButton*>(QStringLiteral("2"))->click();
    files(screen)->findChild<QPushButton*>(QStringLiteral("next"))->click();
    EXPECT_EQ(screen->currentPage(), 0);
    EXPECT_EQ(g_kvfile_name, loading);
    SyncUpdate::pInstance()->para_sync(102);  // a stick becomes ready mid-load
    SyncUpdate::pInstance()->para_sync(101);
    EXPECT_EQ(g_kvfile_name, loading);
    screen->on_Button_front_6_clicked();
    EXPECT_EQ(pageOf(screen), 5);
    screen->on_Button_shortcut_clicked();
    screen->on_Button_paraweld_clicked();
    screen->on_Button_mapping_clicked();
    screen->on_Button_loadscan_clicked();
    EXPECT_EQ(pageOf(screen), 5);
    screen->on_Button_front_3_clicked();
    screen->on_Button_wlan6_clicked();
    tapCell(screen, 5);
    EXPECT_EQ(line_type[line_field::kPort], 10) << "the port of the running load";
    screen->on_Button_back_clicked();
    static_cast<QDialog*>(screen)->reject();  // Esc
    SmartMapping::requestBack();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_smartmapping.data(), screen);

    finishJob(screen);
    screen->on_Button_back_clicked();
    EXPECT_TRUE(g_smartmapping.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(SmartMappingTest, ScanFileStoredOrDeletedOverTheProtocolClosesTheScreen) {
    std::vector<bool> emptied;
    systemLinks().emptyCardFileList = [&](bool recovery) { emptied.push_back(recovery); };
    linkFileTransferScreens();
    for (const char* content : {"scan", static_cast<const char*>(nullptr)}) {
        open();
        pcCardFile("KVFR", "m1\0\0", content);
        EXPECT_TRUE(g_smartmapping.isNull()) << (content ? "stored" : "deleted");
        EXPECT_EQ(g_page_focus.load(), 5);
        shelltest::flushDeletes();
    }
    EXPECT_EQ(emptied, std::vector<bool>{false}) << "the reader's scan-file list, on the deletion";
}

TEST_F(SmartMappingTest, ScanFilesOneRuleForCountAndListLocalFirstUsbGreen) {
    // a stick's other files, and what in the controller's folder is no plain file, are no scan files
    testkit::writeFile("/mnt/usb1/readme.txt", "not a scan file");
    testkit::writeFile("/mnt/usb1/UPPER.KVFILE", "x");
    testkit::writeFile("/data/smartmapping/.SC01.part", "a transfer under way");
    QDir().mkpath(QString::fromStdString(plat::path("/data/smartmapping/dir.kvfile")));
    open();
    EXPECT_EQ(screen->scanFileCount(), 0u) << "only scan files count";
    EXPECT_TRUE(child<QPushButton>(screen, "Button_loadscan")->styleSheet().contains(QStringLiteral("gray")));
    screen->on_Button_loadscan_clicked();
    EXPECT_EQ(pageOf(screen), 0);

    // an empty list: the message and no page buttons
    screen->on_Button_next_5_clicked();
    EXPECT_EQ(screen->lastPage(), 0);
    EXPECT_EQ(files(screen)->findChild<QLabel*>(QStringLiteral("label_none"))->text(), QStringLiteral("No loaded file!"));
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("next")), nullptr);
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("previous")), nullptr);

    for (const char* n : {"a.kvfile", "b.b.kvfile", "c.kvfile"}) testkit::writeFile(std::string("/data/smartmapping/") + n, "x");
    ASSERT_EQ(::symlink(plat::path("/data/smartmapping/a.kvfile").c_str(),
                        plat::path("/data/smartmapping/link.kvfile").c_str()), 0);
    testkit::writeFile("/mnt/usb1/<b>bold.kvfile", "x");
    testkit::writeFile("/mnt/usb1/z.kvfile", "x");
    SyncUpdate::pInstance()->para_sync(102);  // the stick became ready: the list is rebuilt and shown
    EXPECT_EQ(g_tip->currentType(), 0) << "the reading message goes once the stick's files are listed";
    EXPECT_FALSE(g_tip->isVisible());
    ASSERT_EQ(pageOf(screen), 5);
    EXPECT_EQ(screen->scanFileCount(), 5u) << "Load takes the files the list shows";
    EXPECT_EQ(screen->scanPaths(),
              QStringList({"/data/smartmapping/a.kvfile", "/data/smartmapping/b.b.kvfile", "/data/smartmapping/c.kvfile",
                           "/mnt/usb1/<b>bold.kvfile", "/mnt/usb1/z.kvfile"}));
    EXPECT_EQ(row(screen, 0)->styleSheet(), QStringLiteral("background-color:#4777FF;color: #FFFFFF"));
    EXPECT_EQ(row(screen, 2)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF"));
    EXPECT_EQ(row(screen, 3)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #00FF00"));
    EXPECT_EQ(row(screen, 3)->textFormat(), Qt::PlainText);
    EXPECT_EQ(row(screen, 3)->text(), QStringLiteral("<b>bold.kvfile"));
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("next")), nullptr) << "five files: one page";
    files(screen)->findChild<QPushButton*>(QStringLiteral("4"))->click();
    EXPECT_EQ(g_kvfile_name, QStringLiteral("/mnt/usb1/z.kvfile"));
    EXPECT_EQ(row(screen, 4)->styleSheet(), QStringLiteral("background-color:#4777FF;color: #00FF00;"));
    screen->on_Button_load_clicked();
    EXPECT_EQ(card_job::operation(), card_job::kLoadScan);
    finishJob(screen);

    // the stick is pulled: the list follows
    QDir(QString::fromStdString(plat::path("/mnt/usb1"))).removeRecursively();
    SyncUpdate::pInstance()->para_sync(101);
    EXPECT_EQ(g_tip->currentType(), int(TIP::kUsbUnplugged));
    EXPECT_EQ(screen->scanPaths().size(), 3);
    SyncUpdate::pInstance()->para_sync(100);
    EXPECT_EQ(g_tip->currentType(), int(TIP::kUsbConnected));
}

// The PC stores a scan file in the controller's folder under its four-character name, no suffix.
TEST_F(SmartMappingTest, AScanFileStoredByThePcIsCountedListedAndLoaded) {
    pcCardFile("KVFR", "SC01", "scan");
    open();
    EXPECT_EQ(screen->scanFileCount(), 1u);
    QPushButton* tile = child<QPushButton>(screen, "Button_loadscan");
    EXPECT_FALSE(tile->styleSheet().contains(QStringLiteral("gray"))) << "the load-scan tile is active";
    panel_style::placeOnPanel(screen);
    screen->show();
    testkit::touchWidget(tile);
    ASSERT_EQ(pageOf(screen), 4);
    testkit::touchWidget(child<QPushButton>(screen, "Button_next_5"));
    ASSERT_EQ(pageOf(screen), 5);
    ASSERT_NE(row(screen, 0), nullptr);
    EXPECT_EQ(row(screen, 0)->text(), QStringLiteral("SC01"));
    testkit::touchWidget(files(screen)->findChild<QPushButton*>(QStringLiteral("0")));
    EXPECT_EQ(g_kvfile_name, QStringLiteral("/data/smartmapping/SC01"));
    testkit::touchWidget(child<QPushButton>(screen, "Button_load"));
    EXPECT_EQ(card_job::operation(), card_job::kLoadScan);
    ASSERT_FALSE(g_qround_bar.isNull());
    const QStringList covered = testkit::drawnOverlaps(screen);
    EXPECT_TRUE(covered.isEmpty()) << covered.join(QLatin1Char('\n')).toStdString();
    finishJob(screen);
}

// Card positions are 16-bit: an offset takes what the grid of cabinets leaves of the canvas.
TEST_F(SmartMappingTest, OffsetFieldsTakeOnlyWhatTheGridLeavesOfTheCanvas) {
    open();
    panel_style::placeOnPanel(screen);
    screen->show();
    auto type = [](QLineEdit* field, const char* digits) {
        QTimer::singleShot(0, [digits] {
            for (const char* d = digits; *d; ++d) g_numberkeyboard->pressDigit(*d - '0');
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
        });
        testkit::touchWidget(field);
    };
    testkit::touchWidget(child<QPushButton>(screen, "Button_next"));
    testkit::touchWidget(child<QPushButton>(screen, "Button_next_2"));
    ASSERT_EQ(pageOf(screen), 2);
    auto* x = child<QLineEdit>(screen, "lineEdit_horzion");
    auto* y = child<QLineEdit>(screen, "lineEdit_vert");
    type(child<QLineEdit>(screen, "lineEdit_column"), "100");  // 100 cabinets of 128: 12800 px
    type(child<QLineEdit>(screen, "lineEdit_line"), "10");     // 10 of 96: 960 px
    auto* refused = child<QWidget>(screen, "page_3")->findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(refused, nullptr);
    type(x, "9999999");
    EXPECT_EQ(x->text(), QStringLiteral("0"));
    testkit::expectShownInEveryLanguage(refused, child<QWidget>(screen, "page_3"), QStringLiteral("52735"),
                                        [this] { screen->language_changed(); });
    type(x, "52736");
    EXPECT_EQ(x->text(), QStringLiteral("0"));
    type(x, "52735");
    EXPECT_EQ(x->text(), QStringLiteral("52735"));
    EXPECT_FALSE(refused->isVisible());
    type(y, "64576");
    EXPECT_EQ(y->text(), QStringLiteral("0"));
    type(y, "64575");
    EXPECT_EQ(y->text(), QStringLiteral("64575"));
    testkit::touchWidget(child<QPushButton>(screen, "Button_send"));
    EXPECT_EQ(line_field::u16(line_field::kOffsetX), 52735);
    EXPECT_EQ(line_field::u16(line_field::kOffsetY), 64575);
    finishJob(screen);
}

// The job block holds the cabinet size in 16 bits, rows and columns in 8: a number past that is
// refused with the range on the field's page, never sent as its low bits (65664 as 128, 256 as 0),
// and the keypad takes no more digits than the field holds.
TEST_F(SmartMappingTest, CabinetSizeRowsAndColumnsPastWhatTheyAreSentInAreRefusedOnScreen) {
    open();
    panel_style::placeOnPanel(screen);
    screen->show();
    struct Case {
        const char* page;
        const char* field;
        const char* over;
        const char* kept;
        const char* range;
        const char* typed;
        const char* taken;
    };
    for (const Case& c : {Case{"page", "lineEdit_X", "65664", "128", "65535", "123456789012345678", "12345"},
                          Case{"page_3", "lineEdit_line", "256", "1", "255", "2550", "255"}}) {
        if (QLatin1String(c.page) == QLatin1String("page_3")) {
            testkit::touchWidget(child<QPushButton>(screen, "Button_next"));
            testkit::touchWidget(child<QPushButton>(screen, "Button_next_2"));
        }
        QWidget* page = child<QWidget>(screen, c.page);
        ASSERT_EQ(child<QStackedWidget>(screen, "stackedWidget")->currentWidget(), page);
        auto* field = child<QLineEdit>(screen, c.field);
        auto* note = page->findChild<QLabel*>(QStringLiteral("label_refused"));
        ASSERT_NE(note, nullptr);
        ASSERT_TRUE(testkit::typeByTouch(field, QLatin1String(c.over)));
        EXPECT_EQ(field->text(), QLatin1String(c.kept));
        testkit::expectShownInEveryLanguage(note, page, QLatin1String(c.range), [this] { screen->language_changed(); });
        ASSERT_TRUE(testkit::typeByTouch(field, QLatin1String(c.typed)));
        EXPECT_EQ(field->text(), QLatin1String(c.taken)) << "the keypad took no more digits than the field holds";
        EXPECT_FALSE(note->isVisible());
    }
    testkit::touchWidget(child<QPushButton>(screen, "Button_send"));
    ASSERT_EQ(card_job::operation(), card_job::kSmartSetup);
    EXPECT_EQ(line_field::u16(line_field::kCabinetWidth), 12345);
    EXPECT_EQ(line_type[line_field::kRows], 255);
    finishJob(screen);
}

TEST_F(SmartMappingTest, SixFilesMakeTwoPagesAndTheSecondChoosesNothingUntilTapped) {
    for (int i = 0; i < 6; ++i) testkit::writeFile("/data/smartmapping/f" + std::to_string(i) + ".kvfile", "x");
    open();
    screen->on_Button_loadscan_clicked();
    screen->on_Button_next_5_clicked();
    EXPECT_EQ(screen->lastPage(), 1);
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("previous")), nullptr);
    files(screen)->findChild<QPushButton*>(QStringLiteral("next"))->click();
    EXPECT_EQ(screen->currentPage(), 1);
    EXPECT_NE(files(screen)->findChild<QPushButton*>(QStringLiteral("previous")), nullptr);
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("next")), nullptr);
    EXPECT_EQ(row(screen, 1), nullptr);
    EXPECT_TRUE(g_kvfile_name.isEmpty());
    screen->on_Button_load_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    files(screen)->findChild<QPushButton*>(QStringLiteral("0"))->click();
    EXPECT_EQ(g_kvfile_name, QStringLiteral("/data/smartmapping/f5.kvfile"));
}

TEST_F(SmartMappingTest, StickReadyWhileTheWizardIsInFrontShowsTheFileList) {
    testkit::writeFile("/mnt/usb1/scan.kvfile", "x");
    open();
    screen->on_Button_next_clicked();
    SyncUpdate::pInstance()->para_sync(102);
    EXPECT_EQ(pageOf(screen), 5);
    EXPECT_TRUE(child<QPushButton>(screen, "Button_shortcut")->styleSheet().contains(QStringLiteral("#4777FF")));
    EXPECT_EQ(row(screen, 0)->text(), QStringLiteral("scan.kvfile"));
}

TEST_F(SmartMappingTest, ParameterSavingAndTheMappingSwitchReachTheEngine) {
    open();
    screen->on_Button_paraweld_clicked();
    EXPECT_EQ(pageOf(screen), 6);
    screen->on_Button_confirm_clicked();
    EXPECT_EQ(card_job::operation(), card_job::kSaveParams);
    finishJob(screen);

    regs[0][0] = 0x80;  // only FPGA 0 maps
    regs[1][0] = 0x01;
    screen->on_Button_mapping_clicked();
    EXPECT_EQ(pageOf(screen), 7);
    EXPECT_EQ(imageOf(screen, "Button_mapping_state"), QStringLiteral(":/png/button_off.png"));
    screen->on_Button_mapping_state_clicked();
    EXPECT_EQ(regs[0][0], 0x80);
    EXPECT_EQ(regs[1][0], 0x81);
    EXPECT_EQ(g_send_para[card_job::kArgumentWord], 9);
    EXPECT_EQ(card_job::operation(), card_job::kMappingSwitch);
    EXPECT_EQ(imageOf(screen, "Button_mapping_state"), QStringLiteral(":/png/button_on.png"));
    finishJob(screen);
    screen->on_Button_mapping_state_clicked();
    EXPECT_EQ(regs[0][0], 0x00);
    EXPECT_EQ(regs[1][0], 0x01);
    EXPECT_EQ(g_send_para[card_job::kArgumentWord], 0);
    EXPECT_EQ(imageOf(screen, "Button_mapping_state"), QStringLiteral(":/png/button_off.png"));
    finishJob(screen);
}

TEST_F(SmartMappingTest, LanguageChangeOnThePatternPageRelabelsEveryPattern) {
    open();
    screen->on_Button_next_clicked();
    screen->on_Button_next_2_clicked();
    screen->on_Button_route_clicked();
    ram()->setRamByte(vlxram::kLanguage, 2);
    screen->syncUpdate(1);
    EXPECT_EQ(child<QToolButton>(screen, "Button_route16")->text(), QStringLiteral("Маршрут16"));
    EXPECT_EQ(child<QPushButton>(screen, "Button_route")->text(), QStringLiteral("Маршрут1"));
    EXPECT_EQ(child<QLabel>(screen, "label_title")->text(), QStringLiteral("Умная регулировка экрана"));
}

TEST_F(SmartMappingTest, AtMostOneHundredScanFilesLocalOnesFirstThenTheSticks) {
    auto name = [](const char* prefix, int i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%03d.kvfile", prefix, i);
        return std::string(buf);
    };
    for (int i = 0; i < 98; ++i) testkit::writeFile("/data/smartmapping/" + name("l", i), "x");
    for (int i = 0; i < 5; ++i) testkit::writeFile("/mnt/usb1/" + name("u", i), "x");
    open();
    EXPECT_EQ(screen->scanFileCount(), 100u);
    screen->on_Button_loadscan_clicked();
    screen->on_Button_next_5_clicked();
    ASSERT_EQ(screen->scanPaths().size(), 100);
    EXPECT_EQ(screen->scanPaths().at(97), QString::fromStdString("/data/smartmapping/" + name("l", 97)));
    EXPECT_EQ(screen->scanPaths().at(98), QString::fromStdString("/mnt/usb1/" + name("u", 0)));
    EXPECT_EQ(screen->scanPaths().at(99), QString::fromStdString("/mnt/usb1/" + name("u", 1)));
    EXPECT_EQ(screen->lastPage(), 19);
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("previous")), nullptr);
    for (int p = 0; p < 19; ++p) files(screen)->findChild<QPushButton*>(QStringLiteral("next"))->click();
    ASSERT_EQ(screen->currentPage(), 19);
    EXPECT_EQ(files(screen)->findChild<QPushButton*>(QStringLiteral("next")), nullptr);
    EXPECT_EQ(row(screen, 2)->text(), QString::fromStdString(name("l", 97)));
    EXPECT_EQ(row(screen, 2)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF"));
    EXPECT_EQ(row(screen, 3)->text(), QString::fromStdString(name("u", 0)));
    EXPECT_EQ(row(screen, 3)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #00FF00"));
    files(screen)->findChild<QPushButton*>(QStringLiteral("4"))->click();
    EXPECT_EQ(g_kvfile_name, QString::fromStdString("/mnt/usb1/" + name("u", 1)));

    // more local files than the list holds: no row of the stick is left
    for (int i = 98; i < 103; ++i) testkit::writeFile("/data/smartmapping/" + name("l", i), "x");
    SyncUpdate::pInstance()->para_sync(102);
    ASSERT_EQ(screen->scanPaths().size(), 100);
    EXPECT_EQ(screen->scanFileCount(), 100u);
    EXPECT_EQ(screen->scanPaths().last(), QString::fromStdString("/data/smartmapping/" + name("l", 99)));
    for (int p = 0; p < 19; ++p) files(screen)->findChild<QPushButton*>(QStringLiteral("next"))->click();
    EXPECT_EQ(row(screen, 4)->styleSheet(), QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF"));
}

TEST_F(SmartMappingTest, TheRunningSetUpsPatternAndCabinetStayWhileItsRingIsUp) {
    open();
    screen->on_Button_next_clicked();
    screen->on_Button_next_2_clicked();
    screen->on_Button_route_clicked();
    screen->on_Button_route4_clicked();
    screen->on_Button_send_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSmartSetup);
    // the engine reads the grid for every card it sends an origin to
    screen->on_Button_route_clicked();
    screen->on_Button_route7_clicked();
    EXPECT_EQ(line_type[line_field::kPattern], 4);
    child<QLineEdit>(screen, "lineEdit_X")->setText(QStringLiteral("64"));
    child<QLineEdit>(screen, "lineEdit_Y")->setText(QStringLiteral("32"));
    screen->on_Button_next_clicked();
    EXPECT_EQ(line_field::u16(line_field::kCabinetWidth), 128);
    EXPECT_EQ(line_field::u16(line_field::kCabinetHeight), 96);
    finishJob(screen);
    screen->on_Button_route_clicked();
    screen->on_Button_route7_clicked();
    EXPECT_EQ(line_type[line_field::kPattern], 7) << "free again once the job is over";
}
