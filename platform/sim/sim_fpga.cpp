#include "platform/sim/sim_fpga.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sim/sim_board.h"

namespace plat::sim {

namespace {

constexpr uint16_t kHigh = 16;
constexpr uint16_t kLow = 0;
constexpr size_t kRamBytes = 4096;

constexpr uint8_t kCmdRamWrite = 0x02;
constexpr uint8_t kCmdRamRead = 0x03;
constexpr uint8_t kCmdRegWrite = 0x04;
constexpr uint8_t kCmdRegRead = 0x05;

constexpr uint8_t kRegApply = 2;
constexpr uint8_t kRegVideo = 3;
constexpr uint8_t kRegBrightness = 6;
constexpr uint8_t kRegVersion = 7;
constexpr uint8_t kRegStatus = 21;
constexpr uint8_t kRegVboStatus = 22;
constexpr uint8_t kRegHandshake = 23;
constexpr uint8_t kRegLinkGood = 40;
constexpr uint8_t kRegAgeCounter = 42;
constexpr uint8_t kRegAgeValue = 43;
constexpr uint8_t kRegLinks0 = 128;
constexpr uint8_t kRegLinks8 = 144;

constexpr uint8_t kVboError = 0x08;
constexpr uint8_t kVboLocked = 0x10;
constexpr uint8_t kInputReady = 0x80;
constexpr uint8_t kDrivenBits22 = 0x04 | kVboError | kVboLocked | kInputReady;

constexpr uint16_t kMeasuredAt = 116;  // RAM 1: width, height, pixel clock

// Port pairs: pair P (0..7) serves ports 2P and 2P+1; pairs 0..3 are controlled through
// registers 129..132 and pairs 4..7 through 145..148.
constexpr uint8_t kRegPairStatus[2] = {129, 145};   // bit 2k ready, 2k+1 transmit busy
constexpr uint8_t kRegPairControl[2] = {130, 146};  // bits 0..3 release, 4..7 start
constexpr uint8_t kRegPairAck[2] = {131, 147};
constexpr uint8_t kRegPortSelect[2] = {132, 148};
constexpr uint8_t kRegRxLow[8] = {24, 133, 135, 137, 149, 150, 151, 152};
constexpr uint8_t kRegRxHigh[2] = {25, 153};
constexpr uint8_t kRegTxLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr uint8_t kRegTxHigh[2] = {27, 158};
constexpr size_t kPairRamBytes = 1024;
constexpr BoardNs kTickNs = 10 * kNsPerMs;

bool fpgaDriven(uint8_t r) {
    if (r == kRegPairStatus[0] || r == kRegPairStatus[1] || r == kRegRxHigh[0] || r == kRegRxHigh[1]) return true;
    for (uint8_t x : kRegRxLow)
        if (r == x) return true;
    return false;
}

bool readOnly(uint8_t r) {
    return r == kRegVersion || r == kRegStatus || (r >= 28 && r <= 31) || r == kRegAgeCounter ||
           r == kRegAgeValue || r == kRegLinks0 || r == kRegLinks8 || fpgaDriven(r);
}

}  // namespace

SimFpga::SimFpga(std::string name, SimFpgaLines lines) : SpiDeviceModel(std::move(name)), lines_(lines) {
    index_ = !this->name().empty() && this->name().back() == '1' ? 1 : 0;
    powerOn();
}

void SimFpga::attached(SimBoard& board) {
    board_ = &board;
    if (lines_.reset) {
        // the line is watched: a reset pulse needs no SPI traffic to be seen
        board.watchGpio(lines_.reset, [this](uint32_t, uint16_t, uint16_t level) { resetLevel(level == kLow); });
        resetLevel(board.gpio(lines_.reset) == kLow);
    }
}

void SimFpga::powerOn() {
    regs_.fill(0);
    regs_[kRegVersion] = profile_.version;
    for (int k = 0; k < 4; ++k) regs_[28 + k] = profile_.identity[static_cast<size_t>(k)];
    rams_.clear();
    applyMeasured();
    haveCommand_ = false;
    if (board_ && lockEvent_) board_->clock().cancel(lockEvent_);
    lockEvent_ = 0;
    locked_ = false;
    lockBroken_ = false;
    applied_.clear();
    appliedBrightness_ = -1;
    for (auto& q : rxQueue_) q.clear();
    rxReady_.fill(false);
    txBusyUntil_.fill(0);
    if (board_ && lines_.interrupt) board_->setReg16(lines_.interrupt, kLow);
}

void SimFpga::resetLevel(bool low) {
    low = low || forcedReset_;
    if (low && !inReset_) {
        inReset_ = true;
        ++resets_;
        if (board_ && lockEvent_) board_->clock().cancel(lockEvent_);
        lockEvent_ = 0;
        locked_ = false;
    } else if (!low && inReset_) {
        inReset_ = false;
        powerOn();
    }
}

void SimFpga::holdInReset(bool hold) {
    forcedReset_ = hold;
    const bool line = board_ && lines_.reset && board_->gpio(lines_.reset) == kLow;
    resetLevel(line);
}

void SimFpga::breakLock() {
    if (board_ && lockEvent_) board_->clock().cancel(lockEvent_);
    lockEvent_ = 0;
    locked_ = false;
    lockBroken_ = true;
}

// The receiver locks some time after the second start step.
void SimFpga::startLock() {
    if (profile_.neverLocks || !board_) return;
    if (lockEvent_) board_->clock().cancel(lockEvent_);
    lockEvent_ = board_->clock().after(BoardNs(profile_.lockDelayUs) * kNsPerUs, [this] {
        lockEvent_ = 0;
        locked_ = true;
        lockBroken_ = false;
    });
}

void SimFpga::setPortLinks(uint16_t ports) { portLinks_ = ports; }

template <typename Read>
auto SimFpga::observe(Read read) const -> decltype(read()) {
    if (!board_) return read();
    decltype(read()) value{};
    board_->underLock([&] { value = read(); });
    return value;
}

bool SimFpga::inReset() const { return observe([this] { return inReset_ || forcedReset_; }); }
bool SimFpga::locked() const { return observe([this] { return locked_; }); }
uint8_t SimFpga::reg(uint8_t r) const { return observe([&] { return regs_[r]; }); }
void SimFpga::setReg(uint8_t r, uint8_t v) {
    observe([&] {
        regs_[r] = v;
        return v;
    });
}
std::vector<uint8_t> SimFpga::appliedGeometry() const { return observe([this] { return applied_; }); }
unsigned SimFpga::applyCount() const { return observe([this] { return applyCount_; }); }
int SimFpga::appliedBrightness() const { return observe([this] { return appliedBrightness_; }); }
unsigned SimFpga::resets() const { return observe([this] { return resets_; }); }
SimFpga::Counters SimFpga::counters() const { return observe([this] { return counters_; }); }

void SimFpga::attachCards(int port, size_t n) {
    if (port < 0 || port > 15) return;
    if (n == 0) {
        chains_.erase(port);
        portLinks_ = uint16_t(portLinks_ & ~(1u << port));
        return;
    }
    chains_[port] = CardChain(n);
    portLinks_ = uint16_t(portLinks_ | (1u << port));
}

CardChain* SimFpga::chain(int port) {
    auto it = chains_.find(port);
    return it == chains_.end() ? nullptr : &it->second;
}

unsigned SimFpga::cardFramesDropped() const {
    unsigned n = lostAnswers_;
    for (const auto& [port, c] : chains_) n += c.dropped;
    return n;
}

void SimFpga::logCard(int port, bool answer, const uint8_t* p, size_t n) {
    cardLog_.push({board_ ? board_->clock().now() : 0, index_, port, answer, std::vector<uint8_t>(p, p + n)});
}

// The start bit of pair P: the frame in its transmit RAM goes out on the selected port.
void SimFpga::startTransmit(int pair) {
    const int half = pair / 4, k = pair % 4;
    const uint8_t select = regs_[kRegPortSelect[half]];
    const int first = 8 * half + 2 * k;  // the pair's even port
    const uint8_t mine = uint8_t(3 << (2 * k));
    if ((select & mine) == 0 || (select & ~mine) != 0 || (select & mine) == mine) {
        misuse("start of pair " + std::to_string(pair) + " with port select " + std::to_string(select));
        return;
    }
    const int port = (select & (1 << (2 * k))) ? first : first + 1;
    const size_t length = size_t(regs_[kRegTxLow[pair]] | (((regs_[kRegTxHigh[half]] >> (2 * k)) & 3) << 8)) + 1;
    const std::vector<uint8_t> frame = ram(uint8_t(3 + 2 * pair), 0, length);
    if (profile_.txBusyTicks && board_) txBusyUntil_[size_t(pair)] = board_->clock().now() + profile_.txBusyTicks * kTickNs;
    logCard(port, false, frame.data(), frame.size());
    if (!(portLinks_ & (1u << port))) return;  // no cable: the frame is lost
    CardChain* c = chain(port);
    if (!c) return;
    std::string fault;
    std::vector<CardAnswer> answers = c->receive(frame.data(), frame.size(), port, &fault);
    if (!fault.empty()) misuse(fault + " on port " + std::to_string(port));
    for (CardAnswer& a : answers) {
        if (a.delayTicks == 0 || !board_) {
            logCard(port, true, a.bytes.data(), a.bytes.size());
            queueAnswer(pair, std::move(a.bytes));
            continue;
        }
        auto bytes = std::make_shared<std::vector<uint8_t>>(std::move(a.bytes));
        board_->clock().after(a.delayTicks * kTickNs, [this, pair, port, bytes] {
            logCard(port, true, bytes->data(), bytes->size());
            queueAnswer(pair, std::move(*bytes));
            updateInterrupt();
        });
    }
}

void SimFpga::queueAnswer(int pair, std::vector<uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kPairRamBytes) {
        ++lostAnswers_;
        return;
    }
    rxQueue_[size_t(pair)].push_back(std::move(bytes));
    deliver(pair);
}

