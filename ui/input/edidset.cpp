#include "ui/input/edidset.h"

#include <QLabel>
#include <QPushButton>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "ui/input/input_common.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/shell_globals.h"
#include "ui_edidset.h"
#include "video_io/edid.h"

using namespace input_common;
using panel_style::langText;

namespace {
constexpr const char* kSelectStyle = "QFrame{border:1px solid;border-left-color:rgb(71, 119, 255);"
                                     "border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);"
                                     "border-bottom:0px;}";

unsigned edidAddress(int port) { return vlxram::kEdidPara + vlxram::kEdidParaSize * unsigned(port); }
}  // namespace

EDIDset::EDIDset(QWidget* parent) : QDialog(parent), ui(new Ui::EDIDset) {
    ui->setupUi(this);
    pointsToPixels(this);
    panel_style::prepareScreen(this, ui->Button_back);
    setInputIcons(ui->label_HDMI1, ui->label_HDMI2, ui->label_HDMI3, ui->label_HDMI4, ui->label_DVI, ui->label_EXT);
    for (QPushButton* b : {ui->Button_left, ui->Button_right})
        panel_style::setLook(b, QString::fromLatin1(panel_style::kInputFieldStyle));

    select_frame_ = panel_style::makeFrame(this, QStringLiteral("select_frame"), QRect(20, 68, 120, 85),
                                           QString::fromLatin1(kSelectStyle));
    select_frame_->lower();
    tile_font_ = font();
    tile_font_.setPixelSize(12);
    input_init();
    source_init();
    ui->frame_add->hide();

    const EditorButtons editor = makeEditorButtons(this, QStringLiteral("button_save"));
    button_cancel_ = editor.cancel;
    button_save_ = editor.ok;
    button_delete_ = editor.remove;
    for (QPushButton* b : {button_cancel_, button_save_, button_delete_}) b->setFont(tile_font_);
    connect(button_cancel_, &QPushButton::clicked, this, &EDIDset::vlx_button_cancel_clicked);
    connect(button_save_, &QPushButton::clicked, this, &EDIDset::vlx_button_ok_clicked);
    connect(button_delete_, &QPushButton::clicked, this, &EDIDset::vlx_button_delete_clicked);

    connectKeypad(this, {ui->lineEdit_W, ui->lineEdit_H});
    // right of the editor's title, above its fields
    refused_ = std::make_unique<RefusalNote>(ui->frame_add, QRect(220, 4, 540, 62));
    language_changed();
    lcd_touch::registerScreen(IdleScreen::EdidSet, [] { return static_cast<QObject*>(g_edidset.data()); });
}

EDIDset::~EDIDset() { delete ui; }

bool EDIDset::editorOpen() const { return !ui->frame_add->isHidden(); }

void EDIDset::input_init() {
    for (QPushButton* b : makeInputButtons(this))
        connect(b, &QPushButton::clicked, this, &EDIDset::vlx_button_input_clicked);
}

void EDIDset::vlx_button_input_clicked() {
    const QObject* button = sender();
    if (!button) return;
    const int i = button->objectName().toInt();
    if (i < 0 || i >= kTypes) return;
    input_index_ = uint8_t(kTypeOfColumn[i]);
    input_name_ = sourceName(input_index_);
    select_frame_->setGeometry(20 + 130 * i, 68, 120, 85);
    source_init();
    closeEditor();
}

