#include "ui/shell/mainwindow.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPushButton>
#include <QThread>

#include <cstring>

#include "core/alias.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/ram_file_writer.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "scaler/c331_manage.h"
#include "ui/input/custommode.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_stack.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/screen_run.h"
#include "ui/shell/screen_text.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/tip.h"
#include "ui_mainwindow.h"

using panel_style::langText;

uint32_t factoryage_log_diff3 = 0;
uint32_t factoryage_log_diff5 = 0;
uint32_t factoryage_log_diff10 = 0;
uint32_t factoryage_log_diff20 = 0;
uint32_t factoryage_log_diffmore = 0;
uint32_t factoryage_log2_diff3 = 0;
uint32_t factoryage_log2_diff5 = 0;
uint32_t factoryage_log2_diff10 = 0;
uint32_t factoryage_log2_diff20 = 0;
uint32_t factoryage_log2_diffmore = 0;

ShellLinks& shellLinks() {
    // GUI thread only: start-up fills it on that thread, the screens and the shell call it; a
    // worker never reads it, the file transfer's card-file hook calls copies (engine_links.cpp)
    static ShellLinks links;
    return links;
}

namespace {

constexpr const char* kSlotSavedStyle =
    "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);border-radius:5px;";
constexpr const char* kSlotCurrentStyle =
    "background-color: #212435;color: rgb(255, 255, 255);border:2px solid #00D65B;border-radius:5px;";
constexpr const char* kSlotEmptyStyle =
    "background-color: #10101C;color: rgb(133, 129, 153);border:1px solid rgb(133, 129, 153);border-radius:5px;";

// One histogram step: how far an output's 8-bit counter moved between two samples.
void countAdvance(int older, int newer, uint32_t* d3, uint32_t* d5, uint32_t* d10, uint32_t* d20,
                  uint32_t* dmore) {
    int advance = newer - older;
    if (newer < older) advance += 256;
    if (advance <= 0) return;
    if (advance <= 2)
        ++*d3;
    else if (advance <= 4)
        ++*d5;
    else if (advance <= 9)
        ++*d10;
    else if (advance <= 19)
        ++*d20;
    else
        ++*dmore;
}

uint8_t fpgaRegister(uint8_t reg, uint8_t fpga) {
    const ShellLinks& links = shellLinks();
    return links.fpgaRegister ? links.fpgaRegister(reg, fpga) : 0;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
    ui->setupUi(this);
    panel_stack::follow();  // the panel's windows, from the first one
    // the home screen is the panel's area itself: the others are placed on it
    setFixedSize(panel_style::kScreenWidth, panel_style::kScreenHeight);
    ui->label_title->setFont(panel_style::panelFont(26));
    ui->label_lock->setFont(panel_style::panelFont(18));
    ui->label_ip->setFont(panel_style::panelFont(16));
    ui->label_mode->setFont(panel_style::panelFont(16));
    for (QPushButton* tile : {ui->inputchoose, ui->custommode, ui->modepanel, ui->option, ui->machinestate}) {
        panel_style::setLook(tile, QString::fromLatin1(panel_style::kTileStyle));
        tile->setFont(panel_style::panelFont(24));
    }
    ui->label_mode_title->setFont(panel_style::panelFont(22));
    ui->Button_mode_recall->setFont(panel_style::panelFont(18));
    ui->Button_mode_save->setFont(panel_style::panelFont(18));
    panel_style::setBackIcon(ui->Button_mode_close);
    // the panel lies over the home screen: its inner widgets show the panel's colour
    for (QWidget* inner : {static_cast<QWidget*>(ui->label_mode_title), static_cast<QWidget*>(ui->frame_mode_slots)})
        inner->setStyleSheet(QStringLiteral("background-color: transparent;border:0px;"));
    ui->frame_mode->hide();
    showModeAction();

    if (!g_numberkeyboard) g_numberkeyboard = new NumberKeyboard;
    if (!g_tip) g_tip = new TIP;

    language_changed();
    syncUpdate();
}

MainWindow::~MainWindow() { delete ui; }

void MainWindow::language_changed() {
    ui->label_title->setText(langText("LED视频处理器", "LED Video Processor", "LED видеопроцессор",
                                      "Bộ xử lý video LED", "LED視頻處理器"));
    ui->label_lock->setText(
        langText("面板已锁定", "Panel locked", "Панель заблокирована", "Bảng đã khóa", "面板已鎖定"));
    ui->inputchoose->setText(langText("输入选择", "Input", "Вход", "Đầu vào", "輸入選擇"));
    ui->custommode->setText(langText("用户模式", "User modes", "Режимы", "Chế độ", "用戶模式"));
    ui->modepanel->setText(langText("模式调用", "Mode recall", "Вызов режима", "Gọi chế độ", "模式調用"));
    ui->option->setText(langText("系统设置", "Settings", "Настройки", "Cài đặt", "系統設置"));
    ui->machinestate->setText(
        langText("设备状态", "Device status", "Состояние", "Trạng thái", "設備狀態"));
    ui->label_mode_title->setText(langText("用户模式", "User modes", "Режимы", "Chế độ", "用戶模式"));
    ui->Button_mode_recall->setText(langText("调用", "Recall", "Вызвать", "Gọi", "調用"));
    ui->Button_mode_save->setText(langText("保存", "Save", "Сохранить", "Lưu", "保存"));
    refreshStatusBar();
    buildInputCards();
    if (modePanelShown()) buildModeButtons();
}

void MainWindow::syncUpdate() {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) {
        language_changed();
        return;
    }
    refreshStatusBar();
    buildInputCards();
    if (modePanelShown()) buildModeButtons();
}

