// The C331 on-screen display: settings, the picture built in OSD memory by the drawing
// engine and the flash DMA, one plane per output channel and the scroller.
//
// OSD memory map (chip frame memory, first OSD area 0x65000000 and the fourth 0x74B80000;
// docs/c331-osd.md): the four fonts (13.5 MB), the flash staging area (the 1920 x 1080
// bitmap), the picture (pitch twice the widest canvas of 15360, so 30720 bytes, times
// 2160 rows plus 64 rows for a glyph that starts on the last line) and the 2 x 2 scroll
// copy (twice that height).
#include <algorithm>
#include <cstring>
#include <string>

#include "core/logMsg.h"
#include "platform/platform.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_osd_regs.h"
#include "scaler/c331_print.h"

using namespace c331osd;
using c331::kRegDrawBusy;

namespace c331osdmap {
constexpr uint32_t kFontArea = 0x65000000;      // room 0xD00000: 0xCDF000 of glyphs
constexpr uint32_t kStagingArea = 0x65D00000;   // room 0x200000: a 1920 x 1080 bitmap
constexpr uint32_t kPictureArea = 0x66000000;   // room 0x4400000, ends 0x6A400000
constexpr uint32_t kScrollArea = 0x74B80000;    // room 0x8000000, ends 0x7CB80000
}  // namespace c331osdmap

namespace {

// osd_char_txt: canvas (unused), background, transparency, origin, character colour, then
// (flash address, size) of 32-dot ASCII, 32-dot Chinese, 64-dot ASCII, 64-dot Chinese.
constexpr uint32_t osd_char_txt[15] = {1920,     1080,   0xFF0000, 0,        0,        0,          0xC0C0FF, 0x23,
                                       0x3000,   0x10023, 0x290000, 0x410023, 0xC000, 0x450023, 0xA40000};
constexpr uint32_t osd_bmp_txt[4] = {0xED9800, 1920, 1080, 0x10D3C00};

// The engine moves about 800 MB/s: a bound of ten times its time, and 100 ms at least.
uint32_t drawBoundUs(int w, int h) { return 100 * 1000 + uint32_t(std::max(w, 1)) * uint32_t(std::max(h, 1)) / 80; }

}  // namespace

int* c331_manage::osdLoadSlot(int i) {
    // The 13 OSD words of the parameter table: on, zooms, data mode, scroll mode, margins.
    int* slots[13] = {&PM_OSD_EN,
                      &PM_OSD_HZOOM_EN,
                      &PM_OSD_VZOOM_EN,
                      &PM_OSD_DATA_MODE,
                      &PM_OSD_SCROLL_MODE,
                      &PM_OSD_OUTPUT_OFFSET[0],
                      &PM_OSD_OUTPUT_OFFSET[1],
                      &PM_OSD_OUTPUT_OFFSET[2],
                      &PM_OSD_OUTPUT_OFFSET[3],
                      &PM_OSD_INPUT_OFFSET[0],
                      &PM_OSD_INPUT_OFFSET[1],
                      &PM_OSD_INPUT_OFFSET[2],
                      &PM_OSD_INPUT_OFFSET[3]};
    return slots[std::clamp(i, 0, 12)];
}

int c331_manage::PS_ACTHW() const { return int(PS.actW); }
int c331_manage::PS_ACTVW() const { return int(PS.actH); }
int c331_manage::PS_PANEL_HSHAPE() const { return panel.cols ? panel.cols : int(PS.ochCols); }
int c331_manage::PS_PANEL_VSHAPE() const { return panel.rows ? panel.rows : int(PS.ochRows); }
int c331_manage::PS_PANEL_HW() const { return PS_PANEL_HSHAPE() * PS_ACTHW(); }
int c331_manage::PS_PANEL_VW() const { return PS_PANEL_VSHAPE() * PS_ACTVW(); }

