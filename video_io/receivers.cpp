#include "video_io/receivers.h"

#include <QMutexLocker>

#include <cstring>

#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/video_chip_map.h"
#include "scaler/c331_inputs.h"
#include "video_io/kavelsource.h"

namespace vm = plat::videomap;
namespace wiring = plat::wiring;

namespace {

int u16At(const uint8_t* b, int off) { return b[off] | (b[off + 1] << 8); }

I2cTarget targetOf(const char* chip) {
    const wiring::ChipWiring* c = wiring::findChip(chip);
    return c ? i2cTargetOf(*c) : I2cTarget{};
}

// Reads the change register; bit p = port p changed.
bool readChange(VideoI2c& bus, const I2cTarget& chip, uint8_t* bits) { return bus.readRegs(chip, vm::kRegChange, bits, 1); }

// Change and control registers in one read: kNoAnswer, kHotPlugLost (the receiver was reset
// behind our back: its sources stopped and it has to be set up again), or kAnswered.
enum PollResult { kNoAnswer, kHotPlugLost, kAnswered };
PollResult readChangeAndControl(VideoI2c& bus, const I2cTarget& chip, uint8_t* bits) {
    uint8_t regs[2] = {};
    if (!bus.readRegs(chip, vm::kRegChange, regs, sizeof regs)) return kNoAnswer;
    *bits = regs[0];
    return (regs[1] & vm::kControlHpd) ? kAnswered : kHotPlugLost;
}

}  // namespace

bool readPortBlock(VideoI2c& bus, const I2cTarget& chip, int port, PortReading* out) {
    uint8_t b[vm::kPortBlockBytes] = {};
    if (!bus.readRegs(chip, vm::portReg(port), b, sizeof b)) return false;
    PortReading r;
    const uint8_t st = b[vm::kPortStatus];
    r.signal = st & vm::kStatusSignal;
    r.stable = r.signal && (st & vm::kStatusStable);
    r.interlaced = st & vm::kStatusInterlace;
    r.doublePixel = st & vm::kStatusDoublePixel;
    r.hdmi = st & vm::kStatusHdmi;
    r.lanes = b[vm::kPortLanes];
    r.dataMode = b[vm::kPortDataMode];
    r.hpol = b[vm::kPortPolarity] & 1;
    r.vpol = (b[vm::kPortPolarity] >> 1) & 1;
    r.hact = u16At(b, vm::kPortHact);
    r.hsync = u16At(b, vm::kPortHsync);
    r.hback = u16At(b, vm::kPortHback);
    r.htotal = u16At(b, vm::kPortHtotal);
    r.vact = u16At(b, vm::kPortVact);
    r.vsync = u16At(b, vm::kPortVsync);
    r.vback = u16At(b, vm::kPortVback);
    r.vtotal = u16At(b, vm::kPortVtotal);
    r.pixelKhz = uint32_t(b[vm::kPortPixelKhz]) | uint32_t(b[vm::kPortPixelKhz + 1]) << 8 |
                 uint32_t(b[vm::kPortPixelKhz + 2]) << 16 | uint32_t(b[vm::kPortPixelKhz + 3]) << 24;
    r.rate = b[vm::kPortRate];
    if (r.stable && (r.hact == 0 || r.vact == 0)) r.stable = false;  // locked on nothing usable
    *out = r;
    return true;
}

bool write_input_timing(int source, uint16_t width, uint16_t height, uint8_t rate) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram || source < 0 || source >= vlxram::kInputs) return false;
    uint8_t bytes[vlxram::kInputTimingSize] = {uint8_t(width & 0xFF), uint8_t(width >> 8), uint8_t(height & 0xFF),
                                               uint8_t(height >> 8), rate, 0};
    const bool changed = ram->storeInputTiming(source, bytes);
    if (changed) VlxRamPara::test_signal(1);
    return changed;
}

void publish_input(kavelsource& owner, int source, const PortReading& r) {
    HDMI_INFO rec{};
    uint16_t width = 0, height = 0;
    uint8_t rate = 0;
    if (r.stable) {
        const int m = r.doublePixel ? 2 : 1;
        rec.Hact = r.hact * m, rec.Hsync = r.hsync * m, rec.Hback = r.hback * m, rec.Htotal = r.htotal * m;
        rec.Hpol = r.hpol;
        rec.Vact = r.vact, rec.Vsync = r.vsync, rec.Vback = r.vback, rec.Vtotal = r.vtotal, rec.Vpol = r.vpol;
        rec.pfreq = float(r.pixelKhz) / 1000.0f;
        rec.type = r.hdmi ? 1 : 0;
        rec.datamode = r.dataMode;
        rec.lane = r.lanes;
        rec.ip = r.interlaced ? 1 : 0;
        rec.nosignal = 0;
        rec.stable = 1;
        width = uint16_t(rec.Hact);
        height = uint16_t(r.interlaced ? r.vact * 2 : r.vact);
        rate = uint8_t(r.rate);
    } else {
        rec.nosignal = 1;
        rec.stable = r.signal ? 0 : 1;  // still locking: nothing settled yet
    }
    bool changed = false;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_source_hdminfo_mutex);
        changed = std::memcmp(&owner.hdminfo[source], &rec, sizeof rec) != 0;
        owner.hdminfo[source] = rec;
    }
    if (write_input_timing(source, width, height, rate) || changed) owner.noteWork();
    if (changed) c331in::receiverChanged();
}

// ---------------------------------------------------------------- IT6602

kavel_it6602::kavel_it6602(kavelsource& owner, VideoI2c& bus) : owner_(owner), bus_(bus), chip_(targetOf("rx-it6602")) {}

