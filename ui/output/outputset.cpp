#include "ui/output/outputset.h"

#include <QComboBox>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "scaler/engine_requests.h"
#include "ui/output/output_links.h"
#include "ui/output/screen_common.h"
#include "ui/output/splice.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/shell_globals.h"
#include "ui_outputset.h"

using namespace vlxram;
using panel_style::langText;

QPointer<OutputSet> g_outputset;

namespace {
constexpr const char* kTileOn = "background-color: #212435;border:1px solid #00D65B;";
constexpr const char* kTileOff = "background-color: #212435;border:1px solid #FFFFFF;";
constexpr const char* kSideTabOn = "background-color: #4777FF;color: #FFFFFF";
constexpr const char* kSideTabOff = "color: #FFFFFF";
constexpr int kMaxLedSize = 16376;

bool bothFpgasRunning() {
    const ShellLinks& links = shellLinks();
    return links.fpgaRunning && links.fpgaRunning();
}
}  // namespace

OutputSet::OutputSet(QWidget* parent) : QDialog(parent), ui(new Ui::OutputSet) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    lcd_touch::registerScreen(IdleScreen::OutputSet, [] { return static_cast<QObject*>(g_outputset.data()); });
    output_ui::setFontPx(ui->label_title, 24);
    for (QPushButton* b : {ui->Button_ledset, ui->Button_lanset}) output_ui::setFontPx(b, 17);
    for (QWidget* w : {static_cast<QWidget*>(ui->label_s1), static_cast<QWidget*>(ui->label_s2),
                       static_cast<QWidget*>(ui->label_height), static_cast<QWidget*>(ui->comboBox),
                       static_cast<QWidget*>(ui->label_OUT1), static_cast<QWidget*>(ui->label_OUT2),
                       static_cast<QWidget*>(ui->label_out1_width), static_cast<QWidget*>(ui->label_out1_height),
                       static_cast<QWidget*>(ui->label_out2_width), static_cast<QWidget*>(ui->label_out2_height),
                       static_cast<QWidget*>(ui->label_X), static_cast<QWidget*>(ui->label_Y)})
        output_ui::setFontPx(w, 18);
    output_ui::setFontPx(ui->label_W, 16);
    output_ui::setFontPx(ui->label_H, 16);
    output_ui::setFontPx(ui->label_width, 20);
    output_ui::setFontPx(ui->label_tip, 16);
    for (QPushButton* b : {ui->Button_cancel1, ui->Button_apply1, ui->Button_cancel2, ui->Button_apply2})
        output_ui::setFontPx(b, 21);
    for (QPushButton* b : {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3, ui->Button_wlan4})
        output_ui::setFontPx(b, 19);

    // the output captions sit on the frames' top edges
    for (QLabel* l : {ui->label_OUT1, ui->label_OUT2}) {
        l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(16, 16, 28);"));
        l->raise();
    }
    // left of Cancel, below OUT1's frame
    refused_ = std::make_unique<RefusalNote>(ui->page, QRect(5, 342, 230, 56));
    wlan_init();
    language_changed();
    para_init();
    wlan_para_get(0);
    panel_style::setPicture(ui->label_warning, QStringLiteral(":/png/warning.png"));

    set_focus_ = ui->Button_ledset;
    panel_style::setLook(ui->Button_ledset, QString::fromLatin1(kSideTabOn));
    panel_style::setLook(ui->Button_lanset, QString::fromLatin1(kSideTabOff));
    output_ui::framed(ui->Button_apply1, false);
    output_ui::framed(ui->Button_cancel1, true);
    apply_focus1_ = ui->Button_cancel1;
    output_ui::framed(ui->Button_apply2, false);
    output_ui::framed(ui->Button_cancel2, true);
    apply_focus2_ = ui->Button_cancel2;
    for (QPushButton* b : {ui->Button_wlan2, ui->Button_wlan3, ui->Button_wlan4}) output_ui::framed(b, false);
    output_ui::framed(ui->Button_wlan1, true);
    wlan_focus_ = ui->Button_wlan1;
    ui->stackedWidget->setCurrentIndex(0);

    connect(ui->lineEdit_out1_width, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
    connect(ui->lineEdit_out1_height, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
    connect(ui->lineEdit_width, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
    connect(ui->lineEdit_height, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
    for (QWidget* w : {static_cast<QWidget*>(ui->lineEdit_out2_width), static_cast<QWidget*>(ui->lineEdit_out2_height),
                       static_cast<QWidget*>(ui->lineEdit_X), static_cast<QWidget*>(ui->lineEdit_Y),
                       static_cast<QWidget*>(ui->lineEdit_W), static_cast<QWidget*>(ui->lineEdit_H),
                       static_cast<QWidget*>(ui->lineEdit_width), static_cast<QWidget*>(ui->lineEdit_height),
                       static_cast<QWidget*>(ui->label_out1_width), static_cast<QWidget*>(ui->label_out1_height),
                       static_cast<QWidget*>(ui->label_out2_width), static_cast<QWidget*>(ui->label_out2_height)})
        w->setEnabled(false);
    // the LED size is set elsewhere and OUT2 follows OUT1: those fields are drawn dimmed, OUT1's
    // as editable
    for (QLineEdit* e : {ui->lineEdit_width, ui->lineEdit_height, ui->lineEdit_out1_width, ui->lineEdit_out1_height,
                         ui->lineEdit_out2_width, ui->lineEdit_out2_height})
        e->setStyleSheet(QString::fromLatin1(panel_style::kLineEditStyle));
    if (g_numberkeyboard)
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
    panel_style::useListView(ui->comboBox);
    ui->Button_apply2->hide();
    ui->Button_cancel2->hide();
}

OutputSet::~OutputSet() { delete ui; }

// ---------------------------------------------------------------- LED page

int OutputSet::fieldValue(const QLineEdit* field) const { return int(RefusalNote::shownNumber(field)); }

RefusalNote::Range OutputSet::rangeOf(const QLineEdit* field) const {
    const splice::Span span = field == ui->lineEdit_out1_width
                                  ? splice::out1WidthSpan(fieldValue(ui->lineEdit_width), splice_code_)
                                  : splice::out1HeightSpan(fieldValue(ui->lineEdit_height), splice_code_);
    if (span.largest < span.smallest) return RefusalNote::within(1, splice::kMaxOut, -1, RefusalNote::Bound::Split);
    return RefusalNote::Range{uint32_t(span.smallest), uint32_t(span.largest), RefusalNote::Bound::Split};
}

void OutputSet::para_init() {
    const VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    // one copy of the LED page's words: the scaler's pass writes its results meanwhile
    unsigned char page[kOut2Height + 2 - kSpliceMode];
    ram->snapshot(kSpliceMode, sizeof page, page);
    auto word = [&page](unsigned address) { return VlxRamPara::getU16(page, address - kSpliceMode); };
    ui->lineEdit_width->setText(QString::number(int16_t(word(kLedWidth))));
    ui->lineEdit_height->setText(QString::number(int16_t(word(kLedHeight))));
    const int stored = word(kSpliceMode);
    const int index = splice::indexOfCode(stored);
    splice_code_ = uint8_t(splice::codeOfIndex(index));
    ui->comboBox->setCurrentIndex(index);
    out_label_changed(index);
    ui->lineEdit_out1_width->setText(QString::number(word(kOut1Width)));
    ui->lineEdit_out1_height->setText(QString::number(word(kOut1Height)));
    ui->lineEdit_out2_width->setText(QString::number(word(kOut2Width)));
    ui->lineEdit_out2_height->setText(QString::number(word(kOut2Height)));
    // the copy limit of the LED width holds also when the stored code was already copy
    if (index == 2 && fieldValue(ui->lineEdit_width) > splice::kMaxOut)
        ui->lineEdit_width->setText(QString::number(splice::kMaxOut));
}

void OutputSet::on_comboBox_currentIndexChanged(int index) {
    splice::Split s;
    if (splice::splitFor(index, fieldValue(ui->lineEdit_width), fieldValue(ui->lineEdit_height), &s)) {
        splice_code_ = uint8_t(splice::codeOfIndex(index));
        ui->lineEdit_width->setText(QString::number(s.ledWidth));
        ui->lineEdit_out1_width->setText(QString::number(s.out1Width));
        ui->lineEdit_out2_width->setText(QString::number(s.out2Width));
        ui->lineEdit_out1_height->setText(QString::number(s.out1Height));
        ui->lineEdit_out2_height->setText(QString::number(s.out2Height));
    }
    out_label_changed(index);
}

void OutputSet::out_label_changed(int index) {
    switch (index) {
    case 0:
        ui->out_label->setGeometry(348, 155, 180, 40);
        panel_style::setPicture(ui->out_label, QStringLiteral(":/png/out_horizontal.png"));
        break;
    case 1:
        ui->out_label->setGeometry(430, 130, 100, 80);
        panel_style::setPicture(ui->out_label, QStringLiteral(":/png/out_vertical.png"));
        break;
    case 2:
        ui->out_label->setGeometry(388, 155, 100, 40);
        panel_style::setPicture(ui->out_label, QStringLiteral(":/png/out_copy.png"));
        break;
    default:
        break;
    }
}

// The combo and the picture follow a code the screen changed itself, without the combo's
// handler recomputing the fields.
void OutputSet::showComboIndex(int index) {
    const bool was = ui->comboBox->blockSignals(true);
    ui->comboBox->setCurrentIndex(index);
    ui->comboBox->blockSignals(was);
    out_label_changed(index);
}

void OutputSet::show_numberkeyboard_ui(QString text) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard) return;
    const bool width = field == ui->lineEdit_out1_width || field == ui->lineEdit_width;
    QPointer<QLineEdit> asked(field);
    g_numberkeyboard->ask(
        this, width ? QStringLiteral("宽") : QStringLiteral("高"), text,
        [this, asked] {
            g_lineedit = asked;
            edited_field_ = asked ? asked->objectName() : QString();
        },
        {}, RefusalNote::digitsFor(splice::kMaxOut));
}

void OutputSet::confirmString(QString value) {
    // every keypad answer reaches every screen: only one for a field of this screen counts
    if (!g_lineedit || g_lineedit->window() != this) return;
    QLineEdit* f = g_lineedit.data();
    const bool width = f == ui->lineEdit_out1_width;
    if (!width && f != ui->lineEdit_out1_height) return;
    uint32_t v = 0;
    if (!refused_->take(value, rangeOf(f), width ? "OUT1 width" : "OUT1 height", &v)) return;
    if (width) {
        const splice::Entry e = splice::typedOut1Width(int(v), fieldValue(ui->lineEdit_width), splice_code_);
        ui->lineEdit_out1_width->setText(e.out1Text);
        ui->lineEdit_out2_width->setText(QString::number(e.out2));
    } else {
        const splice::Entry e = splice::typedOut1Height(int(v), fieldValue(ui->lineEdit_height), splice_code_);
        ui->lineEdit_out1_height->setText(e.out1Text);
        ui->lineEdit_out2_height->setText(QString::number(e.out2));
    }
}

void OutputSet::on_Button_apply1_clicked() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    highlight(apply_focus1_, ui->Button_apply1);
    if (!ram) return;
    const int16_t width = int16_t(fieldValue(ui->lineEdit_width));
    const int16_t height = int16_t(fieldValue(ui->lineEdit_height));
    splice::Geometry g;
    if (!splice::geometryFor(splice_code_, width, height, fieldValue(ui->lineEdit_out1_width),
                             fieldValue(ui->lineEdit_out1_height), fieldValue(ui->lineEdit_out2_height), &g)) {
        // OUT1 as loaded leaves OUT2 nothing under this split: said with the range OUT1 has
        QLineEdit* f = splice_code_ == splice::kCodeVertical ? ui->lineEdit_out1_height : ui->lineEdit_out1_width;
        refused_->recheck(f, rangeOf(f), "output split: OUT1");
        return;
    }
    const bool running = bothFpgasRunning();
    ManageMutexLocker lock;
    ram->setRamU16(kLedWidth, uint16_t(width));
    ram->setRamU16(kLedHeight, uint16_t(height));
    ram->setRamU16(kSpliceMode, splice_code_);
    ram->setRamU16(kOut1Width, g.out1Width);
    ram->setRamU16(kOut1Height, g.out1Height);
    ram->setRamU16(kOut2X, g.out2X);
    ram->setRamU16(kOut2Y, g.out2Y);
    ram->setRamU16(kOut2Width, g.out2Width);
    ram->setRamU16(kOut2Height, g.out2Height);
    const bool newScreen = ram->ramU16(kLedWidth) != ram->shadowU16(kLedWidth) ||
                           ram->ramU16(kLedHeight) != ram->shadowU16(kLedHeight) ||
                           ram->ramU16(kSpliceMode) != ram->shadowU16(kSpliceMode);
    if (newScreen) {
        // window 0 shows the whole new screen; the others would lie anywhere on it
        ram->setRamU16(windowField(0, kWinX), 0);
        ram->setRamU16(windowField(0, kWinY), 0);
        ram->setRamU16(windowField(0, kWinWidth), uint16_t(width));
        ram->setRamU16(windowField(0, kWinHeight), uint16_t(height));
        for (int w = 1; w < kWindows; ++w) ram->setRamU16(windowField(w, kWinState), 0);
        if (running) {
            plat::Locker<plat::QtMutex> led(Utils::_led_para_init_mutex);
            g_set_led_para = 1;
            g_set_led_setup = 0;
            engine_requests::fpgaOwner.wake();  // the FPGA engine blanks the output first
        }
    }
    c331_manage::update_flag = 1;
}

