#include "core/startup.h"

QRect keypadRectFor(const QPoint& mainWindowPos) {
    const int x = mainWindowPos.x(), y = mainWindowPos.y();
    return QRect(QPoint(x + 420, y), QPoint(x + 799, y + 479));  // corners inclusive
}
