#include "ui/shell/lockwindow.h"

#include <QApplication>
#include <QLabel>
#include <QMutexLocker>

#include "core/global.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/screen_text.h"
#include "ui/shell/shell_globals.h"
#include "ui_lockwindow.h"

using panel_style::langText;

namespace {
constexpr const char* kCardStyle = "QFrame{background-color: #212435;border:0px;border-radius:8px;}";
constexpr int kCardWidth = 244;
constexpr int kCardHeight = 140;
}  // namespace

LockWindow::LockWindow(QWidget* parent) : QWidget(parent), ui(new Ui::LockWindow) {
    ui->setupUi(this);
    panel_style::prepareScreen(this);
    setWindowModality(Qt::ApplicationModal);
    ui->label_title->setFont(panel_style::panelFont(28));
    ui->label_ip->setFont(panel_style::panelFont(18));
    ui->label_mode->setFont(panel_style::panelFont(18));
    ui->label_lock->setFont(panel_style::panelFont(20));
    ui->label_hint->setFont(panel_style::panelFont(20));
    language_changed();
}

LockWindow::~LockWindow() { delete ui; }

void LockWindow::language_changed() {
    ui->label_title->setText(langText("LED视频处理器", "LED Video Processor", "LED видеопроцессор",
                                      "Bộ xử lý video LED", "LED視頻處理器"));
    ui->label_lock->setText(langText("前面板已锁定", "Front panel locked", "Передняя панель заблокирована",
                                     "Bảng điều khiển đã khóa", "前面板已鎖定"));
    ui->label_hint->setText(langText("轻触屏幕进入主界面", "Touch the screen to continue",
                                     "Коснитесь экрана, чтобы продолжить", "Chạm vào màn hình để tiếp tục",
                                     "輕觸屏幕進入主界面"));
    refreshInfo();
    buildInputs();
}

void LockWindow::syncUpdate() {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) {
        language_changed();
        return;
    }
    refreshInfo();
    buildInputs();
}

void LockWindow::refreshInfo() {
    QString ip;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        ip = g_str_ip;
    }
    ui->label_ip->setText(QStringLiteral("IP:") + ip);
    const VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    ui->label_mode->setText(screen_text::currentModeText(ui->label_mode));
    ui->label_lock->setVisible(ram && (ram->snapshotU16(vlxram::kPanelLock) & 0xFF) != 0);
}

void LockWindow::buildInputs() {
    panel_style::rebuildContainer(input_frame_, ui->frame_inputs, QStringLiteral("frame_input_cards"));
    for (int port = 0; port < vlxram::kInputs; ++port) {
        QFrame* card = new QFrame(input_frame_);
        card->setObjectName(QString::number(port));
        card->setGeometry(6 + (port % 3) * (kCardWidth + 6), 8 + (port / 3) * (kCardHeight + 8), kCardWidth,
                          kCardHeight);
        card->setStyleSheet(kCardStyle);
        QLabel* name = panel_style::makeLabel(card, QStringLiteral("name"), QRect(14, 12, 190, 36), QString(), 24);
        name->setText(screen_text::inputName(port, name, name->width()));
        const screen_text::Timing t = screen_text::inputTiming(port);
        if (t.present()) panel_style::makeInUseDot(card, kCardWidth - 30, 23);
        QLabel* kind = panel_style::makeLabel(card, QStringLiteral("port"), QRect(14, 52, 210, 26),
                                              screen_text::portName(port), 16);
        kind->setStyleSheet(QStringLiteral("color: rgb(133, 129, 153);"));
        QLabel* info = panel_style::makeLabel(card, QStringLiteral("timing"), QRect(14, 88, 220, 38), QString(), 22);
        info->setText(screen_text::timingText(t));
        info->setStyleSheet(t.present() ? QStringLiteral("color: #00D65B;") : QStringLiteral("color: #FF4040;"));
    }
    input_frame_->show();
}

void LockWindow::mousePressEvent(QMouseEvent*) { enterHome(); }

void LockWindow::enterHome() {
    if (leaving_) return;
    leaving_ = true;
    if (g_lockwindow == this) g_lockwindow = nullptr;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (QWidget* open = QApplication::activeModalWidget()) {
        // a screen the idle return leaves open (settings menu, machine state, test patterns)
        // still runs beneath: the touch goes back to it
        g_page_focus = covered_focus_;
        open->raise();
        open->activateWindow();
        return;
    }
    g_page_focus = 1;
    if (g_mainwindow) {
        // the home screen was not refreshed while this screen lay in front
        g_mainwindow->language_changed();
        g_mainwindow->show();
        g_mainwindow->raise();
        g_mainwindow->activateWindow();
    }
}
