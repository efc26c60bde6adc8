#include "support/press_look.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>

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

}  // namespace testkit
