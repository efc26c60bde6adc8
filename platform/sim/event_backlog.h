#pragma once
// Kernel event queues of the simulated board, bounded as the kernel bounds them: a
// reader that does not keep up, or one that is not there yet, loses events rather than
// making the queue grow, and every lost event is counted.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace plat::sim {

// A uevent netlink socket queues at most its receive buffer (net.core.rmem_default).
constexpr size_t kUeventBacklogBytes = 212992;
// evdev gives each reader a ring of 64 events (its minimum, which a touch panel of
// one contact with X, Y and BTN_TOUCH never exceeds).
constexpr size_t kInputBacklogEvents = 64;

// Messages waiting for the first reader, at most `maxBytes` of them; the oldest go first.
class MessageBacklog {
public:
    explicit MessageBacklog(size_t maxBytes) : maxBytes_(maxBytes) {}
    void push(std::string message);
    // Hands the waiting messages over, oldest first, and empties the backlog.
    std::vector<std::string> take();
    size_t bytes() const { return bytes_; }
    uint64_t dropped() const { return dropped_; }

private:
    std::deque<std::string> messages_;
    size_t maxBytes_;
    size_t bytes_ = 0;
    uint64_t dropped_ = 0;
};

// Bytes of the oldest whole input packet in a run of input_event records: up to and
// including the first SYN_REPORT, or one event when no SYN_REPORT is there yet.
// Dropping whole packets leaves a reader with X and Y that belong together.
size_t oldestInputPacket(const char* records, size_t bytes);

// Makes room for `adding` more bytes of events in a backlog held in memory, dropping
// the oldest packets; returns the number of events dropped.
uint64_t trimInputBacklog(std::string& records, size_t adding);

// The same for a reader's queue (the stream socket whose read end is `readEnd`): drops
// its oldest unread packets. The reader may be reading at the same time.
uint64_t trimInputQueue(int readEnd, size_t adding);

}  // namespace plat::sim