int c331_manage::vlxApi_OsdSet(int type, int value) {
    if (prnOn(kPrnOsd)) c331_printf("[vlxApi_OsdSet] type:%d, val:%x\n", type, unsigned(value));
    switch (type) {
    case 0: PM_OSD_EN = value; break;
    case 1: PM_OSD_HZOOM_EN = value; break;
    case 2: PM_OSD_VZOOM_EN = value; break;
    case 3: PM_OSD_DATA_MODE = value; break;
    case 4: PM_OSD_SCROLL_MODE = value % 9; break;
    case 5: PM_OSD_OUTPUT_OFFSET[0] = value; break;
    case 6: PM_OSD_OUTPUT_OFFSET[1] = PS_BG_HACT - value - PM_OSD_OUTPUT_OFFSET[0]; break;
    case 7: PM_OSD_OUTPUT_OFFSET[2] = value; break;
    case 8: PM_OSD_OUTPUT_OFFSET[3] = PS_BG_VACT - value - PM_OSD_OUTPUT_OFFSET[2]; break;
    case 9: case 10: case 11: case 12: PM_OSD_INPUT_OFFSET[type - 9] = value; break;
    case 13: PM_OSD_SCROLL_SPEED = value % 256; break;
    case 14: PM_OSD_CHAR_64DOT = value; break;
    case 15: PM_OSD_UPDATE_BUTTON = value ? 1 : 0; break;
    case 16: PS_BG_COLOR = uint32_t(value) & 0xFFFFFF; break;
    case 17: PS_CHAR_COLOR = uint32_t(value) & 0xFFFFFF; break;
    case 18: PS_BG_TRANS = value ? 1 : 0; break;
    case 19: PS_BG_HACT = value; break;
    case 20: PS_BG_VACT = value; break;
    case 21: PS_CHAR_HST = value; break;
    case 22: PS_CHAR_VST = value; break;
    case 32:
        osd_set_request = (value & 0x80) ? 1 : 0;
        osd_update_request = (value & 0x40) ? 1 : 0;
        break;
    case 33: osd_layer_below = value != 0; break;
    case 34: osd_word_space = value; break;
    case 35: osd_line_space = value; break;
    default: return 0;
    }
    if (type == 0 || type == 1 || type == 2 || type == 4 || type == 13) osd_set_request = 1;
    if (type == 3 || type == 14 || type == 15) osd_update_request = 1;
    if (prnOn(kPrnOsd))
        c331_printf("\t en:%d zoom:%d/%d mode:%d scroll:%d speed:%d 64dot:%d\n", PM_OSD_EN, PM_OSD_HZOOM_EN,
                    PM_OSD_VZOOM_EN, PM_OSD_DATA_MODE, PM_OSD_SCROLL_MODE, PM_OSD_SCROLL_SPEED, PM_OSD_CHAR_64DOT);
    return 1;
}

int c331_manage::vlxApi_OsdSetUnicode(int count, const int* lengths, const wchar_t lines[][128]) {
    std::memset(osd_text, 0, sizeof osd_text);
    // The buffer holds 64 lines: a larger count would make gen_char read past it.
    const int n = std::clamp(count, 0, 64);
    for (int i = 0; i < n; ++i) {
        const int len = std::clamp(lengths[i], 0, 127);
        for (int c = 0; c < len; ++c) {
            const uint32_t cp = uint32_t(lines[i][c]);
            osd_text[i][2 * c] = uint8_t(cp >> 8);
            osd_text[i][2 * c + 1] = uint8_t(cp);
        }
    }
    g_unicode_line = n;
    return 0;
}

