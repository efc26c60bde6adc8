// Link screen: octet fields, network Apply through the settings file and the shell, the
// upgrade packages of a USB stick, Load and the change codes of the USB watcher and the engine.
#include <QLabel>
#include <QLineEdit>

#include <unistd.h>

#include <cstdio>

#include <chrono>
#include <thread>

#include "core/config_engine.h"
#include "output_fixture.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "protocol/usbserver.h"
#include "ui/output/linkoption.h"

using outputtest::answerKeypad;
using outputtest::OutputTest;

namespace {

class LinkOptionTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        ConfigEngine::pInstance();
        g_str_ip = QStringLiteral("192.168.1.199");
        g_srt_mask = QStringLiteral("255.255.255.0");
        g_str_gateway = QStringLiteral("192.168.1.1");
        g_usb_grade_path = QStringLiteral("VLX-H71");
        QObject::connect(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para,
                         [this](int code) { codes_.append(code); });
        std::lock_guard<std::mutex> lock(shell_->mutex);
        shell_->commands.clear();  // the settings file made at start-up
    }
    void TearDown() override {
        UsbServer::resetInstanceForTest();
        OutputTest::TearDown();
        ConfigEngine::resetInstanceForTest();
    }
    QLineEdit* edit(LinkOption& l, const QString& name) { return l.findChild<QLineEdit*>(name); }
    QString text(LinkOption& l, const char* name) { return edit(l, QLatin1String(name))->text(); }
    void type(LinkOption& l, const char* field, const QString& digits) {
        answerKeypad(digits);
        outputtest::touch(edit(l, QLatin1String(field)));
    }
    void apply(LinkOption& l) { l.findChild<QPushButton*>(QStringLiteral("Button_net_apply"))->click(); }
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(shell_->mutex);
        return shell_->commands;
    }
    // A file on the stick (device path under /mnt/usb1/).
    void stickFile(const std::string& name) { testkit::writeFile("/mnt/usb1/" + name, "package"); }
    QStringList rowTexts(LinkOption& l) {
        QStringList out;
        QWidget* frame = l.findChild<QWidget*>(QStringLiteral("frame_file"));
        for (int r = 0; r < LinkOption::kRowsPerPage; ++r)
            if (QLabel* row = frame->findChild<QLabel*>(QStringLiteral("row%1").arg(r))) out << row->text();
        return out;
    }

    QList<int> codes_;
};

}  // namespace

TEST_F(LinkOptionTest, TypedOctetsAreCheckedAndTheFirstThreeProposeTheGateway) {
    LinkOption l;
    EXPECT_EQ(text(l, "lineEditIp4"), QStringLiteral("199"));
    EXPECT_EQ(text(l, "lineEditMask3"), QStringLiteral("255"));
    type(l, "lineEditIp2", QStringLiteral("10"));
    EXPECT_EQ(text(l, "lineEditIp2"), QStringLiteral("10"));
    EXPECT_EQ(text(l, "lineEditGate2"), QStringLiteral("10"));
    type(l, "lineEditIp4", QStringLiteral("7"));
    EXPECT_EQ(text(l, "lineEditIp4"), QStringLiteral("7"));
    EXPECT_EQ(text(l, "lineEditGate4"), QStringLiteral("1"));
    type(l, "lineEditMask4", QStringLiteral("256"));
    EXPECT_EQ(text(l, "lineEditMask4"), QStringLiteral("0"));
    outputtest::answerKeypadEmpty();
    outputtest::touch(edit(l, QStringLiteral("lineEditIp1")));
    EXPECT_EQ(text(l, "lineEditIp1"), QStringLiteral("192"));
    g_language = 1;
    answerKeypad(QStringLiteral("1"));
    outputtest::touch(edit(l, QStringLiteral("lineEditGate3")));
    EXPECT_EQ(g_numberkeyboard->title(), QStringLiteral("gateway"));
    // an answer for a field of another screen is not this screen's
    QLineEdit other;
    g_lineedit = &other;
    l.confirmString(QStringLiteral("9"));
    EXPECT_EQ(text(l, "lineEditIp1"), QStringLiteral("192"));
}

// The settings file can hold anything: Apply says which range an octet has, stores and runs nothing.
TEST_F(LinkOptionTest, AnAddressFromTheSettingsFileThatIsNoAddressIsRefusedOnScreenAtApply) {
    g_language = 1;
    g_str_ip = QStringLiteral("192.168.1.300");
    LinkOption l;
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    apply(l);
    QLabel* note = l.findChild<QLabel*>(QStringLiteral("label_refused"));
    ASSERT_NE(note, nullptr);
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(note->text(), QStringLiteral("Refused: this field takes 0 to 255"));
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(testkit::readFile("/data/configs/tcpip.ini"), ini);
    EXPECT_EQ(g_str_ip, QStringLiteral("192.168.1.300"));
}

