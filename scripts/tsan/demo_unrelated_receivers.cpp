// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the event-queue annotation must not hide: the main thread
// writes `shared` and posts an event to one object; another thread, which never synchronised
// with the main thread, queues a call to a second object living in a third thread, and that
// call reads `shared`. Nothing orders the write before the read (Qt's own lock is per
// receiving thread, and neither post reaches the other's receiver), so the detector must
// report it. With one sync object for every post and delivery, the first post would seem to
// order the read, and the race went unreported.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

int shared = 0;
std::atomic<int> written{0};  // relaxed only: no ordering for the detector
std::atomic<int> read{0};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QObject near;  // lives in the main thread
    QThread far;
    QObject receiver;
    receiver.moveToThread(&far);
    far.start();
    std::thread poster([&] {
        while (!written.load(std::memory_order_relaxed)) std::this_thread::yield();
        QMetaObject::invokeMethod(
            &receiver,
            [] {
                std::printf("read %d\n", shared);  // race: read
                read.store(1, std::memory_order_relaxed);
            },
            Qt::QueuedConnection);
    });
    shared = 42;  // race: written
    QCoreApplication::postEvent(&near, new QEvent(QEvent::User));
    written.store(1, std::memory_order_relaxed);
    while (!read.load(std::memory_order_relaxed)) std::this_thread::yield();
    poster.join();
    far.quit();
    far.wait();
    QCoreApplication::processEvents();
    return 0;
}
