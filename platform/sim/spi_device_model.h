#pragma once
// A chip on an SPI bus of the simulated board. The board calls transfer() for every
// spi_ioc_transfer of an SPI_IOC_MESSAGE while the chip is selected, and
// chipSelectReleased() when chip select goes inactive (end of the message, or a
// transfer with cs_change set). A model never calls the driver that talks to it.
#include <cstddef>
#include <cstdint>

namespace plat::sim {

class SpiDeviceModel {
public:
    virtual ~SpiDeviceModel() = default;
    // `tx` is what the master clocks out (zeros when the driver gave no buffer);
    // `rx` comes in filled with 0xFF (MISO idles high) and the chip drives what it answers.
    virtual void transfer(const uint8_t* tx, uint8_t* rx, size_t len) = 0;
    virtual void chipSelectReleased() {}
};

}  // namespace plat::sim
