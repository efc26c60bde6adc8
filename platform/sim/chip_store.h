#pragma once
// The cells of a flash or EEPROM of the simulated board, kept in a file under the root
// (<root>/sim/...) so that they survive a reboot of the simulated board as the chip's
// contents do. Erased state is 0xFF. The file is the chip's cell array and is changed
// in place one write unit at a time, as the chip itself changes; a file of another
// size is taken for another part and starts erased.
//
// Power cut: after powerCutAfterWrites(n) the next n write units land whole and every
// later one is lost (the function returns false and the cells keep their old bytes),
// so a store is torn only at a write boundary, as a real part is between page programs.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace plat::sim {

class ChipStore {
public:
    // `file` is an absolute path under the root ("/sim/flash0.bin").
    ChipStore(std::string file, size_t size);
    ~ChipStore();
    ChipStore(const ChipStore&) = delete;
    ChipStore& operator=(const ChipStore&) = delete;

    bool ok() const { return fd_ >= 0; }
    size_t size() const { return size_; }
    const std::string& hostPath() const { return hostPath_; }
    int fd() const { return fd_; }

    // Out-of-range parts read as 0xFF; false when nothing could be read.
    bool read(uint64_t offset, uint8_t* out, size_t len) const;
    std::vector<uint8_t> read(uint64_t offset, size_t len) const;

    // Each call is one write unit (a page program, an EEPROM page write, an erase).
    bool program(uint64_t offset, const uint8_t* data, size_t len);  // flash: ANDs into the cells
    bool write(uint64_t offset, const uint8_t* data, size_t len);    // EEPROM: replaces the cells
    bool erase(uint64_t offset, size_t len);                         // sets 0xFF

    // -1 = never (the default).
    void powerCutAfterWrites(int writes);
    bool powerLost() const;
    void restorePower();
    unsigned writeUnits() const;  // write units that landed

private:
    bool allowWrite();
    bool inRange(uint64_t offset, size_t len) const;
    bool store(uint64_t offset, const uint8_t* data, size_t len);

    std::string hostPath_;
    size_t size_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    int cutAfter_ = -1;
    bool lost_ = false;
    unsigned units_ = 0;
};

}  // namespace plat::sim
