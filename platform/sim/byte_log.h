#pragma once
// A log of the simulated board bounded by the memory it holds, not by a count: a
// board left running for days keeps the newest entries within its budget and counts
// what it dropped, so its heap stays flat however many frames go by.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace plat::sim {

// What an entry holds on the heap beyond its payload: the entry itself and the
// allocator's header of its payload block.
template <typename T>
constexpr size_t kByteLogEntryCost = sizeof(T) + 16;

// Heap bytes an entry holds beyond itself (a short string lives inside it).
inline size_t heapBytes(const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; }
inline size_t heapBytes(const std::vector<uint8_t>& v) { return v.capacity(); }

// The board's inspection logs (frames on the wires, drawing commands, shell commands) hold
// what tests read back. The controller on the simulated board reads at most their newest
// entries over board control, so it runs them at a small share of their budgets and its
// memory is flat within its first minute. A log takes the share in force when it is made.
inline std::atomic<double>& inspectionLogShare() {
    static std::atomic<double> share{1.0};
    return share;
}
inline void setInspectionLogShare(double share) { inspectionLogShare() = share; }
inline size_t inspectionLogBudget(size_t fullBytes) {
    return std::max<size_t>(1024, size_t(double(fullBytes) * inspectionLogShare().load()));
}

template <typename T>
class ByteLog {
public:
    // At most `maxBytes` of memory and, where given, `maxEntries` entries.
    explicit ByteLog(size_t maxBytes, size_t maxEntries = SIZE_MAX) : maxBytes_(maxBytes), maxEntries_(maxEntries) {}

    void push(T entry) {
        const size_t payload = heapBytes(entry);
        push(std::move(entry), payload);
    }
    // Adds an entry that holds `payload` bytes of its own; the oldest go to make room.
    void push(T entry, size_t payload) {
        const size_t cost = payload + kByteLogEntryCost<T>;
        while (!entries_.empty() && (bytes_ + cost > maxBytes_ || entries_.size() >= maxEntries_)) dropOldest();
        if (cost > maxBytes_) {
            ++dropped_;
            return;
        }
        entries_.push_back({std::move(entry), cost});
        bytes_ += cost;
    }
    void clear() {
        entries_.clear();
        bytes_ = 0;
        dropped_ = 0;
    }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    size_t bytes() const { return bytes_; }
    size_t maxBytes() const { return maxBytes_; }
    uint64_t dropped() const { return dropped_; }
    const T& operator[](size_t i) const { return entries_[i].first; }
    const T& back() const { return entries_.back().first; }

    class const_iterator {
    public:
        using Inner = typename std::deque<std::pair<T, size_t>>::const_iterator;
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;
        explicit const_iterator(Inner i) : i_(i) {}
        const T& operator*() const { return i_->first; }
        const T* operator->() const { return &i_->first; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++i_;
            return old;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

    private:
        Inner i_;
    };
    const_iterator begin() const { return const_iterator(entries_.begin()); }
    const_iterator end() const { return const_iterator(entries_.end()); }

private:
    void dropOldest() {
        bytes_ -= entries_.front().second;
        entries_.pop_front();
        ++dropped_;
    }

    std::deque<std::pair<T, size_t>> entries_;
    size_t maxBytes_;
    size_t maxEntries_;
    size_t bytes_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace plat::sim