void EDIDset::source_init() {
    delete frame_source_;
    frame_source_ = panel_style::makeFrame(this, QStringLiteral("frame_source"), QRect(20, 152, 770, 240),
                                           QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    frame_source_->lower();
    panel_style::makeFrame(frame_source_, QStringLiteral("tile_frame"), QRect(10, 15, 220, 90),
                           QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;"));
    panel_style::makeInUseDot(frame_source_, 20, 25);
    auto* icon = new QLabel(frame_source_);
    icon->setObjectName(QStringLiteral("label_icon"));
    icon->setGeometry(39, 20, 63, 24);
    icon->setStyleSheet(QStringLiteral("background-color: #212435;"));
    panel_style::setPicture(icon, input_index_ == 1 ? QStringLiteral(":/png/DVI.png") : QStringLiteral(":/png/HDMI.png"));
    const unsigned a = edidAddress(input_index_);
    QLabel* name = panel_style::makeLabel(frame_source_, QStringLiteral("label_name"), QRect(20, 44, 172, 28),
                                          input_name_);
    QLabel* info = panel_style::makeLabel(
        frame_source_, QStringLiteral("label_info"), QRect(20, 72, 172, 28),
        QStringLiteral("%1x%2@%3Hz")
            .arg(int16_t(ramWord(a)))
            .arg(int16_t(ramWord(a + 2)))
            .arg(int16_t(ramWord(a + 4))));
    for (QLabel* l : {name, info}) {
        l->setFont(tile_font_);
        l->setStyleSheet(QStringLiteral("background-color:#212435;color:#FFFFFF"));
    }
    QPushButton* b = panel_style::makeButton(frame_source_, QStringLiteral("button_tile"), QRect(11, 16, 218, 88),
                                             clearLook());
    connect(b, &QPushButton::clicked, this, &EDIDset::vlx_button_source_clicked);
    frame_source_->show();
}

void EDIDset::vlx_button_source_clicked() {
    refused_->hide();  // it was about the timing edited before
    ui->label_edid_source->setText(
        langText("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") + input_name_);
    const unsigned a = edidAddress(input_index_);
    RefusalNote::load(ui->lineEdit_W, ramWord(a));
    RefusalNote::load(ui->lineEdit_H, ramWord(a + 2));
    rate_toggled_ = false;
    // the arrows step from the stored rate, not from the last one shown on another input
    const uint16_t rate = ramWord(a + 4);
    edid_rate_ = rate == 30 ? 30 : 60;
    ui->label_rate->setText(QString::number(rate));
    button_cancel_->setGeometry(310, 406, 180, 60);
    button_save_->setGeometry(540, 406, 180, 60);
    button_delete_->setGeometry(80, 406, 180, 60);
    ui->frame_add->show();
    button_cancel_->show();
    button_save_->show();
    button_delete_->show();
}

void EDIDset::toggleRate() {
    edid_rate_ = edid_rate_ == 30 ? 60 : 30;
    rate_toggled_ = true;
    ui->label_rate->setText(QString::number(edid_rate_));
}

void EDIDset::on_Button_left_clicked() { toggleRate(); }
void EDIDset::on_Button_right_clicked() { toggleRate(); }

RefusalNote::Range EDIDset::fieldRange() {
    return RefusalNote::within(1, kEdidLargestSize, kEdidLargestSize, RefusalNote::Bound::Field);
}

int EDIDset::shownRate() const { return ui->label_rate->text().toInt(); }

bool EDIDset::timingOffered(int width, int height, int rate) {
    const EdidKind kind = edidKindOfSource(input_index_);
    std::vector<uint8_t> edid = defaultEdid(kind);
    std::string why;
    if (Set_Custom_HDMI_EDID(edid, kind, width, height, rate, &why)) return true;
    writeLogMsg(LOG_WARNING, "EDID " + input_name_.toStdString() + ": " + std::to_string(width) + "x" +
                                 std::to_string(height) + "@" + std::to_string(rate) + " refused, " + why);
    const QString timing = QStringLiteral("%1x%2@%3Hz").arg(width).arg(height).arg(rate);
    refused_->show([timing] {
        return langText("已拒绝：此输入不能提供%1", "Refused: this input cannot offer %1", "Отказ: вход не даёт %1",
                        "Từ chối: đầu vào không thể cung cấp %1", "已拒絕：此輸入不能提供%1")
            .arg(timing);
    });
    return false;
}

void EDIDset::vlx_button_ok_clicked() {
    // what was typed or toggled; the rest as the RAM holds it now
    const unsigned a = edidAddress(input_index_);
    const int width = int(RefusalNote::typedOr(ui->lineEdit_W, ramWord(a)));
    const int height = int(RefusalNote::typedOr(ui->lineEdit_H, ramWord(a + 2)));
    const int rate = rate_toggled_ ? shownRate() : ramWord(a + 4);
    // the rate may have changed since the sizes were taken: the editor stays open with the reason
    if (!timingOffered(width, height, rate)) return;
    VlxRamPara::VlxSetEDIDPara(input_index_, short(width), short(height), short(rate));
    source_init();
    closeEditor();
}

void EDIDset::vlx_button_cancel_clicked() { closeEditor(); }
void EDIDset::vlx_button_delete_clicked() { closeEditor(); }

void EDIDset::closeEditor() {
    refused_->hide();  // it was about the editor's fields
    ui->frame_add->hide();
    button_cancel_->hide();
    button_save_->hide();
    button_delete_->hide();
}

void EDIDset::show_numberkeyboard_ui(QString text) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    openKeypad(field, field == ui->lineEdit_W ? langText("宽", "W", "W", "W", "寬") : langText("高", "H", "H", "H", "高"),
               text, RefusalNote::digitsFor(kEdidLargestSize));
}

void EDIDset::confirmString(QString value) {
    // results asked for by another screen (the layout beneath shares these names) are not ours
    if (!keypadFieldIn({ui->lineEdit_W, ui->lineEdit_H})) return;
    QLineEdit* f = g_lineedit.data();
    const bool width = f == ui->lineEdit_W;
    uint32_t v = 0;
    const QString name = QStringLiteral("EDID: %1 %2").arg(input_name_, width ? QStringLiteral("W") : QStringLiteral("H"));
    if (!refused_->take(value, fieldRange(), name.toLatin1().constData(), &v)) return;
    // with the other size and the rate, a timing the input can offer
    const int other = int(RefusalNote::shownNumber(width ? ui->lineEdit_H : ui->lineEdit_W));
    if (!timingOffered(width ? int(v) : other, width ? other : int(v), shownRate())) return;
    refused_->takeInto(f, value, fieldRange(), name.toLatin1().constData());
}

void EDIDset::syncUpdate() {
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    source_init();
}

void EDIDset::language_changed() {
    ui->label_title->setText(langText("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"));
    ui->label_edid_source->setText(
        langText("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") + input_name_);
    ui->label_W->setText(widthLabelText());
    ui->label_H->setText(heightLabelText());
    ui->label_freq->setText(langText("刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"));
    button_cancel_->setText(cancelText());
    button_save_->setText(langText("保存", "SAVE", "Сохранить", "lưu", "保存"));
    button_delete_->setText(deleteText());
    if (refused_) refused_->relabel();
    switch (g_language.load()) {
    case 0:
    case 4:
        ui->label_freq->setGeometry(360, 83, 70, 28);
        ui->Button_left->setGeometry(440, 72, 44, 50);
        ui->label_rate->setGeometry(484, 72, 92, 50);
        ui->Button_right->setGeometry(576, 72, 44, 50);
        break;
    case 3:
        ui->label_freq->setGeometry(360, 83, 130, 28);
        ui->Button_left->setGeometry(500, 72, 44, 50);
        ui->label_rate->setGeometry(544, 72, 72, 50);
        ui->Button_right->setGeometry(616, 72, 44, 50);
        break;
    default:
        ui->label_freq->setGeometry(360, 83, 130, 28);
        ui->Button_left->setGeometry(500, 72, 44, 50);
        ui->label_rate->setGeometry(544, 72, 92, 50);
        ui->Button_right->setGeometry(636, 72, 44, 50);
        break;
    }
}

void EDIDset::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_edidset == this) g_edidset = nullptr;
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_page_focus = 3;
        g_inputchoose->initSource();
    }
}
