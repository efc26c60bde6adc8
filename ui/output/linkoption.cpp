#include "ui/output/linkoption.h"

#include <QFileInfo>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/job_block.h"
#include "fpga/usb_package.h"
#include "platform/platform.h"
#include "ui/output/output_links.h"
#include "ui/output/screen_common.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/shell_globals.h"
#include "ui_linkoption.h"

using panel_style::langText;

QPointer<LinkOption> g_linkoption;

namespace {
const char* const kRows[] = {"Ip", "Mask", "Gate"};
constexpr const char* kRowPlain = "background-color: rgb(33, 36, 53);color: #FFFFFF";
constexpr const char* kRowMarked = "background-color:#4777FF;color: #FFFFFF;";
constexpr const char* kArrowStyle = "background-color: rgb(33, 36, 53);";
}  // namespace

LinkOption::LinkOption(QWidget* parent) : QDialog(parent), ui(new Ui::LinkOption) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    lcd_touch::registerScreen(IdleScreen::LinkOption, [] { return static_cast<QObject*>(g_linkoption.data()); });
    output_ui::setFontPx(ui->label_title, 24);
    for (QPushButton* b : {ui->Button_com, ui->Button_wlan, ui->Button_usb}) output_ui::setFontPx(b, 18);
    for (QWidget* w : ui->stackedWidget->findChildren<QWidget*>()) output_ui::setFontPx(w, 19);
    for (QWidget* w : {static_cast<QWidget*>(ui->label_IpSet), static_cast<QWidget*>(ui->label_netmask),
                       static_cast<QWidget*>(ui->label_gateway)})
        output_ui::setFontPx(w, 17);
    output_ui::setFontPx(ui->label_direct, 16);
    output_ui::setFontPx(ui->label_IP, 16);
    for (QPushButton* b : {ui->Button_net_cancel, ui->Button_net_apply, ui->Button_ok}) output_ui::framed(b, false);
    // left of Cancel, below the gateway's fields
    refused_ = std::make_unique<RefusalNote>(ui->page_2, QRect(5, 316, 200, 82));
    panel_style::setLook(ui->Button_direct, QString::fromLatin1(panel_style::kBareLook));
    panel_style::setLook(ui->Button_IP, QString::fromLatin1(panel_style::kBareLook));
    ui->stackedWidget->setCurrentIndex(0);
    selected_tab_ = ui->Button_com;
    output_ui::tab(ui->Button_com, true);
    output_ui::tab(ui->Button_wlan, false);
    output_ui::tab(ui->Button_usb, false);
    on_Button_direct_clicked();
    language_changed();
    QString values[3];
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        values[0] = g_str_ip, values[1] = g_srt_mask, values[2] = g_str_gateway;
    }
    for (int r = 0; r < 3; ++r) {
        const QStringList parts = values[r].split(QLatin1Char('.'));
        for (int k = 0; k < 4; ++k) {
            QLineEdit* f = field(kRows[r], k);
            f->setText(k < parts.size() ? parts.at(k) : QString());
            connect(f, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
        }
    }
    if (g_numberkeyboard)
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
}

LinkOption::~LinkOption() { delete ui; }

QLineEdit* LinkOption::field(const char* row, int k) const {
    return findChild<QLineEdit*>(QStringLiteral("lineEdit%1%2").arg(QLatin1String(row)).arg(k + 1));
}

QString LinkOption::rowText(const char* row) const {
    QStringList parts;
    for (int k = 0; k < 4; ++k) parts << QString::number(RefusalNote::shownNumber(field(row, k)));
    return parts.join(QLatin1Char('.'));
}

// ---------------------------------------------------------------- tabs

void LinkOption::selectTab(QPushButton* tab, int page) {
    ui->stackedWidget->setCurrentIndex(page);
    if (selected_tab_) output_ui::tab(selected_tab_, false);
    selected_tab_ = tab;
    output_ui::tab(tab, true);
}

