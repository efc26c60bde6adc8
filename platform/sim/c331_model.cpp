#include "platform/sim/c331_model.h"

namespace plat::sim {

namespace {

constexpr unsigned kIdBank = 0xB2, kIdAddr = 0x08;
constexpr unsigned kStatusBank = 0x05;
constexpr unsigned kIchVsyncEn = 0x08, kOchVsyncEn = 0x09, kIchVsyncStat = 0x22, kOchVsyncStat = 0x23;
constexpr unsigned kEngineBank = 0x04;
constexpr unsigned kDrawBusy = 0x17, kFlashStat = 0x53, kFlashStat2 = 0x54, kFlashStat3 = 0x55;
constexpr unsigned kRxLockAddr = 0x63;  // bank 0xB2: bits 5 and 7, V-by-One receivers 0 and 1 locked
constexpr unsigned kFieldBank = 0xAB, kFieldFirst = 0x47;
constexpr unsigned kIchFieldBank = 0xA8, kIchFieldFirst = 0x3F;
constexpr uint64_t kFieldUs = 16667;  // 60 Hz

}  // namespace

C331Model::C331Model() { reset(); }

void C331Model::reset() {
    std::lock_guard<std::recursive_mutex> l(m_);
    for (auto& b : regs_) b.fill(0);
    bank_ = 0;
    collecting_.clear();
    collectedRx_.clear();
}

void C331Model::setFrameContext(uint32_t speedHz, bool fpgasQuiet) {
    std::lock_guard<std::recursive_mutex> l(m_);
    frameSpeed_ = speedHz;
    fpgasQuiet_ = fpgasQuiet;
}

void C331Model::setPresence(Presence p) {
    std::lock_guard<std::recursive_mutex> l(m_);
    presence_ = p;
}

void C331Model::setChipIdSequence(std::vector<uint8_t> answers) {
    std::lock_guard<std::recursive_mutex> l(m_);
    idSequence_.assign(answers.begin(), answers.end());
    presence_ = Presence::Flaky;
}

uint8_t C331Model::readReg(unsigned bank, unsigned addr) {
    if (bank == kIdBank && addr == kIdAddr) {
        if (presence_ == Presence::Absent) return 0x00;
        if (presence_ == Presence::Flaky && !idSequence_.empty()) {
            const uint8_t v = idSequence_.front();
            idSequence_.pop_front();
            return v;
        }
        return kChipId;
    }
    if (bank == kIdBank && addr == kRxLockAddr) return uint8_t(regs_[bank][addr] | 0xA0);
    if (bank == kStatusBank && addr == kIchVsyncStat) return regs_[kStatusBank][kIchVsyncEn];
    if (bank == kStatusBank && addr == kOchVsyncStat) return regs_[kStatusBank][kOchVsyncEn];
    if (bank == kEngineBank) {
        if (addr == kDrawBusy) return uint8_t(regs_[bank][addr] & ~0x01);
        if (addr == kFlashStat) return uint8_t((regs_[bank][addr] & ~0x80) | 0x20);
        if (addr == kFlashStat2) return uint8_t(regs_[bank][addr] & ~0x0B);
        if (addr == kFlashStat3) return uint8_t(regs_[bank][addr] & ~0x03);
    }
    if (bank == kIchFieldBank && addr >= kIchFieldFirst && addr < kIchFieldFirst + 5 * 8 &&
        (addr - kIchFieldFirst) % 5 == 0)
        return 0xFF;
    if (bank == kFieldBank && addr >= kFieldFirst && addr < kFieldFirst + 8) {
        const unsigned field = unsigned((nowUs() / kFieldUs) % 5);
        return uint8_t((regs_[bank][addr] & ~0x0C) | ((field & 3) << 2));
    }
    return regs_[bank][addr];
}

void C331Model::transfer(const uint8_t* tx, uint8_t* rx, size_t len) {
    std::lock_guard<std::recursive_mutex> l(m_);
    for (size_t i = 0; i < len; ++i) {
        collecting_.push_back(tx[i]);
        rx[i] = 0xFF;
        collectedRx_.push_back(0xFF);
        // The second byte of a read frame is driven by the chip as it is clocked.
        if (collecting_.size() == 2 && !(collecting_[0] & 0x80) && presence_ != Presence::Absent)
            rx[i] = readReg(unsigned(bank_), collecting_[0] & 0x7F);
        else if (collecting_.size() == 2 && !(collecting_[0] & 0x80))
            rx[i] = 0x00;
        collectedRx_.back() = rx[i];
    }
}

void C331Model::chipSelectReleased() {
    std::lock_guard<std::recursive_mutex> l(m_);
    std::vector<uint8_t> f, r;
    f.swap(collecting_);
    r.swap(collectedRx_);
    if (f.empty()) return;
    const uint32_t speed = frameSpeed_ ? frameSpeed_ : ((f[0] & 0x80) ? kWriteHz : kReadHz);
    counters_.frames++;
    counters_.bytes += f.size();
    counters_.busSeconds += double(f.size()) * 8.0 / double(speed);
    if (!fpgasQuiet_) ++fpgaSelectErrors_;
    if (f.size() != 2) {
        ++guestErrors_;
        return;
    }
    Frame fr{{f[0], f[1]}, {0xFF, 0xFF}, speed, bank_};
    if (f[0] & 0x80) {
        counters_.writes++;
        const unsigned a = f[0] & 0x7F;
        if (presence_ != Presence::Absent) {
            if (a == 0) {
                bank_ = f[1];
                counters_.bankSelects++;
            } else {
                regs_[bank_][a] = f[1];
            }
        }
    } else {
        counters_.reads++;
        fr.rx[1] = r[1];
    }
    if (logOn_) log_.push_back(fr);
    frameSpeed_ = 0;
}

uint8_t C331Model::reg(unsigned bank, unsigned addr) const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return regs_[bank & 0xFF][addr & 0x7F];
}

uint32_t C331Model::regValue(uint32_t desc, unsigned bankOffset) const {
    std::lock_guard<std::recursive_mutex> l(m_);
    const unsigned bank = (((desc >> 16) & 0xFF) + bankOffset) & 0xFF, addr = (desc >> 8) & 0xFF, n = desc & 0xFF;
    uint32_t v = 0;
    for (unsigned i = 0; i < n && i < 4; ++i) v |= uint32_t(regs_[bank][(addr + i) & 0x7F]) << (8 * i);
    return v;
}

void C331Model::setReg(unsigned bank, unsigned addr, uint8_t v) {
    std::lock_guard<std::recursive_mutex> l(m_);
    regs_[bank & 0xFF][addr & 0x7F] = v;
}

int C331Model::selectedBank() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return bank_;
}

C331Model::Counters C331Model::counters() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return counters_;
}

void C331Model::clearCounters() {
    std::lock_guard<std::recursive_mutex> l(m_);
    counters_ = Counters{};
    log_.clear();
}

std::vector<C331Model::Frame> C331Model::frames() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return log_;
}

void C331Model::setFrameLog(bool on) {
    std::lock_guard<std::recursive_mutex> l(m_);
    logOn_ = on;
    if (!on) log_.clear();
}

unsigned C331Model::guestErrors() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return guestErrors_;
}

unsigned C331Model::fpgaSelectErrors() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return fpgaSelectErrors_;
}

}  // namespace plat::sim