void OutputSet::on_Button_cancel1_clicked() { highlight(apply_focus1_, ui->Button_cancel1); }
void OutputSet::on_Button_apply2_clicked() { highlight(apply_focus2_, ui->Button_apply2); }
void OutputSet::on_Button_cancel2_clicked() { highlight(apply_focus2_, ui->Button_cancel2); }

void OutputSet::highlight(QPushButton*& holder, QPushButton* pressed) {
    if (holder) output_ui::framed(holder, false);
    holder = pressed;
    output_ui::framed(pressed, true);
}

// ---------------------------------------------------------------- tabs, refresh, back

void OutputSet::on_Button_ledset_clicked() {
    if (set_focus_) panel_style::setLook(set_focus_, QString::fromLatin1(kSideTabOff));
    set_focus_ = ui->Button_ledset;
    panel_style::setLook(set_focus_, QString::fromLatin1(kSideTabOn));
    ui->stackedWidget->setCurrentIndex(0);
}

void OutputSet::on_Button_lanset_clicked() {
    if (set_focus_) panel_style::setLook(set_focus_, QString::fromLatin1(kSideTabOff));
    set_focus_ = ui->Button_lanset;
    panel_style::setLook(set_focus_, QString::fromLatin1(kSideTabOn));
    ui->stackedWidget->setCurrentIndex(1);
}

