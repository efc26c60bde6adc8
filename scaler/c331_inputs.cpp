#include "scaler/c331_inputs.h"

#include <QMutexLocker>
#include <atomic>

#include "core/utils.h"
#include "core/vlxrampara.h"
#include "scaler/c331_manage.h"

namespace c331in {

namespace {

std::atomic<ReceiverReader> g_reader{nullptr};   // atomic: start-up and tests set it, the manager reads

bool readFromRam(int source, ReceiverTiming* out) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram || source < 0 || source > 5) return false;
    unsigned char b[vlxram::kInputTimingSize];
    ram->copyInputTiming(source, b);
    const unsigned w = VlxRamPara::getU16(b, 0), h = VlxRamPara::getU16(b, 2), rate = b[4];
    *out = timingFromRam(source, w, h, rate);
    return true;
}

}  // namespace

ReceiverTiming timingFromRam(int source, unsigned width, unsigned height, unsigned rate) {
    ReceiverTiming t;
    if (width == 0 || height == 0 || rate == 0) return t;  // nosignal
    t.hact = int(width);
    t.vact = int(height);
    // Blanking of the common rasters: 1920 x 1080 -> 2200 x 1125, 3840 x 2160 -> 4400 x 2250.
    const bool big = width > 2048;
    t.hsync = big ? 88 : 44;
    t.hback = big ? 296 : 148;
    t.htotal = t.hact + (big ? 560 : 280);
    t.vsync = big ? 10 : 5;
    t.vback = big ? 72 : 36;
    t.vtotal = t.vact + (big ? 90 : 45);
    t.hpol = t.vpol = 1;
    t.pfreq = float(t.htotal) * float(t.vtotal) * float(rate);
    // The HDMI 2.0 receivers (sources 4, 5) send over V-by-One: eight lanes above 300 MHz.
    t.lane = source >= 4 ? (t.pfreq > 300e6f ? 8 : 4) : 0;
    t.nosignal = 0;
    return t;
}

void installReceiverReader(ReceiverReader reader) { g_reader = reader; }

void receiverChanged() { c331_manage::wakeManager(); }

bool readReceiver(int source, ReceiverTiming* out) {
    plat::Locker<plat::QtMutex> l(Utils::_source_hdminfo_mutex);
    const ReceiverReader r = g_reader.load();
    return r ? r(source, out) : readFromRam(source, out);
}

}  // namespace c331in