TEST_F(LinkOptionTest, UnchangedApplyWritesNothingAndRunsNothing) {
    LinkOption l;
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    apply(l);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(testkit::readFile("/data/configs/tcpip.ini"), ini);
    EXPECT_TRUE(codes_.isEmpty());
}

TEST_F(LinkOptionTest, ChangedGatewayWritesAllThreeItemsThenSetsTheInterfaceUp) {
    LinkOption l;
    type(l, "lineEditGate4", QStringLiteral("9"));
    apply(l);
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    EXPECT_NE(ini.find("IPAddress=192.168.1.199"), std::string::npos) << ini;
    EXPECT_NE(ini.find("SubNetMask=255.255.255.0"), std::string::npos) << ini;
    EXPECT_NE(ini.find("GateWay=192.168.1.9"), std::string::npos) << ini;
    // the settings file is written first, then synced, then the interface set up
    std::vector<std::string> ran = commands();
    ASSERT_GE(ran.size(), 8u);
    EXPECT_EQ(ran.front().rfind("sync", 0), 0u) << ran.front();
    ran.erase(ran.begin(), ran.end() - 8);
    const std::vector<std::string> expected = {"sync",
                                               "ifconfig eth0 &>/dev/null",
                                               "route del default wlan0",
                                               "ifconfig eth0 192.168.1.199 netmask 255.255.255.0",
                                               "route add -host 192.168.1.9 dev eth0",
                                               "route add default gw 192.168.1.9 metric 100",
                                               "route add -host 255.255.255.255 eth0",
                                               "route del 255.255.255.255 wlan1"};
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(g_str_gateway, QStringLiteral("192.168.1.9"));
    EXPECT_EQ(codes_, QList<int>{1});
}

TEST_F(LinkOptionTest, ApplyWithoutEthernetInterfaceShowsNoDoneMark) {
    shell_->status = 1;  // no eth0
    LinkOption l;
    type(l, "lineEditIp4", QStringLiteral("200"));
    apply(l);
    EXPECT_NE(testkit::readFile("/data/configs/tcpip.ini").find("IPAddress=192.168.1.200"), std::string::npos);
    EXPECT_EQ(shell_->count("ifconfig eth0 &>/dev/null"), 1u);
    EXPECT_TRUE(codes_.isEmpty()) << "nothing was applied";
}

TEST_F(LinkOptionTest, StoredAddressThatIsNoAddressIsNeverApplied) {
    g_str_ip = QStringLiteral("1.2.3.4;reboot");
    LinkOption l;
    EXPECT_EQ(text(l, "lineEditIp4"), QStringLiteral("4;reboot"));
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    type(l, "lineEditGate4", QStringLiteral("9"));
    apply(l);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(testkit::readFile("/data/configs/tcpip.ini"), ini);
    EXPECT_TRUE(codes_.isEmpty());
}

TEST_F(LinkOptionTest, StickListsRegularUpperCasePackagesInNameOrderWithEscapedNames) {
    stickFile("VLX-H71/b.VLX");
    stickFile("VLX-H71/A.VLX");
    stickFile("VLX-H71/c.VLXZK");
    stickFile("VLX-H71/d.vlx");
    stickFile("VLX-H71/.hidden.VLX");
    stickFile("VLX-H71/x<b>&y.VLX");
    stickFile("VLX-H71/f.VLX/inner");  // a folder with the suffix
    ASSERT_EQ(::symlink(plat::path("/mnt/usb1/VLX-H71/A.VLX").c_str(), plat::path("/mnt/usb1/VLX-H71/e.VLX").c_str()),
              0);
    LinkOption l;
    l.findChild<QPushButton*>(QStringLiteral("Button_usb"))->click();
    ASSERT_EQ(l.files().size(), 4) << l.files().join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(l.files().at(0), QStringLiteral("/mnt/usb1/VLX-H71/A.VLX"));
    EXPECT_TRUE(l.marked(0));   // the first VLX package
    EXPECT_FALSE(l.marked(1));  // b.VLX
    EXPECT_TRUE(l.marked(2));   // every VLXZK package
    const QStringList rows = rowTexts(l);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows.at(3), QStringLiteral("<font color = #FFFFFF >x&lt;b&gt;&amp;y.VLX</font>"));
}

