// Multi-window environment: the enabled window blocks of the parameter RAM become the
// window records (record k = k-th enabled block), each record is given the OCHs its
// rectangle crosses, OCHs shared by two windows are replaced by spare OCHs laid over the
// same position, and the per-channel parameters are derived for the window programming.
#include <algorithm>
#include <string>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_regs.h"

using namespace c331;
using c331geom::CropRect;

namespace {

void debugMsg(const std::string& text) {
    if (g_debugSwitch == 254) writeLogMsg(LOG_DEBUG, text);
}

CropRect cropEntry(const VlxRamPara* ram, int idx) REQUIRES(ManageLock::manage_mutex) {
    const unsigned e = vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(idx);
    return CropRect{ram->ramU16(e + 2), ram->ramU16(e + 4), ram->ramU16(e + 6), ram->ramU16(e + 8)};
}

}  // namespace

void c331_manage::vlxApi_initEnvC331() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    int enabled = 0;
    for (int w = 0; ram && w < WINDOW_MAX; ++w)
        if (ram->ramU16(vlxram::windowField(w, vlxram::kWinState)) != 0) ++enabled;
    if (enabled == 0) {
        vlxApi_initEnvC331Default();
        return;
    }
    const int canvasW = panel.ochW * std::max(1, int(panel.cols)), canvasH = panel.ochH * std::max(1, int(panel.rows));
    C331WinInfo rec[WINDOW_MAX];
    int cropEn[WINDOW_MAX] = {}, fadeEn[WINDOW_MAX] = {}, dbd[WINDOW_MAX] = {}, fin[WINDOW_MAX] = {},
        fout[WINDOW_MAX] = {};
    int k = 0;
    for (int w = 0; w < WINDOW_MAX; ++w) {
        const uint16_t stateWord = ram->ramU16(vlxram::windowField(w, vlxram::kWinState));
        if (stateWord == 0) continue;
        C331WinInfo& wi = rec[k];
        wi = gWininfo[k];
        std::fill(std::begin(wi.ochLst), std::end(wi.ochLst), uint8_t(0xFF));
        std::fill(std::begin(wi.ochPosLst), std::end(wi.ochPosLst), uint8_t(0xFF));
        wi.ochCntH = wi.ochCntV = 0;
        wi.ramWin = int8_t(w);
        wi.priority = uint8_t(ram->ramU16(vlxram::kLayerPriority + 2u * unsigned(w)));
        wi.layer = uint8_t(wi.priority % 6);
        if (wi.priority > 5) debugMsg(" WIN" + std::to_string(w) + " PRIORITY OOR, reset to " + std::to_string(wi.layer));
        // Positions are read signed: a word of 0x8000 or more is left of (above) the canvas.
        const int x = int16_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinX))) + panel.xOffset;
        const int y = int16_t(ram->ramU16(vlxram::windowField(w, vlxram::kWinY))) + panel.yOffset;
        wi.x = int16_t(x);
        wi.y = int16_t(y);
        wi.width = ram->ramU16(vlxram::windowField(w, vlxram::kWinWidth));
        wi.height = ram->ramU16(vlxram::windowField(w, vlxram::kWinHeight));
        const uint16_t src = ram->ramU16(vlxram::windowField(w, vlxram::kWinSource));
        int input = src & 7;
        bool badCrop = false;
        if (src & vlxram::kSourceIsCrop) {
            cropEn[k] = 1;
            const int idx = src & 0xFF;
            if (idx >= vlxram::kCropEntries) {
                badCrop = true;
            } else {
                wi.cropIdx = uint8_t(idx);
                // A crop entry naming a source of 6 or more names no input at all.
                input = ram->ramU16(vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(idx)) & 0x0F;
            }
        }
        wi.input = uint8_t(std::min(input, 255));
        wi.winEn = uint8_t(stateWord & 0xFF);
        const int rotate = ram->ramU16(vlxram::windowField(w, vlxram::kWinAttributes)) & 0xFF;
        wi.rotate = uint8_t(rotate);
        const uint16_t out = ram->ramU16(vlxram::windowField(w, vlxram::kWinOutput));
        wi.output = uint8_t(out & 3);
        fadeEn[k] = (out >> 2) & 1;
        dbd[k] = (out & 0x100) ? dbdModeCode(ram->ramU16(vlxram::windowField(w, vlxram::kWinDbdMode))) : 0;
        const unsigned fades = vlxram::kFadeTable + 4u * unsigned(w);
        fin[k] = std::min<int>(ram->ramU16(fades), kFadeMaxFrames);
        fout[k] = std::min<int>(ram->ramU16(fades + 2), kFadeMaxFrames);

        std::string why;
        if (x < 0 || x + int(wi.width) > canvasW)
            why = "OOR for win:" + std::to_string(w) + " x:" + std::to_string(x) + " w:" + std::to_string(wi.width) +
                  ", pnl->w:" + std::to_string(canvasW);
        else if (y < 0 || y + int(wi.height) > canvasH)
            why = "OOR for win:" + std::to_string(w) + " y:" + std::to_string(y) + " h:" + std::to_string(wi.height) +
                  ", pnl->h:" + std::to_string(canvasH);
        else if (input > 5 || badCrop)
            why = "OOR for win:" + std::to_string(w) + ", input:" + std::to_string(input);
        else if (k == 0 && wi.winEn == 0)
            why = "OOR for win0 disable";
        else if (rotate > 3)
            why = "OOR for win" + std::to_string(w) + " rotate:" + std::to_string(rotate);
        if (!why.empty()) {
            writeLogMsg(LOG_WARNING, "c331: window layout refused (" + why + "); one window over the LED screen");
            vlxApi_initEnvC331Default();
            return;
        }
        ++k;
    }
    // Layers are unique: a taken layer gives way to the lowest free one.
    unsigned used = 0;
    for (int i = 0; i < k; ++i) {
        if (used & (1u << rec[i].layer)) {
            for (int l = 0; l < 6; ++l)
                if (!(used & (1u << l))) {
                    debugMsg("win" + std::to_string(i) + " layer:" + std::to_string(rec[i].layer) +
                             " already assigned, reset it to :" + std::to_string(l));
                    rec[i].layer = uint8_t(l);
                    break;
                }
        }
        used |= 1u << rec[i].layer;
    }
    win_count = k;
    for (int i = 0; i < WINDOW_MAX; ++i) {
        gWininfo[i] = i < k ? rec[i] : C331WinInfo{};
        PM_INPUT_OFFSET_EN[i] = i < k ? cropEn[i] : 0;
        PM_WIN_FADE_EN[i] = i < k ? fadeEn[i] : 0;
        PM_WIN_DBD_MODE[i] = i < k ? dbd[i] : 0;
        PM_WIN_FADE_IN[i] = i < k ? fin[i] : PM_WIN_FADE_IN[i];
        PM_WIN_FADE_OUT[i] = i < k ? fout[i] : PM_WIN_FADE_OUT[i];
        PM_CHG[kChgDbd][i] = i < k ? 1 : 0;
    }
    // Mirror bits of each record come from the block that record was made from.
    for (int i = 0; i < k; ++i) {
        const uint16_t attr = ram->ramU16(vlxram::windowField(gWininfo[i].ramWin, vlxram::kWinAttributes));
        gWininfo[i].rotate = uint8_t(attr & 3);
        PM_WIN_ATTR0[i] = attr & 1;
        PM_WIN_ATTR1[i] = (attr >> 1) & 1;
        mirror_update[i] = 1;
    }
}

