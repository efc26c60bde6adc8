#include "support/press_look.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>

#include <cstdlib>

namespace testkit {

int pressedPixels(QWidget* widget) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (!button) return 0;
    const bool wasDown = button->isDown();
    button->setDown(false);
    const QImage released = button->grab().toImage();
    button->setDown(true);
    const QImage pressed = button->grab().toImage();
    button->setDown(wasDown);
    if (released.size() != pressed.size()) return released.width() * released.height();
    int changed = 0;
    for (int y = 0; y < released.height(); ++y)
        for (int x = 0; x < released.width(); ++x) changed += released.pixel(x, y) != pressed.pixel(x, y);
    return changed;
}

QStringList buttonsWithoutPressedLook(QWidget* root) {
    QStringList out;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isEnabled() || button->size().isEmpty()) continue;
        const int area = button->width() * button->height();
        const int changed = pressedPixels(button);
        if (changed * 20 < area)
            out.append(QStringLiteral("%1 \"%2\": %3 of %4 pixels change when pressed")
                           .arg(button->objectName(), button->text())
                           .arg(changed)
                           .arg(area));
    }
    return out;
}

namespace {
// The background colour the button's released look asks for; invalid when it names none.
QColor lookBackground(const QAbstractButton* button) {
    static const QRegularExpression released(QStringLiteral("QAbstractButton\\{([^}]*)\\}"));
    static const QRegularExpression background(QStringLiteral("background-color\\s*:\\s*([^;]+)"));
    static const QRegularExpression rgb(QStringLiteral("rgb\\(\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)\\s*\\)"));
    const QRegularExpressionMatch look = released.match(button->styleSheet());
    if (!look.hasMatch()) return QColor();
    const QRegularExpressionMatch bg = background.match(look.captured(1));
    if (!bg.hasMatch()) return QColor();
    const QString value = bg.captured(1).trimmed();
    const QRegularExpressionMatch m = rgb.match(value);
    if (m.hasMatch()) return QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    return QColor(value);
}

bool near(QRgb a, const QColor& b) {
    return std::abs(qRed(a) - b.red()) <= 6 && std::abs(qGreen(a) - b.green()) <= 6 &&
           std::abs(qBlue(a) - b.blue()) <= 6;
}
}  // namespace

QStringList buttonsNotInTheirColour(QWidget* root) {
    QStringList out;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        const QColor colour = lookBackground(button);
        // an icon button's face is its picture
        if (!colour.isValid() || colour.alpha() == 0 || button->size().isEmpty() || !button->icon().isNull()) continue;
        const bool wasDown = button->isDown();
        button->setDown(false);
        const QImage face = button->grab().toImage();
        button->setDown(wasDown);
        int inColour = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x) inColour += near(face.pixel(x, y), colour);
        const int area = face.width() * face.height();
        if (inColour * 2 < area)
            out.append(QStringLiteral("%1 \"%2\": %3 of %4 pixels in %5")
                           .arg(button->objectName(), button->text())
                           .arg(inColour)
                           .arg(area)
                           .arg(colour.name()));
    }
    return out;
}

}  // namespace testkit
