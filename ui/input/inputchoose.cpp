#include "ui/input/inputchoose.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cstring>

#include "core/global.h"
#include "core/vlxrampara.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/input_common.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputcut.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/screen_run.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/tip.h"
#include "ui_inputchoose.h"

using namespace input_common;
using panel_style::langText;

namespace {
constexpr const char* kMenuStyle = "background-color: rgb(95, 100, 129); color: rgb(255, 255, 255);";
constexpr const char* kTypeMarkerStyle = "#frame1{border:1px solid rgb(71, 119, 255);border-bottom:0px;}";
constexpr const char* kTileInUse = "#source_frame{border:1px solid #00D65B;border-radius:5px;}";
constexpr const char* kTileFree = "#source_frame{border:1px solid #CCCCCC;border-radius:5px;}";
// the badge's font is set on the widget: fitToText may make it smaller for a long word
constexpr const char* kBadgeStyle = "background-color: #00D65B;color: rgb(255, 255, 255);border-radius:5px;";
const QRect kBadgeRect(164, 0, 56, 30);
constexpr int kStripNamePixels = 16;
constexpr int kBadgeMinX = 96;  // right of the input's picture (29, 5, 63 x 24)

// signal icons by port 0..5: without / with signal
const char* const kIconOff[] = {":/png/HDMI.png", ":/png/DVI.png", ":/png/HDMI13.png",
                                ":/png/HDMI13.png", ":/png/HDMI20.png", ":/png/HDMI20.png"};
const char* const kIconOn[] = {":/png/extlv.png", ":/png/dvilv.png", ":/png/HDMI13_lv.png",
                               ":/png/HDMI13_lv.png", ":/png/HDMI20_lv.png", ":/png/HDMI20_lv.png"};

bool sameTiming(const screen_text::Timing& a, const screen_text::Timing& b) {
    return a.width == b.width && a.height == b.height && a.rate == b.rate;
}
}  // namespace

InputChoose::InputChoose(QWidget* parent) : QDialog(parent), ui(new Ui::InputChoose) {
    ui->setupUi(this);
    pointsToPixels(this);
    panel_style::prepareScreen(this, ui->Button_back);

    QFont menuFont = font();
    menuFont.setPixelSize(12);
    menu_inputcut_ = panel_style::makeButton(this, QStringLiteral("button_inputcut"), QRect(),
                                             QString::fromLatin1(kMenuStyle), QStringLiteral("输入截取"));
    menu_edid_ = panel_style::makeButton(this, QStringLiteral("button_edid"), QRect(), QString::fromLatin1(kMenuStyle),
                                         QStringLiteral("设置EDID"));
    for (QPushButton* b : {menu_inputcut_, menu_edid_}) {
        b->setFlat(false);
        b->setFont(menuFont);
        b->hide();
    }
    connect(menu_inputcut_, &QPushButton::clicked, this, &InputChoose::vlx_button_inputcut_clicked);
    connect(menu_edid_, &QPushButton::clicked, this, &InputChoose::vlx_button_EDID_clicked);

    for (QPushButton* b : {ui->Button_HDMI1, ui->Button_HDMI2, ui->Button_HDMI3, ui->Button_HDMI4, ui->Button_DVI,
                           ui->Button_EXT}) {
        b->setFlat(true);
        panel_style::setLook(b, clearLook());
    }
    ui->frame1->setStyleSheet(QString::fromLatin1(kTypeMarkerStyle));

    VlxRamPara::VlxCropSourceInit();
    crop_source_num_update();
    ui->label_12->hide();
    ui->label_15->hide();

    initMenu();
    image_select();
    language_changed();
    lcd_touch::registerScreen(IdleScreen::InputChoose, [] { return static_cast<QObject*>(g_inputchoose.data()); });
}

InputChoose::~InputChoose() { delete ui; }

// ---------------------------------------------------------------- window strip

