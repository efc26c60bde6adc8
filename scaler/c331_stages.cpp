// Entry points of the stages after the panel: the window environment, the input side
// and the composition (set_output). Until those stages are built,
// the environment is the plain one below (enabled windows, their rectangles and the OCHs
// they cross) and the other entry points only keep the counters the dispatcher's tests read.
#include <algorithm>

#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;

void c331_manage::vlxApi_initEnvC331() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    win_count = 0;
    for (int k = 0; k < WINDOW_MAX; ++k) gWininfo[k] = C331WinInfo{};
    if (!ram) return;
    for (int w = 0; w < WINDOW_MAX; ++w) {
        const uint16_t stateWord = ram->ramU16(vlxram::windowField(w, vlxram::kWinState));
        if ((stateWord & 0xFF) == 0) continue;
        C331WinInfo& wi = gWininfo[win_count];
        wi.ramWin = int8_t(w);
        wi.winEn = uint8_t(stateWord);
        wi.x = int16_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinX)) + panel.xOffset);
        wi.y = int16_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinY)) + panel.yOffset);
        wi.width = ram->ramU16(vlxram::windowField(w, vlxram::kWinWidth));
        wi.height = ram->ramU16(vlxram::windowField(w, vlxram::kWinHeight));
        wi.rotate = uint8_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinAttributes)) & 3);
        wi.output = uint8_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinOutput)) & 3);
        const uint16_t src = ram->ramU16(vlxram::windowField(w, vlxram::kWinSource));
        if ((src & vlxram::kSourceIsCrop) && (src & 0xFF) < kCropPresets) {
            wi.cropIdx = uint8_t(src & 0xFF);
            wi.input = uint8_t(ram->ram_para[vlxram::kCropTable + vlxram::kCropEntrySize * wi.cropIdx] & 7);
        } else {
            wi.input = uint8_t(src & 7);
        }
        wi.priority = uint8_t(ram->ramU16(vlxram::kLayerPriority + 2u * unsigned(w)));
        wi.layer = uint8_t(wi.priority % 6);
        const unsigned fades = vlxram::kFadeTable + 4u * unsigned(w);
        PM_WIN_FADE_IN[win_count] = std::min<int>(ram->ramU16(fades), kFadeMaxFrames);
        PM_WIN_FADE_OUT[win_count] = std::min<int>(ram->ramU16(fades + 2), kFadeMaxFrames);
        ++win_count;
    }
}

void c331_manage::vlxApi_MultiWinChAlloc(char init) {
    (void)init;
    const int ochW = std::max(1, panel.ochW), ochH = std::max(1, panel.ochH);
    const int cols = std::max(1, int(panel.cols)), rows = std::max(1, int(panel.rows));
    for (int k = 0; k < win_count; ++k) {
        C331WinInfo& wi = gWininfo[k];
        std::fill(std::begin(wi.ochLst), std::end(wi.ochLst), uint8_t(0xFF));
        const int x0 = std::clamp(int(wi.x), 0, cols * ochW - 1), y0 = std::clamp(int(wi.y), 0, rows * ochH - 1);
        const int x1 = std::clamp(int(wi.x) + std::max(1, int(wi.width)) - 1, x0, cols * ochW - 1);
        const int y1 = std::clamp(int(wi.y) + std::max(1, int(wi.height)) - 1, y0, rows * ochH - 1);
        const int c0 = x0 / ochW, c1 = x1 / ochW, r0 = y0 / ochH, r1 = y1 / ochH;
        wi.ochCntH = uint8_t(c1 - c0 + 1);
        wi.ochCntV = uint8_t(r1 - r0 + 1);
        int n = 0;
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                if (n < OCH_MAX) wi.ochLst[n++] = uint8_t(r * cols + c);
    }
}

void c331_manage::vlxApi_MultiWinChInit() {
    for (int o = 0; o < OCH_MAX; ++o) {
        PM_WIN_NUM[o] = WINDOW_MAX;
        PM_AREA_NUM[o] = OCH_MAX;
    }
    for (int k = 0; k < win_count; ++k) {
        PM_WIN_SHAPE[k][0] = gWininfo[k].ochCntH;
        PM_WIN_SHAPE[k][1] = gWininfo[k].ochCntV;
        PM_INPUT[k] = vlxApi_inputCvtC331(gWininfo[k].input);
        for (int i = 0; i < gWininfo[k].ochCount() && i < OCH_MAX; ++i) {
            const uint8_t o = gWininfo[k].ochLst[i];
            if (o < OCH_MAX && PM_WIN_NUM[o] == WINDOW_MAX) {
                PM_WIN_NUM[o] = k;
                PM_AREA_NUM[o] = i;
            }
        }
    }
    c331_SetWinPriority1(spi_fd);
}

void c331_manage::set_output(int fd) {
    (void)fd;
    ++set_output_calls;
}

void c331_manage::update_overlay_info() {}
void c331_manage::set_overlay(int fd) { (void)fd; }
void c331_manage::reset_layer_coef(int fd, int mode) { (void)fd, (void)mode; }
void c331_manage::set_input_bkg2(int fd, int w, int on) { (void)fd, (void)w, (void)on; }
void c331_manage::c331_SetInputsource(int w, int source) { (void)w, (void)source; }
void c331_manage::c331_SetCrop(int w, int on, const int rect[4]) { (void)w, (void)on, (void)rect; }
void c331_manage::check_input_port(int fd) { (void)fd; }
void c331_manage::load_hdmi() {}
void c331_manage::check_port_valid(int fd) { (void)fd; }
