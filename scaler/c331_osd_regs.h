#pragma once
// C331 registers of the serial-flash controller, the drawing engine, the OSD planes and
// scroller, the palette and the service operations (descriptor 0xBBAANN, c331_regs.h).
#include <cstdint>

#include "scaler/c331_regs.h"

namespace c331osd {

// ---- flash pins (bank 5)
constexpr uint32_t kRegSflPinMux = 0x054203;
constexpr uint32_t kRegSflPinA = 0x053C02, kRegSflPinB = 0x053E02;
constexpr uint32_t kRegSflPinDrive = 0x054502;

// ---- serial-flash controller (bank 4)
constexpr uint32_t kRegSflSetup = 0x044701;
constexpr uint32_t kRegSflCmd = 0x044801;
constexpr uint32_t kRegSflOpProgram = 0x044901;
constexpr uint32_t kRegSflOpRead = 0x044A01;
constexpr uint32_t kRegSflOpErase = 0x044B01;
constexpr uint32_t kRegSflOpWren = 0x044C01;
constexpr uint32_t kRegSflOpRdsr = 0x044D01;
constexpr uint32_t kRegSflAddr = 0x044E04;
constexpr uint32_t kRegSflData = 0x045201;
constexpr uint32_t B4_SFLDTCTL = 0x045301;   // write 1: read start; bit 7 read starting, bit 5 WEMPTY
constexpr uint32_t B4_SFLSTAT = 0x045401;    // bit 0 DMA busy, bit 1 WBUSY, bit 3 EBUSY
constexpr uint32_t B4_SFLRDSR = 0x045501;    // bit 0 WIP, bit 1 WEL
constexpr uint32_t kRegSflDmaLen = 0x045604;
constexpr uint32_t kRegSflDmaKind = 0x045A01;
constexpr uint32_t kRegSflMode = 0x045F01;
constexpr uint32_t kRegSflClear = 0x046001;
constexpr uint8_t kOpPageProgram4B = 0x12, kOpFastRead4B = 0x0C, kOpWren = 0x06, kOpRdsr = 0x05, kOpWrdi = 0x04;
constexpr uint8_t kOpErase4K = 0x20, kOpErase32K = 0x52, kOpErase64K = 0xD8, kOpDmaSetup = 0xC7;
constexpr uint8_t kCmdIdle = 0, kCmdDma = 2, kCmdErase = 4, kCmdOpcode = 5;
constexpr uint8_t kDtReadStart = 0x01, kDtReadBusy = 0x80, kDtWempty = 0x20;
constexpr uint8_t kStatDma = 0x01, kStatWbusy = 0x02, kStatEbusy = 0x08;
constexpr uint8_t kRdsrWip = 0x01, kRdsrWel = 0x02;

// ---- drawing engine (bank 4)
constexpr uint32_t kRegDrawOp = 0x040801;      // 1 fill, 2 copy, 3 character render
constexpr uint32_t kRegDrawColor = 0x040B02;
constexpr uint32_t kRegDrawSrc = 0x040D04;
constexpr uint32_t kRegDrawDst = 0x041104;
// (busy: c331::kRegDrawBusy, bit 0)
constexpr uint32_t kRegDrawDstPitch = 0x041B01;
constexpr uint32_t kRegDrawSrcPitch = 0x041C01;
constexpr uint32_t kRegDrawW = 0x041E02;
constexpr uint32_t kRegDrawH = 0x042002;
constexpr uint32_t kRegDrawFormat = 0x042201;
constexpr uint32_t kRegCharFirst = 0x042301;
constexpr uint32_t kRegCharLast = 0x042401;
constexpr uint32_t kRegCharX = 0x042501, kRegCharY = 0x042601;
constexpr uint32_t kRegFifoCtl = 0x042702;
constexpr uint32_t kRegFifoPort = 0x042901;
constexpr uint32_t kRegGlyphMode = 0x042A01;
constexpr uint8_t kOpFill = 1, kOpCopy = 2, kOpChar = 3;

// ---- palette (bank 9) and its access window (bank 0xFF)
using c331::kRegPaletteWindow;
constexpr uint32_t kRegPaletteIndex = 0x091F01;
constexpr uint32_t kRegPaletteData = 0x092001;

// ---- OSD plane and scroller per OCH (bank 9 + 16k)
constexpr uint32_t kRegOsdCtl = 0x090802;
constexpr uint32_t kRegOsdHst = 0x091202, kRegOsdHw = 0x091402, kRegOsdVst = 0x091602, kRegOsdVw = 0x091802;
constexpr uint32_t kRegOsdBase = 0x091A04;
constexpr uint32_t kRegOsdPitch = 0x091E01;
constexpr uint32_t kRegScrollCtl = 0x093C01, kRegScrollSpeed = 0x093D01;
constexpr uint32_t kRegScrollW = 0x094002, kRegScrollH = 0x094202;

}  // namespace c331osd
