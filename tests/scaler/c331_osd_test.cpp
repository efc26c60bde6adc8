// The on-screen display: settings, the menu file, the picture the drawing engine builds,
// the planes per output channel and the scroller.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "c331_osd_fixture.h"
#include "core/omenu.h"
#include "scaler/c331_osd_regs.h"

using scalertest::OsdTest;
using namespace c331osd;

namespace {
unsigned glyphOf(unsigned code) { return code < 0x80 ? code - 0x20 : 96 + code - 0x4E00; }
}  // namespace

TEST_F(OsdTest, PitchDoublesTheWidthInUnitsOf128AndSwitchesTo512BeyondSixtyFour) {
    startRunning();
    const struct {
        int w, mwi, shift;
    } cases[] = {{1920, 32, 0}, {3840, 60, 0}, {4096, 64, 0}, {4224, 17, 1}, {8192, 32, 1}, {1, 4, 0}};
    for (const auto& c : cases) {
        m->osdPitch(c.w);
        EXPECT_EQ(m->g_osd_mwi, c.mwi) << c.w;
        EXPECT_EQ(m->g_osd_mwi_shift, c.shift) << c.w;
    }
}

TEST_F(OsdTest, OsdSetStoresMarginsAsRightAndBottomAndRefusesUnknownTypes) {
    startRunning();
    m->vlxApi_OsdSet(19, 1920);
    m->vlxApi_OsdSet(20, 1080);
    m->vlxApi_OsdSet(5, 100);
    m->vlxApi_OsdSet(6, 600);
    m->vlxApi_OsdSet(7, 50);
    m->vlxApi_OsdSet(8, 300);
    EXPECT_EQ(m->PM_OSD_OUTPUT_OFFSET[1], 1920 - 600 - 100);
    EXPECT_EQ(m->PM_OSD_OUTPUT_OFFSET[3], 1080 - 300 - 50);
    m->osd_set_request = m->osd_update_request = 0;
    EXPECT_EQ(m->vlxApi_OsdSet(40, 7), 0);
    EXPECT_EQ(m->vlxApi_OsdSet(25, 7), 0);
    EXPECT_EQ(m->osd_set_request + m->osd_update_request, 0);
    EXPECT_EQ(m->vlxApi_OsdSet(4, 9), 1);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 0) << "mode 9 acts as 0";
    EXPECT_EQ(m->osd_set_request, 1);
    EXPECT_EQ(m->vlxApi_OsdSet(14, 1), 1);
    EXPECT_EQ(m->osd_update_request, 1);
}

TEST_F(OsdTest, UnicodeLinesAreStoredBigEndianAtMost127CharactersAndAtMost64Lines) {
    startRunning();
    static wchar_t lines[100][128];
    int lengths[100];
    for (int i = 0; i < 100; ++i) {
        lengths[i] = 130;
        for (int c = 0; c < 128; ++c) lines[i][c] = wchar_t(0x4E00 + c);
    }
    lines[0][1] = wchar_t(0x1F600);  // above U+FFFF: its low 16 bits
    m->vlxApi_OsdSetUnicode(100, lengths, lines);
    EXPECT_EQ(m->g_unicode_line, 64) << "the buffer holds 64 lines";
    EXPECT_EQ(m->osd_text[0][0], 0x4E);
    EXPECT_EQ(m->osd_text[0][1], 0x00);
    EXPECT_EQ(m->osd_text[0][2], 0xF6);
    EXPECT_EQ(m->osd_text[0][3], 0x00);
    EXPECT_EQ(m->osd_text[5][2 * 126 + 1], 126);
    EXPECT_EQ(m->osd_text[5][2 * 127], 0) << "a 130-character line keeps 127";
    EXPECT_EQ(m->osd_text[5][2 * 127 + 1], 0);
}

