#include "ui/system/advancedoption.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <cstring>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "scaler/c331_manage.h"
#include "scaler/engine_requests.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/card_job.h"
#include "ui/system/system_links.h"
#include "ui_advancedoption.h"

using namespace vlxram;
using panel_style::langText;

QPointer<AdvancedOption> g_advancedoption;

namespace {

constexpr int kPageLcd = 0;
constexpr int kPageUpdate = 1;
constexpr int kPagePlan = 2;
constexpr int kPageOther = 3;
constexpr int kPageFactory = 4;
constexpr int kPageAgeing = 5;

constexpr int kSliderMin = 3000;
constexpr int kSliderMax = 18000;
constexpr uint32_t kLock5 = 30000;
constexpr uint32_t kLock10 = 60000;
constexpr uint32_t kLockNever = 120000;

constexpr uint8_t kFadeBit = 0x04;
constexpr uint8_t kFadeSteps = 60;
constexpr uint16_t kSoundOn = 0x8000;
constexpr uint16_t kSoundFull = 0x80FF;

constexpr const char* kDefaultIp = "192.168.1.199";
constexpr const char* kDefaultMask = "255.255.255.0";
constexpr const char* kDefaultGateway = "192.168.1.1";

constexpr const char* kEntryPlain = "background-color: rgb(33, 36, 53);color: #FFFFFF;";
constexpr const char* kEntryChosen = "background-color:#4777FF;color: #FFFFFF;";
constexpr const char* kListFrameStyle = "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}";
constexpr const char* kListTextStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
constexpr const char* kPageButtonStyle = "background-color: rgb(33, 36, 53);";
constexpr const char* kResetOff = "background-color:#10101C;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";
constexpr const char* kResetOn = "background-color:#4777FF;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";
constexpr const char* kSubTabOn = "color:#4777FF;";
constexpr const char* kSubTabOff = "color:#FFFFFF;";

const QSize kMarkSize(32, 32);
const QSize kSwitchSize(70, 32);

QString lit(const char* s) { return QString::fromLatin1(s); }

void setMark(QPushButton* button, bool on) {
    panel_style::setIcon(button, lit(on ? panel_style::kIconChecked : panel_style::kIconUnchecked), kMarkSize);
}
void setSwitch(QPushButton* button, bool on) {
    panel_style::setIcon(button, lit(on ? panel_style::kIconSwitchOn : panel_style::kIconSwitchOff), kSwitchSize);
}

VlxRamPara* ram() { return VlxRamPara::p_vlxrampara_config; }

uint16_t windowWord(const unsigned char* block, int window, unsigned offset) {
    return VlxRamPara::getU16(block, windowField(window, offset));
}
uint16_t windowWord(const VlxRamPara* p, int window, unsigned offset) REQUIRES(ManageLock::manage_mutex) {
    return p->ramU16(windowField(window, offset));
}

// A word of the live RAM, copied under the writers' lock (a PC writes it from its link thread).
uint16_t liveWindowWord(const VlxRamPara* p, int window, unsigned offset) {
    return p->snapshotU16(windowField(window, offset));
}
uint8_t liveByte(const VlxRamPara* p, unsigned address) { return uint8_t(p->snapshotU16(address) & 0xFF); }

// The access point's two services; run after the manage mutex is released, so the
// C331 manager never waits for the shell.
void stopAccessPoint() {
    Utils::stopProgram("hostapd");
    Utils::stopProgram("udhcpd");
}

void restartAccessPoint() {
    const SystemLinks& links = systemLinks();
    if (links.wifiRestart)
        links.wifiRestart();
    else
        writeLogMsg(LOG_WARNING, "WiFi restart requested, but the WiFi set-up is not running");
}

}  // namespace

// ---------------------------------------------------------------- construction

