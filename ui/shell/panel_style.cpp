#include "ui/shell/panel_style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVariant>

#include "core/global.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/panel_stack.h"
#include "ui/shell/shell_globals.h"

namespace panel_style {

namespace {
const char* const kImageProperty = "vlxImage";
const char* const kElidesProperty = "vlxElides";
const char* const kFontProperty = "vlxFontPixels";

class FingerUp : public QObject {
public:
    FingerUp(QSlider* slider, std::function<void(int)> store) : QObject(slider), slider_(slider), store_(std::move(store)) {
        slider->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != slider_ || event->type() != QEvent::MouseButtonRelease) return false;
        // the slider ends the gesture first (the repeat stops, the handle is let go)
        static_cast<QObject*>(slider_)->event(event);
        store_(slider_->value());
        return true;
    }

private:
    QSlider* slider_;
    std::function<void(int)> store_;
};

class TapMovesHandle : public QObject {
public:
    explicit TapMovesHandle(QSlider* slider) : QObject(slider), slider_(slider) { slider->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != slider_ || event->type() != QEvent::MouseButtonPress) return false;
        QStyleOptionSlider option;
        option.initFrom(slider_);
        option.orientation = slider_->orientation();
        option.minimum = slider_->minimum();
        option.maximum = slider_->maximum();
        option.sliderPosition = slider_->sliderPosition();
        option.sliderValue = slider_->value();
        option.upsideDown = slider_->invertedAppearance();
        option.subControls = QStyle::SC_All;
        const QRect handle = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider_);
        const QPoint at = static_cast<QMouseEvent*>(event)->pos();
        if (handle.contains(at)) return false;
        // the handle goes under the finger; the press then takes it as a press on the handle
        const bool horizontal = slider_->orientation() == Qt::Horizontal;
        const int length = horizontal ? handle.width() : handle.height();
        const int span = (horizontal ? slider_->width() : slider_->height()) - length;
        const int pos = (horizontal ? at.x() : at.y()) - length / 2;
        slider_->setValue(QStyle::sliderValueFromPosition(slider_->minimum(), slider_->maximum(), pos, span,
                                                          option.upsideDown));
        return false;
    }

private:
    QSlider* slider_;
};
}

QString langText(const char* zh, const char* en, const char* ru, const char* vi, const char* tw) {
    switch (g_language.load()) {
    case 0: return QString::fromUtf8(zh);
    case 2: return QString::fromUtf8(ru);
    case 3: return QString::fromUtf8(vi);
    case 4: return QString::fromUtf8(tw);
    default: return QString::fromUtf8(en);
    }
}

QFont panelFont(int pixelSize) {
    QFont font(QString::fromLatin1(kFontFamily));
    if (pixelSize > 0) font.setPixelSize(pixelSize);
    return font;
}

void installPanelFont(QApplication* app) {
    QFont::insertSubstitution(QString::fromLatin1(kFontFamily), QString::fromLatin1(kCjkFontFamily));
    if (app) app->setFont(panelFont());
}

QPoint panelOrigin() {
    // geometry(), not pos(): a window manager's frame lies outside the panel's area
    return g_mainwindow ? g_mainwindow->geometry().topLeft() : QPoint(0, 0);
}

void placeOnPanel(QWidget* window, const QRect& rect) {
    panel_stack::follow();
    if (window) window->setGeometry(rect.translated(panelOrigin()));
}

void placeOnPanel(QWidget* window) {
    placeOnPanel(window, QRect(0, 0, kScreenWidth, kScreenHeight));
}

void prepareScreen(QWidget* screen, QPushButton* back) {
    screen->setFixedSize(kScreenWidth, kScreenHeight);
    placeOnPanel(screen);
    if (back) setBackIcon(back);
}

void setBackIcon(QPushButton* button) {
    button->setText(QString());
    setLook(button, QString::fromLatin1(kBareLook));
    setIcon(button, QString::fromLatin1(kIconBack), kBackIconSize);
}

void useListView(QComboBox* combo) {
    combo->setView(new QListView(combo));
}

void setLook(QAbstractButton* button, const QString& look) {
    // A push button's background without a border is drawn by the platform style as its own
    // pale gradient; with a border of 0 the style sheet draws the look's flat colour.
    static const QRegularExpression hasBorder(QStringLiteral("(^|[;{\\s])border\\s*:"));
    const QString flat = look.contains(hasBorder) ? QString() : QStringLiteral("border:0px;");
    button->setStyleSheet(QStringLiteral("QAbstractButton{") + flat + look + QStringLiteral("}QAbstractButton:pressed{") +
                          QString::fromLatin1(kPressedLook) + QLatin1Char('}'));
}

