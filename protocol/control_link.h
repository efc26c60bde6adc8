#pragma once
// One control link end: the stream deframer and the command handler of a TCP client,
// a UDP datagram or a serial line. A decoded frame with a good BCC that reaches the FPGAs
// or the cards opens the PC's window (pc_window); frames for the receiving cards are
// passed through the FPGA engine and its answer awaited for a bounded time; all others go
// to message_deal.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

class control_link {
public:
    using Send = std::function<void(const std::vector<uint8_t>& encoded)>;

    // The pass-through waits at most the PC window (80 ticks) for a card's answer.
    // Pass-throughs of every link take turns by machine: each machine with one waiting gets
    // a turn in its round, its own in the order they came.
    static constexpr uint32_t kPassWaitTicks = 80;
    // Machines of the pass turn: each link is one of its own, unless set to one shared by
    // the links of one host (the UDP senders of a source address; its TCP connections).
    static constexpr uint64_t kUdpHostMachine = uint64_t(1) << 63;
    static constexpr uint64_t kTcpHostMachine = uint64_t(1) << 62;

    explicit control_link(uint8_t transport);
    void setMachine(uint64_t machine) { machine_ = machine; }
    // Bytes as received; each reply goes to send() encoded for the line.
    void onBytes(const uint8_t* data, size_t n, const Send& send);
    // One decoded frame.
    void handleFrame(const uint8_t* frame, size_t length, const Send& send);
    // Forgets a partial frame (a new datagram, a reconnected line).
    void resetStream() { deframer_.reset(); }
    // What a link served in turn may hold for the PC behind it: a UDP sender, a serial
    // line. A frame past it is dropped; every frame held waits for the cards at worst.
    static constexpr size_t kHeldFrames = 64;
    static constexpr size_t kHeldBytes = 256 * 1024;
    struct HoldBound {
        size_t frames;
        size_t bytes;
    };
    // Line frame checks: at least a header and a good BCC.
    static bool wholeFrame(const uint8_t* frame, size_t length);
    // For a link that answers one frame at a time (a TCP client served in turn): bytes
    // are decoded into frames held in order, and handleHeldFrame() answers the oldest.
    // A frame with a bad BCC is dropped at once (it is never answered and earns the PC
    // nothing), as is one past `bound` (counted in *pastBound). Returns how many whole
    // frames (good BCC) the bytes completed.
    size_t holdBytes(const uint8_t* data, size_t n, const HoldBound& bound, size_t* pastBound);
    size_t holdBytes(const uint8_t* data, size_t n) { return holdBytes(data, n, {SIZE_MAX, SIZE_MAX}, nullptr); }
    // One whole frame; false (and nothing held) when it is past `bound`.
    bool holdFrame(std::vector<uint8_t>&& frame, const HoldBound& bound);
    bool hasHeldFrame() const { return !held_.empty(); }
    size_t heldBytes() const { return heldBytes_; }
    void handleHeldFrame(const Send& send);
    // The oldest held frame may take seconds (a pass-through waits for the cards, flash
    // work for the part): the TCP server runs it off its thread, with takeHeldFrame() and
    // handleFrame(). handleFrame() shares no state with the held-frame calls, so one
    // thread may hold bytes while another handles a frame taken before.
    bool heldFrameMayTakeLong() const;
    std::vector<uint8_t> takeHeldFrame();
    size_t heldFrames() const { return held_.size(); }
    // Drops the held frames that may take long (every held frame when longOnly is false),
    // keeping the others in order; returns how many went.
    size_t dropHeldFrames(bool longOnly);
    // Drops the held frames past the first `keep`; returns how many went.
    size_t trimHeldFrames(size_t keep);
    // Drops the held frames that have waited more than `ticks` since they were held (the
    // oldest come first); returns how many went.
    size_t dropHeldFramesOlderThan(uint32_t ticks);

    // A file transfer is open or a file command runs on this link (any thread may ask).
    bool transferOpen() const { return deal_.transferOpen(); }
    unsigned droppedFrames() const { return deframer_.dropped() + badFrames_; }
    // Pass-throughs of all links waiting for their turn (not counting the one running).
    static unsigned passThroughsWaiting();

private:
    bool checked(const uint8_t* frame, size_t length);
    void countHeldBytes();
    bool fits(size_t length, const HoldBound& bound) const;
    struct Held {
        std::vector<uint8_t> frame;
        uint32_t since;   // tick it was held
    };
    static bool mayTakeLong(const Held& held);
    void passThrough(const uint8_t* frame, size_t length, const Send& send);
    uint8_t transport_;
    uint64_t machine_;
    frame_deframer deframer_;
    message_deal deal_;
    unsigned badFrames_ = 0;
    std::vector<uint8_t> reply_;
    std::vector<uint8_t> encoded_;
    std::deque<Held> held_;
    size_t heldBytes_ = 0;
};

// Gives the heap back to the system once a backlog of held frames has drained: the C
// library keeps freed blocks for later, and the board has little memory. One per link
// thread; note() after each turn with the bytes held then.
class HeldBacklog {
public:
    static constexpr size_t kTrimAfter = 128 * 1024;
    void note(size_t heldBytes);
    // Heap returns made so far by every link (where the C library has them).
    static uint32_t trims() { return trims_.load(); }

private:
    size_t peak_ = 0;
    static inline std::atomic<uint32_t> trims_{0};  // the link threads count, tests read
};

// Frames dropped by a link (`what` says why), logged at once and then at most a line a
// second with the count since the last one, so a flood does not flood the log too. `counted`
// says what befell them. The link's thread calls flushDue() after its passes, and waits
// no longer than waitMs() for it: the count of a burst's end is written too, and a thread
// with nothing pending is not woken for its logs.
class DropLog {
public:
    explicit DropLog(std::string link, std::string counted = "dropped") : link_(std::move(link)), counted_(std::move(counted)) {}
    void log(const std::string& what, size_t frames);
    bool pending() const { return unlogged_ > 0; }
    void flushDue();
    // A poll wait of `otherwise` ms (-1: none) cut to a line's interval while pending().
    int waitMs(int otherwise) const;
    // The same for a thread with several logs, and each of them flushed.
    static int waitMs(std::initializer_list<const DropLog*> logs, int otherwise);
    static void flushDue(std::initializer_list<DropLog*> logs);

private:
    void write(const std::string& line);
    const std::string link_;
    const std::string counted_;
    std::string lastWhat_;
    uint32_t lastLine_ = 0;
    bool logged_ = false;
    size_t unlogged_ = 0;
};
