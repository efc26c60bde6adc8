#include "ui/system/smartmapping.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include <algorithm>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/card_job.h"
#include "ui/system/system_links.h"
#include "ui_smartmapping.h"

using panel_style::langText;

QPointer<SmartMapping> g_smartmapping;
uint32_t g_scan_config_json_offset = 0;

namespace line_field {
uint16_t u16(unsigned offset) { return uint16_t(line_type[offset] | (line_type[offset + 1] << 8)); }
}  // namespace line_field

namespace {

constexpr int kPageCabinet = 0;
constexpr int kPagePort = 1;
constexpr int kPageScreen = 2;
constexpr int kPageRoutes = 3;
constexpr int kPageScanPort = 4;
constexpr int kPageScanFiles = 5;
constexpr int kPageSave = 6;
constexpr int kPageMapping = 7;

constexpr const char* kLocalDir = "/data/smartmapping";
constexpr const char* kUsbDir = "/mnt/usb1";
constexpr const char* kScanSuffix = "kvfile";

constexpr const char* kCellPlain = "background-color: #212435;border:1px solid #FFFFFF;";
constexpr const char* kCellChosen = "background-color: #212435;border:1px solid #00D65B;";
constexpr const char* kCellText = "background-color: #212435;color: #FFFFFF";
constexpr const char* kFileFrameStyle = "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}";
constexpr const char* kFileTextStyle = "background-color: rgb(33, 36, 53);color: #FFFFFF";
constexpr const char* kLocalRow = "background-color: rgb(33, 36, 53);color: #FFFFFF";
constexpr const char* kLocalRowChosen = "background-color:#4777FF;color: #FFFFFF";
constexpr const char* kUsbRow = "background-color: rgb(33, 36, 53);color: #00FF00";
constexpr const char* kUsbRowChosen = "background-color:#4777FF;color: #00FF00;";
constexpr const char* kPageButtonStyle = "background-color: rgb(33, 36, 53);";
constexpr const char* kLoadNormal = "background-color:#10101C;color: #FFFFFF";
constexpr const char* kLoadChosen = "background-color: rgb(71, 119, 255);color: #FFFFFF";
constexpr const char* kLoadEmpty = "background-color: gray;border:2px;color: #FFFFFF";
constexpr const char* kPageButton = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";

constexpr uint8_t kMappingRegister = 0;
constexpr uint8_t kMappingBit = 0x80;
constexpr uint32_t kMappingOnArgument = 9;
constexpr int kRingMargin = 4;

QString lit(const char* s) { return QString::fromLatin1(s); }

void setLineU16(unsigned offset, uint32_t v) {
    line_type[offset] = uint8_t(v & 0xFF);
    line_type[offset + 1] = uint8_t((v >> 8) & 0xFF);
}

QString patternName(int n) {
    return langText("走线%1", "Routing %1", "Маршрут%1", "Đi dây%1", "走線%1").arg(n);
}

QString groupText(int group) {
    return langText("网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2").arg(group * 8 + 1).arg(group * 8 + 8);
}

}  // namespace

// ---------------------------------------------------------------- construction

SmartMapping::SmartMapping(QWidget* parent) : SystemScreen(parent), ui(new Ui::SmartMapping) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    const QFont text = panel_style::panelFont(18);
    for (QLabel* label : findChildren<QLabel*>()) label->setFont(text);
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setFont(text);
        if (b != ui->Button_back) panel_style::setLook(b, lit(kPageButton));
    }
    for (QLineEdit* e : findChildren<QLineEdit*>()) e->setFont(panel_style::panelFont(20));
    ui->label_title->setFont(panel_style::panelFont(26));
    ui->label_title->setAlignment(Qt::AlignCenter);
    for (QPushButton* tile : {ui->Button_shortcut, ui->Button_loadscan, ui->Button_paraweld, ui->Button_mapping}) {
        tile->setFont(panel_style::panelFont(16));
        panel_style::setLook(tile, lit(panel_style::kTabOffStyle));
    }
    for (QToolButton* t : ui->page_4->findChildren<QToolButton*>()) {
        t->setFont(panel_style::panelFont(12));
        panel_style::setLook(t, lit(panel_style::kWhiteText));
    }
    panel_style::setLook(ui->Button_mapping_state, lit("border:0px;"));

    // beside Previous or Next, below the fields they are about
    cabinet_note_ = std::make_unique<RefusalNote>(ui->page, QRect(10, 318, 400, 76));
    screen_note_ = std::make_unique<RefusalNote>(ui->page_3, QRect(10, 318, 200, 76));
    load_note_ = std::make_unique<RefusalNote>(ui->page_6, QRect(10, 332, 200, 64));

    ui->stackedWidget->setCurrentIndex(kPageCabinet);
    selected_tile_ = ui->Button_shortcut;
    panel_style::setLook(selected_tile_, lit(panel_style::kTabOnStyle));
    selected_group_ = ui->Button_wlan1;
    line_type[line_field::kPort] = 0;
    language_changed();
    line_select(1);
    list_shown_ = 0;
    for (QLineEdit* e : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_line, ui->lineEdit_column, ui->lineEdit_horzion,
                         ui->lineEdit_vert})
        connect(e, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
    if (g_numberkeyboard)
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
    lcd_touch::registerScreen(IdleScreen::SmartMapping, [] { return static_cast<QObject*>(g_smartmapping.data()); });
}

