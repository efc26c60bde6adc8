#include "protocol/control_link.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <chrono>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/waits.h"
#include "protocol/control_frame.h"
#include "protocol/link_gate.h"
#include "protocol/pass_reply.h"
#include "protocol/protocol_engines.h"

using namespace ctl;

namespace {
// One pass-through exchange at a time (g_passby_trans_port names a single transport, the
// cards' bus carries one frame at a time), in turns by machine: a TCP client, a serial line,
// the UDP senders of one source address. Each machine with a pass-through waiting gets one
// turn in its round, its own in the order they came, so a machine that queues many (a host
// sending from many ports, a link that sends back to back) costs another at most one
// exchange. A plain mutex lets the link that just finished take it again at once, and plain
// arrival order lets one host's backlog hold everyone else for seconds.
class PassTurns {
public:
    void lock(uint64_t machine) {
        plat::lockcheck::acquiring(plat::Lock::PassTurn, this);
        {
            std::unique_lock<plat::Mutex> l(mutex_);
            const uint32_t mine = next_++;
            if (!held_ && ring_.empty()) {
                granted_ = mine;
                held_ = true;
            } else {
                queue(machine, mine);
            }
            turn_.wait(l, [&] { return granted_ == mine; });
            holder_ = machine;
        }
        plat::lockcheck::acquired(plat::Lock::PassTurn, this);
    }
    void unlock() {
        if (!plat::lockcheck::released(plat::Lock::PassTurn, this)) return;
        {
            std::lock_guard<plat::Mutex> l(mutex_);
            held_ = false;
            grantNext();
        }
        turn_.notify_all();
    }
    unsigned waiting() {
        std::lock_guard<plat::Mutex> l(mutex_);
        return waiting_;
    }

private:
    struct Machine {
        uint64_t id;
        std::deque<uint32_t> tickets;   // its pass-throughs waiting, in the order they came
    };
    void queue(uint64_t machine, uint32_t ticket) {
        ++waiting_;
        for (Machine& m : ring_)
            if (m.id == machine) {
                m.tickets.push_back(ticket);
                return;
            }
        ring_.push_back({machine, {ticket}});
    }
    // The next machine of the round; the one that just had its turn goes last.
    void grantNext() {
        if (ring_.empty()) return;
        if (ring_.front().id == holder_ && ring_.size() > 1) {
            ring_.push_back(std::move(ring_.front()));
            ring_.pop_front();
        }
        Machine m = std::move(ring_.front());
        ring_.pop_front();
        granted_ = m.tickets.front();
        m.tickets.pop_front();
        --waiting_;
        held_ = true;
        if (!m.tickets.empty()) ring_.push_back(std::move(m));
    }
    plat::Mutex mutex_{plat::Lock::PassTurnCounters};   // the turn state below, on every link thread (a leaf)
    plat::CondVar turn_;
    std::deque<Machine> ring_;   // machines with pass-throughs waiting, in the order of their turns
    uint32_t next_ = 0;
    uint32_t granted_ = UINT32_MAX;
    uint64_t holder_ = 0;        // machine of the exchange running or last run
    unsigned waiting_ = 0;
    bool held_ = false;
};
// The pass turn held for one exchange.
class PassTurn {
public:
    PassTurn(PassTurns& turns, uint64_t machine) : turns_(turns) { turns_.lock(machine); }
    ~PassTurn() { turns_.unlock(); }
    PassTurn(const PassTurn&) = delete;
    PassTurn& operator=(const PassTurn&) = delete;

private:
    PassTurns& turns_;
};
// Machine numbers of links that are machines of their own; UDP hosts are kUdpHostMachine
// and their address.
std::atomic<uint32_t> g_nextMachine{1};   // any link's constructor
PassTurns g_passTurns;   // its own lock
// The engine ignores card frames of 1024 bytes or more.
constexpr size_t kMaxCardFrame = 1024;
bool forTheCards(const uint8_t* frame) { return rd16(frame + kDst) < kAddrCardsBelow && rd16(frame + kSrc) == kAddrPc; }
using Clock = std::chrono::steady_clock;
// Backstop for a tick that stands still (the GUI thread busy): the answer's wait still ends
// after 3 s, and sooner with pass-throughs queued behind (3 s shared with them, never below
// the window's 0.8 s), so that a stalled tick does not cost each of them 3 s.
constexpr auto kPassWaitCeiling = std::chrono::milliseconds(3000);
constexpr auto kPassWaitFloor = std::chrono::milliseconds(800);
bool answerWaitOver(uint32_t start, Clock::time_point wallStart) {
    if (Utils::getTimeSpace(start) > control_link::kPassWaitTicks) return true;
    const auto ceiling = std::max<Clock::duration>(kPassWaitFloor, kPassWaitCeiling / (1 + g_passTurns.waiting()));
    return Clock::now() - wallStart > ceiling;
}
// An FPGA the frame goes to restarts (reset hold and start steps take about 4 s): the frame
// waits for it. The bound counts from the first pass-through that waited for this restart,
// so those queued behind it wait for the same restart, not each for a bound of its own.
constexpr uint32_t kRestartWaitTicks = 600;
constexpr auto kRestartWaitCeiling = std::chrono::seconds(8);   // the tick may stand still
constexpr uint64_t kRestartPollUs = 1000;
struct RestartWait {   // the pass turn's holder only
    bool waiting = false;
    uint32_t since = 0;
    Clock::time_point wallSince;
    bool over() {
        if (!waiting) {
            waiting = true;
            since = G_timeTicks.load();
            wallSince = Clock::now();
        }
        return Utils::getTimeSpace(since) > kRestartWaitTicks || Clock::now() - wallSince > kRestartWaitCeiling;
    }
};
RestartWait g_restartWait;   // under the pass turn (g_passTurns)
}  // namespace

