#pragma once
// A chip on an I2C bus of the simulated board. Each message of an I2C_RDWR
// transaction addressed to the chip arrives as write() or read() (a repeated START
// between them); stop() follows the last message. Returning false is a NACK.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sim/board_clock.h"
#include "platform/sim/chip_model.h"

namespace plat::sim {

// One hop through a multiplexer: the mux at `muxAddress` on the segment so far, channel `channel`.
struct I2cHop {
    uint8_t muxAddress;
    int channel;
};
using I2cPath = std::vector<I2cHop>;

struct I2cContext {
    int bus;
    const I2cPath& path;  // the muxes between the adapter and this chip
    uint8_t address;
    BoardNs time;
    SimBoard& board;
};

class I2cDeviceModel : public ChipModel {
public:
    using ChipModel::ChipModel;
    virtual bool write(const I2cContext& ctx, const uint8_t* data, size_t len) = 0;
    virtual bool read(const I2cContext& ctx, uint8_t* data, size_t len) = 0;
    virtual void stop(const I2cContext& ctx) {}
};

// Bus multiplexer with one control byte, bit i enabling downstream channel i
// (several channels may be enabled at once). The control byte reads back.
class I2cMuxModel : public I2cDeviceModel {
public:
    explicit I2cMuxModel(int channels, std::string name = std::string())
        : I2cDeviceModel(std::move(name)), channels_(channels) {}
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    virtual bool channelEnabled(int channel) const;
    int channels() const { return channels_; }
    uint8_t controlByte() const { return control_; }

private:
    int channels_;
    uint8_t control_ = 0;  // all channels off after power-up
};

}  // namespace plat::sim
