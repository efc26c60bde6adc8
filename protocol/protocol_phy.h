#pragma once
// Line coding of control frames: A5 A5 A5, the frame with 0xA5, 0x5A and the escape
// byte 0xAA replaced by 0xAA (byte ^ 0x20), and a final 0x5A. Neither 0xA5 nor 0x5A
// ever occurs inside an encoded frame, so a receiver finds frame starts and ends in
// any byte stream.
#include <cstddef>
#include <cstdint>
#include <vector>

class protocol_phy {
public:
    // Removes the preamble, the end byte and the escaping of one line frame (one or more
    // 0xA5, the escaped bytes, 0x5A). Returns the frame length, or -1 for a malformed
    // line frame (no preamble, no end byte, bad escape, 0xA5 inside) or one that does
    // not fit `cap`.
    static int data_transf_meaning(const uint8_t* line, size_t length, uint8_t* out, size_t cap);
    // Encodes `length` frame bytes for the line into `out` (replacing its contents);
    // returns the encoded length.
    static size_t data_re_transf_meaning(std::vector<uint8_t>& out, const uint8_t* frame, size_t length);
    // Reply header: source and destination change places.
    static void swap_phy_head(uint8_t* frame);
};

// Stream deframer: bytes as they come off a TCP connection or a serial line, in pieces
// of any size, out come the decoded frames. A frame is cut off (and dropped) by a new
// preamble or by growing past the largest frame; bytes between frames are skipped.
// Length of the run of bytes at `data` that travel unescaped (no A5, 5A or AA).
size_t plainRun(const uint8_t* data, size_t n);

class frame_deframer {
public:
    explicit frame_deframer(size_t maxFrame);
    // Calls onFrame(frame, length) for each complete, well-escaped frame in the bytes.
    template <typename F>
    void feed(const uint8_t* data, size_t n, F&& onFrame) {
        size_t i = 0;
        while (i < n) {
            // Inside a frame a run of plain bytes is taken whole; the byte after it (or
            // any byte the fast path does not take) goes through push().
            const size_t run = plainRun(data + i, n - i);
            if (run && takePlain(data + i, run)) {
                i += run;
                continue;
            }
            if (push(data[i])) onFrame(buf_.data(), buf_.size());
            ++i;
        }
    }
    void reset();
    // Frames dropped so far (bad escape, cut off, too long).
    unsigned dropped() const { return dropped_; }

private:
    // true when a frame was completed by this byte
    bool push(uint8_t b);
    // Takes n bytes none of which is special as push() would, all at once: appended to
    // the open frame, or ignored between frames and in a spoilt frame. False (nothing
    // done) while an escape is pending or when they would not fit: push() then goes on.
    bool takePlain(const uint8_t* data, size_t n);
    enum class State { Idle, Preamble, Body } state_ = State::Idle;
    bool escape_ = false;
    bool bad_ = false;
    size_t max_;
    unsigned dropped_ = 0;
    std::vector<uint8_t> buf_;
};
