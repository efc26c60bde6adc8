#include "ui/shell/numberkeyboard.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include "platform/waits.h"
#include "ui/shell/panel_style.h"
#include "ui_numberkeyboard.h"

namespace {
constexpr int kShortTitleLength = 4;
constexpr int kShortTitlePixels = 18;
constexpr int kTitlePixels = 25;
constexpr int kValuePixels = 30;
constexpr int kKeyPixels = 28;

QRect keypadStrip() {
    return QRect(panel_style::kKeypadX, 0, panel_style::kKeypadWidth, panel_style::kScreenHeight);
}
}  // namespace

NumberKeyboard::NumberKeyboard(QWidget* parent) : QDialog(parent), ui(new Ui::NumberKeyboard) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(keypadStrip());

    QPushButton* digits[10] = {ui->Button_0, ui->Button_1, ui->Button_2, ui->Button_3, ui->Button_4,
                               ui->Button_5, ui->Button_6, ui->Button_7, ui->Button_8, ui->Button_9};
    for (int d = 0; d < 10; ++d) {
        digits[d]->setFont(panel_style::panelFont(kKeyPixels));
        panel_style::setLook(digits[d], QString::fromLatin1(panel_style::kFramedOffStyle));
        connect(digits[d], &QPushButton::clicked, this, [this, d] { pressDigit(d); });
    }
    panel_style::setLook(ui->Button_delete, QString::fromLatin1(panel_style::kFramedOffStyle));
    panel_style::setLook(ui->Button_ok, QString::fromLatin1(panel_style::kFramedOnStyle));
    panel_style::setLook(ui->Button_close, QString::fromLatin1(panel_style::kBareLook));
    ui->Button_delete->setFont(panel_style::panelFont(kKeyPixels));
    ui->Button_ok->setFont(panel_style::panelFont(kKeyPixels));
    ui->Button_close->setFont(panel_style::panelFont(kTitlePixels));
    ui->label_value->setFont(panel_style::panelFont(kValuePixels));
    ui->label_title->setFont(panel_style::panelFont(kTitlePixels));
}

NumberKeyboard::~NumberKeyboard() {
    delete ui;
}

void NumberKeyboard::showEvent(QShowEvent* event) {
    panel_style::placeOnPanel(this, keypadStrip());
    QDialog::showEvent(event);
    // The keypad is built once, before the screens that ask for it, so their windows lie above
    // it; without a window manager nothing else brings a shown window to the front.
    raise();
    activateWindow();
    activation_checked_ = false;
}

void NumberKeyboard::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (activation_checked_) return;
    activation_checked_ = true;
    activateUntilActive(kActivationTries);
}

void NumberKeyboard::activateUntilActive(int triesLeft) {
    // A loaded X server can still drop the first request: ask again, bounded, until it took.
    if (!isVisible() || isActiveWindow() || triesLeft <= 0) return;
    // Shown again while Qt's focus window is still its own from the last run, it gets no focus
    // event to become the application's active window: tell the application.
    if (windowHandle() && QGuiApplication::focusWindow() == windowHandle()) {
        QApplication::setActiveWindow(this);
        return;
    }
    activateWindow();
    QTimer::singleShot(kActivationRetryMs, this, [this, triesLeft] { activateUntilActive(triesLeft - 1); });
}

void NumberKeyboard::ask(QObject* asker, const QString& title, const QString& value, std::function<void()> begin,
                         std::function<void()> end, int maxDigits) {
    Request request{QPointer<QObject>(asker), title, value, std::move(begin), std::move(end), maxDigits};
    // exec() inside a run that is up, or ending, would be refused and the request lost
    if (running_) {
        next_ = std::move(request);
        waiting_ = true;
        return;
    }
    run(std::move(request));
}

void NumberKeyboard::run(Request request) {
    if (!request.asker) return;
    QPointer<NumberKeyboard> self(this);
    running_ = true;
    if (request.begin) request.begin();
    label_show(request.title, request.value, request.maxDigits);
    plat::runEventLoop(*this);
    if (!self) return;
    running_ = false;
    if (request.end && request.asker) request.end();
    if (!waiting_) return;
    // opens from the event loop, once the run's caller has finished with its answer
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!waiting_ || running_) return;
            waiting_ = false;
            Request next = std::move(next_);
            next_ = Request{};
            run(std::move(next));
        },
        Qt::QueuedConnection);
}

void NumberKeyboard::dismiss() {
    waiting_ = false;
    next_ = Request{};
    hide();
}

void NumberKeyboard::label_show(const QString& title, const QString& value, int maxDigits) {
    ui->label_title->setText(title);
    ui->label_title->setFont(
        panel_style::panelFont(title.size() == kShortTitleLength ? kShortTitlePixels : kTitlePixels));
    value_ = value;
    max_digits_ = maxDigits;
    typed_.clear();
    hasTyped_ = false;
    refresh();
}

QString NumberKeyboard::shownText() const {
    return hasTyped_ ? typed_ : value_;
}

QString NumberKeyboard::title() const {
    return ui->label_title->text();
}

void NumberKeyboard::pressDigit(int digit) {
    if (digit < 0 || digit > 9) return;
    hasTyped_ = true;
    // Leading zeros are dropped; a lone zero stays so that 0 can be typed.
    if (typed_ == QLatin1String("0"))
        typed_ = QString::number(digit);
    else if (max_digits_ <= 0 || typed_.size() < max_digits_)
        typed_.append(QChar('0' + digit));
    refresh();
}

void NumberKeyboard::pressDelete() {
    hasTyped_ = true;
    typed_.chop(1);
    refresh();
}

void NumberKeyboard::on_Button_delete_clicked() {
    pressDelete();
}

void NumberKeyboard::on_Button_ok_clicked() {
    emit sendKeyBoardUIDataToLineEdit(shownText());
    accept();
}

void NumberKeyboard::on_Button_close_clicked() { reject(); }

void NumberKeyboard::refresh() {
    ui->label_value->setText(shownText());
}
