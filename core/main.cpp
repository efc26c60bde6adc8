// Entry point: singletons in their fixed order, then the front panel and the tick.
#include <QApplication>
#include <QTimer>

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/platform.h"

int main(int argc, char* argv[]) {
    plat::initFromEnvironment();
    writeLogMsg(LOG_INFO, std::string("board: ") + plat::boardName() + ", root: " +
                              (plat::root().empty() ? "/" : plat::root()));
    plat::sleepMs(3000);

    QApplication app(argc, argv);
    g_timer = new QTimer;
    QObject::connect(g_timer, &QTimer::timeout, [] { G_timeTicks.fetch_add(1); });
    g_timer->start(10);
    return app.exec();
}
