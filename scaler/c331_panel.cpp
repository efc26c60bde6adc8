// Output panel timing: from the RAM's LED geometry to the OCH arrangement, raster and
// registers, and the results back into the RAM for the FPGA engine.
#include <string>

#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;

void c331_manage::vlxApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice) {
    panel = panel::panelSizes(ledW, ledH, out1w, out1h, splice);
    vlxApi_PnlInitOch3();
    ++panel_inits;
    writeLogMsg(LOG_INFO, std::string("c331 panel: ") + panel::spliceName(panel.splice) + ", LED " + std::to_string(ledW) +
                              "x" + std::to_string(ledH) + ", OCH " + std::to_string(panel.cols) + "x" +
                              std::to_string(panel.rows) + " of " + std::to_string(panel.ochW) + "x" +
                              std::to_string(panel.ochH) + ", raster " + std::to_string(panel.htt) + "x" +
                              std::to_string(panel.vtt));
    // The windows are laid out again on the new canvas; the inputs are measured afresh.
    vlxApi_initEnvC331();
    for (int p = 0; p < INPUT_PORTS; ++p) PI_NOSIGNAL[p] = 1;
    for (int w = 0; w < WINDOW_MAX; ++w) win_ich[w] = -1;
    vlxApi_MultiWinChAlloc(1);
    vlxApi_MultiWinChInit();
    vlxDbg_c331_param();  // the service console shows the new output
}

void c331_manage::vlxApi_PnlInitOch3() {
    panel::panelInitOch3(panel);
    vlxApi_WriteRam(vlxram::kSpliceMode);
    vlxApi_c331InitRegPanel();
}

int c331_manage::vlxApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank) {
    return panel::panelInitOchDiff(panel, htt, vtt, hblank, vblank);
}

void c331_manage::vlxApi_WriteRam(int address) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (address != int(vlxram::kSpliceMode) || !ram) return;
    const panel::PanelRamWords w = panel::panelRamWords(panel);
    ram->setRamU16(vlxram::kOutputX, w.xOffset);
    ram->setRamU16(vlxram::kOutputY, w.yOffset);
    ram->setRamU16(vlxram::kPanelResults + 0, w.gridA);
    ram->setRamU16(vlxram::kPanelResults + 2, w.gridB);
    ram->setRamU16(vlxram::kPanelResults + 4, w.ochW);
    ram->setRamU16(vlxram::kPanelResults + 6, w.ochH);
    ram->setRamU16(vlxram::kPanelResults + 8, w.lane);
}

namespace {

struct TxLayout {
    unsigned mode, layout, cols, rows;
    uint32_t route, mapB, mapC;
};

// Transmitter mode, lane layout and lane maps per OCH arrangement.
TxLayout txLayout(int arrang) {
    switch (arrang) {
    case 0: return {1, 2, 8, 1, 0x0001, 0x32103210, 0x01000100};
    case 1: return {1, 3, 4, 2, 0x0001, 0x32103210, 0x00010000};
    case panel::kArrang2x2_8K:
    case panel::kArrang1x2: return {2, 1, 4, 2, 0x0102, 0x03020100, 0x00010000};
    default: return {2, 0, 4, 1, 0x0002, 0x03020100, 0x01000100};  // 2x1, 4x1
    }
}

}  // namespace

void c331_manage::vlxApi_c331InitRegPanel() {
    PS.actW = uint32_t(panel.ochW);
    PS.actH = uint32_t(panel.ochH);
    PS.totalW = uint32_t(panel.htt);
    PS.totalH = uint32_t(panel.vtt);
    PS.hsync = uint32_t(panel.hsync);
    PS.vsync = uint32_t(panel.vsync);
    PS.hbp = uint32_t(panel.htt - panel.ochW - panel.hsync - panel.hfp);
    PS.vbp = uint32_t(panel.vtt - panel.ochH - panel.vsync - panel.vfp);
    writeW(kRegOutHsync, PS.hsync / 2 - 1);
    writeW(kRegOutVsync, PS.vsync - 1);
    writeW(kRegOutHsync2, PS.hsync / 2 - 1);
    writeW(kRegOutVsync2, PS.vsync - 1);
    PS.actStartH = PS.hsync + PS.hbp;
    PS.actStartV = PS.vsync + PS.vbp;
    PS.actEndH = PS.actStartH + PS.actW;
    PS.actEndV = PS.actStartV + PS.actH;
    const TxLayout tx = txLayout(panel.arrang);
    // The window programming reads these: in mode 2 a vertically zoomed window reads from
    // its first line and its input channel stores at most 2176 pixels a line.
    PS_VBOTX_MODE = int(tx.mode);
    PS_VBOTX_LAYOUT = int(tx.layout);
    PS.ochCols = tx.cols;
    PS.ochRows = tx.rows;
    PS.outW = tx.cols * PS.actW;
    PS.outH = tx.rows * PS.actH;
    for (int k = 0; k < OCH_MAX; ++k) {
        const unsigned o = unsigned(k);
        writeW(kRegOchHTotal, PS.totalW - 2, o);
        writeW(kRegOchVTotal, PS.totalH - 2, o);
        writeW(kRegOchLineUnit, 64, o);
        writeW(kRegOchHStart, PS.actStartH, o);
        writeW(kRegOchHEnd, PS.actEndH, o);
        writeW(kRegOchVStart, PS.actStartV, o);
        writeW(kRegOchVEnd, PS.actEndV, o);
        writeW(kRegOchHStart2, PS.actStartH, o);
        writeW(kRegOchHEnd2, PS.actEndH, o);
        writeW(kRegOchVStart2, PS.actStartV, o);
        writeW(kRegOchVEnd2, PS.actEndV, o);
        writeW(kRegOactHst, PS.actH + 1, o);
        writeW(kRegOactVw, PS.actH + 1, o);
        writeW(kRegOactHw, PS.actW, o);
    }
    writeW(kRegTxLaneRoute, tx.route);
    writeW(kRegTx2Mode, tx.mode == 1 ? 5 : 9);
    writeW(kRegTx2Mode2, tx.mode == 1 ? 5 : 9);
    writeW(kRegTx2Pll, 76);
    writeW(kRegTxLaneMapA, 0x76543210);
    writeW(kRegTxLaneMapB, tx.mapB);
    writeW(kRegTxLaneMapC, tx.mapC);
}
