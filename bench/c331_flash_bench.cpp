// The C331 serial flash and OSD over the simulated chip: write_flash and read_flash rates,
// each font's download (erase, write, reload) and the drawing of a 20-line menu, in device
// time (the wire time of every frame, polls of the busy bits included, which is how long the
// real part keeps the driver polling) and in host time. Not a test: run it by hand.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_wiring.h"

#include "c331_world.h"

namespace {

struct World : C331World {
    World() { runUp(); }
};

struct Span {
    double device = 0, host = 0;
};

template <typename F>
Span measure(World& w, F f) {
    const double before = w.chip->counters().busSeconds;
    const auto t0 = std::chrono::steady_clock::now();
    f();
    Span s;
    s.host = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    s.device = w.chip->counters().busSeconds - before;
    return s;
}

}  // namespace

int main() {
    World w;
    const int fd = w.m->fd();
    std::vector<char> data(64 * 1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7);
    w.m->erase_flash(fd, 0x800, 1, 2);
    const Span wr = measure(w, [&] { w.m->write_flash(fd, 0x800000, uint32_t(data.size()), data.data()); });
    const Span rd = measure(w, [&] { w.m->read_flash(fd, 0x800000, uint32_t(data.size()), data.data()); });
    std::printf("write_flash 64 KB: device %.1f KB/s (%.3f s), host %.3f s\n", 64 / wr.device, wr.device, wr.host);
    std::printf("read_flash 64 KB: device %.1f KB/s (%.3f s), host %.3f s\n", 64 / rd.device, rd.device, rd.host);

    const struct {
        const char* name;
        uint32_t header, size;
    } fonts[4] = {{"32-dot ASCII", 0x000000, 0x3000},
                  {"32-dot Chinese", 0x010000, 0x290000},
                  {"64-dot ASCII", 0x410000, 0xC000},
                  {"64-dot Chinese", 0x450000, 0xA40000}};
    for (const auto& f : fonts) {
        std::vector<char> image(f.size + 0x23, 0x5A);
        image[0] = 'P';
        const uint32_t units = (uint32_t(image.size()) + 0xFFFF) / 0x10000;
        const Span s = measure(w, [&] {
            w.m->erase_flash(fd, f.header / 4096, units, 2);
            for (uint32_t off = 0; off < image.size(); off += 16 * 1024) {
                const uint32_t n = std::min<uint32_t>(16 * 1024, uint32_t(image.size()) - off);
                w.m->write_flash(fd, f.header + off, n, image.data() + off);
            }
            w.m->read_c331_font(fd);
            w.m->update_font(fd);
        });
        std::printf("%s font (%u bytes): device %.2f s, host %.2f s\n", f.name, unsigned(image.size()), s.device, s.host);
    }

    std::string text;
    for (int i = 0; i < 20; ++i) text += "Line " + std::to_string(i) + " \\u4e2d\\n";
    const std::string menu =
        R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on","pos":{"x":0,"y":0,"w":1920,"h":1080,"layer":"top"},"act":{"effect":0,"speed":1,"staytime":0},"backpara":{"enable":"on","color":"000080"},"fontpara":{"startx":0,"starty":0,"fontw":32,"fonth":32,"wordspace":0,"verticalspace":4,"color":"FFFFFF"},"texts":[")" +
        text + R"("]}]})";
    FILE* f = std::fopen(plat::path("/data/configs/omenu.json").c_str(), "w");
    std::fwrite(menu.data(), 1, menu.size(), f);
    std::fclose(f);
    const Span s = measure(w, [&] {
        {
            ManageMutexLocker lock;
            w.ram->setRamU16(vlxram::kOsdEnable, 1);
            c331_manage::update_flag = 1;
            g_osd_update = 1;
        }
        w.m->step();
        w.ram->shadowTakesRam();
        w.m->step();
    });
    std::printf("register 11 bit 3 to a drawn 20-line menu: device %.3f s, host %.3f s\n", s.device, s.host);
    return 0;
}
