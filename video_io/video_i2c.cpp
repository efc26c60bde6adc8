#include "video_io/video_i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <vector>

#include "platform/sys.h"

namespace wiring = plat::wiring;

I2cTarget i2cTargetOf(const wiring::ChipWiring& chip) {
    I2cTarget t;
    t.channel = chip.muxAddress == wiring::kNoMux ? -1 : chip.muxChannel;
    t.address = chip.address;
    return t;
}

VideoI2c::~VideoI2c() { close(); }

bool VideoI2c::open() {
    std::lock_guard<plat::Mutex> l(mutex_);
    if (fd_ >= 0) return true;
    fd_ = plat::sys().open(wiring::kI2cDevice, O_RDWR);
    channel_ = -2;
    return fd_ >= 0;
}

void VideoI2c::close() {
    std::lock_guard<plat::Mutex> l(mutex_);
    if (fd_ >= 0) plat::sys().close(fd_);
    fd_ = -1;
}

bool VideoI2c::transfer(uint8_t address, uint8_t* w, size_t wlen, uint8_t* r, size_t rlen) {
    if (fd_ < 0) return false;
    i2c_msg msgs[2] = {};
    unsigned n = 0;
    if (wlen) msgs[n++] = i2c_msg{address, 0, static_cast<uint16_t>(wlen), w};
    if (rlen) msgs[n++] = i2c_msg{address, I2C_M_RD, static_cast<uint16_t>(rlen), r};
    i2c_rdwr_ioctl_data data{msgs, n};
    return plat::sys().ioctl(fd_, I2C_RDWR, &data) == int(n);
}

bool VideoI2c::select(int channel) {
    if (channel < 0 || channel == channel_) return true;
    uint8_t control = uint8_t(1u << channel);  // one channel at a time: the EEPROMs share 0x50
    if (!transfer(wiring::kI2cMuxAddress, &control, 1, nullptr, 0)) {
        channel_ = -2;
        return false;
    }
    channel_ = channel;
    return true;
}

bool VideoI2c::readRegs(const I2cTarget& t, uint8_t reg, uint8_t* data, size_t len) {
    std::lock_guard<plat::Mutex> l(mutex_);
    return select(t.channel) && transfer(t.address, &reg, 1, data, len);
}

bool VideoI2c::writeRegs(const I2cTarget& t, uint8_t reg, const uint8_t* data, size_t len) {
    std::vector<uint8_t> msg(1 + len);
    msg[0] = reg;
    for (size_t i = 0; i < len; ++i) msg[1 + i] = data[i];
    std::lock_guard<plat::Mutex> l(mutex_);
    return select(t.channel) && transfer(t.address, msg.data(), msg.size(), nullptr, 0);
}

bool VideoI2c::writeRaw(const I2cTarget& t, const uint8_t* data, size_t len) {
    std::vector<uint8_t> msg(data, data + len);
    std::lock_guard<plat::Mutex> l(mutex_);
    return select(t.channel) && transfer(t.address, msg.data(), msg.size(), nullptr, 0);
}
