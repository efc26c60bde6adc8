#include "platform/sim/spi_nor_flash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/platform.h"
#include "platform/sim/sim_board.h"

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

const uint8_t kFpgaFlashUid[2][8] = {{0xD2, 0x61, 0x3A, 0x0C, 0x47, 0x15, 0x88, 0x02},
                                     {0xD2, 0x61, 0x3A, 0x0C, 0x47, 0x15, 0x88, 0x03}};

const NorPart& norPart(const std::string& name) {
    for (const NorPart& p : kParts)
        if (name == p.name) return p;
    throw std::invalid_argument("unknown NOR part " + name);
}

SpiNorFlash::SpiNorFlash(std::string name, const NorPart& part, std::string store, const uint8_t uid[8])
    : SpiDeviceModel(std::move(name)), part_(part), storeFile_(std::move(store)) {
    std::memcpy(uid_, uid, sizeof uid_);
}

void SpiNorFlash::attached(SimBoard&) { store(); }

// Opened on first use: a model made for a unit test may never be attached.
ChipStore& SpiNorFlash::store() {
    if (!store_) {
        std::string file = storeFile_;
        if (file.empty()) file = "/sim/" + name() + ".bin";
        store_ = std::make_unique<ChipStore>(file, part_.size);
    }
    return *store_;
}

bool SpiNorFlash::busy(BoardNs now) {
    if (stuck_) return true;
    if (busyPolls_) return busyLeft_ > 0;
    return now < busyUntil_;
}

void SpiNorFlash::startBusy(BoardNs now, uint32_t us) {
    if (busyPolls_)
        busyLeft_ = busyPolls_;
    else
        busyUntil_ = now + BoardNs(us) * kNsPerUs;
}

void SpiNorFlash::transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) {
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
            if (busy(ctx.time) && b != kReadStatus) {
                misuse("command while busy");
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
            case kReadJedecId: cmd_ = Cmd::JedecId; break;
            default: misuse("unknown command"); cmd_ = Cmd::Ignored; break;
            }
            continue;
        }
        switch (cmd_) {
        case Cmd::Status:
            rx[i] = static_cast<uint8_t>((busy(ctx.time) ? kStatusBusy : 0) | (wel_ ? kStatusWel : 0));
            if (pos_ == 1) {
                ++counters_.statusReads;
                if (busyPolls_ && busyLeft_ > 0) --busyLeft_;
            }
            break;
        case Cmd::Program:
        case Cmd::Erase:
            if (pos_ <= 3)
                address_ = (address_ << 8) | b;
            else if (cmd_ == Cmd::Program)
                programData_.push_back(b);
            break;
        case Cmd::Read:
            if (pos_ <= 3) {
                address_ = (address_ << 8) | b;
            } else if (pos_ >= 5) {
                // the rest of this transfer in one go, wrapping at the chip's end
                const size_t n = len - i;
                const uint32_t from = static_cast<uint32_t>((address_ + (pos_ - 5)) % part_.size);
                const size_t first = std::min<size_t>(n, part_.size - from);
                store().read(from, rx + i, first);
                if (first < n) store().read(0, rx + i + first, n - first);
                pos_ += n - 1;
                i = len - 1;
            }
            break;
        case Cmd::Uid:
            if (pos_ >= 5 && pos_ <= 12) rx[i] = uid_[pos_ - 5];
            break;
        case Cmd::JedecId:
            if (pos_ <= 3) rx[i] = static_cast<uint8_t>(part_.jedecId >> (8 * (3 - pos_)));
            break;
        case Cmd::None:
        case Cmd::Ignored: break;
        }
    }
}

void SpiNorFlash::chipSelectReleased(const SpiContext& ctx) {
    // program and erase start when chip select rises, as on the part
    if (!dead_ && (cmd_ == Cmd::Program || cmd_ == Cmd::Erase)) {
        address_ %= part_.size;
        if (pos_ < 4) {
            misuse("frame ended inside the address");
        } else if (!wel_) {
            misuse(cmd_ == Cmd::Erase ? "erase without write enable" : "program without write enable");
        } else if (cmd_ == Cmd::Erase) {
            const uint32_t unit =
                opcode_ == kSectorErase ? part_.sectorSize : opcode_ == kBlockErase32 ? 0x8000u : 0x10000u;
            store().erase(address_ & ~(unit - 1), unit);
            ++counters_.erases;
            cellFrames_.push(counters_.frames, 0);
            wel_ = false;
            startBusy(ctx.time, opcode_ == kSectorErase    ? part_.sectorEraseUs
                                : opcode_ == kBlockErase32 ? part_.block32EraseUs
                                                           : part_.block64EraseUs);
        } else {
            const uint32_t page = address_ & ~(part_.pageSize - 1);
            if ((address_ - page) + programData_.size() > part_.pageSize) misuse("program runs past its page");
            std::vector<uint8_t> cells = store().read(page, part_.pageSize);
            std::vector<uint8_t> data(part_.pageSize, 0xFF);
            for (size_t k = 0; k < programData_.size(); ++k) {
                const size_t at = (address_ - page + k) % part_.pageSize;
                if (programData_[k] & ~cells[at]) misuse("program sets a 0 bit back to 1");
                data[at] &= programData_[k];
            }
            if (losePrograms_)
                --losePrograms_;
            else
                store().program(page, data.data(), data.size());  // one write unit, as the part
            ++counters_.programs;
            cellFrames_.push(counters_.frames, 0);
            wel_ = false;
            startBusy(ctx.time, part_.pageProgramUs);
        }
    }
    cmd_ = Cmd::None;
    opcode_ = 0;
    pos_ = 0;
}

std::string SpiNorFlash::control(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "status") {
        char b[160];
        std::snprintf(b, sizeof b, "OK frames %llu erases %llu programs %llu misuse %u%s",
                      static_cast<unsigned long long>(counters_.frames),
                      static_cast<unsigned long long>(counters_.erases),
                      static_cast<unsigned long long>(counters_.programs), misuseCount(), dead_ ? " power-cut" : "");
        return b;
    }
    if (args.size() == 2 && args[0] == "cut") {
        const long n = std::strtol(args[1].c_str(), nullptr, 10);
        if (n < 0) return "ERR cut: N >= 0";
        cutPowerAfterCommands(static_cast<unsigned>(n));
        return "OK";
    }
    return "ERR flash: status | cut N";
}

std::vector<uint8_t> SpiNorFlash::read(uint32_t address, size_t length) const {
    return const_cast<SpiNorFlash*>(this)->store().read(address, length);
}

void SpiNorFlash::load(uint32_t address, const std::vector<uint8_t>& bytes) {
    store().write(address, bytes.data(), bytes.size());
}

}  // namespace plat::sim
