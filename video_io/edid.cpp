#include "video_io/edid.h"

#include <algorithm>
#include <cstring>

#include "platform/video_timing.h"

namespace {

constexpr size_t kBlock = 128;
constexpr uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr size_t kPreferredDtd = 54;
constexpr size_t kRangeLimits = 72;
constexpr size_t kNameDescriptor = 90;
constexpr size_t kDummyDescriptor = 108;

struct KindInfo {
    const char* name;
    uint16_t product;
    uint8_t interface;  // video input byte: digital, 8 bits per colour, interface
    uint32_t maxPixelKhz;
    int width, height;  // default preferred timing at 60 Hz
    std::vector<int> vics;
};

const KindInfo& info(EdidKind kind) {
    static const KindInfo ext{"VLX EXT", 0x7100, 0x80, 340000, 1920, 1080, {16, 4, 31, 19, 5}};
    static const KindInfo dvi{"VLX DVI", 0x7101, 0xA1, 165000, 1920, 1080, {}};
    static const KindInfo hdmi14{"VLX HDMI", 0x7102, 0x80, 340000, 1920, 1080, {16, 4, 31, 19, 5}};
    static const KindInfo hdmi20{"VLX HDMI2.0", 0x7103, 0x80, 600000, 3840, 2160, {97, 96, 95, 16, 4, 31, 19, 5}};
    switch (kind) {
    case EdidKind::Ext: return ext;
    case EdidKind::Dvi: return dvi;
    case EdidKind::Hdmi14: return hdmi14;
    case EdidKind::Hdmi20: break;
    }
    return hdmi20;
}

// CTA-861 formats we list, by VIC.
bool vicTiming(int vic, plat::VideoTiming* t) {
    switch (vic) {
    case 4: return plat::standardTiming(1280, 720, 60, false, t);
    case 5: return plat::standardTiming(1920, 1080, 60, true, t);
    case 16: return plat::standardTiming(1920, 1080, 60, false, t);
    case 19: return plat::standardTiming(1280, 720, 50, false, t);
    case 31: return plat::standardTiming(1920, 1080, 50, false, t);
    case 95: return plat::standardTiming(3840, 2160, 30, false, t);
    case 96: return plat::standardTiming(3840, 2160, 50, false, t);
    case 97: return plat::standardTiming(3840, 2160, 60, false, t);
    default: return false;
    }
}

uint8_t checksum(const uint8_t* block) {
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < kBlock; ++i) sum += block[i];
    return uint8_t((256 - sum % 256) % 256);
}

void textDescriptor(uint8_t* d, uint8_t tag, const char* text) {
    std::memset(d, 0, 18);
    d[3] = tag;
    size_t n = std::min<size_t>(std::strlen(text), 13);
    std::memcpy(d + 5, text, n);
    if (n < 13) {
        d[5 + n] = 0x0A;
        for (size_t i = n + 1; i < 13; ++i) d[5 + i] = 0x20;
    }
}

void detailedTiming(uint8_t* d, const plat::VideoTiming& t, int widthMm, int heightMm) {
    const int hblank = t.htotal - t.hact, vblank = t.vtotal - t.vact;
    const unsigned clock = t.pixelKhz / 10;
    d[0] = uint8_t(clock & 0xFF);
    d[1] = uint8_t(clock >> 8);
    d[2] = uint8_t(t.hact & 0xFF);
    d[3] = uint8_t(hblank & 0xFF);
    d[4] = uint8_t(((t.hact >> 8) << 4) | ((hblank >> 8) & 0x0F));
    d[5] = uint8_t(t.vact & 0xFF);
    d[6] = uint8_t(vblank & 0xFF);
    d[7] = uint8_t(((t.vact >> 8) << 4) | ((vblank >> 8) & 0x0F));
    d[8] = uint8_t(t.hfront & 0xFF);
    d[9] = uint8_t(t.hsync & 0xFF);
    d[10] = uint8_t(((t.vfront & 0x0F) << 4) | (t.vsync & 0x0F));
    d[11] = uint8_t((((t.hfront >> 8) & 3) << 6) | (((t.hsync >> 8) & 3) << 4) | (((t.vfront >> 4) & 3) << 2) |
                    ((t.vsync >> 4) & 3));
    d[12] = uint8_t(widthMm & 0xFF);
    d[13] = uint8_t(heightMm & 0xFF);
    d[14] = uint8_t(((widthMm >> 8) << 4) | ((heightMm >> 8) & 0x0F));
    d[15] = 0;
    d[16] = 0;
    d[17] = uint8_t((t.interlaced ? 0x80 : 0) | 0x18 | (t.vpos ? 0x04 : 0) | (t.hpos ? 0x02 : 0));
}

double lineKhz(const plat::VideoTiming& t) { return double(t.pixelKhz) / t.htotal; }
// Frame rate, or field rate when interlaced (vertical values are per field).
double frameHz(const plat::VideoTiming& t) { return double(t.pixelKhz) * 1000.0 / (double(t.htotal) * t.vtotal); }