TEST_F(OsdTest, MenuRecordBecomesSettingsClampedToTheLedScreen) {
    startRunning();
    OMENU_PARA menu;
    menu.osd_count = 1;
    menu.type = 0;
    menu.status = "ON";
    menu.x = 10, menu.y = 5000, menu.w = 4000, menu.h = 2000;
    menu.fontw = menu.fonth = 48;
    menu.font_color = "FF0000";
    menu.back_enable = "OFF";
    menu.back_color = "0x112233";
    menu.effect = 7;
    menu.speed = 3;
    menu.layer = "buttom";
    menu.text = "ab\n\ncd\r\nend";
    m->vlxApi_OsdSet(4, 5);
    m->vlxApi_OsdSet(1, 1);
    m->set_OSD_para(&menu);
    EXPECT_EQ(menu.w, ram->ramU16(vlxram::kLedWidth));
    EXPECT_EQ(menu.y, ram->ramU16(vlxram::kLedHeight));
    EXPECT_EQ(menu.h, m->PS_BG_VACT - menu.y) << "the height ends on the canvas";
    EXPECT_EQ(m->PM_OSD_CHAR_64DOT, 0);
    EXPECT_EQ(m->PM_OSD_HZOOM_EN, 1) << "48 x 48 leaves the zoom as it was";
    EXPECT_EQ(m->PS_CHAR_COLOR, 0x0000FFu) << "RRGGBB reaches the engine as BBGGRR";
    EXPECT_EQ(m->PS_BG_COLOR, 0x332211u) << "\"OFF\" in capitals still shows the background";
    EXPECT_EQ(m->PS_BG_TRANS, 0);
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 5) << "effect 7 leaves the scroll mode";
    EXPECT_EQ(m->PM_OSD_SCROLL_SPEED, 30);
    EXPECT_EQ(m->PM_OSD_EN, 0) << "only \"on\" switches the OSD on";
    EXPECT_EQ(m->osd_layer_below, 1);
    ASSERT_EQ(m->g_unicode_line, 4);
    EXPECT_EQ(m->osd_text[1][0] | m->osd_text[1][1], 0) << "two breaks in a row give an empty line";
    EXPECT_EQ(m->osd_text[2][3], 'd');
    EXPECT_EQ(m->osd_text[2][5], 0) << "the \"\\r\" of \"\\r\\n\" is dropped";
}

TEST_F(OsdTest, MenuOfSeventyLinesPassesTheFirst64AndCountZeroChangesNothing) {
    startRunning();
    OMENU_PARA menu;
    menu.osd_count = 1;
    for (int i = 0; i < 70; ++i) menu.text += "L" + std::to_string(i) + "\n";
    m->set_OSD_para(&menu);
    EXPECT_EQ(m->g_unicode_line, 64);
    OMENU_PARA none;
    none.osd_count = 0;
    none.x = 999;
    m->set_OSD_para(&none);
    EXPECT_EQ(m->PM_OSD_OUTPUT_OFFSET[0], 0);
    EXPECT_EQ(m->g_unicode_line, 64);
}

// RAM 0x84C = 1, a menu file, then the controller flag bit 3 path: the dispatcher parses
// the menu and the next pass draws it.
class OsdDrawTest : public OsdTest {
protected:
    void SetUp() override {
        OsdTest::SetUp();
        startRunning();
        loadSmallFonts();
        m->load_fonts();
        clearRecorded();
    }
    void applyMenu(const std::string& json) {
        testkit::writeFile("/data/configs/omenu.json", json);
        {
            ManageMutexLocker lock;
            ram->setRamU16(vlxram::kOsdEnable, 1);
            c331_manage::update_flag = 1;
            g_osd_update = 1;
        }
        m->step();
        shadowFollows();
        m->step();
    }
};

