// Receiving-card jobs from the screens: the update page's check and self-recovery, and the
// refusals that keep a job's ring and screen until the engine has ended it.
#include "system_fixture.h"
#include "fpga/engine_events.h"
#include "ui/shell/lcd_touch.h"

using namespace systemtest;

namespace {

QString entryText(AdvancedOption* screen, int s) {
    QWidget* frame = screen->findChild<QWidget*>(QStringLiteral("frame_file"));
    if (!frame) return QStringLiteral("<no list>");
    QLabel* l = frame->findChild<QLabel*>(QStringLiteral("entry%1").arg(s));
    if (l) return l->text();
    QLabel* none = frame->findChild<QLabel*>(QStringLiteral("label_none"));
    return none ? none->text() : QStringLiteral("<empty>");
}

// The engine's check or recovery report as it arrives from the FPGA thread, then its code.
void engineReports(const QStringList& entries, int code) {
    std::thread engine([entries, code] {
        AdvancedOption::reportRcvUpdate(entries);
        VlxRamPara::test_signal(code);
    });
    engine.join();
    QCoreApplication::sendPostedEvents();
}

class UpdatePageTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        g_language = 1;
        ram()->setRamByte(vlxram::kLanguage, 1);
        ram()->shadowTakesRam();
        QObject::connect(ram(), &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                         Qt::UniqueConnection);
        testkit::writeFile("/data/rcvrecovery/KVFX", "card image");
        screen = new AdvancedOption;
        g_advancedoption = screen;
        g_page_focus = 12;
        screen->on_Button_rcv_recovery_clicked();
    }
    AdvancedOption* screen = nullptr;
};

}  // namespace