void c331_manage::vlxApi_initEnvC331Default() {
    C331WinInfo& r = gWininfo[0];
    const C331WinInfo keep = r;
    for (auto& wi : gWininfo) wi = C331WinInfo{};
    r.input = keep.input;
    r.cropIdx = keep.cropIdx;
    r.layer = keep.layer;
    r.priority = keep.priority;
    r.ramWin = keep.ramWin >= 0 ? keep.ramWin : 0;
    r.x = int16_t(panel.xOffset);
    r.y = int16_t(panel.yOffset);
    r.width = panel.ledW;
    r.height = panel.ledH;
    r.rotate = 0;
    r.winEn = 1;
    win_count = 1;
    // The fall-back window shows its whole input: nothing of a refused layout's crop or
    // dot-by-dot set-up is carried over.
    for (int i = 0; i < WINDOW_MAX; ++i) {
        PM_INPUT_OFFSET_EN[i] = 0;
        PM_WIN_DBD_MODE[i] = 0;
        PM_CHG[kChgDbd][i] = i == 0;
        PM_WIN_ATTR0[i] = PM_WIN_ATTR1[i] = 0;
    }
    if (r.input > 5) r.input = 0;
}

void c331_manage::vlxApi_MultiWinChAlloc(char init) {
    (void)init;
    for (auto& wi : gWininfo) {
        std::fill(std::begin(wi.ochLst), std::end(wi.ochLst), uint8_t(0xFF));
        std::fill(std::begin(wi.ochPosLst), std::end(wi.ochPosLst), uint8_t(0xFF));
        wi.ochCntH = wi.ochCntV = 0;
    }
    for (int k = 0; k < win_count; ++k) {
        C331WinInfo& wi = gWininfo[k];
        int start = -1, end = -1;
        // A window that starts on no OCH gets none (never the span of the window before it).
        if (!c331geom::ochSpan(panel.cols, panel.rows, panel.ochW, panel.ochH, wi.x, wi.y, wi.width, wi.height, &start,
                               &end)) {
            writeLogMsg(LOG_WARNING, "c331: win" + std::to_string(k) + " alloc och FAIL");
            continue;
        }
        if (c331geom::ochList(start, end, panel.cols, &wi.ochCntH, &wi.ochCntV, wi.ochLst) == 0) {
            writeLogMsg(LOG_WARNING, "c331: win" + std::to_string(k) + " alloc och FAIL");
            break;
        }
        std::copy(std::begin(wi.ochLst), std::end(wi.ochLst), wi.ochPosLst);
    }
}

