#include "scaler/c331_drv.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/sys.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_wiring.h"

using namespace c331;

c331_drv::c331_drv() { writeLogMsg(LOG_INFO, "====c331_drv::c331_drv()====="); }

int c331_drv::initialize() {
    if (!gpioWindow_) gpioWindow_ = mapGpioWindow();
    const int fd = plat::sys().open(kC331SpiNode, O_RDWR);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("c331: can't open ") + kC331SpiNode + ": " + std::strerror(errno));
        return -1;
    }
    uint8_t mode = SPI_MODE_3;
    uint8_t bits = 8;
    uint32_t speed = kWriteSpeedHz;
    if (plat::sys().ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0 || plat::sys().ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
        plat::sys().ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0)
        writeLogMsg(LOG_ERROR, std::string("c331: can't configure ") + kC331SpiNode + ": " + std::strerror(errno));
    return fd;
}

void c331_drv::init_reg_acc_param() {
    plat::Locker<plat::QtMutex> l(Utils::_c331_bnk_mutex);
    bank_ = -1;
}

namespace {

int transfer(void* gpioWindow, int fd, const unsigned char* tx, unsigned char* rx, int len, uint32_t speed) {
    spi_ioc_transfer t;
    std::memset(&t, 0, sizeof t);
    t.tx_buf = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(tx));
    t.rx_buf = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(rx));
    t.len = static_cast<uint32_t>(len);
    t.speed_hz = speed;
    t.bits_per_word = 8;
    t.delay_usecs = 0;
    plat::Locker<plat::QtMutex> l(Utils::_spi_mutex);
    // Both FPGAs sit on the same controller: neither may listen while a C331 frame is clocked.
    fpgaSelectsInactive(gpioWindow);
    return plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t);
}

}  // namespace

int c331_drv::SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len) {
    const int r = transfer(gpioWindow_, fd, tx, rx, len, kReadSpeedHz);
    if (r <= 0) {
        ++errors_;
        if (!failing_.exchange(true))
            writeLogMsg(LOG_ERROR, std::string("can't send spi message: c331 read frame: ") + std::strerror(errno));
    } else {
        failing_ = false;
    }
    return r;
}

int c331_drv::SPI_Transfer_Write(int fd, const unsigned char* tx, int len) {
    const int r = transfer(gpioWindow_, fd, tx, nullptr, len, kWriteSpeedHz);
    if (r <= 0) {
        ++errors_;
        if (!failing_.exchange(true))
            writeLogMsg(LOG_ERROR, std::string("can't send spi message: c331 write frame: ") + std::strerror(errno));
    } else {
        failing_ = false;
    }
    return r;
}

bool c331_drv::descriptorFits(unsigned int d) const {
    // Only 7 address bits go on the wire: a run past 0x7F would alias address 0, the bank select.
    if (descAddr(d) + descCount(d) > 0x80) {
        writeLogMsg(LOG_ERROR, "c331: register run past address 0x7F refused, descriptor " + std::to_string(d));
        return false;
    }
    return true;
}

bool c331_drv::selectBank(int fd, unsigned bank) {
    if (bank_ == int(bank)) return true;
    const unsigned char frame[2] = {uint8_t(kWriteBit | kBankSelectAddr), uint8_t(bank)};
    // The cache follows the chip only once the select has gone out.
    if (SPI_Transfer_Write(fd, frame, 2) <= 0) {
        bank_ = -1;
        return false;
    }
    bank_ = int(bank);
    return true;
}

bool c331_drv::writeLocked(int fd, unsigned int d, unsigned int value, unsigned int bankOffset) {
    if (!descriptorFits(d)) return false;
    const unsigned bank = (descBank(d) + bankOffset) & 0xFF;
    if (!selectBank(fd, bank)) return false;
    bool ok = true;
    const unsigned first = descAddr(d);
    for (unsigned i = 0; i < descCount(d); ++i) {
        const unsigned a = first + i;
        const unsigned char frame[2] = {uint8_t(kWriteBit | (a & kAddrMask)), uint8_t(i < 4 ? (value >> (8 * i)) & 0xFF : 0)};
        if (SPI_Transfer_Write(fd, frame, 2) <= 0) ok = false;
        // A data write to address 0 is a bank select on this chip: the cache no longer knows the bank.
        if (a == kBankSelectAddr) bank_ = ok ? int(frame[1]) : -1;
    }
    return ok;
}

bool c331_drv::readLocked(int fd, unsigned int d, unsigned int bankOffset, unsigned int* value) {
    *value = 0;
    if (!descriptorFits(d)) return false;
    const unsigned bank = (descBank(d) + bankOffset) & 0xFF;
    if (!selectBank(fd, bank)) return false;
    bool ok = true;
    const unsigned first = descAddr(d);
    for (unsigned i = 0; i < descCount(d); ++i) {
        const unsigned char tx[2] = {uint8_t((first + i) & kAddrMask), kReadDummy};
        unsigned char rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0) {
            ok = false;
            continue;
        }
        if (i < 4) *value |= unsigned(rx[1]) << (8 * i);
    }
    return ok;
}

void c331_drv::write_C331(int fd, unsigned int d, unsigned int value, unsigned int bankOffset) {
    plat::Locker<plat::QtMutex> l(Utils::_c331_bnk_mutex);
    writeLocked(fd, d, value, bankOffset);
}

unsigned int c331_drv::read_C331(int fd, unsigned int d, unsigned int bankOffset) {
    plat::Locker<plat::QtMutex> l(Utils::_c331_bnk_mutex);
    unsigned int v = 0;
    readLocked(fd, d, bankOffset, &v);
    return v;
}

void c331_drv::write_c331_mask(int fd, unsigned int d, unsigned int value, unsigned int mask, unsigned int bankOffset) {
    // One hold of the bank mutex: no other writer slips between our read and write.
    plat::Locker<plat::QtMutex> l(Utils::_c331_bnk_mutex);
    unsigned int old = 0;
    if (!readLocked(fd, d, bankOffset, &old)) return;  // never write back what was not read
    writeLocked(fd, d, (old & ~mask) | (value & mask), bankOffset);
}
