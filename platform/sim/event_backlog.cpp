#include "platform/sim/event_backlog.h"

#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>

namespace plat::sim {

namespace {
constexpr size_t kEventBytes = sizeof(input_event);
constexpr size_t kInputBacklogBytes = kInputBacklogEvents * kEventBytes;
}  // namespace

void MessageBacklog::push(std::string message) {
    bytes_ += message.size();
    messages_.push_back(std::move(message));
    while (bytes_ > maxBytes_ && !messages_.empty()) {
        bytes_ -= messages_.front().size();
        messages_.pop_front();
        ++dropped_;
    }
}

std::vector<std::string> MessageBacklog::take() {
    std::vector<std::string> out(std::make_move_iterator(messages_.begin()), std::make_move_iterator(messages_.end()));
    messages_.clear();
    bytes_ = 0;
    return out;
}

size_t oldestInputPacket(const char* records, size_t bytes) {
    for (size_t at = 0; at + kEventBytes <= bytes; at += kEventBytes) {
        input_event ev;
        std::memcpy(&ev, records + at, kEventBytes);
        if (ev.type == EV_SYN && ev.code == SYN_REPORT) return at + kEventBytes;
    }
    return bytes < kEventBytes ? bytes : kEventBytes;
}

uint64_t trimInputBacklog(std::string& records, size_t adding) {
    uint64_t dropped = 0;
    while (!records.empty() && records.size() + adding > kInputBacklogBytes) {
        const size_t n = oldestInputPacket(records.data(), records.size());
        records.erase(0, n);
        dropped += n / kEventBytes;
    }
    return dropped;
}

uint64_t trimInputQueue(int readEnd, size_t adding) {
    uint64_t dropped = 0;
    char unread[kInputBacklogBytes + kEventBytes];
    for (;;) {
        int queued = 0;
        if (::ioctl(readEnd, FIONREAD, &queued) != 0 || queued <= 0) break;
        if (static_cast<size_t>(queued) + adding <= kInputBacklogBytes) break;
        // Peek, then take away the oldest packet; never blocks, whatever the reader's mode.
        const ssize_t seen = ::recv(readEnd, unread, sizeof unread, MSG_PEEK | MSG_DONTWAIT);
        if (seen <= 0) break;
        const size_t n = oldestInputPacket(unread, static_cast<size_t>(seen));
        const ssize_t gone = ::recv(readEnd, unread, n, MSG_DONTWAIT);
        if (gone <= 0) break;
        dropped += static_cast<size_t>(gone) / kEventBytes;
    }
    return dropped;
}

}  // namespace plat::sim