AdvancedOption::AdvancedOption(QWidget* parent) : SystemScreen(parent), ui(new Ui::AdvancedOption) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    ui->stackedWidget->setCurrentIndex(kPageLcd);
    ui->stackedWidget_2->setCurrentIndex(0);
    recovery_normal_style_ = QStringLiteral("background-color: #10101C;color:rgb(255,255,255)");
    recovery_disabled_style_ = QStringLiteral("background-color: gray;color:rgb(255,255,255)");
    recovery_selected_style_ = QStringLiteral("background-color: rgb(71, 119, 255); color:rgb(255,255,255)");

    const QFont text = panel_style::panelFont(18);
    for (QLabel* label : findChildren<QLabel*>()) label->setFont(text);
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setFont(text);
        if (button != ui->Button_back) panel_style::setLook(button, lit(kPageButtonStyle) + lit(panel_style::kWhiteText));
    }
    ui->label_title->setFont(panel_style::panelFont(26));
    ui->label_title->setAlignment(Qt::AlignCenter);
    ui->label_log1->setFont(panel_style::panelFont(11));
    ui->label_log1->setTextFormat(Qt::RichText);
    ui->label_3->setFont(panel_style::panelFont(11));
    for (QLabel* l : {ui->page_info, ui->label_page}) l->setFont(panel_style::panelFont(14));
    for (QLabel* l : {ui->label_32CN, ui->label_32EN, ui->label_64CN, ui->label_64EN, ui->label_128CN, ui->label_128EN,
                      ui->label_seamless, ui->label_fade})
        l->setFont(panel_style::panelFont(16));
    for (QPushButton* b : {ui->Button_LCDshow, ui->Button_rcv_recovery, ui->Button_timeplan, ui->Button_other,
                           ui->Button_factory, ui->Button_factory_age})
        panel_style::setLook(b, lit(panel_style::kTabOffStyle));
    for (QPushButton* b : {ui->Button_reset1, ui->Button_reset2, ui->Button_reset3}) panel_style::setLook(b, lit(kResetOff));
    for (QPushButton* b : {ui->Button_check, ui->Button_self_recovery})
        panel_style::setLook(b, lit(panel_style::kTabOffStyle));
    for (QPushButton* b : {ui->Button_language, ui->Button_reset, ui->Button_plan, ui->Button_switch})
        panel_style::setLook(b, lit(kSubTabOff));
    panel_style::setLook(ui->Button_language, lit(kSubTabOn));
    panel_style::setLook(ui->modeButton, lit(panel_style::kFramedOffStyle));
    panel_style::setLook(ui->next, lit(panel_style::kFramedOffStyle));
    panel_style::setLook(ui->pre, lit(panel_style::kFramedOffStyle));

    selected_page_button = ui->Button_LCDshow;
    panel_style::setLook(selected_page_button, lit(panel_style::kTabOnStyle));

    ui->horizontalSlider->setRange(kSliderMin, kSliderMax);
    ui->horizontalSlider->setValue(int(g_back_to_mainwindow_time.load()));
    // a tap or a held press on the groove moves the time too, with no sliderReleased
    panel_style::touchSlider(ui->horizontalSlider, [](int v) { g_back_to_mainwindow_time = uint32_t(v); });
    ui->label_time->setText(slider_text(int(g_back_to_mainwindow_time.load())));

    markAutoLock();
    for (QPushButton* b : {ui->Button_DBD_open, ui->Button_DBD_close, ui->Button_seamless, ui->Button_fade})
        b->setIconSize(kMarkSize);

    ui->Button_timeplan->hide();
    ui->label_para_file->hide();
    ui->label_para_name->hide();
    panel_style::useListView(ui->ImageVolume);
    ui->ImageVolume->setFont(text);

    para_init();
    language_changed();

    age_page_ = 0;
    age_open_ = 0;
    rcv_update_blocked = 0;
    if (g_numberkeyboard)
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));

    lcd_touch::registerScreen(IdleScreen::AdvancedOption, [] { return static_cast<QObject*>(g_advancedoption.data()); });
    shellLinks().ageViewRefresh = [] {
        if (g_advancedoption) g_advancedoption->update_agelog();
    };
}

AdvancedOption::~AdvancedOption() { delete ui; }

// ---------------------------------------------------------------- shell and navigation

bool AdvancedOption::navigationRefused() const { return !g_qround_bar.isNull(); }

void AdvancedOption::button_select(QPushButton* button) {
    QPushButton* previous = selected_page_button;
    selected_page_button = button;
    if (previous && previous != button) panel_style::setLook(previous, lit(panel_style::kTabOffStyle));
    panel_style::setLook(button, lit(panel_style::kTabOnStyle));
    // the update page's button shows whether the page can be opened at all
    if (previous == ui->Button_rcv_recovery || button == ui->Button_rcv_recovery) styleRecoveryButton();
}

bool AdvancedOption::rcv_self_recovery_ornot() const { return selected_page_button == ui->Button_rcv_recovery; }

void AdvancedOption::showPage(int page, QPushButton* button) {
    age_open_ = 0;
    ui->stackedWidget->setCurrentIndex(page);
    button_select(button);
}

void AdvancedOption::on_Button_LCDshow_clicked() {
    if (navigationRefused()) return;
    showPage(kPageLcd, ui->Button_LCDshow);
}

void AdvancedOption::on_Button_timeplan_clicked() {
    if (navigationRefused()) return;
    showPage(kPagePlan, ui->Button_timeplan);
}

void AdvancedOption::on_Button_other_clicked() {
    if (navigationRefused()) return;
    showPage(kPageOther, ui->Button_other);
    ui->Button_seamless->setIconSize(kMarkSize);
    ui->Button_fade->setIconSize(kMarkSize);
    ui->Button_volume_state->setIconSize(kSwitchSize);
    ui->Button_wifi_state->setIconSize(kSwitchSize);
}

void AdvancedOption::on_Button_back_clicked() {
    backToSettings(g_advancedoption, "advanced settings stay open: a receiving-card job runs");
}

namespace {
enum ProtocolRequest { kRelabel, kBack, kAfterFilesDeleted };
}  // namespace

void AdvancedOption::requestLanguageChanged() { postRequest<AdvancedOption>(kRelabel, serveProtocolRequest); }

void AdvancedOption::requestBack() { postRequest<AdvancedOption>(kBack, serveProtocolRequest); }

void AdvancedOption::requestAfterFilesDeleted() { postRequest<AdvancedOption>(kAfterFilesDeleted, serveProtocolRequest); }

void AdvancedOption::serveProtocolRequest(int request) {
    AdvancedOption* screen = g_advancedoption.data();
    if (!screen || g_page_focus != 12) return;
    if (request == kBack || (request == kAfterFilesDeleted && screen->rcv_self_recovery_ornot()))
        screen->on_Button_back_clicked();
    else
        screen->language_changed();
}

// ---------------------------------------------------------------- page 0

QString AdvancedOption::slider_text(int ticks) {
    if (ticks < 6000) return QString::asprintf("%ds", ticks / 100);
    if (ticks >= kSliderMax) return QString::asprintf("%dm", 3);
    if (ticks % 6000 == 0) return QString::asprintf("%dm", ticks / 6000);
    return QString::asprintf("%.1fm", double(float(ticks) / 6000.0f));
}

void AdvancedOption::on_horizontalSlider_valueChanged(int value) { ui->label_time->setText(slider_text(value)); }