TEST_F(SystemTest, UpdatePageStaysClosedWithoutRecoveryFilesAndOpensOnceOneArrives) {
    g_language = 1;
    AdvancedOption screen;
    g_advancedoption = &screen;
    g_page_focus = 12;
    screen.on_Button_rcv_recovery_clicked();
    EXPECT_EQ(pageOf(&screen), 0);
    EXPECT_TRUE(child<QPushButton>(&screen, "Button_rcv_recovery")->styleSheet().contains(QStringLiteral("gray")));
    linkFileTransferScreens();
    pcCardFile("KVFX", "KVFX", "card image");
    EXPECT_FALSE(child<QPushButton>(&screen, "Button_rcv_recovery")->styleSheet().contains(QStringLiteral("gray")));
    screen.on_Button_rcv_recovery_clicked();
    EXPECT_EQ(pageOf(&screen), 1);
    EXPECT_EQ(entryText(&screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
}

TEST_F(UpdatePageTest, CheckListsTheChangedCardAndRecoveryRunsOnlyOnWhatItFound) {
    screen->on_Button_check_clicked();
    ASSERT_FALSE(g_qround_bar.isNull());
    EXPECT_EQ(card_job::operation(), card_job::kCheck);
    EXPECT_EQ(g_send_para[1], 0);

    // the screen of a running job stays, whoever asks to close it
    screen->on_Button_back_clicked();
    AdvancedOption::requestBack();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_advancedoption.data(), screen);
    EXPECT_EQ(g_page_focus.load(), 12);
    screen->on_Button_LCDshow_clicked();
    EXPECT_EQ(pageOf(screen), 1) << "navigation waits for the job";

    // progress, then a card over its reference count
    std::thread([this] { emit screen->sig_qround_bar_update(40); }).join();
    QCoreApplication::sendPostedEvents();
    ASSERT_FALSE(g_qround_bar.isNull());
    EXPECT_EQ(g_qround_bar->value(), 40);
    engineReports({QStringLiteral("01/03/05/04")}, 1);
    EXPECT_EQ(entryText(screen, 0),
              QStringLiteral("Find Screen01, LED03, Rcv<font color = #FF0000 >05</font>"));
    finishJob(screen);
    EXPECT_TRUE(g_qround_bar.isNull());
    screen->on_Button_self_recovery_clicked();
    EXPECT_EQ(card_job::operation(), 0) << "the card is past its reference count";

    // a card within its count: recovery goes
    screen->on_Button_check_clicked();
    engineReports({QStringLiteral("01/03/02/04")}, 1);
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("Find Screen01, LED03, Rcv<font color = #FFFFFF >02</font>"));
    finishJob(screen);
    screen->on_Button_self_recovery_clicked();
    EXPECT_EQ(card_job::operation(), card_job::kSelfRecovery);
    EXPECT_EQ(g_send_para[card_job::kRecoveryMode], 16);
    ASSERT_FALSE(g_qround_bar.isNull());
    engineReports({}, 99);  // nothing left to update
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
    finishJob(screen);

    // a check that finds nothing after one that found a card: recovery has nothing to act on
    screen->on_Button_check_clicked();
    engineReports({QStringLiteral("02/01/01/04")}, 1);
    finishJob(screen);
    screen->on_Button_check_clicked();
    finishJob(screen);
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
    screen->on_Button_self_recovery_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    EXPECT_TRUE(g_qround_bar.isNull());

    screen->on_Button_back_clicked();  // the job is over: Back closes
    EXPECT_TRUE(g_advancedoption.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(UpdatePageTest, JobStartsAreRefusedWhileABlockOrRingIsBusyOrNoEngineRuns) {
    runner = false;
    screen->on_Button_check_clicked();
    EXPECT_EQ(card_job::operation(), 0) << "no FPGA thread would end the ring";
    EXPECT_TRUE(g_qround_bar.isNull());
    runner = true;
    // the engine has cleared nothing yet (or a PC job runs): the block is busy
    g_send_para[0] = card_job::kSaveParams;
    screen->on_Button_check_clicked();
    EXPECT_EQ(g_send_para[0], card_job::kSaveParams);
    EXPECT_TRUE(g_qround_bar.isNull());
    // the engine cleared the block, its 100 is still on its way: the ring is up
    g_send_para[0] = 0;
    QRoundProgressBar::create_qround_bar(screen);
    screen->on_Button_check_clicked();
    EXPECT_EQ(card_job::operation(), 0);
}

TEST_F(UpdatePageTest, RecoveryFilesDeletedWhileTheUpdatePageIsShownCloseTheScreen) {
    std::vector<bool> emptied;
    systemLinks().emptyCardFileList = [&](bool recovery) { emptied.push_back(recovery); };
    linkFileTransferScreens();
    pcCardFile("KVFX", "****");
    EXPECT_EQ(emptied, std::vector<bool>{true}) << "the engine's recovery list";
    EXPECT_TRUE(g_advancedoption.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
    shelltest::flushDeletes();
}

TEST_F(SystemTest, AdvancedSettingsRefreshShowsTheDoneMarkAfterEveryCode) {
    AdvancedOption screen;
    g_advancedoption = &screen;
    g_page_focus = 12;
    for (int code : {1, 11, 99}) {
        g_tip->tip_create(TIP::kClear);
        SyncUpdate::pInstance()->para_sync(code);
        EXPECT_EQ(g_tip->currentType(), int(TIP::kDone)) << code;
    }
}

TEST_F(SystemTest, IdleReturnClosesBothScreensThroughTheirBackHandlersButNeverDuringAJob) {
    lcd_touch* touch = lcd_touch::instanceWithoutThread();
    g_back_to_mainwindow_time = 3000;
    g_option = new Option;
    g_page_focus = 12;
    g_advancedoption = new AdvancedOption;
    QRoundProgressBar::create_qround_bar(g_advancedoption);  // a job's ring
    for (int i = 0; i < 3100; ++i) touch->auto_timeout_back();
    EXPECT_FALSE(g_advancedoption.isNull());
    g_qround_bar->para_sync(100);
    g_send_para[0] = card_job::kCheck;  // the engine has not cleared its block yet
    for (int i = 0; i < 3100; ++i) touch->auto_timeout_back();
    EXPECT_FALSE(g_advancedoption.isNull());
    EXPECT_FALSE(g_option.isNull()) << "the menu stays below the screen that stays";
    EXPECT_EQ(g_page_focus.load(), 12);
    g_send_para[0] = 0;
    touch->touched();
    for (int i = 0; i < 3100; ++i) touch->auto_timeout_back();
    EXPECT_TRUE(g_advancedoption.isNull());
    EXPECT_EQ(g_page_focus.load(), 1) << "and the settings menu's back";

    touch->touched();
    g_option = new Option;
    g_page_focus = 24;
    g_smartmapping = new SmartMapping;
    for (int i = 0; i < 3100; ++i) touch->auto_timeout_back();
    EXPECT_TRUE(g_smartmapping.isNull());
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(SystemTest, SettingsTilesRunBothScreensModallyAndBackReturnsToTheMenu) {
    g_option = new Option;
    g_page_focus = 5;
    int seenFocus = -1;
    QTimer::singleShot(0, [&] {
        seenFocus = g_page_focus.load();
        ASSERT_FALSE(g_advancedoption.isNull());
        g_advancedoption->on_Button_back_clicked();
    });
    g_option->on_AdvanceButton_clicked();
    EXPECT_EQ(seenFocus, 12);
    EXPECT_TRUE(g_advancedoption.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);

    QTimer::singleShot(0, [&] {
        seenFocus = g_page_focus.load();
        ASSERT_FALSE(g_smartmapping.isNull());
        g_smartmapping->on_Button_back_clicked();
    });
    g_option->on_smart_mapping_clicked();
    EXPECT_EQ(seenFocus, 24);
    EXPECT_TRUE(g_smartmapping.isNull());
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(UpdatePageTest, TheEnginesReportsFromItsThreadReachTheScreenWhoseRingIsUp) {
    card_job::linkEngine();
    auto deliver = [] {
        for (int k = 0; k < 3; ++k) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    };
    screen->on_Button_check_clicked();
    ASSERT_FALSE(g_qround_bar.isNull());
    std::thread([] { engineEvents().jobProgress(40); }).join();
    deliver();
    ASSERT_FALSE(g_qround_bar.isNull());
    EXPECT_EQ(g_qround_bar->value(), 40);
    // the engine ends the job: block free, report, code 1, then 100
    std::thread([] {
        job_block::setU8(job_block::kOperation, 0);
        engineEvents().checkReport({"01/03/05/12"}, true);
        VlxRamPara::test_signal(1);
        engineEvents().jobUnanswered("receiving-card check", {"LED07"});
        engineEvents().jobProgress(100);
    }).join();
    deliver();
    EXPECT_TRUE(g_qround_bar.isNull());
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("Find Screen01, LED03, Rcv<font color = #FFFFFF >05</font>"));
    EXPECT_EQ(card_job::unanswered(), QStringList{QStringLiteral("receiving-card check: LED07")});
    // the next job has every answer: nothing is left of the earlier one
    screen->on_Button_check_clicked();
    ASSERT_FALSE(g_qround_bar.isNull());
    std::thread([] {
        job_block::setU8(job_block::kOperation, 0);
        engineEvents().checkReport({"01/03/05/12"}, true);
        VlxRamPara::test_signal(1);
        engineEvents().jobProgress(100);
    }).join();
    deliver();
    EXPECT_TRUE(g_qround_bar.isNull());
    EXPECT_TRUE(card_job::unanswered().isEmpty()) << card_job::unanswered().join(QLatin1Char(';')).toStdString();
    // a report that found nothing empties the list
    std::thread([] {
        engineEvents().checkReport({}, false);
        VlxRamPara::test_signal(99);
    }).join();
    deliver();
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("No receiving cards that need to be updated!"));
    // without a ring the progress goes nowhere (no screen's ring to open or close)
    std::thread([] { engineEvents().jobProgress(100); }).join();
    deliver();
    EXPECT_TRUE(g_qround_bar.isNull());
    engineEvents() = EngineEvents{};
}

TEST_F(UpdatePageTest, CardListShowsFiveEntriesAPageWithPreviousAndNext) {
    auto frameButton = [this](const char* name) {
        QWidget* frame = screen->findChild<QWidget*>(QStringLiteral("frame_file"));
        return frame ? frame->findChild<QPushButton*>(QString::fromLatin1(name)) : nullptr;
    };
    // the no-card text: nothing to page
    EXPECT_EQ(frameButton("next"), nullptr);
    EXPECT_EQ(frameButton("previous"), nullptr);

    QStringList five;
    for (int i = 1; i <= 5; ++i) five << QStringLiteral("01/%1/02/04").arg(i, 2, 10, QLatin1Char('0'));
    engineReports(five, 1);
    EXPECT_EQ(entryText(screen, 4), QStringLiteral("Find Screen01, LED05, Rcv<font color = #FFFFFF >02</font>"));
    EXPECT_EQ(frameButton("next"), nullptr) << "five entries fit one page";

    QStringList seven = five;
    seven << QStringLiteral("02/06/03/04") << QStringLiteral("02/07/01/04");
    engineReports(seven, 1);
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("Find Screen01, LED01, Rcv<font color = #FFFFFF >02</font>"));
    EXPECT_EQ(frameButton("previous"), nullptr);
    ASSERT_NE(frameButton("next"), nullptr);
    frameButton("next")->click();
    EXPECT_EQ(entryText(screen, 0), QStringLiteral("Find Screen02, LED06, Rcv<font color = #FFFFFF >03</font>"));
    EXPECT_EQ(entryText(screen, 1), QStringLiteral("Find Screen02, LED07, Rcv<font color = #FFFFFF >01</font>"));
    QWidget* frame = screen->findChild<QWidget*>(QStringLiteral("frame_file"));
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("entry2")), nullptr);
    EXPECT_EQ(frameButton("next"), nullptr);
    ASSERT_NE(frameButton("previous"), nullptr);

    // a tap chooses an entry of this page
    frame->findChild<QPushButton*>(QStringLiteral("1"))->click();
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("entry1"))->styleSheet(),
              QStringLiteral("background-color:#4777FF;color: #FFFFFF;"));
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("entry0"))->styleSheet(),
              QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF;"));

    frameButton("previous")->click();
    EXPECT_EQ(entryText(screen, 4), QStringLiteral("Find Screen01, LED05, Rcv<font color = #FFFFFF >02</font>"));
    EXPECT_NE(frameButton("next"), nullptr);
    EXPECT_EQ(frameButton("previous"), nullptr);
    shelltest::flushDeletes();
}

