// The C331's serial flash, reached through the flash controller in bank 4: program, read,
// erase, flash-to-memory DMA, and the OSD fonts it holds.
//
// Each whole sequence holds flash_mutex: the manager (OSD DMA, bring-up), the protocol
// (PC flash commands, font reload, register print) and the USB font install all drive
// the same controller, and a DMA set-up in the middle of a page program loses the page.
// Every wait is bounded on the monotonic clock at a few times the part's worst busy time;
// a wait that runs out prints its message, logs, and ends the operation with -1.
#include <chrono>
#include <cstring>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_osd_regs.h"
#include "scaler/c331_print.h"

using namespace c331osd;
using namespace c331flash;

plat::RecursiveMutex c331_manage::flash_mutex{plat::Lock::C331Flash};

namespace {

// Bounds of the waits (microseconds of the monotonic clock), well above the part's worst
// times and the polls' own cost on a loaded board.
constexpr uint32_t kPageBoundUs = 100 * 1000;      // a page program: typically 0.7 ms, at most 3 ms
constexpr uint32_t kEraseBoundUs[3] = {1000 * 1000, 2000 * 1000, 3000 * 1000};  // 4/32/64 KB: 0.4/1.6/2 s worst
constexpr uint32_t kReadStartBoundUs = 100 * 1000;
constexpr uint32_t kWrdiBoundUs = 100 * 1000;
constexpr uint32_t kErasePauseUs = 200;
// A DMA moves up to megabytes (the four fonts, 13.5 MB, take tens of milliseconds): its busy
// bit is polled every 500 us, not back to back, each poll being one SPI message.
constexpr uint32_t kDmaPauseUs = 500;
// A DMA moves at least 10 MB/s; 50 ms for the set-up.
uint32_t dmaBoundUs(uint32_t size) { return 50 * 1000 + size / 10; }

constexpr const char* kMsgWempty =
    "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.";
constexpr const char* kMsgWbusy = "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";
constexpr const char* kMsgWip = "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.";
constexpr const char* kMsgWrdi = "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.";
constexpr const char* kMsgEbusy =
    "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";

// Polls made per microsecond of a bound before it may end a wait: a poll is at least
// 3.2 us of wire, so a real part's busy time is far fewer polls than the bound's. The
// pause slept after each poll counts on top.
constexpr uint32_t kUsPerBoundPoll = 26;

uint64_t monotonicUs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

}  // namespace

bool c331_manage::flashWait(uint32_t d, uint8_t mask, bool wantSet, uint32_t boundUs, uint32_t pauseUs,
                            const char* message, unsigned* polls) {
    const uint64_t start = monotonicUs();
    unsigned n = 0;
    for (;;) {
        ++n;
        const bool set = (readW(d) & mask) != 0;
        if (set == wantSet) break;
        // Given up only once the bound's time has passed and its polls were made: a real
        // part finishes in far fewer, and a slow emulated wire must not end a wait early.
        if (monotonicUs() - start > boundUs && n > boundUs / kUsPerBoundPoll) {
            if (polls) *polls = n;
            ++osd_timeouts;
            c331_printf("%s\n", message);
            writeLogMsg(LOG_ERROR, std::string("c331: ") + message + " (gave up after " +
                                       std::to_string(boundUs / 1000) + " ms)");
            return false;
        }
        if (pauseUs) plat::sleepUs(pauseUs);
    }
    if (polls) *polls = n;
    return true;
}

void c331_manage::flashPins(bool dmaOrder) {
    writeW(kRegSflPinMux, 0x55);
    if (dmaOrder) writeW(kRegSflPinDrive, 1023);
    writeW(kRegSflPinA, 0x300);
    writeW(kRegSflPinB, 0x300);
    if (!dmaOrder) writeW(kRegSflPinDrive, 1023);
    if (prnOn(kPrnSerialFlash)) c331_printf("GIO setting OK.\n");
}

bool c331_manage::flashClearWel(uint32_t boundUs) {
    if (!(readW(B4_SFLRDSR) & kRdsrWel)) return true;
    if (prnOn(kPrnSerialFlash)) {
        c331_printf("B4_SFLRDSR WEL is 1, and have to clear WEL bit.\n");
        c331_printf("Serial Flash WRDI command process start.\n");
    }
    writeW(kRegSflOpErase, kOpWrdi);
    writeW(kRegSflCmd, kCmdOpcode);
    const bool ok = flashWait(B4_SFLRDSR, kRdsrWel, false, boundUs, 0, kMsgWrdi);
    writeW(kRegSflCmd, kCmdIdle);
    return ok;
}