SmartMapping::~SmartMapping() { delete ui; }

void SmartMapping::on_Button_back_clicked() {
    backToSettings(g_smartmapping, "smart mapping stays open: a receiving-card job runs");
}

namespace {
enum ProtocolRequest { kBack, kAfterFilesDeleted };
}  // namespace

void SmartMapping::requestBack() { postRequest<SmartMapping>(kBack, serveProtocolRequest); }

void SmartMapping::requestAfterFilesDeleted() { postRequest<SmartMapping>(kAfterFilesDeleted, serveProtocolRequest); }

void SmartMapping::serveProtocolRequest(int request) {
    if (g_smartmapping && g_page_focus == 24)
        g_smartmapping->on_Button_back_clicked();
    else if (request == kAfterFilesDeleted && g_option && g_page_focus == 5)
        g_option->language_changed();
}

// ---------------------------------------------------------------- tiles

void SmartMapping::button_select(QPushButton* tile) {
    selected_tile_ = tile;
    styleTiles();
}

void SmartMapping::styleTiles() {
    for (QPushButton* t : {ui->Button_shortcut, ui->Button_paraweld, ui->Button_mapping})
        panel_style::setLook(t, lit(t == selected_tile_ ? panel_style::kTabOnStyle : panel_style::kTabOffStyle));
    if (scan_count_ == 0)
        panel_style::setLook(ui->Button_loadscan, lit(kLoadEmpty));
    else
        panel_style::setLook(ui->Button_loadscan, lit(selected_tile_ == ui->Button_loadscan ? kLoadChosen : kLoadNormal));
}

void SmartMapping::on_Button_shortcut_clicked() {
    if (g_qround_bar) return;
    button_select(ui->Button_shortcut);
    ui->stackedWidget->setCurrentIndex(kPageCabinet);
    list_shown_ = 0;
    labelPage(kPageCabinet);
}

void SmartMapping::on_Button_loadscan_clicked() {
    if (g_qround_bar || scan_count_ == 0) return;
    button_select(ui->Button_loadscan);
    ui->stackedWidget->setCurrentIndex(kPageScanPort);
    on_Button_wlan5_clicked();
    labelPage(kPageScanPort);
    list_shown_ = 0;
}

void SmartMapping::on_Button_paraweld_clicked() {
    if (g_qround_bar) return;
    button_select(ui->Button_paraweld);
    ui->stackedWidget->setCurrentIndex(kPageSave);
    labelPage(kPageSave);
    list_shown_ = 0;
}

bool SmartMapping::mappingOnInBoth() const {
    const ShellLinks& links = shellLinks();
    if (!links.fpgaRegister) return false;
    const uint8_t r0 = links.fpgaRegister(kMappingRegister, 0);
    const uint8_t r1 = links.fpgaRegister(kMappingRegister, 1);
    return (r0 & kMappingBit) && (r1 & kMappingBit);
}

void SmartMapping::on_Button_mapping_clicked() {
    if (g_qround_bar) return;
    button_select(ui->Button_mapping);
    panel_style::setIcon(ui->Button_mapping_state,
                         lit(mappingOnInBoth() ? panel_style::kIconSwitchOn : panel_style::kIconSwitchOff), QSize(70, 32));
    ui->stackedWidget->setCurrentIndex(kPageMapping);
    list_shown_ = 0;
    labelPage(kPageMapping);
}

// ---------------------------------------------------------------- wizard

void SmartMapping::on_Button_next_clicked() {
    // a running set-up reads the cabinet size for every card
    if (jobActive()) return;
    setLineU16(line_field::kCabinetWidth, RefusalNote::shownNumber(ui->lineEdit_X));
    setLineU16(line_field::kCabinetHeight, RefusalNote::shownNumber(ui->lineEdit_Y));
    on_Button_wlan1_clicked();
    labelPage(kPagePort);
    ui->stackedWidget->setCurrentIndex(kPagePort);
}

