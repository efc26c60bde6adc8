// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the emit annotation must not hide: one signal, connected
// queued to a receiver in a worker thread, then direct to a slot in the emitting thread that
// writes, then queued to a second receiver. Qt files the first receiver's call before the
// direct slot runs, so the write is not ordered before the first receiver's read; the
// allocations Qt makes for the second receiver's call come after the write and must order
// nothing for the first. With a release of every receiver the emit may post to at each of
// Qt's allocations, they ordered the write, and the race went unreported.
#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>

class Sender : public QObject {
    Q_OBJECT
signals:
    void changed();
};

namespace {

int shared = 0;
std::atomic<int> slotDone{0};  // relaxed only: no ordering for the detector
std::atomic<int> calls{0};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Sender sender;
    QThread worker;
    QObject first, second;
    first.moveToThread(&worker);
    second.moveToThread(&worker);
    QObject::connect(
        &sender, &Sender::changed, &first,
        [] {
            std::printf("read %d\n", shared);  // race: read
            calls.fetch_add(1, std::memory_order_relaxed);
        },
        Qt::QueuedConnection);
    QObject::connect(
        &sender, &Sender::changed, &sender,
        [] {
            shared = 42;  // race: written
            slotDone.store(1, std::memory_order_relaxed);
        },
        Qt::DirectConnection);
    QObject::connect(
        &sender, &Sender::changed, &second, [] { calls.fetch_add(1, std::memory_order_relaxed); },
        Qt::QueuedConnection);
    worker.start();
    // the worker waits in the first call until the direct slot is done; the four after it grow
    // the worker's event list, so the emit files its calls without moving the list
    QMetaObject::invokeMethod(&first, [] {
        while (!slotDone.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    });
    for (int i = 0; i < 4; ++i) QMetaObject::invokeMethod(&first, [] {});
    emit sender.changed();
    while (calls.load(std::memory_order_relaxed) < 2) QThread::yieldCurrentThread();
    worker.quit();
    worker.wait();
    return 0;
}

#include "demo_filed_before_direct.moc"
