#include "platform/sim/video_chips.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/board_wiring.h"
#include "platform/sim/sim_board.h"
#include "platform/video_chip_map.h"

namespace plat::sim {

namespace vm = plat::videomap;

namespace {

void putU16(uint8_t* p, int v) {
    p[0] = uint8_t(v & 0xFF);
    p[1] = uint8_t((v >> 8) & 0xFF);
}

bool parseInt(const std::string& s, long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0') return false;
    *out = v;
    return true;
}

// "fail N": the next N transfers are not acknowledged.
bool failWords(const std::vector<std::string>& a, int* n) {
    long v = 0;
    if (a.size() != 2 || a[0] != "fail" || !parseInt(a[1], &v) || v < 0 || v > 1000000) return false;
    *n = int(v);
    return true;
}

bool takeFailure(int& failNext) {
    if (failNext <= 0) return false;
    --failNext;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- signals

bool parseSignal(const std::vector<std::string>& words, InputSignal* out, std::string* error) {
    if (words.empty()) {
        *error = "no timing";
        return false;
    }
    int w = 0, h = 0, r = 0;
    char tail = 0;
    if (std::sscanf(words[0].c_str(), "%dx%d@%d%c", &w, &h, &r, &tail) != 3) {
        *error = "timing is WIDTHxHEIGHT@RATE, not " + words[0];
        return false;
    }
    InputSignal s;
    bool interlaced = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& k = words[i];
        long v = 0;
        if (k == "i" || k == "interlaced") interlaced = true;
        else if (k == "dp" || k == "double") s.doublePixel = true;
        else if (k == "dvi") s.hdmi = false;
        else if (k == "yuv") s.dataMode = 1;
        else if (k == "lanes" && i + 1 < words.size() && parseInt(words[i + 1], &v) &&
                 (v == 1 || v == 2 || v == 4 || v == 8)) {
            s.lanes = int(v);
            ++i;
        } else {
            *error = "unknown word " + k;
            return false;
        }
    }
    if (!standardTiming(w, h, r, interlaced, &s.timing)) {
        *error = "no standard timing for " + words[0] + (interlaced ? " interlaced" : "");
        return false;
    }
    s.plugged = true;
    *out = s;
    return true;
}

std::string describeSignal(const InputSignal& s) {
    if (!s.plugged) return "off";
    const VideoTiming& t = s.timing;
    char b[96];
    std::snprintf(b, sizeof b, "%dx%d@%d%s%s", t.hact, t.interlaced ? t.vact * 2 : t.vact, t.rate,
                  t.interlaced ? "i" : "", s.doublePixel ? "+dp" : "");
    return b;
}

int vboLanes(const InputSignal& s) {
    if (s.lanes) return s.lanes;
    int lanes = 1;
    while (lanes < 8 && uint32_t(lanes) * 75000u < s.timing.pixelKhz) lanes *= 2;
    return lanes;
}

void SignalInput::plug(const InputSignal& s, BoardNs now, bool visible) {
    signal_ = s;
    visible_ = visible;
    since_ = now;  // a new source: the receiver locks afresh
}

void SignalInput::unplug() { signal_ = InputSignal(); }

void SignalInput::setVisible(bool visible, BoardNs now) {
    if (visible == visible_) return;
    visible_ = visible;
    since_ = now;
}

uint8_t SignalInput::status(BoardNs now, BoardNs settle) const {
    if (!signal_.plugged || !visible_) return 0;
    uint8_t s = vm::kStatusSignal;
    if (now - since_ < settle) return s;
    s |= vm::kStatusStable;
    if (signal_.timing.interlaced) s |= vm::kStatusInterlace;
    if (signal_.doublePixel) s |= vm::kStatusDoublePixel;
    if (signal_.hdmi) s |= vm::kStatusHdmi;
    return s;
}

void SignalInput::block(BoardNs now, BoardNs settle, bool reportLanes, uint8_t* out) const {
    std::memset(out, 0, vm::kPortBlockBytes);
    const uint8_t st = status(now, settle);
    out[vm::kPortStatus] = st;
    if (!(st & vm::kStatusStable)) return;  // timing registers read 0 until locked
    const VideoTiming& t = signal_.timing;
    const int div = signal_.doublePixel ? 2 : 1;
    if (reportLanes) {
        out[vm::kPortLanes] = uint8_t(vboLanes(signal_));
    }
    out[vm::kPortDataMode] = signal_.dataMode;
    out[vm::kPortPolarity] = uint8_t((t.hpos ? 1 : 0) | (t.vpos ? 2 : 0));
    putU16(out + vm::kPortHact, t.hact / div);
    putU16(out + vm::kPortHsync, t.hsync / div);
    putU16(out + vm::kPortHback, t.hback / div);
    putU16(out + vm::kPortHtotal, t.htotal / div);
    putU16(out + vm::kPortVact, t.vact);
    putU16(out + vm::kPortVsync, t.vsync);
    putU16(out + vm::kPortVback, t.vback);
    putU16(out + vm::kPortVtotal, t.vtotal);
    const uint32_t khz = t.pixelKhz;
    for (int i = 0; i < 4; ++i) out[vm::kPortPixelKhz + i] = uint8_t(khz >> (8 * i));
    out[vm::kPortRate] = uint8_t(t.rate);
}

// ---------------------------------------------------------------- EDID EEPROM

EdidEepromModel::EdidEepromModel(std::string name, uint32_t writeLine, std::string store)
    : I2cDeviceModel(std::move(name)), writeLine_(writeLine), storeFile_(std::move(store)) {}

void EdidEepromModel::attached(SimBoard&) {
    std::lock_guard<std::mutex> l(mutex_);
    if (!storeFile_.empty()) store_ = std::make_unique<ChipStore>(storeFile_, vm::kEepromBytes);
}

void EdidEepromModel::onPageWrite(std::function<void(unsigned)> hook) {
    std::lock_guard<std::mutex> l(mutex_);
    pageHook_ = std::move(hook);
}

bool EdidEepromModel::write(const I2cContext& ctx, const uint8_t* data, size_t len) {
    std::function<void(unsigned)> hook;
    unsigned written = 0;
    {
        std::lock_guard<std::mutex> l(mutex_);
        if (!writePage(ctx, data, len)) return false;
        if (len < 2) return true;
        hook = pageHook_;
        written = pageWrites_;
    }
    if (hook) hook(written);
    return true;
}

bool EdidEepromModel::writePage(const I2cContext& ctx, const uint8_t* data, size_t len) {
    if (takeFailure(failNext_)) return false;
    if (ctx.time < busyUntil_) return false;  // in its write cycle: no acknowledge
    if (len == 0) return true;
    pointer_ = data[0];
    if (len == 1) return true;  // address only: a read follows
    if (writeLine_ && ctx.board.gpio(writeLine_) != 0) {
        misuse("data written while the write line protects the EEPROM");
        return false;
    }
    if (!store_) return false;
    // One page write: the bytes wrap inside the page of the first address.
    const uint32_t page = pointer_ / vm::kEepromPage * vm::kEepromPage;
    std::vector<uint8_t> cells = store_->read(page, vm::kEepromPage);
    uint32_t at = pointer_ % vm::kEepromPage;
    for (size_t i = 1; i < len; ++i) {
        cells[at] = data[i];
        at = (at + 1) % vm::kEepromPage;
    }
    if (len - 1 > vm::kEepromPage) misuse("page write longer than a page wraps over its own bytes");
    store_->write(page, cells.data(), cells.size());
    pointer_ = uint8_t(page + at);
    ++pageWrites_;
    busyUntil_ = ctx.time + vm::kEepromWriteCycleUs * kNsPerUs;
    return true;
}

bool EdidEepromModel::read(const I2cContext& ctx, uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    if (takeFailure(failNext_)) return false;
    if (ctx.time < busyUntil_) return false;
    for (size_t i = 0; i < len; ++i) {
        uint8_t b = 0xFF;
        if (store_) store_->read(pointer_, &b, 1);
        data[i] = b;
        pointer_ = uint8_t(pointer_ + 1);
    }
    return true;
}

std::vector<uint8_t> EdidEepromModel::contents() const {
    std::lock_guard<std::mutex> l(mutex_);
    return store_ ? store_->read(0, vm::kEepromBytes) : std::vector<uint8_t>(vm::kEepromBytes, 0xFF);
}

void EdidEepromModel::setContents(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> l(mutex_);
    if (store_) store_->write(0, bytes.data(), std::min<size_t>(bytes.size(), vm::kEepromBytes));
}

std::string EdidEepromModel::control(const std::vector<std::string>& args) {
    int n = 0;
    if (failWords(args, &n)) {
        std::lock_guard<std::mutex> l(mutex_);
        failNext_ = n;
        return "OK";
    }
    if (args.size() == 1 && args[0] == "dump") {
        std::string out = "OK";
        char b[4];
        for (uint8_t v : contents()) {
            std::snprintf(b, sizeof b, "%02x", v);
            out += b;
            if (out.size() == 2) out += " ";
        }
        return out.substr(0, 2) + " " + out.substr(2);
    }
    if (args.size() == 1 && args[0] == "erase") {
        setContents(std::vector<uint8_t>(vm::kEepromBytes, 0xFF));
        return "OK";
    }
    return "ERR dump | erase | fail N";
}

// ---------------------------------------------------------------- receivers

VideoReceiverModel::VideoReceiverModel(std::string name, Kind kind, uint32_t resetLine)
    : I2cDeviceModel(std::move(name)), kind_(kind), resetLine_(resetLine) {}

int VideoReceiverModel::ports() const { return kind_ == Kind::It6602 ? 3 : 1; }

void VideoReceiverModel::attached(SimBoard& board) {
    board_ = &board;
    if (resetLine_)
        board.watchGpio(resetLine_, [this](uint32_t, uint16_t, uint16_t level) {
            std::lock_guard<std::mutex> l(mutex_);
            if (level != 0) return;
            control_ = 0;  // reset: hot-plug drops, the sources stop
            for (auto& in : inputs_) in.setVisible(false, 0);
        });
}

bool VideoReceiverModel::inReset(const SimBoard& board) const { return resetLine_ && board.gpio(resetLine_) == 0; }

bool VideoReceiverModel::sees() const { return kind_ == Kind::It66121 || (control_ & vm::kControlHpd); }

void VideoReceiverModel::plug(int port, const InputSignal& s) {
    const BoardNs now = board_ ? board_->now() : 0;
    std::lock_guard<std::mutex> l(mutex_);
    if (port < 0 || port >= ports()) return;
    inputs_[size_t(port)].plug(s, now, sees() && !(board_ && inReset(*board_)));
}

void VideoReceiverModel::unplug(int port) {
    std::lock_guard<std::mutex> l(mutex_);
    if (port >= 0 && port < ports()) inputs_[size_t(port)].unplug();
}

uint8_t VideoReceiverModel::controlReg() const {
    std::lock_guard<std::mutex> l(mutex_);
    return control_;
}

bool VideoReceiverModel::write(const I2cContext& ctx, const uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    if (takeFailure(failNext_) || inReset(ctx.board)) return false;
    if (len == 0) return true;
    pointer_ = data[0];
    for (size_t i = 1; i < len; ++i, pointer_ = uint8_t(pointer_ + 1)) {
        if (pointer_ != vm::kRegControl || kind_ == Kind::It66121) {
            misuse("write to a read-only register");
            continue;
        }
        control_ = data[i];
        for (auto& in : inputs_) in.setVisible(sees(), ctx.time);
    }
    return true;
}

bool VideoReceiverModel::read(const I2cContext& ctx, uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    if (takeFailure(failNext_) || inReset(ctx.board)) return false;
    fill(ctx, pointer_, data, len);
    pointer_ = uint8_t(pointer_ + len);
    return true;
}

void VideoReceiverModel::fill(const I2cContext& ctx, uint8_t reg, uint8_t* data, size_t len) {
    uint8_t regs[256] = {};
    regs[vm::kRegChipId] = kind_ == Kind::It6602 ? vm::kIdIt6602 : kind_ == Kind::Ite6805 ? vm::kIdIte6805 : vm::kIdIt66121;
    regs[vm::kRegControl] = control_;
    std::shared_ptr<SdiReceiverModel> sdi;
    if (kind_ == Kind::It66121) sdi = ctx.board.find<SdiReceiverModel>(wiring::kSdiReceiver);
    uint8_t change = 0;
    for (int p = 0; p < ports(); ++p) {
        uint8_t* block = regs + vm::portReg(p);
        if (kind_ == Kind::It66121) {
            if (sdi) sdi->block(ctx.time, block);
            else std::memset(block, 0, vm::kPortBlockBytes);
        } else {
            inputs_[size_t(p)].block(ctx.time, kReceiverSettle, kind_ == Kind::Ite6805, block);
        }
        if (block[vm::kPortStatus] != reported_[size_t(p)]) change |= uint8_t(1u << p);
    }
    regs[vm::kRegChange] = change;
    const bool readsChange = reg <= vm::kRegChange && size_t(reg) + len > vm::kRegChange;
    if (readsChange)
        for (int p = 0; p < ports(); ++p) reported_[size_t(p)] = regs[vm::portReg(p) + vm::kPortStatus];
    for (size_t i = 0; i < len; ++i) data[i] = regs[(reg + i) & 0xFF];
}

std::string VideoReceiverModel::control(const std::vector<std::string>& args) {
    int n = 0;
    if (failWords(args, &n)) {
        std::lock_guard<std::mutex> l(mutex_);
        failNext_ = n;
        return "OK";
    }
    if (args.size() == 1 && args[0] == "status") {
        std::lock_guard<std::mutex> l(mutex_);
        std::string out = "OK control " + std::to_string(control_);
        for (int p = 0; p < ports(); ++p) out += " port" + std::to_string(p) + "=" + describeSignal(inputs_[size_t(p)].signal());
        return out;
    }
    return "ERR status | fail N";
}

// ---------------------------------------------------------------- SDI receiver

SdiReceiverModel::SdiReceiverModel(std::string name, uint32_t resetLine)
    : ChipModel(std::move(name)), resetLine_(resetLine) {}

void SdiReceiverModel::attached(SimBoard& board) {
    board_ = &board;
    if (resetLine_)
        board.watchGpio(resetLine_, [this](uint32_t, uint16_t old, uint16_t level) {
            std::lock_guard<std::mutex> l(mutex_);
            if (level == 0 && old != 0) ++resets_;
            input_.setVisible(level != 0, board_->clock().now());  // out of reset: locks afresh
        });
}

void SdiReceiverModel::plug(const InputSignal& s) {
    const BoardNs now = board_ ? board_->now() : 0;
    const bool running = !resetLine_ || !board_ || board_->gpio(resetLine_) != 0;
    std::lock_guard<std::mutex> l(mutex_);
    InputSignal sdi = s;
    sdi.lanes = 0;
    input_.plug(sdi, now, running);
}

void SdiReceiverModel::unplug() {
    std::lock_guard<std::mutex> l(mutex_);
    input_.unplug();
}

void SdiReceiverModel::block(BoardNs now, uint8_t* out) const {
    std::lock_guard<std::mutex> l(mutex_);
    input_.block(now, kSdiSettle, false, out);
}

uint8_t SdiReceiverModel::status(BoardNs now) const {
    std::lock_guard<std::mutex> l(mutex_);
    return input_.status(now, kSdiSettle);
}

int SdiReceiverModel::resets() const {
    std::lock_guard<std::mutex> l(mutex_);
    return resets_;
}

std::string SdiReceiverModel::control(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "status") {
        std::lock_guard<std::mutex> l(mutex_);
        return "OK " + describeSignal(input_.signal()) + " resets " + std::to_string(resets_);
    }
    return "ERR status";
}

// ---------------------------------------------------------------- audio switch

void AudioSwitchModel::onRouteWrite(std::function<void(int)> hook) {
    std::lock_guard<std::mutex> l(mutex_);
    routeHook_ = std::move(hook);
}

bool AudioSwitchModel::write(const I2cContext&, const uint8_t* data, size_t len) {
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> l(mutex_);
        if (takeFailure(failNext_)) return false;
        if (len == 0) return true;
        if (len != 1 || data[0] > vm::kAudioInputs) {
            misuse("audio route is one byte, 0..6");
            return false;
        }
        route_ = data[0];
        hook = routeHook_;
    }
    if (hook) hook(data[0]);
    return true;
}