// The next queued answer of a pair into its receive RAM, once the host released the last.
void SimFpga::deliver(int pair) {
    auto& q = rxQueue_[size_t(pair)];
    if (rxReady_[size_t(pair)] || q.empty()) return;
    const std::vector<uint8_t> a = std::move(q.front());
    q.erase(q.begin());
    loadRam(uint8_t(2 + 2 * pair), 0, a);
    const int half = pair / 4, k = pair % 4;
    const size_t last = a.size() - 1;
    regs_[kRegRxLow[pair]] = uint8_t(last);
    regs_[kRegRxHigh[half]] = uint8_t((regs_[kRegRxHigh[half]] & ~(3 << (2 * k))) | ((last >> 8) & 3) << (2 * k));
    rxReady_[size_t(pair)] = true;
}

// The line is high while any pair holds an answer for the host.
void SimFpga::updateInterrupt() {
    if (!board_ || !lines_.interrupt) return;
    bool any = false;
    for (bool r : rxReady_) any = any || r;
    const uint16_t level = any ? 1 : 0;
    if (board_->gpio(lines_.interrupt) != level) board_->setReg16(lines_.interrupt, level);
}

void SimFpga::setMeasuredInput(uint16_t width, uint16_t height, uint32_t pixelClock) {
    profile_.measuredWidth = width;
    profile_.measuredHeight = height;
    profile_.pixelClock = pixelClock;
    applyMeasured();
}

