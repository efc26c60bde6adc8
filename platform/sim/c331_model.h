#pragma once
// Simulated C331 scaler on its SPI node. The wire, as the chip sees it: every frame is
// two bytes under one chip select. [0x80 | A, D] writes D to register A of the selected
// bank; a write to address 0 selects bank D for the frames that follow. [A, x] reads:
// the chip drives register A of the selected bank during the second byte.
//
// Behind the registers: a file of 256 banks x 128 bytes that reads back what was written,
// the chip id (bank 0xB2, address 0x08 = 0x24), and the status registers the controller
// polls, answering as a running chip does: input vsync seen at once for every enabled
// channel, output vsync at the next frame boundary (60 Hz) of chip time, the input
// channels' field registers toggling each field of chip time, the
// drawing engine and the serial-flash controller idle, V-by-One receivers locked, field
// indexes advancing one field per 1/60 s of board time, and measurement registers that
// read "no signal" (zero) until a signal is plugged into the input port (setInputSignal):
// then each port's block in banks 0xAE/0xAF reads the raster the chip would count
// (h total - 1, v total, lines - 1, frame length - 1 in 32 MHz reference clocks, active
// width), per V-by-One sub-link as well.
//
// The measurement banks read steady under the hold (bank 0 register 0x29 bit 7): the hold
// latches them; without it a read sees the counters as they go.
//
// Misuse: frames clocked while either FPGA select is low (an FPGA listening too), frames that
// are not two bytes, writes to read-only registers (chip id, the measurement banks, the
// vertical-sync status).
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <mutex>
#include <vector>

#include "platform/sim/c331_engine.h"
#include "platform/sim/spi_device_model.h"

namespace plat::sim {

class C331Model : public SpiDeviceModel {
public:
    static constexpr int kBanks = 256;
    static constexpr int kRegsPerBank = 128;
    static constexpr uint8_t kChipId = 0x24;
    static constexpr uint32_t kWriteHz = 10000000;
    static constexpr uint32_t kReadHz = 5000000;
    // The frame log (while on) keeps the newest frames within this many bytes.
    static constexpr size_t kFrameLogBytes = 8 << 20;

    enum class Presence { Present, Absent, Flaky };

    struct Frame {
        uint8_t tx[2];
        uint8_t rx[2];
        uint32_t speedHz;
        int bank;  // bank in force when the frame arrived
    };
    struct Counters {
        uint64_t frames = 0, bytes = 0, writes = 0, reads = 0, bankSelects = 0;
        double busSeconds = 0;  // at the speed of each frame
    };

    explicit C331Model(std::string name = "c331");
    void reset();

    // SpiDeviceModel
    void transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) override;
    void chipSelectReleased(const SpiContext& ctx) override;
    // "chip c331 present|absent|flaky ID...|reg BANK ADDR [VALUE]|counters|flash-load|flash-read|hold|draw-log"
    // (docs/board-control.md)
    std::string control(const std::vector<std::string>& args) override;

    // A board powered up for the first time: its flash holds generated fonts and a test bitmap.
    void seedFlashIfNew();

    // ---- fault switches
    void setPresence(Presence p);
    // Flaky: the chip-id answers in turn (then 0x24 for ever).
    void setChipIdSequence(std::vector<uint8_t> answers);

    // A picture on chip input port 0..5 (0..3 CMOS, 4 and 5 V-by-One); hz 0 unplugs it.
    struct InputSignal {
        int htotal = 0, vtotal = 0, hact = 0, lanes = 0;
        double hz = 0;
    };
    void setInputSignal(int port, const InputSignal& s);
    // Fault switches of the status registers: vertical syncs never reported; write-field
    // indexes that never move.
    void setVsyncStuck(bool stuck);
    void setFieldStuck(bool stuck);

    // ---- inspection
    uint8_t reg(unsigned bank, unsigned addr) const;
    uint32_t regValue(uint32_t desc, unsigned bankOffset = 0) const;  // 0xBBAANN, little-endian
    void setReg(unsigned bank, unsigned addr, uint8_t v);
    int selectedBank() const;
    Counters counters() const;
    void clearCounters();
    std::vector<Frame> frames() const;
    void setFrameLog(bool on);
    // Frames that broke the wire rules (also counted as misuse).
    unsigned guestErrors() const { return misuseCount(); }
    // The flash controller, drawing engine and palette behind bank 4 (c331_engine.h).
    // Callers take engineLock() around their use while the chip may be clocked.
    C331Engine& engine() { return engine_; }
    std::unique_lock<std::recursive_mutex> engineLock() const { return std::unique_lock<std::recursive_mutex>(m_); }

private:
    uint8_t readReg(unsigned bank, unsigned addr, BoardNs now);
    void latchMeasurements(bool hold);

    mutable std::recursive_mutex m_;
    std::array<std::array<uint8_t, kRegsPerBank>, kBanks> regs_{};
    int bank_ = 0;
    Presence presence_ = Presence::Present;
    std::deque<uint8_t> idSequence_;
    uint32_t frameSpeed_ = 0;
    bool fpgasQuiet_ = true;
    // The frame being clocked: its first two bytes (a longer frame is misuse) and its length.
    uint8_t collecting_[2] = {0, 0};
    uint8_t collectedRx_[2] = {0xFF, 0xFF};
    size_t collected_ = 0;
    // Measurement banks as latched by the hold (bank 0 register 0x29 bit 7).
    bool measHeld_ = false;
    BoardNs ochVsyncArmedNs_ = 0;  // chip time the output vsync report was last enabled
    std::array<std::array<uint8_t, kRegsPerBank>, 2> measLatch_{};
    Counters counters_;
    bool logOn_ = false;
    bool vsyncStuck_ = false;
    bool fieldStuck_ = false;
    ByteLog<Frame> log_{inspectionLogBudget(kFrameLogBytes)};  // a bring-up is some 14,000 frames
    C331Engine engine_;
    BoardNs wireNs_ = 0;  // wire time of every frame so far (chip time = board clock + this)
};

}  // namespace plat::sim
