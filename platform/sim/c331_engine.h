#pragma once
// The simulated C331's bank-4 serial-flash controller, its drawing engine and the OSD
// palette, behind the register file of C331Model.
//
// Serial flash: a 32 MiB NOR part, kept in a file under the root (<root>/sim/c331-flash.bin)
// so it survives a reboot; erased cells read 0xFF, a page program ANDs. The controller:
//  - 0x52 (data port) collects up to 256 page bytes; a read after a read start (0x53 = 1)
//    returns the next flash byte;
//  - writing the last byte (0x51) of the address register 0x4E..0x51 programs the
//    collected bytes at the old address (wrapping inside its 256-byte page, as the part
//    does) and then moves the pointer;
//  - 0x48 = 4 erases one unit at the pointer (0x4B: 0x20 4 KB, 0x52 32 KB, 0xD8 64 KB),
//    aligned down; 0x48 = 5 sends the opcode of 0x4B alone (0x06 sets WEL, 0x04 clears it);
//    0x48 = 2 starts a DMA of 0x56..0x59 & 0x7FFFFFFF bytes from the pointer, kind 0x5A & 15:
//    0 into OSD memory at 0x11..0x14, 1 into the character table at 0x27..0x28,
//    4 into the palette from entry 0x091F;
//  - status: 0x53 bit 7 read starting, bit 5 WEMPTY; 0x54 bit 0 DMA busy, bit 1 WBUSY,
//    bit 3 EBUSY; 0x55 bit 0 WIP, bit 1 WEL; all following a real part's times.
// Drawing engine: 0x08 = 1 fill, 2 copy, 3 character render, carried out in a sparse OSD
// memory; 0x17 bit 0 busy while it runs. Every command is recorded with its registers.
// No address runs past its store: flash past 32 MiB and OSD memory past its page budget
// are dropped and counted.
//
// Chip time is the board clock plus the wire time of every frame clocked so far: the PC
// clocks frames in no time, the real wire does not, so a driver polling a busy bit sees
// it clear after as many polls as on the board.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/board_clock.h"
#include "platform/sim/byte_log.h"

namespace plat::sim {

// The NOR cells in a file under the root, kept inverted so that an erased part is a
// file of holes: a fresh 32 MiB image costs no disk and no time.
class NorImage {
public:
    NorImage(const std::string& file, uint32_t size);
    ~NorImage();
    NorImage(const NorImage&) = delete;
    NorImage& operator=(const NorImage&) = delete;
    bool ok() const { return fd_ >= 0; }
    uint32_t size() const { return size_; }
    // Parts past the end read 0xFF and are not written.
    void read(uint32_t offset, uint8_t* out, uint32_t len) const;
    void program(uint32_t offset, const uint8_t* data, uint32_t len);  // ANDs into the cells
    void write(uint32_t offset, const uint8_t* data, uint32_t len);    // replaces (a programmer's load)
    void erase(uint32_t offset, uint32_t len);

private:
    int fd_ = -1;
    uint32_t size_;
};

class C331Engine {
public:
    using RegFile = std::array<std::array<uint8_t, 128>, 256>;

    static constexpr uint32_t kFlashSize = 32u * 1024 * 1024;
    static constexpr int kPaletteEntries = 256;
    static constexpr size_t kRecordedBytes = 4 << 20;  // the newest drawing commands within this
    static constexpr size_t kOsdPageSize = 4096;
    static constexpr size_t kOsdMaxPages = 24 * 1024;  // 96 MiB of OSD memory touched at most

    // Busy times of the part (nanoseconds); a test may shorten them.
    struct Times {
        BoardNs pageProgram = 700 * kNsPerUs;  // tPP typical
        BoardNs pageShift = 45 * kNsPerUs;     // 261 bytes at 50 MHz into the part
        BoardNs erase4k = 45 * kNsPerMs;
        BoardNs erase32k = 120 * kNsPerMs;
        BoardNs erase64k = 150 * kNsPerMs;
        BoardNs readStart = 2 * kNsPerUs;
        uint32_t dmaBytesPerUs = 400;          // flash to memory
        uint32_t drawBytesPerUs = 800;         // fill and copy
    };