std::vector<uint8_t>& SimFpga::ramBlock(uint8_t number) {
    std::vector<uint8_t>& b = rams_[number];
    if (b.empty()) b.assign(kRamBytes, 0);
    return b;
}

std::vector<uint8_t> SimFpga::ram(uint8_t number, uint16_t address, size_t length) const {
    return observe([&] {
        std::vector<uint8_t> out(length, 0);
        auto it = rams_.find(number);
        if (it == rams_.end()) return out;
        for (size_t k = 0; k < length; ++k) out[k] = it->second[(address + k) % kRamBytes];
        return out;
    });
}

void SimFpga::loadRam(uint8_t number, uint16_t address, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t>& b = ramBlock(number);
    for (size_t k = 0; k < bytes.size(); ++k) b[(address + k) % kRamBytes] = bytes[k];
}

// The measured input belongs to the FPGA: what the host writes there does not stay.
void SimFpga::applyMeasured() {
    std::vector<uint8_t>& b = ramBlock(1);
    const uint16_t w = profile_.measuredWidth, h = profile_.measuredHeight;
    const uint32_t clk = profile_.pixelClock;
    const uint8_t bytes[8] = {uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8),
                              uint8_t(clk), uint8_t(clk >> 8), uint8_t(clk >> 16), uint8_t(clk >> 24)};
    std::memcpy(b.data() + kMeasuredAt, bytes, sizeof bytes);
}