void c331_manage::load_char() {
    PS_BG_HACT = PS_PANEL_HW();
    PS_BG_VACT = PS_PANEL_VW();
    PS_BG_COLOR = osd_char_txt[2];
    PS_BG_TRANS = int(osd_char_txt[3]);
    PS_CHAR_HST = int(osd_char_txt[4]);
    PS_CHAR_VST = int(osd_char_txt[5]);
    PS_CHAR_COLOR = osd_char_txt[6];
    PS_CHAR_ADDR_32ASCII = osd_char_txt[7];
    PS_CHAR_SIZE_32ASCII = osd_char_txt[8];
    PS_CHAR_ADDR_32CHN = osd_char_txt[9];
    PS_CHAR_SIZE_32CHN = osd_char_txt[10];
    PS_CHAR_ADDR_64ASCII = osd_char_txt[11];
    PS_CHAR_SIZE_64ASCII = osd_char_txt[12];
    PS_CHAR_ADDR_64CHN = osd_char_txt[13];
    PS_CHAR_SIZE_64CHN = osd_char_txt[14];
    PS_FONT_ADDR = c331osdmap::kFontArea;
    PS_SFL_ADDR = c331osdmap::kStagingArea;
    PS_MEM_OSD = c331osdmap::kPictureArea;
    PS_MEM_OSD1 = c331osdmap::kScrollArea;
}

void c331_manage::load_bmp() {
    PS_BMP_ADDR = osd_bmp_txt[0];
    PS_BMP_HACT = osd_bmp_txt[1];
    PS_BMP_VACT = osd_bmp_txt[2];
    PS_BMPCP_ADDR = osd_bmp_txt[3];
}

void c331_manage::osdPitch(int width) {
    const int w = std::max(width, 0);
    int u = 2 * ((w + 127) / 128);
    u = (u + 3) / 4 * 4;
    if (u > 64) {
        g_osd_mwi = u / 4;
        g_osd_mwi_shift = 1;
    } else {
        g_osd_mwi = u;
        g_osd_mwi_shift = 0;
    }
}

uint32_t c331_manage::osdRowOffset(int y) const {
    return uint32_t(y) * uint32_t(g_osd_mwi_shift ? 4 * g_osd_mwi : g_osd_mwi) * 128u;
}

// Runs one drawing-engine operation and waits for it, bounded.
bool c331_manage::drawEngineRun(uint8_t op, uint32_t boundUs) {
    writeW(kRegDrawOp, op);
    const bool ok = flashWait(kRegDrawBusy, 1, false, boundUs, 0, "[osd] drawing engine Timeout Error!!");
    writeW(kRegDrawOp, 0);
    return ok;
}

void c331_manage::osd_paint(int x, int w, int y, int h, int colour, uint32_t base) {
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    writeW(kRegDrawColor, unsigned(colour));
    writeW(kRegDrawW, unsigned(w - 1));
    writeW(kRegDrawH, unsigned(h - 1));
    writeW(kRegDrawDst, base + uint32_t(x) + osdRowOffset(y));
    writeW(kRegDrawSrcPitch, unsigned(g_osd_mwi));
    writeW(kRegDrawDstPitch, unsigned(g_osd_mwi));
    writeW(kRegDrawFormat, g_osd_mwi_shift ? 48 : 0);
    drawEngineRun(kOpFill, drawBoundUs(w, h));
}

void c331_manage::osd_copy(uint32_t src, uint32_t dst, int w, int h, int from_staging) {
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    writeW(kRegDrawSrc, src);
    writeW(kRegDrawDst, dst);
    writeW(kRegDrawW, unsigned(w - 1));
    writeW(kRegDrawH, unsigned(h - 1));
    unsigned srcPitch = unsigned(g_osd_mwi), format = g_osd_mwi_shift ? 48 : 0;
    if (from_staging) {
        srcPitch = unsigned(w < 8320 ? w / 128 : w / 512);
        format = (g_osd_mwi_shift ? 16u : 0u) + (w >= 8320 ? 32u : 0u);
    }
    writeW(kRegDrawSrcPitch, srcPitch);
    writeW(kRegDrawDstPitch, unsigned(g_osd_mwi));
    writeW(kRegDrawFormat, format);
    drawEngineRun(kOpCopy, drawBoundUs(w, h));
}