// Every timing the EDID lists besides the preferred one: established, standard and CTA.
std::vector<plat::VideoTiming> listedTimings(const KindInfo& k) {
    std::vector<plat::VideoTiming> out;
    auto fixed = [&](int w, int h, int htotal, int vtotal, uint32_t khz) {
        plat::VideoTiming t;
        t.hact = w, t.vact = h, t.htotal = htotal, t.vtotal = vtotal, t.pixelKhz = khz, t.rate = 60;
        out.push_back(t);
    };
    fixed(640, 480, 800, 525, 25175);
    fixed(800, 600, 1056, 628, 40000);
    fixed(1024, 768, 1344, 806, 65000);
    plat::VideoTiming t;
    if (plat::standardTiming(1280, 720, 60, false, &t)) out.push_back(t);
    if (plat::standardTiming(1920, 1080, 60, false, &t)) out.push_back(t);
    for (int vic : k.vics)
        if (vicTiming(vic, &t)) out.push_back(t);
    return out;
}

void rangeLimits(uint8_t* d, const KindInfo& k, const plat::VideoTiming& preferred, bool version13) {
    std::vector<plat::VideoTiming> all = listedTimings(k);
    all.push_back(preferred);
    double minV = 1e9, maxV = 0, minH = 1e9, maxH = 0;
    uint32_t maxClock = 0;
    for (const auto& t : all) {
        const double v = frameHz(t);
        minV = std::min(minV, v), maxV = std::max(maxV, v);
        minH = std::min(minH, lineKhz(t)), maxH = std::max(maxH, lineKhz(t));
        maxClock = std::max(maxClock, t.pixelKhz);
    }
    std::memset(d, 0, 18);
    d[3] = 0xFD;
    d[5] = uint8_t(std::max(1, int(minV) - 1));
    d[6] = uint8_t(std::min(255, int(maxV) + 2));
    d[7] = uint8_t(std::max(1, int(minH) - 1));
    d[8] = uint8_t(std::min(255, int(maxH) + 2));
    d[9] = uint8_t(std::min<uint32_t>(255, (maxClock + 9999) / 10000));
    d[10] = version13 ? 0x00 : 0x01;  // default formula (1.3) or range limits only (1.4)
    d[11] = 0x0A;
    for (int i = 12; i < 18; ++i) d[i] = 0x20;
}

void ctaExtension(uint8_t* b, const KindInfo& k, EdidKind kind) {
    std::memset(b, 0, kBlock);
    b[0] = 0x02;
    b[1] = 0x03;
    b[3] = 0x80 | 0x40 | 0x01;  // underscans IT formats, basic audio, one native detailed timing
    size_t at = 4;
    const uint8_t capability[] = {(7 << 5) | 2, 0x00, 0x4A};  // RGB range selectable, IT and CE underscanned
    std::memcpy(b + at, capability, sizeof capability), at += sizeof capability;
    b[at++] = uint8_t((2 << 5) | k.vics.size());  // video
    for (int vic : k.vics) b[at++] = uint8_t(vic);
    const uint8_t audio[] = {(1 << 5) | 3, 0x09, 0x07, 0x07};  // LPCM 2 channels, 32/44.1/48 kHz, 16/20/24 bit
    std::memcpy(b + at, audio, sizeof audio), at += sizeof audio;
    const uint8_t speakers[] = {(4 << 5) | 3, 0x01, 0x00, 0x00};  // front left and right
    std::memcpy(b + at, speakers, sizeof speakers), at += sizeof speakers;
    // HDMI 1.x vendor block: physical address 1.0.0.0, 340 MHz TMDS.
    const uint8_t hdmi[] = {(3 << 5) | 7, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 340 / 5};
    std::memcpy(b + at, hdmi, sizeof hdmi), at += sizeof hdmi;
    if (kind == EdidKind::Hdmi20) {
        // HDMI Forum block: 600 MHz character rate, SCDC with scrambling below 340 Mcsc.
        const uint8_t forum[] = {(3 << 5) | 7, 0xD8, 0x5D, 0xC4, 0x01, 600 / 5, 0x88, 0x00};
        std::memcpy(b + at, forum, sizeof forum), at += sizeof forum;
    }
    b[2] = uint8_t(at);  // no detailed timings follow
    b[kBlock - 1] = checksum(b);
}

}  // namespace

EdidKind edidKindOfSource(int source) {
    switch (source) {
    case 0: return EdidKind::Ext;
    case 1: return EdidKind::Dvi;
    case 2:
    case 3: return EdidKind::Hdmi14;
    default: return EdidKind::Hdmi20;
    }
}

