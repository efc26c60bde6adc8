#include "ui/shell/panel_stack.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <atomic>

#include "ui/shell/panel_style.h"

namespace panel_stack {

namespace {

std::atomic<uint32_t> g_delivered{0};   // atomic: the GUI thread counts, tests and benchmarks read

class StackWatcher : public QObject {
public:
    explicit StackWatcher(QObject* parent) : QObject(parent) {}
    // Windows in the order they were last shown or raised, the latest last.
    QList<QPointer<QWidget>> order;

    bool eventFilter(QObject* watched, QEvent* event) override {
        g_delivered.fetch_add(1, std::memory_order_relaxed);
        const QEvent::Type t = event->type();
        if ((t == QEvent::Show || t == QEvent::ZOrderChange) && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow()) {
                order.removeAll(QPointer<QWidget>());
                order.removeAll(w);
                order.append(w);
            }
        }
        return false;
    }
};

QPointer<StackWatcher>& watcher() {
    static QPointer<StackWatcher> w;   // GUI thread only
    return w;
}

// Platform layers over the order of showing: an open list lies over everything, a
// stays-on-top window over the ordinary ones.
int layerOf(const QWidget* w) {
    if (w->windowType() == Qt::Popup) return 2;
    if (w->windowFlags() & Qt::WindowStaysOnTopHint) return 1;
    return 0;
}

bool takesTouches(const QWidget* w) {
    return !w->testAttribute(Qt::WA_TransparentForMouseEvents) && !(w->windowFlags() & Qt::WindowTransparentForInput);
}

}  // namespace

void follow() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || watcher()) return;
    watcher() = new StackWatcher(app);
    app->installEventFilter(watcher());
}

uint32_t eventsDelivered() { return g_delivered.load(std::memory_order_relaxed); }

QList<QWidget*> visibleWindows() {
    QList<QWidget*> windows;
    // windows shown before the order was followed lie at the bottom
    const QList<QPointer<QWidget>> followed = watcher() ? watcher()->order : QList<QPointer<QWidget>>();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!followed.contains(w)) windows.append(w);
    for (const QPointer<QWidget>& w : followed)
        if (w) windows.append(w.data());
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [](const QWidget* w) {
                                     return !w->isWindow() || !w->isVisible() || w->windowType() == Qt::Desktop;
                                 }),
                  windows.end());
    std::stable_sort(windows.begin(), windows.end(),
                     [](const QWidget* a, const QWidget* b) { return layerOf(a) < layerOf(b); });
    return windows;
}

QWidget* inputWindowAt(const QPoint& global) {
    const QList<QWidget*> windows = visibleWindows();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (takesTouches(*it) && (*it)->geometry().contains(global)) return *it;
    return nullptr;
}

QImage compose() {
    QImage panel(panel_style::kScreenWidth, panel_style::kScreenHeight, QImage::Format_RGB32);
    panel.fill(Qt::black);
    QPainter painter(&panel);
    const QPoint origin = panel_style::panelOrigin();
    for (QWidget* w : visibleWindows()) painter.drawPixmap(w->geometry().topLeft() - origin, w->grab());
    return panel;
}

}  // namespace panel_stack
