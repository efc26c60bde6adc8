// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A race the suppressions must not hide: one thread reads the size of a
// shared QString, then the main thread, never ordered with it, appends to the string. The
// append runs in Qt's own library, which moves the text to a larger block and frees the old
// one; only the allocator calls Qt makes there tell the detector of it, so ignoring every call
// made from Qt's library hid such races on any shared string, byte array or container.
#include <QString>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

std::atomic<int> sized{0};  // relaxed only: no ordering for the detector
std::atomic<int> appended{0};

// a frame of ours around Qt's append: the report names the line that calls it
[[gnu::noinline]] void lengthen(QString& text) { text.append(QStringLiteral("a longer tail than the block holds")); }

}  // namespace

int main() {
    QString shared(16, QLatin1Char('a'));  // full: the append needs a new block
    std::thread reader([&] {
        std::printf("size %d\n", shared.size());  // race: read
        sized.store(1, std::memory_order_relaxed);
        // still running at the append: the detector keeps a running thread's history whole
        while (!appended.load(std::memory_order_relaxed)) std::this_thread::yield();
    });
    while (!sized.load(std::memory_order_relaxed)) std::this_thread::yield();
    lengthen(shared);  // race: appended
    appended.store(1, std::memory_order_relaxed);
    reader.join();
    std::printf("size %d\n", shared.size());
    return 0;
}