void SmartMapping::on_Button_front_2_clicked() { ui->stackedWidget->setCurrentIndex(kPageCabinet); }

void SmartMapping::on_Button_next_2_clicked() {
    ui->stackedWidget->setCurrentIndex(kPageScreen);
    labelPage(kPageScreen);
}

void SmartMapping::on_Button_front_3_clicked() {
    if (g_qround_bar) return;
    ui->stackedWidget->setCurrentIndex(kPagePort);
}

void SmartMapping::on_Button_route_clicked() {
    ui->stackedWidget->setCurrentIndex(kPageRoutes);
    labelPage(kPageRoutes);
}

void SmartMapping::on_Button_cancel_clicked() { ui->stackedWidget->setCurrentIndex(kPageScreen); }

void SmartMapping::chooseRoute(int n) {
    // and the pattern: it stays until the job is over
    if (jobActive()) return;
    line_select(n);
    ui->stackedWidget->setCurrentIndex(kPageScreen);
}

void SmartMapping::on_Button_route1_clicked() { chooseRoute(1); }
void SmartMapping::on_Button_route2_clicked() { chooseRoute(2); }
void SmartMapping::on_Button_route3_clicked() { chooseRoute(3); }
void SmartMapping::on_Button_route4_clicked() { chooseRoute(4); }
void SmartMapping::on_Button_route5_clicked() { chooseRoute(5); }
void SmartMapping::on_Button_route6_clicked() { chooseRoute(6); }
void SmartMapping::on_Button_route7_clicked() { chooseRoute(7); }
void SmartMapping::on_Button_route8_clicked() { chooseRoute(8); }
void SmartMapping::on_Button_route9_clicked() { chooseRoute(9); }
void SmartMapping::on_Button_route10_clicked() { chooseRoute(10); }
void SmartMapping::on_Button_route11_clicked() { chooseRoute(11); }
void SmartMapping::on_Button_route12_clicked() { chooseRoute(12); }
void SmartMapping::on_Button_route13_clicked() { chooseRoute(13); }
void SmartMapping::on_Button_route14_clicked() { chooseRoute(14); }
void SmartMapping::on_Button_route15_clicked() { chooseRoute(15); }
void SmartMapping::on_Button_route16_clicked() { chooseRoute(16); }

void SmartMapping::line_select(int n) {
    if (n < 1 || n > 16) return;
    panel_style::setIcon(ui->Button_route, QStringLiteral(":/png/line%1.png").arg(n), QSize(30, 30));
    ui->Button_route->setText(patternName(n));
    line_type[line_field::kPattern] = uint8_t(n);
}

void SmartMapping::on_Button_send_clicked() {
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("smart set-up refused: ") + card_job::refusalText(r));
        return;
    }
    // the grid as a whole once more: no card is placed past the 16-bit canvas
    if (!gridFits()) return;
    line_type[line_field::kRows] = uint8_t(RefusalNote::shownNumber(ui->lineEdit_line));
    line_type[line_field::kColumns] = uint8_t(RefusalNote::shownNumber(ui->lineEdit_column));
    setLineU16(line_field::kOffsetX, RefusalNote::shownNumber(ui->lineEdit_horzion));
    setLineU16(line_field::kOffsetY, RefusalNote::shownNumber(ui->lineEdit_vert));
    startJob(card_job::kSmartSetup);
}

// The ring of a job stands below the page tiles, the one place of this screen where it covers
// no step caption, file name or field of the page the job runs from.
void SmartMapping::startJob(uint8_t op) {
    if (!card_job::start(this, op) || !g_qround_bar || g_qround_bar->parentWidget() != this) return;
    const QRect tiles = ui->Button_mapping->geometry();
    const int side = std::min(tiles.width(), height() - tiles.bottom() - kRingMargin * 2);
    g_qround_bar->setGeometry(tiles.center().x() - side / 2, tiles.bottom() + kRingMargin, side, side);
}

// ---------------------------------------------------------------- port grid

void SmartMapping::selectGroup(int button, QPushButton* groupButton) {
    if (selected_group_) panel_style::setLook(selected_group_, lit(panel_style::kFramedOffStyle));
    panel_style::setLook(groupButton, lit(panel_style::kFramedOnStyle));
    selected_group_ = groupButton;
    port_group_ = uint8_t((button - 1) % 4);
    wlan_init(button <= 4 ? 0 : 1);
}

