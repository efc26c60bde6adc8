#pragma once
// Register access to the C331 scaler: two-byte SPI frames on its spidev node,
// banked 8-bit registers, multi-byte values little-endian, one frame per byte.
// The SPI controller is shared with the two FPGAs: every frame is clocked with
// both FPGA selects driven inactive, under Utils::_spi_mutex. A whole register
// access (bank select and its byte frames) holds Utils::_c331_bnk_mutex, taken
// before the SPI mutex.
#include <atomic>
#include <cstdint>

class c331_drv {
public:
    c331_drv();

    // Opens the chip's node (mode 3, 8 bits, 10 MHz). -1 when it cannot be opened;
    // every later access then fails and logs.
    int initialize();
    // Forgets the selected bank: the next access selects it again.
    void init_reg_acc_param();

    // One full-duplex transfer at 5 MHz / one transmit-only transfer at 10 MHz.
    // The spidev result (bytes moved, or <= 0 on failure).
    int SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len);
    int SPI_Transfer_Write(int fd, const unsigned char* tx, int len);

    void write_C331(int fd, unsigned int desc, unsigned int value, unsigned int bankOffset);
    unsigned int read_C331(int fd, unsigned int desc, unsigned int bankOffset);
    // Read-modify-write: (old & ~mask) | (value & mask). Not written back when the read failed.
    void write_c331_mask(int fd, unsigned int desc, unsigned int value, unsigned int mask, unsigned int bankOffset);

    int cachedBank() const { return bank_; }
    // Frames that failed since start (for the manager's error reporting and tests).
    unsigned transferErrors() const { return errors_; }

private:
    bool selectBank(int fd, unsigned bank);
    bool writeLocked(int fd, unsigned int desc, unsigned int value, unsigned int bankOffset);
    bool readLocked(int fd, unsigned int desc, unsigned int bankOffset, unsigned int* value);
    bool descriptorFits(unsigned int desc) const;

    int bank_ = -1;
    void* gpioWindow_ = nullptr;  // the SoC register window with the FPGA selects
    std::atomic<unsigned> errors_{0};
    std::atomic<bool> failing_{false};  // logs once per run of failures
};
