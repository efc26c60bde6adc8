// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the emit annotation must not hide: one signal, connected first
// to a receiver in a worker thread (queued) and then to a slot run in the emitting thread
// (direct). Qt posts the call to the worker before it runs the direct slot, so the direct
// slot's write is not ordered before the worker's read. The worker is held in an earlier call
// until the direct slot is done, so the delivery comes after everything the slot did. With a
// release of every receiver at each allocation made during the emit, the slot's own
// allocation (a string built inside Qt) seemed to order its write, and the race went
// unreported.
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
std::atomic<int> read{0};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Sender sender;
    QThread worker;
    QObject receiver;
    receiver.moveToThread(&worker);
    QObject::connect(
        &sender, &Sender::changed, &receiver,
        [] {
            std::printf("read %d\n", shared);  // race: read
            read.store(1, std::memory_order_relaxed);
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
    worker.start();
    // the worker waits in the first call until the direct slot is done; the two after it grow
    // the worker's event list, so the emit files its call without moving the list
    QMetaObject::invokeMethod(&receiver, [] {
        while (!slotDone.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    });
    for (int i = 0; i < 2; ++i) QMetaObject::invokeMethod(&receiver, [] {});
    emit sender.changed();
    while (!read.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    worker.quit();
    worker.wait();
    return 0;
}

#include "demo_direct_after_queued.moc"
