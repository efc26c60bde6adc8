#include "ui/input/imagelayout.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

#include "core/alias.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "ui/input/input_common.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/screen_run.h"
#include "ui/shell/shell_globals.h"
#include "ui_imagelayout.h"

using namespace input_common;
using panel_style::langText;

namespace {
constexpr const char* kHighlightStyle = "background-color: #4777FF;color: rgb(255, 255, 255);"
                                        "border:1px solid rgb(255, 255, 255);";
constexpr const char* kPlainStyle = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr int kNameWidth = 60;
constexpr uint16_t kDotByDotOn = 0x0100;
constexpr int kHotBackupItems = 7;
// Window positions and sizes are signed 16-bit in the RAM; the keypad gives no sign.
constexpr uint32_t kLargestField = 32767;

QString statePrefix() { return langText("画面状态:", "Image state:", "Состояние:", "Trạng thái:", "畫面狀態:"); }
QString onWord() { return langText("开启", "ON", "Вкл", "Mở", "開啟"); }
QString offWord() { return langText("关闭", "OFF", "Откл", "Đóng", "關閉"); }
QString tileOffText() { return langText("未开启", "Close", "Откл", "Đóng", "未開啟"); }

const char* const kMirrorOn[] = {":/png/mirror1_on.png", ":/png/mirror2_on.png", ":/png/mirror3_on.png",
                                 ":/png/mirror4_on.png"};
const char* const kMirrorOff[] = {":/png/mirror1_off.png", ":/png/mirror2_off.png", ":/png/mirror3_off.png",
                                  ":/png/mirror4_off.png"};
}  // namespace

ImageLayout::ImageLayout(QWidget* parent) : QDialog(parent), ui(new Ui::ImageLayout) {
    ui->setupUi(this);
    pointsToPixels(this);
    panel_style::prepareScreen(this, ui->Button_back);
    ui->label_backup->setGeometry(481, 230, 130, 28);  // room for the longer translations
    ui->label_backup->hide();
    ui->comboBox->hide();

    panel_style::setLook(ui->Button_source_select, clearLook());
    panel_style::setIcon(ui->Button_source_select, QStringLiteral(":/png/page_change.png"), QSize(32, 32));
    panel_style::setLook(ui->button_state, clearLook());
    ui->button_state->setIconSize(QSize(70, 32));
    for (QPushButton* m : {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4}) {
        panel_style::setLook(m, clearLook());
        m->setIconSize(QSize(48, 48));
    }
    panel_style::setLook(ui->Button_ok, QString::fromLatin1(kPlainStyle));
    focus_button_ = ui->Button_cancel;
    panel_style::setLook(focus_button_, QString::fromLatin1(kHighlightStyle));

    panel_style::useListView(ui->comboBox);
    panel_style::useListView(ui->comboBox_P2P);
    {
        // filling the list selects item 0, which must not read as the user switching
        // window 0's point-to-point off
        const QSignalBlocker block(ui->comboBox_P2P);
        ui->comboBox_P2P->addItem(langText("点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"));
        ui->comboBox_P2P->addItem(langText("点对点开启", "ON", "Вкл", "Mở", "點對點開啟"));
        ui->comboBox_P2P->addItem(
            langText("HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4", "HD3,HD4水平拼接"));
        ui->comboBox_P2P->addItem(
            langText("HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4", "HD3,HD4垂直拼接"));
    }
    image_init();
    image_para_update();

    connectKeypad(this, {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H});
    // right of the mirror buttons, below the fields it is about
    refused_ = std::make_unique<RefusalNote>(this, QRect(450, 366, 340, 56));
    ui->Button_cancel->hide();
    ui->Button_ok->hide();
    language_changed();
    lcd_touch::registerScreen(IdleScreen::ImageLayout, [] { return static_cast<QObject*>(g_imagelayout.data()); });
}

ImageLayout::~ImageLayout() { delete ui; }

unsigned ImageLayout::field(unsigned offset) const { return vlxram::windowField(image_index_, offset); }

// ---------------------------------------------------------------- strip

