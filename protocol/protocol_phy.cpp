#include "protocol/protocol_phy.h"

#include <cstring>

#include "protocol/control_frame.h"

namespace {
bool needsEscape(uint8_t b) { return b == ctl::kPreamble || b == ctl::kEnd || b == ctl::kEscape; }
// The byte an escape pair stands for, or -1 when the pair is not one we make.
int unescape(uint8_t b) {
    const uint8_t v = b ^ ctl::kEscapeXor;
    return needsEscape(v) ? v : -1;
}
}  // namespace

namespace {
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;
// True when one of the eight bytes of w equals b.
inline bool hasByte(uint64_t w, uint8_t b) {
    const uint64_t v = w ^ (kOnes * b);
    return ((v - kOnes) & ~v & kHighs) != 0;
}
}  // namespace

size_t plainRun(const uint8_t* data, size_t n) {
    size_t i = 0;
    // Eight bytes at a time (memcpy: no unaligned load on the board), then byte by byte.
    for (uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, data + i, 8);
        if (hasByte(w, ctl::kPreamble) || hasByte(w, ctl::kEnd) || hasByte(w, ctl::kEscape)) break;
    }
    while (i < n && data[i] != ctl::kPreamble && data[i] != ctl::kEnd && data[i] != ctl::kEscape) ++i;
    return i;
}

int protocol_phy::data_transf_meaning(const uint8_t* line, size_t length, uint8_t* out, size_t cap) {
    size_t i = 0;
    while (i < length && line[i] == ctl::kPreamble) ++i;
    if (i == 0 || length < i + 1 || line[length - 1] != ctl::kEnd) return -1;
    size_t o = 0;
    for (const size_t end = length - 1; i < end; ++i) {
        uint8_t b = line[i];
        if (b == ctl::kPreamble || b == ctl::kEnd) return -1;
        if (b == ctl::kEscape) {
            if (++i >= end) return -1;
            const int v = unescape(line[i]);
            if (v < 0) return -1;
            b = uint8_t(v);
        }
        if (o >= cap) return -1;
        out[o++] = b;
    }
    return int(o);
}

size_t protocol_phy::data_re_transf_meaning(std::vector<uint8_t>& out, const uint8_t* frame, size_t length) {
    out.clear();
    out.reserve(length + length / 8 + ctl::kPreambleCount + 1);
    out.insert(out.end(), ctl::kPreambleCount, ctl::kPreamble);
    size_t i = 0;
    while (i < length) {
        // Runs of plain bytes (nearly all of a file block) go over in one copy.
        const size_t run = plainRun(frame + i, length - i);
        out.insert(out.end(), frame + i, frame + i + run);
        i += run;
        if (i < length) {
            out.push_back(ctl::kEscape);
            out.push_back(frame[i] ^ ctl::kEscapeXor);
            ++i;
        }
    }
    out.push_back(ctl::kEnd);
    return out.size();
}

void protocol_phy::swap_phy_head(uint8_t* frame) {
    for (size_t k = 0; k < 2; ++k) {
        const uint8_t t = frame[ctl::kDst + k];
        frame[ctl::kDst + k] = frame[ctl::kSrc + k];
        frame[ctl::kSrc + k] = t;
    }
}

frame_deframer::frame_deframer(size_t maxFrame) : max_(maxFrame) {}

void frame_deframer::reset() {
    state_ = State::Idle;
    escape_ = bad_ = false;
    buf_.clear();
}

bool frame_deframer::takePlain(const uint8_t* data, size_t n) {
    if (state_ == State::Idle) return true;
    if (escape_) return false;
    if (bad_) {
        state_ = State::Body;
        return true;
    }
    if (buf_.size() + n > max_) return false;
    state_ = State::Body;
    buf_.insert(buf_.end(), data, data + n);
    return true;
}

bool frame_deframer::push(uint8_t b) {
    if (b == ctl::kPreamble) {
        // A preamble inside a frame means the frame before it was cut short.
        if (state_ == State::Body) ++dropped_;
        state_ = State::Preamble;
        escape_ = bad_ = false;
        buf_.clear();
        return false;
    }
    if (state_ == State::Idle) return false;
    if (b == ctl::kEnd) {
        const bool good = !bad_ && !escape_ && state_ == State::Body;
        if (!good && state_ == State::Body) ++dropped_;
        state_ = State::Idle;
        return good;
    }
    state_ = State::Body;
    if (bad_) return false;
    if (escape_) {
        escape_ = false;
        const int v = unescape(b);
        if (v < 0) {
            bad_ = true;
            return false;
        }
        b = uint8_t(v);
    } else if (b == ctl::kEscape) {
        escape_ = true;
        return false;
    }
    if (buf_.size() >= max_) {
        bad_ = true;
        buf_.clear();
        buf_.shrink_to_fit();
        return false;
    }
    buf_.push_back(b);
    return false;
}