    struct CharRender {
        uint16_t glyph;
        uint8_t fg, bg, advance;
    };
    struct DrawCommand {
        std::string kind;            // "fill", "copy", "char", "dma"
        std::map<int, uint32_t> regs;  // the engine registers in force, by address
        std::vector<CharRender> chars;
        uint32_t src = 0, dst = 0, size = 0;  // dma: flash address, target, bytes; kind in regs[0x5A]
        int dmaKind = -1;
        BoardNs at = 0;
    };
    struct Stats {
        unsigned broken = 0;          // set-up changed, DMA or drawing started with page bytes pending
        unsigned paletteDropped = 0;  // palette bytes past entry 255
        unsigned pageOverflow = 0;    // data-port bytes past 256
        unsigned flashDropped = 0;    // bytes past the flash end
        unsigned memDropped = 0;      // OSD bytes past the page budget
        unsigned pagePrograms = 0, erases = 0, dmas = 0, draws = 0;
    };

    C331Engine();
    ~C331Engine();

    // A written register (already stored in `regs`). `now` is chip time.
    void written(RegFile& regs, unsigned bank, unsigned addr, uint8_t v, BoardNs now);
    // The value of a register with behaviour; false for plain storage.
    bool read(const RegFile& regs, unsigned bank, unsigned addr, BoardNs now, uint8_t* out);

    // ---- board control and tests
    NorImage& flash();
    void flashLoad(uint32_t addr, const std::vector<uint8_t>& bytes);  // as a programmer would
    std::vector<uint8_t> flashRead(uint32_t addr, uint32_t len);
    void holdFlashBusy(bool on) { holdFlash_ = on; }
    void holdDrawBusy(bool on) { holdDraw_ = on; }
    void setTimes(const Times& t) { times_ = t; }
    const Times& times() const { return times_; }
    std::vector<DrawCommand> recorded() const { return std::vector<DrawCommand>(log_.begin(), log_.end()); }
    void clearRecorded() { log_.clear(); }
    Stats stats() const { return stats_; }
    std::array<uint8_t, 3> palette(int entry) const { return palette_[size_t(entry & 255)]; }
    uint8_t osdByte(uint32_t addr) const;
    std::vector<uint8_t> osdRead(uint32_t addr, uint32_t len) const;
    // Fills a fresh flash with generated fonts and a test bitmap (the standard board).
    void seedGeneratedContent();

private:
    uint32_t reg32(const RegFile& r, unsigned bank, unsigned addr, unsigned n) const;
    void programPage(BoardNs now);
    void erase(const RegFile& regs, BoardNs now);
    void dma(RegFile& regs, BoardNs now);
    void draw(RegFile& regs, unsigned op, BoardNs now);
    void osdWrite(uint32_t addr, uint8_t v);
    void osdWriteRange(uint32_t addr, const uint8_t* data, uint32_t len);
    void osdFill(uint32_t addr, uint8_t v, uint32_t len);
    void osdReadRange(uint32_t addr, uint8_t* out, uint32_t len) const;
    void paletteByte(uint8_t v);
    void record(DrawCommand c);
    bool flashBusy(BoardNs now) const;

    std::unique_ptr<NorImage> flash_;
    Times times_;
    uint32_t ptr_ = 0;       // flash address register as last written
    uint32_t readPtr_ = 0;
    std::vector<uint8_t> page_;
    bool wel_ = false;
    BoardNs wbusyUntil_ = 0, wipUntil_ = 0, ebusyUntil_ = 0, dmaUntil_ = 0, readUntil_ = 0, drawUntil_ = 0;
    bool holdFlash_ = false, holdDraw_ = false;
    // 4 KB pages; absent reads 0, a page of one value keeps no cells until written
    struct OsdPage {
        uint8_t fill = 0;
        std::vector<uint8_t> cells;
    };
    std::map<uint32_t, OsdPage> osd_;
    std::array<std::array<uint8_t, 3>, kPaletteEntries> palette_{};
    unsigned palIndex_ = 0, palComp_ = 0;
    std::vector<uint8_t> fifo_;
    uint8_t fifoHeight_ = 0;
    ByteLog<DrawCommand> log_{inspectionLogBudget(kRecordedBytes)};
    Stats stats_;
};

// Heap bytes of a recorded drawing command: its kind, its register map's nodes, its characters.
inline size_t heapBytes(const C331Engine::DrawCommand& c) {
    return heapBytes(c.kind) + c.regs.size() * 48 + c.chars.capacity() * sizeof(C331Engine::CharRender);
}

}  // namespace plat::sim