void ImageLayout::image_init() {
    delete image_frame_;
    for (auto& l : image_label_) l = nullptr;
    image_frame_ = panel_style::makeFrame(this, QStringLiteral("image_frame"), QRect(0, 65, 800, 95),
                                          QStringLiteral("QFrame#image_frame{border:0px;}"));
    // the frame marks the window the panel shows, also after a rebuild
    select_frame_ = panel_style::makeFrame(image_frame_, QStringLiteral("select_frame"),
                                           QRect(17 + 130 * image_index_, 0, 126, 96),
                                           QStringLiteral("border:2px solid rgb(255,171,84);"));
    for (int w = 0; w < vlxram::kWindows; ++w) {
        const QRect rect(20 + 130 * w, 3, 120, 90);
        QLabel* tile = panel_style::makeLabel(image_frame_, QStringLiteral("tile%1").arg(w), rect,
                                              QString::number(w + 1));
        tile->setAlignment(Qt::AlignCenter);
        tile->setStyleSheet(windowTileStyle(w));
        QLabel* name = panel_style::makeLabel(tile, QStringLiteral("label_name"), QRect(0, 3, 100, 28));
        name->setStyleSheet(windowNameStyle(w) + QStringLiteral("font: 16px"));
        image_label_[w] = name;
        panel_style::makeInUseDot(tile, 101, 8);
        if (w == 0 || ramWord(vlxram::windowField(w, vlxram::kWinState)) == 1)
            TextCreate(w);
        else
            name->setText(tileOffText());
        QPushButton* b = panel_style::makeButton(image_frame_, QString::number(w), rect, clearLook());
        connect(b, &QPushButton::clicked, this, &ImageLayout::vlx_image_button_clicked);
    }
    image_frame_->show();
}

void ImageLayout::TextCreate(int window) {
    if (window < 0 || window >= vlxram::kWindows || !image_label_[window]) return;
    image_label_[window]->setText(sourceName(VlxRamPara::liveImageSource(uint8_t(window), nullptr, nullptr)));
}

void ImageLayout::vlx_image_button_clicked() {
    auto* b = qobject_cast<QPushButton*>(sender());
    if (!b) return;
    const int w = b->objectName().toInt();
    if (w < 0 || w >= vlxram::kWindows) return;
    image_index_ = uint8_t(w);
    refused_->hide();  // it was about the other window
    image_para_update();
    select_frame_->setGeometry(b->x() - 3, 0, 126, 96);
}

// ---------------------------------------------------------------- panel

void ImageLayout::showState(bool on) {
    ui->image_state->setText(statePrefix() + (on ? onWord() : offWord()));
    panel_style::setIcon(ui->button_state, on ? QString::fromLatin1(panel_style::kIconSwitchOn)
                                              : QString::fromLatin1(panel_style::kIconSwitchOff),
                         QSize(70, 32));
    state_on_ = on ? 1 : 0;
}

void ImageLayout::image_para_update() {
    const bool on = image_index_ == 0 || ramWord(field(vlxram::kWinState)) != 0;
    showState(on);
    ui->button_state->setVisible(image_index_ != 0);

    const QString prefix = langText("名称:", "Name:", "Название:", "Tên:", "名稱:");
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "win", image_index_) == 1) {
        panel_style::markElides(ui->image_name);
        ui->image_name->setText(prefix + QFontMetrics(ui->image_name->font())
                                             .elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                                         kNameWidth, Qt::TextShowMnemonic));
    } else {
        ui->image_name->setText(prefix + langText("画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫面%1")
                                             .arg(image_index_ + 1));
    }
    ui->image_source->setText(
        langText("信源:", "Source:", "Источник:", "Nguồn tín hiệu:", "信源:") +
        sourceName(VlxRamPara::liveImageSource(image_index_, nullptr, nullptr)));
    {
        // showing the record is no user choice: the handlers stay quiet
        const QSignalBlocker block(ui->comboBox);
        ui->comboBox->setCurrentIndex(ramWord(field(vlxram::kWinHotBackup)) & 0xFF);
    }
    ui->lineEdit_X->setText(QString::number(ramWord(field(vlxram::kWinX))));
    ui->lineEdit_Y->setText(QString::number(ramWord(field(vlxram::kWinY))));
    ui->lineEdit_W->setText(QString::number(ramWord(field(vlxram::kWinWidth))));
    ui->lineEdit_H->setText(QString::number(ramWord(field(vlxram::kWinHeight))));
    mirror_select(ramWord(field(vlxram::kWinAttributes)));
    {
        const QSignalBlocker block(ui->comboBox_P2P);
        if (!(ramWord(field(vlxram::kWinOutput)) & kDotByDotOn)) {
            ui->comboBox_P2P->setCurrentIndex(0);
        } else {
            switch (ramWord(field(vlxram::kWinDbdMode))) {
            case 0: ui->comboBox_P2P->setCurrentIndex(1); break;
            case 8: ui->comboBox_P2P->setCurrentIndex(2); break;
            case 9: ui->comboBox_P2P->setCurrentIndex(3); break;
            default: break;
            }
        }
    }
}