void c331_manage::osd_put_unicode_string(const uint8_t* line, int x, int y, int fg, int bg, int advance, int height,
                                         uint32_t base, int big) {
    const uint32_t font = big ? g_font_addr_64ASCII : g_font_addr_32ASCII;
    const int asciiGlyphs = int(big ? PS_CHAR_SIZE_64ASCII / 512 : PS_CHAR_SIZE_32ASCII / 128);
    const int chnGlyphs = int(big ? PS_CHAR_SIZE_64CHN / 512 : PS_CHAR_SIZE_32CHN / 128);
    // Collect the characters first: an empty line draws nothing.
    struct Ch {
        int index, adv;
    };
    std::vector<Ch> chars;
    for (int c = 0; c < 128; ++c) {
        const uint8_t hi = line[2 * c], lo = line[2 * c + 1];
        if (hi == 0 && lo == 0) break;
        const unsigned code = unsigned(hi) << 8 | lo;
        int index;
        int adv;
        if (hi == 0) {
            // Controls and Latin-1 have no glyph: a space keeps the layout.
            index = (lo >= 0x20 && lo < 0x20 + asciiGlyphs) ? lo - 0x20 : 0;
            adv = advance / 2 + osd_word_space;
        } else if (code >= 0x4E00 && int(code - 0x4E00) < chnGlyphs) {
            index = asciiGlyphs + int(code - 0x4E00);
            adv = advance + osd_word_space;
        } else {
            index = 0;  // outside the fonts: a space
            adv = advance / 2 + osd_word_space;
        }
        chars.push_back({index, adv});
    }
    if (chars.empty()) return;
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    writeW(kRegGlyphMode, big ? 72 : 8);
    writeW(kRegFifoCtl, 0x0A00);
    writeW(kRegFifoPort, unsigned(height));
    writeW(kRegFifoCtl, 0);
    for (const Ch& ch : chars) {
        writeW(kRegFifoPort, unsigned(ch.index) & 0xFF);
        writeW(kRegFifoPort, (unsigned(ch.index) >> 8) & 0xFF);
        writeW(kRegFifoPort, unsigned(fg));
        writeW(kRegFifoPort, unsigned(bg));
        writeW(kRegFifoPort, unsigned(ch.adv) & 0xFF);
    }
    writeW(kRegCharFirst, 0);
    writeW(kRegCharLast, unsigned(chars.size() - 1));
    writeW(kRegCharX, 0);
    writeW(kRegCharY, 0);
    writeW(kRegDrawSrc, font);
    writeW(kRegDrawDst, base + uint32_t(x) + osdRowOffset(y));
    drawEngineRun(kOpChar, drawBoundUs(int(chars.size()) * 64, 64));
}

void c331_manage::gen_char(int fd) {
    (void)fd;
    const int size = PM_OSD_CHAR_64DOT ? 64 : 32;
    const int bg = PS_BG_TRANS ? 255 : 1;
    for (int i = 0; i < std::min(g_unicode_line, 64); ++i) {
        const int y = PS_CHAR_VST + i * (size + osd_line_space);
        // A line starting on or below the canvas would draw past the OSD picture.
        if (y < 0 || y >= PS_BG_VACT) continue;
        osd_put_unicode_string(osd_text[i], PS_CHAR_HST, y, 2, bg, size, size, PS_MEM_OSD, PM_OSD_CHAR_64DOT);
    }
}

void c331_manage::set_char_color(int fd) {
    (void)fd;
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    writeW(kRegPaletteWindow, 1);
    writeW(kRegPaletteIndex, 1);
    // Colours are 0xBBGGRR: the palette takes R, G, B.
    for (uint32_t c : {PS_BG_COLOR, PS_CHAR_COLOR}) {
        writeW(kRegPaletteData, c & 0xFF);
        writeW(kRegPaletteData, (c >> 8) & 0xFF);
        writeW(kRegPaletteData, (c >> 16) & 0xFF);
    }
    writeW(kRegPaletteWindow, 0);
}

