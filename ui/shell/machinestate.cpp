#include "ui/shell/machinestate.h"

#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>

#include "core/global.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/screen_text.h"
#include "ui/shell/shell_globals.h"
#include "ui_machinestate.h"

using panel_style::langText;

namespace {
constexpr const char* kLinkUpStyle = "background-color:#00D65B;color:#10101C;border-radius:4px;";
constexpr const char* kLinkDownStyle =
    "background-color:#212435;color: rgb(133, 129, 153);border:1px solid rgb(133, 129, 153);border-radius:4px;";
}  // namespace

MachineState::MachineState(QWidget* parent) : QDialog(parent), ui(new Ui::MachineState) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    ui->label_title->setFont(panel_style::panelFont(26));
    for (QLabel* l : {ui->label_ip, ui->label_mask, ui->label_gateway, ui->label_mode, ui->label_fpga, ui->label_id,
                      ui->label_ports})
        l->setFont(panel_style::panelFont(16));
    language_changed();
}

MachineState::~MachineState() { delete ui; }

void MachineState::language_changed() {
    ui->label_title->setText(langText("设备状态", "Device status", "Состояние", "Trạng thái", "設備狀態"));
    ui->label_ports->setText(langText("输出网口连接", "Output port links", "Связь выходных портов",
                                      "Kết nối cổng ra", "輸出網口連接"));
    refreshInputs();
    initWlan();
}

void MachineState::syncUpdate(int code) {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) {
        language_changed();
        return;
    }
    refreshInputs();
    if (code == 11) initWlan();
}

void MachineState::refreshInputs() {
    QString ip, mask, gateway;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    ui->label_ip->setText(QStringLiteral("IP:") + ip);
    ui->label_mask->setText(langText("子网掩码:", "Subnet mask:", "Маска подсети:", "Mặt nạ mạng:", "子網掩碼:") + mask);
    ui->label_gateway->setText(langText("网关:", "Gateway:", "Шлюз:", "Cổng mạng:", "網關:") + gateway);
    ui->label_mode->setText(screen_text::currentModeText(ui->label_mode));
    const ShellLinks& links = shellLinks();
    const bool running = links.fpgaEnginePresent && links.fpgaEnginePresent() && links.fpgaRunning &&
                         links.fpgaRunning();
    ui->label_fpga->setText(langText("发送卡:", "Sending cards:", "Передающие карты:", "Card phát:", "發送卡:") +
                            (running ? langText("运行", "running", "работают", "đang chạy", "運行")
                                     : langText("未运行", "stopped", "остановлены", "đã dừng", "未運行")));
    const QString id = QString::fromLatin1(g_pid, int(strnlen(g_pid, sizeof g_pid)));
    ui->label_id->setText(QStringLiteral("ID:") + (id.isEmpty() ? QStringLiteral("-") : id));

    panel_style::rebuildContainer(input_frame_, ui->frame_inputs, QStringLiteral("frame_input_cells"));
    for (int port = 0; port < vlxram::kInputs; ++port) {
        QFrame* cell = new QFrame(input_frame_);
        cell->setObjectName(QString::number(port));
        cell->setGeometry(6 + port * 125, 8, 118, 82);
        cell->setStyleSheet(panel_style::kCardStyle);
        QLabel* name = panel_style::makeLabel(cell, QStringLiteral("name"), QRect(8, 6, 104, 28), QString(), 18);
        name->setText(screen_text::inputName(port, name, name->width()));
        const screen_text::Timing t = screen_text::inputTiming(port);
        // two lines: a cell is too narrow for "1920x1080@120Hz" in one
        QLabel* info = panel_style::makeLabel(cell, QStringLiteral("timing"), QRect(8, 36, 106, 40),
                                              screen_text::cardTimingText(t), 14);
        info->setStyleSheet(t.present() ? QStringLiteral("color: #00D65B;") : QStringLiteral("color: #FF4040;"));
    }
    input_frame_->show();
}

void MachineState::initWlan() {
    const ShellLinks& links = shellLinks();
    const bool engine = links.fpgaEnginePresent && links.fpgaEnginePresent();
    links_ = engine && links.fpgaPortLinks ? links.fpgaPortLinks() : 0;

    panel_style::rebuildContainer(port_frame_, ui->frame_ports, QStringLiteral("frame_port_cells"));
    for (int out = 0; out < 2; ++out) {
        panel_style::makeLabel(port_frame_, QStringLiteral("out%1").arg(out + 1), QRect(8, 20 + out * 70, 60, 30),
                               QStringLiteral("OUT%1").arg(out + 1), 18);
        for (int p = 0; p < kPortsPerOutput; ++p) {
            const int bit = out * kPortsPerOutput + p;
            const bool up = (links_ >> bit) & 1u;
            QLabel* cell = panel_style::makeLabel(port_frame_, QString::number(bit),
                                                  QRect(72 + p * 42, 14 + out * 70, 38, 42), QString::number(p + 1),
                                                  15);
            cell->setAlignment(Qt::AlignCenter);
            cell->setStyleSheet(up ? kLinkUpStyle : kLinkDownStyle);
        }
    }
    port_frame_->show();
}

void MachineState::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_machinestate == this) g_machinestate = nullptr;
    if (g_mainwindow) g_mainwindow->language_changed();
    g_page_focus = 1;
}
