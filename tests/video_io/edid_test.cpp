// The EDIDs the inputs offer: valid blocks for every kind, the patch that sets the
// preferred timing, refusals, and an outside check with edid-decode where it is installed.
#include <gtest/gtest.h>

#include <string>

#include "support/edid_decode.h"
#include "video_io/edid.h"

namespace {

const EdidKind kKinds[] = {EdidKind::Ext, EdidKind::Dvi, EdidKind::Hdmi14, EdidKind::Hdmi20};

std::vector<int> preferred(const std::vector<uint8_t>& e) {
    const uint8_t* d = e.data() + 54;
    return {d[2] | (d[4] >> 4) << 8, d[5] | (d[7] >> 4) << 8};
}

}  // namespace

TEST(Edid, EveryDefaultIsAValidEdidWithItsKindsPreferredTiming) {
    for (EdidKind k : kKinds) {
        const std::vector<uint8_t> e = defaultEdid(k);
        std::string why;
        EXPECT_TRUE(edidValid(e.data(), e.size(), &why)) << why;
        EXPECT_EQ(edidLength(e.data(), e.size()), k == EdidKind::Dvi ? 128u : 256u);
        EXPECT_EQ(preferred(e), k == EdidKind::Hdmi20 ? (std::vector<int>{3840, 2160}) : (std::vector<int>{1920, 1080}));
    }
}

TEST(Edid, CorruptedBlocksAreRecognised) {
    std::vector<uint8_t> e = defaultEdid(EdidKind::Hdmi14);
    std::string why;
    e[200] ^= 1;
    EXPECT_FALSE(edidValid(e.data(), e.size(), &why));
    EXPECT_EQ(why, "checksum of block 1");
    std::vector<uint8_t> blank(256, 0xFF);
    EXPECT_FALSE(edidValid(blank.data(), blank.size()));
    e = defaultEdid(EdidKind::Hdmi14);
    e[126] = 3;  // more extensions than the EEPROM holds
    EXPECT_FALSE(edidValid(e.data(), e.size()));
}

TEST(Edid, PatchSetsThePreferredTimingAndRefusesWhatTheLinkCannotCarry) {
    std::vector<uint8_t> e = defaultEdid(EdidKind::Hdmi20);
    ASSERT_TRUE(Set_Custom_HDMI_EDID(e, EdidKind::Hdmi20, 2560, 1440, 120));
    EXPECT_EQ(preferred(e), (std::vector<int>{2560, 1440}));
    EXPECT_TRUE(edidValid(e.data(), e.size()));
    // A panel width off the 8-pixel grid: the active width stays, the blanking rounds.
    std::vector<uint8_t> panel = defaultEdid(EdidKind::Hdmi14);
    ASSERT_TRUE(Set_Custom_HDMI_EDID(panel, EdidKind::Hdmi14, 1366, 768, 60));
    EXPECT_EQ(preferred(panel), (std::vector<int>{1366, 768}));
    const int hblank = panel[54 + 3] | (panel[54 + 4] & 0x0F) << 8;
    EXPECT_EQ((1366 + hblank) % 8, 0) << hblank;

    std::vector<uint8_t> dvi = defaultEdid(EdidKind::Dvi);
    const std::vector<uint8_t> before = dvi;
    std::string why;
    EXPECT_FALSE(Set_Custom_HDMI_EDID(dvi, EdidKind::Dvi, 3840, 2160, 60, &why));
    EXPECT_NE(why.find("pixel clock"), std::string::npos) << why;
    EXPECT_FALSE(Set_Custom_HDMI_EDID(dvi, EdidKind::Dvi, 0, 1080, 60));
    EXPECT_FALSE(Set_Custom_HDMI_EDID(dvi, EdidKind::Dvi, 1920, 1080, 0));
    EXPECT_FALSE(Set_Custom_HDMI_EDID(dvi, EdidKind::Dvi, 5000, 1080, 30));
    EXPECT_EQ(dvi, before) << "a refused timing leaves the EDID as it was";
}

TEST(Edid, EdidDecodeFindsNoFailureInAnyEdidWeWrite) {
    if (!testkit::edidDecodeInstalled()) GTEST_SKIP() << "edid-decode is not installed";
    std::vector<std::vector<uint8_t>> all;
    for (EdidKind k : kKinds) all.push_back(defaultEdid(k));
    struct Custom {
        EdidKind kind;
        int w, h, r;
    };
    const Custom custom[] = {{EdidKind::Hdmi20, 1920, 1080, 50}, {EdidKind::Hdmi20, 3840, 2160, 30},
                             {EdidKind::Hdmi20, 2560, 1440, 120}, {EdidKind::Hdmi14, 1280, 1024, 75},
                             {EdidKind::Ext, 1280, 720, 60},      {EdidKind::Dvi, 1024, 768, 60},
                             {EdidKind::Dvi, 1920, 1200, 60},     {EdidKind::Hdmi14, 3840, 1080, 60},
                             {EdidKind::Hdmi14, 1366, 768, 60},   {EdidKind::Dvi, 1366, 768, 60}};
    for (const Custom& c : custom) {
        std::vector<uint8_t> e = defaultEdid(c.kind);
        ASSERT_TRUE(Set_Custom_HDMI_EDID(e, c.kind, c.w, c.h, c.r)) << c.w << "x" << c.h << "@" << c.r;
        all.push_back(e);
    }
    for (size_t i = 0; i < all.size(); ++i) {
        std::string out;
        EXPECT_TRUE(testkit::edidDecodePasses(all[i], &out)) << "EDID " << i << ":\n" << out;
    }
}