void AdvancedOption::on_horizontalSlider_sliderReleased() {
    g_back_to_mainwindow_time = uint32_t(ui->horizontalSlider->value());
}

void AdvancedOption::markAutoLock() {
    const uint32_t t = g_auto_lock_time.load();
    setMark(ui->Button_5min, t != kLock10 && t != kLockNever);
    setMark(ui->Button_10min, t == kLock10);
    setMark(ui->Button_never, t == kLockNever);
}

void AdvancedOption::on_Button_5min_clicked() {
    g_auto_lock_time = kLock5;
    markAutoLock();
}
void AdvancedOption::on_Button_10min_clicked() {
    g_auto_lock_time = kLock10;
    markAutoLock();
}
void AdvancedOption::on_Button_never_clicked() {
    g_auto_lock_time = kLockNever;
    markAutoLock();
}

// ---------------------------------------------------------------- page 2 (never shown)

void AdvancedOption::on_Button_plan_clicked() {
    panel_style::setLook(ui->Button_plan, lit("color:#4777FF;"));
    panel_style::setLook(ui->Button_switch, lit("color:#FFFFFF;"));
    ui->line_choose_2->setGeometry(0, 57, 305, 4);
}

void AdvancedOption::on_Button_switch_clicked() {
    panel_style::setLook(ui->Button_plan, lit("color:#FFFFFF;"));
    panel_style::setLook(ui->Button_switch, lit("color:#4777FF;"));
    ui->line_choose_2->setGeometry(305, 57, 305, 4);
}

// ---------------------------------------------------------------- page 3

int AdvancedOption::audioWindow() {
    const int16_t w = int16_t(ram()->snapshotU16(kAudioWindow));
    return (w >= 0 && w < kWindows) ? w : 0;
}

void AdvancedOption::para_init() {
    VlxRamPara* p = ram();
    if (!p) return;
    {
        ManageMutexLocker lock;
        const int16_t audio = int16_t(p->ramU16(kAudioWindow));
        // the range first: a PC may write any word there, and only windows 0..5 have a record
        if (audio < 0 || audio >= kWindows || windowWord(p, audio, kWinState) == 0)
            p->setRamU16(kAudioWindow, 0);
    }
    const int aw = audioWindow();
    ui->ImageVolume->blockSignals(true);
    ui->ImageVolume->clear();
    int current = 0;
    for (int k = 0; k < kWindows; ++k) {
        if (liveWindowWord(p, k, kWinState) == 0) continue;
        if (k == aw) current = ui->ImageVolume->count();
        ui->ImageVolume->addItem(langText("画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫面%1").arg(k + 1));
    }
    ui->ImageVolume->setCurrentIndex(ui->ImageVolume->count() ? current : -1);
    ui->ImageVolume->blockSignals(false);
    on_ImageVolume_currentIndexChanged(ui->ImageVolume->currentIndex());

    setSwitch(ui->Button_wifi_state, liveByte(p, kWifiApOff) == 0);
    const bool fade = p->snapshotU16(kSwitchEffect) != 0;
    setMark(ui->Button_seamless, !fade);
    setMark(ui->Button_fade, fade);
    const bool dbd = p->snapshotU16(kDotByDot) != 0;
    setMark(ui->Button_DBD_open, dbd);
    setMark(ui->Button_DBD_close, !dbd);
}

int AdvancedOption::chosenWindow() const {
    const int position = ui->ImageVolume->currentIndex();
    if (position < 0 || position >= kWindows) return -1;
    int seen = 0;
    for (int k = 0; k < kWindows; ++k) {
        if (liveWindowWord(ram(), k, kWinState) == 0) continue;
        if (seen++ == position) return k;
    }
    return -1;
}

void AdvancedOption::on_ImageVolume_currentIndexChanged(int index) {
    (void)index;
    const int k = chosenWindow();
    if (k < 0) return;
    setSwitch(ui->Button_volume_state, (liveWindowWord(ram(), k, kWinSound) & kSoundOn) != 0);
}

void AdvancedOption::on_Button_volume_state_clicked() {
    const int k = chosenWindow();
    if (k < 0) return;
    bool on;
    {
        ManageMutexLocker lock;
        on = (windowWord(ram(), k, kWinSound) & kSoundOn) == 0;
        ram()->setRamU16(windowField(k, kWinSound), on ? kSoundFull : 0);
        ram()->setRamU16(kAudioWindow, uint16_t(k));
        c331_manage::update_flag = 1;
    }
    setSwitch(ui->Button_volume_state, on);
}

void AdvancedOption::setWindowBytes(unsigned offset, uint8_t andMask, uint8_t orMask) {
    VlxRamPara* p = ram();
    for (int k = 0; k < kWindowSlots; ++k) {
        const unsigned a = windowField(k, 0) + offset;
        p->setRamByte(a, uint8_t((p->ramByte(a) & andMask) | orMask));
    }
}

void AdvancedOption::on_Button_seamless_clicked() {
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kSwitchEffect, 0);
        setWindowBytes(kWinOutput, uint8_t(~kFadeBit), 0);
        c331_manage::update_flag = 1;
    }
    setMark(ui->Button_seamless, true);
    setMark(ui->Button_fade, false);
    VlxRamPara::ram_para_save();
}

void AdvancedOption::on_Button_fade_clicked() {
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kSwitchEffect, 1);
        for (unsigned k = 0; k < unsigned(kFadeEntries); ++k) {
            ram()->setRamByte(kFadeTable + 4 * k, kFadeSteps);
            ram()->setRamByte(kFadeTable + 4 * k + 2, kFadeSteps);
        }
        setWindowBytes(kWinOutput, 0xFF, kFadeBit);
        c331_manage::update_flag = 1;
    }
    setMark(ui->Button_seamless, false);
    setMark(ui->Button_fade, true);
    VlxRamPara::ram_para_save();
}