void InputChoose::initMenu() {
    delete strip_;
    for (auto& label : window_name_) label = nullptr;
    strip_ = panel_style::makeFrame(this, QStringLiteral("frame_strip"), QRect(0, 64, 800, 96),
                                    QStringLiteral("QFrame#frame_strip{border:0px;}"));
    marker_ = panel_style::makeFrame(strip_, QStringLiteral("frame_marker"), QRect(),
                                     QStringLiteral("border:2px solid rgb(255,171,84);"));
    int j = 0;
    for (int w = 0; w < vlxram::kWindows; ++w) {
        // window 0 is always shown; the others while they are on
        if (w != 0 && (ramWord(vlxram::windowField(w, vlxram::kWinState)) & 0xFF) != 1) continue;
        QLabel* tile = panel_style::makeLabel(strip_, QStringLiteral("tile%1").arg(w), QRect(130 * j + 20, 3, 120, 90),
                                              QString::number(w + 1));
        tile->setAlignment(Qt::AlignCenter);
        tile->setStyleSheet(windowTileStyle(w));
        QLabel* name = panel_style::makeLabel(tile, QStringLiteral("label_name"), QRect(0, 3, 100, 28), TextCreate(w));
        name->setStyleSheet(windowNameStyle(w));
        name->setFont(panel_style::panelFont(kStripNamePixels));
        panel_style::fitFont(name, name->width(), 2);
        panel_style::makeInUseDot(tile, 101, 8);
        QPushButton* button = panel_style::makeButton(strip_, QString::number(w), QRect(130 * j + 17, 0, 126, 96),
                                                      clearLook());
        connect(button, &QPushButton::clicked, this, &InputChoose::vlx_image_button_clicked);
        if (w == current_window_) marker_->setGeometry(button->geometry());
        window_name_[w] = name;
        ++j;
    }
    strip_->show();
}

QString InputChoose::TextCreate(int window) const {
    return sourceName(VlxRamPara::liveImageSource(uint8_t(window), nullptr, nullptr));
}

int InputChoose::windowCropNumber(int window, int* type) const {
    short isCrop = 0;
    char index = 0;
    const int t = VlxRamPara::liveImageSource(uint8_t(window), &isCrop, &index);
    if (type) *type = t;
    return isCrop ? cropNumberOfEntry(uint8_t(index)) : 0;
}

void InputChoose::input_source_changed(int window) {
    // a window the strip does not list has no label; the next strip rebuild names it
    if (window < 0 || window >= vlxram::kWindows || !window_name_[window]) return;
    int type = 0;
    const int number = windowCropNumber(window, &type);
    QString text = sourceName(type);
    // named by the crop's own number, as its tile is
    if (number) text += QStringLiteral("_Crop%1").arg(number);
    QLabel* name = window_name_[window];
    // "HDMI4_Crop40" is wider than the room left of the green dot at the strip's 16 px
    name->setStyleSheet(windowNameStyle(window));
    name->setFont(panel_style::panelFont(kStripNamePixels));
    name->setText(text);
    panel_style::fitFont(name, name->width(), 2);
}

void InputChoose::window_names_update() {
    for (int w = 0; w < vlxram::kWindows; ++w) input_source_changed(w);
}

void InputChoose::vlx_image_button_clicked() {
    auto* button = qobject_cast<QPushButton*>(sender());
    if (!button) return;
    const int w = button->objectName().toInt();
    if (w < 0 || w >= vlxram::kWindows) return;
    current_window_ = uint8_t(w);
    image_select();
    if (marker_) marker_->setGeometry(button->x(), 0, 126, 96);
}

void InputChoose::image_select() {
    const int type = VlxRamPara::liveImageSource(current_window_, nullptr, nullptr);
    if (type >= 0 && type < kTypes) chooseType(type);
}

// ---------------------------------------------------------------- type buttons

void InputChoose::chooseType(int type) {
    current_page_ = 0;
    current_type_ = uint8_t(type);
    type_name_ = sourceName(type);
    initSource();
    ui->frame1->setGeometry(20 + 130 * columnOfType(type), 173, 120, 85);
}

void InputChoose::on_Button_HDMI1_clicked() { chooseType(2); }
void InputChoose::on_Button_HDMI2_clicked() { chooseType(3); }
void InputChoose::on_Button_HDMI3_clicked() { chooseType(4); }
void InputChoose::on_Button_HDMI4_clicked() { chooseType(5); }
void InputChoose::on_Button_DVI_clicked() { chooseType(1); }
void InputChoose::on_Button_EXT_clicked() { chooseType(0); }

// ---------------------------------------------------------------- tile area

