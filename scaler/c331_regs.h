#pragma once
// C331 register map as the scaler code uses it. A descriptor is 0xBBAANN:
// bank, first register address in the bank, byte count (0..4, little-endian).
// Blocks repeated per output channel (OCH) lie 16 banks apart: pass 16 * k as
// the bank offset for OCH k.
#include <cstdint>

#include "platform/board_wiring.h"

namespace c331 {

constexpr unsigned descBank(uint32_t d) { return (d >> 16) & 0xFF; }
constexpr unsigned descAddr(uint32_t d) { return (d >> 8) & 0xFF; }
constexpr unsigned descCount(uint32_t d) { return d & 0xFF; }
constexpr uint32_t desc(unsigned bank, unsigned addr, unsigned count) {
    return (uint32_t(bank & 0xFF) << 16) | (uint32_t(addr & 0xFF) << 8) | (count & 0xFF);
}

// ---- wire
constexpr uint8_t kWriteBit = 0x80;      // first byte of a write frame: 0x80 | address
constexpr uint8_t kAddrMask = 0x7F;      // 7 address bits are sent
constexpr uint8_t kBankSelectAddr = 0x00;
constexpr uint8_t kReadDummy = 0xFF;
constexpr uint32_t kWriteSpeedHz = plat::wiring::kC331WriteSpeedHz;
constexpr uint32_t kReadSpeedHz = plat::wiring::kC331ReadSpeedHz;
constexpr unsigned kOchBankStep = 16;
constexpr unsigned ochOffset(int k) { return kOchBankStep * unsigned(k); }

// ---- identity
constexpr uint32_t kRegChipId = 0xB20801;
constexpr uint32_t kChipIdValue = 0x24;

// ---- clock block (bank 0xFF)
constexpr uint32_t kRegClkSel = 0xFF0001;   // address 0: also the bank-select address
constexpr uint32_t kRegPaletteWindow = 0xFF0101;  // 1: the OSD palette takes writes (0 at clock set-up)
constexpr uint32_t kRegClkMul = 0xFF0201;
constexpr uint32_t kRegClk3 = 0xFF0301;
constexpr uint32_t kRegClkDiv = 0xFF0401;
constexpr uint32_t kRegClkEnable = 0xFF0503;

// ---- global control (bank 0)
constexpr uint32_t kRegChanCtl0 = 0x000801;         // 0x08..0x0F: channel n (ICH n + OCH n) control
constexpr uint32_t kRegUpdCtl0 = 0x002201;          // 0x22..0x28: register update control
constexpr int kUpdCtlCount = 7;
constexpr uint32_t kRegUpdHold = 0x002901;          // bit 0: hold while the update control changes;
constexpr uint32_t kUpdHoldBit = 0x01;              // 0x80: measurement hold
constexpr uint32_t kMeasHold = 0x80;
constexpr uint32_t kRegColorMatrixEn0 = 0x005901;   // 0x59..0x60 bit 5: colour matrix enable
constexpr uint32_t kColorMatrixEnBit = 0x20;

// ---- output sync (bank 3)
constexpr uint32_t kRegOutHsync = 0x034401;
constexpr uint32_t kRegOutVsync = 0x034501;
constexpr uint32_t kRegOutHsync2 = 0x034C01;
constexpr uint32_t kRegOutVsync2 = 0x034D01;
constexpr uint32_t kRegTxLaneRoute = 0x032C02;
constexpr uint32_t kRegTxLaneMapA = 0x035504;
constexpr uint32_t kRegTxLaneMapB = 0x035E04;
constexpr uint32_t kRegTxLaneMapC = 0x036204;

// ---- V-by-One transmitters (banks 1, 2)
constexpr uint32_t kRegTx1Pll = 0x011801;
constexpr uint32_t kRegTx1Mode = 0x010801;
constexpr uint32_t kRegTx1Ctl = 0x010A02;
constexpr uint32_t kRegTx2Pll = 0x021801;
constexpr uint32_t kRegTx2Mode = 0x020801;
constexpr uint32_t kRegTx2Ctl = 0x020A02;
constexpr uint32_t kRegTx2Mode2 = 0x027801;
constexpr uint32_t kTxCtlStart = 0x8011;

// ---- per-OCH output timing (bank 0x08 + 16k)
constexpr uint32_t kRegOchHTotal = 0x080A02;   // total - 2
constexpr uint32_t kRegOchVTotal = 0x080C02;
constexpr uint32_t kRegOchLineUnit = 0x081D02; // 64
constexpr uint32_t kRegOchHStart = 0x082802;
constexpr uint32_t kRegOchHEnd = 0x082A02;
constexpr uint32_t kRegOchVStart = 0x082C02;
constexpr uint32_t kRegOchVEnd = 0x082E02;
constexpr uint32_t kRegOchHStart2 = 0x083002;
constexpr uint32_t kRegOchHEnd2 = 0x083202;     // also the end of a window's tile
constexpr uint32_t kRegOchVStart2 = 0x083402;
constexpr uint32_t kRegOchVEnd2 = 0x083602;
constexpr uint32_t kRegOactHst = 0x084002;     // output active window: horizontal start
constexpr uint32_t kRegOactHw = 0x084202;      // width
constexpr uint32_t kRegOactVw = 0x084602;      // lines (the whole panel: active height + 1)
constexpr uint32_t kRegOchBgEnable = 0x084801;
constexpr uint32_t kRegOchBgColor = 0x084903;
constexpr uint32_t kBgColorForced = 0xFF00;
constexpr uint32_t kRegOchFillY = 0x084C01;
constexpr uint32_t kRegOchFillU = 0x084D01;
constexpr uint32_t kRegOchFillV = 0x084E01;

// ---- per-OCH pattern generator (bank 0x08 + 16k)
constexpr uint32_t kRegPatType = 0x085701;
constexpr uint32_t kRegPatOpt1 = 0x085801;
constexpr uint32_t kRegPatOpt2 = 0x085901;
constexpr uint32_t kRegPatOpt3 = 0x085A01;
constexpr uint32_t kRegPatMode = 0x085B02;
constexpr uint32_t kPatModeWide = 0x8000;
constexpr uint32_t kRegPatP1 = 0x085D02;
constexpr uint32_t kRegPatP2 = 0x085F02;
constexpr uint32_t kRegPatP3 = 0x086102;
constexpr uint32_t kRegPatC1 = 0x086301;
constexpr uint32_t kRegPatC2 = 0x086401;
constexpr uint32_t kRegPatC3 = 0x086501;
constexpr uint32_t kRegPatEn1 = 0x086601;
constexpr uint32_t kRegPatEn2 = 0x086701;
constexpr uint32_t kRegPatEn3 = 0x086801;

// ---- per-OCH picture processing (bank 0x0B / 0x0C + 16k)
constexpr uint32_t kRegSharpCtl = 0x0B0801;
constexpr uint32_t kRegSharpHGain = 0x0B0901;
constexpr uint32_t kRegSharpHCoef0 = 0x0B0C01;   // five bytes 0x0C..0x10
constexpr uint32_t kRegSharpHMode = 0x0B1101;
constexpr uint32_t kRegSharpVGain = 0x0B1201;
constexpr uint32_t kRegSharpVCoef0 = 0x0B1501;   // five bytes 0x15..0x19
constexpr uint32_t kRegSharpVEnable = 0x0B5E01;
constexpr uint32_t kRegSatEnable = 0x0C1401;
constexpr uint32_t kRegSat0 = 0x0C1B02;
constexpr uint32_t kRegSat1 = 0x0C1D02;
constexpr uint32_t kRegSat2 = 0x0C1F02;
constexpr uint32_t kRegEnhEnable = 0x0C2101;
constexpr uint32_t kRegContrast0 = 0x0C2802;
constexpr uint32_t kRegContrast1 = 0x0C2A02;
constexpr uint32_t kRegContrast2 = 0x0C2C02;
constexpr uint32_t kRegBright0 = 0x0C3A02;
constexpr uint32_t kRegBright1 = 0x0C3C02;
constexpr uint32_t kRegBright2 = 0x0C3E02;
constexpr uint32_t kRegColorMatrix0 = 0x0C5A02;  // nine words, step 2
constexpr int kColorMatrixWords = 9;

// ---- per-bank enables and frame memory
constexpr uint32_t kRegIsyct = 0x100901;         // input sync control, + 16k: 1 run, 2 freeze
constexpr uint32_t kIchRun = 1;
constexpr uint32_t kIchFreeze = 2;
constexpr uint32_t kRegIsFld0 = 0x161C04;        // banks 0x16 + 16k, + 4i (<< 8): write address of field i

// ---- status registers polled by the bring-up and the window programming
constexpr uint32_t kRegIchVsyncEn = 0x050801;
constexpr uint32_t kRegOchVsyncEn = 0x050901;
constexpr uint32_t kRegIchVsyncStat = 0x052201;
constexpr uint32_t kRegOchVsyncStat = 0x052301;
constexpr uint32_t kRegDrawBusy = 0x041701;

}  // namespace c331
