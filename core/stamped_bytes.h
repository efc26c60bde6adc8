#pragma once
// Bytes that several threads read, decide from and write back: the parameter RAM, its shadow
// and each user-mode slot. Every write stamps the ranges it touches with the next count, and a
// copy out hands its reader the count it saw. A write-back decided from a copy taken in an
// earlier hold goes through compareAndSet with that count: it lands only when no byte of its
// range was written since, so a newer write (a PC's, answered "done") is never undone by it.
// The type takes no lock: its owner holds the bytes' lock around every call.
#include <cstdint>
#include <cstring>

// The write count a copy saw. Compared as a serial number: a decision and its write-back are
// never 2^31 writes apart, so the count may wrap.
using ChangeStamp = uint32_t;

// Size bytes, one stamp per Grain bytes (Grain 2: each u16 word; Grain Size: the whole block).
template <unsigned Size, unsigned Grain>
class StampedBytes {
public:
    // `start`: the count the bytes begin at, as if every grain was last written then (0 but in
    // the count's own test, which starts it near its wrap).
    explicit StampedBytes(ChangeStamp start = 0) : clock_(start) {
        std::memset(bytes_, 0, sizeof bytes_);
        for (ChangeStamp& w : written_) w = start;
    }
    static constexpr unsigned kSize = Size;
    static bool inside(unsigned at, unsigned length) { return at <= Size && length <= Size - at; }

    // [at, at + length) into `out`; false (nothing copied) for a range outside.
    bool copyOut(unsigned at, unsigned length, unsigned char* out) const {
        if (!inside(at, length)) return false;
        if (length) std::memcpy(out, bytes_ + at, length);
        return true;
    }
    // The count as of now: what a copy taken in this hold has seen.
    ChangeStamp stamp() const { return clock_; }
    bool copyIn(unsigned at, const unsigned char* in, unsigned length) {
        if (!inside(at, length)) return false;
        if (!length) return true;
        std::memcpy(bytes_ + at, in, length);
        const ChangeStamp now = ++clock_;
        for (unsigned g = at / Grain; g <= (at + length - 1) / Grain; ++g) written_[g] = now;
        return true;
    }
    // No byte of [at, at + length) written after `since`.
    bool unchangedSince(unsigned at, unsigned length, ChangeStamp since) const {
        if (!inside(at, length) || !length) return true;
        for (unsigned g = at / Grain; g <= (at + length - 1) / Grain; ++g)
            if (int32_t(written_[g] - since) > 0) return false;
        return true;
    }
    // copyIn, only while [at, at + length) is unchanged since `since`. True when it landed; `since`
    // then becomes this write's stamp, so the same caller's next write-back passes over it. An
    // empty range writes nothing and lands nowhere: false, `since` as it was.
    bool compareAndSet(unsigned at, const unsigned char* in, unsigned length, ChangeStamp& since) {
        if (!length || !inside(at, length) || !unchangedSince(at, length, since) || !copyIn(at, in, length))
            return false;
        since = clock_;
        return true;
    }
    bool differs(unsigned at, unsigned length, const unsigned char* bytes) const {
        return inside(at, length) && length && std::memcmp(bytes_ + at, bytes, length) != 0;
    }

private:
    static constexpr unsigned kGrains = (Size + Grain - 1) / Grain;
    unsigned char bytes_[Size];
    ChangeStamp written_[kGrains];
    ChangeStamp clock_;
};
