// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the emit annotation must not hide: the main thread writes
// `shared` and emits one signal of a sender, queued to a receiver in one thread; another
// thread, which never synchronised with the main thread, emits the sender's other signal,
// queued to a receiver in a third thread, and that receiver reads `shared`. Nothing orders the
// write before the read (Qt's lock is per receiving thread), so the detector must report it.
// With one release for every receiver of the sender, whatever the signal, the first emit
// seemed to order the read.
#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>

class Sender : public QObject {
    Q_OBJECT
signals:
    void first();
    void second();
};

namespace {

int shared = 0;
std::atomic<int> written{0};  // relaxed only: no ordering for the detector
std::atomic<int> read{0};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Sender sender;
    QThread nearThread, farThread;
    QObject nearReceiver, farReceiver;
    nearReceiver.moveToThread(&nearThread);
    farReceiver.moveToThread(&farThread);
    QObject::connect(&sender, &Sender::first, &nearReceiver, [] {}, Qt::QueuedConnection);
    QObject::connect(
        &sender, &Sender::second, &farReceiver,
        [] {
            std::printf("read %d\n", shared);  // race: read
            read.store(1, std::memory_order_relaxed);
        },
        Qt::QueuedConnection);
    nearThread.start();
    farThread.start();
    // both loops run before the write
    for (QObject* r : {&nearReceiver, &farReceiver}) QMetaObject::invokeMethod(r, [] {}, Qt::BlockingQueuedConnection);
    std::thread emitter([&] {
        while (!written.load(std::memory_order_relaxed)) std::this_thread::yield();
        emit sender.second();
    });
    shared = 42;  // race: written
    emit sender.first();
    written.store(1, std::memory_order_relaxed);
    while (!read.load(std::memory_order_relaxed)) std::this_thread::yield();
    emitter.join();
    nearThread.quit();
    farThread.quit();
    nearThread.wait();
    farThread.wait();
    return 0;
}

#include "demo_other_signal_receivers.moc"