void LinkOption::on_Button_com_clicked() { selectTab(ui->Button_com, 0); }
void LinkOption::on_Button_wlan_clicked() { selectTab(ui->Button_wlan, 1); }

void LinkOption::on_Button_usb_clicked() {
    selectTab(ui->Button_usb, 2);
    get_file_list_smartpath();
    rcv_self_recovery_file_list();
}

void LinkOption::on_Button_direct_clicked() {
    panel_style::setIcon(ui->Button_direct, QString::fromLatin1(panel_style::kIconChecked), QSize(32, 32));
    panel_style::setIcon(ui->Button_IP, QString::fromLatin1(panel_style::kIconUnchecked), QSize(32, 32));
}

void LinkOption::on_Button_IP_clicked() {
    panel_style::setIcon(ui->Button_direct, QString::fromLatin1(panel_style::kIconUnchecked), QSize(32, 32));
    panel_style::setIcon(ui->Button_IP, QString::fromLatin1(panel_style::kIconChecked), QSize(32, 32));
}

// ---------------------------------------------------------------- network

RefusalNote::Range LinkOption::octetRange() { return RefusalNote::within(0, 255, 255, RefusalNote::Bound::Field); }

void LinkOption::show_numberkeyboard_ui(QString text) {
    auto* f = qobject_cast<QLineEdit*>(sender());
    if (!f || !g_numberkeyboard) return;
    const QString name = f->objectName();
    QString title = QStringLiteral("IP");
    if (name.startsWith(QLatin1String("lineEditMask")))
        title = langText("掩码", "mask", "mask", "mask", "掩碼");
    else if (name.startsWith(QLatin1String("lineEditGate")))
        title = langText("网关", "gateway", "gateway", "gateway", "網關");
    QPointer<QLineEdit> asked(f);
    g_numberkeyboard->ask(
        this, title, text,
        [this, asked, name] {
            g_lineedit = asked;
            edited_field_ = name;
        },
        {}, RefusalNote::digitsFor(octetRange().largest));
}

void LinkOption::confirmString(QString value) {
    // only an answer for one of this screen's own fields
    if (!g_lineedit || g_lineedit->window() != this) return;
    uint32_t v = 0;
    if (!refused_->take(value, octetRange(), edited_field_.toLatin1().constData(), &v)) return;
    const QString text = QString::number(v);
    g_lineedit->setText(text);
    // the first three octets of the address propose the gateway's
    for (int k = 0; k < 3; ++k)
        if (g_lineedit == field("Ip", k)) field("Gate", k)->setText(text);
}

void LinkOption::on_Button_net_cancel_clicked() {
    output_ui::framed(ui->Button_net_apply, false);
    output_ui::framed(ui->Button_net_cancel, true);
}

void LinkOption::on_Button_net_apply_clicked() {
    output_ui::framed(ui->Button_net_cancel, false);
    output_ui::framed(ui->Button_net_apply, true);
    // a field filled from the settings file can hold anything
    for (const char* row : kRows)
        for (int k = 0; k < 4; ++k)
            if (!refused_->recheck(field(row, k), octetRange(), field(row, k)->objectName().toLatin1().constData()))
                return;
    const QString ip = rowText("Ip");
    const QString mask = rowText("Mask");
    const QString gateway = rowText("Gate");
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        if (ip == g_str_ip && mask == g_srt_mask && gateway == g_str_gateway) return;
    }
    // stored and applied as one step, as the protocol's settings are
    const int stored = Utils::storeAndApplyNetwork(ip, mask, gateway);
    if (stored == Utils::kNetNotStored) {
        writeLogMsg(LOG_ERROR, "network settings not applied: they cannot be stored");
        return;
    }
    // not applied: the address is kept for the next set-up, but the interface still has the old one
    if (stored != Utils::kNetApplied) return;
    VlxRamPara::test_signal(1);
}

// ---------------------------------------------------------------- USB upgrade