bool MainWindow::panelLocked() const {
    const VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    return ram && (ram->snapshotU16(vlxram::kPanelLock) & 0xFF) != 0;
}

void MainWindow::refreshStatusBar() {
    ui->label_lock->setVisible(panelLocked());
    QString ip;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        ip = g_str_ip;
    }
    ui->label_ip->setText(QStringLiteral("IP:") + ip);
    ui->label_mode->setText(screen_text::currentModeText(ui->label_mode));
}

void MainWindow::buildInputCards() {
    panel_style::rebuildContainer(input_frame_, ui->frame_inputs, QStringLiteral("frame_input_cards"));
    constexpr int kCardWidth = 118;
    constexpr int kCardGap = 7;
    // the name ends a gap before the green signal dot: a long name must not run under it
    constexpr int kDotX = kCardWidth - 22;
    constexpr int kNameWidth = kDotX - 6 - 8;
    for (int port = 0; port < vlxram::kInputs; ++port) {
        QFrame* card = new QFrame(input_frame_);
        card->setObjectName(QString::number(port));
        card->setGeometry(6 + port * (kCardWidth + kCardGap), 8, kCardWidth, 110);
        card->setStyleSheet(panel_style::kCardStyle);
        QLabel* name = panel_style::makeLabel(card, QStringLiteral("name"), QRect(8, 8, kNameWidth, 28),
                                              QString(), 18);
        name->setText(screen_text::inputName(port, name, name->width()));
        const screen_text::Timing t = screen_text::inputTiming(port);
        if (t.present()) panel_style::makeInUseDot(card, kDotX, 18);
        QLabel* kind = panel_style::makeLabel(card, QStringLiteral("port"), QRect(8, 38, kCardWidth - 12, 20),
                                              screen_text::portName(port), 13);
        kind->setStyleSheet(QStringLiteral("color: rgb(133, 129, 153);"));
        // two lines: a card is too narrow for "3840x2160@30Hz" in one
        QLabel* info = panel_style::makeLabel(card, QStringLiteral("timing"), QRect(8, 60, kCardWidth - 12, 44),
                                              QString(), 14);
        info->setText(screen_text::cardTimingText(t));
        info->setStyleSheet(t.present() ? QStringLiteral("color: #00D65B;") : QStringLiteral("color: #FF4040;"));
    }
    input_frame_->show();
}