uint8_t SimFpga::readRegister(uint8_t r) {
    ++counters_.registerReads;
    const uint8_t v = wireValue(r);
    if (r == kRegLinkGood) ++reads40_;
    if (r == kRegAgeCounter) ++counter42_;
    return v;
}

uint8_t SimFpga::wireValue(uint8_t r) const {
    switch (r) {
    case kRegBrightness: return static_cast<uint8_t>(regs_[r] + profile_.brightnessReadbackOffset);
    case kRegVboStatus: {
        const bool lock = locked_;
        uint8_t v = regs_[r] & ~kDrivenBits22;
        if (profile_.vboErrorStuck || lockBroken_) v |= kVboError;
        if (lock) v |= kVboLocked;
        if (lock && !profile_.inputNeverReady) v |= kInputReady;
        return v;
    }
    case kRegHandshake: {
        uint8_t v = regs_[r];
        if (profile_.handshakeEcho == 1) v &= ~0x02;
        if (profile_.handshakeEcho == 2) v |= 0x02;
        return v;
    }
    case kRegLinkGood: {
        const bool bad = (reads40_ % 8) < profile_.badLinkSamples || lockBroken_;
        return static_cast<uint8_t>((regs_[r] & ~0x1C) | (bad ? 0x04 : 0x1C));
    }
    case kRegAgeCounter: return counter42_;
    case kRegLinks0: return static_cast<uint8_t>(portLinks_);
    case kRegLinks8: return static_cast<uint8_t>(portLinks_ >> 8);
    case 129:
    case 145: {
        const int half = r == 145;
        const BoardNs now = board_ ? board_->clock().now() : 0;
        uint8_t v = 0;
        for (int k = 0; k < 4; ++k) {
            if (rxReady_[size_t(4 * half + k)]) v |= uint8_t(1 << (2 * k));
            if (txBusyUntil_[size_t(4 * half + k)] > now) v |= uint8_t(2 << (2 * k));
        }
        return v;
    }
    default: return regs_[r];
    }
}

