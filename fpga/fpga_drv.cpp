#include "fpga/fpga_drv.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <QMutex>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/sys.h"

namespace {

using namespace plat::wiring;

constexpr unsigned kEraseUnitSectors[3] = {1, 8, 16};
constexpr uint8_t kEraseCommand[3] = {kNorSectorErase, kNorBlockErase32, kNorBlockErase64};

bool debugOn() { return g_debugSwitch == 254; }

void putAddress(uint8_t* p, uint32_t address) {
    p[0] = static_cast<uint8_t>(address >> 16);
    p[1] = static_cast<uint8_t>(address >> 8);
    p[2] = static_cast<uint8_t>(address);
}

// address + length within the chip, computed without wrapping
bool inFlash(uint32_t address, uint32_t length) {
    return length != 0 && address <= kFlashSize && length <= kFlashSize - address;
}

}  // namespace

// Holds the SPI mutex and drives the lines that put one flash chip on the bus; the
// access line(s) go high before the selects on the way out, as the board needs.
class SCOPED_CAPABILITY fpga_drv::FlashWindow {
public:
    FlashWindow(FpgaBus* bus, int chip) ACQUIRE(Utils::_spi_mutex) NO_THREAD_SAFETY_ANALYSIS
        : bus_(bus), chip2_(chip == kFlashChipFpga0) {
        open();
    }
    ~FlashWindow() RELEASE() NO_THREAD_SAFETY_ANALYSIS { close(); }
    FlashWindow(const FlashWindow&) = delete;
    FlashWindow& operator=(const FlashWindow&) = delete;

    class Pause;

private:
    void open() NO_THREAD_SAFETY_ANALYSIS {
        Utils::_spi_mutex.lock();
        if (chip2_) {
            bus_->fpga1Select.set(kHigh);
            bus_->fpga0Select.set(kLow);
            bus_->fpga0FlashAccess.set(kLow);
        } else {
            bus_->fpga0Select.set(kHigh);
            bus_->fpga1Select.set(kLow);
            bus_->fpga1FlashAccessA.set(kLow);
            bus_->fpga1FlashAccessB.set(kLow);
        }
    }
    void close() NO_THREAD_SAFETY_ANALYSIS {
        if (chip2_) {
            bus_->fpga0FlashAccess.set(kHigh);
        } else {
            bus_->fpga1FlashAccessA.set(kHigh);
            bus_->fpga1FlashAccessB.set(kHigh);
        }
        bus_->fpga0Select.set(kHigh);
        bus_->fpga1Select.set(kHigh);
        Utils::_spi_mutex.unlock();
    }

    FpgaBus* bus_;
    bool chip2_;
};

// Lets the window go for one wait (a pause between busy polls, a yield between pages) and
// takes it back at the end of its scope. Another thread may have used the chip meanwhile:
// the next command waits for it first.
class SCOPED_CAPABILITY fpga_drv::FlashWindow::Pause {
public:
    explicit Pause(FlashWindow& window) RELEASE(Utils::_spi_mutex) NO_THREAD_SAFETY_ANALYSIS : window_(window) {
        window_.close();
    }
    ~Pause() RELEASE() NO_THREAD_SAFETY_ANALYSIS { window_.open(); }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

private:
    FlashWindow& window_;
};

void FpgaBus::bind(void* window) {
    using namespace plat::wiring;
    const std::pair<plat::GpioWord*, uint32_t> words[] = {
        {&fpga0Select, kGpioFpga0Select},       {&fpga1Select, kGpioFpga1Select},
        {&fpga0Command, kGpioFpga0Command},     {&fpga1CommandA, kGpioFpga1CommandA},
        {&fpga1CommandB, kGpioFpga1CommandB},   {&fpga0FlashAccess, kGpioFpga0FlashAccess},
        {&fpga1FlashAccessA, kGpioFpga1FlashAccessA}, {&fpga1FlashAccessB, kGpioFpga1FlashAccessB},
        {&fpga0Reset, kGpioFpga0Reset},         {&fpga1Reset, kGpioFpga1Reset},
        {&fpga0Interrupt, kGpioFpga0Irq},       {&fpga1Interrupt, kGpioFpga1Irq},
        {&receiverReset0, kGpioRxReset0},       {&receiverReset1, kGpioRxReset1},
        {&edidWrite, kGpioEdidWrite},           {&sdiReset, kGpioSdiReset},
        {&mappedLine, kGpioMapped},             {&socEnable, kSocEnable1F1C},
    };
    for (const auto& [word, offset] : words) *word = plat::GpioWord(window, offset);
}

