#include "ui/input/custommode.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

#include "core/alias.h"
#include "core/global.h"
#include "core/omenu.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "ui/input/input_common.h"
#include "ui/input/input_screens.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"
#include "ui_custommode.h"

QFrame* g_frame[16] = {};
QPushButton* g_button_focus = nullptr;

using namespace input_common;
using panel_style::langText;

namespace {
constexpr const char* kEntryCurrent = "background-color: #212435;border:1px solid #00D65B;border-radius:5px;";
constexpr const char* kEntryPlain = "background-color: #212435;border:1px solid #FFFFFF;border-radius:5px;";
constexpr const char* kEntrySelected = "background-color: #212435;border:2px solid #00D65B;border-radius:5px;";
constexpr const char* kActionPlain =
    "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr const char* kActionHighlight =
    "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr const char* kRowStyle = "background-color: #10101C;color: #FFFFFF;";
constexpr int kEntryNameWidth = 120;
constexpr int kHeaderNameWidth = 171;

// A PC may write the slot meanwhile: each word is read whole under the slots' lock.
uint16_t slotWord(int slot, unsigned ramAddress) { return VlxRamPara::p_vlxrampara_config->slotWord(slot, ramAddress); }

QString defaultEntryName(int slot) {
    return langText("用户模式%1", "MODE %1", "Слот %1", "Chế độ %1", "用戶模式%1").arg(slot + 1);
}

// A colour text of the menu file as a style-sheet colour: the "0x" its writer puts first is
// dropped, a bare hex text is taken as it is.
QString cssColour(const std::string& text) {
    QString c = QString::fromStdString(text).trimmed();
    if (c.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) c = c.mid(2);
    if (c.startsWith(QLatin1Char('#'))) c = c.mid(1);
    return c;
}

// Effect names as the scaler's menu applier reads the code: 1 to 4 scroll up, down, left, right.
QString effectText(int effect) {
    switch (effect) {
    case 1: return langText("特技:上移", "effect:move up", "effect:move up", "effect:move up", "特技:上移");
    case 2: return langText("特技:下移", "effect:move down", "effect:move down", "effect:move down", "特技:下移");
    case 3: return langText("特技:左移", "effect:move left", "effect:move left", "effect:move left", "特技:左移");
    case 4: return langText("特技:右移", "effect:move right", "effect:move right", "effect:move right", "特技:右移");
    default: return langText("特技:静止", "effect:static", "effect:static", "effect:static", "特技:靜止");
    }
}
}  // namespace

CustomMode::CustomMode(QWidget* parent) : QDialog(parent), ui(new Ui::CustomMode) {
    ui->setupUi(this);
    pointsToPixels(this);
    panel_style::prepareScreen(this, ui->Button_back);
    ui->frame->raise();
    ui->Button_back->raise();
    ui->label_title->raise();
    ui->label_blank->hide();
    // the header lines take the panel's text size, not the dialog's 30
    for (QLabel* l : {ui->label_ID, ui->label_name, ui->label_LED, ui->label_brightness})
        l->setFont(panel_style::panelFont(14));
    list_font_ = font();
    list_font_.setPixelSize(10);
    const int current = VlxRamPara::VlxGetCurrentModeIndex();
    g_mode_select = uint8_t(current ? current - 1 : 0);
    init();
    lcd_para_init();
    image_para_init();
    ui->label_ID->setText(QStringLiteral("ID:%1").arg(g_mode_select + 1));
    panel_style::setLook(ui->Button_delete, QString::fromLatin1(kActionPlain));
    g_button_focus = ui->Button_use;
    panel_style::setLook(ui->Button_use, QString::fromLatin1(kActionHighlight));
    language_changed();
    lcd_touch::registerScreen(IdleScreen::CustomMode, [] { return static_cast<QObject*>(g_custommode.data()); });
}

CustomMode::~CustomMode() {
    // the list frames die with the screen
    for (auto& f : g_frame) f = nullptr;
    if (g_button_focus == ui->Button_use || g_button_focus == ui->Button_delete) g_button_focus = nullptr;
    delete ui;
}

// ---------------------------------------------------------------- list

