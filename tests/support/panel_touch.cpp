#include "support/panel_touch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

namespace testkit {

namespace {
constexpr int kSecondTouchMs = 150;
}  // namespace

QPoint panelPointOf(const QWidget* w) { return panelPointOf(w, w->rect().center()); }

QPoint panelPointOf(const QWidget* w, const QPoint& local) {
    return w->mapToGlobal(local) - panel_style::panelOrigin();
}

void touchWidget(const QWidget* w) {
    const QPoint at = panelPointOf(w);
    lcd_touch::clickAt(at.x(), at.y());
}

bool touchListItem(QComboBox* combo, int index, bool* keypadOpened) {
    touchWidget(combo);
    QAbstractItemView* list = combo->view();
    QElapsedTimer clock;
    clock.start();
    while (!list->isVisible() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // an operator's second touch comes about 0.15 s after the first, inside the double-click
    // time (0.4 s) of the touch that opened the list
    while (clock.elapsed() < kSecondTouchMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
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
    return opened;
}

bool typeByTouch(const QWidget* field, const QString& digits, QString* shown) {
    auto answered = std::make_shared<bool>(false);
    auto over = std::make_shared<bool>(false);
    QTimer::singleShot(0, [digits, answered, over, shown] {
        if (*over || !g_numberkeyboard || !g_numberkeyboard->isVisible()) return;
        for (QChar d : digits)
            touchWidget(g_numberkeyboard->findChild<QPushButton*>(
                d == QLatin1Char('-') ? QStringLiteral("Button_delete") : QStringLiteral("Button_") + d));
        if (shown) *shown = g_numberkeyboard->shownText();
        *answered = true;
        touchWidget(g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok")));
    });
    touchWidget(field);  // the keypad's modal run ends with OK
    *over = true;
    return *answered;
}

}  // namespace testkit
