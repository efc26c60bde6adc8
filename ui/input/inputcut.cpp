#include "ui/input/inputcut.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cstring>

#include "core/global.h"
#include "core/vlxrampara.h"
#include "ui/input/input_common.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/refusal_note.h"
#include "ui/shell/shell_globals.h"
#include "ui_inputcut.h"
#include "video_io/edid.h"

using namespace input_common;
using panel_style::langText;

namespace {
constexpr const char* kMarkerStyle = "QFrame{border:1px solid rgb(71, 119, 255);border-bottom:0px;}";
constexpr const char* kTileLabelStyle = "background-color:#212435;color:#FFFFFF";
}  // namespace

InputCut::InputCut(QWidget* parent) : QDialog(parent), ui(new Ui::InputCut) {
    ui->setupUi(this);
    pointsToPixels(this);
    panel_style::prepareScreen(this, ui->Button_back);
    setInputIcons(ui->label_HDMI1, ui->label_HDMI2, ui->label_HDMI3, ui->label_HDMI4, ui->label_DVI, ui->label_EXT);

    marker_ = panel_style::makeFrame(this, QStringLiteral("frame_input"), QRect(20, 68, 120, 85),
                                     QString::fromLatin1(kMarkerStyle));
    tile_font_ = font();
    tile_font_.setPixelSize(12);

    crop_source_num_update();
    type_name_ = QStringLiteral("HDMI1");
    marker_->lower();
    VlxRamPara::VlxCropSourceInit();
    input_init();
    // the editor starts closed: the tiles are built with the add button showing
    ui->frame_add->hide();
    source_init();

    const EditorButtons editor = makeEditorButtons(this, QStringLiteral("button_ok"));
    button_cancel_ = editor.cancel;
    button_ok_ = editor.ok;
    button_delete_ = editor.remove;
    connect(button_cancel_, &QPushButton::clicked, this, &InputCut::vlx_button_cancel_clicked);
    connect(button_ok_, &QPushButton::clicked, this, &InputCut::vlx_button_ok_clicked);
    connect(button_delete_, &QPushButton::clicked, this, &InputCut::vlx_button_delete_clicked);

    connectKeypad(this, {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H});
    // right of the editor's title, above its fields
    refused_ = std::make_unique<RefusalNote>(ui->frame_add, QRect(300, 4, 460, 62));
    language_changed();
    lcd_touch::registerScreen(IdleScreen::InputCut, [] { return static_cast<QObject*>(g_inputcut.data()); });
}

InputCut::~InputCut() { delete ui; }

bool InputCut::editorOpen() const { return !ui->frame_add->isHidden(); }

// ---------------------------------------------------------------- inputs

void InputCut::input_init() {
    for (QPushButton* b : makeInputButtons(this))
        connect(b, &QPushButton::clicked, this, &InputCut::vlx_button_input_clicked);
}

void InputCut::vlx_button_input_clicked() {
    const QObject* button = sender();
    if (!button) return;
    const int k = button->objectName().toInt();
    if (k < 0 || k >= kTypes) return;
    current_page_ = 0;
    current_type_ = uint8_t(kTypeOfColumn[k]);
    type_name_ = sourceName(current_type_);
    marker_->setGeometry(130 * k + 20, 68, 120, 85);
    source_init();
    para_changed_over();
}

void InputCut::crop_source_num_update() {
    QLabel* counts[] = {ui->EXT_num, ui->DVI_num, ui->HDMI1_num, ui->HDMI2_num, ui->HDMI3_num, ui->HDMI4_num};
    for (int type = 0; type < kTypes; ++type)
        counts[type]->setText(QStringLiteral("(%1)").arg(VlxRamPara::VlxGetSourceNum(type, vlxram::kCropEntries) + 1));
}

// ---------------------------------------------------------------- tiles