int c331_manage::write_flash(int fd, uint32_t addr, uint32_t len, const char* data) {
    (void)fd;
    if (addr > kFlashSize || len > kFlashSize - addr) {
        writeLogMsg(LOG_ERROR, "c331: flash write past the flash end refused");
        return -1;
    }
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    flashPins(false);
    writeW(kRegSflSetup, 0x80);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflSetup, 0x31);
    writeW(kRegSflOpWren, kOpWren);
    writeW(kRegSflOpRdsr, kOpRdsr);
    writeW(kRegSflOpProgram, kOpPageProgram4B);
    writeW(kRegSflMode, 1);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflClear, 0);
    writeW(kRegSflAddr, addr);
    writeW(kRegSflAddr, addr);
    // The address register's last byte programs the page collected so far.
    auto programmed = [&](uint32_t next) {
        writeW(kRegSflAddr, next);
        return flashWait(B4_SFLDTCTL, kDtWempty, true, kPageBoundUs, 0, kMsgWempty) &&
               flashWait(B4_SFLSTAT, kStatWbusy, false, kPageBoundUs, 0, kMsgWbusy) &&
               flashWait(B4_SFLRDSR, kRdsrWip, false, kPageBoundUs, 0, kMsgWip) && flashClearWel(kPageBoundUs);
    };
    for (uint32_t i = 0; i < len; ++i) {
        writeW(kRegSflData, uint8_t(data[i]));
        if ((addr + i + 1) % 256 == 0 && !programmed(addr + i + 1)) return -1;
        if (prnOn(kPrnSerialFlash) && (i + 1) % 8192 == 0)
            c331_printf("#### %8u byte of %8u byte write finish. ###\n", i + 1, len);
    }
    if ((addr + len) % 256 != 0 && !programmed(addr + len)) return -1;
    return 0;
}

int c331_manage::read_flash(int fd, uint32_t addr, uint32_t len, char* buf) {
    (void)fd;
    if (addr > kFlashSize || len > kFlashSize - addr) {
        writeLogMsg(LOG_ERROR, "c331: flash read past the flash end refused");
        return -1;
    }
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    flashPins(false);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflSetup, 0x80);
    writeW(kRegSflSetup, 0x31);
    writeW(kRegSflOpRead, kOpFastRead4B);
    writeW(kRegSflMode, 1);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflClear, 0);
    writeW(kRegSflAddr, addr);
    writeW(B4_SFLDTCTL, kDtReadStart);
    const bool started = flashWait(B4_SFLDTCTL, kDtReadBusy, false, kReadStartBoundUs, 0,
                                   "B4_SFLDTCTL read start Timeout Error!!. Please check the circumestance of Serial Flash.");
    writeW(B4_SFLDTCTL, 0);
    if (!started) return -1;
    for (uint32_t i = 0; i < len; ++i) {
        buf[i] = char(readW(kRegSflData));
        if (prnOn(kPrnSerialFlash) && (i + 1) % 1024 == 0)
            c331_printf("#### %8u byte of %8u byte read finish. ###\n", i + 1, len);
    }
    if (prnOn(kPrnSerialFlash)) c331_printf("#### %8u byte of %8u byte read finish. ###\n", len, len);
    writeW(kRegSflAddr, addr);
    return 0;
}

int c331_manage::erase_flash(int fd, uint32_t sector, uint32_t count, int kind) {
    (void)fd;
    const int k = kind <= 0 ? 0 : kind == 1 ? 1 : 2;
    static const uint8_t kOps[3] = {kOpErase4K, kOpErase32K, kOpErase64K};
    static const uint32_t kUnits[3] = {4096, 32768, 65536};
    const uint64_t start = uint64_t(sector) * 4096, end = start + uint64_t(count) * kUnits[k];
    if (end > kFlashSize) {
        writeLogMsg(LOG_ERROR, "c331: flash erase past the flash end refused");
        return -1;
    }
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    flashPins(false);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflSetup, 0x80);
    writeW(kRegSflSetup, 0x01);
    writeW(kRegSflOpErase, kOps[k]);
    writeW(kRegSflOpWren, kOpWren);
    writeW(kRegSflOpRdsr, kOpRdsr);
    writeW(kRegSflMode, 1);
    for (uint32_t j = 0; j < count; ++j) {
        writeW(kRegSflAddr, uint32_t(start + uint64_t(j) * kUnits[k]));
        writeW(kRegSflOpErase, kOps[k]);  // the WEL clearing shares this register
        writeW(kRegSflCmd, kCmdErase);
        unsigned polls = 0;
        bool ok = flashWait(B4_SFLSTAT, kStatEbusy, false, kEraseBoundUs[k], kErasePauseUs, kMsgEbusy, &polls);
        if (ok && prnOn(kPrnSerialFlash)) c331_printf("B4_SFLSTAT EBUSY finish\n");
        ok = ok && flashWait(B4_SFLRDSR, kRdsrWip, false, kEraseBoundUs[k], kErasePauseUs, kMsgWip);
        if (ok && prnOn(kPrnSerialFlash)) c331_printf("B4_SFLRDSR WIP finish\n");
        ok = ok && flashClearWel(kWrdiBoundUs);
        writeW(kRegSflCmd, kCmdIdle);
        if (!ok) return -1;
    }
    return 0;
}

