#pragma once
// C331 registers of the window path: input measurement, input selection, input and output
// channels (ICH n and OCH n lie 16 banks apart like the other per-channel blocks), frame
// memory, layer mixers and the de-interlacer. Descriptors are 0xBBAANN as in c331_regs.h.
#include <cstdint>

namespace c331 {

// ---- input measurement (banks 0xAE, 0xAF), read under the measurement hold
constexpr unsigned kMeasBank = 0xAE, kMeasActBank = 0xAF;
// CMOS port c: 0x08 + 2c h total - 1, 0x20 + 2c vertical count, 0x38 + 2c lines - 1,
// 0x50 + 3c frame length - 1 (reference clocks), bank 0xAF 0x08 + 2c active width.
// V-by-One port k (sub-link j): 0x10 + 8k + 2j, 0x28 + 8k + 2j, 0x40 + 8k + 2j,
// 0x5C + 12k + 3j, bank 0xAF 0x10 + 8k + 2j.
constexpr unsigned measHTotalAddr(int c, int j = 0) { return c < 4 ? 0x08u + 2u * c : 0x10u + 8u * (c - 4) + 2u * j; }
constexpr unsigned measVCountAddr(int c, int j = 0) { return c < 4 ? 0x20u + 2u * c : 0x28u + 8u * (c - 4) + 2u * j; }
constexpr unsigned measLinesAddr(int c, int j = 0) { return c < 4 ? 0x38u + 2u * c : 0x40u + 8u * (c - 4) + 2u * j; }
constexpr unsigned measFrameAddr(int c, int j = 0) { return c < 4 ? 0x50u + 3u * c : 0x5Cu + 12u * (c - 4) + 3u * j; }
constexpr unsigned measActWAddr(int c, int j = 0) { return c < 4 ? 0x08u + 2u * c : 0x10u + 8u * (c - 4) + 2u * j; }
constexpr int kMeasMin = 2, kMeasMax = 65534;
constexpr uint32_t kFrameMin = 2, kFrameMax = 0xFFFFFE;

// ---- input format (bank 0) and sync polarity (bank 6)
constexpr uint32_t kRegInputFormat = 0x001802;   // bit 4c: CMOS port c carries a 4:2:2 picture
constexpr uint32_t kRegVboLaneWord0 = 0x001E02;  // + 2k
constexpr uint32_t kRegVboLayout = 0x003902;     // byte k: lane layout of V-by-One port k
constexpr uint32_t kRegCmosSyncPol = 0x063804;   // byte c: polarity | 4
constexpr uint32_t kRegVboSyncPol = 0x063C04;    // 16 bits per port: polarity in four nibbles
constexpr uint32_t kRegIchSelect0 = 0x001001;    // + ich: input select of ICH ich
constexpr uint32_t kRegIchFormat0 = 0x007101;    // + ich (<< 8): ISCWCT
constexpr uint32_t kRegOchFormat0 = 0x006901;    // + och (<< 8): OSCWCT

// ---- V-by-One receivers (bank 2, port k at + 0x1C k)
constexpr uint32_t kRegVboRxReset = 0x027F01;    // 14 port 0 / 13 port 1, then 15
constexpr uint32_t kRegVboRxCtl = 0x024001;      // 5
constexpr uint32_t kRegVboRxRange = 0x024C01;    // bit 3: low-frequency range
constexpr uint32_t kRegVboRxLanes = 0x024F01;    // lane mask
constexpr unsigned kVboRxStride = 0x1C;
constexpr uint32_t kVboRxLowRange = 0x08;
constexpr uint32_t kRegVboRxLock = 0xB26301;     // bit 5 + 2k: locked
constexpr double kVboLowRangeHz = 50000000.0;

// ---- input vertical sync and field (banks 5, 0xA8, 0xAB)
constexpr unsigned kIchFieldBank = 0xA8, kIchFieldFirst = 0x3F, kIchFieldStride = 5;
constexpr uint32_t kRegIchFieldH = 0xA80802;      // + 0x600 ich: field h total - 1
constexpr uint32_t kRegIchFieldV = 0xA80A02;      // + 0x600 ich: field v total
constexpr uint32_t kRegWriteField0 = 0xAB4701;   // + ich (<< 8): bits 2..3 write-field index

// ---- dual-input blocks (bank 3, pair p at + 9p)
constexpr uint32_t kRegIdualCtl = 0x030801;
constexpr uint32_t kRegIdualStart = 0x030902;
constexpr uint32_t kRegIdualWidth = 0x030B02;
constexpr unsigned kIdualStride = 9;

// ---- output background (bank 8 + 16 och)
constexpr uint32_t kColorGreen = 0x00FF00;

// ---- ICH capture and shrink (banks 0x10, 0x11 + 16 ich)
constexpr uint32_t kRegIactHst = 0x101702, kRegIactHw = 0x101902, kRegIactVst = 0x101B02, kRegIactVw = 0x101D02;
constexpr uint32_t kRegShrPhaseFlags = 0x114201, kRegShr43 = 0x114301, kRegHShrCtl = 0x114401;
constexpr uint32_t kRegHShrPh0 = 0x114501, kRegHShrPh1 = 0x114601, kRegHShrStep = 0x114702;
constexpr uint32_t kRegVShrCtl = 0x114901, kRegVShrPh0 = 0x114A01, kRegVShrPh1 = 0x114B01, kRegVShrStep = 0x114C02;
constexpr uint32_t kRegVShrLut0 = 0x116801;      // 24 bytes
constexpr uint32_t kHShrOn = 199, kHShrOff = 0x80, kVShrOn = 0x84, kVShrOff = 0x80;

// ---- frame memory (bank 0x16 + 16 ch)
constexpr uint32_t kRegOsFld0 = 0x160804;        // + 4i (<< 8): read address of field i
constexpr uint32_t kRegIMwi = 0x163101, kRegOMwi = 0x163001;
constexpr uint32_t kRegFieldOrder = 0x166603;
constexpr uint32_t kRegOutFieldOrder = 0x166C02;

// ---- OCH read and zoom (banks 0x08, 0x0A + 16 och)
constexpr uint32_t kRegOsyct = 0x080802;
constexpr uint32_t kRegOactVst = 0x084402;  // with kRegOactHst, kRegOactHw, kRegOactVw (c331_regs.h)
constexpr uint32_t kRegOchMirror = 0x082201;
constexpr uint32_t kRegVZoomEn = 0x0A4401, kRegHZoomCtl = 0x0A4601, kRegHZoomPh0 = 0x0A4701, kRegHZoomPh1 = 0x0A4801;
constexpr uint32_t kRegHZoomStep = 0x0A4902, kRegVZoomCtl = 0x0A4B01, kRegVZoomPh0 = 0x0A4C01, kRegVZoomPh1 = 0x0A4D01;
constexpr uint32_t kRegVZoomStep = 0x0A4E02, kRegVZoomLut0 = 0x0A6801;
constexpr uint32_t kHZoomUsed = 199, kHZoomUnused = 0x47, kVZoomUsed = 0x84, kVZoomUnused = 4, kVZoomLineBack = 5;

// ---- filter store (bank 0)
constexpr uint32_t kRegLutSelect = 0x007901, kRegLutLoad = 0x007A01;

// ---- layer mixers (bank 0x0E + 16 o)
constexpr uint32_t kRegLayerList = 0x0E0904;
constexpr uint32_t kRegLayerCoef0 = 0x0E1101;    // + 0x500 c + 0x100 t
constexpr uint32_t kRegLayerMode = 0x0E0F02;
constexpr int kMixers = 4;
constexpr uint32_t kCoefFull = 0x80;

// ---- de-interlacer, noise reduction (banks 0x12..0x17 + 16 ich)
constexpr uint32_t kRegNrEnable = 0x150801;
constexpr uint32_t kRegIpMemBase = 0x170804;

}  // namespace c331