bool AudioSwitchModel::read(const I2cContext&, uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    if (takeFailure(failNext_)) return false;
    for (size_t i = 0; i < len; ++i) data[i] = route_;
    return true;
}

int AudioSwitchModel::route() const {
    std::lock_guard<std::mutex> l(mutex_);
    return route_;
}

void AudioSwitchModel::failTransfers(int n) {
    std::lock_guard<std::mutex> l(mutex_);
    failNext_ = n;
}

std::string AudioSwitchModel::control(const std::vector<std::string>& args) {
    int n = 0;
    if (failWords(args, &n)) {
        failTransfers(n);
        return "OK";
    }
    if (args.size() == 1 && args[0] == "status") return "OK route " + std::to_string(route());
    return "ERR status | fail N";
}

// ---------------------------------------------------------------- clock synthesiser

bool ClockSynthModel::validDividers() const {
    const uint32_t n = regs_[vm::kClockRegN] | (regs_[vm::kClockRegN + 1] << 8);
    const uint32_t m = regs_[vm::kClockRegM], p = regs_[vm::kClockRegP];
    if (!n || !m || !p) return false;
    const uint64_t vco = uint64_t(vm::kClockRefKhz) * n / m;
    return vco >= vm::kClockVcoMinKhz && vco <= vm::kClockVcoMaxKhz;
}