void SmartMapping::on_Button_wlan1_clicked() { selectGroup(1, ui->Button_wlan1); }
void SmartMapping::on_Button_wlan2_clicked() { selectGroup(2, ui->Button_wlan2); }
void SmartMapping::on_Button_wlan3_clicked() { selectGroup(3, ui->Button_wlan3); }
void SmartMapping::on_Button_wlan4_clicked() { selectGroup(4, ui->Button_wlan4); }
void SmartMapping::on_Button_wlan5_clicked() { selectGroup(5, ui->Button_wlan5); }
void SmartMapping::on_Button_wlan6_clicked() { selectGroup(6, ui->Button_wlan6); }
void SmartMapping::on_Button_wlan7_clicked() { selectGroup(7, ui->Button_wlan7); }
void SmartMapping::on_Button_wlan8_clicked() { selectGroup(8, ui->Button_wlan8); }

void SmartMapping::wlan_init(int kind) {
    if (port_grid_) {
        port_grid_->hide();
        port_grid_->setObjectName(QString());
        port_grid_->deleteLater();
    }
    for (QFrame*& f : cell_frames_) f = nullptr;
    QWidget* page = kind == 0 ? ui->page_2 : ui->page_5;
    port_grid_ = panel_style::makeFrame(page, QStringLiteral("frame_port"), QRect(1, 135, 608, 165),
                                        QStringLiteral("QFrame#frame_port{border:0px;}"));
    for (int i = 0; i < 8; ++i) {
        const int x0 = 150 * (i % 4);
        const int y0 = 75 * (i / 4);
        const int n = port_group_ * 8 + i + 1;
        const bool chosen = port_group_ * 8 + i == line_type[line_field::kPort];
        QFrame* cell = panel_style::makeFrame(port_grid_, QStringLiteral("cell%1").arg(i), QRect(x0 + 9, y0 + 14, 130, 60),
                                              lit(chosen ? kCellChosen : kCellPlain));
        cell_frames_[i] = cell;
        QLabel* picture = new QLabel(port_grid_);
        picture->setGeometry(x0 + 59, y0 + 17, 32, 28);
        panel_style::setPicture(picture, QStringLiteral(":/png/offline.png"));
        QLabel* name = panel_style::makeLabel(port_grid_, QStringLiteral("name%1").arg(i), QRect(x0 + 19, y0 + 45, 111, 28),
                                              langText("网口LED%1", "LED%1", "LED%1", "LED%1", "網口LED%1").arg(n), 16);
        name->setAlignment(Qt::AlignCenter);
        name->setStyleSheet(lit(kCellText));
        QPushButton* b = panel_style::makeButton(port_grid_, QString::number(i), QRect(x0 + 10, y0 + 15, 128, 58),
                                                 lit("background-color: transparent;border:0px;"));
        connect(b, &QPushButton::clicked, this, &SmartMapping::vlx_button_wlan_clicked);
    }
    port_grid_->show();
}

void SmartMapping::vlx_button_wlan_clicked() {
    // the running job reads the port: it stays until the job is over
    if (jobActive()) return;
    const int cell = sender() ? sender()->objectName().toInt() : 0;
    if (cell < 0 || cell > 7) return;
    if (cell_frames_[port_cell_]) cell_frames_[port_cell_]->setStyleSheet(lit(kCellPlain));
    for (QFrame* f : cell_frames_)
        if (f) f->setStyleSheet(lit(kCellPlain));
    port_cell_ = uint8_t(cell);
    line_type[line_field::kPort] = uint8_t(port_group_ * 8 + cell);
    if (cell_frames_[cell]) cell_frames_[cell]->setStyleSheet(lit(kCellChosen));
}

// ---------------------------------------------------------------- keypad

namespace {

// The wizard's number fields: keypad title, what their bytes of line_type hold, log name.
struct FieldSpec {
    const char* name;
    const char* zh;
    const char* tw;
    const char* other;
    uint32_t holds;
    const char* log;
};
constexpr FieldSpec kFields[] = {
    {"lineEdit_X", "箱体宽度", "箱體寬度", "width", 0xFFFF, "smart set-up: cabinet width"},
    {"lineEdit_Y", "箱体高度", "箱體高度", "height", 0xFFFF, "smart set-up: cabinet height"},
    {"lineEdit_line", "箱体行数", "箱體行數", "rows", 0xFF, "smart set-up: rows"},
    {"lineEdit_column", "箱体列数", "箱體列數", "lines", 0xFF, "smart set-up: columns"},
    {"lineEdit_horzion", "水平偏移", "水平偏移", "Horizontal", 0xFFFF, "smart set-up: horizontal offset"},
    {"lineEdit_vert", "垂直偏移", "垂直偏移", "Vertical", 0xFFFF, "smart set-up: vertical offset"},
};

const FieldSpec* specOf(const QLineEdit* field) {
    for (const FieldSpec& f : kFields)
        if (field->objectName() == QLatin1String(f.name)) return &f;
    return nullptr;
}

}  // namespace