TEST_F(OsdDrawTest, TextMenuIsFilledRenderedPerLineColouredAndShownOnEveryCoveredChannel) {
    // x 1800, w 300 on 1920-wide slices: two planes, 120 + 180 wide
    applyMenu(textMenu("AB\\u4e2d\\nB", 1800, 40, 300, 200));
    auto fills = recorded("fill");
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].regs[0x0B], 1u) << "opaque background: colour index 1";
    EXPECT_EQ(fills[0].regs[0x1E] + 1, unsigned(m->PS_BG_HACT));
    auto chars = recorded("char");
    ASSERT_EQ(chars.size(), 2u) << "one render per line";
    ASSERT_EQ(chars[0].chars.size(), 3u);
    EXPECT_EQ(chars[0].chars[0].glyph, glyphOf('A'));
    EXPECT_EQ(chars[0].chars[2].glyph, glyphOf(0x4E2D));
    EXPECT_EQ(chars[0].chars[0].fg, 2);
    EXPECT_EQ(chars[0].chars[0].bg, 1);
    EXPECT_EQ(chars[0].chars[0].advance, 16);
    EXPECT_EQ(chars[0].chars[2].advance, 32);
    EXPECT_EQ(chars[0].dst, m->PS_MEM_OSD + 8 + m->osdRowOffset(4)) << "the first line at the text origin";
    EXPECT_EQ(chars[1].dst, m->PS_MEM_OSD + 8 + m->osdRowOffset(4 + 32));
    {
        auto lock = chip->engineLock();
        const auto bg = chip->engine().palette(1), fg = chip->engine().palette(2);
        EXPECT_EQ((std::array<uint8_t, 3>{bg[0], bg[1], bg[2]}), (std::array<uint8_t, 3>{0x10, 0x20, 0x30}));
        EXPECT_EQ((std::array<uint8_t, 3>{fg[0], fg[1], fg[2]}), (std::array<uint8_t, 3>{0xFF, 0x00, 0x00}));
    }
    EXPECT_EQ(m->OSD_WIN.HW, 300);
    unsigned widths = 0;
    for (int k = 0; k < 8; ++k) widths += regOf(kRegOsdHw, k);
    EXPECT_EQ(widths, unsigned(m->OSD_WIN.HW));
    EXPECT_EQ(regOf(kRegOsdHw, 0), 120u);
    EXPECT_EQ(regOf(kRegOsdHw, 1), 180u);
    EXPECT_EQ(regOf(kRegOsdCtl, 0), 0x4003u);
    EXPECT_EQ(regOf(kRegScrollCtl, 0), 0xA1u) << "effect 1 is scroll mode 3";
    EXPECT_EQ(regOf(kRegScrollSpeed, 1), 20u);
    EXPECT_EQ(engineStats().broken, 0u);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(OsdDrawTest, CharactersOutsideTheFontsAreDrawnAsSpacesAndLinesBelowTheCanvasAreNot) {
    m->vlxApi_OsdSet(20, 100);
    // control, Latin-1, a CJK sign outside the block, a character above U+FFFF
    applyMenu(textMenu("A\\u0007\\u00e9\\u3042\\ud83d\\ude00B", 0, 0, 600, 100));
    auto chars = recorded("char");
    ASSERT_FALSE(chars.empty());
    const auto& c = chars[0].chars;
    ASSERT_EQ(c.size(), 6u);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(c[i].glyph, 0u) << i;
    EXPECT_EQ(c[5].glyph, glyphOf('B'));
    // 64 lines of 64-dot text: only those starting on the canvas are drawn, fonts untouched
    std::vector<uint8_t> fonts;
    {
        auto lock = chip->engineLock();
        fonts = chip->engine().osdRead(m->g_font_addr_32ASCII, 0x400);
    }
    clearRecorded();
    std::string text;
    for (int i = 0; i < 64; ++i) text += "AB\\n";
    applyMenu(textMenu(text, 0, 0, 600, 100, 64));
    const int canvas = m->PS_BG_VACT;
    EXPECT_EQ(int(recorded("char").size()), (canvas - 4 + 63) / 64);
    auto lock = chip->engineLock();
    EXPECT_EQ(chip->engine().osdRead(m->g_font_addr_32ASCII, 0x400), fonts);
}

// A PC's menu file with its text origin or window far off the canvas: the origin is kept on
// the canvas (a log line says so) and the drawing engine writes inside the OSD picture only.
TEST_F(OsdDrawTest, TextOriginAndWindowOffTheCanvasAreKeptOnItAndNothingIsDrawnOutsideThePicture) {
    std::vector<uint8_t> fonts;
    {
        auto lock = chip->engineLock();
        fonts = chip->engine().osdRead(m->g_font_addr_32ASCII, 0x400);
    }
    const long long starts[] = {-5000, -3300000, 100000000, -2147483648LL};
    for (long long startx : starts) {
        SCOPED_TRACE(startx);
        clearRecorded();
        std::string json = textMenu("AB\\nAB", int(startx), -7, 100000000, int(-2147483647 - 1));
        json.replace(json.find("\"startx\":8"), 10, "\"startx\":" + std::to_string(startx));
        applyMenu(json);
        const uint32_t picture = m->PS_MEM_OSD, end = picture + m->osdRowOffset(m->PS_BG_VACT);
        const auto chars = recorded("char");
        ASSERT_EQ(chars.size(), 2u) << "the text is drawn, from an origin on the canvas";
        const uint32_t x = startx < 0 ? 0u : uint32_t(m->PS_BG_HACT - 1);
        EXPECT_EQ(chars[0].dst, picture + x + m->osdRowOffset(4));
        for (const auto& c : recorded())
            if (c.kind == "char" || c.kind == "fill") {
                EXPECT_GE(c.dst, picture) << c.kind << std::hex << " at 0x" << c.dst;
                EXPECT_LT(c.dst, end) << c.kind << std::hex << " at 0x" << c.dst;
            }
        EXPECT_GE(m->OSD_WIN.HST, 0);
        EXPECT_LE(m->OSD_WIN.HST + m->OSD_WIN.HW, m->PS_PANEL_HW());
        EXPECT_GE(m->OSD_WIN.VST, 0);
        EXPECT_LE(m->OSD_WIN.VST + m->OSD_WIN.VW, m->PS_PANEL_VW());
        auto lock = chip->engineLock();
        EXPECT_EQ(chip->engine().osdRead(m->g_font_addr_32ASCII, 0x400), fonts) << "the fonts are untouched";
    }
}

