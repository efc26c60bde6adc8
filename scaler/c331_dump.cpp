// Service dumps of the C331: every register, the channel allocation with the channel
// registers, and the parameter groups. All of it goes to the service console (c331_printf).
#include "core/global.h"
#include "platform/platform.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_print.h"
#include "scaler/c331_reglist.h"

std::function<bool(int)> c331_manage::hdmiReceiverRefresh;

int c331_manage::c331_print() {
    // The list reads the flash data port too: no flash sequence may run in between.
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    for (const C331RegRow& r : c331RegisterList()) {
        const uint32_t d = r.desc();
        c331_printf("%06X  %08Xh\n", d, readW(d));
        plat::sleepUs(1);
    }
    return 0;
}

void c331_manage::vlxDbg_c331_print_regGrp(int group) {
    c331_printf("\033[1m[%s] grp:%d\033[0m\n", "vlxDbg_c331_print_regGrp", group);
    if (group != 0) {
        c331_printf("\t not found valid grp!!!!!!!\n");
        return;
    }
    for (int k = 0; k < win_count; ++k) {
        c331_printf("\t\t win:%d, port:%d ich_used: ", k, PM_INPUT[k]);
        if (win_ich[k] >= 0) c331_printf("ICH%d ", win_ich[k]);
        c331_printf("\n");
    }
    for (int k = 0; k < win_count; ++k) {
        const int n = gWininfo[k].ochCount();
        if (n == 0) continue;
        c331_printf("\t\t win:%d, och_cnt:%d used och(left -> right):", k, n);
        for (int i = 0; i < n && i < OCH_MAX; ++i) c331_printf(" OCH%d", gWininfo[k].ochLst[i]);
        c331_printf("\n");
    }
    for (unsigned k = 0; k < 8; ++k) {
        c331_printf("\t CH%u  %08X,%08X,%08X,%08X,%08X --- %08X,%08X,%08X,%08X,%08X\n", k, readW(0x160804, 16 * k),
                    readW(0x160C04, 16 * k), readW(0x161004, 16 * k), readW(0x161404, 16 * k), readW(0x161804, 16 * k),
                    readW(0x161C04, 16 * k), readW(0x162004, 16 * k), readW(0x162404, 16 * k), readW(0x162804, 16 * k),
                    readW(0x162C04, 16 * k));
    }
    for (unsigned k = 0; k < 8; ++k)
        c331_printf("\t CH%u  %08X --- %08X,  %08X --- %08X\n", k, readW(0x080802, 16 * k), readW(0x100901, 16 * k),
                    readW(0x163001, 16 * k), readW(0x163101, 16 * k));
    for (unsigned k = 0; k < 8; ++k)
        c331_printf("\t CH%u  %04X, %04X, %04X, %04X ---    %04X, %04X, %04X, %04X\n", k, readW(0x084002, 16 * k),
                    readW(0x084202, 16 * k), readW(0x084402, 16 * k), readW(0x084602, 16 * k), readW(0x101702, 16 * k),
                    readW(0x101902, 16 * k), readW(0x101B02, 16 * k), readW(0x101D02, 16 * k));
    for (unsigned k = 0; k < 8; ++k)
        c331_printf("\t CH%u    %02X      %02X      %04X\n", k, readW(0x001001 + (k << 8)), readW(0x007101 + (k << 8)),
                    readW(0x006901 + (k << 8)));
}

namespace {
void line(const char* name, long long v) { c331_printf("\t %s  :%lld \r\n", name, v); }
void lineAt(const char* name, int i, long long v) { c331_printf("\t %s[%d]  :%lld \r\n", name, i, v); }
}  // namespace