void OutputSet::syncUpdate() {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) language_changed();
    para_init();
}

void OutputSet::on_Button_back_clicked() {
    if (g_outputset == this) g_outputset = nullptr;
    output_ui::closeToSettings(this);
}

void OutputSet::language_changed() {
    ui->label_title->setText(langText("输出设置", "Output Setting", "Выход", "Thông số đầu ra", "輸出設置"));
    ui->label_s1->setText(langText("1.设置LED屏宽高", "1.Set LED W&H", "1.Разрешение LED шир и выс",
                                   "1.Cài đặt thông số led", "1.設置LED屏寬高"));
    ui->label_s2->setText(langText("2.选择拼接方式", "2.Splice", "2.Сплайсер", "2.Ghép nối", "2.選擇拼接方式"));
    ui->Button_ledset->setText(langText("LED设置", "LED Setting", "Настройки\nLED", "Cài đặt LED", "LED設置"));
    ui->Button_lanset->setText(
        langText("网口输出", "Port output", "Настройка\nLAN", "Cài đặt\ncổng MẠNG", "網口輸出"));
    const QString w = langText("宽", "W", "Ширина", "Rộng", "寬");
    const QString h = langText("高", "H", "Высота", "Cao", "高");
    for (QLabel* l : {ui->label_width, ui->label_out1_width, ui->label_out2_width, ui->label_W}) l->setText(w);
    for (QLabel* l : {ui->label_height, ui->label_out1_height, ui->label_out2_height, ui->label_H}) l->setText(h);
    ui->label_tip->setText(langText("可设LED屏最大点数:%1(宽),%2(高)", "LED max:%1(w),%2(h)",
                                    "Макс. ширина:%1(px) Макс. высота:%2(px)", "Điểm ảnh lớn nhất:%1(ngang),%2(dọc)",
                                    "可設LED屏最大點數:%1(寬),%2(高)")
                               .arg(kMaxLedSize)
                               .arg(kMaxLedSize));
    const QString cancel = langText("取消", "Cancel", "Отмена", "Hủy bỏ", "取消");
    const QString apply = langText("应用", "Apply", "OK", "Đồng ý", "應用");
    ui->Button_cancel1->setText(cancel);
    ui->Button_cancel2->setText(cancel);
    ui->Button_apply1->setText(apply);
    ui->Button_apply2->setText(apply);
    const QString group = langText("网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2");
    int k = 0;
    for (QPushButton* b : {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3, ui->Button_wlan4}) {
        b->setText(group.arg(8 * k + 1).arg(8 * k + 8));
        ++k;
    }
    combox_language_change();
    if (refused_) refused_->relabel();
}