void c331_manage::calc_osd(C331OsdLayout* out) {
    const bool chr = PM_OSD_DATA_MODE != 0;
    const int W = chr ? PS_BG_HACT : int(PS_BMP_HACT), H = chr ? PS_BG_VACT : int(PS_BMP_VACT);
    int wv = W - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1];
    int hv = H - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3];
    if (PM_OSD_HZOOM_EN) wv *= 2;
    if (PM_OSD_VZOOM_EN) hv *= 2;
    wv = std::max(wv, 0);
    hv = std::max(hv, 0);
    OSD_WIN.HST = PM_OSD_OUTPUT_OFFSET[0];
    OSD_WIN.HW = std::max(0, std::min(PS_PANEL_HW() - PM_OSD_OUTPUT_OFFSET[0] - PM_OSD_OUTPUT_OFFSET[1], wv));
    OSD_WIN.VST = PM_OSD_OUTPUT_OFFSET[2];
    OSD_WIN.VW = std::max(0, std::min(PS_PANEL_VW() - PM_OSD_OUTPUT_OFFSET[2] - PM_OSD_OUTPUT_OFFSET[3], hv));
    *out = C331OsdLayout{};
    out->cols = std::clamp(PS_PANEL_HSHAPE(), 0, 8);
    out->rows = std::clamp(PS_PANEL_VSHAPE(), 0, 8);
    auto overlap = [](int s0, int len, int slice0, int slice, int* start, int* width) {
        const int a = std::max(s0, slice0), b = std::min(s0 + len, slice0 + slice);
        if (len <= 0 || b <= a) {
            *start = 0, *width = 0;
        } else {
            *start = a - slice0, *width = b - a;
        }
    };
    for (int c = 0; c < out->cols; ++c)
        overlap(OSD_WIN.HST, OSD_WIN.HW, c * PS_ACTHW(), PS_ACTHW(), &out->colStart[c], &out->colWidth[c]);
    for (int r = 0; r < out->rows; ++r)
        overlap(OSD_WIN.VST, OSD_WIN.VW, r * PS_ACTVW(), PS_ACTVW(), &out->rowStart[r], &out->rowHeight[r]);
}

void c331_manage::set_osd(int fd, int scroll_copy) {
    (void)fd;
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    const int inLeft = scroll_copy ? 0 : PM_OSD_INPUT_OFFSET[0], inTop = scroll_copy ? 0 : PM_OSD_INPUT_OFFSET[2];
    const uint32_t base = scroll_copy ? PS_MEM_OSD1 : PS_MEM_OSD;
    unsigned ctl = g_osd_mwi_shift ? 0x6000 : 0x4000;
    if (PM_OSD_VZOOM_EN) ctl += 0x800;
    if (PM_OSD_HZOOM_EN) ctl |= 0x1000;
    if (PM_OSD_EN) ctl |= PM_OSD_DATA_MODE ? 3 : 2;
    if (osd_layer_below) ctl |= 0x8000;
    C331OsdLayout L;
    calc_osd(&L);
    if (L.rows == 0) return;
    int above = 0;
    for (int r = 0; r < L.rows; ++r) {
        int left = 0;
        for (int c = 0; c < L.cols; ++c) {
            const unsigned k = unsigned(c + L.cols * r);
            const int rowsAbove = PM_OSD_VZOOM_EN ? above / 2 : above;
            const int colsLeft = PM_OSD_HZOOM_EN ? left / 2 : left;
            writeW(kRegOsdHst, unsigned(int(PS.actStartH) + L.colStart[c] - 4), k);
            writeW(kRegOsdHw, unsigned(L.colWidth[c]), k);
            writeW(kRegOsdVst, unsigned(int(PS.actStartV) + L.rowStart[r] + 1), k);
            writeW(kRegOsdVw, unsigned(L.rowHeight[r]), k);
            writeW(kRegOsdBase, base + uint32_t(inLeft) + osdRowOffset(inTop + rowsAbove) + uint32_t(colsLeft), k);
            writeW(kRegOsdPitch, unsigned(g_osd_mwi), k);
            writeW(kRegOsdCtl, ctl, k);
            left += L.colWidth[c];
        }
        above += L.rowHeight[r];
    }
}