TEST_F(OsdDrawTest, BitmapMenuIsCopiedFromStagingWithItsColourTable) {
    std::string json = textMenu("x");
    json.replace(json.find("\"type\":0"), 8, "\"type\":1");
    json.replace(json.find("\"backpara\""), 0, "\"bmppara\":{\"start\":0,\"end\":0},");
    applyMenu(json);
    auto dmas = recorded("dma");
    ASSERT_EQ(dmas.size(), 2u);
    EXPECT_EQ(dmas[0].src, 0xED9800u);
    EXPECT_EQ(dmas[0].dst, m->PS_SFL_ADDR);
    EXPECT_EQ(dmas[0].size, 1920u * 1080u);
    EXPECT_EQ(dmas[1].dmaKind, 4);
    EXPECT_EQ(dmas[1].size, 816u);
    auto copies = recorded("copy");
    ASSERT_GE(copies.size(), 1u);
    EXPECT_EQ(copies[0].src, m->PS_SFL_ADDR);
    EXPECT_EQ(copies[0].dst, m->PS_MEM_OSD);
    EXPECT_GT(engineStats().paletteDropped, 0u) << "816 bytes are more than 256 entries";
}

TEST_F(OsdDrawTest, UpdateWaitsWhileATestPatternIsShown) {
    {
        ManageMutexLocker lock;
        ram->setRamByte(vlxram::kTestPattern, 3);
        c331_manage::update_flag = 1;
    }
    m->step();
    shadowFollows();
    ASSERT_NE(m->vlxApi_IsPatternGen(), 0);
    applyMenu(textMenu("A"));
    EXPECT_TRUE(recorded("char").empty());
    EXPECT_EQ(m->osd_update_request, 1);
    {
        ManageMutexLocker lock;
        ram->setRamByte(vlxram::kTestPattern, 0);
        c331_manage::update_flag = 1;
    }
    m->step();
    shadowFollows();
    m->step();
    EXPECT_EQ(recorded("char").size(), 1u);
}

TEST_F(OsdDrawTest, UpdateWaitsWhileAPcFlashJobHoldsTheFlashControllerAndFollowsIt) {
    std::mutex m2;
    std::condition_variable cv;
    bool held = false, release = false;
    std::thread pc([&] {  // a PC's erase holds the controller for its whole run
        std::lock_guard<std::recursive_mutex> flash(c331_manage::flash_mutex);
        std::unique_lock<std::mutex> l(m2);
        held = true;
        cv.notify_all();
        cv.wait(l, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> l(m2);
        cv.wait(l, [&] { return held; });
    }
    applyMenu(textMenu("A"));  // the passes return instead of waiting for the erase
    EXPECT_TRUE(recorded("char").empty());
    EXPECT_EQ(m->osd_update_request, 1);
    {
        std::lock_guard<std::mutex> l(m2);
        release = true;
    }
    cv.notify_all();
    pc.join();
    m->step();
    EXPECT_EQ(recorded("char").size(), 1u);
    EXPECT_EQ(m->osd_update_request, 0);
}

TEST_F(OsdTest, AfterARestartWithTheOsdOnTheMenuIsDrawnAtTheFirstApplyPassWithoutAPcCommand) {
    ram = startStore();
    ram->setRamU16(vlxram::kOsdEnable, 1);
    ram->shadowTakesRam();
    testkit::writeFile("/data/configs/omenu.json", textMenu("AB"));
    loadSmallFonts();
    m = c331_manage::createForTest();
    for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(g_osd_update.load(), 1) << "the bring-up asks for the menu";
    EXPECT_EQ(m->font_present.load(), 0x0Fu);
    m->step();
    EXPECT_TRUE(recorded("char").empty()) << "nothing applied before the FPGA engine starts";
    c331_manage::update_flag = 1;  // the FPGA start-up's apply request
    m->step();
    m->step();
    auto chars = recorded("char");
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].chars.size(), 2u);
    EXPECT_EQ(m->PM_OSD_EN, 1);
}
