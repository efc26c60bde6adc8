// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the emit annotation must not hide: one signal, connected first
// to a receiver in a worker thread (queued), then to a slot run in the emitting thread
// (direct), then to a second receiver in the worker (queued). Qt posts the call to the first
// receiver before it runs the direct slot, so the direct slot's write is not ordered before
// the first receiver's read. The worker is held in an earlier call until the direct slot is
// done, so the delivery comes after everything the slot did. With a release of every receiver
// at each allocation made during the emit, the slot's own allocation (a string built inside
// Qt) seemed to order its write; with a release of every receiver at each of Qt's own
// allocations, those for the second receiver's call, made after the slot, did.
#include <QCoreApplication>
#include <QObject>
#include <QString>
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
            const QString note = QString::number(shared);
            std::printf("wrote %s\n", qPrintable(note));
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

#include "demo_direct_after_queued.moc"