void SmartMapping::show_numberkeyboard_ui(QString text) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard) return;
    const FieldSpec* spec = specOf(field);
    if (!spec) return;
    QPointer<QLineEdit> asked(field);
    g_numberkeyboard->ask(
        this, langText(spec->zh, spec->other, spec->other, spec->other, spec->tw), text,
        [this, asked] {
            g_lineedit = asked;
            my_field_ = asked;
        },
        [this] { my_field_ = nullptr; }, RefusalNote::digitsFor(spec->holds));
}

// Card positions are 16-bit pixel coordinates: the far edge of the last cabinet stays on the
// canvas, so a cabinet size, a count and an offset each take what the other two leave.
RefusalNote::Range SmartMapping::rangeOf(const QLineEdit* field) const {
    const FieldSpec* spec = specOf(field);
    const uint32_t holds = spec ? spec->holds : 0;
    const bool horizontal = field == ui->lineEdit_X || field == ui->lineEdit_column || field == ui->lineEdit_horzion;
    const int64_t cabinet = RefusalNote::shownNumber(horizontal ? ui->lineEdit_X : ui->lineEdit_Y);
    const int64_t count = RefusalNote::shownNumber(horizontal ? ui->lineEdit_column : ui->lineEdit_line);
    const int64_t offset = RefusalNote::shownNumber(horizontal ? ui->lineEdit_horzion : ui->lineEdit_vert);
    const int64_t canvas = 0xFFFF;
    int64_t leaves = holds;
    if (field == ui->lineEdit_horzion || field == ui->lineEdit_vert)
        leaves = canvas - cabinet * count;
    else if (field == ui->lineEdit_X || field == ui->lineEdit_Y)
        leaves = count > 0 ? (canvas - offset) / count : holds;
    else if (field == ui->lineEdit_line || field == ui->lineEdit_column)
        leaves = cabinet > 0 ? (canvas - offset) / cabinet : holds;
    return RefusalNote::within(0, holds, leaves, RefusalNote::Bound::Grid);
}

bool SmartMapping::gridFits() {
    for (QLineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_line, ui->lineEdit_column, ui->lineEdit_horzion,
                         ui->lineEdit_vert})
        if (!screen_note_->recheck(f, rangeOf(f), specOf(f)->log)) return false;
    return true;
}

void SmartMapping::confirmString(QString text) {
    // every keypad result reaches every screen: only this screen's own field takes it
    if (!my_field_ || g_lineedit != my_field_) return;
    QLineEdit* field = my_field_;
    my_field_ = nullptr;
    const FieldSpec* spec = specOf(field);
    if (!spec) return;
    const bool cabinet = field == ui->lineEdit_X || field == ui->lineEdit_Y;
    RefusalNote& note = cabinet ? *cabinet_note_ : *screen_note_;
    uint32_t v = 0;
    if (!note.take(text, rangeOf(field), spec->log, &v)) return;
    field->setText(QString::number(v));
}

// ---------------------------------------------------------------- scan files

QStringList SmartMapping::listScanFiles(int* local) {
    QStringList out;
    int localCount = 0;
    for (const char* dirName : {kLocalDir, kUsbDir}) {
        const bool controller = dirName == kLocalDir;
        const QDir dir(QString::fromStdString(plat::path(dirName)));
        if (!dir.exists()) continue;
        // The controller's folder holds only card files, stored by the PC under four-character
        // names without a suffix: every plain file counts, as the card-file reader and the
        // loading job take them (dot-files are the file transfer's temporaries). A stick holds
        // anything: only its "kvfile" files are scan files.
        QDir::Filters filter = QDir::Files | QDir::NoSymLinks;
        if (!controller) filter |= QDir::Hidden;
        const QFileInfoList entries = dir.entryInfoList(filter, QDir::Name);
        for (const QFileInfo& f : entries) {
            if (out.size() >= kMaxScanFiles) break;
            if (f.isSymLink() || !f.isFile()) continue;
            if (!controller && f.suffix() != QLatin1String(kScanSuffix)) continue;
            out.append(QString::fromLatin1(dirName) + QLatin1Char('/') + f.fileName());
        }
        if (controller) localCount = int(out.size());
    }
    if (local) *local = localCount;
    return out;
}