void c331_manage::vlxApi_MultiWinChOverlay() {
    for (int k = 0; k < OCH_MAX; ++k) PM_OVERLAY[k] = k + 1;
    if (win_count <= 0) return;
    for (int k = 0; k < OCH_MAX; ++k) och_owner[k] = och_overlay_ch[k] = 0xFF;
    for (int k = 0; k < win_count; ++k)
        for (int j = 0; j < gWininfo[k].ochCount() && j < OCH_MAX; ++j)
            if (gWininfo[k].ochLst[j] < OCH_MAX) och_owner[gWininfo[k].ochLst[j]] = gWininfo[k].ochLst[j];
    if (win_count == 1) return;
    for (int i = 0; i < win_count; ++i)
        for (int j = i + 1; j < win_count; ++j)
            for (int a = 0; a < gWininfo[i].ochCount() && a < OCH_MAX; ++a)
                for (int b = 0; b < gWininfo[j].ochCount() && b < OCH_MAX; ++b) {
                    if (gWininfo[j].ochLst[b] != gWininfo[i].ochLst[a]) continue;
                    int spare = -1;
                    for (int o = 0; o < OCH_MAX; ++o)
                        if (och_owner[o] == 0xFF) {
                            spare = o;
                            break;
                        }
                    if (spare < 0) {
                        writeLogMsg(LOG_WARNING, "c331: not found idle CH for window " + std::to_string(j));
                        continue;
                    }
                    gWininfo[j].ochLst[b] = uint8_t(spare);
                    och_owner[spare] = spare;
                    och_overlay_ch[spare] = 1;
                }
    bool given[OCH_MAX] = {};
    for (int p = 0; p < OCH_MAX; ++p) {
        int users = 0;
        for (int k = 0; k < win_count; ++k)
            for (int j = 0; j < gWininfo[k].ochCount() && j < OCH_MAX; ++j)
                if (gWininfo[k].ochPosLst[j] == p) ++users;
        if (users < 2) continue;
        for (int k = 0; k < win_count; ++k)
            for (int j = 0; j < gWininfo[k].ochCount() && j < OCH_MAX; ++j) {
                const int o = gWininfo[k].ochLst[j];
                if (gWininfo[k].ochPosLst[j] != p || o >= OCH_MAX || given[o]) continue;
                PM_OVERLAY[o] = p + 1;
                given[o] = true;
            }
    }
}