bool kavel_it6602::init() {
    uint8_t id = 0;
    if (!bus_.readRegs(chip_, vm::kRegChipId, &id, 1) || id != vm::kIdIt6602) return false;
    const uint8_t control = vm::kControlHpd | vm::kControlOutput;
    if (!bus_.writeRegs(chip_, vm::kRegControl, &control, 1)) return false;
    uint8_t change = 0;
    readChange(bus_, chip_, &change);
    for (int p = 0; p < 3; ++p)
        if (!show_vid_info(p)) return false;
    return true;
}

ChipPoll kavel_it6602::poll() {
    uint8_t change = 0;
    const PollResult state = readChangeAndControl(bus_, chip_, &change);
    if (state == kNoAnswer) return ChipPoll::Silent;
    if (state == kHotPlugLost) {
        for (int p = 0; p < 3; ++p) publish_input(owner_, sourceOfPort(p), PortReading());
        return ChipPoll::Reset;
    }
    for (int p = 0; p < 3; ++p)
        if ((change >> p) & 1)
            if (!show_vid_info(p)) return ChipPoll::Silent;
    return ChipPoll::Fine;
}

bool kavel_it6602::show_vid_info(int port) {
    PortReading r;
    if (port < 0 || port > 2 || !readPortBlock(bus_, chip_, port, &r)) return false;
    if (!r.signal) return IT6602VideoOutputEnable(port, false);
    publish_input(owner_, sourceOfPort(port), r);
    return true;
}

bool kavel_it6602::IT6602VideoOutputEnable(int port, bool on) {
    if (port < 0 || port > 2) return false;
    if (on) return show_vid_info(port);
    publish_input(owner_, sourceOfPort(port), PortReading());
    return true;
}

// ---------------------------------------------------------------- IT6805

ite6805_drv::ite6805_drv(kavelsource& owner, VideoI2c& bus, int dev)
    : owner_(owner), bus_(bus), dev_(dev), chip_(targetOf(dev == 0 ? "rx-ite6805-0" : "rx-ite6805-1")) {}

bool ite6805_drv::iTE6805_Set_HPD_Ctrl(bool on) {
    const uint8_t control = on ? vm::kControlHpd | vm::kControlOutput : 0;
    if (!bus_.writeRegs(chip_, vm::kRegControl, &control, 1)) return false;
    if (!on) {
        timing = ITE6805_TIMING();
        publish_input(owner_, source(), PortReading());  // the source stops without hot-plug
    }
    return true;
}

bool ite6805_drv::iTE6805_Show_VID_Info() {
    PortReading r;
    if (!readPortBlock(bus_, chip_, 0, &r)) return false;
    ITE6805_TIMING t;
    if (r.stable) {
        t.HActive = r.hact, t.HSyncWidth = r.hsync, t.HBackPorch = r.hback, t.HTotal = r.htotal, t.HPolarity = r.hpol;
        t.VActive = r.vact, t.VSyncWidth = r.vsync, t.VBackPorch = r.vback, t.VTotal = r.vtotal, t.VPolarity = r.vpol;
        t.DoublePixel = r.doublePixel ? 1 : 0;
        t.Lanes = r.lanes;
        t.Interlaced = r.interlaced ? 1 : 0;
        t.PixelClock = float(r.pixelKhz) / 1000.0f;
        t.Rate = r.rate;
    }
    timing = t;
    publish_input(owner_, source(), r);
    return true;
}

bool ite6805_sys::init() {
    uint8_t id = 0;
    if (!bus_.readRegs(drv_.chip(), vm::kRegChipId, &id, 1) || id != vm::kIdIte6805) return false;
    if (!drv_.iTE6805_Set_HPD_Ctrl(true)) return false;
    uint8_t change = 0;
    readChange(bus_, drv_.chip(), &change);
    return drv_.iTE6805_Show_VID_Info();
}

ChipPoll ite6805_sys::poll() {
    uint8_t change = 0;
    const PollResult state = readChangeAndControl(bus_, drv_.chip(), &change);
    if (state == kNoAnswer) return ChipPoll::Silent;
    if (state == kHotPlugLost) {
        drv_.timing = ITE6805_TIMING();
        publish_input(drv_.owner(), drv_.source(), PortReading());
        return ChipPoll::Reset;
    }
    if ((change & 1) && !iTE6805_INT_SCDT_Chg()) return ChipPoll::Silent;
    return ChipPoll::Fine;
}

bool ite6805_sys::iTE6805_INT_SCDT_Chg() { return drv_.iTE6805_Show_VID_Info(); }

// ---------------------------------------------------------------- EXT path

it66121_sys::it66121_sys(kavelsource& owner, VideoI2c& bus) : owner_(owner), bus_(bus), chip_(targetOf("tx-it66121")) {}

bool it66121_sys::init() {
    uint8_t id = 0;
    if (!bus_.readRegs(chip_, vm::kRegChipId, &id, 1) || id != vm::kIdIt66121) return false;
    if (!owner_.sdi_reset.high()) owner_.sdi_reset.set(wiring::kLineHigh);
    uint8_t change = 0;
    readChange(bus_, chip_, &change);
    PortReading r;
    if (!readPortBlock(bus_, chip_, 0, &r)) return false;
    publish_input(owner_, 0, r);
    return true;
}

bool it66121_sys::poll() {
    uint8_t change = 0;
    if (!readChange(bus_, chip_, &change)) return false;
    if (!(change & 1)) return true;
    PortReading r;
    if (!readPortBlock(bus_, chip_, 0, &r)) return false;
    publish_input(owner_, 0, r);
    return true;
}

void it66121_sys::GS2971_Reset() {
    owner_.sdi_reset.set(wiring::kLineLow);
    plat::sleepMs(50);
    owner_.sdi_reset.set(wiring::kLineHigh);
}