fpga_drv::fpga_drv(FpgaBus* bus) : bus_(bus) { writeLogMsg(LOG_INFO, "====fpga_drv::fpga_drv()====="); }

int fpga_drv::flashLink(int chip) const {
    return bus_->link[chip == kFlashChipFpga0 ? kLinkFlashChip2 : kLinkFlashChip3];
}

int fpga_drv::initialize_vbyne1(int index) {
    if (index < 0 || index >= kLinks) return -1;
    plat::Sys& sys = plat::sys();
    const int fd = sys.open(kFpgaSpiNode[index], O_RDWR);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("can't open ") + kFpgaSpiNode[index]);
        return fd;
    }
    uint8_t mode = kFpgaSpiMode;
    uint8_t bits = 8;
    uint32_t speed = kFpgaSpiSpeedHz;
    if (sys.ioctl(fd, SPI_IOC_WR_MODE, &mode) == -1) std::perror("can't set spi mode\n");
    if (sys.ioctl(fd, SPI_IOC_RD_MODE, &mode) == -1 && debugOn()) std::printf("can't get spi mode");
    if (sys.ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits) == -1 && debugOn()) std::printf("can't set bits per word");
    if (sys.ioctl(fd, SPI_IOC_RD_BITS_PER_WORD, &bits) == -1 && debugOn()) std::printf("can't get bits per word");
    if (sys.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) == -1 && debugOn()) std::printf("can't set max speed hz");
    if (sys.ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &speed) == -1 && debugOn()) std::printf("can't get max speed hz");
    return fd;
}

int fpga_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, unsigned len) {
    spi_ioc_transfer tr{};
    tr.tx_buf = reinterpret_cast<uintptr_t>(tx);
    tr.rx_buf = reinterpret_cast<uintptr_t>(rx);
    tr.len = len;
    tr.speed_hz = kFpgaSpiSpeedHz;
    tr.bits_per_word = 8;
    tr.delay_usecs = 0;
    const int ret = fd < 0 ? -1 : plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &tr);
    if (ret < 1) std::perror("can't send spi message\n");
    return ret;
}

int fpga_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, unsigned len) { return SPI_Transfer(fd, tx, nullptr, len); }

