#pragma once
// Serial NOR flash on an SPI node of the simulated board (the FPGA configuration
// flashes). Behaves like the part, not like our driver: a page program ANDs into the
// cells and wraps inside its page, commands that modify need the write-enable latch,
// erases set 0xFF over the whole aligned unit, and the status register reports
// write-in-progress for the part's erase and program times. The array is kept in a
// file under <root>/sim, so it survives a simulated reboot.
//
// Misuse by the driver (erase or program without WEL, a program that would set a 0
// bit back to 1, a program frame that runs past its page, a command while busy, an
// unknown command) is counted, not obeyed: tests assert the count stays 0.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/spi_device_model.h"

namespace plat::sim {

// One row of the parts this model covers.
struct NorPart {
    const char* name;
    uint32_t jedecId;
    uint32_t size;
    uint32_t sectorSize;
    uint32_t pageSize;
    uint32_t sectorEraseUs;   // typical 4 KiB erase
    uint32_t block32EraseUs;
    uint32_t block64EraseUs;
    uint32_t pageProgramUs;
};
// The 8 MiB part on both FPGA configuration flashes.
const NorPart& norPart(const std::string& name);

class SpiNorFlash : public SpiDeviceModel {
public:
    struct Counters {
        uint64_t frames = 0;
        uint64_t bytes = 0;
        uint64_t erases = 0;
        uint64_t programs = 0;
        uint64_t statusReads = 0;
    };

    // `storeFile`: host path of the backing file ("" keeps the array in memory only).
    SpiNorFlash(const NorPart& part, std::string storeFile, const uint8_t uid[8]);

    void transfer(const uint8_t* tx, uint8_t* rx, size_t len) override;
    void chipSelectReleased() override;

    // ---- board side and tests
    // Time source in microseconds (the board clock). Without one, each erase or program
    // reports busy for `busyPolls` status reads instead.
    void setClock(std::function<uint64_t()> nowUs) { now_ = std::move(nowUs); }
    void setBusyPolls(unsigned polls) { busyPolls_ = polls; }
    void setStuckBusy(bool stuck) { stuck_ = stuck; }
    // Power is cut when the n-th command frame from now begins: it and every later frame
    // are lost. 0 clears.
    void cutPowerAfterCommands(unsigned n) { cutAfter_ = n; commandsSinceArm_ = 0; }
    bool powerCut() const { return dead_; }

    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    void load(uint32_t address, const std::vector<uint8_t>& bytes);  // factory content
    unsigned guestErrors() const { return guestErrors_; }
    const Counters& counters() const { return counters_; }
    bool writeEnabled() const { return wel_; }

private:
    enum class Cmd { None, Status, Program, Erase, Read, Uid, Ignored };
    bool busy();
    void startBusy(uint32_t us);
    void guestError(const char* what);
    void persist(uint32_t address, size_t length);

    NorPart part_;
    std::string file_;
    uint8_t uid_[8];
    std::vector<uint8_t> array_;

    std::function<uint64_t()> now_;
    unsigned busyPolls_ = 0;
    unsigned busyLeft_ = 0;
    uint64_t busyUntil_ = 0;
    bool stuck_ = false;

    unsigned cutAfter_ = 0;
    unsigned commandsSinceArm_ = 0;
    bool dead_ = false;

    bool wel_ = false;
    Cmd cmd_ = Cmd::None;
    uint8_t opcode_ = 0;
    size_t pos_ = 0;        // bytes of this chip-select frame so far
    uint32_t address_ = 0;
    std::vector<uint8_t> programData_;
    unsigned guestErrors_ = 0;
    Counters counters_;
};

}  // namespace plat::sim