void AdvancedOption::on_modeButton_clicked() {
    const SystemLinks& links = systemLinks();
    if (links.sdiReset)
        links.sdiReset();
    else
        writeLogMsg(LOG_WARNING, "SDI receiver reset asked for, but the input chips are not running");
}

void AdvancedOption::setWifi(bool off) {
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kWifiApOff, off ? 1 : 0);
        c331_manage::update_flag = 1;
    }
    if (off)
        stopAccessPoint();
    else
        restartAccessPoint();
    setSwitch(ui->Button_wifi_state, !off);
}

void AdvancedOption::on_Button_wifi_state_clicked() { setWifi(liveByte(ram(), kWifiApOff) == 0); }

void AdvancedOption::on_Button_DBD_open_clicked() {
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kDotByDot, 1);
        setWindowBytes(kWinOutput + 1, 0, 1);
        c331_manage::update_flag = 1;
    }
    setMark(ui->Button_DBD_open, true);
    setMark(ui->Button_DBD_close, false);
    VlxRamPara::ram_para_save();
}

void AdvancedOption::on_Button_DBD_close_clicked() {
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kDotByDot, 0);
        setWindowBytes(kWinOutput + 1, 0, 0);
        c331_manage::update_flag = 1;
    }
    setMark(ui->Button_DBD_open, false);
    setMark(ui->Button_DBD_close, true);
    VlxRamPara::ram_para_save();
}

// ---------------------------------------------------------------- refresh and captions

void AdvancedOption::syncUpdate(int code) {
    VlxRamPara* p = ram();
    if (!p) return;
    const bool language = VlxRamPara::VlxLanguageChanged() != 0;
    if (language) language_changed();
    // bounded: the word may hold anything a PC wrote, and only windows 0..5 have a record here
    const int aw = audioWindow();
    unsigned char live[kRamSize], shadow[kRamSize];
    p->snapshot(0, kRamSize, live);
    p->copyShadow(0, kRamSize, shadow);
    bool differs = windowWord(live, aw, kWinSound) != windowWord(shadow, aw, kWinSound);
    for (unsigned a : {kSwitchEffect, kAudioWindow, kDotByDot, kWifiApOff})
        differs = differs || VlxRamPara::getU16(live, a) != VlxRamPara::getU16(shadow, a);
    for (int k = 0; k < kWindows; ++k)
        differs = differs || windowWord(live, k, kWinState) != windowWord(shadow, k, kWinState);
    if (language || differs) para_init();
    if ((code == 99 || rcv_report_pending_) && rcv_self_recovery_ornot()) {
        rcv_report_pending_ = false;
        rcv_self_recovery_file_list();
    }
}

void AdvancedOption::styleRecoveryButton() {
    if (rcv_file_count == 0)
        panel_style::setLook(ui->Button_rcv_recovery, recovery_disabled_style_);
    else if (rcv_self_recovery_ornot())
        panel_style::setLook(ui->Button_rcv_recovery, recovery_selected_style_);
    else
        panel_style::setLook(ui->Button_rcv_recovery, recovery_normal_style_);
}