void SmartMapping::buildFileList() {
    int local = 0;
    paths_ = listScanFiles(&local);
    local_files_ = uint8_t(local);
    files_listed_ = uint8_t(paths_.size());
    // one rule for the tile, Load and the list: the files the list shows
    scan_count_ = uint32_t(paths_.size());
    current_page_ = 0;
    last_page_ = files_listed_ == 0 ? 0 : uint8_t((files_listed_ - 1) / kRowsPerPage);
    list_shown_ = 1;
    styleTiles();
    scan_file_list();
    labelPage(kPageScanFiles);
}

QString SmartMapping::rowStyle(int index, bool selected) const {
    const bool usb = index >= local_files_;
    if (usb) return lit(selected ? kUsbRowChosen : kUsbRow);
    return lit(selected ? kLocalRowChosen : kLocalRow);
}

void SmartMapping::scan_file_list() {
    if (file_frame_) {
        file_frame_->hide();
        file_frame_->setObjectName(QString());
        file_frame_->deleteLater();
        file_frame_ = nullptr;
    }
    for (int r = 0; r < kRowsPerPage; ++r) {
        row_labels_[r] = nullptr;
        row_names_[r].clear();
        row_paths_[r].clear();
    }
    selected_row_ = 0;
    g_kvfile_name.clear();
    file_frame_ = panel_style::makeFrame(ui->page_6, QStringLiteral("frame_file"), QRect(10, 90, 580, 240),
                                         lit(kFileFrameStyle));
    const int n = int(paths_.size());
    if (n == 0) {
        QLabel* none = panel_style::makeLabel(
            file_frame_, QStringLiteral("label_none"), QRect(5, 5, 570, 40),
            langText("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!", "無加載文件!"),
            20);
        none->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        none->setStyleSheet(lit(kFileTextStyle));
    } else {
        const int first = kRowsPerPage * current_page_;
        for (int i = first; i < n && i < first + kRowsPerPage; ++i) {
            const int r = i - first;
            QString name = QFileInfo(paths_.at(i)).fileName();
            name.remove(QLatin1Char('\n'));
            name.remove(QLatin1Char('\r'));
            QLabel* label = panel_style::makeLabel(file_frame_, QStringLiteral("row%1").arg(r),
                                                   QRect(5, 5 + 45 * r, 520, 40), QString(), 20);
            // a name from a stick is shown as it is, never read as markup
            label->setTextFormat(Qt::PlainText);
            label->setText(name);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            panel_style::markElides(label);
            const bool chosen = i == 0;
            label->setStyleSheet(rowStyle(i, chosen));
            if (chosen) g_kvfile_name = paths_.at(i);
            row_labels_[r] = label;
            row_names_[r] = name;
            row_paths_[r] = paths_.at(i);
            QPushButton* b = panel_style::makeButton(file_frame_, QString::number(r), QRect(5, 5 + 45 * r, 520, 40),
                                                     lit("background-color: transparent;border:0px;"));
            connect(b, &QPushButton::clicked, this, &SmartMapping::vlx_button_file_clicked);
        }
        if (current_page_ >= 1) {
            QPushButton* prev = panel_style::makeButton(file_frame_, QStringLiteral("previous"), QRect(530, 5, 50, 50),
                                                        lit(kPageButtonStyle));
            panel_style::setIcon(prev, QStringLiteral(":/png/previous.png"), QSize(50, 50));
            connect(prev, &QPushButton::clicked, this, &SmartMapping::vlx_Button_previous_clicked);
        }
        if (current_page_ < last_page_) {
            QPushButton* next = panel_style::makeButton(file_frame_, QStringLiteral("next"), QRect(530, 185, 50, 50),
                                                        lit(kPageButtonStyle));
            panel_style::setIcon(next, QStringLiteral(":/png/next.png"), QSize(50, 50));
            connect(next, &QPushButton::clicked, this, &SmartMapping::vlx_Button_next_clicked);
        }
    }
    file_frame_->show();
    ui->stackedWidget->setCurrentIndex(kPageScanFiles);
}

void SmartMapping::on_Button_next_5_clicked() {
    load_note_->hide();
    buildFileList();
}

void SmartMapping::on_Button_front_6_clicked() {
    if (g_qround_bar) return;
    ui->stackedWidget->setCurrentIndex(kPageScanPort);
}

void SmartMapping::vlx_button_file_clicked() {
    if (jobActive()) return;
    const int r = sender() ? sender()->objectName().toInt() : -1;
    if (r < 0 || r >= kRowsPerPage || !row_labels_[r]) return;
    const int first = kRowsPerPage * current_page_;
    if (row_labels_[selected_row_]) row_labels_[selected_row_]->setStyleSheet(rowStyle(first + selected_row_, false));
    selected_row_ = uint8_t(r);
    g_kvfile_name = row_paths_[r];
    row_labels_[r]->setStyleSheet(rowStyle(first + r, true));
}