void InputChoose::initSource() {
    const int total = VlxRamPara::VlxGetSourceNum(current_type_, vlxram::kCropEntries) + 1;
    last_page_ = uint8_t(total / kTilesPerPage - (total % kTilesPerPage == 0 ? 1 : 0));
    const int remaining = total - kTilesPerPage * current_page_;
    const int tiles = remaining >= kTilesPerPage ? kTilesPerPage : std::max(0, remaining);

    int windowType = -1;
    const int windowCrop = windowCropNumber(current_window_, &windowType);

    delete tile_area_;
    tile_area_ = panel_style::makeFrame(this, QStringLiteral("frame"), QRect(20, 257, 770, 215),
                                        QStringLiteral("#frame{border:1px solid rgb(71, 119, 255);}"));
    tile_area_->lower();
    tile_timing_ = screen_text::inputTiming(current_type_);
    for (int t = 0; t < tiles; ++t) {
        const int n = kTilesPerPage * current_page_ + t;
        QFrame* frame = panel_style::makeFrame(tile_area_, QStringLiteral("source_frame"),
                                               QRect(10 + 235 * (t % 3), 15 + 100 * (t / 3), 220, 90));
        auto* state = new QLabel(frame);
        state->setObjectName(QStringLiteral("label_state"));
        state->setGeometry(10, 10, 14, 14);
        auto* icon = new QLabel(frame);
        icon->setObjectName(QStringLiteral("label_icon"));
        icon->setGeometry(29, 5, 63, 24);
        panel_style::setPicture(icon, current_type_ == 1 ? QStringLiteral(":/png/DVI.png")
                                                         : QStringLiteral(":/png/HDMI.png"));
        QLabel* name = panel_style::makeLabel(frame, QStringLiteral("label_name"), QRect(10, 29, 172, 24));
        name->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255)"));
        name->setFont(panel_style::panelFont(20));
        QLabel* info = panel_style::makeLabel(frame, QStringLiteral("label_info"), QRect(10, 57, 205, 24));
        info->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 20px"));
        info->setFont(panel_style::panelFont(20));
        bool inUse = false;
        if (n == 0) {
            name->setText(type_name_);
            info->setText(tile_timing_.present() ? screen_text::timingText(tile_timing_) : noSignalText());
            inUse = windowCrop == 0;
        } else {
            cropTileTexts(name, info, current_type_, n, type_name_, 172);
            // the window's crop is found by its own number, not by its place in the table
            inUse = windowCrop != 0 && VlxRamPara::VlxGetCropID(current_type_, n) == windowCrop;
        }
        inUse = inUse && windowType == current_type_;
        frame->setStyleSheet(QString::fromLatin1(inUse ? kTileInUse : kTileFree));
        panel_style::setPicture(state, inUse ? QStringLiteral(":/png/state_on.png")
                                             : QStringLiteral(":/png/state_off.png"));
        if (inUse) {
            QLabel* badge = panel_style::makeLabel(frame, QStringLiteral("label_using"), kBadgeRect, usingText());
            badge->setAlignment(Qt::AlignCenter);
            badge->setStyleSheet(QString::fromLatin1(kBadgeStyle));
            badge->setFont(panel_style::panelFont(18));
            fitToText(badge, kBadgeRect, kBadgeMinX);
        }
        QPushButton* button =
            panel_style::makeButton(frame, QString::number(t), QRect(1, 1, 218, 88), clearLook());
        connect(button, &QPushButton::clicked, this, &InputChoose::vlx_source_button_clicked);
    }
    QPushButton* menu = panel_style::makeButton(tile_area_, QStringLiteral("button_menu"), QRect(715, 10, 50, 50),
                                                clearLook());
    panel_style::setIcon(menu, QStringLiteral(":/png/menu.png"), QSize(50, 50));
    connect(menu, &QPushButton::clicked, this, &InputChoose::vlx_Button_menu_clicked);
    const PageButtons pages = makePageButtons(tile_area_, current_page_, last_page_, 95, 155);
    if (pages.previous)
        connect(pages.previous, &QPushButton::clicked, this, &InputChoose::vlx_Button_previous_clicked);
    if (pages.next) connect(pages.next, &QPushButton::clicked, this, &InputChoose::vlx_Button_next_clicked);
    tile_area_->show();
    menu_inputcut_->hide();
    menu_edid_->hide();
}

void InputChoose::vlx_Button_previous_clicked() {
    if (current_page_ == 0) return;
    --current_page_;
    initSource();
}

void InputChoose::vlx_Button_next_clicked() {
    ++current_page_;
    initSource();
}

void InputChoose::vlx_source_button_clicked() {
    const QObject* button = sender();
    if (!button) return;
    const int t = button->objectName().toInt();
    VlxRamPara::VlxSetImageSource(t + kTilesPerPage * current_page_, char(current_type_), char(current_window_));
    initSource();
    input_source_changed(current_window_);
    if (g_tip) g_tip->tip_create(TIP::kClear);
}

void InputChoose::vlx_Button_menu_clicked() {
    if (menu_inputcut_->isHidden()) {
        menu_inputcut_->show();
        menu_edid_->show();
        menu_inputcut_->raise();
        menu_edid_->raise();
    } else {
        menu_inputcut_->hide();
        menu_edid_->hide();
    }
}

// Both run over this screen; their back buttons refresh it before their runs end.
void InputChoose::vlx_button_inputcut_clicked() { screen_run::runScreen(g_inputcut, 7, 3); }
void InputChoose::vlx_button_EDID_clicked() { screen_run::runScreen(g_edidset, 8, 3); }

