#include "ui/shell/option.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>
#include <QPushButton>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "ui/input/imagelayout.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputcut.h"
#include "ui/output/imagequality.h"
#include "ui/output/linkoption.h"
#include "ui/output/outputset.h"
#include "ui/output/test_chart.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/screen_run.h"
#include "ui/shell/shell_globals.h"
#include "ui/system/advancedoption.h"
#include "ui/system/smartmapping.h"
#include "ui_option.h"

using panel_style::langText;

namespace {
constexpr const char* kNoLayoutCode = "No";
}  // namespace

Option::Option(QWidget* parent) : QDialog(parent), ui(new Ui::Option) {
    ui->setupUi(this);
    panel_style::prepareScreen(this, ui->Button_back);
    ui->label_title->setFont(panel_style::panelFont(26));
    for (QPushButton* tile : {ui->output_set, ui->input_cut, ui->image_layout, ui->link_set, ui->image_quality,
                              ui->AdvanceButton, ui->test_chart, ui->smart_mapping}) {
        panel_style::setLook(tile, QString::fromLatin1(panel_style::kTileStyle));
        tile->setFont(panel_style::panelFont(22));
    }
    if (g_numberkeyboard)
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
    language_changed();
}

Option::~Option() { delete ui; }

void Option::language_changed() {
    ui->label_title->setText(langText("系统设置", "Settings", "Настройки", "Cài đặt", "系統設置"));
    ui->output_set->setText(langText("输出设置", "Output", "Выход", "Đầu ra", "輸出設置"));
    ui->input_cut->setText(langText("输入裁剪", "Input crop", "Обрезка\nвхода", "Cắt đầu vào", "輸入裁剪"));
    ui->image_layout->setText(langText("画面布局", "Layout", "Раскладка", "Bố cục", "畫面佈局"));
    ui->link_set->setText(langText("网络设置", "Network", "Сеть", "Mạng", "網絡設置"));
    ui->image_quality->setText(langText("画质调节", "Picture", "Изображение", "Hình ảnh", "畫質調節"));
    ui->AdvanceButton->setText(langText("高级设置", "Advanced", "Дополни-\nтельно", "Nâng cao", "高級設置"));
    ui->test_chart->setText(langText("测试画面", "Test pattern", "Тестовый\nшаблон", "Mẫu thử", "測試畫面"));
    ui->smart_mapping->setText(
        langText("智能映射", "Smart\nmapping", "Умное\nотображение", "Ánh xạ\nthông minh", "智能映射"));
    ui->smart_mapping->setEnabled(true);
}

void Option::syncUpdate() {
    if (VlxRamPara::p_vlxrampara_config && VlxRamPara::VlxLanguageChanged()) language_changed();
}

void Option::on_Button_back_clicked() {
    // also reached from the idle return, possibly while a screen of this menu still runs
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_option == this) g_option = nullptr;
    if (g_mainwindow) g_mainwindow->language_changed();
    g_page_focus = 1;
}

void Option::openScreen(const char* name, int focus) {
    emit sig_open_screen(focus);
    writeLogMsg(LOG_WARNING, std::string("settings screen ") + name + " is not part of this build");
}

void Option::on_output_set_clicked() {
    emit sig_open_screen(6);
    screen_run::runScreen(g_outputset, 6, 5);
}
void Option::on_input_cut_clicked() {
    emit sig_open_screen(7);
    screen_run::runScreen(g_inputcut, 7, 5);
}
void Option::on_link_set_clicked() {
    emit sig_open_screen(10);
    screen_run::runScreen(g_linkoption, 10, 5);
}
void Option::on_image_quality_clicked() {
    emit sig_open_screen(11);
    screen_run::runScreen(g_imagequality, 11, 5);
}
void Option::on_AdvanceButton_clicked() {
    emit sig_open_screen(12);
    screen_run::runScreen(g_advancedoption, 12, 5);
}
void Option::on_test_chart_clicked() {
    emit sig_open_screen(16);
    screen_run::runScreen(g_test_chart, 16, 5);
}

void Option::on_smart_mapping_clicked() {
    if (!ui->smart_mapping->isEnabled()) return;
    emit sig_open_screen(24);
    screen_run::runScreen(g_smartmapping, 24, 5);
}

bool Option::layoutCodeRequired() {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    return !g_imagelayoutpassword.isEmpty() && g_imagelayoutpassword != QLatin1String(kNoLayoutCode);
}

void Option::on_image_layout_clicked() {
    if (!layoutCodeRequired()) {
        openImageLayout();
        return;
    }
    if (!g_numberkeyboard) return;
    // closed, or hidden by the idle return: the question is over, later results are other screens'
    g_numberkeyboard->ask(this, QStringLiteral("key"), QStringLiteral("**********"),
                          [this] { awaiting_code_ = true; }, [this] { awaiting_code_ = false; });
}

void Option::confirmString(QString value) {
    // Every keypad result arrives here; only the answer to this menu's own question is a code.
    if (!awaiting_code_) return;
    awaiting_code_ = false;
    QString code;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        code = g_imagelayoutpassword;
    }
    if (value != code) return;
    // The keypad is still in its modal run; the layout screen uses the keypad itself.
    QMetaObject::invokeMethod(this, [this] { openImageLayout(); }, Qt::QueuedConnection);
}

void Option::openImageLayout() {
    emit sig_open_screen(9);
    screen_run::runScreen(g_imagelayout, 9, 5);
}