TEST_F(LinkOptionTest, SevenPackagesArePagedFiveAtATime) {
    for (int i = 1; i <= 7; ++i) stickFile("p" + std::to_string(i) + ".VLX");
    g_usb_grade_path = QStringLiteral(" ");  // the stick's root
    LinkOption l;
    l.on_Button_usb_clicked();
    EXPECT_EQ(l.files().size(), 7);
    EXPECT_EQ(rowTexts(l).size(), 5);
    QWidget* frame = l.findChild<QWidget*>(QStringLiteral("frame_file"));
    EXPECT_EQ(frame->findChild<QPushButton*>(QStringLiteral("Button_previous")), nullptr);
    QPushButton* next = frame->findChild<QPushButton*>(QStringLiteral("Button_next"));
    ASSERT_NE(next, nullptr);
    next->click();
    QCoreApplication::sendPostedEvents();
    shelltest::flushDeletes();
    EXPECT_EQ(l.listPage(), 1);
    EXPECT_EQ(rowTexts(l), (QStringList{QStringLiteral("<font color = #FFFFFF >p6.VLX</font>"),
                                        QStringLiteral("<font color = #FFFFFF >p7.VLX</font>")}));
    frame = l.findChild<QWidget*>(QStringLiteral("frame_file"));
    EXPECT_NE(frame->findChild<QPushButton*>(QStringLiteral("Button_previous")), nullptr);
    EXPECT_EQ(frame->findChild<QPushButton*>(QStringLiteral("Button_next")), nullptr);
}

TEST_F(LinkOptionTest, StickWithMoreThanAHundredPackagesListsTheFirstHundredAndPagesToTheLast) {
    char name[16];
    for (int i = 102; i >= 0; --i) {  // written out of order: the list is in name order
        std::snprintf(name, sizeof name, "p%03d.VLX", i);
        stickFile(std::string("VLX-H71/") + name);
    }
    LinkOption l;
    l.on_Button_usb_clicked();
    ASSERT_EQ(l.files().size(), LinkOption::kMaxFiles);
    EXPECT_EQ(l.files().front(), QStringLiteral("/mnt/usb1/VLX-H71/p000.VLX"));
    EXPECT_EQ(l.files().back(), QStringLiteral("/mnt/usb1/VLX-H71/p099.VLX"));
    const int pages = LinkOption::kMaxFiles / LinkOption::kRowsPerPage;
    for (int page = 1; page < pages; ++page) {
        QPushButton* next = l.findChild<QWidget*>(QStringLiteral("frame_file"))
                                ->findChild<QPushButton*>(QStringLiteral("Button_next"));
        ASSERT_NE(next, nullptr) << page;
        next->click();
        QCoreApplication::sendPostedEvents();
        shelltest::flushDeletes();
    }
    EXPECT_EQ(l.listPage(), pages - 1);
    const QStringList rows = rowTexts(l);
    ASSERT_EQ(rows.size(), LinkOption::kRowsPerPage);
    EXPECT_EQ(rows.back(), QStringLiteral("<font color = #FFFFFF >p099.VLX</font>"));
    EXPECT_EQ(l.findChild<QWidget*>(QStringLiteral("frame_file"))->findChild<QPushButton*>(QStringLiteral("Button_next")),
              nullptr);
}

TEST_F(LinkOptionTest, UpgradeFolderLeadingOffTheStickListsNothing) {
    testkit::writeFile("/data/x.VLX", "not on the stick");
    g_usb_grade_path = QStringLiteral("../../data");
    LinkOption l;
    l.on_Button_usb_clicked();
    EXPECT_TRUE(l.files().isEmpty());
    EXPECT_NE(l.findChild<QLabel*>(QStringLiteral("label_empty")), nullptr);
}

TEST_F(LinkOptionTest, LoadStartsOneUpgradePerStickAndNeverOverARunningJob) {
    g_send_para[1] = 7;
    LinkOption l;
    QPushButton* load = l.findChild<QPushButton*>(QStringLiteral("Button_ok"));
    load->click();
    EXPECT_EQ(g_usb_grade.load(), 1);
    EXPECT_EQ(g_send_para[1], 0);
    // the engine runs the upgrade, then clears its flag and step
    g_usb_grade = 0;
    g_send_para[1] = 3;
    load->click();
    EXPECT_EQ(g_usb_grade.load(), 0) << "one upgrade per insertion";
    l.syncUpdate(101);
    EXPECT_FALSE(l.loadStarted());
    // a receiving-card job owns the step byte
    g_send_para[0] = 5;
    load->click();
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(g_send_para[1], 3);
    g_send_para[0] = 0;
    // an upgrade started elsewhere is not restarted
    g_usb_grade = 1;
    load->click();
    EXPECT_EQ(g_send_para[1], 3);
    g_usb_grade = 0;
    load->click();
    EXPECT_EQ(g_usb_grade.load(), 1);
    EXPECT_EQ(g_send_para[1], 0);
}

