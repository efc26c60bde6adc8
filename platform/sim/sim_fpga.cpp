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

constexpr uint8_t kRegScreen = 0;
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

bool readOnly(uint8_t r) {
    return r == kRegVersion || r == kRegStatus || (r >= 28 && r <= 31) || r == kRegAgeCounter ||
           r == kRegAgeValue || r == kRegLinks0 || r == kRegLinks8;
}

}  // namespace

SimFpga::SimFpga(std::string name, SimFpgaLines lines) : SpiDeviceModel(std::move(name)), lines_(lines) {
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
    std::vector<uint8_t> out(length, 0);
    auto it = rams_.find(number);
    if (it == rams_.end()) return out;
    for (size_t k = 0; k < length; ++k) out[k] = it->second[(address + k) % kRamBytes];
    return out;
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
        const bool bad = (reads40_++ % 8) < profile_.badLinkSamples || lockBroken_;
        return static_cast<uint8_t>((regs_[r] & ~0x1C) | (bad ? 0x04 : 0x1C));
    }
    case kRegAgeCounter: return counter42_++;
    case kRegLinks0: return static_cast<uint8_t>(portLinks_);
    case kRegLinks8: return static_cast<uint8_t>(portLinks_ >> 8);
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
    if (r == kRegVboStatus) {
        // status bits come from the link; bits 5 and 6 are acknowledged by writing 0
        const uint8_t keep = kDrivenBits22;
        regs_[r] = static_cast<uint8_t>((regs_[r] & (keep | ~mask)) | (set & ~keep & ~0x60));
        return;
    }
    regs_[r] = static_cast<uint8_t>((regs_[r] & ~mask) | set);
}

void SimFpga::transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) {
    if (inReset()) return;  // MISO undriven
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
        return "OK " + std::to_string(regs_[static_cast<size_t>(r)]);
    }
    if (args.size() == 1 && args[0] == "status") {
        return std::string("OK ") + (inReset() ? "reset" : "running") + (locked_ ? " locked" : " unlocked") +
               (videoOn() ? " video-on" : " video-off") + (black() ? " black" : "") + " resets " +
               std::to_string(resets_) + " misuse " + std::to_string(misuseCount());
    }
    return "ERR fpga: status | reset hold|release | break-lock | reg N";
}

}  // namespace plat::sim