uint32_t ClockSynthModel::outputKhz() const {
    std::lock_guard<std::mutex> l(mutex_);
    const uint32_t n = regs_[vm::kClockRegN] | (regs_[vm::kClockRegN + 1] << 8);
    const uint32_t m = regs_[vm::kClockRegM], p = regs_[vm::kClockRegP];
    if (!(regs_[vm::kClockRegControl] & 1) || !m || !p) return 0;
    return uint32_t(uint64_t(vm::kClockRefKhz) * n / (uint64_t(m) * p));
}

bool ClockSynthModel::locked(BoardNs now) const {
    std::lock_guard<std::mutex> l(mutex_);
    return (regs_[vm::kClockRegControl] & 1) && validDividers() && now - enabledAt_ >= 2 * kNsPerMs;
}

bool ClockSynthModel::write(const I2cContext& ctx, const uint8_t* data, size_t len) {
    std::unique_lock<std::mutex> l(mutex_);
    if (takeFailure(failNext_)) return false;
    if (len == 0) return true;
    pointer_ = data[0];
    for (size_t i = 1; i < len; ++i, pointer_ = uint8_t(pointer_ + 1)) {
        const uint8_t r = pointer_;
        if (r == vm::kRegChipId || r == vm::kClockRegStatus) {
            misuse("write to a read-only register");
            continue;
        }
        if (r == vm::kClockRegControl && (data[i] & 1) && !(regs_[r] & 1)) {
            enabledAt_ = ctx.time;
            if (!validDividers()) misuse("PLL enabled with its VCO out of range");
        } else if ((r >= vm::kClockRegN && r <= vm::kClockRegP) && (regs_[vm::kClockRegControl] & 1)) {
            enabledAt_ = ctx.time;  // dividers changed while running: the PLL relocks
        }
        regs_[r] = data[i];
    }
    return true;
}