void ImageLayout::mirror_select(int mode) {
    if (mode < 0 || mode > 3) return;
    QPushButton* buttons[] = {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4};
    for (int i = 0; i < 4; ++i)
        panel_style::setIcon(buttons[i], QString::fromLatin1(i == mode ? kMirrorOn[i] : kMirrorOff[i]), QSize(48, 48));
}

void ImageLayout::on_button_state_clicked() {
    if (image_index_ == 0) return;  // window 0 is always on
    const bool switchOn = state_on_ == 0;
    showState(switchOn);
    {
        ManageMutexLocker lock;
        VlxRamPara::p_vlxrampara_config->setRamByte(field(vlxram::kWinState), switchOn ? 1 : 0);
        c331_manage::update_flag = 1;
    }
    if (switchOn)
        TextCreate(image_index_);
    else if (image_label_[image_index_])
        image_label_[image_index_]->setText(tileOffText());
}

void ImageLayout::setMirror(int mode) {
    if ((ramWord(field(vlxram::kWinAttributes)) & 0xFF) == mode) return;
    mirror_select(mode);
    ManageMutexLocker lock;
    c331_manage::update_flag = 1;
    VlxRamPara::p_vlxrampara_config->setRamByte(field(vlxram::kWinAttributes), uint8_t(mode));
}

void ImageLayout::on_mirror1_clicked() { setMirror(0); }
void ImageLayout::on_mirror2_clicked() { setMirror(1); }
void ImageLayout::on_mirror3_clicked() { setMirror(2); }
void ImageLayout::on_mirror4_clicked() { setMirror(3); }

void ImageLayout::on_comboBox_P2P_currentIndexChanged(int index) {
    const uint16_t o = ramWord(field(vlxram::kWinOutput));
    const uint16_t m = ramWord(field(vlxram::kWinDbdMode));
    uint16_t newO = o, newM = m;
    switch (index) {
    case 0: newO = uint16_t(o & ~kDotByDotOn); break;
    case 1: newO = o | kDotByDotOn; newM = 0; break;
    case 2: newO = o | kDotByDotOn; newM = 8; break;
    case 3: newO = o | kDotByDotOn; newM = 9; break;
    default: return;
    }
    if (newO == o && newM == m) return;
    ManageMutexLocker lock;
    c331_manage::update_flag = 1;
    VlxRamPara::p_vlxrampara_config->setRamU16(field(vlxram::kWinOutput), newO);
    VlxRamPara::p_vlxrampara_config->setRamU16(field(vlxram::kWinDbdMode), newM);
}

void ImageLayout::on_comboBox_currentIndexChanged(int index) {
    // -1 (an index the list does not hold) would store 0xFF
    if (index < 0 || index >= kHotBackupItems) return;
    ManageMutexLocker lock;
    VlxRamPara::p_vlxrampara_config->setRamByte(field(vlxram::kWinHotBackup), uint8_t(index));
}

void ImageLayout::moveHighlight(QPushButton* to) {
    panel_style::setLook(focus_button_, QString::fromLatin1(kPlainStyle));
    focus_button_ = to;
    panel_style::setLook(focus_button_, QString::fromLatin1(kHighlightStyle));
}

