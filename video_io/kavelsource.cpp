#include "video_io/kavelsource.h"

#include <QMutexLocker>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/video_chip_map.h"
#include "platform/waits.h"
#include "scaler/c331_inputs.h"
#include "scaler/c331_manage.h"

namespace vm = plat::videomap;
namespace wiring = plat::wiring;

kavelsource* kavelsource::p_kavel_source = nullptr;

namespace {

plat::Mutex g_instanceMutex{plat::Lock::KavelInstance};   // p_kavel_source's creation and removal (a leaf)

I2cTarget chipTarget(const char* name) {
    const wiring::ChipWiring* c = wiring::findChip(name);
    return c ? i2cTargetOf(*c) : I2cTarget{};
}

I2cTarget edidTarget(int source) { return chipTarget(wiring::kVideoInputs[source].edid); }

const char* const kChipNames[] = {"rx-it6602", "rx-ite6805-0", "rx-ite6805-1", "tx-it66121",
                                  "audio-switch", "clock0", "clock1"};

// Pixel clock of the FPGAs' output, 148.5 MHz: 27 MHz x 44 / (1 x 8), VCO 1188 MHz.
constexpr uint16_t kClockN = 44;
constexpr uint8_t kClockM = 1;
constexpr uint8_t kClockP = 8;
constexpr uint32_t kClockLockTicks = 200;  // 2 s without lock and the synthesiser is programmed again

// A chip in its internal cycle (an EEPROM writing a page) does not acknowledge: try again
// until it does, for at most this long.
constexpr auto kBusyLimit = std::chrono::milliseconds(50);

template <typename F>
bool untilAcknowledged(F attempt) {
    const auto end = std::chrono::steady_clock::now() + kBusyLimit;
    for (;;) {
        // The time is read before the try: a thread held off the CPU past the limit still
        // tries once after it, and a page written within the limit is not given up on.
        const bool last = std::chrono::steady_clock::now() >= end;
        if (attempt()) return true;
        if (last) return false;
        plat::sleepUs(500);
    }
}

std::string sourceName(int s) { return wiring::kVideoInputs[s].name; }

}  // namespace

kavelsource* kavelsource::pInstance() {
    std::lock_guard<plat::Mutex> l(g_instanceMutex);
    if (!p_kavel_source) p_kavel_source = new kavelsource;
    return p_kavel_source;
}

void kavelsource::resetInstanceForTest() {
    kavelsource* gone = nullptr;
    {
        std::lock_guard<plat::Mutex> l(g_instanceMutex);
        gone = p_kavel_source;
    }
    if (!gone) return;
    gone->stopThread();   // its last pass may look the instance up
    {
        std::lock_guard<plat::Mutex> l(g_instanceMutex);
        p_kavel_source = nullptr;
    }
    delete gone;
}

kavelsource::kavelsource() {
    it6602 = std::make_unique<kavel_it6602>(*this, bus);
    for (int k = 0; k < 2; ++k) {
        ite6805[k] = std::make_unique<ite6805_drv>(*this, bus, k);
        ite6805sys[k] = std::make_unique<ite6805_sys>(*ite6805[k], bus);
    }
    it66121 = std::make_unique<it66121_sys>(*this, bus);
    for (auto& r : hdminfo) r.nosignal = 1;
}

kavelsource::~kavelsource() { stopThread(); }

void kavelsource::bindGpio(void* base) {
    rx_reset[0] = plat::GpioWord(base, wiring::kGpioRxReset0);
    rx_reset[1] = plat::GpioWord(base, wiring::kGpioRxReset1);
    edid_write_line = plat::GpioWord(base, wiring::kGpioEdidWrite);
    sdi_reset = plat::GpioWord(base, wiring::kGpioSdiReset);
    gpioBound_ = base != nullptr;
}

void kavelsource::setGpioWindow(void* base) { bindGpio(base); }