int fpga_drv::FPGA_SPI_WAIT_BUSY(int fd, FlashWindow& window) {
    // Bounded by the monotonic clock: ticks stop while the GUI thread is busy.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(busy_limit_ms_);
    for (unsigned polls = 0;; ++polls) {
        const uint8_t tx[2] = {kNorReadStatus, 0xFF};
        uint8_t rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) < 1) return 0;
        if (!(rx[1] & kNorStatusBusy)) return 1;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            writeLogMsg(LOG_ERROR, "configuration flash stays busy, operation abandoned");
            return 0;
        }
        // A page program ends within a fraction of a millisecond: polled with only a yield
        // in between (a pause would oversleep each of a bitstream's 27,648 pages by the
        // timer's slack). Erases take tens of milliseconds to seconds: polled every 200 us
        // after that, with the SPI mutex (that the scaler's pass and both FPGAs need) let go
        // in between; the part goes on erasing with its select high.
        if (polls < 8) continue;
        if (now - start < std::chrono::milliseconds(2)) {
            plat::sleepUs(0);
            continue;
        }
        const FlashWindow::Pause pause(window);
        plat::lockcheck::waitPoint(plat::Wait::FlashWait);
        plat::sleepUs(200);
    }
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(int chip, uint32_t first_sector, int kind, uint32_t count) {
    if (kind < 0 || kind > 2) return 0;
    const uint32_t unit = kEraseUnitSectors[kind];
    // an erase unit wipes its whole aligned block on a NOR part: neighbours would go too
    if (first_sector % unit != 0) return 0;
    if (first_sector > kFlashSectors || count > (kFlashSectors - first_sector) / unit) return 0;
    const int fd = flashLink(chip);
    FlashWindow window(bus_, chip);
    if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t wren[1] = {kNorWriteEnable};
        if (SPI_Transfer_Write(fd, wren, 1) < 1) return 0;
        if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
        uint8_t cmd[4] = {kEraseCommand[kind], 0, 0, 0};
        putAddress(cmd + 1, (first_sector & 0xFFFF) * kFlashSectorSize + k * unit * kFlashSectorSize);
        cmd[3] = 0x00;
        if (SPI_Transfer_Write(fd, cmd, 4) < 1) return 0;
        if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
    }
    return 1;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(int chip, uint32_t address, const uint8_t* buffer, uint32_t length) {
    if (!buffer || !inFlash(address, length)) return 0;
    const int fd = flashLink(chip);
    FlashWindow window(bus_, chip);
    uint8_t frame[4 + kFlashPageSize];
    uint32_t done = 0;
    while (done < length) {
        if (done) {
            // a bitstream is thousands of pages: the bus is the others' between two of them
            const FlashWindow::Pause pause(window);
            std::this_thread::yield();
        }
        if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
        const uint32_t at = address + done;
        // never across a page end: the part would wrap inside the page
        const uint32_t room = kFlashPageSize - (at % kFlashPageSize);
        const uint32_t piece = length - done < room ? length - done : room;
        const uint8_t wren[1] = {kNorWriteEnable};
        if (SPI_Transfer_Write(fd, wren, 1) < 1) return 0;
        frame[0] = kNorPageProgram;
        putAddress(frame + 1, at);
        std::memcpy(frame + 4, buffer + done, piece);
        if (SPI_Transfer_Write(fd, frame, 4 + piece) < 1) return 0;
        done += piece;
    }
    return FPGA_SPI_WAIT_BUSY(fd, window);
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(int chip, uint32_t address, uint32_t length, uint8_t* out) {
    if (!out || !inFlash(address, length)) return 0;
    const int fd = flashLink(chip);
    FlashWindow window(bus_, chip);
    if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
    uint8_t tx[5 + kFlashReadChunk];
    uint8_t rx[5 + kFlashReadChunk];
    std::memset(tx, 0xFF, sizeof tx);
    uint32_t done = 0;
    while (done < length) {
        const uint32_t piece = length - done < kFlashReadChunk ? length - done : kFlashReadChunk;
        tx[0] = kNorFastRead;
        putAddress(tx + 1, address + done);
        tx[4] = 0xFF;  // dummy byte
        if (SPI_Transfer(fd, tx, rx, 5 + piece) < 1) return 0;
        std::memcpy(out + done, rx + 5, piece);
        done += piece;
    }
    return 1;
}

bool writeReadBack(const std::string& what, const uint8_t* expected, uint32_t length,
                   const std::function<bool(int attempt)>& write, const std::function<bool(uint8_t* back)>& read) {
    std::vector<uint8_t> back(length);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!write(attempt) || !read(back.data())) return false;
        if (std::memcmp(back.data(), expected, length) == 0) return true;
        writeLogMsg(LOG_WARNING, what + (attempt ? " still differs from what was written"
                                                 : " differs from what was written, written again"));
    }
    return false;
}

int fpga_drv::writeVerified(int chip, uint32_t address, const uint8_t* expected, uint32_t length,
                            const std::function<bool()>& write) {
    if (!expected || !inFlash(address, length)) return 0;
    const std::string what = "configuration flash " + std::to_string(chip) + " at " + std::to_string(address);
    return writeReadBack(
               what, expected, length, [&](int) { return write(); },
               [&](uint8_t* back) { return FPGA_SPI_FLASH_VBYONE_READ(chip, address, length, back) == 1; })
               ? 1
               : 0;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(int chip, uint8_t* out) {
    if (!out) return 0;
    const int fd = flashLink(chip);
    FlashWindow window(bus_, chip);
    if (!FPGA_SPI_WAIT_BUSY(fd, window)) return 0;
    uint8_t tx[13] = {kNorReadUniqueId, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t rx[13] = {};
    if (SPI_Transfer(fd, tx, rx, 13) < 1) return 0;
    std::memcpy(out, rx + 5, kFlashUidBytes);
    return 1;
}