void SmartMapping::vlx_Button_previous_clicked() {
    if (jobActive()) return;
    if (current_page_ > 0) --current_page_;
    scan_file_list();
}

void SmartMapping::vlx_Button_next_clicked() {
    if (jobActive()) return;
    current_page_ = current_page_ >= last_page_ ? 0 : int8_t(current_page_ + 1);
    scan_file_list();
}

void SmartMapping::on_Button_load_clicked() {
    if (g_kvfile_name.isEmpty() || scan_count_ == 0) return;
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("scan-file load refused: ") + card_job::refusalText(r));
        return;
    }
    load_note_->hide();
    startJob(card_job::kLoadScan);
}

void SmartMapping::loadFailed() {
    load_note_->show([] {
        return langText("加载失败，列表已刷新", "Load failed. The list is refreshed.", "Загрузка не удалась. Список обновлён.",
                        "Tải thất bại. Danh sách đã làm mới.", "加載失敗，列表已刷新");
    });
    // the engine took its path when it started: the list may change under the ring
    buildFileList();
}

void SmartMapping::on_Button_confirm_clicked() {
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("parameter saving refused: ") + card_job::refusalText(r));
        return;
    }
    startJob(card_job::kSaveParams);
}

void SmartMapping::on_Button_mapping_state_clicked() {
    const card_job::Refusal r = card_job::refusal();
    if (r != card_job::Refusal::Ok) {
        writeLogMsg(LOG_WARNING, std::string("mapping switch refused: ") + card_job::refusalText(r));
        return;
    }
    const bool on = !mappingOnInBoth();
    const SystemLinks& links = systemLinks();
    for (uint8_t fpga = 0; fpga < 2; ++fpga) {
        if (links.fpgaWriteRegister)
            links.fpgaWriteRegister(kMappingRegister, kMappingBit, on ? kMappingBit : 0, fpga);
    }
    panel_style::setIcon(ui->Button_mapping_state, lit(on ? panel_style::kIconSwitchOn : panel_style::kIconSwitchOff),
                         QSize(70, 32));
    card_job::setU32(card_job::kArgumentWord, on ? kMappingOnArgument : 0);
    startJob(card_job::kMappingSwitch);
}

void SmartMapping::usb_para_sync(int code) {
    if (code == 102) g_scan_config_json_offset = 0;
}

// ---------------------------------------------------------------- refresh and captions

void SmartMapping::syncUpdate(int code) {
    switch (code) {
    case 100:
        break;
    case 101:
        // the path of a running load stays as it was handed over
        if (list_shown_ == 1 && !jobActive()) buildFileList();
        break;
    case 102:
        if (!jobActive()) buildFileList();
        break;
    default:
        if (VlxRamPara::VlxLanguageChanged()) language_changed();
        break;
    }
}

