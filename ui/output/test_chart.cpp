#include "ui/output/test_chart.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "core/global.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "ui/output/screen_common.h"
#include "ui/shell/panel_style.h"
#include "ui_test_chart.h"

using panel_style::langText;

QPointer<test_chart> g_test_chart;

namespace {
constexpr const char* kMarked = "border:5px solid rgb(255,171,84);";
constexpr const char* kPlain = "border:1px solid rgb(255, 255, 255);";
constexpr int kFollowMs = 100;
constexpr int kFollowLimit = 50;  // 5 s: a manager that takes no change leaves the mark as tapped
}  // namespace

test_chart::test_chart(QWidget* parent) : QDialog(parent), ui(new Ui::test_chart) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    output_ui::setFontPx(ui->label_title, 24);
    for (QLabel* l : {ui->label_red, ui->label_green, ui->label_blue, ui->label_white, ui->label_black,
                      ui->label_colour, ui->label_hline, ui->label_wline})
        output_ui::setFontPx(l, 15);
    output_ui::setFontPx(ui->Button_closetest, 19);
    panel_style::setLook(ui->Button_closetest,
                         QStringLiteral("color: rgb(255, 255, 255);\nbackground-color: rgb(71, 119, 255);"));
    testimage_button_init();
    para_init();
    refused_ = panel_style::makeRefusedLabel(ui->frame, QRect(15, 330, 360, 60));
    follow_ = new QTimer(this);
    follow_->setObjectName(QStringLiteral("follow_scaler"));
    follow_->setInterval(kFollowMs);
    connect(follow_, &QTimer::timeout, this, &test_chart::followScaler);
    language_changed();
}

test_chart::~test_chart() { delete ui; }

void test_chart::testimage_button_init() {
    for (int i = 0; i < 8; ++i) {
        // over the picture, 25 pixels to its right as the panel was laid out
        QPushButton* b = panel_style::makeButton(ui->frame, QString::number(i),
                                                 QRect(40 + 140 * (i % 4), 20 + 160 * (i / 4), 100, 100),
                                                 QStringLiteral("background-color: transparent;border:0px;"));
        connect(b, &QPushButton::clicked, this, &test_chart::vlx_image_button_clicked);
    }
}

void test_chart::para_init() {
    QLabel* pictures[] = {ui->label_test1, ui->label_test2, ui->label_test3, ui->label_test4,
                          ui->label_test5, ui->label_test6, ui->label_test7, ui->label_test8};
    for (int i = 0; i < 8; ++i) panel_style::setPicture(pictures[i], QStringLiteral(":/png/img_test%1.png").arg(i + 1));
}

void test_chart::mark(uint8_t index, bool on) {
    QLabel* pictures[] = {ui->label_test1, ui->label_test2, ui->label_test3, ui->label_test4,
                          ui->label_test5, ui->label_test6, ui->label_test7, ui->label_test8};
    if (index < 8) pictures[index]->setStyleSheet(QString::fromLatin1(on ? kMarked : kPlain));
}

void test_chart::writePattern(uint8_t value) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    {
        ManageMutexLocker lock;
        c331_manage::update_flag = 1;
        ram->setRamByte(vlxram::kTestPattern, value);
    }
    asked_ = value;
    waited_ = 0;
    refused_->hide();
    follow_->start();
}

void test_chart::followScaler() {
    if (c331_manage::update_flag != 0 && ++waited_ < kFollowLimit) return;
    follow_->stop();
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return;
    uint8_t shown;
    {
        ManageMutexLocker lock;
        shown = ram->ramByte(vlxram::kTestPattern);
    }
    const uint8_t index = shown >= 1 && shown <= 8 ? uint8_t(shown - 1) : kNone;
    if (index != selected_) {
        mark(selected_, false);
        selected_ = index;
        mark(selected_, true);
    }
    refused_->setVisible(shown != asked_);
}

void test_chart::vlx_image_button_clicked() {
    QObject* from = sender();
    if (!from) return;
    bool ok = false;
    const int i = from->objectName().toInt(&ok);
    if (!ok || i < 0 || i > 7) return;
    if (i != selected_) {
        mark(selected_, false);
        selected_ = uint8_t(i);
        mark(selected_, true);
    }
    // also for the marked one: the pattern may have been turned off from elsewhere
    writePattern(uint8_t(i + 1));
}

void test_chart::on_Button_closetest_clicked() {
    mark(selected_, false);
    selected_ = kNone;
    writePattern(0);
}

void test_chart::on_Button_back_clicked() {
    if (g_test_chart == this) g_test_chart = nullptr;
    output_ui::closeToSettings(this);
}

void test_chart::language_changed() {
    ui->label_title->setText(langText("测试图", "Test pattern", "Тестовый\nобразец", "Biểu đồ\nkiểm tra", "測試圖"));
    QLabel* names[] = {ui->label_red,   ui->label_green,  ui->label_blue,  ui->label_white,
                       ui->label_black, ui->label_colour, ui->label_hline, ui->label_wline};
    const char* zh[] = {"红色", "绿色", "蓝色", "白色", "黑色", "色带", "横线", "竖线"};
    const char* en[] = {"Red", "Green", "Blue", "White", "Black", "Colour bar", "Horizontal line", "Vertical line"};
    const char* tw[] = {"紅色", "綠色", "藍色", "白色", "黑色", "色帶", "橫線", "豎線"};
    for (int i = 0; i < 8; ++i) {
        const QString ru = QStringLiteral("Тест %1").arg(i + 1);
        const QString vi = QStringLiteral("Kiểm tra %1").arg(i + 1);
        names[i]->setText(langText(zh[i], en[i], ru.toUtf8().constData(), vi.toUtf8().constData(), tw[i]));
    }
    ui->Button_closetest->setText(langText("关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"));
    refused_->setText(langText("已拒绝：仅单窗口时可显示测试图", "Refused: a test pattern needs a single window on",
                               "Отказ: тестовый образец только при одном окне",
                               "Từ chối: chỉ hiện khi bật một cửa sổ", "已拒絕：僅單窗口時可顯示測試圖"));
}
