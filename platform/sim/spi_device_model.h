#pragma once
// A chip on an SPI node of the simulated board. The board calls transfer() for every
// spi_ioc_transfer of an SPI_IOC_MESSAGE (and for a plain read or write) while the
// chip is selected, and chipSelectReleased() when chip select goes inactive (end of
// the message, or a transfer with cs_change set).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sim/board_clock.h"
#include "platform/sim/chip_model.h"

namespace plat::sim {

// What the chip sees of one transfer besides the bytes.
struct SpiContext {
    const std::string& node;  // "/dev/spidev32766.1"
    uint32_t mode;            // SPI_MODE_0..3 plus SPI_CS_HIGH / SPI_LSB_FIRST bits
    uint8_t bitsPerWord;
    uint32_t speedHz;
    BoardNs time;             // board clock at the transfer
    SimBoard& board;          // line levels (board.gpio()), clock, stores
};

class SpiDeviceModel : public ChipModel {
public:
    using ChipModel::ChipModel;
    // `tx` is what the master clocks out (zeros when the driver gave no buffer);
    // `rx` comes in filled with 0xFF (MISO idles high) and the chip drives what it answers.
    virtual void transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) = 0;
    virtual void chipSelectReleased(const SpiContext& ctx) {}
};

}  // namespace plat::sim
