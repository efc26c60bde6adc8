#include "scaler/c331_reglist.h"

#include <algorithm>
#include <array>
#include <set>

#include "scaler/c331_osd_regs.h"
#include "scaler/c331_regs.h"

using namespace c331reglist;

namespace {

// Registers repeated per channel lie 16 banks apart.
void perChannel(std::vector<uint32_t>& out, uint32_t d) {
    for (unsigned k = 0; k < 8; ++k) out.push_back(d + (k << 20));
}

std::vector<uint32_t> named() {
    using namespace c331;
    using namespace c331osd;
    std::vector<uint32_t> v = {kRegChipId, kRegPaletteWindow, kRegClkMul, kRegClk3, kRegClkDiv, kRegClkEnable, kRegUpdHold,
                               kRegColorMatrixEn0, kRegOutHsync, kRegOutVsync, kRegOutHsync2, kRegOutVsync2,
                               kRegTxLaneRoute, kRegTxLaneMapA, kRegTxLaneMapB, kRegTxLaneMapC, kRegTx1Pll, kRegTx1Mode,
                               kRegTx1Ctl, kRegTx2Pll, kRegTx2Mode, kRegTx2Ctl, kRegTx2Mode2, kRegSharpCtl,
                               kRegSharpHGain, kRegSharpHCoef0, kRegSharpHMode, kRegSharpVGain, kRegSharpVCoef0,
                               kRegSharpVEnable, kRegSatEnable, kRegSat0, kRegSat1, kRegSat2, kRegEnhEnable,
                               kRegContrast0, kRegContrast1, kRegContrast2, kRegBright0, kRegBright1, kRegBright2,
                               kRegColorMatrix0, kRegIchVsyncEn, kRegOchVsyncEn, kRegIchVsyncStat, kRegOchVsyncStat,
                               // flash pins and controller, drawing engine, palette
                               kRegSflPinMux, kRegSflPinA, kRegSflPinB, kRegSflPinDrive, kRegSflSetup, kRegSflCmd,
                               kRegSflOpProgram, kRegSflOpRead, kRegSflOpErase, kRegSflOpWren, kRegSflOpRdsr,
                               kRegSflAddr, kRegSflData, B4_SFLDTCTL, B4_SFLSTAT, B4_SFLRDSR, kRegSflDmaLen,
                               kRegSflDmaKind, kRegSflMode, kRegSflClear, kRegDrawOp, kRegDrawColor, kRegDrawSrc,
                               kRegDrawDst, kRegDrawBusy, kRegDrawDstPitch, kRegDrawSrcPitch, kRegDrawW, kRegDrawH,
                               kRegDrawFormat, kRegCharFirst, kRegCharLast, kRegCharX, kRegCharY, kRegFifoCtl,
                               kRegFifoPort, kRegGlyphMode, kRegPaletteIndex, kRegPaletteData,
                               // V-by-One receivers, measurement, service operations
                               0x027F01, 0x024001, 0x024F01, 0x024C01, 0x025C01, 0x026B01, 0x026801, 0xAE4002,
                               0xAE4202, 0xAE4402, 0xAE4602, 0xAE5C03, 0xAE5F03, 0xAE6203, 0xAE6503, 0x031A01,
                               0x004801, 0x004901, 0x004A01, 0x004B01, 0x0A4601, 0x0A4B01, 0x1A4601, 0x1A4B01};
    for (unsigned a = 0; a < 8; ++a) {
        v.push_back(kRegChanCtl0 + (a << 8));
        v.push_back(0x001001 + (a << 8));  // ICHSEL
        v.push_back(0x006901 + (a << 8));  // OSCWCT
        v.push_back(0x007101 + (a << 8));  // ISCWCT
    }
    for (unsigned a = 0; a < 7; ++a) v.push_back(kRegUpdCtl0 + (a << 8));
    for (uint32_t d : {kRegOchHTotal, kRegOchVTotal, kRegOchLineUnit, kRegOchHStart, kRegOchHEnd, kRegOchVStart,
                       kRegOchVEnd, kRegOchHStart2, kRegOchHEnd2, kRegOchVStart2, kRegOchVEnd2, kRegOactHst,
                       kRegOactHw, 0x084402u, kRegOactVw, kRegOchBgEnable, kRegOchBgColor, kRegOchFillY,
                       kRegOchFillU, kRegOchFillV, kRegPatType, kRegPatOpt1, kRegPatOpt2, kRegPatOpt3, kRegPatMode,
                       kRegPatP1, kRegPatP2, kRegPatP3, kRegPatC1, kRegPatC2, kRegPatC3, kRegPatEn1, kRegPatEn2,
                       kRegPatEn3, 0x080802u, 0x080F01u, 0x081802u})
        perChannel(v, d);
    for (uint32_t d : {kRegOsdCtl, kRegOsdHst, kRegOsdHw, kRegOsdVst, kRegOsdVw, kRegOsdBase, kRegOsdPitch,
                       kRegScrollCtl, kRegScrollSpeed, kRegScrollW, kRegScrollH})
        perChannel(v, d);
    for (uint32_t d : {kRegIsyct, 0x101702u, 0x101902u, 0x101B02u, 0x101D02u}) perChannel(v, d);
    for (uint32_t d : {0x160804u, 0x160C04u, 0x161004u, 0x161404u, 0x161804u, 0x161C04u, 0x162004u, 0x162404u,
                       0x162804u, 0x162C04u, 0x163001u, 0x163101u})
        perChannel(v, d);
    for (uint32_t d : {0x504A01u, 0x504B03u, 0x501702u}) perChannel(v, d);
    return v;
}

std::vector<C331RegRow> generate() {
    std::array<std::array<int8_t, 128>, 256> used{};  // 0 free, 1 taken
    std::vector<C331RegRow> rows;
    int bySize[5] = {};
    std::set<unsigned> banks;
    auto fits = [&](unsigned b, unsigned a, unsigned n) {
        if (a < 1 || n < 1 || n > 4 || a + n > 0x80) return false;
        if (b == 0 && a < 0x08) return false;                       // bank 0 starts at 0x08
        if (b == 0xFF && a + n > 0x08) return false;                 // the clock block ends the list
        for (unsigned i = 0; i < n; ++i)
            if (used[b][a + i]) return false;
        return true;
    };
    auto take = [&](unsigned b, unsigned a, unsigned n) {
        for (unsigned i = 0; i < n; ++i) used[b][a + i] = 1;
        rows.push_back({uint8_t(b), uint8_t(a), uint8_t(n)});
        ++bySize[n];
        banks.insert(b);
    };
    for (uint32_t d : c331NamedRegisters()) {
        const unsigned b = (d >> 16) & 0xFF, a = (d >> 8) & 0xFF, n = d & 0xFF;
        if (bySize[n] < kRowsBySize[n] && fits(b, a, n)) take(b, a, n);
    }
    // The banks: those named, then the lowest others, up to 120.
    for (unsigned b = 0; banks.size() < size_t(kBanks) && b < 0xFF; ++b) banks.insert(b);
    // Free addresses of every bank and what is still to place.
    int need[5];
    long needBytes = 0;
    for (int n = 1; n <= 4; ++n) {
        need[n] = kRowsBySize[n] - bySize[n];
        needBytes += long(need[n]) * n;
    }
    long freeBytes = 0;
    for (unsigned b : banks)
        for (unsigned a = 1; a < 0x80; ++a)
            if (fits(b, a, 1)) ++freeBytes;
    // Spread the unused addresses evenly (Bresenham) and the sizes in proportion.
    long slack = freeBytes - needBytes, acc = 0;
    for (unsigned b : banks) {
        for (unsigned a = 1; a < 0x80;) {
            if (!fits(b, a, 1)) {
                ++a;
                continue;
            }
            acc += slack;
            if (acc >= freeBytes && slack > 0) {
                acc -= freeBytes;
                ++a;  // left unlisted
                continue;
            }
            int best = 0;
            double bestShare = -1;
            for (int n = 4; n >= 1; --n) {
                if (need[n] <= 0 || !fits(b, a, unsigned(n))) continue;
                const double share = double(need[n]) / double(kRowsBySize[n]);
                if (share > bestShare) best = n, bestShare = share;
            }
            if (!best) {
                ++a;
                continue;
            }
            take(b, a, unsigned(best));
            --need[best];
            a += unsigned(best);
        }
    }
    std::sort(rows.begin(), rows.end(), [](const C331RegRow& x, const C331RegRow& y) { return x.desc() < y.desc(); });
    return rows;
}

}  // namespace

const std::vector<uint32_t>& c331NamedRegisters() {
    static const std::vector<uint32_t> v = named();
    return v;
}

const std::vector<C331RegRow>& c331RegisterList() {
    static const std::vector<C331RegRow> rows = generate();
    return rows;
}