void SimFpga::writeRegister(uint8_t r, uint8_t value, uint8_t mask) {
    ++counters_.registerWrites;
    const uint8_t set = value & mask;
    if (readOnly(r)) return;
    if (r == kRegApply && (set & 0x04)) misuse("register 2 bit 2 written 1");
    if (r == kRegApply && (set & 0x01)) {
        applied_ = ram(1, 0, 1024);
        ++applyCount_;
    }
    if (r == kRegVideo) {
        if (set & 0x04) appliedBrightness_ = regs_[kRegBrightness];
        if ((mask & 0x80) && !(set & 0x80)) {  // second start step withdrawn: link drops
            if (board_ && lockEvent_) board_->clock().cancel(lockEvent_);
            lockEvent_ = 0;
            locked_ = false;
        }
        if (set & 0x40) lockBroken_ = false;  // the first start step restarts the receiver
        if (set & 0x80) startLock();
    }
    if (r == kRegPairControl[0] || r == kRegPairControl[1]) {
        // pulses, not stored: release bits 0..3 hand the receive RAM back, start bits
        // 4..7 send the pair's transmit RAM
        const int half = r == kRegPairControl[1];
        for (int k = 0; k < 4; ++k) {
            if (set & (1 << k)) {
                rxReady_[size_t(4 * half + k)] = false;
                deliver(4 * half + k);
            }
            if (set & (0x10 << k)) startTransmit(4 * half + k);
        }
        return;
    }
    if (r == kRegPairAck[0] || r == kRegPairAck[1]) ackClears_ += unsigned(__builtin_popcount(regs_[r] & mask & ~value & 0x0F));
    if (r == kRegVboStatus) {
        // status bits come from the link; bits 5 and 6 are acknowledged by writing 0
        const uint8_t keep = kDrivenBits22;
        regs_[r] = static_cast<uint8_t>((regs_[r] & (keep | ~mask)) | (set & ~keep & ~0x60));
        return;
    }
    regs_[r] = static_cast<uint8_t>((regs_[r] & ~mask) | set);
}

void SimFpga::transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) {
    if (inReset_ || forcedReset_) return;  // MISO undriven
    ++counters_.frames;
    counters_.bytes += len;
    const bool commandPhase = ctx.board.gpio(lines_.command) == kHigh &&
                              (!lines_.commandB || ctx.board.gpio(lines_.commandB) == kHigh);
    if (commandPhase) {
        if (len != 4) {
            misuse("command word of " + std::to_string(len) + " bytes");
            haveCommand_ = false;
            return;
        }
        std::memcpy(command_, tx, 4);
        haveCommand_ = true;
        const uint8_t op = command_[0];
        if ((op == kCmdRegRead || op == kCmdRegWrite) && command_[2] >= 64 && command_[2] <= 127)
            misuse("virtual register " + std::to_string(command_[2]) + " on the wire");
        if (op != kCmdRamWrite && op != kCmdRamRead && op != kCmdRegWrite && op != kCmdRegRead) {
            misuse("unknown command type");
            haveCommand_ = false;
        }
        return;
    }
    if (!haveCommand_) {
        misuse("data phase without a command word");
        return;
    }
    haveCommand_ = false;
    const uint8_t op = command_[0];
    if (op == kCmdRegRead) {
        if (len >= 1) rx[0] = readRegister(command_[2]);
    } else if (op == kCmdRegWrite) {
        if (len >= 1) writeRegister(command_[2], tx[0], command_[3]);
    } else {
        const uint8_t number = command_[1];
        const uint16_t address = static_cast<uint16_t>(command_[2] | ((command_[3] & 0x0F) << 8));
        if (address + len > kRamBytes) misuse("RAM access past 4096");
        std::vector<uint8_t>& b = ramBlock(number);
        if (op == kCmdRamWrite) {
            ++counters_.ramWrites;
            for (size_t k = 0; k < len; ++k) b[(address + k) % kRamBytes] = tx[k];
            if (number == 1 && address < kMeasuredAt + 8 && address + len > kMeasuredAt) applyMeasured();
        } else {
            ++counters_.ramReads;
            for (size_t k = 0; k < len; ++k) rx[k] = b[(address + k) % kRamBytes];
            const int w = profile_.corruptRam1Word;
            if (number == 1 && w >= address && w < int(address + len)) rx[w - address] ^= 0x01;
        }
    }
    updateInterrupt();
}