// ---------------------------------------------------------------- tiles

void MainWindow::on_inputchoose_clicked() {
    if (panelLocked()) {
        writeLogMsg(LOG_INFO, "front panel locked: input choice refused");
        return;
    }
    screen_run::runScreen(g_inputchoose, 3, 1);
}

void MainWindow::on_custommode_clicked() {
    if (panelLocked()) {
        writeLogMsg(LOG_INFO, "front panel locked: user modes refused");
        return;
    }
    ui->frame_mode->hide();
    screen_run::runScreen(g_custommode, 4, 1);
}


void MainWindow::on_option_clicked() {
    ui->frame_mode->hide();
    screen_run::runScreen(g_option, 5, 1);
}

void MainWindow::on_machinestate_clicked() {
    ui->frame_mode->hide();
    screen_run::runScreen(g_machinestate, 2, 1);
}

// ---------------------------------------------------------------- mode panel

bool MainWindow::modePanelShown() const { return !ui->frame_mode->isHidden(); }

void MainWindow::on_modepanel_clicked() {
    // The tile says recall: a save over a stored mode is only ever the user's own choice of Save.
    mode_action_ = ModeAction::Recall;
    ui->frame_mode->show();
    ui->frame_mode->raise();
    buildModeButtons();
}

void MainWindow::on_Button_mode_close_clicked() { ui->frame_mode->hide(); }

void MainWindow::on_Button_mode_recall_clicked() {
    mode_action_ = ModeAction::Recall;
    buildModeButtons();
}

void MainWindow::on_Button_mode_save_clicked() {
    mode_action_ = ModeAction::Save;
    buildModeButtons();
}

void MainWindow::showModeAction() {
    const bool recall = mode_action_ == ModeAction::Recall;
    const QString on = QString::fromLatin1(panel_style::kFramedOnStyle);
    const QString off = QString::fromLatin1(panel_style::kFramedOffStyle);
    panel_style::setLook(ui->Button_mode_recall, recall ? on : off);
    panel_style::setLook(ui->Button_mode_save, recall ? off : on);
}

void MainWindow::buildModeButtons() {
    const bool recall = mode_action_ == ModeAction::Recall;
    showModeAction();
    panel_style::rebuildContainer(mode_frame_, ui->frame_mode_slots, QStringLiteral("frame_mode_buttons"), 0);
    const bool haveRam = VlxRamPara::p_vlxrampara_config != nullptr;
    const int current = haveRam ? VlxRamPara::VlxGetCurrentModeIndex() : 0;
    for (int slot = 0; slot < vlxram::kModeSlots; ++slot) {
        const bool saved = haveRam && VlxRamPara::VlxUserModeSaved(slot);
        const QString style = slot + 1 == current ? kSlotCurrentStyle : saved ? kSlotSavedStyle : kSlotEmptyStyle;
        QPushButton* b = panel_style::makeButton(mode_frame_, QString::number(slot),
                                                 QRect((slot % 4) * 143, (slot / 4) * 76, 130, 66), style);
        b->setFont(panel_style::panelFont(16));
        b->setText(screen_text::userModeName(slot, b, 120));
        // an empty slot has nothing to recall
        b->setEnabled(saved || !recall);
        connect(b, &QPushButton::clicked, this, &MainWindow::vlx_button_mode_clicked);
    }
    mode_frame_->show();
}

void MainWindow::vlx_button_mode_clicked() {
    QObject* from = sender();
    if (!from || !VlxRamPara::p_vlxrampara_config) return;
    bool ok = false;
    const int slot = from->objectName().toInt(&ok);
    if (!ok || slot < 0 || slot >= vlxram::kModeSlots) return;
    g_mode_select = uint8_t(slot);
    if (mode_action_ == ModeAction::Recall) {
        if (!VlxRamPara::recallMode(slot)) return;
    } else {
        // the change notification copies the RAM into the slot and writes its file
        VlxRamPara::requestModeSave(slot);
    }
    mode_recall_flag = 1;
    ui->frame_mode->hide();
}

