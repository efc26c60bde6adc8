// libFuzzer target: any frame through message_group_deal against the real parameter
// store on a simulated board; the same bytes also go through a link end (BCC check,
// pass-through refusal without an engine).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "protocol/control_frame.h"
#include "protocol/control_link.h"
#include "protocol/message_deal.h"

namespace {
std::string g_root;
void removeRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/vlx-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_root = tmpl;
    std::atexit(removeRoot);
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(tmpl);
    plat::setSleepScale(0);
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log", "/run"}) plat::makeDirs(d);
    g_debugSwitch = 0;
    ConfigEngine::pInstance();
    VlxRamPara::pInstance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static message_deal deal;
    static control_link link(ctl::kTransportTcp);
    std::vector<uint8_t> frame(data, data + size);
    // Most inputs would fail the length and BCC checks; make them agree half of the time
    // so that the handlers themselves are reached.
    if (size >= ctl::kMinFrame && (data[0] & 1)) {
        ctl::wr16(frame.data() + ctl::kLen, uint16_t(size - ctl::kMinFrame));
        uint8_t x = 0;
        for (size_t i = 0; i + 1 < size; ++i) x ^= frame[i];
        frame.back() = x;
    }
    std::vector<uint8_t> reply;
    const int n = deal.message_group_deal(frame.data(), frame.size(), reply);
    if (n >= 0 && reply.size() != size_t(n) + ctl::kMinFrame) std::abort();
    link.handleFrame(frame.data(), frame.size(), [](const std::vector<uint8_t>&) {});
    // Undo what would end the process or reboot it.
    g_app_reset_flag = 0;
    return 0;
}