QString LinkOption::usbDirectory() {
    QString dir;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        dir = g_usb_grade_path;
    }
    return usbpkg::upgradeDirectory(dir);
}

void LinkOption::get_file_list_smartpath() {
    std::fill(std::begin(marks_), std::end(marks_), 0);
    list_page_ = 0;
    last_list_page_ = 0;
    vlx_count_ = vlxzk_count_ = 0;
    // the engine's rules: hidden files and links left out, name order with case ignored
    file_list_ = usbpkg::listPackages(usbDirectory(), kMaxFiles);
    for (int index = 0; index < file_list_.size(); ++index) {
        if (file_list_.at(index).endsWith(QLatin1String(".VLX"))) {
            if (vlx_count_ == 0) marks_[index] = 1;
            ++vlx_count_;
        } else {
            marks_[index] = 1;
            ++vlxzk_count_;
        }
    }
    // the upgrade installs every package: all of them can be paged through
    if (!file_list_.isEmpty()) last_list_page_ = (file_list_.size() - 1) / kRowsPerPage;
}

void LinkOption::rcv_self_recovery_file_list() {
    delete file_frame_;
    file_frame_ = new QFrame(ui->page_3);
    file_frame_->setObjectName(QStringLiteral("frame_file"));
    file_frame_->setGeometry(10, 90, 580, 240);
    file_frame_->setStyleSheet(
        QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    const QFont font = panel_style::panelFont(20);
    if (file_list_.isEmpty()) {
        QLabel* empty = panel_style::makeLabel(
            file_frame_, QStringLiteral("label_empty"), QRect(5, 5, 570, 40),
            langText("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!",
                     "無加載文件!"));
        empty->setFont(font);
        empty->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        empty->setStyleSheet(QString::fromLatin1(kRowPlain));
    }
    const int first = list_page_ * kRowsPerPage;
    for (int r = 0; r < kRowsPerPage && first + r < file_list_.size(); ++r) {
        const int file = first + r;
        // a name from the stick is text, never markup
        const QString name = QFileInfo(file_list_.at(file)).fileName().toHtmlEscaped();
        QLabel* row = panel_style::makeLabel(file_frame_, QStringLiteral("row%1").arg(r), QRect(5, 5 + 45 * r, 520, 40),
                                             QString::fromLatin1(panel_style::kWhiteWord).arg(name));
        row->setFont(font);
        row->setTextFormat(Qt::RichText);
        row->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        row->setStyleSheet(QString::fromLatin1(marks_[file] ? kRowMarked : kRowPlain));
        // a name longer than the row is shortened on purpose
        panel_style::markElides(row);
        panel_style::makeButton(file_frame_, QString::number(r), QRect(5, 5 + 45 * r, 520, 40),
                                QStringLiteral("background-color: transparent;border:0px;"));
    }
    if (list_page_ > 0) {
        QPushButton* previous = panel_style::makeButton(file_frame_, QStringLiteral("Button_previous"),
                                                        QRect(530, 5, 50, 50), QString::fromLatin1(kArrowStyle));
        panel_style::setIcon(previous, QStringLiteral(":/png/previous.png"), QSize(50, 50));
        connect(previous, &QPushButton::clicked, this, &LinkOption::vlx_previous_page);
    }
    if (list_page_ < last_list_page_) {
        QPushButton* next = panel_style::makeButton(file_frame_, QStringLiteral("Button_next"), QRect(530, 185, 50, 50),
                                                    QString::fromLatin1(kArrowStyle));
        panel_style::setIcon(next, QStringLiteral(":/png/next.png"), QSize(50, 50));
        connect(next, &QPushButton::clicked, this, &LinkOption::vlx_next_page);
    }
    file_frame_->show();
}

void LinkOption::vlx_previous_page() {
    if (list_page_ == 0) return;
    --list_page_;
    QMetaObject::invokeMethod(this, [this] { rcv_self_recovery_file_list(); }, Qt::QueuedConnection);
}

void LinkOption::vlx_next_page() {
    if (list_page_ >= last_list_page_) return;
    ++list_page_;
    // the arrow that was pressed goes with the frame: rebuild once its click is over
    QMetaObject::invokeMethod(this, [this] { rcv_self_recovery_file_list(); }, Qt::QueuedConnection);
}

void LinkOption::on_Button_ok_clicked() {
    if (file_downing_ == 0) menulist_button_ok_page();
}

void LinkOption::menulist_button_ok_page() {
    if (file_downing_ != 0) return;
    // the step byte is shared with the receiving-card jobs and a running upgrade
    if (g_usb_grade.load() != 0 || job_block::operation() != job_block::kNoJob) {
        writeLogMsg(LOG_WARNING, "USB upgrade not started: an upgrade or a receiving-card job is running");
        return;
    }
    file_downing_ = 1;
    job_block::setU8(job_block::kStep, 0);
    g_usb_grade = 1;
}

void LinkOption::syncUpdate(int code) {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) language_changed();
    switch (code) {
    case 101:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        file_downing_ = 0;
        break;
    case 102:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        break;
    case 104:
        if (selected_tab_ == ui->Button_usb) {
            const OutputLinks& links = outputLinks();
            const QString status = links.usbUpgradeStatus ? links.usbUpgradeStatus() : QString();
            ui->label_log->setText(
                QStringLiteral("<font style = 'font-size:20px' color = #51BB28 >%1</font>")
                    .arg(QStringLiteral("downing over<br>") +
                         status.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;"))));
        }
        break;
    default:
        break;
    }
}

void LinkOption::on_Button_back_clicked() {
    if (g_linkoption == this) g_linkoption = nullptr;
    output_ui::closeToSettings(this);
}

void LinkOption::language_changed() {
    ui->label_title->setText(langText("通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"));
    ui->Button_com->setText(
        langText("串口连接", "Serial port", "COM-порт", "Cài đặt cổng\nnối tiếp", "串口連接"));
    ui->Button_wlan->setText(
        langText("网口设置", "Net connect", "Сетевое\nподключение", "Cài đặt\ncổng mạng", "網口設置"));
    ui->Button_usb->setText(langText("USB升级", "USB UPDATE", "Обновление\nчерез USB",
                                     "Sử dụng ổ USB\nđể cập nhật", "USB昇級"));
    ui->label_baud->setText(langText("波特率", "Baud rate", "Скорость передачи", "Tốc độ truyền", "波特率"));
    ui->label_bit->setText(langText("数据位", "Data bits", "Биты данных", "Bit dữ liệu", "數據位"));
    ui->label_stop->setText(langText("停止位", "Stop bit", "Бит остановки", "Dừng bit", "停止位"));
    ui->label_network->setText(langText("网卡", "Network", "Сетевая карта", "Thẻ kết nối", "網卡"));
    ui->label_direct->setText(
        langText("单机直连", "Direct link", "Прямое подключение", "Kết nối trực tiếp độc lập", "單機直連"));
    ui->label_IP->setText(
        langText("固定IP", "Fixed IP mode", "Фиксированный IP-адрес", "Chế độ IP cố định", "固定IP"));
    ui->label_IpSet->setText(langText("IP地址", "IP", "IP-адрес", "Địa chỉ IP", "IP地址"));
    ui->label_netmask->setText(langText("子网掩码", "Mask", "Маска", "Cài đặt\nmặt nạ con", "子網掩碼"));
    ui->label_gateway->setText(langText("默认网关", "Gate", "Шлюз", "Cổng vào", "網關"));
    ui->Button_net_cancel->setText(langText("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"));
    ui->Button_net_apply->setText(langText("应用", "Apply", "OK", "Đồng ý", "應用"));
    ui->Button_ok->setText(langText("确定", "OK", "OK", "Đồng ý", "確定"));
    if (file_frame_) rcv_self_recovery_file_list();
    if (refused_) refused_->relabel();
}
