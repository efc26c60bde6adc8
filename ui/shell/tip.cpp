#include "ui/shell/tip.h"

#include <QLabel>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "ui/shell/panel_style.h"

namespace {
const QRect kTipRect(250, 165, 300, 150);  // centred on the panel
const QRect kIconRect(118, 12, 64, 64);
const QRect kTextRect(10, 84, 280, 60);
constexpr int kTextPixels = 18;

constexpr const char* kIconDone = ":/png/done.png";
constexpr const char* kIconUsb = ":/png/usb.png";
constexpr const char* kIconUsbOut = ":/png/usb_out.png";
constexpr const char* kIconReading = ":/png/reading.png";

QString usbConnectedText() {
    return panel_style::langText("U盘已连接，请稍候...", "USB drive is connected,please wait...",
                              "USB-накопитель подключён, подождите...", "Đã kết nối USB, vui lòng đợi...",
                              "隨身碟已連接，請稍候...");
}
QString usbUnpluggedText() {
    return panel_style::langText("U盘已拔出。", "USB drive is unplugged.", "USB-накопитель отключён.", "Đã rút USB.",
                              "隨身碟已拔出。");
}
QString readingText() {
    return panel_style::langText("正在读取数据，请稍候", "Reading the data,pls wait", "Чтение данных, подождите",
                              "Đang đọc dữ liệu, vui lòng đợi", "正在讀取資料，請稍候");
}
}  // namespace

TIP::TIP(QWidget* parent) : QWidget(parent) {
    // Floats over the modal screen in front without taking its touches.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setObjectName(QStringLiteral("tip"));
    setGeometry(kTipRect);
    setStyleSheet(QStringLiteral("#tip{background-color: rgb(33, 36, 53);border:1px solid rgb(133, 129, 153);}"));
    setAttribute(Qt::WA_StyledBackground);

    icon_ = panel_style::makeLabel(this, QStringLiteral("label_icon"), kIconRect);
    text_ = panel_style::makeLabel(this, QStringLiteral("label_text"), kTextRect, QString(), kTextPixels);
    text_->setAlignment(Qt::AlignCenter);
    text_->setWordWrap(true);
    hide();
}

void TIP::tip_create(int type) {
    QString icon;
    QString text;
    switch (type) {
    case kDone: icon = QString::fromLatin1(kIconDone); break;
    case kClear:
        type_ = 0;
        panel_style::clearPicture(icon_);
        text_->clear();
        hide();
        return;
    case kUsbConnected: icon = QString::fromLatin1(kIconUsb); text = usbConnectedText(); break;
    case kUsbUnplugged: icon = QString::fromLatin1(kIconUsbOut); text = usbUnpluggedText(); break;
    case kReadingData: icon = QString::fromLatin1(kIconReading); text = readingText(); break;
    default:
        writeLogMsg(LOG_ERROR, "tip: unknown pop-up type " + std::to_string(type));
        return;
    }
    type_ = type;
    panel_style::setPicture(icon_, icon);
    text_->setText(text);
    shownAt_ = G_timeTicks.load();
    panel_style::placeOnPanel(this, kTipRect);
    show();
    // over the screen in front, also where no window manager keeps it on top
    raise();
}

void TIP::tick() {
    // Only the done mark goes by itself; a USB message stays until the next pop-up or a clear.
    if (type_ != kDone) return;
    if (Utils::getTimeSpace(shownAt_) < kShowTicks) return;
    type_ = 0;
    hide();
}

QString TIP::text() const {
    return text_->text();
}

bool TIP::markShown() const {
    return type_ == kDone && isVisible();
}