std::vector<uint8_t> defaultEdid(EdidKind kind) {
    const KindInfo& k = info(kind);
    const bool cta = kind != EdidKind::Dvi;
    std::vector<uint8_t> e(cta ? 2 * kBlock : kBlock, 0);
    std::memcpy(e.data(), kHeader, sizeof kHeader);
    e[8] = 0x59, e[9] = 0x98;  // manufacturer "VLX"
    e[10] = uint8_t(k.product & 0xFF), e[11] = uint8_t(k.product >> 8);
    e[16] = 1, e[17] = 2024 - 1990;  // week, year of manufacture
    // HDMI wants EDID 1.3 (digital input, RGB colour display); DVI takes 1.4 with its interface.
    e[18] = 1, e[19] = cta ? 3 : 4;
    e[20] = cta ? 0x80 : k.interface;
    e[23] = 0x78;  // gamma 2.2
    e[24] = cta ? 0x0E : 0x06;  // RGB, sRGB, preferred timing is native
    const uint8_t srgb[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(e.data() + 25, srgb, sizeof srgb);
    e[35] = 0x21, e[36] = 0x08, e[37] = 0x00;  // 640x480, 800x600, 1024x768 at 60 Hz
    const uint8_t standard[16] = {0x81, 0xC0, 0xD1, 0xC0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    std::memcpy(e.data() + 38, standard, sizeof standard);
    textDescriptor(e.data() + kNameDescriptor, 0xFC, k.name);
    std::memset(e.data() + kDummyDescriptor, 0, 18);
    e[kDummyDescriptor + 3] = 0x10;
    e[126] = cta ? 1 : 0;
    if (cta) ctaExtension(e.data() + kBlock, k, kind);
    Set_Custom_HDMI_EDID(e, kind, k.width, k.height, 60);
    return e;
}

bool Set_Custom_HDMI_EDID(std::vector<uint8_t>& edid, EdidKind kind, int width, int height, int refresh,
                          std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (edid.size() < kBlock) return fail("EDID shorter than one block");
    const KindInfo& k = info(kind);
    plat::VideoTiming t;
    if (width > kEdidLargestSize || height > kEdidLargestSize) return fail("wider or taller than 4095");
    if (!plat::standardTiming(width, height, refresh, false, &t)) return fail("no standard timing");
    if (t.pixelKhz > k.maxPixelKhz || t.pixelKhz / 10 > 0xFFFF)
        return fail("pixel clock " + std::to_string(t.pixelKhz / 1000) + " MHz above the input's " +
                    std::to_string(k.maxPixelKhz / 1000) + " MHz");
    // Screen size for a 0.5 mm pitch: centimetres in the base block, millimetres in the timing.
    const int widthCm = std::max(1, std::min(255, (width + 10) / 20));
    const int heightCm = std::max(1, std::min(255, (height + 10) / 20));
    edid[21] = uint8_t(widthCm);
    edid[22] = uint8_t(heightCm);
    detailedTiming(edid.data() + kPreferredDtd, t, widthCm * 10, heightCm * 10);
    rangeLimits(edid.data() + kRangeLimits, k, t, edid[19] == 3);
    edid[kBlock - 1] = checksum(edid.data());
    return true;
}

bool edidPreferredTiming(const uint8_t* data, size_t length, int* width, int* height, int* refresh) {
    if (!edidValid(data, length)) return false;
    const uint8_t* d = data + kPreferredDtd;
    const unsigned clockHz = unsigned(d[0] | d[1] << 8) * 10000u;
    const int w = d[2] | (d[4] >> 4) << 8, hblank = d[3] | (d[4] & 0x0F) << 8;
    const int h = d[5] | (d[7] >> 4) << 8, vblank = d[6] | (d[7] & 0x0F) << 8;
    if (clockHz == 0 || w == 0 || h == 0) return false;  // a display descriptor, no timing
    const double total = double(w + hblank) * double(h + vblank);
    *width = w;
    *height = h;
    *refresh = int(clockHz / total + 0.5);
    return true;
}

size_t edidLength(const uint8_t* data, size_t length) {
    if (length < kBlock || std::memcmp(data, kHeader, sizeof kHeader) != 0) return 0;
    return kBlock * (1 + size_t(data[126]));
}

bool edidValid(const uint8_t* data, size_t length, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (length < kBlock) return fail("shorter than one block");
    if (std::memcmp(data, kHeader, sizeof kHeader) != 0) return fail("no EDID header");
    const size_t blocks = 1 + size_t(data[126]);
    if (blocks * kBlock > length) return fail("extension count " + std::to_string(data[126]) + " beyond the memory");
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* block = data + b * kBlock;
        unsigned sum = 0;
        for (size_t i = 0; i < kBlock; ++i) sum += block[i];
        if (sum % 256 != 0) return fail("checksum of block " + std::to_string(b));
        if (b > 0 && block[0] != 0x02) return fail("unknown extension in block " + std::to_string(b));
    }
    return true;
}
