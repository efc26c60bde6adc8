// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects a report). A race the
// suppressions must not hide: one thread reads the size of a shared QString, then the main
// thread, never ordered with it, appends to the string. The append runs in Qt's own library,
// which moves the text to a larger block and frees the old one; only the allocator calls Qt
// makes there tell the detector of it, so ignoring every call made from Qt's library hid
// such races on any shared string, byte array or container.
#include <QString>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

std::atomic<int> sized{0};  // relaxed only: no ordering for the detector

}  // namespace

int main() {
    QString shared(16, QLatin1Char('a'));  // full: the append needs a new block
    std::thread reader([&] {
        std::printf("size %d\n", shared.size());
        sized.store(1, std::memory_order_relaxed);
    });
    while (!sized.load(std::memory_order_relaxed)) std::this_thread::yield();
    shared.append(QStringLiteral("a longer tail than the block holds"));
    reader.join();
    std::printf("size %d\n", shared.size());
    return 0;
}
