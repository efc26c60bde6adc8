#pragma once
// The OSD world: a running manager whose chip's flash holds small fonts, the service
// console captured, and menu files written as the PC writes them.
#include <string>
#include <vector>

#include "c331_fixture.h"
#include "scaler/c331_print.h"

namespace scalertest {

// A glyph of `dots` with a recognisable pattern for `code`.
inline std::vector<uint8_t> glyph(unsigned dots, unsigned code) {
    std::vector<uint8_t> g(dots * dots / 8, 0);
    for (unsigned y = 0; y < dots; ++y) g[y * dots / 8 + (y % (dots / 8))] = uint8_t(code + y);
    return g;
}

// Font header: 'P' (present), encoding, glyph size.
inline std::vector<uint8_t> fontHeader(bool ascii, unsigned dots, char mark = 'P') {
    std::vector<uint8_t> h(35, 0);
    h[0] = uint8_t(mark);
    h[5] = ascii ? 1 : 0;
    h[17] = uint8_t(dots);
    h[18] = uint8_t(dots);
    return h;
}

class OsdTest : public ScalerTest {
protected:
    void SetUp() override {
        ScalerTest::SetUp();
        // Erases as a fast part does: polled at the simulator's pace, a real part's 45..150 ms
        // would be tens of thousands of polls per unit. The bounds themselves stay the real ones.
        plat::sim::C331Engine::Times t;
        t.erase4k = 2 * plat::sim::kNsPerMs;
        t.erase32k = 3 * plat::sim::kNsPerMs;
        t.erase64k = 4 * plat::sim::kNsPerMs;
        chip->engine().setTimes(t);
        setC331PrintSink([this](const std::string& s) {
            std::lock_guard<std::mutex> l(printMutex);
            printed += s;
        });
    }
    void TearDown() override {
        setC331PrintSink(nullptr);
        ScalerTest::TearDown();
    }
    std::string console() {
        std::lock_guard<std::mutex> l(printMutex);
        return printed;
    }
    // Four headers and the glyphs of "A", "B", U+4E2D in each size, loaded as a programmer would.
    void loadSmallFonts() {
        auto& e = chip->engine();
        const struct {
            uint32_t header;
            bool ascii;
            unsigned dots;
        } fonts[4] = {{0x000000, true, 32}, {0x010000, false, 32}, {0x410000, true, 64}, {0x450000, false, 64}};
        for (const auto& f : fonts) {
            auto lock = chip->engineLock();
            e.flashLoad(f.header, fontHeader(f.ascii, f.dots));
            const unsigned bytes = f.dots * f.dots / 8;
            if (f.ascii) {
                for (unsigned c : {'A', 'B'}) e.flashLoad(f.header + 0x23 + (c - 0x20) * bytes, glyph(f.dots, c));
            } else {
                e.flashLoad(f.header + 0x23 + 0x2D * bytes, glyph(f.dots, 0x4E2D));
            }
        }
    }
    std::vector<plat::sim::C331Engine::DrawCommand> recorded(const std::string& kind = "") {
        auto lock = chip->engineLock();
        std::vector<plat::sim::C331Engine::DrawCommand> out;
        for (auto& c : chip->engine().recorded())
            if (kind.empty() || c.kind == kind) out.push_back(c);
        return out;
    }
    void clearRecorded() {
        auto lock = chip->engineLock();
        chip->engine().clearRecorded();
    }
    plat::sim::C331Engine::Stats engineStats() {
        auto lock = chip->engineLock();
        return chip->engine().stats();
    }
    // A text menu file as the PC sends it.
    static std::string textMenu(const std::string& text, int x = 100, int y = 50, int w = 600, int h = 300,
                                int font = 32, int effect = 1, const std::string& status = "on") {
        return R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":")" + status +
               R"(","pos":{"x":)" + std::to_string(x) + R"(,"y":)" + std::to_string(y) + R"(,"w":)" +
               std::to_string(w) + R"(,"h":)" + std::to_string(h) + R"(,"layer":"top"},"act":{"effect":)" +
               std::to_string(effect) +
               R"(,"speed":2,"staytime":0},"backpara":{"enable":"on","color":"102030"},"fontpara":{"startx":8,"starty":4,"fontw":)" +
               std::to_string(font) + R"(,"fonth":)" + std::to_string(font) +
               R"(,"wordspace":0,"verticalspace":0,"color":"FF0000"},"texts":[")" + text + R"("]}]})";
    }

    std::mutex printMutex;
    std::string printed;
};

}  // namespace scalertest