// ---------------------------------------------------------------- firmware-update display

void MainWindow::update_start() {
    g_update_flag = 1;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { update_start(); }, Qt::QueuedConnection);
        return;
    }
    if (!update_display_) update_display_ = new FirmwareUpdate;
    if (g_numberkeyboard) g_numberkeyboard->dismiss();
    panel_style::placeOnPanel(update_display_);
    update_display_->show();
    update_display_->raise();
}

void MainWindow::update_over() {
    g_update_flag = 0;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { update_over(); }, Qt::QueuedConnection);
        return;
    }
    if (update_display_) {
        update_display_->close();
        update_display_->deleteLater();
        update_display_ = nullptr;
    }
}

// ---------------------------------------------------------------- the tick

void MainWindow::slot_update_timer_ticks() {
    G_timeTicks.fetch_add(1);
    if (update_display_) update_display_->tick();
    if (g_tip) g_tip->tick();
    rebootWhenDue();
    ageingWhenDue();
    if (lcd_touch::p_lcd_touch) lcd_touch::p_lcd_touch->auto_timeout_back();
}

void MainWindow::rebootWhenDue() {
    if (!g_app_reset_flag) return;
    if (Utils::getTimeSpace(G_reboot_tickTicks) < kRebootDelayTicks) return;
    g_app_reset_flag = 0;
    RamFileWriter::flush();  // the last change's save is in the file before the power goes
    int status = 0;
    Utils::system_mutex(QStringLiteral("reboot"), &status);
    if (status != 0) {
        // try again after the same delay rather than on every tick
        writeLogMsg(LOG_ERROR, "reboot failed with status " + std::to_string(status));
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
}

void MainWindow::ageingWhenDue() {
    if (Utils::getTimeSpace(G_factoryage_ticks) < kAgeSampleTicks) return;
    G_factoryage_ticks = G_timeTicks.load();
    const ShellLinks& links = shellLinks();
    const bool engine = links.fpgaEnginePresent && links.fpgaEnginePresent();
    // a PC command in progress owns the FPGAs; the sample would disturb it
    if (engine && !pc_window::open() && links.fpgaRunning && links.fpgaRunning()) getagelog();
    if (links.ageViewRefresh) links.ageViewRefresh();
}

void MainWindow::getagelog() {
    // the time of day is read whole (plat::timeOfDay); no lock another thread's command holds
    QString line = QDateTime::fromSecsSinceEpoch(plat::timeOfDay()).toString(QStringLiteral("MM-dd hh:mm"));
    for (uint8_t fpga = 0; fpga < 2; ++fpga) {
        const uint8_t flags = fpgaRegister(40, fpga);
        const uint8_t counter = fpgaRegister(42, fpga);
        const uint8_t value = fpgaRegister(43, fpga);
        line += QStringLiteral(" %1 %2 %3").arg(counter).arg(flags).arg(value);
    }
    factoryage_log.append(line);
    while (factoryage_log.size() > kAgeLogMaxLines) factoryage_log.removeFirst();
    if (factoryage_log.size() < 2) return;
    const QStringList newer = factoryage_log.at(factoryage_log.size() - 1).split(QLatin1Char(' '));
    const QStringList older = factoryage_log.at(factoryage_log.size() - 2).split(QLatin1Char(' '));
    if (newer.size() < 8 || older.size() < 8) return;
    countAdvance(older.at(2).toInt(), newer.at(2).toInt(), &factoryage_log_diff3, &factoryage_log_diff5,
                 &factoryage_log_diff10, &factoryage_log_diff20, &factoryage_log_diffmore);
    countAdvance(older.at(5).toInt(), newer.at(5).toInt(), &factoryage_log2_diff3, &factoryage_log2_diff5,
                 &factoryage_log2_diff10, &factoryage_log2_diff20, &factoryage_log2_diffmore);
}
