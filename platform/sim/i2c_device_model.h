#pragma once
// A chip on an I2C bus of the simulated board. Each message of an I2C_RDWR
// transaction addressed to the chip arrives as write() or read() (a repeated START
// between them); stop() follows the last message. Returning false is a NACK.
#include <cstddef>
#include <cstdint>

namespace plat::sim {

class I2cDeviceModel {
public:
    virtual ~I2cDeviceModel() = default;
    virtual bool write(const uint8_t* data, size_t len) = 0;
    virtual bool read(uint8_t* data, size_t len) = 0;
    virtual void stop() {}
};

// Bus multiplexer with one control byte, bit i enabling downstream channel i
// (several channels may be enabled at once). The control byte reads back.
class I2cMuxModel : public I2cDeviceModel {
public:
    explicit I2cMuxModel(int channels) : channels_(channels) {}
    bool write(const uint8_t* data, size_t len) override;
    bool read(uint8_t* data, size_t len) override;
    virtual bool channelEnabled(int channel) const;
    int channels() const { return channels_; }
    uint8_t control() const { return control_; }

private:
    int channels_;
    uint8_t control_ = 0;  // all channels off after power-up
};

}  // namespace plat::sim