TEST_F(SystemTest, BackFromEitherSystemScreenRelabelsTheMenuInTheLanguageChangedMeanwhile) {
    g_language = 1;
    ram()->setRamByte(vlxram::kLanguage, 1);
    ram()->shadowTakesRam();
    g_option = new Option;
    QLabel* menuTitle = child<QLabel>(g_option, "label_title");
    ASSERT_EQ(menuTitle->text(), QStringLiteral("Settings"));

    // on the factory page
    g_page_focus = 12;
    g_advancedoption = new AdvancedOption;
    g_advancedoption->on_Button_factory_clicked();
    g_advancedoption->on_Button_chinese_clicked();
    g_advancedoption->on_Button_back_clicked();
    EXPECT_EQ(menuTitle->text(), QStringLiteral("系统设置"));
    EXPECT_EQ(g_page_focus.load(), 5);
    c331_manage::update_flag = 0;
    ram()->shadowTakesRam();

    // by a PC, the protocol closing the screen
    g_page_focus = 12;
    g_advancedoption = new AdvancedOption;
    ram()->setRamByte(vlxram::kLanguage, 2);
    SyncUpdate::pInstance()->para_sync(1);
    AdvancedOption::requestBack();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(g_advancedoption.isNull());
    EXPECT_EQ(menuTitle->text(), QStringLiteral("Настройки"));

    // by a PC while smart mapping is open, closed with Esc
    g_page_focus = 24;
    g_smartmapping = new SmartMapping;
    ram()->setRamByte(vlxram::kLanguage, 3);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(child<QLabel>(g_smartmapping, "label_title")->text(), QStringLiteral("Điều chỉnh màn hình thông minh"));
    static_cast<QDialog*>(g_smartmapping.data())->reject();
    EXPECT_TRUE(g_smartmapping.isNull());
    EXPECT_EQ(menuTitle->text(), QStringLiteral("Cài đặt"));
    EXPECT_EQ(g_page_focus.load(), 5);

    g_page_focus = 24;
    g_smartmapping = new SmartMapping;
    ram()->setRamByte(vlxram::kLanguage, 4);
    SyncUpdate::pInstance()->para_sync(1);
    g_smartmapping->on_Button_back_clicked();
    EXPECT_EQ(menuTitle->text(), QStringLiteral("系統設置"));
    shelltest::flushDeletes();
}

