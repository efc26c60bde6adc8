#include "ui/shell/QRoundProgressBar.h"

#include <QChildEvent>
#include <QDialog>
#include <QPainter>
#include <QPen>

#include "core/logMsg.h"
#include "ui/shell/shell_globals.h"
#include "ui/shell/panel_style.h"

namespace {
constexpr int kMaxShown = 99;  // 100 and above end the job
constexpr int kRingWidth = 16;
constexpr int kTextPixels = 36;
const QColor kTrackColour(33, 36, 53);
const QColor kValueColour(0x47, 0x77, 0xFF);
const QColor kTextColour(255, 255, 255);
}  // namespace

const QRect QRoundProgressBar::kGeometry(300, 140, 200, 200);

QRoundProgressBar::QRoundProgressBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("qround_bar"));
    setAttribute(Qt::WA_TranslucentBackground);
    if (parent) parent->installEventFilter(this);
}

bool QRoundProgressBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::ChildAdded &&
        static_cast<QChildEvent*>(event)->child() != this)
        raise();
    return QWidget::eventFilter(watched, event);
}

QRoundProgressBar* QRoundProgressBar::create_qround_bar(QDialog* parent) {
    if (g_qround_bar) return nullptr;
    auto* bar = new QRoundProgressBar(parent);
    bar->setGeometry(kGeometry);
    bar->show();
    bar->raise();
    bar->activateWindow();
    g_qround_bar = bar;
    return bar;
}

void QRoundProgressBar::para_sync(int value) {
    if (closed_) return;
    if (value > kMaxShown) {
        closed_ = true;
        // A late 100 from an ended job must not clear the ring of the next one.
        if (g_qround_bar == this) g_qround_bar = nullptr;
        close();
        deleteLater();
        return;
    }
    if (value < 0) {
        writeLogMsg(LOG_WARNING, "progress ring: negative value " + std::to_string(value) + " ignored");
        return;
    }
    value_ = value;
    update();
}

void QRoundProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height());
    const QRectF ring((width() - side) / 2.0 + kRingWidth / 2.0, (height() - side) / 2.0 + kRingWidth / 2.0,
                      side - kRingWidth, side - kRingWidth);

    QPen track(kTrackColour, kRingWidth);
    painter.setPen(track);
    painter.drawEllipse(ring);

    QPen arc(kValueColour, kRingWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    // Qt angles are sixteenths of a degree, counter-clockwise from 3 o'clock; start at 12.
    painter.drawArc(ring, 90 * 16, -value_ * 360 * 16 / 100);

    painter.setPen(kTextColour);
    painter.setFont(panel_style::panelFont(kTextPixels));
    painter.drawText(rect(), Qt::AlignCenter, QString::number(value_) + QLatin1Char('%'));
}