bool kavelsource::prepare() {
    if (!bus.open()) {
        writeLogMsg(LOG_ERROR, std::string("input chips: cannot open ") + wiring::kI2cDevice + "; no input-source thread");
        return false;
    }
    if (!gpioBound_ && fpga_manage::p_fpga_manage && fpga_manage::p_fpga_manage->window)
        bindGpio(fpga_manage::p_fpga_manage->window);  // the words the engine maps
    if (!gpioBound_) {
        std::string error;
        if (window_.open(wiring::kGpioWindowNeeded, &error)) bindGpio(window_.base());
        else writeLogMsg(LOG_ERROR, "input chips: " + error + "; receiver reset and EEPROM write lines not driven");
    }
    edid_write_line.set(wiring::kLineHigh);  // EEPROMs protected except while one is written
    bool full = false;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        full = g_check_edid == "Once" || g_check_edid == "Always";
    }
    plat::Locker<plat::Mutex> pass(passMutex_);
    edidCheckFull_ = full;
    volume_flag = 1;  // the saved audio route goes out once at start
    return true;
}

int kavelsource::initialize() {
    if (thread_.joinable()) return 0;
    if (!prepare()) return 255;
    stop_ = false;
    try {
        thread_ = std::thread([this] {
            plat::nameThisThread("input-sources");
            while (!stop_) pacer_.pass(source_deal());
        });
        engine_requests::inputsOwner.set(&pacer_);
    } catch (const std::exception&) {
        writeLogMsg(LOG_ERROR, "create input source thread failed");
        return 255;
    }
    return 0;
}

void kavelsource::linkFpgaEngine() {
    fpga_manage::clock_stage_ready = [](int fpga) {
        kavelsource* s = p_kavel_source;
        return s && s->clock_stage(fpga) == 2;
    };
}

void kavelsource::linkScaler() {
    // Called by the scaler with Utils::_source_hdminfo_mutex held.
    c331in::installReceiverReader([](int source, c331in::ReceiverTiming* out) {
        kavelsource* s = p_kavel_source;
        if (!s || source < 0 || source >= kSources) return false;
        Utils::sourceRecordsHeld();
        const HDMI_INFO& r = s->hdminfo[source];
        if (!r.stable) return false;
        *out = c331in::ReceiverTiming{r.Hact, r.Hsync, r.Hback, r.Hpol, r.Htotal,
                                      r.Vact, r.Vsync, r.Vback, r.Vpol, r.Vtotal,
                                      r.pfreq * 1e6f,  // the record keeps MHz
                                      r.type, r.datamode, r.lane, r.ip, r.nosignal};
        return true;
    });
    // Dump group 10, on the scaler's thread. It takes passMutex_, and this thread's pass takes
    // manage_mutex under passMutex_ (the EDID words set back): the scaler calls it holding no
    // lock of its own.
    c331_manage::hdmiReceiverRefresh = [](int dev) { return p_kavel_source && p_kavel_source->iTE6805_Get_Hdmi(dev); };
}

void kavelsource::stopThread() {
    engine_requests::inputsOwner.set(nullptr);
    stop_ = true;
    pacer_.wake();
    plat::joinThread(thread_);   // the source pass's end
}

void kavelsource::setStatusBit(unsigned byte, unsigned bit, bool on) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram || byte >= vlxram::kStatusAreaSize) return;
    const uint8_t mask = uint8_t(1u << bit);
    ram->updateRegister(vlxram::kStatusArea + byte, mask, on ? mask : 0);
}

bool kavelsource::chipAnswers(int index, bool answered, const char* name) {
    chipAnswered_[index] = answered;
    setStatusBit(0, unsigned(index), answered);
    if (!answered && !chipWarned_[index]) {
        writeLogMsg(LOG_WARNING, std::string("input chips: ") + name + " does not answer; trying again");
        chipWarned_[index] = true;
    } else if (answered && chipWarned_[index]) {
        writeLogMsg(LOG_INFO, std::string("input chips: ") + name + " answers again");
        chipWarned_[index] = false;
    }
    return answered;
}

// ---------------------------------------------------------------- the pass

bool kavelsource::source_deal() {
    plat::Locker<plat::Mutex> pass(passMutex_);
    const unsigned before = work_;
    startup_deal();
    poll_receivers();
    clock_synth_deal();
    about_set_edid_deal();
    about_volume_deal();
    return work_ != before;
}