void InputCut::source_init() {
    const int total = VlxRamPara::VlxGetSourceNum(current_type_, vlxram::kCropEntries) + 1;
    last_page_ = uint8_t(total / kTilesPerPage - (total % kTilesPerPage == 0 ? 1 : 0));
    const int remaining = total - kTilesPerPage * current_page_;
    const int tiles = remaining >= kTilesPerPage ? kTilesPerPage : std::max(0, remaining);

    delete tile_area_;
    tile_area_ = panel_style::makeFrame(this, QStringLiteral("frame_source"), QRect(20, 152, 770, 240),
                                        QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    tile_area_->lower();
    for (int t = 0; t < tiles; ++t) {
        const int c = t % 3, r = t / 3;
        panel_style::makeFrame(tile_area_, QStringLiteral("tile_frame"), QRect(10 + 240 * c, 15 + 110 * r, 220, 90),
                               QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;"));
        panel_style::makeInUseDot(tile_area_, 20 + 240 * c, 25 + 110 * r);
        auto* icon = new QLabel(tile_area_);
        icon->setObjectName(QStringLiteral("label_icon"));
        icon->setGeometry(39 + 240 * c, 20 + 110 * r, 63, 24);
        icon->setStyleSheet(QStringLiteral("background-color: #212435;"));
        panel_style::setPicture(icon, current_type_ == 1 ? QStringLiteral(":/png/DVI.png")
                                                         : QStringLiteral(":/png/HDMI.png"));
        QLabel* name = panel_style::makeLabel(tile_area_, QStringLiteral("label_name%1").arg(t),
                                              QRect(20 + 240 * c, 44 + 110 * r, 172, 28));
        QLabel* info = panel_style::makeLabel(tile_area_, QStringLiteral("label_info%1").arg(t),
                                              QRect(20 + 240 * c, 72 + 110 * r, 172, 28));
        for (QLabel* l : {name, info}) {
            l->setFont(tile_font_);
            l->setStyleSheet(QString::fromLatin1(kTileLabelStyle));
        }
        const int n = kTilesPerPage * current_page_ + t;
        if (n == 0) {
            name->setText(type_name_);
            const screen_text::Timing timing = screen_text::inputTiming(current_type_);
            info->setText(timing.present() ? screen_text::timingText(timing) : noSignalText());
        } else {
            cropTileTexts(name, info, current_type_, n, type_name_, 172);
        }
        QPushButton* b = panel_style::makeButton(tile_area_, QString::number(t),
                                                 QRect(11 + 240 * c, 16 + 110 * r, 218, 88), clearLook());
        connect(b, &QPushButton::clicked, this, &InputCut::vlx_button_source_clicked);
    }
    add_button_ = panel_style::makeButton(tile_area_, QStringLiteral("button_add"), QRect(715, 10, 50, 50), clearLook());
    panel_style::setIcon(add_button_, QStringLiteral(":/png/add.png"), QSize(50, 50));
    connect(add_button_, &QPushButton::clicked, this, &InputCut::vlx_button_add_clicked);
    const PageButtons pages = makePageButtons(tile_area_, current_page_, last_page_, 110, 175);
    if (pages.previous) connect(pages.previous, &QPushButton::clicked, this, &InputCut::vlx_Button_previous_clicked);
    if (pages.next) connect(pages.next, &QPushButton::clicked, this, &InputCut::vlx_Button_next_clicked);
    // the editor keeps its state over a rebuild: no add button while it is open
    if (editorOpen()) add_button_->hide();
    tile_area_->show();
}

void InputCut::vlx_Button_previous_clicked() {
    if (current_page_ == 0) return;
    --current_page_;
    source_init();
}

void InputCut::vlx_Button_next_clicked() {
    ++current_page_;
    source_init();
}

// ---------------------------------------------------------------- editor

void InputCut::vlx_button_source_clicked() {
    const QObject* button = sender();
    if (!button) return;
    new_crop_ = 0;
    const int n = button->objectName().toInt() + kTilesPerPage * current_page_;
    if (n == 0) {
        para_changed_over();  // the input itself is not edited
        return;
    }
    edited_number_ = uint8_t(n);
    refused_->hide();  // it was about the crop edited before
    add_button_->hide();
    CROP_PARA crop;
    int index = vlxram::kCropEntries;
    VlxRamPara::VlxGetCropPara(current_type_, n, &crop, &index);
    ui->label_change_source->setText(langText("名称:", "Name:", "Название:", "Tên:", "名稱:") + type_name_ +
                                     QStringLiteral("-Crop-%1").arg(((crop.key >> 8) & 0x7F) + 1));
    RefusalNote::load(ui->lineEdit_X, uint32_t(crop.x));
    RefusalNote::load(ui->lineEdit_Y, uint32_t(crop.y));
    RefusalNote::load(ui->lineEdit_W, uint32_t(crop.width));
    RefusalNote::load(ui->lineEdit_H, uint32_t(crop.height));
    button_delete_->setGeometry(80, 406, 180, 60);
    button_cancel_->setGeometry(310, 406, 180, 60);
    button_ok_->setGeometry(540, 406, 180, 60);
    ui->frame_add->show();
    button_cancel_->show();
    button_ok_->show();
    button_delete_->show();
}

void InputCut::vlx_button_add_clicked() {
    new_crop_ = 1;
    refused_->hide();
    add_button_->hide();
    VlxRamPara::VlxCropSourceInit();
    // the number the new crop will take: the lowest free one, not the count + 1
    ui->label_change_source->setText(langText("名称:", "Name:", "Название:", "Tên:", "名稱:") + type_name_ +
                                     QStringLiteral("-Crop-%1").arg(VlxRamPara::VlxAddCropID(current_type_)));
    RefusalNote::load(ui->lineEdit_X, 0);
    RefusalNote::load(ui->lineEdit_Y, 0);
    RefusalNote::load(ui->lineEdit_W, 1920);
    RefusalNote::load(ui->lineEdit_H, 1080);
    button_cancel_->setGeometry(195, 406, 180, 60);
    button_ok_->setGeometry(425, 406, 180, 60);
    ui->frame_add->show();
    button_cancel_->show();
    button_ok_->show();
    button_delete_->hide();
}

void InputCut::vlx_button_ok_clicked() {
    // what was typed; the rest as the entry holds it now (a new crop: as the fields show it)
    CROP_PARA now;
    now.x = int(RefusalNote::shownNumber(ui->lineEdit_X));
    now.y = int(RefusalNote::shownNumber(ui->lineEdit_Y));
    now.width = int(RefusalNote::shownNumber(ui->lineEdit_W));
    now.height = int(RefusalNote::shownNumber(ui->lineEdit_H));
    int index = vlxram::kCropEntries;
    if (!new_crop_) VlxRamPara::VlxGetCropPara(current_type_, edited_number_, &now, &index);
    CROP_PARA crop;
    crop.key = current_type_;
    crop.x = int(RefusalNote::typedOr(ui->lineEdit_X, uint32_t(now.x)));
    crop.y = int(RefusalNote::typedOr(ui->lineEdit_Y, uint32_t(now.y)));
    crop.width = int(RefusalNote::typedOr(ui->lineEdit_W, uint32_t(now.width)));
    crop.height = int(RefusalNote::typedOr(ui->lineEdit_H, uint32_t(now.height)));
    if (new_crop_)
        VlxRamPara::VlxAddNewCrop(current_type_, &crop);
    else
        VlxRamPara::VlxSetCropPara(char(current_type_), char(edited_number_), &crop);
    VlxRamPara::VlxCropSourceInit();
    crop_source_num_update();
    para_changed_over();
    source_init();
}

void InputCut::vlx_button_delete_clicked() {
    VlxRamPara::VlxDeleteCrop(char(current_type_), char(edited_number_));
    VlxRamPara::VlxCropSourceInit();
    crop_source_num_update();
    para_changed_over();
    source_init();
}

void InputCut::vlx_button_cancel_clicked() { para_changed_over(); }

void InputCut::para_changed_over() {
    refused_->hide();  // it was about the editor's fields
    ui->frame_add->hide();
    button_cancel_->hide();
    button_ok_->hide();
    button_delete_->hide();
    if (add_button_) add_button_->show();
}

// ---------------------------------------------------------------- keypad

QString InputCut::keypadTitle(const QString& field) const {
    if (field == QLatin1String("lineEdit_X")) return QStringLiteral("X");
    if (field == QLatin1String("lineEdit_Y")) return QStringLiteral("Y");
    if (field == QLatin1String("lineEdit_W")) return langText("宽", "W", "W", "W", "寬");
    return langText("高", "H", "H", "H", "H");
}

void InputCut::show_numberkeyboard_ui(QString text) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (field) openKeypad(field, keypadTitle(field->objectName()), text, RefusalNote::digitsFor(kEdidLargestSize));
}

RefusalNote::Range InputCut::rangeOf(const QLineEdit* f) const {
    const QLineEdit* partner = ui->lineEdit_W;
    if (f == ui->lineEdit_W) partner = ui->lineEdit_X;
    if (f == ui->lineEdit_Y) partner = ui->lineEdit_H;
    if (f == ui->lineEdit_H) partner = ui->lineEdit_Y;
    const bool size = f == ui->lineEdit_W || f == ui->lineEdit_H;
    // the crop lies in the largest picture an input offers: what its other edge leaves of it
    return RefusalNote::within(size ? 1 : 0, kEdidLargestSize,
                               int64_t(kEdidLargestSize) - RefusalNote::shownNumber(partner),
                               RefusalNote::Bound::Input);
}

void InputCut::confirmString(QString value) {
    // every keypad result reaches every screen; only this screen's own fields take it
    if (!keypadFieldIn({ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})) return;
    QLineEdit* f = g_lineedit.data();
    const QString name = QStringLiteral("crop: %1 %2").arg(type_name_, f->objectName().right(1));
    refused_->takeInto(f, value, rangeOf(f), name.toLatin1().constData());
}

// ---------------------------------------------------------------- refresh and back

void InputCut::syncUpdate(int code) {
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    const VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    const unsigned cropBytes = vlxram::kCropEntrySize * vlxram::kCropEntries;
    unsigned char crops[cropBytes];
    p->snapshot(vlxram::kCropTable, cropBytes, crops);
    if (code == 103 ||
        p->shadowDiffers(vlxram::kCropTable, cropBytes, crops)) {
        VlxRamPara::VlxCropSourceInit();
        crop_source_num_update();
        source_init();
    }
}

void InputCut::language_changed() {
    ui->label_title->setText(langText("输入截取", "Input intercept", "Обрезка входа", "Chặn nguồn vào", "輸入截取"));
    ui->label_crop->setText(langText("截取:", "Crop:", "Обрезать:", "Cắt:", "截取:"));
    ui->label_W->setText(widthLabelText());
    ui->label_H->setText(heightLabelText());
    button_cancel_->setText(cancelText());
    button_ok_->setText(langText("确定", "OK", "OK", "Đồng ý", "確定"));
    button_delete_->setText(deleteText());
    if (refused_) refused_->relabel();
}

void InputCut::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputcut == this) g_inputcut = nullptr;
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_page_focus = 3;
        g_inputchoose->initSource();
        g_inputchoose->crop_source_num_update();
        // a deleted crop's windows were moved to its whole input while this screen was in front
        g_inputchoose->window_names_update();
    } else {
        if (g_option) g_option->language_changed();
        g_page_focus = 5;
    }
}