void c331_manage::set_scroll(int fd) {
    (void)fd;
    int w, h;
    if (PM_OSD_DATA_MODE) {
        w = OSD_WIN.HW, h = OSD_WIN.VW;
    } else {
        w = int(PS_BMP_HACT) - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1];
        h = int(PS_BMP_VACT) - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3];
    }
    w = std::max(w, 0), h = std::max(h, 0);
    const int m = ((PM_OSD_SCROLL_MODE % 9) + 9) % 9;
    const unsigned ctl = m == 0 ? 0x80 : 0x81 | unsigned(m - 1) << 4;
    const int och = std::clamp(PS_PANEL_HSHAPE(), 0, 8) * std::clamp(PS_PANEL_VSHAPE(), 0, 8);
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < och && k < 8; ++k) {
            writeW(kRegScrollSpeed, unsigned(PM_OSD_SCROLL_SPEED) & 0xFF, unsigned(k));
            writeW(kRegScrollW, unsigned(w), unsigned(k));
            writeW(kRegScrollH, unsigned(h), unsigned(k));
            writeW(kRegScrollCtl, pass == 0 ? 0 : ctl, unsigned(k));
        }
}

void c331_manage::update_osd(int fd) {
    std::lock_guard<plat::RecursiveMutex> lock(flash_mutex);
    const bool chr = PM_OSD_DATA_MODE != 0;
    int W, H;
    if (chr) {
        W = PS_BG_HACT, H = PS_BG_VACT;
    } else {
        load_bmp();
        W = int(PS_BMP_HACT), H = int(PS_BMP_VACT);
    }
    osdPitch(W);
    if (chr) {
        osd_paint(0, W, 0, H, PS_BG_TRANS ? 255 : 1, PS_MEM_OSD);
        gen_char(fd);
        wait1_povs(fd, 0);
        set_char_color(fd);
    } else {
        osd_write_dma_sfl(fd, PS_BMP_ADDR, PS_SFL_ADDR, 0, uint32_t(W) * uint32_t(H));
        osd_copy(PS_SFL_ADDR, PS_MEM_OSD, W, H, 1);
        wait1_povs(fd, 0);
        writeW(kRegPaletteWindow, 1);
        osd_write_dma_sfl(fd, PS_BMPCP_ADDR, 0, 4, c331flash::kColorTableSize);
        writeW(kRegPaletteWindow, 0);
    }
    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);
    const int wv = W - PM_OSD_INPUT_OFFSET[0] - PM_OSD_INPUT_OFFSET[1];
    const int hv = H - PM_OSD_INPUT_OFFSET[2] - PM_OSD_INPUT_OFFSET[3];
    if (wv < 0 || hv < 0) return;
    if (wv > 0 && hv > 0) {
        const uint32_t src = PS_MEM_OSD + uint32_t(PM_OSD_INPUT_OFFSET[0]) + osdRowOffset(PM_OSD_INPUT_OFFSET[2]);
        const uint32_t at[4] = {PS_MEM_OSD1, PS_MEM_OSD1 + uint32_t(wv), PS_MEM_OSD1 + osdRowOffset(hv),
                                PS_MEM_OSD1 + uint32_t(wv) + osdRowOffset(hv)};
        for (uint32_t dst : at) osd_copy(src, dst, wv, hv, 0);
    }
    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}