TEST_F(LinkOptionTest, ChangeCodesBringPopUpsListsAndTheUpgradeText) {
    outputLinks().usbUpgradeStatus = [] { return QStringLiteral("10:2:3    10:2:9"); };
    QPointer<LinkOption> l = new LinkOption;
    g_linkoption = l;
    g_page_focus = 10;
    SyncUpdate* sync = SyncUpdate::pInstance();
    sync->para_sync(100);
    EXPECT_EQ(g_tip->currentType(), int(TIP::kUsbConnected));
    stickFile("VLX-H71/a.VLX");
    sync->para_sync(102);
    EXPECT_EQ(g_tip->currentType(), 0) << "the reading message goes once the stick's files are listed";
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_EQ(l->files().size(), 1) << "the list is read again whichever tab is shown";
    QLabel* log = l->findChild<QLabel*>(QStringLiteral("label_log"));
    sync->para_sync(104);
    EXPECT_TRUE(log->text().isEmpty()) << "the USB tab is not in front";
    l->on_Button_usb_clicked();
    g_tip->tip_create(TIP::kClear);
    sync->para_sync(104);
    EXPECT_NE(g_tip->currentType(), int(TIP::kDone));
    EXPECT_TRUE(log->text().contains(QStringLiteral("downing over<br>10:2:3&nbsp;&nbsp;&nbsp;&nbsp;10:2:9"))) << log->text().toStdString();
    sync->para_sync(101);
    EXPECT_EQ(g_tip->currentType(), int(TIP::kUsbUnplugged));
    sync->para_sync(1);
    EXPECT_EQ(g_tip->currentType(), int(TIP::kDone));
}

TEST_F(LinkOptionTest, BackRelabelsTheMenuInTheLanguageChangedMeanwhile) {
    QTimer::singleShot(0, [] {
        ASSERT_FALSE(g_linkoption.isNull());
        EXPECT_EQ(g_page_focus.load(), 10);
        g_language = 1;
        g_linkoption->on_Button_back_clicked();
    });
    g_option->on_link_set_clicked();
    shelltest::flushDeletes();
    EXPECT_TRUE(g_linkoption.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
    EXPECT_EQ(g_option->findChild<QLabel*>(QStringLiteral("label_title"))->text(), QStringLiteral("Settings"));
}

// The simulated board's stick, plugged in and pulled out through board control, noticed by the
// USB watcher, whose codes reach the screen in front through the change notification.
TEST_F(LinkOptionTest, StickThroughBoardControlIsListedAndItsRemovalArmsLoadAgain) {
    testkit::writeFile("/sim/usb-stick/VLX-H71/H71N_app.VLX", "package");
    UsbServer* usb = UsbServer::pInstance();
    ASSERT_TRUE(usb->running());
    QObject::connect(usb, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
    QPointer<LinkOption> l = new LinkOption;
    g_linkoption = l;
    g_page_focus = 10;
    l->on_Button_usb_clicked();
    EXPECT_TRUE(l->files().isEmpty()) << "no stick yet";
    // the GUI thread's events until the pop-up shows `type`
    auto popUp = [](int type) {
        for (int i = 0; i < 400 && g_tip->currentType() != type; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return g_tip->currentType() == type;
    };
    ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbConnected));
    G_timeTicks += UsbWatch::kSettleTicks;  // the mount settles
    ASSERT_TRUE(popUp(0)) << "the reading message goes with the listing";
    ASSERT_EQ(l->files().size(), 1);
    EXPECT_EQ(l->files().at(0), QStringLiteral("/mnt/usb1/VLX-H71/H71N_app.VLX"));
    l->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    EXPECT_EQ(g_usb_grade.load(), 1);
    g_usb_grade = 0;  // the engine's upgrade ended
    ASSERT_EQ(plat::sim::runBoardCommand("usb remove"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbUnplugged));
    EXPECT_TRUE(l->files().isEmpty());
    EXPECT_FALSE(l->loadStarted());
    l->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    EXPECT_EQ(g_usb_grade.load(), 1) << "Load is armed again";
}
