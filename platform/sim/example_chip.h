#pragma once
// The smallest complete chip model, the pattern for the real ones (docs/board.md):
// an SPI chip with a status register whose busy bit is timed on the board clock, a
// reset line it watches, a few persistent cells, and a misuse report.
//
// Commands (one chip-select frame each):
//   01 D      start a job: busy for busyTime of board time, then D is the result
//   05 xx     read status: rx[1] bit 0 = busy
//   06 xx     read the last result
//   02 A D    write cell A := D (persistent); refused while busy (misuse)
//   03 A xx   read cell A
// A low level on the reset line clears busy and the result; each low-going edge counts.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/chip_store.h"
#include "platform/sim/spi_device_model.h"

namespace plat::sim {

class ExampleChip : public SpiDeviceModel {
public:
    // `store` "" means no persistent cells; `resetLine` 0 means none.
    ExampleChip(std::string name, uint32_t resetLine, std::string store, BoardNs busyTime);

    void attached(SimBoard& board) override;
    void transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;

    // What the last frame came with, as the chip saw it.
    uint32_t lastMode() const { return lastMode_; }
    uint32_t lastSpeedHz() const { return lastSpeed_; }
    int resets() const { return resets_; }
    bool busy() const { return busy_; }
    ChipStore* store() { return store_.get(); }

private:
    uint32_t resetLine_;
    std::string storeFile_;
    BoardNs busyTime_;
    SimBoard* board_ = nullptr;
    std::unique_ptr<ChipStore> store_;
    bool busy_ = false;
    uint8_t result_ = 0;
    uint64_t job_ = 0;  // board-clock event of the running job
    int resets_ = 0;
    uint32_t lastMode_ = 0;
    uint32_t lastSpeed_ = 0;
};

}  // namespace plat::sim