void CustomMode::init() {
    delete mode_scroll_area_;
    mode_scroll_area_ = new QScrollArea(this);
    mode_scroll_area_->setObjectName(QStringLiteral("mode_scroll_area"));
    mode_scroll_area_->setGeometry(2, 66, 190, 414);
    mode_scroll_area_->setWidgetResizable(true);
    mode_scroll_area_->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical{width:32px;background:#10101C;padding-top:0px;padding-bottom:0px;}"
        "QScrollBar::handle:vertical{width:32px;background-color:#D5D5D5;border-radius:14px;}"
        "QScrollBar::add-page:vertical {background:#10101C;}QScrollBar::sub-page:vertical {background:#10101C;}"));
    mode_list_widget_ = new QWidget;
    mode_list_widget_->setObjectName(QStringLiteral("mode_list_widget"));
    mode_list_widget_->resize(157, 1440);
    mode_list_widget_->setMinimumSize(100, 1440);
    mode_scroll_area_->setWidget(mode_list_widget_);

    const int current = VlxRamPara::VlxGetCurrentModeIndex();
    using_mark_ = new QLabel(mode_list_widget_);
    using_mark_->setObjectName(QStringLiteral("using_mark"));
    using_mark_->setGeometry(0, 0, 0, 0);
    for (int i = 0; i < vlxram::kModeSlots; ++i) {
        const int y = 2 + 90 * i;
        g_frame[i] = panel_style::makeFrame(mode_list_widget_, QStringLiteral("entry%1").arg(i), QRect(2, y, 150, 80),
                                            QString::fromLatin1(current == i + 1 ? kEntryCurrent : kEntryPlain));
        QLabel* number = panel_style::makeLabel(mode_list_widget_, QStringLiteral("number%1").arg(i),
                                                QRect(3, y + 1, 24, 24), QString::number(i + 1));
        number->setAlignment(Qt::AlignCenter);
        number->setStyleSheet(QStringLiteral("background-color: #4777FF; color: #FFFFFF;border-radius:5px;"));
        QLabel* name = panel_style::makeLabel(mode_list_widget_, QStringLiteral("name%1").arg(i),
                                              QRect(27, y + 27, kEntryNameWidth, 32), QString(), 16);
        name->setAlignment(Qt::AlignCenter);
        name->setStyleSheet(QStringLiteral("background-color: #212435;color: #FFFFFF"));
        ALIAS_PARA alias;
        if (get_json_alias_para(&alias, "usermode", i) == 1) {
            panel_style::markElides(name);
            name->setText(QFontMetrics(name->font())
                              .elidedText(QString::fromStdString(alias.name), Qt::ElideRight, kEntryNameWidth,
                                          Qt::TextShowMnemonic));
        } else {
            name->setText(defaultEntryName(i));
        }
        QPushButton* b = panel_style::makeButton(mode_list_widget_, QString::number(i), QRect(3, y + 1, 148, 78),
                                                 input_common::clearLook());
        connect(b, &QPushButton::clicked, this, &CustomMode::vlx_button_mode_clicked);
        if (current == i + 1) {
            using_mark_->setText(usingText());
            using_mark_->setStyleSheet(QStringLiteral(
                "background-color: #00D65B;color: rgb(255, 255, 255);border-radius:5px;"));
            using_mark_->setFont(panel_style::panelFont(18));
            using_mark_->setAlignment(Qt::AlignCenter);
            // grows to the left up to the slot number, never over it
            fitToText(using_mark_, QRect(96, y, 56, 30), number->geometry().right() + 2);
            using_mark_->raise();
        }
    }
    mode_scroll_area_->show();
}

void CustomMode::vlx_button_mode_clicked() {
    const QObject* b = sender();
    if (!b) return;
    const int slot = b->objectName().toInt();
    if (slot < 0 || slot >= vlxram::kModeSlots) return;
    if (g_frame[g_mode_select % vlxram::kModeSlots])
        g_frame[g_mode_select % vlxram::kModeSlots]->setStyleSheet(QString::fromLatin1(kEntryPlain));
    g_mode_select = uint8_t(slot);
    ui->label_ID->setText(QStringLiteral("ID:%1").arg(slot + 1));
    if (g_frame[slot]) g_frame[slot]->setStyleSheet(QString::fromLatin1(kEntrySelected));
    lcd_para_init();
    image_para_init();
}

// ---------------------------------------------------------------- details