void OutputSet::combox_language_change() {
    // clearing and refilling runs the combo's handler; every caller loads the stored values after
    const int index = ui->comboBox->currentIndex();
    ui->comboBox->clear();
    ui->comboBox->addItem(langText("水平拼接", "horizontal", "Горизонтально", "Chiều ngang", "水平拼接"));
    ui->comboBox->addItem(langText("垂直拼接", "Vertical", "Вертикально", "Chiều dọc", "垂直拼接"));
    ui->comboBox->addItem(langText("复制模式", "copy", "Дублирование", "Sao chép", "複製模式"));
    ui->comboBox->setCurrentIndex(index);
}

// ---------------------------------------------------------------- port page

void OutputSet::wlan_init() {
    panel_style::rebuildContainer(tile_container_, ui->page_2, QStringLiteral("frame_port_tiles"), 0);
    tile_container_->setGeometry(1, 75, 608, 165);
    const QFont font = panel_style::panelFont(16);
    for (int i = 0; i < 8; ++i) {
        const int c = i % 4;
        const int r = i / 4;
        QFrame* tile = panel_style::makeFrame(tile_container_, QStringLiteral("tile%1").arg(i),
                                              QRect(9 + 150 * c, 14 + 75 * r, 130, 60),
                                              QString::fromLatin1(i == port_tile_ ? kTileOn : kTileOff));
        tiles_[i] = tile;
        QLabel* icon = panel_style::makeLabel(tile_container_, QStringLiteral("icon%1").arg(i),
                                              QRect(59 + 150 * c, 17 + 75 * r, 32, 28));
        panel_style::setPicture(icon, QStringLiteral(":/png/offline.png"));
        const int n = 8 * port_group_ + i + 1;
        QLabel* text = panel_style::makeLabel(tile_container_, QStringLiteral("text%1").arg(i),
                                              QRect(29 + 150 * c, 45 + 75 * r, 91, 28),
                                              langText("网口LED%1", "LED%1", "LED%1", "LED%1", "網口LED%1").arg(n));
        text->setFont(font);
        text->setAlignment(Qt::AlignCenter);
        text->setStyleSheet(QStringLiteral("background-color: #212435;color: #FFFFFF"));
        QPushButton* b = panel_style::makeButton(tile_container_, QString::number(i),
                                                 QRect(10 + 150 * c, 15 + 75 * r, 128, 58),
                                                 QStringLiteral("background-color: transparent;border:0px;"));
        connect(b, &QPushButton::clicked, this, &OutputSet::vlx_button_wlan_clicked);
    }
    tile_container_->show();
}