void kavelsource::startup_deal() {
    plat::Locker<plat::QtMutex> lock(Utils::_source_init_mutex);
    for (int k = 0; k < 2; ++k) {
        if (chipReady_[kIte0 + k]) continue;
        if (!rx_reset[k].high()) rx_reset[k].set(wiring::kLineHigh);  // out of reset; it answers from the next try
        chipReady_[kIte0 + k] = chipAnswers(kIte0 + k, ite6805sys[k]->init(), kChipNames[kIte0 + k]);
    }
    if (!chipReady_[kIt6602]) chipReady_[kIt6602] = chipAnswers(kIt6602, it6602->init(), kChipNames[kIt6602]);
    if (!chipReady_[kIt66121]) chipReady_[kIt66121] = chipAnswers(kIt66121, it66121->init(), kChipNames[kIt66121]);
    if (!expanderSet_) {
        const I2cTarget expander = chipTarget("port-expander");
        const uint8_t on = 0xFF, outputs = 0x00;
        expanderSet_ = bus.writeRegs(expander, vm::kExpanderOutput, &on, 1) &&
                       bus.writeRegs(expander, vm::kExpanderDirection, &outputs, 1);
        setStatusBit(1, 7, expanderSet_);
    }
    bool allChecked = true;
    for (int s = 0; s < kSources; ++s) {
        if (!edidChecked_[s]) edidCheck(s);
        allChecked = allChecked && edidChecked_[s];
    }
    if (allChecked && edidCheckFull_ && !edidCheckStored_) {
        edidCheckStored_ = true;
        bool once = false;
        {
            plat::Locker<plat::QtMutex> settings(Utils::_settings_mutex);
            once = g_check_edid == "Once";
            if (once) g_check_edid = "Done";
        }
        if (once) {
            if (ConfigEngine::p_config) ConfigEngine::p_config->write_config_variant(ConfigItem::EDIDCheck, "Done");
            writeLogMsg(LOG_INFO, "input chips: EDIDs checked; EDIDCheck set to Done");
        }
    }
}

bool kavelsource::receiverPolled(int index, ChipPoll result) {
    chipAnswers(index, result != ChipPoll::Silent, kChipNames[index]);
    if (result == ChipPoll::Reset)
        writeLogMsg(LOG_WARNING, std::string("input chips: ") + kChipNames[index] + " was reset; setting it up again");
    return result == ChipPoll::Fine;
}

void kavelsource::poll_receivers() {
    for (int k = 0; k < 2; ++k)
        if (chipReady_[kIte0 + k]) chipReady_[kIte0 + k] = receiverPolled(kIte0 + k, ite6805sys[k]->poll());
    if (chipReady_[kIt6602]) chipReady_[kIt6602] = receiverPolled(kIt6602, it6602->poll());
    if (chipReady_[kIt66121]) chipReady_[kIt66121] = chipAnswers(kIt66121, it66121->poll(), kChipNames[kIt66121]);
}

void kavelsource::clock_synth_deal() {
    for (int i = 0; i < kFpgas; ++i) {
        const int chip = kClock0 + i;
        const I2cTarget t = chipTarget(kChipNames[chip]);
        const uint8_t stage = clk_stage[i];
        if (stage == 2) continue;
        if (stage == 0) {
            const uint8_t dividers[] = {uint8_t(kClockN & 0xFF), uint8_t(kClockN >> 8), kClockM, kClockP};
            const uint8_t enable = 1;
            const bool ok = bus.writeRegs(t, vm::kClockRegN, dividers, sizeof dividers) &&
                            bus.writeRegs(t, vm::kClockRegControl, &enable, 1);
            if (chipAnswers(chip, ok, kChipNames[chip])) {
                clk_stage[i] = 1;
                clockWait_[i] = G_timeTicks;
            }
            continue;
        }
        uint8_t status = 0;
        if (!chipAnswers(chip, bus.readRegs(t, vm::kClockRegStatus, &status, 1), kChipNames[chip])) continue;
        if (status & 1) {
            clk_stage[i] = 2;
            noteWork();
            engine_requests::fpgaOwner.wake();  // that FPGA may start now
            setStatusBit(1, 5 + unsigned(i), true);
            writeLogMsg(LOG_INFO, "input chips: pixel clock of FPGA " + std::to_string(i) + " locked");
        } else if (Utils::getTimeSpace(clockWait_[i]) > kClockLockTicks) {
            writeLogMsg(LOG_WARNING, "input chips: pixel clock of FPGA " + std::to_string(i) + " does not lock; programming it again");
            clk_stage[i] = 0;
        }
    }
}

