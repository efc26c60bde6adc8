#include "platform/sim/spi_nor_flash.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace plat::sim {

namespace {

constexpr uint8_t kReadStatus = 0x05;
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kWriteDisable = 0x04;
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kSectorErase = 0x20;
constexpr uint8_t kBlockErase32 = 0x52;
constexpr uint8_t kBlockErase64 = 0xD8;
constexpr uint8_t kFastRead = 0x0B;
constexpr uint8_t kReadUniqueId = 0x4B;
constexpr uint8_t kReadJedecId = 0x9F;
constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWel = 0x02;

const NorPart kParts[] = {
    // name, JEDEC id, size, sector, page, tSE, tBE32, tBE64, tPP (typical, microseconds)
    {"nor-8m", 0xEF4017, 0x800000, 4096, 256, 45000, 120000, 150000, 400},
};

}  // namespace

const NorPart& norPart(const std::string& name) {
    for (const NorPart& p : kParts)
        if (name == p.name) return p;
    throw std::invalid_argument("unknown NOR part " + name);
}

// The backing file holds the cells inverted, so a fresh sparse file reads as an erased
// part and only written sectors take space.
SpiNorFlash::SpiNorFlash(const NorPart& part, std::string storeFile, const uint8_t uid[8])
    : part_(part), file_(std::move(storeFile)), array_(part.size, 0xFF) {
    std::memcpy(uid_, uid, sizeof uid_);
    if (file_.empty()) return;
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    // only the written regions of the sparse file hold cells; holes read as erased
    const off_t end = std::min<off_t>(::lseek(fd, 0, SEEK_END), static_cast<off_t>(array_.size()));
    off_t at = 0;
    while (at < end) {
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0 || data >= end) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0 || hole > end) hole = end;
        for (off_t p = data; p < hole;) {
            const ssize_t n = ::pread(fd, array_.data() + p, static_cast<size_t>(hole - p), p);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) array_[static_cast<size_t>(p + i)] = static_cast<uint8_t>(~array_[static_cast<size_t>(p + i)]);
            p += n;
        }
        at = hole;
    }
    ::close(fd);
}

void SpiNorFlash::persist(uint32_t address, size_t length) {
    if (file_.empty()) return;
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::vector<uint8_t> inverted(length);
    for (size_t i = 0; i < length; ++i) inverted[i] = static_cast<uint8_t>(~array_[address + i]);
    size_t put = 0;
    while (put < length) {
        const ssize_t n = ::pwrite(fd, inverted.data() + put, length - put, static_cast<off_t>(address + put));
        if (n <= 0) break;
        put += static_cast<size_t>(n);
    }
    ::close(fd);
}

void SpiNorFlash::guestError(const char* what) {
    ++guestErrors_;
    std::fprintf(stderr, "sim flash %s: %s\n", part_.name, what);
}

bool SpiNorFlash::busy() {
    if (stuck_) return true;
    if (now_) return now_() < busyUntil_;
    return busyLeft_ > 0;
}

void SpiNorFlash::startBusy(uint32_t us) {
    if (now_)
        busyUntil_ = now_() + us;
    else
        busyLeft_ = busyPolls_;
}