void ImageLayout::on_Button_cancel_clicked() { moveHighlight(ui->Button_cancel); }

void ImageLayout::on_Button_ok_clicked() { moveHighlight(ui->Button_ok); }

// ---------------------------------------------------------------- keypad

void ImageLayout::show_numberkeyboard_ui(QString text) {
    auto* f = qobject_cast<QLineEdit*>(sender());
    // X, Y, W or H in every language
    if (f) openKeypad(f, f->objectName().right(1), text, RefusalNote::digitsFor(kLargestField));
}

RefusalNote::Range ImageLayout::rangeOf(const QLineEdit* f) const {
    const QLineEdit* partner = nullptr;
    if (f == ui->lineEdit_X) partner = ui->lineEdit_W;
    if (f == ui->lineEdit_W) partner = ui->lineEdit_X;
    if (f == ui->lineEdit_Y) partner = ui->lineEdit_H;
    if (f == ui->lineEdit_H) partner = ui->lineEdit_Y;
    const bool vertical = f == ui->lineEdit_Y || f == ui->lineEdit_H;
    const bool size = f == ui->lineEdit_W || f == ui->lineEdit_H;
    // the window stays on the LED screen: what its other edge leaves of it, within the field
    const int64_t led = ramWord(vertical ? vlxram::kLedHeight : vlxram::kLedWidth);
    const int64_t other = partner ? RefusalNote::shownNumber(partner) : 0;
    return RefusalNote::within(size ? 1 : 0, kLargestField, led - other, RefusalNote::Bound::LedEdge);
}

void ImageLayout::confirmString(QString value) {
    // the crop and EDID screens over this one use the same field names: only our own fields count
    if (!keypadFieldIn({ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})) return;
    QLineEdit* f = g_lineedit.data();
    uint32_t v = 0;
    const QString name = QStringLiteral("layout: window %1 %2").arg(image_index_ + 1).arg(f->objectName().right(1));
    if (!refused_->take(value, rangeOf(f), name.toLatin1().constData(), &v)) return;
    f->setText(QString::number(v));
    // only the field typed: the others keep what the RAM holds, also what a PC wrote
    unsigned offset = vlxram::kWinX;
    if (f == ui->lineEdit_Y) offset = vlxram::kWinY;
    if (f == ui->lineEdit_W) offset = vlxram::kWinWidth;
    if (f == ui->lineEdit_H) offset = vlxram::kWinHeight;
    ManageMutexLocker lock;
    VlxRamPara::p_vlxrampara_config->setRamU16(field(offset), uint16_t(v));
    c331_manage::update_flag = 1;
}

// ---------------------------------------------------------------- source, refresh, back

void ImageLayout::on_Button_source_select_clicked() { screen_run::runScreen(g_inputchoose, 3, 9); }

void ImageLayout::syncUpdate() {
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    for (int w = 0; w < vlxram::kWindows; ++w) {
        const unsigned state = vlxram::windowField(w, vlxram::kWinState);
        const unsigned source = vlxram::windowField(w, vlxram::kWinSource);
        if (ramWord(state) != shadowWord(state) || ramWord(source) != shadowWord(source)) {
            image_init();
            break;
        }
    }
    image_para_update();
}

void ImageLayout::language_changed() {
    ui->label_title->setText(langText("画面布局", "Screen layout", "Расположение", "Bố cục màn hình", "畫面佈局"));
    ui->label_backup->setText(langText("热备份", "Hot backup", "Экстра замена", "Dự phòng nóng", "熱備份"));
    ui->label_P2P->setText(langText("点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"));
    ui->label_W->setText(widthLabelText());
    ui->label_H->setText(heightLabelText());
    ui->label_mirror->setText(langText("镜像", "mirror", "Отражение", "Ảnh phản chiếu", "鏡像"));
    ui->Button_cancel->setText(cancelText());
    ui->Button_ok->setText(langText("确定", "OK", "OK", "Đồng ý", "確定"));
    refused_->relabel();
}

void ImageLayout::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_imagelayout == this) g_imagelayout = nullptr;
    if (g_option) g_option->language_changed();
    g_page_focus = 5;
}