int c331_manage::osd_write_dma_sfl(int fd, uint32_t flash_addr, uint32_t dst, int kind, uint32_t size) {
    (void)fd;
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    flashPins(true);
    writeW(kRegDrawOp, 0);
    writeW(kRegSflCmd, kCmdIdle);
    writeW(kRegSflSetup, 0x80);
    writeW(kRegSflSetup, kind == 1 ? 0x37 : 0x33);
    writeW(kRegSflMode, 2);
    writeW(kRegSflOpProgram, kOpPageProgram4B);
    writeW(kRegSflOpRead, kOpFastRead4B);
    writeW(kRegSflOpErase, kOpDmaSetup);
    writeW(kRegSflOpWren, kOpWren);
    writeW(kRegSflOpRdsr, kOpRdsr);
    writeW(kRegSflAddr, flash_addr);
    writeW(kRegSflDmaLen, size | 0x80000000u);
    writeW(kRegSflDmaKind, unsigned(kind) & 15);
    if (kind == 0) writeW(kRegDrawDst, dst);
    else if (kind == 1) writeW(kRegFifoCtl, dst & 0xFFFF);
    else if (kind == 4) writeW(kRegPaletteIndex, dst & 255);
    writeW(kRegSflCmd, kCmdDma);
    const bool ok = flashWait(B4_SFLSTAT, kStatDma, false, dmaBoundUs(size), kDmaPauseUs,
                              "B4_SFLSTAT DMA Timeout Error!!. Please check the circumestance of Serial Flash.");
    writeW(kRegSflCmd, kCmdIdle);
    return ok ? 0 : -1;
}

int c331_manage::read_c331_font(int fd) {
    struct Font {
        uint32_t header;
        unsigned word, reg43;
        const char* name;
    };
    static const Font kFonts[4] = {
        {kHeader32Chn, kFont32Chn, 0x02, "32-dot Chinese"},
        {kHeader32Ascii, kFont32Ascii, 0x01, "32-dot ASCII"},
        {kHeader64Chn, kFont64Chn, 0x08 | 0x20, "64-dot Chinese"},
        {kHeader64Ascii, kFont64Ascii, 0x04 | 0x10, "64-dot ASCII"},
    };
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    unsigned word = 0, reg43 = 0;
    int result = 0;
    for (const Font& f : kFonts) {
        char h[kFontHeaderSize] = {};
        if (read_flash(fd, f.header, kFontHeaderSize, h) != 0) result = -1;  // unreadable: absent
        const bool present = result == 0 && h[0] == 'P';
        if (present) {
            word |= f.word;
            reg43 |= f.reg43;
        }
        if (g_debugSwitch == 254)
            c331_printf("[read_c331_font] %s addr:%#x, byte0:%#x, w:%d, h:%d\n", f.name, f.header, uint8_t(h[0]),
                        uint8_t(h[17]), uint8_t(h[18]));
    }
    font_present = word;
    if (ram) ram->updateRegister(43, kReg43FontBits, reg43);
    return result;
}

int c331_manage::update_font(int fd) {
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    // Each Chinese font follows its ASCII font: a Chinese glyph is ASCII font + 96 + index.
    const uint32_t a32 = PS_FONT_ADDR, c32 = a32 + PS_CHAR_SIZE_32ASCII;
    const uint32_t a64 = c32 + PS_CHAR_SIZE_32CHN, c64 = a64 + PS_CHAR_SIZE_64ASCII;
    int result = 0;
    if (osd_write_dma_sfl(fd, PS_CHAR_ADDR_32ASCII, a32, 0, PS_CHAR_SIZE_32ASCII) != 0) result = -1;
    g_font_addr_32ASCII = a32;
    if (osd_write_dma_sfl(fd, PS_CHAR_ADDR_32CHN, c32, 0, PS_CHAR_SIZE_32CHN) != 0) result = -1;
    g_font_addr_32CHN = c32;
    if (osd_write_dma_sfl(fd, PS_CHAR_ADDR_64ASCII, a64, 0, PS_CHAR_SIZE_64ASCII) != 0) result = -1;
    g_font_addr_64ASCII = a64;
    if (osd_write_dma_sfl(fd, PS_CHAR_ADDR_64CHN, c64, 0, PS_CHAR_SIZE_64CHN) != 0) result = -1;
    g_font_addr_64CHN = c64;
    return result;
}

void c331_manage::load_fonts() {
    load_char();
    read_c331_font(spi_fd);
    update_font(spi_fd);
}
