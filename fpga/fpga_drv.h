#pragma once
// SPI driver of the two sending-card FPGAs and their configuration flashes
// (standard serial NOR: 8 MiB, 4 KiB sectors, 256-byte pages). One function is one
// bus operation; every flash operation runs inside the flash access window: the
// SPI mutex held and the chip's select and access lines driven for the whole of it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/utils.h"
#include "platform/annotated_mutex.h"
#include "platform/board_wiring.h"
#include "platform/gpio_word.h"

// The engine's four SPI links, in the order the devices are opened.
constexpr int kLinkFpga0 = 0;
constexpr int kLinkFpga1 = 1;
constexpr int kLinkFlashChip2 = 2;  // configuration flash of FPGA 0
constexpr int kLinkFlashChip3 = 3;  // configuration flash of FPGA 1
constexpr int kLinks = 4;
constexpr const char* kFpgaSpiNode[kLinks] = {plat::wiring::kSpiFpga0, plat::wiring::kSpiFpga1,
                                              plat::wiring::kSpiFlash0, plat::wiring::kSpiFlash1};
constexpr uint16_t kHigh = plat::wiring::kLineHigh;
constexpr uint16_t kLow = plat::wiring::kLineLow;

// Configuration flash geometry (both chips).
constexpr uint32_t kFlashSize = plat::wiring::kFpgaFlashBytes;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr uint32_t kFlashSectors = kFlashSize / kFlashSectorSize;
constexpr uint32_t kFlashPageSize = 256;

// SPI NOR commands
constexpr uint8_t kNorReadStatus = 0x05;
constexpr uint8_t kNorWriteEnable = 0x06;
constexpr uint8_t kNorSectorErase = 0x20;    // 4 KiB
constexpr uint8_t kNorBlockErase32 = 0x52;   // 32 KiB
constexpr uint8_t kNorBlockErase64 = 0xD8;   // 64 KiB
constexpr uint8_t kNorPageProgram = 0x02;
constexpr uint8_t kNorFastRead = 0x0B;
constexpr uint8_t kNorReadUniqueId = 0x4B;
constexpr uint8_t kNorStatusBusy = 0x01;      // write in progress
constexpr uint8_t kNorStatusWel = 0x02;

constexpr uint32_t kFpgaSpiSpeedHz = 10000000;
constexpr uint8_t kFpgaSpiMode = 3;
constexpr int kFlashChipFpga0 = 2;           // any other number is chip 3
constexpr int kFlashChipFpga1 = 3;
constexpr uint32_t kFlashReadChunk = 2048;
constexpr size_t kFlashUidBytes = 8;

// The descriptors and lines the driver works with; the engine owns them.
struct FpgaBus {
    int link[kLinks] = {-1, -1, -1, -1};
    // Words made from a null window (no window) read 0 and ignore writes.
    plat::GpioWord fpga0Select, fpga1Select;
    plat::GpioWord fpga0Command, fpga1CommandA, fpga1CommandB;
    plat::GpioWord fpga0FlashAccess, fpga1FlashAccessA, fpga1FlashAccessB;
    plat::GpioWord fpga0Reset, fpga1Reset;
    plat::GpioWord fpga0Interrupt, fpga1Interrupt;
    plat::GpioWord receiverReset0, receiverReset1, edidWrite, sdiReset, mappedLine, socEnable;
    // Points every word into the mapped window (nullptr: back to no window).
    void bind(void* window);
};

// Runs write(0), reads the range back through `read` and compares it with `expected`; on a
// difference runs write(1) and compares once more. True when the range holds what was
// meant: a part that drops a page program still reports success. `what` names the range
// in the log.
bool writeReadBack(const std::string& what, const uint8_t* expected, uint32_t length,
                   const std::function<bool(int attempt)>& write, const std::function<bool(uint8_t* back)>& read);

class fpga_drv {
public:
    // A 64 KiB block erase takes up to about 2 s on the slowest parts in use.
    static constexpr unsigned kBusyLimitMs = 4000;

    explicit fpga_drv(FpgaBus* bus);

    int initialize_vbyne1(int index);
    // Return the ioctl result: the byte count, or 0 / negative on failure.
    int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, unsigned len);
    int SPI_Transfer_Write(int fd, const uint8_t* tx, unsigned len);

    // Every operation waits for its chip before its first command and after every pause of
    // its window: a part ignores a command while it erases or programs, and another thread's
    // erase may have run in between. kind 0: 4 KiB sectors, 1: 32 KiB blocks, 2: 64 KiB
    // blocks. 1 done; 0 refused or failed.
    int FPGA_SPI_FLASH_VBYONE_ERASE(int chip, uint32_t first_sector, int kind, uint32_t count);
    int FPGA_SPI_FLASH_VBYONE_WRITE(int chip, uint32_t address, const uint8_t* buffer, uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(int chip, uint32_t address, uint32_t length, uint8_t* out);
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(int chip, uint8_t* out);

    // Runs `write` (an erase and the programs that fill it) and reads the range back
    // (writeReadBack); 1 when the flash holds `expected`.
    int writeVerified(int chip, uint32_t address, const uint8_t* expected, uint32_t length,
                      const std::function<bool()>& write);

    // Held over each whole erase-and-program of the configuration flashes (a record, the
    // parameter image, the operating time, an upgrade), whatever the thread: a save on the
    // transport thread and one on the engine thread would otherwise erase and program the
    // same sectors in between each other. Taken before the SPI mutex, never inside it.
    plat::Mutex update_mutex{plat::Lock::FpgaUpdate};

    // Tests shorten the busy bound.
    void setBusyLimitMs(unsigned ms) { busy_limit_ms_ = ms; }

private:
    class FlashWindow;
    // Polls the status until the write-in-progress bit clears: 1 ready; 0 when a status
    // read failed or the flash stayed busy past the bound. A wait past a page program's
    // (an erase) pauses `window` between polls, so the scaler and the cards get the bus.
    int FPGA_SPI_WAIT_BUSY(int fd, FlashWindow& window) REQUIRES(Utils::_spi_mutex);
    int flashLink(int chip) const;

    FpgaBus* bus_;
    unsigned busy_limit_ms_ = kBusyLimitMs;
};