void AdvancedOption::language_changed() {
    const QDir dir(QString::fromStdString(plat::path("/data/rcvrecovery")));
    if (dir.exists()) {
        const int n = int(dir.entryList(QDir::Files | QDir::NoSymLinks).size());
        rcv_file_count = uint8_t(n > 255 ? 255 : n);
    }

    ui->label_title->setText(langText("高级设置", "Advanced Settings", "Доп.опции", "Cài đặt nâng cao", "高級設置"));
    ui->Button_LCDshow->setText(langText("液晶显示", "LCD display", "ЖК дисплей", "Màn hình LCD", "液晶顯示"));
    ui->Button_rcv_recovery->setText(langText("接收卡自恢复", "Rcv\nself-recovery", "Самовосста-\nновление",
                                              "Thẻ nhận tự\nphục hồi", "接收卡自恢復"));
    ui->Button_other->setText(langText("其它设置", "Other Settings", "Другие\nнастройки", "Cài đặt khác", "其它設置"));
    ui->Button_factory->setText(
        langText("工厂设置", "Factory setup", "Системные\nнастройки", "Khôi phục\ncài đặt gốc", "工廠設置"));
    ui->Button_factory_age->setText(
        langText("工厂老化", "Aging", "Заводское\nстарение", "Lão hóa\nnhà máy", "工廠老化"));
    ui->label_backmainwindow->setText(langText("返回主界面时长", "To main interface", "Возврат к главному",
                                               "Quay lại màn hình chính", "返回主界面時長"));
    ui->label_autolock->setText(langText("自动锁屏", "Auto-screen lock", "Автоблокировка", "Tự động khoá màn hình", "自動鎖屏"));
    fitCaptionBefore(ui->label_autolock, ui->Button_5min);
    ui->label_5min->setText(langText("5分钟", "5min", "5 мин", "5 phút", "5分鐘"));
    ui->label_10min->setText(langText("10分钟", "10min", "10 мин", "10 phút", "10分鐘"));
    ui->label_never->setText(langText("从不", "Never", "Отключить", "Không bao giờ khoá", "從不"));
    ui->label_rcv_update->setText(langText("接收卡更新", "Receiving card update", "Обновление принимающих карт",
                                           "Cập nhật thẻ nhận", "接收卡更新"));
    ui->Button_check->setText(langText("查询", "Check", "Считать", "Tìm hiểu", "查詢"));
    ui->Button_self_recovery->setText(langText("恢复", "Recover", "Восстановить", "Phục hồi", "恢復"));
    ui->label_name_volume->setText(langText("音量", "Volume", "Звук", "âm thanh", "音量"));
    ui->label_name_switch->setText(langText("切换特效", "Switch mode", "Эффект", "Hiệu ứng", "切換特效"));
    ui->label_seamless->setText(langText("无缝快切", "Seamless", "Быстро", "Chuyển đổi ngay", "無縫快切"));
    ui->label_fade->setText(langText("淡入淡出", "Fade", "Плавно", "Mờ dần", "淡入淡出"));
    fitCaptionBefore(ui->label_seamless, ui->Button_fade);
    ui->label_name_mode->setText(langText("投屏设备", "Projection", "Проекция", "Trình chiếu", "投屏設備"));
    ui->modeButton->setText(langText("点击切换", "Click OK", "Нажмите ОК", "Đồng ý", "點擊切換"));
    ui->label_wifi->setText(langText("WIFI状态", "Wifi state", "WiFi статус", "Trạng thái wifi", "WIFI狀態"));
    ui->label_name_DBD->setText(langText("点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"));
    ui->label_DBD_open->setText(langText("开启", "ON", "Вкл", "Mở", "開啟"));
    ui->label_DBD_open_2->setText(langText("关闭", "OFF", "Откл", "Đóng", "關閉"));
    ui->Button_language->setText(langText("语言", "language", "Язык", "Ngôn ngữ", "語言"));
    ui->Button_reset->setText(langText("工厂复位", "Factory reset", "Сброс настроек", "Khôi phục cài đặt gốc", "工廠復位"));
    ui->label_language->setText(langText("语言", "language", "Язык", "Ngôn ngữ", "語言"));
    ui->label_32CN->setText(langText("32高中文", "32 CN", "32 CN", "32 CN", "32高中文"));
    ui->label_32EN->setText(langText("32高英文", "32 EN", "32 EN", "32 EN", "32高英文"));
    ui->label_64CN->setText(langText("64高中文", "64 CN", "64 CN", "64 CN", "64高中文"));
    ui->label_64EN->setText(langText("64高英文", "64 EN", "64 EN", "64 EN", "64高英文"));
    ui->label_128CN->setText(langText("128高中文", "128 CN", "128 CN", "128 CN", "128高中文"));
    ui->label_128EN->setText(langText("128高英文", "128 EN", "128 EN", "128 EN", "128高英文"));
    ui->Button_reset1->setText(langText("保持IP不变", "Keep IP", "Сохранить IP", "Giữ nguyên IP", "保持IP不變"));
    ui->Button_reset2->setText(
        langText("IP和EDID保持不变", "Keep IP,EDID", "Сохранить IP и EDID", "IP và EDID vẫn giữ nguyên", "IP和EDID保持不變"));
    ui->Button_reset3->setText(langText("全部恢复出厂设置", "Reset ALL", "Сбросить все", "Khôi phục cài đặt gốc tất cả",
                                        "全部恢復出廠設置"));
    styleRecoveryButton();
}

// ---------------------------------------------------------------- page 1: receiving-card update

void AdvancedOption::on_Button_rcv_recovery_clicked() {
    if (rcv_file_count == 0 || navigationRefused()) return;
    showPage(kPageUpdate, ui->Button_rcv_recovery);
    styleRecoveryButton();
    panel_style::setLook(ui->Button_check, lit(panel_style::kTabOffStyle));
    panel_style::setLook(ui->Button_self_recovery, lit(panel_style::kTabOffStyle));
    rcv_self_recovery_file_list();
}

void AdvancedOption::on_Button_check_clicked() {
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("receiving-card check refused: ") + card_job::refusalText(r));
        return;
    }
    // a new check starts from nothing: recovery acts only on what this check finds
    rcv_update_count = 0;
    rcv_update_list.clear();
    rcv_update_blocked = 0;
    panel_style::setLook(ui->Button_self_recovery, lit(panel_style::kTabOffStyle));
    panel_style::setLook(ui->Button_check, lit(panel_style::kTabOnStyle));
    rcv_self_recovery_file_list();
    if (card_job::start(this, card_job::kCheck)) ringBesideList();
}

void AdvancedOption::on_Button_self_recovery_clicked() {
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok || rcv_update_blocked != 0 || rcv_update_count == 0 || rcv_update_list.isEmpty()) {
        writeLogMsg(LOG_WARNING, "receiving-card self-recovery refused: no card to recover, or a job runs");
        return;
    }
    panel_style::setLook(ui->Button_check, lit(panel_style::kTabOffStyle));
    panel_style::setLook(ui->Button_self_recovery, lit(panel_style::kTabOnStyle));
    rcv_self_recovery_file_list();
    job_block::setU8(job_block::kSubStep, job_block::kRecoveryMode);
    if (card_job::start(this, card_job::kSelfRecovery)) ringBesideList();
}

// A caption ending right at the next check box reads as that box's: a long word (Vietnamese)
// takes a smaller font and keeps a gap.
void AdvancedOption::fitCaptionBefore(QLabel* caption, QWidget* next) {
    constexpr int kGap = 8;
    panel_style::fitFont(caption, next->x() - caption->x() - kGap);
}