void touchSlider(QSlider* slider, std::function<void(int)> store) {
    new FingerUp(slider, std::move(store));
    new TapMovesHandle(slider);
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, const QRect& geometry, const QString& style,
                        const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    setLook(button, style);
    return button;
}

QLabel* makeLabel(QWidget* parent, const QString& objectName, const QRect& geometry, const QString& text,
                  int pixelSize) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setGeometry(geometry);
    label->setStyleSheet(QString::fromLatin1(kWhiteText));
    if (pixelSize > 0) label->setFont(panelFont(pixelSize));
    return label;
}

QLabel* makeRefusedLabel(QWidget* parent, const QRect& geometry) {
    QLabel* label = makeLabel(parent, QStringLiteral("label_refused"), geometry, QString(), 15);
    label->setStyleSheet(QStringLiteral("color: rgb(255, 171, 84);"));
    label->setWordWrap(true);
    label->hide();
    return label;
}

QFrame* makeFrame(QWidget* parent, const QString& objectName, const QRect& geometry, const QString& style) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(objectName);
    frame->setGeometry(geometry);
    frame->setStyleSheet(style);
    return frame;
}

QFrame* rebuildContainer(QFrame*& container, QWidget* host, const QString& objectName, int inset) {
    delete container;
    container = makeFrame(host, objectName,
                          QRect(inset, inset, host->width() - 2 * inset, host->height() - 2 * inset),
                          QStringLiteral("QFrame#%1{background-color: transparent;border:0px;}").arg(objectName));
    return container;
}

QLabel* makeInUseDot(QWidget* parent, int x, int y) {
    auto* dot = new QLabel(parent);
    dot->setObjectName(QStringLiteral("label_in_use"));
    dot->setGeometry(x, y, kInUseDotSize, kInUseDotSize);
    dot->setStyleSheet(QString::fromLatin1(kInUseDotStyle));
    return dot;
}

void setIcon(QAbstractButton* button, const QString& resource, const QSize& size) {
    // kept for the program's life, so that no icon outlives the application's end in a static
    static auto* const icons = new QHash<QString, QIcon>;
    auto it = icons->find(resource);
    if (it == icons->end()) it = icons->insert(resource, QIcon(resource));
    button->setIcon(*it);
    button->setIconSize(size);
    button->setProperty(kImageProperty, resource);
}

void setPicture(QLabel* label, const QString& resource, bool scaled) {
    label->setPixmap(QPixmap(resource));
    label->setScaledContents(scaled);
    label->setProperty(kImageProperty, resource);
}

void clearPicture(QLabel* label) {
    label->clear();
    label->setProperty(kImageProperty, QVariant());
}

QString imageOf(const QWidget* widget) {
    return widget ? widget->property(kImageProperty).toString() : QString();
}

void fitFont(QLabel* label, int room, int margin) {
    constexpr int kSmallestPixels = 12;
    QFont font = label->font();
    // every fit starts from the size the label had before the first one (a language change
    // fits a shorter word again)
    int start = label->property(kFontProperty).toInt();
    if (start <= 0) {
        start = font.pixelSize();
        if (start <= 0) return;
        label->setProperty(kFontProperty, start);
    }
    font.setPixelSize(start);
    // a word too long for the room takes a smaller font rather than be cut or cover a neighbour
    while (QFontMetrics(font).horizontalAdvance(label->text()) + margin > room && font.pixelSize() > kSmallestPixels)
        font.setPixelSize(font.pixelSize() - 1);
    if (font.pixelSize() == start && !label->styleSheet().contains(QLatin1String("font"))) return;
    label->setFont(font);
    // a style sheet's font (the label's own or a parent's) wins over the widget's at polish
    static const QRegularExpression fontRule(QStringLiteral("font\\s*:[^;]*;?"));
    QString sheet = label->styleSheet();
    sheet.remove(fontRule);
    label->setStyleSheet(sheet + QStringLiteral("font: %1px;").arg(font.pixelSize()));
}

void markElides(QWidget* widget) {
    if (widget) widget->setProperty(kElidesProperty, true);
}

bool elidesOnPurpose(const QWidget* widget) {
    return widget && widget->property(kElidesProperty).toBool();
}

}  // namespace panel_style