void c331_manage::vlxApi_MultiWinChInit() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    vlxApi_MultiWinChOverlay();
    // Every input is taken as changed on the next supervision pass.
    for (int p = 0; p < INPUT_PORTS; ++p) {
        c331in::ReceiverTiming t;
        t.hact = t.hsync = t.hback = t.hpol = t.htotal = t.vact = t.vsync = t.vback = t.vpol = t.vtotal = -1;
        t.type = t.datamode = t.lane = t.ip = -1;
        t.pfreq = -1;
        t.nosignal = 1;
        PI_HDMI_INFO[p] = t;
    }
    for (int w = 0; w < WINDOW_MAX; ++w) {
        const int oldH = PM_WIN_SHAPE[w][0], oldV = PM_WIN_SHAPE[w][1];
        PM_INPUT[w] = 6;
        for (int i = 0; i < 4; ++i) PM_WIN_OFFSET[w][i] = PM_INPUT_OFFSET[w][i] = 0;
        PM_WIN_SHAPE[w][0] = PM_WIN_SHAPE[w][1] = 0;
        win_active[w] = 0;
        PM_CHG[kChgInput][w] = PM_CHG[kChgDbd][w] = 0;
        if (w >= win_count) {
            PM_CHG[kChgShape][w] = oldH || oldV;
            continue;
        }
        const C331WinInfo& wi = gWininfo[w];
        win_active[w] = 1;
        PM_CHG[kChgInput][w] = PM_CHG[kChgDbd][w] = 1;
        PM_WIN_SHAPE[w][0] = wi.ochCntH;
        PM_WIN_SHAPE[w][1] = wi.ochCntV;
        PM_CHG[kChgShape][w] = oldH != wi.ochCntH || oldV != wi.ochCntV;
        PM_INPUT[w] = vlxApi_inputCvtC331(wi.input);
        if (PM_INPUT[w] > 5) PM_INPUT[w] = 6;
        for (int i = 0; i < 4; ++i) PM_WIN_OFFSET[w][i] = vlxApi_OchGetWinOffset1(wi, i);
        if (PM_INPUT_OFFSET_EN[w] && ram && wi.cropIdx < vlxram::kCropEntries) {
            const CropRect r = cropEntry(ram, wi.cropIdx);
            for (int i = 0; i < 4; ++i) PM_INPUT_OFFSET[w][i] = vlxApi_CropGetOffset(PM_INPUT[w], r, i);
        }
    }
    och_list_error = 0;
    for (int o = 0; o < OCH_MAX; ++o) {
        PM_WIN_NUM[o] = WINDOW_MAX;
        PM_AREA_NUM[o] = OCH_MAX;
    }
    for (int k = 0; k < win_count; ++k)
        for (int j = 0; j < gWininfo[k].ochCount() && j < OCH_MAX; ++j) {
            const int o = gWininfo[k].ochLst[j];
            if (o >= OCH_MAX) {
                writeLogMsg(LOG_WARNING, "c331: !!!!och:" + std::to_string(o) + " OOR");
                och_list_error = 1;
                break;
            }
            PM_WIN_NUM[o] = k;
            PM_AREA_NUM[o] = j;
        }
    for (int o = 0; o < OCH_MAX; ++o)
        maskW(kRegChanCtl0 + (unsigned(o) << 8), PM_WIN_NUM[o] != WINDOW_MAX ? 1 : 0, 1);
    chg_overlay = chg_priority = 1;
    // Priorities after the OCH table is rebuilt: the mixers follow the new layout.
    c331_SetWinPriority1(spi_fd);
}
