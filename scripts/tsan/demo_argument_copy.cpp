// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the post annotation must not hide: a signal whose only
// connection is queued carries a type of ours by const reference; Qt copies it for the
// receiver inside the emit, with the type's own copy constructor, while another thread writes
// the original. What Qt itself does inside such a post is kept out of the detector's sight;
// with every access inside the emit kept out, the copy's read went unreported.
#include <QCoreApplication>
#include <QMetaType>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <thread>

struct Payload {
    int value = 0;
    Payload() = default;
    Payload(const Payload& other) : value(other.value) {}  // race: copied
    Payload& operator=(const Payload&) = default;
};
Q_DECLARE_METATYPE(Payload)

class Sender : public QObject {
    Q_OBJECT
signals:
    void sent(const Payload& payload);
};

namespace {

std::atomic<int> written{0};  // relaxed only: no ordering for the detector
std::atomic<int> got{0};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qRegisterMetaType<Payload>();
    Sender sender;
    QThread worker;
    QObject receiver;
    receiver.moveToThread(&worker);
    QObject::connect(
        &sender, &Sender::sent, &receiver,
        [](const Payload& p) {
            std::printf("got %d\n", p.value);
            got.store(1, std::memory_order_relaxed);
        },
        Qt::QueuedConnection);
    worker.start();
    Payload payload;
    std::thread writer([&payload] {
        payload.value = 7;  // race: written
        written.store(1, std::memory_order_relaxed);
    });
    while (!written.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    emit sender.sent(payload);
    while (!got.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    writer.join();
    worker.quit();
    worker.wait();
    return 0;
}

#include "demo_argument_copy.moc"