// The list's entries ("Find Screen.., LED.., Rcv..") take its left half, its first row may
// hold a message across it; the ring stands in the right half below the first row, where it
// covers none of their text.
void AdvancedOption::ringBesideList() {
    if (!g_qround_bar || g_qround_bar->parentWidget() != this || !rcv_list_frame) return;
    const QRect list(rcv_list_frame->mapTo(this, QPoint(0, 0)), rcv_list_frame->size());
    const QSize ring = g_qround_bar->size();
    g_qround_bar->move(list.right() - ring.width(), list.bottom() + 1 - ring.height());
}

void AdvancedOption::reportRcvUpdate(const QStringList& entries) {
    QMetaObject::invokeMethod(
        qApp, [entries] {
            if (g_advancedoption) g_advancedoption->applyRcvUpdate(entries);
        },
        Qt::QueuedConnection);
}

void AdvancedOption::applyRcvUpdate(const QStringList& entries) {
    rcv_update_list = entries;
    rcv_update_count = uint32_t(entries.size());
    rcv_report_pending_ = true;
}

void AdvancedOption::rcv_self_recovery_file_list() {
    if (rcv_list_frame) {
        // the pressed page button may lie in the old frame: it goes once its click is over
        rcv_list_frame->hide();
        rcv_list_frame->setObjectName(QString());
        rcv_list_frame->deleteLater();
        rcv_list_frame = nullptr;
    }
    for (int s = 0; s < kListEntriesPerPage; ++s) {
        rcv_entry_labels[s] = nullptr;
        rcv_entry_texts[s].clear();
    }
    rcv_list_selected = 0;
    rcv_list_frame = panel_style::makeFrame(ui->page_2, QStringLiteral("frame_file"), QRect(10, 90, 580, 240),
                                            lit(kListFrameStyle));
    const int n = rcv_update_count == 0 ? 0 : int(rcv_update_list.size());
    if (n == 0) {
        rcv_update_blocked = 0;
        QLabel* none = panel_style::makeLabel(
            rcv_list_frame, QStringLiteral("label_none"), QRect(5, 5, 570, 40),
            langText("暂无接收卡需要更新!", "No receiving cards that need to be updated!",
                     "Обновление принимающих карт не требуется!", "Chưa có thẻ nhận nào để cập nhật!",
                     "暫無接收卡需要更新!"),
            20);
        none->setStyleSheet(lit(kListTextStyle));
        none->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        rcv_list_last_page = uint8_t((n - 1) / kListEntriesPerPage);
        if (rcv_list_page > rcv_list_last_page) rcv_list_page = int8_t(rcv_list_last_page);
        if (rcv_list_page < 0) rcv_list_page = 0;
        const int first = kListEntriesPerPage * rcv_list_page;
        for (int i = first; i < n && i < first + kListEntriesPerPage; ++i) {
            const int s = i - first;
            const QStringList f = rcv_update_list.at(i).split(QLatin1Char('/'));
            if (f.size() < 4) continue;
            const bool over = f.at(2).toInt() > f.at(3).toInt();
            rcv_update_blocked = over ? 1 : 0;
            const QString text =
                langText("发现", "Find", "Find", "Find", "發現") + QLatin1Char(' ') +
                langText("屏幕", "Screen", "Screen", "Screen", "屏幕") + f.at(0) + QStringLiteral(", ") +
                langText("网口LED", "LED", "LED", "LED", "網口LED") + f.at(1) + QStringLiteral(", ") +
                langText("接收卡", "Rcv", "Rcv", "Rcv", "接收卡") +
                lit(over ? panel_style::kRedWord : panel_style::kWhiteWord).arg(f.at(2));
            QLabel* label = panel_style::makeLabel(rcv_list_frame, QStringLiteral("entry%1").arg(s),
                                                   QRect(5, 45 * s + 5, 520, 40), text, 20);
            label->setTextFormat(Qt::RichText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setStyleSheet(lit(s == 0 ? kEntryChosen : kEntryPlain));
            rcv_entry_labels[s] = label;
            rcv_entry_texts[s] = text;
            QPushButton* b = panel_style::makeButton(rcv_list_frame, QString::number(s), QRect(5, 45 * s + 5, 520, 40),
                                                     lit("background-color: transparent;"));
            connect(b, &QPushButton::clicked, this, &AdvancedOption::vlx_button_rcv_data_list_file_clicked);
        }
        if (rcv_list_page >= 1) {
            QPushButton* prev = panel_style::makeButton(rcv_list_frame, QStringLiteral("previous"),
                                                        QRect(530, 5, 50, 50), lit(kPageButtonStyle));
            panel_style::setIcon(prev, QStringLiteral(":/png/previous.png"), QSize(50, 50));
            connect(prev, &QPushButton::clicked, this, &AdvancedOption::vlx_Button_previous_clicked);
        }
        if (rcv_list_page < rcv_list_last_page) {
            QPushButton* next = panel_style::makeButton(rcv_list_frame, QStringLiteral("next"),
                                                        QRect(530, 185, 50, 50), lit(kPageButtonStyle));
            panel_style::setIcon(next, QStringLiteral(":/png/next.png"), QSize(50, 50));
            connect(next, &QPushButton::clicked, this, &AdvancedOption::vlx_Button_next_clicked);
        }
    }
    rcv_list_frame->show();
    ui->stackedWidget->setCurrentIndex(kPageUpdate);
}

void AdvancedOption::vlx_button_rcv_data_list_file_clicked() {
    const int s = sender() ? sender()->objectName().toInt() : 0;
    if (s < 0 || s >= kListEntriesPerPage || !rcv_entry_labels[s]) return;
    if (rcv_entry_labels[rcv_list_selected]) rcv_entry_labels[rcv_list_selected]->setStyleSheet(lit(kEntryPlain));
    rcv_list_selected = uint8_t(s);
    rcv_entry_labels[s]->setStyleSheet(lit(kEntryChosen));
}

void AdvancedOption::vlx_Button_previous_clicked() {
    if (rcv_list_page > 0) --rcv_list_page;
    rcv_self_recovery_file_list();
}

void AdvancedOption::vlx_Button_next_clicked() {
    rcv_list_page = rcv_list_page >= rcv_list_last_page ? 0 : int8_t(rcv_list_page + 1);
    rcv_self_recovery_file_list();
}

// ---------------------------------------------------------------- page 4: factory settings

void AdvancedOption::markLanguage(int value) {
    QPushButton* buttons[] = {ui->Button_chinese, ui->Button_english, ui->Button_ru, ui->Button_vn, ui->Button_tn};
    const int chosen = (value == 0 || value == 2 || value == 3 || value == 4) ? value : 1;
    for (int i = 0; i < 5; ++i) setMark(buttons[i], i == chosen);
}

void AdvancedOption::on_Button_factory_clicked() {
    if (navigationRefused()) return;
    showPage(kPageFactory, ui->Button_factory);
    markLanguage(g_language.load());
    const SystemLinks& links = systemLinks();
    const uint32_t fonts = links.c331FontBits ? links.c331FontBits() : 0;
    auto show = [fonts](QLabel* label, int bit) {
        panel_style::setPicture(label, QString::fromLatin1((fonts >> bit) & 1 ? ":/png/osd_yes.bmp" : ":/png/osd_no.bmp"),
                                false);
    };
    show(ui->label_32CNS, 0);
    show(ui->label_32ENS, 1);
    show(ui->label_64CNS, 2);
    show(ui->label_128CNS, 2);
    show(ui->label_64ENS, 3);
    show(ui->label_128ENS, 3);
}

void AdvancedOption::on_Button_language_clicked() {
    ui->stackedWidget_2->setCurrentIndex(0);
    panel_style::setLook(ui->Button_language, lit(kSubTabOn));
    panel_style::setLook(ui->Button_reset, lit(kSubTabOff));
    ui->line_choose->setGeometry(0, 57, 305, 4);
}

void AdvancedOption::on_Button_reset_clicked() {
    ui->stackedWidget_2->setCurrentIndex(1);
    panel_style::setLook(ui->Button_language, lit(kSubTabOff));
    panel_style::setLook(ui->Button_reset, lit(kSubTabOn));
    ui->line_choose->setGeometry(305, 57, 305, 4);
}

void AdvancedOption::chooseLanguage(int value, QPushButton* button) {
    (void)button;
    if (liveByte(ram(), kLanguage) == value) return;
    markLanguage(value);
    g_language = uint8_t(value);
    {
        ManageMutexLocker lock;
        ram()->setRamByte(kLanguage, uint8_t(value));
        c331_manage::update_flag = 1;
    }
    language_changed();
}

void AdvancedOption::on_Button_chinese_clicked() { chooseLanguage(0, ui->Button_chinese); }
void AdvancedOption::on_Button_english_clicked() { chooseLanguage(1, ui->Button_english); }
void AdvancedOption::on_Button_ru_clicked() { chooseLanguage(2, ui->Button_ru); }
void AdvancedOption::on_Button_vn_clicked() { chooseLanguage(3, ui->Button_vn); }
void AdvancedOption::on_Button_tn_clicked() { chooseLanguage(4, ui->Button_tn); }

void AdvancedOption::factoryReset(int kind, QPushButton* button) {
    if (selected_reset_button) panel_style::setLook(selected_reset_button, lit(kResetOff));
    if (kind == 3) {
        bool differs;
        {
            plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
            differs = g_str_ip != lit(kDefaultIp) || g_srt_mask != lit(kDefaultMask) ||
                      g_str_gateway != lit(kDefaultGateway);
        }
        // all three together: an address already at the default still needs its mask and gateway
        if (differs) Utils::storeAndApplyNetwork(lit(kDefaultIp), lit(kDefaultMask), lit(kDefaultGateway));
    }
    // read over SPI before the manage mutex is taken
    const bool running = fpgasRunning();
    VlxRamPara* p = ram();
    const uint8_t apOffBefore = liveByte(p, kWifiApOff);
    {
        ManageMutexLocker lock;
        const unsigned char* image = default_para_ramlist.data() + kRamFileMarkerSize;
        if (kind == 2) {
            p->writeRam(kSavedStart, image, kEdidPara - kSavedStart);
            p->writeRam(kSpliceMode, image + (kSpliceMode - kSavedStart), kRamSize - kSpliceMode);
        } else {
            p->writeRam(kSavedStart, image, kSavedLength);
        }
        if (p->ramU16(kLedWidth) != p->shadowU16(kLedWidth) || p->ramU16(kLedHeight) != p->shadowU16(kLedHeight) ||
            p->ramU16(kSpliceMode) != p->shadowU16(kSpliceMode)) {
            if (running) {
                plat::Locker<plat::QtMutex> led(Utils::_led_para_init_mutex);
                g_set_led_para = 1;
                g_set_led_setup = 0;
                engine_requests::fpgaOwner.wake();  // the FPGA engine blanks the output first
            }
            p->setRamU16(kAudioWindow, 0);
        }
        c331_manage::update_flag = 1;
    }
    // the access point follows its switch as when it is pressed
    const uint8_t apOffAfter = liveByte(p, kWifiApOff);
    if (apOffBefore != 0 && apOffAfter == 0) restartAccessPoint();
    if (apOffBefore == 0 && apOffAfter != 0) stopAccessPoint();
    selected_reset_button = button;
    panel_style::setLook(button, lit(kResetOn));
    writeLogMsg(LOG_INFO, "factory reset " + std::to_string(kind));
}

void AdvancedOption::on_Button_reset1_clicked() { factoryReset(1, ui->Button_reset1); }
void AdvancedOption::on_Button_reset2_clicked() { factoryReset(2, ui->Button_reset2); }
void AdvancedOption::on_Button_reset3_clicked() { factoryReset(3, ui->Button_reset3); }

// ---------------------------------------------------------------- page 5: ageing log

void AdvancedOption::on_Button_factory_age_clicked() {
    if (navigationRefused()) return;
    if (age_open_ && ui->stackedWidget->currentIndex() == kPageAgeing) return;
    if (!g_numberkeyboard) return;
    g_numberkeyboard->ask(this, QStringLiteral("key"), QStringLiteral("**********"),
                          [this] { awaiting_code_ = true; }, [this] { awaiting_code_ = false; },
                          QLatin1String(kAgeingCode).size());
}

void AdvancedOption::confirmString(QString value) {
    // every keypad result arrives here; only the answer to this screen's own question counts
    if (!awaiting_code_) return;
    awaiting_code_ = false;
    if (value != QLatin1String(kAgeingCode)) return;
    ui->stackedWidget->setCurrentIndex(kPageAgeing);
    button_select(ui->Button_factory_age);
    ageloginit();
    age_open_ = 1;
}

void AdvancedOption::ageloginit() {
    if (!factoryage_log.isEmpty()) {
        update_agelog();
        return;
    }
    const QString now = QDateTime::fromSecsSinceEpoch(plat::timeOfDay()).toString(QStringLiteral("MM-dd hh:mm"));
    ui->label_log1->setText(now + QStringLiteral("  ") + langText("正在老化中...", "Ageing in progress...", "Идёт старение...",
                                                                      "Đang lão hóa...", "正在老化中..."));
    age_text_.clear();
    ui->label_3->setText(QStringLiteral("OUT1:0<3 0<5 0<10 0<20 0>20    OUT2:0<3 0<5 0<10 0<20 0>20"));
    ui->page_info->setText(QStringLiteral("0"));
    ui->label_page->setText(QStringLiteral("0/0"));
}

namespace {

QString threeDigits(const QString& field) { return QStringLiteral("%1").arg(field.toInt(), 3, 10, QLatin1Char('0')); }

QString flagCells(int flags) {
    static const char* const names[] = {"DDR0", "DDR1", "DE", "HS", "VS"};
    QString out;
    for (int bit = 0; bit < 5; ++bit) {
        const bool set = (flags >> bit) & 1;
        out += QString::fromLatin1(set ? panel_style::kGreenWord : panel_style::kRedWord).arg(QLatin1String(names[bit]));
        if (set || bit != 4) out += QLatin1Char(' ');
    }
    return out;
}

QString histogram(uint32_t d3, uint32_t d5, uint32_t d10, uint32_t d20, uint32_t dmore) {
    return QStringLiteral("%1<3  %2<5  %3<10  %4<20  %5>20 ").arg(d3).arg(d5).arg(d10).arg(d20).arg(dmore);
}

}  // namespace

void AdvancedOption::update_agelog() {
    const int n = int(factoryage_log.size());
    if (n == 0) {
        ageloginit();
        return;
    }
    const int pages = (n + kLogLinesPerPage - 1) / kLogLinesPerPage;
    if (age_page_ >= pages) age_page_ = pages - 1;
    if (age_page_ < 0) age_page_ = 0;
    age_text_.clear();
    bool first = true;
    for (int i = kLogLinesPerPage * age_page_; i < n && i < kLogLinesPerPage * (age_page_ + 1); ++i) {
        const QStringList f = factoryage_log.at(i).split(QLatin1Char(' '));
        if (f.size() != 8) continue;
        QString row = first ? QString() : QStringLiteral("<br>");
        first = false;
        row += f.at(0) + QLatin1Char(' ') + f.at(1) + QLatin1Char(' ');
        row += threeDigits(f.at(2)) + QLatin1Char(' ') + flagCells(f.at(3).toInt()) + threeDigits(f.at(4));
        row += QStringLiteral("    ,");
        row += threeDigits(f.at(5)) + QLatin1Char(' ') + flagCells(f.at(6).toInt()) + threeDigits(f.at(7));
        age_text_ += row;
    }
    ui->label_log1->setText(age_text_);
    ui->label_3->setText(QStringLiteral("OUT1:") +
                         histogram(factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10,
                                   factoryage_log_diff20, factoryage_log_diffmore) +
                         QStringLiteral("    OUT2:") +
                         histogram(factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10,
                                   factoryage_log2_diff20, factoryage_log2_diffmore));
    ui->label_page->setText(QStringLiteral("%1/%2").arg(age_page_ + 1).arg(pages));
    ui->page_info->setText(QString::number(n));
}

void AdvancedOption::on_next_clicked() {
    const int n = int(factoryage_log.size());
    if (n == 0) {
        age_page_ = 0;
        return;
    }
    const int pages = (n + kLogLinesPerPage - 1) / kLogLinesPerPage;
    age_page_ = age_page_ + 1 >= pages ? 0 : age_page_ + 1;
    ageloginit();
}

void AdvancedOption::on_pre_clicked() {
    const int n = int(factoryage_log.size());
    if (n == 0) return;
    const int pages = (n + kLogLinesPerPage - 1) / kLogLinesPerPage;
    age_page_ = (age_page_ <= 0 || age_page_ > pages) ? pages - 1 : age_page_ - 1;
    ageloginit();
}
