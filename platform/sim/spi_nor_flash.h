#pragma once
// Serial NOR flash on an SPI node of the simulated board (the FPGA configuration
// flashes). Behaves like the part, not like our driver: a page program ANDs into the
// cells and wraps inside its page, commands that modify need the write-enable latch,
// erases set 0xFF over the whole aligned unit, and the status register reports
// write-in-progress for the part's erase and program times on the board clock. The
// cells live in a ChipStore, so they survive a reboot of the simulated board.
//
// Misuse by the driver (erase or program without WEL, a program that would set a 0
// bit back to 1, a program frame that runs past its page, a command while busy, an
// unknown command) is reported with misuse(), not obeyed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/byte_log.h"
#include "platform/sim/chip_store.h"
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
const NorPart& norPart(const std::string& name);
// Unique IDs the standard board's two configuration flashes report (flash0, flash1).
extern const uint8_t kFpgaFlashUid[2][8];

class SpiNorFlash : public SpiDeviceModel {
public:
    struct Counters {
        uint64_t frames = 0;
        uint64_t bytes = 0;
        uint64_t erases = 0;
        uint64_t programs = 0;
        uint64_t statusReads = 0;
    };

    // `store`: absolute path under the root of the cell file ("" = cells in memory only).
    SpiNorFlash(std::string name, const NorPart& part, std::string store, const uint8_t uid[8]);

    void attached(SimBoard& board) override;
    void transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) override;
    void chipSelectReleased(const SpiContext& ctx) override;
    // "status", "cut N" (power cut after N commands), "uid"
    std::string control(const std::vector<std::string>& args) override;

    // ---- tests
    // Busy for this many status reads after an erase or program instead of the part's
    // times on the board clock (0 = board clock), for tests that do not step the clock.
    void setBusyPolls(unsigned polls) { busyPolls_ = polls; }
    void setStuckBusy(bool stuck) { stuck_ = stuck; }
    // Power is cut when the n-th command frame from now begins: it and every later frame
    // are lost (0 clears). The store keeps what landed before.
    void cutPowerAfterCommands(unsigned n) { cutAfter_ = n; commandsSinceArm_ = 0; dead_ = false; }
    bool powerCut() const { return dead_; }
    // The next n page programs leave their cells as they were (a worn part): WEL, busy time
    // and status behave as for a program that landed.
    void losePrograms(unsigned n) { losePrograms_ = n; }

    // Frame numbers (counters().frames as each began) of the erases and programs that
    // reached the cells: the commands at which a power cut changes what a flash holds.
    // The newest within a budget.
    const ByteLog<uint64_t>& cellFrames() const { return cellFrames_; }

    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    void load(uint32_t address, const std::vector<uint8_t>& bytes);  // factory content
    const Counters& counters() const { return counters_; }
    const uint8_t* uid() const { return uid_; }

private:
    enum class Cmd { None, Status, Program, Erase, Read, Uid, JedecId, Ignored };
    bool busy(BoardNs now);
    void startBusy(BoardNs now, uint32_t us);
    ChipStore& store();

    NorPart part_;
    std::string storeFile_;
    uint8_t uid_[8];
    std::unique_ptr<ChipStore> store_;

    unsigned busyPolls_ = 0;
    unsigned busyLeft_ = 0;
    BoardNs busyUntil_ = 0;
    bool stuck_ = false;

    unsigned cutAfter_ = 0;
    unsigned commandsSinceArm_ = 0;
    bool dead_ = false;
    unsigned losePrograms_ = 0;

    bool wel_ = false;
    Cmd cmd_ = Cmd::None;
    uint8_t opcode_ = 0;
    size_t pos_ = 0;  // bytes of this chip-select frame so far
    uint32_t address_ = 0;
    std::vector<uint8_t> programData_;
    Counters counters_;
    ByteLog<uint64_t> cellFrames_{inspectionLogBudget(64 * 1024)};
};

}  // namespace plat::sim