void c331_manage::vlxDbg_c331_param() {
    c331_printf("<<===OCH SPEC\n");
    line("PS_ACTHW", PS_ACTHW());
    line("PS_ACTVW", PS_ACTVW());
    line("PS_ACTHST", PS.actStartH);
    line("PS_ACTVST", PS.actStartV);
    line("PS_PANEL_HW", PS_PANEL_HW());
    line("PS_PANEL_VW", PS_PANEL_VW());
    line("PS_PANEL_HSHAPE", PS_PANEL_HSHAPE());
    line("PS_PANEL_VSHAPE", PS_PANEL_VSHAPE());
    line("PS_HTOTAL", panel.htt);
    line("PS_VTOTAL", panel.vtt);
    c331_printf("<<===PS VBO\n");
    line("PS_VBO_LANE", panel.lane);
    line("PS_ARRANG", panel.arrang);
    c331_printf("<<===PM_WIN_SHAPE\n");
    for (int w = 0; w < WINDOW_MAX; ++w) c331_printf("\t PM_WIN_SHAPE[%d]  :%d, %d \r\n", w, PM_WIN_SHAPE[w][0], PM_WIN_SHAPE[w][1]);
    c331_printf("<<===PM_WIN_FAD\n");
    for (int w = 0; w < WINDOW_MAX; ++w)
        c331_printf("\t PM_WIN_FADE[%d]  :%d, %d, %d \r\n", w, PM_WIN_FADE_EN[w], PM_WIN_FADE_IN[w], PM_WIN_FADE_OUT[w]);
    c331_printf("<<===PM_INPUT\n");
    for (int w = 0; w < WINDOW_MAX; ++w) lineAt("PM_INPUT", w, PM_INPUT[w]);
    c331_printf("<<===PM_WIN_OFFSET\n");
    for (int w = 0; w < WINDOW_MAX; ++w)
        c331_printf("\t PM_WIN_OFFSET[%d]  :%d, %d, %d, %d \r\n", w, PM_WIN_OFFSET[w][0], PM_WIN_OFFSET[w][1],
                    PM_WIN_OFFSET[w][2], PM_WIN_OFFSET[w][3]);
    c331_printf("<<===PM_INPUT_OFFSET_EN\n");
    for (int w = 0; w < WINDOW_MAX; ++w) lineAt("PM_INPUT_OFFSET_EN", w, PM_INPUT_OFFSET_EN[w]);
    c331_printf("<<===PM_WIN_NUM\n");
    for (int k = 0; k < 8; ++k) lineAt("PM_WIN_NUM", k, PM_WIN_NUM[k]);
    c331_printf("<<===PM_AREA_NUM\n");
    for (int k = 0; k < 8; ++k) lineAt("PM_AREA_NUM", k, PM_AREA_NUM[k]);
    c331_printf("<<===PM_OVERLAY\n");
    for (int k = 0; k < 8; ++k) lineAt("PM_OVERLAY", k, PM_OVERLAY[k]);
    c331_printf("<<===PM OSD\n");
    line("PM_OSD_EN", PM_OSD_EN);
    line("PM_OSD_HZOOM_EN", PM_OSD_HZOOM_EN);
    line("PM_OSD_VZOOM_EN", PM_OSD_VZOOM_EN);
    line("PM_OSD_DATA_MODE", PM_OSD_DATA_MODE);
    line("PM_OSD_UPDATE_BUTTON", PM_OSD_UPDATE_BUTTON);
    line("PM_OSD_SCROLL_MODE", PM_OSD_SCROLL_MODE);
    for (int i = 0; i < 4; ++i) lineAt("PM_OSD_OUTPUT_OFFSET", i, PM_OSD_OUTPUT_OFFSET[i]);
    for (int i = 0; i < 4; ++i) lineAt("PM_OSD_INPUT_OFFSET", i, PM_OSD_INPUT_OFFSET[i]);
    line("PM_OSD_SCROLL_SPEED", PM_OSD_SCROLL_SPEED);
    line("PM_OSD_CHAR_64DOT", PM_OSD_CHAR_64DOT);
    c331_printf("<<===OSD_WIN\n");
    line("OSD_WIN.HST", OSD_WIN.HST);
    line("OSD_WIN.HW", OSD_WIN.HW);
    line("OSD_WIN.VST", OSD_WIN.VST);
    line("OSD_WIN.VW", OSD_WIN.VW);
    line("g_osd_mwi", g_osd_mwi);
    line("g_osd_mwi_shift", g_osd_mwi_shift);
    const std::pair<const char*, long long> fields[] = {
        {"PS_BMP_ADDR", PS_BMP_ADDR}, {"PS_BMP_HACT", PS_BMP_HACT}, {"PS_BMP_VACT", PS_BMP_VACT},
        {"PS_BMPCP_ADDR", PS_BMPCP_ADDR}, {"PS_SFL_ADDR", PS_SFL_ADDR}, {"PS_MEM_OSD", PS_MEM_OSD},
        {"PS_MEM_OSD1", PS_MEM_OSD1}, {"PS_FONT_ADDR", PS_FONT_ADDR}, {"PS_BG_HACT", PS_BG_HACT},
        {"PS_BG_VACT", PS_BG_VACT}, {"PS_BG_COLOR", PS_BG_COLOR}, {"PS_BG_TRANS", PS_BG_TRANS},
        {"PS_CHAR_HST", PS_CHAR_HST}, {"PS_CHAR_VST", PS_CHAR_VST}, {"PS_CHAR_COLOR", PS_CHAR_COLOR},
        {"PS_CHAR_ADDR_32ASCII", PS_CHAR_ADDR_32ASCII}, {"PS_CHAR_ADDR_32CHN", PS_CHAR_ADDR_32CHN},
        {"PS_CHAR_ADDR_64ASCII", PS_CHAR_ADDR_64ASCII}, {"PS_CHAR_ADDR_64CHN", PS_CHAR_ADDR_64CHN},
        {"PS_CHAR_SIZE_32ASCII", PS_CHAR_SIZE_32ASCII}, {"PS_CHAR_SIZE_32CHN", PS_CHAR_SIZE_32CHN},
        {"PS_CHAR_SIZE_64ASCII", PS_CHAR_SIZE_64ASCII}, {"PS_CHAR_SIZE_64CHN", PS_CHAR_SIZE_64CHN},
        {"g_font_addr_32ASCII", g_font_addr_32ASCII}, {"g_font_addr_32CHN", g_font_addr_32CHN},
        {"g_font_addr_64ASCII", g_font_addr_64ASCII}, {"g_font_addr_64CHN", g_font_addr_64CHN},
        {"g_unicode_line", g_unicode_line}};
    for (const auto& f : fields) line(f.first, f.second);
    for (int i = 0; i < g_unicode_line && i < 64; ++i) {
        c331_printf("\t line %d: ", i);
        for (int c = 0; c < 128 && (osd_text[i][2 * c] || osd_text[i][2 * c + 1]); ++c)
            c331_printf("[%#x,%#x] ", osd_text[i][2 * c], osd_text[i][2 * c + 1]);
        c331_printf("\r\n");
    }
    c331_printf("<<===PI HDMI INFO\n");
    for (int p = 0; p < INPUT_PORTS; ++p) {
        const c331in::ReceiverTiming& h = PI_HDMI_INFO[p];
        c331_printf("\t PI_HDMI_INFO[%d].Hact  :%d \r\n", p, h.hact);
        c331_printf("\t PI_HDMI_INFO[%d].Vact  :%d \r\n", p, h.vact);
        c331_printf("\t PI_HDMI_INFO[%d].Htotal  :%d \r\n", p, h.htotal);
        c331_printf("\t PI_HDMI_INFO[%d].Vtotal  :%d \r\n", p, h.vtotal);
        c331_printf("\t PI_HDMI_INFO[%d].nosignal  :%d \r\n", p, h.nosignal);
    }
}