std::string SimFpga::control(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "reset" && (args[1] == "hold" || args[1] == "release")) {
        holdInReset(args[1] == "hold");
        return "OK";
    }
    if (args.size() == 1 && args[0] == "break-lock") {
        breakLock();
        return "OK";
    }
    if (args.size() == 2 && args[0] == "reg") {
        char* end = nullptr;
        const long r = std::strtol(args[1].c_str(), &end, 0);
        if (!end || *end || r < 0 || r > 255) return "ERR reg: 0..255";
        return "OK " + std::to_string(wireValue(static_cast<uint8_t>(r)));
    }
    if (args.size() == 1 && args[0] == "status") {
        return std::string("OK ") + (inReset() ? "reset" : "running") + (locked_ ? " locked" : " unlocked") +
               (videoOn() ? " video-on" : " video-off") + (black() ? " black" : "") + " resets " +
               std::to_string(resets_) + " misuse " + std::to_string(misuseCount());
    }
    if (!args.empty() && (args[0] == "cards" || args[0] == "card" || args[0] == "light")) return cardControl(args);
    return "ERR fpga: status | reset hold|release | break-lock | reg N | cards PORT N | card PORT IDX ... | light L";
}

namespace {
bool number(const std::string& s, long long lo, long long hi, long long* out) {
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || !end || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}
}  // namespace

// "cards PORT N" plugs a chain of N cards (0 unplugs it); "card PORT IDX policy
// answer|silent|badsum|wrongtag", "card PORT IDX delay TICKS", "card PORT IDX config ID",
// "card PORT IDX lost 0|1", "card PORT IDX sensor LEVEL" (a multi-function card),
// "card PORT all|one" (answers to a broadcast), "light LEVEL" (every sensor).
std::string SimFpga::cardControl(const std::vector<std::string>& a) {
    long long port = 0, idx = 0, v = 0;
    if (a[0] == "light") {
        if (a.size() != 2 || !number(a[1], 1, 16, &v)) return "ERR light LEVEL (1..16)";
        for (auto& [p, c] : chains_)
            for (SimCard& card : c.cards)
                if (card.multiFunction) card.light = uint8_t(v);
        return "OK";
    }
    if (a.size() < 3 || !number(a[1], 0, 15, &port)) return "ERR cards PORT(0..15) N | card PORT IDX ...";
    if (a[0] == "cards") {
        if (!number(a[2], 0, 4093, &v)) return "ERR cards PORT N (0..4093)";
        attachCards(int(port), size_t(v));
        return "OK";
    }
    CardChain* c = chain(int(port));
    if (!c) return "ERR no cards on port " + std::to_string(port);
    if (a.size() == 3 && (a[2] == "all" || a[2] == "one")) {
        c->broadcastAllAnswer = a[2] == "all";
        return "OK";
    }
    if (a.size() != 5 || !number(a[2], 0, (long long)c->cards.size() - 1, &idx)) return "ERR card PORT IDX WHAT VALUE";
    SimCard& card = c->cards[size_t(idx)];
    const std::string& what = a[3];
    const std::string& val = a[4];
    if (what == "policy") {
        if (val == "answer") card.policy = CardAnswerPolicy::Answer;
        else if (val == "silent") card.policy = CardAnswerPolicy::Silent;
        else if (val == "badsum") card.policy = CardAnswerPolicy::BadChecksum;
        else if (val == "wrongtag") card.policy = CardAnswerPolicy::WrongTag;
        else return "ERR policy answer|silent|badsum|wrongtag";
        return "OK";
    }
    if (what == "delay" && number(val, 0, 100000, &v)) card.delayTicks = unsigned(v);
    else if (what == "config" && number(val, 0, 0xFFFFFFFFLL, &v)) card.configId = uint32_t(v);
    else if (what == "lost" && number(val, 0, 1, &v)) card.lost = v != 0;
    else if (what == "sensor" && number(val, 1, 16, &v)) {
        card.multiFunction = true;
        card.light = uint8_t(v);
    } else return "ERR card PORT IDX policy|delay|config|lost|sensor VALUE";
    return "OK";
}

}  // namespace plat::sim
