#pragma once
// The on-screen display's settings and derived state, a part of c331_manage (the
// manager thread owns them, but where a field names flash_mutex; the dumps read them).
#include <atomic>
#include <cstdint>

// The OSD window in output coordinates.
struct OSD_WIN_T {
    int HST = 0, HW = 0, VST = 0, VW = 0;
};

// calc_osd's result: per OCH grid column the start and width of the window inside the
// slice, per grid row the start and height (0, 0 where the window misses the slice).
struct C331OsdLayout {
    int cols = 0, rows = 0;
    int colStart[8] = {}, colWidth[8] = {};
    int rowStart[8] = {}, rowHeight[8] = {};
};

// Flash layout of the fonts, the bitmap and its colour table.
namespace c331flash {
constexpr uint32_t kFlashSize = 32u * 1024 * 1024;
constexpr uint32_t kHeader32Ascii = 0x000000, kHeader32Chn = 0x010000;
constexpr uint32_t kHeader64Ascii = 0x410000, kHeader64Chn = 0x450000;
constexpr uint32_t kFontHeaderSize = 35;
constexpr uint32_t kBmpAddr = 0xED9800, kBmpColorTable = 0x10D3C00, kColorTableSize = 816;
constexpr int kAsciiGlyphs = 96;
constexpr int kChnGlyphs = 20992;                  // U+4E00..U+9FFF
// Font-present word bits and their register-43 bits.
constexpr unsigned kFont32Chn = 1, kFont32Ascii = 2, kFont64Chn = 4, kFont64Ascii = 8;
constexpr unsigned kReg43FontBits = 0x3F;
}  // namespace c331flash

struct C331OsdState {
    // ---- OSD parameters (vlxApi_OsdSet types 0..15), starting as the parameter table's
    // defaults: the first bring-up finds nothing changed and draws no hidden OSD.
    int PM_OSD_EN = 0;             // 0
    int PM_OSD_HZOOM_EN = 0;       // 1
    int PM_OSD_VZOOM_EN = 0;       // 2
    int PM_OSD_DATA_MODE = 1;      // 3: 1 character, 0 bitmap
    int PM_OSD_UPDATE_BUTTON = 0;  // 15
    int PM_OSD_SCROLL_MODE = 2;    // 4
    int PM_OSD_OUTPUT_OFFSET[4] = {};  // 5..8: left, right, top, bottom
    int PM_OSD_INPUT_OFFSET[4] = {};   // 9..12
    int PM_OSD_SCROLL_SPEED = 0;   // 13
    int PM_OSD_CHAR_64DOT = 0;     // 14

    // ---- layout and colour fields
    uint32_t PS_BMP_ADDR = 0, PS_BMP_HACT = 0, PS_BMP_VACT = 0, PS_BMPCP_ADDR = 0;
    uint32_t PS_SFL_ADDR = 0, PS_MEM_OSD = 0, PS_MEM_OSD1 = 0, PS_FONT_ADDR = 0;
    int PS_BG_HACT = 0, PS_BG_VACT = 0;
    uint32_t PS_BG_COLOR = 0;
    int PS_BG_TRANS = 0;
    int PS_CHAR_HST = 0, PS_CHAR_VST = 0;
    uint32_t PS_CHAR_COLOR = 0;
    uint32_t PS_CHAR_ADDR_32ASCII = 0, PS_CHAR_ADDR_32CHN = 0, PS_CHAR_ADDR_64ASCII = 0, PS_CHAR_ADDR_64CHN = 0;
    uint32_t PS_CHAR_SIZE_32ASCII = 0, PS_CHAR_SIZE_32CHN = 0, PS_CHAR_SIZE_64ASCII = 0, PS_CHAR_SIZE_64CHN = 0;

    // ---- derived
    int g_osd_mwi = 0;
    int g_osd_mwi_shift = 0;
    OSD_WIN_T OSD_WIN;
    // under flash_mutex: update_font, from the pass, a PC's font reload on its link or the USB upgrade
    uint32_t g_font_addr_32ASCII = 0, g_font_addr_32CHN = 0, g_font_addr_64ASCII = 0, g_font_addr_64CHN = 0;
    uint8_t osd_text[64][256] = {};  // UTF-16BE lines, each ended by a zero unit
    int g_unicode_line = 0;
    int osd_layer_below = 0;          // type 33
    int osd_word_space = 0;           // type 34
    int osd_line_space = 0;           // type 35
    std::atomic<unsigned> font_present{0};  // bit 0 32C, 1 32A, 2 64C, 3 64A (the screens read it)
    unsigned osd_timeouts = 0;        // flash and DMA waits that ran out: under flash_mutex, any thread's flash job
};