bool ClockSynthModel::read(const I2cContext& ctx, uint8_t* data, size_t len) {
    bool lock = false;
    {
        std::lock_guard<std::mutex> l(mutex_);
        if (takeFailure(failNext_)) return false;
    }
    lock = locked(ctx.time);
    std::lock_guard<std::mutex> l(mutex_);
    regs_[vm::kRegChipId] = vm::kIdClockSynth;
    regs_[vm::kClockRegStatus] = lock ? 1 : 0;
    for (size_t i = 0; i < len; ++i) data[i] = regs_[uint8_t(pointer_ + i)];
    pointer_ = uint8_t(pointer_ + len);
    return true;
}

void ClockSynthModel::failTransfers(int n) {
    std::lock_guard<std::mutex> l(mutex_);
    failNext_ = n;
}

std::string ClockSynthModel::control(const std::vector<std::string>& args) {
    int n = 0;
    if (failWords(args, &n)) {
        failTransfers(n);
        return "OK";
    }
    if (args.size() == 1 && args[0] == "status") return "OK output " + std::to_string(outputKhz()) + " kHz";
    return "ERR status | fail N";
}

// ---------------------------------------------------------------- port expander

bool PortExpanderModel::write(const I2cContext&, const uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    if (len == 0) return true;
    pointer_ = data[0];
    for (size_t i = 1; i < len; ++i) {
        const uint8_t r = pointer_ & 3;
        if (r == 0) misuse("write to the input register");
        else regs_[r] = data[i];
        pointer_ = uint8_t(pointer_ + 1);
    }
    return true;
}

