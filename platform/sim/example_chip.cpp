#include "platform/sim/example_chip.h"

#include "platform/sim/sim_board.h"

namespace plat::sim {

constexpr size_t kExampleCells = 256;

ExampleChip::ExampleChip(std::string name, uint32_t resetLine, std::string store, BoardNs busyTime)
    : SpiDeviceModel(std::move(name)), resetLine_(resetLine), storeFile_(std::move(store)), busyTime_(busyTime) {}

void ExampleChip::attached(SimBoard& board) {
    board_ = &board;
    if (!storeFile_.empty()) store_ = std::make_unique<ChipStore>(storeFile_, kExampleCells);
    if (resetLine_)
        board.watchGpio(resetLine_, [this](uint32_t, uint16_t old, uint16_t level) {
            if (level != 0) return;
            if (old != 0) ++resets_;
            if (busy_) board_->clock().cancel(job_);
            busy_ = false;
            result_ = 0;
        });
}

void ExampleChip::transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) {
    lastMode_ = ctx.mode;
    lastSpeed_ = ctx.speedHz;
    if (len == 0) return;
    if (resetLine_ && ctx.board.gpio(resetLine_) == 0) return;  // held in reset: no answer
    switch (tx[0]) {
    case 0x01:
        if (len < 2) return misuse("job command without its data byte");
        busy_ = true;
        job_ = ctx.board.clock().after(busyTime_, [this, d = tx[1]] {
            busy_ = false;
            result_ = static_cast<uint8_t>(d + 1);
        });
        return;
    case 0x05:
        if (len > 1) rx[1] = busy_ ? 1 : 0;
        return;
    case 0x06:
        if (len > 1) rx[1] = result_;
        return;
    case 0x02:
        if (len < 3 || !store_) return misuse("cell write without address and data");
        if (busy_) return misuse("cell write while busy");
        store_->write(tx[1], &tx[2], 1);
        return;
    case 0x03:
        if (len > 2 && store_) store_->read(tx[1], &rx[2], 1);
        return;
    default: misuse("unknown command"); return;
    }
}

std::string ExampleChip::control(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "status")
        return std::string("OK ") + (busy_ ? "busy" : "idle") + " resets " + std::to_string(resets_);
    return "ERR example: status";
}

}  // namespace plat::sim