control_link::control_link(uint8_t transport)
    : transport_(transport), machine_(g_nextMachine.fetch_add(1)), deframer_(kMaxFrame) {}

void control_link::onBytes(const uint8_t* data, size_t n, const Send& send) {
    deframer_.feed(data, n, [&](const uint8_t* frame, size_t length) { handleFrame(frame, length, send); });
}

bool control_link::wholeFrame(const uint8_t* frame, size_t length) {
    return length >= kMinFrame && Utils::BCC(frame, unsigned(length - 1)) == frame[length - 1];
}

// Too short for a header, or a bad BCC: dropped without a reply.
bool control_link::checked(const uint8_t* frame, size_t length) {
    if (wholeFrame(frame, length)) return true;
    ++badFrames_;
    writeLogMsg(LOG_DEBUG, "protocol: frame of " + std::to_string(length) + " bytes dropped (short or bad BCC)");
    return false;
}

bool control_link::fits(size_t length, const HoldBound& bound) const {
    return held_.size() < bound.frames && length <= bound.bytes - std::min(bound.bytes, heldBytes_);
}

size_t control_link::holdBytes(const uint8_t* data, size_t n, const HoldBound& bound, size_t* pastBound) {
    size_t whole = 0;
    deframer_.feed(data, n, [&](const uint8_t* frame, size_t length) {
        if (!checked(frame, length)) return;
        ++whole;
        if (!fits(length, bound)) {
            if (pastBound) ++*pastBound;
            return;
        }
        held_.push_back({std::vector<uint8_t>(frame, frame + length), G_timeTicks.load()});
        heldBytes_ += length;
    });
    return whole;
}

bool control_link::holdFrame(std::vector<uint8_t>&& frame, const HoldBound& bound) {
    if (!fits(frame.size(), bound)) return false;
    heldBytes_ += frame.size();
    held_.push_back({std::move(frame), G_timeTicks.load()});
    return true;
}

void control_link::handleHeldFrame(const Send& send) {
    if (held_.empty()) return;
    const std::vector<uint8_t> frame = takeHeldFrame();
    handleFrame(frame.data(), frame.size(), send);
}

bool control_link::mayTakeLong(const Held& held) {
    const std::vector<uint8_t>& f = held.frame;
    if (f.size() < kMinFrame) return false;
    return forTheCards(f.data()) || message_deal::mayTakeLong(f.data(), f.size());
}

bool control_link::heldFrameMayTakeLong() const { return !held_.empty() && mayTakeLong(held_.front()); }

size_t control_link::dropHeldFrames(bool longOnly) {
    const size_t before = held_.size();
    if (longOnly)
        held_.erase(std::remove_if(held_.begin(), held_.end(), mayTakeLong), held_.end());
    else
        held_.clear();
    countHeldBytes();
    return before - held_.size();
}

size_t control_link::trimHeldFrames(size_t keep) {
    if (held_.size() <= keep) return 0;
    const size_t dropped = held_.size() - keep;
    held_.resize(keep);
    countHeldBytes();
    return dropped;
}

size_t control_link::dropHeldFramesOlderThan(uint32_t ticks) {
    size_t dropped = 0;
    for (; !held_.empty() && Utils::getTimeSpace(held_.front().since) > ticks; ++dropped) {
        heldBytes_ -= held_.front().frame.size();
        held_.pop_front();
    }
    return dropped;
}

std::vector<uint8_t> control_link::takeHeldFrame() {
    std::vector<uint8_t> frame = std::move(held_.front().frame);
    held_.pop_front();
    heldBytes_ -= frame.size();
    // a file command keeps its link's place from here, not from when its job's thread runs
    if (frame.size() >= kMinFrame && !forTheCards(frame.data())) deal_.starting(frame.data(), frame.size());
    return frame;
}