bool PortExpanderModel::read(const I2cContext&, uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> l(mutex_);
    for (size_t i = 0; i < len; ++i) {
        const uint8_t r = uint8_t(pointer_ + i) & 3;
        data[i] = r == 0 ? uint8_t((regs_[1] & ~regs_[3]) | regs_[3]) : regs_[r];
    }
    pointer_ = uint8_t(pointer_ + len);
    return true;
}

uint8_t PortExpanderModel::lines() const {
    std::lock_guard<std::mutex> l(mutex_);
    return uint8_t((regs_[vm::kExpanderOutput] & ~regs_[vm::kExpanderDirection]) | regs_[vm::kExpanderDirection]);
}

std::string PortExpanderModel::control(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "status") {
        std::lock_guard<std::mutex> l(mutex_);
        char b[48];
        std::snprintf(b, sizeof b, "OK output %02X direction %02X", regs_[1], regs_[3]);
        return b;
    }
    return "ERR status";
}

// ---------------------------------------------------------------- board-control "signal"

const wiring::VideoInputWiring* findVideoInput(const std::string& name) {
    for (const auto& in : wiring::kVideoInputs) {
        if (name == in.name || name == std::to_string(in.source)) return &in;
        std::string upper;
        for (char c : name) upper += char(std::toupper(static_cast<unsigned char>(c)));
        if (upper == in.name) return &in;
    }
    return nullptr;
}

