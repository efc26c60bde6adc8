#include "ui/output/imagequality.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cstring>

#include "core/global.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "ui/output/screen_common.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/panel_style.h"
#include "ui_imagequality.h"

using namespace vlxram;
using panel_style::langText;

QPointer<ImageQuality> g_imagequality;

namespace {
constexpr unsigned kPictureStart = kBrightness;
constexpr unsigned kPictureLength = 16;  // 0x880..0x88F
constexpr int kTypes = 4;
}  // namespace

ImageQuality::ImageQuality(QWidget* parent) : QDialog(parent), ui(new Ui::ImageQuality) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    lcd_touch::registerScreen(IdleScreen::ImageQuality, [] { return static_cast<QObject*>(g_imagequality.data()); });
    rows_ = {{{kBrightness, 100, ui->horizontalSlider_bright, ui->label_bright, ui->Button_bright_add,
               ui->Button_bright_reduce},
              {kSharpness, 10, ui->horizontalSlider_sharpness, ui->label_sharpness, ui->Button_sharpness_add,
               ui->Button_sharpness_reduce},
              {kContrast, 100, ui->horizontalSlider_contrast, ui->label_contrast, ui->Button_contrast_add,
               ui->Button_contrast_reduce},
              {kSaturation, 100, ui->horizontalSlider_saturation, ui->label_saturation, ui->Button_saturation_add,
               ui->Button_saturation_reduce},
              {kColorTempR, 128, ui->horizontalSlider_red, ui->label_red, ui->Button_red_add, ui->Button_red_reduce},
              {kColorTempG, 128, ui->horizontalSlider_green, ui->label_green, ui->Button_green_add,
               ui->Button_green_reduce},
              {kColorTempB, 128, ui->horizontalSlider_blue, ui->label_blue, ui->Button_blue_add,
               ui->Button_blue_reduce}}};
    output_ui::setFontPx(ui->label_title, 24);
    for (QPushButton* b : {ui->Button_quality, ui->Button_temperature}) output_ui::setFontPx(b, 19);
    output_ui::setFontPx(ui->Button_reset, 24);
    panel_style::setLook(ui->Button_reset, QStringLiteral("border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, "
                                                          "255, 255);\nborder-radius: 10px;"));
    for (QWidget* w : {static_cast<QWidget*>(ui->label_type), static_cast<QWidget*>(ui->comboBox),
})
        output_ui::setFontPx(w, 19);
    for (QLabel* l : {ui->label_name_bright, ui->label_name_sharp, ui->label_name_contrast, ui->label_name_saturation,
                      ui->label_name_red, ui->label_name_green, ui->label_name_blue})
        output_ui::setFontPx(l, 17);
    for (const Row& row : rows_) {
        output_ui::setFontPx(row.value, 19);
        for (QPushButton* b : {row.add, row.reduce}) {
            output_ui::setFontPx(b, 30);
            b->setAutoRepeat(true);
            panel_style::setLook(b, QStringLiteral("border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, 255, 255);"));
        }
        connectRow(row);
    }
    selected_tab_ = ui->Button_quality;
    output_ui::tab(ui->Button_quality, true);
    output_ui::tab(ui->Button_temperature, false);
    ui->stackedWidget->setCurrentIndex(0);
    panel_style::useListView(ui->comboBox);
    language_changed();
    para_init();
}

ImageQuality::~ImageQuality() { delete ui; }

void ImageQuality::connectRow(const Row& row) {
    QLabel* value = row.value;
    connect(row.slider, &QSlider::valueChanged, this, [value](int v) { value->setText(QString::number(v)); });
    // the handle goes where the finger lands; stored once the finger is up, whatever the gesture
    const unsigned address = row.address;
    panel_style::touchSlider(row.slider, [address](int v) { store(address, v); });
    const size_t index = size_t(&row - rows_.data());
    connect(row.add, &QPushButton::clicked, this, [this, index] { step(rows_[index], +1); });
    connect(row.reduce, &QPushButton::clicked, this, [this, index] { step(rows_[index], -1); });
}

// Both bytes of the field: a high byte left by the PC would otherwise stay for ever.
void ImageQuality::store(unsigned address, int value) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    ManageMutexLocker lock;
    c331_manage::update_flag = 1;
    ram->setRamU16(address, uint16_t(value));
}

void ImageQuality::step(const Row& row, int delta) {
    int v = row.slider->value() + delta;
    if (v > row.maximum) v = row.maximum;
    if (v < 0) v = 0;
    row.slider->setValue(v);
    row.value->setText(QString::number(v));
    // every press and every repeat is one store, also at a limit
    store(row.address, v);
}