void SpiNorFlash::transfer(const uint8_t* tx, uint8_t* rx, size_t len) {
    if (dead_) return;
    counters_.bytes += len;
    for (size_t i = 0; i < len; ++i, ++pos_) {
        const uint8_t b = tx[i];
        if (pos_ == 0) {
            ++counters_.frames;
            if (cutAfter_ && ++commandsSinceArm_ >= cutAfter_) {
                dead_ = true;  // the supply is gone: nothing of this frame lands
                return;
            }
            opcode_ = b;
            address_ = 0;
            programData_.clear();
            if (busy() && b != kReadStatus) {
                guestError("command while busy");
                cmd_ = Cmd::Ignored;
                continue;
            }
            switch (b) {
            case kReadStatus: cmd_ = Cmd::Status; break;
            case kWriteEnable: wel_ = true; cmd_ = Cmd::Ignored; break;
            case kWriteDisable: wel_ = false; cmd_ = Cmd::Ignored; break;
            case kPageProgram: cmd_ = Cmd::Program; break;
            case kSectorErase:
            case kBlockErase32:
            case kBlockErase64: cmd_ = Cmd::Erase; break;
            case kFastRead: cmd_ = Cmd::Read; break;
            case kReadUniqueId: cmd_ = Cmd::Uid; break;
            case kReadJedecId: cmd_ = Cmd::None; break;
            default: guestError("unknown command"); cmd_ = Cmd::Ignored; break;
            }
            continue;
        }
        switch (cmd_) {
        case Cmd::Status:
            rx[i] = static_cast<uint8_t>((busy() ? kStatusBusy : 0) | (wel_ ? kStatusWel : 0));
            if (pos_ == 1) {
                ++counters_.statusReads;
                if (!now_ && busyLeft_ > 0) --busyLeft_;
            }
            break;
        case Cmd::Program:
        case Cmd::Erase:
        case Cmd::Read:
            if (pos_ <= 3) {
                address_ = (address_ << 8) | b;
            } else if (cmd_ == Cmd::Program) {
                programData_.push_back(b);
            } else if (cmd_ == Cmd::Read && pos_ >= 5) {
                rx[i] = array_[(address_ + (pos_ - 5)) % part_.size];
            }
            break;
        case Cmd::Uid:
            if (pos_ >= 5 && pos_ <= 12) rx[i] = uid_[pos_ - 5];
            break;
        case Cmd::None:  // JEDEC id
            if (opcode_ == kReadJedecId && pos_ <= 3) rx[i] = static_cast<uint8_t>(part_.jedecId >> (8 * (3 - pos_)));
            break;
        case Cmd::Ignored: break;
        }
    }
}

void SpiNorFlash::chipSelectReleased() {
    if (dead_) return;
    // program and erase start when chip select rises, as on the part
    if ((cmd_ == Cmd::Program || cmd_ == Cmd::Erase) && pos_ < 4) guestError("frame ended inside the address");
    else if (cmd_ == Cmd::Program || cmd_ == Cmd::Erase) {
        address_ %= part_.size;
        if (!wel_) {
            guestError(cmd_ == Cmd::Erase ? "erase without write enable" : "program without write enable");
        } else if (cmd_ == Cmd::Erase) {
            const uint32_t unit = opcode_ == kSectorErase ? part_.sectorSize : opcode_ == kBlockErase32 ? 0x8000 : 0x10000;
            const uint32_t start = address_ & ~(unit - 1);
            std::fill(array_.begin() + start, array_.begin() + start + unit, 0xFF);
            persist(start, unit);
            ++counters_.erases;
            wel_ = false;
            startBusy(opcode_ == kSectorErase ? part_.sectorEraseUs
                                              : opcode_ == kBlockErase32 ? part_.block32EraseUs : part_.block64EraseUs);
        } else {
            const uint32_t page = address_ & ~(part_.pageSize - 1);
            if ((address_ - page) + programData_.size() > part_.pageSize) guestError("program runs past its page");
            for (size_t k = 0; k < programData_.size(); ++k) {
                const uint32_t at = page + ((address_ - page + k) % part_.pageSize);
                if (programData_[k] & ~array_[at]) guestError("program sets a 0 bit back to 1");
                array_[at] &= programData_[k];
            }
            persist(page, part_.pageSize);
            ++counters_.programs;
            wel_ = false;
            startBusy(part_.pageProgramUs);
        }
    }
    cmd_ = Cmd::None;
    opcode_ = 0;
    pos_ = 0;
}

std::vector<uint8_t> SpiNorFlash::read(uint32_t address, size_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    for (size_t i = 0; i < length && address + i < array_.size(); ++i) out[i] = array_[address + i];
    return out;
}

void SpiNorFlash::load(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (address >= array_.size()) return;
    const size_t n = std::min(bytes.size(), array_.size() - address);
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(n), array_.begin() + address);
    persist(address, n);
}

}  // namespace plat::sim