void SmartMapping::labelPage(int page) {
    switch (page) {
    case kPageCabinet:
        ui->label_step1->setText(langText("步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета",
                                          "Bước 1: Thiết lập cabin", "步驟1箱體設置"));
        ui->label_boxwidth->setText(langText("箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin", "箱體寬度"));
        ui->label_boxheight->setText(langText("箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin", "箱體高度"));
        ui->Button_next->setText(langText("下一步", "Next", "Следующий шаг", "Bước tiếp theo", "下一步"));
        break;
    case kPagePort:
        ui->label_step2->setText(langText("步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт",
                                          "Bước 2 :Chọn cổng mạng", "步驟2選擇網口"));
        ui->Button_front_2->setText(langText("上一步", "Previous", "Предыдущий\nшаг", "Bước trước", "上一步"));
        ui->Button_next_2->setText(langText("下一步", "Next", "Следующий шаг", "Bước tiếp theo", "下一步"));
        ui->Button_wlan1->setText(groupText(0));
        ui->Button_wlan2->setText(groupText(1));
        ui->Button_wlan3->setText(groupText(2));
        ui->Button_wlan4->setText(groupText(3));
        break;
    case kPageScreen:
        ui->label_step3->setText(langText("步骤3屏参设置", "Step 3 Screen parameter setting",
                                          "Шаг 3.Настройка параметров экрана", "Bước 3:Cài đặt thông số màn hình",
                                          "步驟3屏參設置"));
        ui->label_boxline->setText(
            langText("箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ", "箱體行數"));
        ui->label_boxlcolumn->setText(
            langText("箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ", "箱體列數"));
        ui->label_routeway->setText(langText("屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов",
                                             "Chế độ căn chỉnh màn hình", "屏體走線方式"));
        ui->label_horizon->setText(langText("水平偏移", "Horizontal offset", "Горизонтальное смещение",
                                            "Độ lệch ngang", "水平偏移"));
        ui->label_vert->setText(
            langText("垂直偏移", "Vertical offset", "Вертикальное смещение", "Độ lệch dọc", "垂直偏移"));
        ui->Button_front_3->setText(langText("上一步", "Previous", "Предыдущий\nшаг", "Bước trước", "上一步"));
        ui->Button_send->setText(langText("发送", "Send", "Отправить", "Gửi", "發送"));
        ui->Button_route->setText(patternName(line_type[line_field::kPattern]));
        break;
    case kPageRoutes: {
        const QList<QToolButton*> buttons = ui->page_4->findChildren<QToolButton*>();
        for (QToolButton* t : buttons) {
            const int n = t->objectName().mid(int(strlen("Button_route"))).toInt();
            if (n < 1 || n > 16) continue;
            panel_style::setIcon(t, QStringLiteral(":/png/line%1.png").arg(n), QSize(48, 48));
            t->setText(patternName(n));
            t->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        }
        ui->Button_cancel->setText(langText("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"));
        break;
    }
    case kPageScanPort:
        ui->label_step1_5->setText(langText("步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта",
                                            "Bước 1 Chọn cổng mạng", "步驟1選擇網口"));
        ui->Button_next_5->setText(langText("下一步", "Next", "Следующий шаг", "Bước tiếp theo", "下一步"));
        ui->Button_wlan5->setText(groupText(0));
        ui->Button_wlan6->setText(groupText(1));
        ui->Button_wlan7->setText(groupText(2));
        ui->Button_wlan8->setText(groupText(3));
        break;
    case kPageScanFiles:
        ui->label_step2_6->setText(langText("步骤2加载扫描参数", "Step 2 Upload scan parameters",
                                            "Шаг 2.Настройка сканирования", "Bước 2 Tải thông số quét", "步驟2加載掃描參數"));
        ui->label_step2_7->setText(langText("检测到以下屏参文件", "Detected the following screen parameter files",
                                            "Были обнаружены следующие файлы параметров экрана",
                                            "Các tập tin tham số màn hình sau đã được phát hiện", "檢測到以下屏參文件"));
        ui->Button_front_6->setText(langText("上一步", "Previous", "Предыдущий\nшаг", "Bước trước", "上一步"));
        ui->Button_load->setText(langText("加载", "Load", "Загрузка", "Tải về", "加載"));
        break;
    case kPageSave:
        ui->label_step1_6->setText(langText("参数固化操作", "Parameter curing operation",
                                            "Операция отверждения параметров", "Lưu thông số", "參數固化操作"));
        ui->Button_confirm->setText(langText("确定", "OK", "OK", "Đồng ý", "確定"));
        break;
    case kPageMapping:
        ui->label_step1_7->setText(langText("Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping",
                                            "Mapping開關"));
        break;
    default:
        break;
    }
}

void SmartMapping::language_changed() {
    const int page = ui->stackedWidget->currentIndex();
    if (selected_tile_ == ui->Button_shortcut) {
        if (page == kPagePort) {
            labelPage(kPagePort);
            wlan_init(0);
        } else if (page == kPageScreen) {
            labelPage(kPageScreen);
        } else if (page == kPageRoutes) {
            labelPage(kPageRoutes);
            line_select(line_type[line_field::kPattern]);
        } else {
            labelPage(kPageCabinet);
        }
    } else if (selected_tile_ == ui->Button_loadscan) {
        if (page == kPageScanPort) {
            wlan_init(1);
            labelPage(kPageScanPort);
        } else if (page == kPageScanFiles) {
            labelPage(kPageScanFiles);
        }
    } else if (selected_tile_ == ui->Button_paraweld) {
        labelPage(kPageSave);
    }
    scan_count_ = uint32_t(listScanFiles(nullptr).size());
    for (RefusalNote* note : {cabinet_note_.get(), screen_note_.get(), load_note_.get()}) note->relabel();

    ui->label_title->setText(langText("智能调屏", "Smart debugging screen", "Умная регулировка экрана",
                                      "Điều chỉnh màn hình thông minh", "智能調屏"));
    ui->Button_shortcut->setText(
        langText("快捷点屏", "Debugging\nscreen", "Отладка\nэкрана", "Gỡ lỗi\nmàn hình", "快捷點屏"));
    ui->Button_loadscan->setText(langText("加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt quét", "加載掃描"));
    ui->Button_paraweld->setText(
        langText("参数固化", "Curing\nparameter", "Фиксация\nпараметров", "Lưu thông số", "參數固化"));
    styleTiles();
}