TEST_F(UpdatePageTest, EveryControlOfTheAdvancedScreenWaitsWhileARingIsUp) {
    screen->on_Button_check_clicked();
    engineReports({QStringLiteral("01/03/02/04")}, 1);  // a card recovery could act on
    ASSERT_FALSE(g_qround_bar.isNull());
    // the engine has cleared its block, its 100 is still on the way: only the ring is up
    g_send_para[0] = 0;
    g_send_para[1] = 0;
    bool keypadOpened = false;
    QTimer::singleShot(0, [&] {
        keypadOpened = g_numberkeyboard->isVisible();
        if (keypadOpened) g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    screen->on_Button_factory_age_clicked();
    QCoreApplication::processEvents();
    EXPECT_FALSE(keypadOpened);
    screen->on_Button_LCDshow_clicked();
    screen->on_Button_timeplan_clicked();
    screen->on_Button_other_clicked();
    screen->on_Button_factory_clicked();
    screen->on_Button_rcv_recovery_clicked();
    EXPECT_EQ(pageOf(screen), 1);
    EXPECT_TRUE(screen->rcv_self_recovery_ornot());
    screen->on_Button_self_recovery_clicked();
    screen->on_Button_check_clicked();
    EXPECT_EQ(card_job::operation(), 0);
    EXPECT_EQ(g_send_para[card_job::kRecoveryMode], 0);
    static_cast<QDialog*>(screen)->reject();
    screen->on_Button_back_clicked();
    AdvancedOption::requestBack();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(g_advancedoption.data(), screen);
    EXPECT_EQ(g_page_focus.load(), 12);

    finishJob(screen);
    screen->on_Button_self_recovery_clicked();  // the ring is gone: the same press goes
    EXPECT_EQ(card_job::operation(), card_job::kSelfRecovery);
    finishJob(screen);
}