void c331_manage::vlxDbg_c331_param(int n) {
    static const char* const kNames[14] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                                           "c331_PI",    "none",     "none",     "none",     "none",
                                           "none",       "none",     "none",     "none"};
    const int g = ((n % 14) + 14) % 14;
    c331_printf("[vlxDbg_c331_param] %s\n", kNames[g]);
    switch (g) {
    case 0: vlxDbg_c331_param(); break;
    case 1:
        for (int p = 0; p < INPUT_PORTS; ++p)
            c331_printf("\t port %d: PI_UPDATE:%d PI_NOSIGNAL:%d PI_CHANGE:%d\r\n", p, PI_UPDATE[p], PI_NOSIGNAL[p],
                        PI_CHANGE[p]);
        break;
    case 2:
        for (int w = 0; w < WINDOW_MAX; ++w)
            c331_printf("\t win %d: IWIN %dx%d OWIN %dx%d ich %d\r\n", w, IWIN_W[w], IWIN_H[w], OWIN_W[w], OWIN_H[w],
                        win_ich[w]);
        for (int w = 0; w < WINDOW_MAX; ++w) lineAt("PM_OVERLAY_PRI", w, PM_OVERLAY_PRI[w]);
        break;
    case 5:
        for (int p = 0; p < INPUT_PORTS; ++p)
            c331_printf("\t port %d: PI_UPDATE:%d nosig:%d hdmi %dx%d lane:%d\r\n", p, PI_UPDATE[p], PI_NOSIGNAL[p],
                        PI_HDMI_INFO[p].hact, PI_HDMI_INFO[p].vact, PI_HDMI_INFO[p].lane);
        break;
    case 6:
        for (unsigned k = 0; k < 8; ++k) {
            writeW(0x084903, 0xFFFFFF, k);
            writeW(0x084801, 1, k);
        }
        if (g_debugSwitch == 254) c331_printf("\n .................... ");
        break;
    case 8:
        for (unsigned k = 0; k < 8; ++k) {
            writeW(0x504A01, 1, k);
            writeW(0x504B03, 0x80FF80, k);
        }
        if (g_debugSwitch == 254) c331_printf("\n .........input change........... ");
        break;
    case 9:
        writeW(0x0A4601, 3);
        writeW(0x0A4B01, 3);
        writeW(0x1A4601, 3);
        writeW(0x1A4B01, 3);
        if (g_debugSwitch == 254) c331_printf("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10:
        // The receivers' driver reads each IT6805 and publishes its record under
        // Utils::_source_hdminfo_mutex (horizontal values doubled in double-pixel mode).
        for (int dev = 0; dev < 2; ++dev)
            if (!hdmiReceiverRefresh || !hdmiReceiverRefresh(dev))
                c331_printf("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d no receiver\n", dev, dev == 0 ? 4 : 5);
        break;
    default: break;
    }
}