void CustomMode::lcd_para_init() {
    const int m = g_mode_select % vlxram::kModeSlots;
    ALIAS_PARA alias;
    const QString prefix = langText("名称:", "Name:", "Название:", "Tên:", "名稱:");
    if (get_json_alias_para(&alias, "usermode", m) == 1) {
        panel_style::markElides(ui->label_name);
        const int room = kHeaderNameWidth - QFontMetrics(ui->label_name->font()).horizontalAdvance(prefix);
        ui->label_name->setText(prefix + QFontMetrics(ui->label_name->font())
                                             .elidedText(QString::fromStdString(alias.name), Qt::ElideRight, room,
                                                         Qt::TextShowMnemonic));
    } else {
        ui->label_name->setText(prefix + langText("用户模式%1", "Mode%1", "Слот%1", "Chế độ%1", "用戶模式%1").arg(m + 1));
    }
    ui->label_LED->setText(langText("LED参数:%1x%2", "LED size:%1x%2", "Размер LED:%1x%2", "Kích thước LED:%1x%2",
                                    "LED參數:%1x%2")
                               .arg(int16_t(slotWord(m, vlxram::kLedWidth)))
                               .arg(int16_t(slotWord(m, vlxram::kLedHeight))));
    int audio = slotWord(m, vlxram::kAudioWindow) & 0xFF;
    if (audio > 5) audio = 0;
    const bool soundOn = slotWord(m, vlxram::windowField(audio, vlxram::kWinSound)) & 0x8000;
    const QString line = soundOn ? langText("亮度:%1 对比度:%2 音量:开启", "Bri:%1 CTRST:%2 Volume:ON",
                                            "Яркость:%1 Контраст:%2 Громкость:Вкл",
                                            "Độ sáng:%1 Tương phản:%2 Âm:Mở", "亮度:%1 對比度:%2 音量:開啟")
                                 : langText("亮度:%1 对比度:%2 音量:关闭", "Bri:%1 CTRST:%2 Volume:OFF",
                                            "Яркость:%1 Контраст:%2 Громкость:Откл",
                                            "Độ sáng:%1 Tương phản:%2 Âm:đóng", "亮度:%1 對比度:%2 音量:關閉");
    ui->label_brightness->setText(line.arg(int16_t(slotWord(m, vlxram::kBrightness)))
                                      .arg(int16_t(slotWord(m, vlxram::kContrast))));
}

void CustomMode::image_para_init() {
    delete detail_widget_;
    detail_widget_ = nullptr;
    const int m = g_mode_select % vlxram::kModeSlots;
    // the badge tells the mode in use, so only on the details of that mode, never of an empty slot
    ui->label_using->setVisible(m + 1 == VlxRamPara::VlxGetCurrentModeIndex() && VlxRamPara::VlxUserModeSaved(m));
    if (!VlxRamPara::VlxUserModeSaved(m)) {
        ui->label_LED->hide();
        ui->label_brightness->hide();
        ui->label_blank->show();
        return;
    }
    ui->label_LED->show();
    ui->label_brightness->show();
    ui->label_blank->hide();
    detail_widget_ = new QWidget(ui->frame);
    detail_widget_->setObjectName(QStringLiteral("detail_widget"));
    detail_widget_->setGeometry(2, 120, 587, 244);
    detail_widget_->setMinimumSize(100, 244);
    unsigned char slot[vlxram::kModeSlotSize];
    VlxRamPara::p_vlxrampara_config->readSlot(m, 0, vlxram::kModeSlotSize, slot);
    unsigned char* image = slot + vlxram::kRamFileMarkerSize;
    for (int w = 0; w < vlxram::kWindows; ++w) {
        const int k = w % 3;
        const int x = w < 3 ? 10 : 300;
        const int textX = w < 3 ? 65 : 355;
        QLabel* number = new QLabel(QString::number(w + 1), detail_widget_);
        number->setObjectName(QStringLiteral("window%1").arg(w));
        number->setGeometry(x, 6 + 48 * k, 45, 45);
        number->setAlignment(Qt::AlignCenter);
        number->setFont(list_font_);
        color_fill(number, char(w));
        short isCrop = 0;
        char index = 0;
        const int source = VlxRamPara::VlxGetImageSource(image, uint8_t(w), &isCrop, &index, 1);
        QString text = sourceName(source);
        if (isCrop) text += QStringLiteral("_Crop%1").arg(uint8_t(index) + 1);
        const bool on = slotWord(m, vlxram::windowField(w, vlxram::kWinState)) != 0;
        text += QLatin1Char(' ') + (on ? langText("开启", "ON", "Вкл", "Mở", "開啟")
                                       : langText("关闭", "OFF", "Откл", "Đóng", "關閉"));
        QLabel* name = new QLabel(text, detail_widget_);
        name->setObjectName(QStringLiteral("window_name%1").arg(w));
        name->setGeometry(textX, 6 + 45 * k, 200, 20);
        QLabel* rect = new QLabel(QStringLiteral("[%1,%2]%3x%4")
                                      .arg(slotWord(m, vlxram::windowField(w, vlxram::kWinX)))
                                      .arg(slotWord(m, vlxram::windowField(w, vlxram::kWinY)))
                                      .arg(slotWord(m, vlxram::windowField(w, vlxram::kWinWidth)))
                                      .arg(slotWord(m, vlxram::windowField(w, vlxram::kWinHeight))),
                                  detail_widget_);
        rect->setObjectName(QStringLiteral("window_rect%1").arg(w));
        rect->setGeometry(textX, 30 + 45 * k, 200, 20);
        for (QLabel* l : {name, rect}) {
            l->setFont(list_font_);
            l->setStyleSheet(QString::fromLatin1(kRowStyle));
        }
    }
    if (slotWord(m, vlxram::kOsdEnable) != 0) {
        const QString path = QStringLiteral("/data/modes/MO%1.json").arg(m + 1, 2, 16, QLatin1Char('0'));
        OSD_LIST list;  // value-initialised: a missing or broken file leaves empty fields, not garbage
        get_json_omenu_para(path.toStdString().c_str(), &list);
        const OMENU_PARA& r = list[0];
        QLabel* preview = new QLabel(detail_widget_);
        preview->setObjectName(QStringLiteral("subtitle_preview"));
        preview->setGeometry(10, 150, 570, 56);
        QFont small = preview->font();
        small.setPixelSize(12);
        preview->setFont(small);
        preview->setStyleSheet(QStringLiteral("background-color:#%1;color:#%2;")
                                   .arg(cssColour(r.back_color), cssColour(r.font_color)));
        QStringList lines = QString::fromStdString(r.text).split(QLatin1Char('\n'));
        if (lines.size() > 3) lines = lines.mid(0, 3);
        preview->setText(lines.join(QLatin1Char('\n')));
        QLabel* settings = new QLabel(detail_widget_);
        settings->setObjectName(QStringLiteral("subtitle_settings"));
        settings->setGeometry(10, 207, 570, 40);
        settings->setFont(small);
        settings->setStyleSheet(QString::fromLatin1(kRowStyle));
        settings->setText(QStringLiteral("osd [x:%1,y:%2,w:%3,h:%4] ").arg(r.x).arg(r.y).arg(r.w).arg(r.h) +
                          langText("字体大小:", "font size:", "font size:", "font size:", "字體大小:") +
                          QStringLiteral("%1*%2\n").arg(r.fontw).arg(r.fonth) +
                          langText("字-行间距 [h:", "space [h:", "space [h:", "space [h:", "字-行間距 [h:") +
                          QStringLiteral("%1,v:%2] ").arg(r.wordspace).arg(r.verticalspace) +
                          langText("字幕坐标[x:", "char[x:", "char[x:", "char[x:", "字幕坐標[x:") +
                          QStringLiteral("%1,y:%2] ").arg(r.startx).arg(r.starty) +
                          langText("速度:", "speed:", "speed:", "speed:", "速度:") + QString::number(r.speed) +
                          QLatin1Char(',') + effectText(r.effect));
    }
    detail_widget_->show();
}