void OutputSet::vlx_button_wlan_clicked() {
    QObject* from = sender();
    if (!from) return;
    bool ok = false;
    const int i = from->objectName().toInt(&ok);
    if (!ok || i < 0 || i > 7) return;
    if (tiles_[port_tile_]) tiles_[port_tile_]->setStyleSheet(QString::fromLatin1(kTileOff));
    port_tile_ = uint8_t(i);
    wlan_para_get(uint16_t(8 * port_group_ + i));
    if (tiles_[i]) tiles_[i]->setStyleSheet(QString::fromLatin1(kTileOn));
}

void OutputSet::chooseGroup(int group, QPushButton* button) {
    highlight(wlan_focus_, button);
    port_group_ = uint8_t(group);
    port_tile_ = 0;
    wlan_init();
    wlan_para_get(uint16_t(8 * group));
}

void OutputSet::on_Button_wlan1_clicked() { chooseGroup(0, ui->Button_wlan1); }
void OutputSet::on_Button_wlan2_clicked() { chooseGroup(1, ui->Button_wlan2); }
void OutputSet::on_Button_wlan3_clicked() { chooseGroup(2, ui->Button_wlan3); }
void OutputSet::on_Button_wlan4_clicked() { chooseGroup(3, ui->Button_wlan4); }

void OutputSet::wlan_para_get(unsigned short port) {
    const output_ports::PortGeometry g = output_ports::portGeometry(port);
    ui->lineEdit_X->setText(QString::number(g.x));
    ui->lineEdit_Y->setText(QString::number(g.y));
    ui->lineEdit_W->setText(QString::number(g.w));
    ui->lineEdit_H->setText(QString::number(g.h));
}
