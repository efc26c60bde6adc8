#include "support/panel_touch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

namespace testkit {

QPoint panelPointOf(const QWidget* w) { return panelPointOf(w, w->rect().center()); }

QPoint panelPointOf(const QWidget* w, const QPoint& local) {
    return w->mapToGlobal(local) - panel_style::panelOrigin();
}

void touchWidget(const QWidget* w) {
    const QPoint at = panelPointOf(w);
    lcd_touch::clickAt(at.x(), at.y());
}

bool touchListItem(QComboBox* combo, int index, bool* keypadOpened) {
    // Qt takes no release in the list within a double-click time of its opening (the release
    // of the touch that opened it); an operator's second touch comes later than that
    const int doubleClick = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(0);
    touchWidget(combo);
    QAbstractItemView* list = combo->view();
    QElapsedTimer clock;
    clock.start();
    while (!list->isVisible() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    const bool opened = list->isVisible();
    if (opened) {
        // a touch that misses the list and reaches a field under it opens the keypad's modal run
        bool keypad = false;
        QTimer::singleShot(0, [&keypad] {
            if (!g_numberkeyboard || !g_numberkeyboard->isVisible()) return;
            keypad = true;
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_close"))->click();
        });
        const QRect row = list->visualRect(list->model()->index(index, combo->modelColumn(), combo->rootModelIndex()));
        const QPoint at = panelPointOf(list->viewport(), row.center());
        lcd_touch::clickAt(at.x(), at.y());
        QCoreApplication::processEvents();
        if (keypadOpened) *keypadOpened = keypad;
    }
    QApplication::setDoubleClickInterval(doubleClick);
    return opened;
}

}  // namespace testkit