// ---------------------------------------------------------------- EDIDs

std::vector<uint8_t> kavelsource::read_edid_eeprom(int source, bool* ok, bool afterWrite) {
    std::vector<uint8_t> data(vm::kEepromBytes, 0);
    const I2cTarget t = edidTarget(source);
    auto read = [&] { return bus.readRegs(t, 0, data.data(), data.size()); };
    *ok = afterWrite ? untilAcknowledged(read) : read();
    if (*ok && edidWarned_[source]) {
        writeLogMsg(LOG_INFO, "input chips: EDID EEPROM of " + sourceName(source) + " answers again");
        edidWarned_[source] = false;
    } else if (!*ok && !edidWarned_[source]) {
        writeLogMsg(LOG_WARNING, "input chips: EDID EEPROM of " + sourceName(source) + " does not answer; trying again");
        edidWarned_[source] = true;
    }
    return data;
}

bool kavelsource::wanted_edid(int source, std::vector<uint8_t>* out, std::string* error, ChangeStamp* seen) {
    const EdidKind kind = edidKindOfSource(source);
    *out = defaultEdid(kind);
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram) return true;
    unsigned char words[vlxram::kEdidParaSize] = {};
    *seen = ram->snapshot(vlxram::kEdidPara + vlxram::kEdidParaSize * unsigned(source), vlxram::kEdidParaSize, words);
    return Set_Custom_HDMI_EDID(*out, kind, VlxRamPara::getU16(words, 0), VlxRamPara::getU16(words, 2),
                                VlxRamPara::getU16(words, 4), error);
}

bool kavelsource::write_edid(int source, const std::vector<uint8_t>& edid) {
    const unsigned statusByte = source == 0 ? 0 : 1, statusBit = source == 0 ? 7 : unsigned(source - 1);
    bool ok = false;
    std::vector<uint8_t> now = read_edid_eeprom(source, &ok);
    if (!ok) return false;
    const size_t page = vm::kEepromPage;
    bool wrote = false;
    const I2cTarget t = edidTarget(source);
    for (size_t at = 0; at < edid.size(); at += page) {
        if (std::equal(edid.begin() + long(at), edid.begin() + long(at + page), now.begin() + long(at))) continue;
        if (!wrote) edid_write_line.set(wiring::kLineLow);
        wrote = true;
        if (!untilAcknowledged([&] { return bus.writeRegs(t, uint8_t(at), edid.data() + at, page); })) {
            ok = false;
            break;
        }
    }
    if (wrote) edid_write_line.set(wiring::kLineHigh);
    if (!ok && !edidWarned_[source]) {
        writeLogMsg(LOG_WARNING, "input chips: EDID EEPROM of " + sourceName(source) + " refused a page; trying again");
        edidWarned_[source] = true;
    }
    if (!ok) {
        setStatusBit(statusByte, statusBit, false);
        return false;
    }
    if (wrote) {
        now = read_edid_eeprom(source, &ok, true);  // read back: the EEPROM must hold what was sent
        ok = ok && std::equal(edid.begin(), edid.end(), now.begin());
        writeLogMsg(ok ? LOG_INFO : LOG_ERROR, "input chips: EDID of " + sourceName(source) +
                                                   (ok ? " written" : " does not read back as written"));
    }
    setStatusBit(statusByte, statusBit, ok && edidValid(now.data(), now.size()));
    return ok;
}

void kavelsource::edidKept(int source) {
    edidChecked_[source] = true;
    setStatusBit(source == 0 ? 0 : 1, source == 0 ? 7 : unsigned(source - 1), true);
}

void kavelsource::edidCheck(int source) {
    bool ok = false;
    std::vector<uint8_t> now = read_edid_eeprom(source, &ok);
    if (!ok) return;  // tried again on a later pass
    std::string why;
    const bool valid = edidValid(now.data(), now.size(), &why);
    if (valid && !edidCheckFull_) return edidKept(source);
    std::vector<uint8_t> edid;
    std::string error;
    ChangeStamp words = 0;
    if (!wanted_edid(source, &edid, &error, &words)) {
        // A timing the input cannot offer (a size of 0, wider than 4095): a valid EDID stays.
        if (valid) {
            restore_edid_words(source, now, words);
            return edidKept(source);
        }
        edid = defaultEdid(edidKindOfSource(source));
    }
    if (!valid) writeLogMsg(LOG_WARNING, "input chips: EDID EEPROM of " + sourceName(source) + " invalid (" + why + "); repairing");
    edidChecked_[source] = write_edid(source, edid);
}