namespace {

std::string inputSignal(SimBoard& board, const wiring::VideoInputWiring& in) {
    if (in.source == 0) {
        auto sdi = board.find<SdiReceiverModel>(wiring::kSdiReceiver);
        if (!sdi) return "absent";
        std::string s = sdi->control({"status"});
        return s.substr(3, s.find(" resets") - 3);
    }
    auto rx = board.find<VideoReceiverModel>(in.chip);
    if (!rx) return "absent";
    std::string s = rx->control({"status"});
    const std::string key = " port" + std::to_string(in.port) + "=";
    const size_t at = s.find(key);
    if (at == std::string::npos) return "?";
    const size_t from = at + key.size();
    return s.substr(from, s.find(' ', from) - from);
}

}  // namespace

std::string signalCommand(SimBoard& board, const std::vector<std::string>& args) {
    if (args.empty()) {
        std::string out = "OK";
        for (const auto& in : wiring::kVideoInputs) out += std::string(" ") + in.name + "=" + inputSignal(board, in);
        return out;
    }
    const wiring::VideoInputWiring* in = findVideoInput(args[0]);
    if (!in) return "ERR no input " + args[0] + " (EXT, DVI, HDMI1..HDMI4)";
    const bool off = args.size() == 2 && (args[1] == "off" || args[1] == "none");
    InputSignal s;
    std::string error;
    if (!off && !parseSignal(std::vector<std::string>(args.begin() + 1, args.end()), &s, &error))
        return "ERR " + error;
    if (in->source == 0) {
        auto sdi = board.find<SdiReceiverModel>(wiring::kSdiReceiver);
        if (!sdi) return "ERR no SDI receiver on this board";
        if (off) sdi->unplug();
        else sdi->plug(s);
    } else {
        auto rx = board.find<VideoReceiverModel>(in->chip);
        if (!rx) return std::string("ERR no receiver ") + in->chip + " on this board";
        if (off) rx->unplug(in->port);
        else rx->plug(in->port, s);
    }
    return std::string("OK ") + in->name + " " + (off ? "off" : describeSignal(s));
}

}  // namespace plat::sim