void ImageQuality::para_init() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    // one copy: the PC writes these words from its link threads
    unsigned char picture[kPictureLength];
    ram->snapshot(kPictureStart, kPictureLength, picture);
    for (const Row& row : rows_) {
        // a value beyond the slider's range (written by a PC) shows as the slider holds it
        row.slider->setValue(int16_t(VlxRamPara::getU16(picture, row.address - kPictureStart)));
        row.value->setText(QString::number(row.slider->value()));
    }
    ui->comboBox->setCurrentIndex(int16_t(VlxRamPara::getU16(picture, kColorTempMode - kPictureStart)));
}

void ImageQuality::on_comboBox_currentIndexChanged(int index) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram || unsigned(index) >= unsigned(kTypes) || unsigned(index) == ram->snapshotU16(kColorTempMode)) return;
    store(kColorTempMode, index);
}

void ImageQuality::on_Button_reset_clicked() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    // the factory image holds RAM address a at offset a - 0x300 + 2
    const unsigned offset = kPictureStart - kSavedStart + kRamFileMarkerSize;
    ManageMutexLocker lock;
    ram->writeRam(kPictureStart, default_para_ramlist.data() + offset, kPictureLength);
    c331_manage::update_flag = 1;
}

void ImageQuality::syncUpdate() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    unsigned char picture[kPictureLength];
    ram->snapshot(kPictureStart, kPictureLength, picture);
    if (ram->shadowDiffers(kPictureStart, kPictureLength, picture)) para_init();
}

void ImageQuality::selectTab(QPushButton* tab, int page) {
    ui->stackedWidget->setCurrentIndex(page);
    if (selected_tab_) output_ui::tab(selected_tab_, false);
    selected_tab_ = tab;
    output_ui::tab(tab, true);
}

void ImageQuality::on_Button_quality_clicked() { selectTab(ui->Button_quality, 0); }
void ImageQuality::on_Button_temperature_clicked() { selectTab(ui->Button_temperature, 1); }

void ImageQuality::on_Button_back_clicked() {
    if (g_imagequality == this) g_imagequality = nullptr;
    output_ui::closeToSettings(this);
}

void ImageQuality::language_changed() {
    ui->label_title->setText(
        langText("图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"));
    ui->Button_quality->setText(langText("画质", "Quality", "Качество", "Chất lượng", "畫質"));
    ui->Button_temperature->setText(langText("色温", "Temperature", "Цветовая\nтемпература", "Độ màu", "色溫"));
    ui->label_name_bright->setText(langText("亮度", "Brightness", "Яркость", "Độ sáng", "亮度"));
    ui->label_name_sharp->setText(langText("锐度", "Sharpness", "Резкость", "Độ sắc nét", "銳度"));
    ui->label_name_contrast->setText(langText("对比度", "Contrast", "Контраст", "Độ tương phản", "對比度"));
    ui->label_name_saturation->setText(langText("饱和度", "Saturation", "Насыщенность", "Độ bão hòa", "飽和度"));
    ui->Button_reset->setText(langText("画质复位", "Reset", "Сбросить", "Đặt lại chất\nlượng hình ảnh", "畫質復位"));
    ui->label_type->setText(langText("色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu", "色溫類型"));
    ui->label_name_red->setText(langText("红色", "Red", "Красный", "Màu đỏ", "紅色"));
    ui->label_name_green->setText(langText("绿色", "Green", "Зеленый", "Màu xanh lá cây", "綠色"));
    ui->label_name_blue->setText(langText("蓝色", "Blue", "Синий", "Màu xanh da trời", "藍色"));
    combox_language_change();
}

void ImageQuality::combox_language_change() {
    // refilling passes through other indexes: none of them is a choice of the user
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    const bool was = ui->comboBox->blockSignals(true);
    const int keep = ram ? int(ram->snapshotU16(kColorTempMode) & 0xFF) : ui->comboBox->currentIndex();
    ui->comboBox->clear();
    ui->comboBox->addItem(langText("自定义", "custom", "Свой", "Tùy chỉnh", "自定義"));
    ui->comboBox->addItem(langText("偏暖", "warm", "Теплый", "Màu ấm", "偏暖"));
    ui->comboBox->addItem(langText("自然", "nature", "Природный", "Tự nhiên", "自然"));
    ui->comboBox->addItem(langText("偏冷", "cool", "Холодный", "Lạnh hơn", "偏冷"));
    ui->comboBox->setCurrentIndex(keep < kTypes ? keep : -1);
    ui->comboBox->blockSignals(was);
}