void kavelsource::restore_edid_words(int source, const std::vector<uint8_t>& eeprom, ChangeStamp refused) {
    int w = 0, h = 0, r = 0;
    if (!edidPreferredTiming(eeprom.data(), eeprom.size(), &w, &h, &r)) return;
    // The RAM and the screens say what the input offers; words a PC wrote since the look are
    // newer, and bring their own request.
    if (!VlxRamPara::VlxSetEDIDPara(source, short(w), short(h), short(r), &refused)) return;
    writeLogMsg(LOG_WARNING, "input chips: EDID words of " + sourceName(source) + " set back to " + std::to_string(w) +
                                 "x" + std::to_string(h) + "@" + std::to_string(r) + ", the timing its EEPROM offers");
}

void kavelsource::about_set_edid_deal() {
    for (int p = 0; p < kSources; ++p) {
        // Taken before it is served: a request raised while the EEPROM is being written
        // stays raised for the next pass, which writes the newer words.
        if (set_edid_flag[p].exchange(0) == 0) continue;
        std::vector<uint8_t> edid;
        std::string error;
        ChangeStamp words = 0;
        if (!wanted_edid(p, &edid, &error, &words)) {
            writeLogMsg(LOG_ERROR, "input chips: EDID timing of " + sourceName(p) + " refused: " + error);
            bool ok = false;  // the EEPROM keeps the EDID it has
            const std::vector<uint8_t> now = read_edid_eeprom(p, &ok);
            if (ok) restore_edid_words(p, now, words);
            continue;
        }
        if (write_edid(p, edid)) {
            // written, unless newer words wait (they set it again once served)
            if (set_edid_flag[p] == 0) edid_write_flag[p] = 1;
            noteWork();
        } else {
            set_edid_flag[p] = 1;  // tried again on the next pass
        }
    }
}

bool kavelsource::iTE6805_Get_Hdmi(int dev) {
    if (dev < 0 || dev > 1) return false;
    plat::Locker<plat::Mutex> pass(passMutex_);  // runs on the scaler's thread
    const bool ok = ite6805[dev]->iTE6805_Show_VID_Info();
    std::printf("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", dev, ite6805[dev]->source());
    return ok;
}

// ---------------------------------------------------------------- audio

void kavelsource::about_volume_deal() {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    // Taken before the RAM is read: a route change raised meanwhile is served next pass.
    if (!ram || volume_flag.exchange(0) == 0) return;
    // One copy of the crop table, audio word and window records: PCs write them meanwhile.
    unsigned char r[vlxram::kWindowRecords + vlxram::kWindowRecordSize * vlxram::kWindows];
    ram->snapshot(vlxram::kCropTable, sizeof r - vlxram::kCropTable, r + vlxram::kCropTable);
    int window = VlxRamPara::getU16(r, vlxram::kAudioWindow);
    if (window >= vlxram::kWindows) window = 0;
    uint8_t route = vm::kAudioNone;
    if (VlxRamPara::getU16(r, vlxram::windowField(window, vlxram::kWinSound)) & 0x8000) {
        const uint16_t word = VlxRamPara::getU16(r, vlxram::windowField(window, vlxram::kWinSource));
        int source = word & 0xFF;
        if (word & vlxram::kSourceIsCrop) {
            source = source < vlxram::kCropEntries
                         ? VlxRamPara::getU16(r, vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(source)) & 15
                         : -1;
        }
        if (source >= 0 && source < vlxram::kInputs) route = uint8_t(1 + source);
        else writeLogMsg(LOG_WARNING, "input chips: audio window " + std::to_string(window) + " shows no input; audio off");
    }
    const bool ok = bus.writeRaw(chipTarget("audio-switch"), &route, 1);
    chipAnswers(kAudio, ok, kChipNames[kAudio]);
    setStatusBit(2, 0, ok);
    if (ok) noteWork();
    else volume_flag = 1;  // a failed write is tried again on the next pass
}