void control_link::handleFrame(const uint8_t* frame, size_t length, const Send& send) {
    if (!link_gate::open()) {  // the program stops: nothing more is carried out
        link_gate::turnAway();
        return;
    }
    if (!checked(frame, length)) return;
    const bool card = forTheCards(frame);
    // only what shares the cards' bus holds the engine's own card frames
    if (card || message_deal::holdsCardBus(frame, length)) pc_window::note();
    if (card) {
        passThrough(frame, length, send);
        return;
    }
    if (deal_.message_group_deal(frame, length, reply_) < 0) return;
    protocol_phy::data_re_transf_meaning(encoded_, reply_.data(), reply_.size());
    // A change made after a stop signal may miss the last save: it is not answered "done".
    if (link_gate::open()) send(encoded_);
}

void control_link::countHeldBytes() {
    heldBytes_ = 0;
    for (const auto& h : held_) heldBytes_ += h.frame.size();
}

void HeldBacklog::note(size_t heldBytes) {
    peak_ = std::max(peak_, heldBytes);
    if (heldBytes != 0 || peak_ < kTrimAfter) return;
    peak_ = 0;
#ifdef __GLIBC__
    malloc_trim(0);
    ++trims_;
#endif
}

namespace {
constexpr int kDropLineMs = 1000;
constexpr uint32_t kDropLineTicks = kDropLineMs / 10;
}  // namespace

void DropLog::log(const std::string& what, size_t frames) {
    if (frames == 0) return;
    unlogged_ += frames;
    lastWhat_ = what;
    if (logged_ && Utils::getTimeSpace(lastLine_) < kDropLineTicks) return;
    std::string line = what + ": " + std::to_string(frames) + " " + counted_;
    if (unlogged_ > frames) line += " (" + std::to_string(unlogged_) + " in all since the last such line)";
    write(line);
}

void DropLog::flushDue() {
    if (unlogged_ == 0 || Utils::getTimeSpace(lastLine_) < kDropLineTicks) return;
    write(std::to_string(unlogged_) + " " + counted_ + " since the last such line, the last: " + lastWhat_);
}

int DropLog::waitMs(int otherwise) const {
    return pending() && (otherwise < 0 || otherwise > kDropLineMs) ? kDropLineMs : otherwise;
}

int DropLog::waitMs(std::initializer_list<const DropLog*> logs, int otherwise) {
    for (const DropLog* l : logs) otherwise = l->waitMs(otherwise);
    return otherwise;
}

void DropLog::flushDue(std::initializer_list<DropLog*> logs) {
    for (DropLog* l : logs) l->flushDue();
}

void DropLog::write(const std::string& line) {
    writeLogMsg(LOG_WARNING, link_ + ": " + line);
    unlogged_ = 0;
    logged_ = true;
    lastLine_ = G_timeTicks.load();
}

unsigned control_link::passThroughsWaiting() { return g_passTurns.waiting(); }

void control_link::passThrough(const uint8_t* frame, size_t length, const Send& send) {
    if (length >= kMaxCardFrame) {
        writeLogMsg(LOG_WARNING, "protocol: card frame of " + std::to_string(length) + " bytes not passed");
        return;
    }
    const PassTurn exchange(g_passTurns, machine_);
    const ProtocolEnginesInUse engines;
    ProtocolEngines& eng = protocolEngines();
    int passed;
    for (;;) {
        // the engine's own card frames keep off the bus from the send until the answer is in
        pc_window::note();
        protocol_clear_reply(transport_);
        g_passby_trans_port = transport_;
        passed = eng.passToCards(frame, unsigned(length));
        if (passed != kEngineRestarting) break;
        g_passby_trans_port = kTransportNone;
        if (g_restartWait.over()) {
            // those queued now give up at once; the next to come alone waits afresh
            if (g_passTurns.waiting() == 0) g_restartWait.waiting = false;
            writeLogMsg(LOG_WARNING, "protocol: FPGA still restarting, card frame not passed");
            return;
        }
        plat::workerPace(kRestartPollUs);
    }
    g_restartWait.waiting = false;
    if (passed != kEngineOk) {
        g_passby_trans_port = kTransportNone;
        return;
    }
    const uint32_t start = G_timeTicks.load();
    const auto wallStart = Clock::now();
    std::vector<std::vector<uint8_t>> answers;
    for (;;) {
        eng.serviceCardAnswers();
        if (protocol_take_reply(transport_, &answers)) {
            if (link_gate::open())
                for (const auto& a : answers) send(a);
            return;
        }
        // A silent card or a lost FPGA answer must not hold the link.
        if (answerWaitOver(start, wallStart)) {
            uint8_t mine = transport_;
            g_passby_trans_port.compare_exchange_strong(mine, kTransportNone);
            writeLogMsg(LOG_WARNING, "protocol: no receiving-card answer, pass-through given up");
            return;
        }
        plat::workerPace(200);
    }
}