void CustomMode::color_fill(QLabel* label, char index) {
    static const char* const kColours[] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};
    const int i = uint8_t(index);
    label->setStyleSheet(QStringLiteral("background-color: %1;").arg(QLatin1String(i < 6 ? kColours[i] : "#CCCCCC")));
}

// ---------------------------------------------------------------- actions

void CustomMode::moveHighlight(QPushButton* to) {
    if (g_button_focus) panel_style::setLook(g_button_focus, QString::fromLatin1(kActionPlain));
    g_button_focus = to;
    panel_style::setLook(to, QString::fromLatin1(kActionHighlight));
}

void CustomMode::on_Button_use_clicked() {
    moveHighlight(ui->Button_use);
    const int m = g_mode_select % vlxram::kModeSlots;
    VlxRamPara::recallMode(m);
}

void CustomMode::on_Button_delete_clicked() {
    moveHighlight(ui->Button_delete);
    const int m = g_mode_select % vlxram::kModeSlots;
    if (!VlxRamPara::VlxUserModeSaved(m)) return;
    VlxRamPara::mode_file_deal(m, 1);
    lcd_para_init();
    image_para_init();
}

// ---------------------------------------------------------------- refresh and back

void CustomMode::syncUpdate() {
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    if (ramWord(vlxram::kCurrentMode) != shadowWord(vlxram::kCurrentMode)) {
        init();
        lcd_para_init();
        image_para_init();
    }
}

void CustomMode::language_changed() {
    ui->label_title->setText(langText("用户模式", "User mode", "Слот", "Chế độ người dùng", "用戶模式"));
    ui->Button_delete->setText(deleteText());
    ui->Button_use->setText(langText("调用", "Invoke", "Вызвать", "Dùng", "調用"));
    ui->label_using->setText(usingText());
    ui->label_blank->setText(langText("未保存用户模式数据", "No user mode saved", "Слот не сохранён",
                                      "Chưa lưu chế độ người dùng", "未保存用戶模式資料"));
    // a longer word than the Chinese one widens the badge to the right, over the free header
    const int need = QFontMetrics(ui->label_using->font()).horizontalAdvance(ui->label_using->text()) + 16;
    ui->label_using->setGeometry(225, 10, std::max(88, need), 28);
}

void CustomMode::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_mainwindow) g_mainwindow->language_changed();
    if (g_custommode == this) g_custommode = nullptr;
    g_page_focus = 1;
}