// ---------------------------------------------------------------- type labels

void InputChoose::crop_source_num_update() {
    QLabel* counts[] = {ui->label_EXT_num, ui->label_DVI_num, ui->label_HDMI1_num,
                        ui->label_HDMI2_num, ui->label_HDMI3_num, ui->label_HDMI4_num};
    for (int type = 0; type < kTypes; ++type)
        counts[type]->setText(QStringLiteral("(%1)").arg(VlxRamPara::VlxGetSourceNum(type, vlxram::kCropEntries) + 1));
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update() {
    QLabel* names[] = {ui->label_EXT_text, ui->label_DVI_text, ui->label_HDMI1_text,
                       ui->label_HDMI2_text, ui->label_HDMI3_text, ui->label_HDMI4_text};
    for (int type = 0; type < kTypes; ++type) names[type]->setText(screen_text::inputName(type, names[type], 66));
}

void InputChoose::source_check_update() {
    QLabel* icons[] = {ui->label_EXT, ui->label_DVI, ui->label_HDMI1, ui->label_HDMI2, ui->label_HDMI3, ui->label_HDMI4};
    for (int port = 0; port < kTypes; ++port) {
        icon_timing_[port] = screen_text::inputTiming(port);
        panel_style::setPicture(icons[port], QString::fromLatin1(icon_timing_[port].present() ? kIconOn[port]
                                                                                             : kIconOff[port]));
    }
}

// ---------------------------------------------------------------- refresh

void InputChoose::syncUpdate(int code) {
    if (VlxRamPara::VlxLanguageChanged()) language_changed();
    bool stripChanged = false;
    bool windowRefresh = false;
    for (int w = 0; w < vlxram::kWindows; ++w) {
        const unsigned source = vlxram::windowField(w, vlxram::kWinSource);
        if (ramWord(source) != shadowWord(source)) {
            input_source_changed(w);
            if (w == current_window_) windowRefresh = true;
        }
        const unsigned state = vlxram::windowField(w, vlxram::kWinState);
        if (ramWord(state) != shadowWord(state)) stripChanged = true;
    }
    bool signalsChanged = false;
    for (int port = 0; port < kTypes; ++port)
        if (!sameTiming(screen_text::inputTiming(port), icon_timing_[port])) signalsChanged = true;
    const bool tileRefresh = !windowRefresh && !sameTiming(screen_text::inputTiming(current_type_), tile_timing_);

    if (stripChanged) {
        if (ramWord(vlxram::windowField(current_window_, vlxram::kWinState)) & 0xFF) {
            initMenu();
            if (windowRefresh)
                image_select();
            else if (tileRefresh)
                initSource();
        } else {
            current_window_ = 0;
            image_select();
            initMenu();
        }
    } else if (windowRefresh) {
        image_select();
    } else if (tileRefresh) {
        initSource();
    }

    const unsigned cropBytes = vlxram::kCropEntrySize * vlxram::kCropEntries;
    const VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    unsigned char crops[cropBytes];
    p->snapshot(vlxram::kCropTable, cropBytes, crops);
    if (code == 103 ||
        p->shadowDiffers(vlxram::kCropTable, cropBytes, crops)) {
        VlxRamPara::VlxCropSourceInit();
        initSource();
        crop_source_num_update();
        return;
    }
    if (signalsChanged) source_check_update();
}

void InputChoose::language_changed() {
    ui->label_title->setText(
        langText("信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"));
    menu_inputcut_->setText(langText("输入截取", "Input intercept", "Обрезка входа", "Chặn nguồn vào", "輸入截取"));
    menu_edid_->setText(langText("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"));
    int left = 620;
    switch (g_language.load()) {
    case 0:
    case 4: left = 680; break;
    case 2:
    case 3: left = 640; break;
    default: break;
    }
    // right-aligned at x 779; a text longer than the room takes more of it to the left
    for (QPushButton* b : {menu_inputcut_, menu_edid_}) {
        const int need = QFontMetrics(b->font()).horizontalAdvance(b->text()) + 20;
        left = std::min(left, 779 - need);
    }
    menu_inputcut_->setGeometry(left, 310, 779 - left, 60);
    menu_edid_->setGeometry(left, 370, 779 - left, 60);
}

// ---------------------------------------------------------------- back

void InputChoose::on_Button_back_clicked() {
    if (closing_) return;
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputchoose == this) g_inputchoose = nullptr;
    if (g_imagelayout) {
        g_imagelayout->language_changed();
        g_imagelayout->image_para_update();
        g_imagelayout->image_init();
        g_page_focus = 9;
    } else {
        if (g_mainwindow) g_mainwindow->language_changed();
        g_page_focus = 1;
    }
}
