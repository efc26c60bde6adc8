// ThreadSanitizer builds only (scripts/tsan.sh runs it and expects the race between the two
// lines marked "race:"). A block shared by two threads through a count at its first word, as
// Qt's shared data keeps it, but dropped with release only: the worker writes the block and
// drops its reference; the main thread drops the last one and frees the block without an
// acquire, so nothing orders the worker's write before the free. The free hook must not hide
// it: with every free taken as an acquire of the freed block, the worker's release at the
// count seemed to order the write, and the race went unreported.
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

struct Shared {
    std::atomic<int> count{2};  // first word, where the free hook looks
    alignas(8) int value = 0;   // a word of its own: the detector keeps few accesses per word
};

void drop(Shared* block) {
    // the missing acquire: the last holder needs acq_rel (or an acquire fence) before the delete
    if (block->count.fetch_sub(1, std::memory_order_release) == 1) delete block;  // race: freed
}

std::atomic<int> dropped{0};  // relaxed only: no ordering for the detector
std::atomic<int> freed{0};

}  // namespace

int main() {
    auto* block = new Shared;
    std::thread worker([block] {
        block->value = 42;  // race: written
        drop(block);
        dropped.store(1, std::memory_order_relaxed);
        // still running at the free: the detector keeps a running thread's history whole
        while (!freed.load(std::memory_order_relaxed)) std::this_thread::yield();
    });
    while (!dropped.load(std::memory_order_relaxed)) std::this_thread::yield();
    drop(block);
    freed.store(1, std::memory_order_relaxed);
    worker.join();
    std::printf("dropped\n");
    return 0;
}
