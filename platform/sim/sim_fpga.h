#pragma once
// A sending-card FPGA on its SPI link of the simulated board. Two-phase protocol: a
// 4-byte command word while the FPGA's command line(s) are high, then the data phase
// while they are low. Registers are 8-bit and masked by the FPGA itself; RAMs are
// numbered 0..255 with a 12-bit byte address.
//
// What the engine relies on is modelled: the identity registers, the V-by-One start
// steps (register 3 bits 6 and 7) with the lock coming some time later, the status
// bits of register 22, the hand-shake echo of register 23 bit 1, the link-good bits of
// register 40, the link bitmaps 128/144, the measured input in RAM 1 116..123 (owned
// by the FPGA, re-applied after every host write over it), and the "apply" latches:
// register 2 bit 0 snapshots RAM 1, register 3 bit 2 latches the brightness.
// While its reset line is low (or a test holds it in reset) the FPGA answers 0xFF and
// ignores writes; on release it comes back in its power-on state with cleared RAMs.
//
// Misuse (misuse()): a virtual register 64..127 on the wire, register 2 bit 2 written 1, a data
// phase without a command word, a command word of the wrong length, a RAM access past
// 4096.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/board_clock.h"
#include "platform/sim/card_chain.h"
#include "platform/sim/spi_device_model.h"

namespace plat::sim {

// The FPGA's own lines in the SoC window (its selects are the board's business).
struct SimFpgaLines {
    uint32_t command;
    uint32_t commandB;   // 0 = the FPGA has one command line
    uint32_t reset;
    uint32_t interrupt;
};

// Healthy by default; tests switch single faults on.
struct SimFpgaProfile {
    uint8_t version = 0x21;                              // register 7
    std::array<uint8_t, 4> identity{0x12, 0x05, 0x01, 26};  // registers 28..31 (31 = year 25..48)
    uint16_t measuredWidth = 1920;
    uint16_t measuredHeight = 1080;
    uint32_t pixelClock = 833753;
    uint32_t lockDelayUs = 20000;    // V-by-One lock after the second start step (board clock)
    bool vboErrorStuck = false;      // register 22 bit 3 stays 1
    bool neverLocks = false;
    bool inputNeverReady = false;
    int handshakeEcho = 0;           // 0 echoes register 23 bit 1, 1 never, 2 stuck at 1
    unsigned badLinkSamples = 0;     // out of every 8 reads of register 40
    int corruptRam1Word = -1;        // RAM 1 address whose u16 reads back altered
    int brightnessReadbackOffset = 0;
    unsigned txBusyTicks = 0;        // a pair's transmit stays busy this many 10 ms ticks
};

// One receiving-card frame on an Ethernet port: sent by the host or answered by a card.
// The card-wire log of one FPGA keeps the newest frames within this many bytes.
constexpr size_t kCardLogBytes = 1 << 20;

struct CardFrameRecord {
    BoardNs time;
    int fpga;
    int port;         // 0..15 of that FPGA
    bool answer;      // false: host to cards
    std::vector<uint8_t> bytes;
};
inline size_t heapBytes(const CardFrameRecord& r) { return heapBytes(r.bytes); }

class SimFpga : public SpiDeviceModel {
public:
    struct Counters {
        uint64_t frames = 0;
        uint64_t bytes = 0;
        uint64_t registerWrites = 0;
        uint64_t registerReads = 0;
        uint64_t ramWrites = 0;
        uint64_t ramReads = 0;
    };

    SimFpga(std::string name, SimFpgaLines lines);

    void attached(SimBoard& board) override;
    void transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) override;
    // "reset hold|release", "break-lock", "reg N", "status"
    std::string control(const std::vector<std::string>& args) override;

    // ---- board control and tests
    // The observers below read under the board's lock, as the controller's transfers
    // change the chip: a test or board control may look while a link thread drives it.
    SimFpgaProfile& profile() { return profile_; }
    void holdInReset(bool hold);
    bool inReset() const;
    void breakLock();
    bool locked() const;
    void setPortLinks(uint16_t ports);
    // What the FPGA measures of its V-by-One input (RAM 1 116..123).
    void setMeasuredInput(uint16_t width, uint16_t height, uint32_t pixelClock);  // bit p = Ethernet port p linked
    uint8_t reg(uint8_t r) const;
    void setReg(uint8_t r, uint8_t v);
    std::vector<uint8_t> ram(uint8_t number, uint16_t address, size_t length) const;
    void loadRam(uint8_t number, uint16_t address, const std::vector<uint8_t>& bytes);
    bool black() const { return reg(0) & 0x04; }
    bool frozen() const { return reg(0) & 0x02; }
    bool mapping() const { return reg(0) & 0x80; }
    bool videoOn() const { return reg(3) & 0x20; }
    std::vector<uint8_t> appliedGeometry() const;
    unsigned applyCount() const;
    int appliedBrightness() const;
    unsigned resets() const;
    Counters counters() const;

    // ---- Ethernet output ports and their receiving-card chains
    // A chain of n cards on port p (0..15); n = 0 unplugs it. The port's link follows.
    void attachCards(int port, size_t n);
    CardChain* chain(int port);
    // The frames on the card wires, the newest within kCardLogBytes (its share, byte_log.h).
    const ByteLog<CardFrameRecord>& cardLog() const { return cardLog_; }
    void clearCardLog() { cardLog_.clear(); }
    unsigned ackClears() const { return ackClears_; }
    unsigned cardFramesDropped() const;

private:
    template <typename Read>
    auto observe(Read read) const -> decltype(read());
    void powerOn();
    void resetLevel(bool low);
    void startLock();
    uint8_t readRegister(uint8_t r);
    // What a read of register r answers on the wire now, without the read's effects (the
    // link-sample and age counters move only with the host's reads).
    uint8_t wireValue(uint8_t r) const;
    void writeRegister(uint8_t r, uint8_t value, uint8_t mask);
    std::vector<uint8_t>& ramBlock(uint8_t number);
    void applyMeasured();
    std::string cardControl(const std::vector<std::string>& args);
    void startTransmit(int pair);
    void queueAnswer(int pair, std::vector<uint8_t> bytes);
    void deliver(int pair);
    void updateInterrupt();
    void logCard(int port, bool answer, const uint8_t* p, size_t n);

    SimFpgaLines lines_;
    SimBoard* board_ = nullptr;
    SimFpgaProfile profile_;

    std::array<uint8_t, 256> regs_{};
    std::map<int, std::vector<uint8_t>> rams_;
    bool inReset_ = false;
    bool forcedReset_ = false;
    bool haveCommand_ = false;
    uint8_t command_[4] = {};

    bool locked_ = false;
    uint64_t lockEvent_ = 0;  // board-clock event that brings the lock
    bool lockBroken_ = false;
    uint16_t portLinks_ = 0;
    unsigned reads40_ = 0;
    uint8_t counter42_ = 0;

    std::vector<uint8_t> applied_;
    unsigned applyCount_ = 0;
    int appliedBrightness_ = -1;
    unsigned resets_ = 0;
    Counters counters_;

    int index_ = 0;  // 0 or 1, from the name
    std::map<int, CardChain> chains_;
    std::array<std::vector<std::vector<uint8_t>>, 8> rxQueue_;
    std::array<bool, 8> rxReady_{};
    std::array<BoardNs, 8> txBusyUntil_{};
    ByteLog<CardFrameRecord> cardLog_{inspectionLogBudget(kCardLogBytes)};
    unsigned ackClears_ = 0;
    unsigned lostAnswers_ = 0;
};

}  // namespace plat::sim
