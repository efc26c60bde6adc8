#pragma once
// The input chips' I2C bus (/dev/i2c-0) as the video drivers use it: register reads and
// writes to a chip on the bus itself or behind a channel of the bus switch. One lock
// serialises the switch setting with the transfer that needs it.
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/annotated_mutex.h"
#include "platform/board_wiring.h"

struct I2cTarget {
    int channel = -1;  // bus-switch channel, -1 = on the bus itself
    uint8_t address = 0;
};

// The table entry of a chip as an I2C target.
I2cTarget i2cTargetOf(const plat::wiring::ChipWiring& chip);

class VideoI2c {
public:
    ~VideoI2c();
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    void close();
    // [reg] then a repeated START and `len` bytes read. False when the chip did not answer.
    bool readRegs(const I2cTarget& t, uint8_t reg, uint8_t* data, size_t len);
    // [reg, data...] in one message.
    bool writeRegs(const I2cTarget& t, uint8_t reg, const uint8_t* data, size_t len);
    // Bytes as they stand, in one message (chips without registers).
    bool writeRaw(const I2cTarget& t, const uint8_t* data, size_t len);

private:
    bool select(int channel);
    bool transfer(uint8_t address, uint8_t* w, size_t wlen, uint8_t* r, size_t rlen);
    plat::Mutex mutex_{plat::Lock::VideoI2c};
    int fd_ = -1;
    int channel_ = -2;  // unknown
};
