#include "platform/sim/c331_model.h"

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

#include "platform/platform.h"

#include "platform/board_wiring.h"
#include "platform/sim/sim_board.h"

namespace plat::sim {

namespace {

constexpr unsigned kIdBank = 0xB2, kIdAddr = 0x08;
constexpr unsigned kStatusBank = 0x05;
constexpr unsigned kIchVsyncEn = 0x08, kOchVsyncEn = 0x09, kIchVsyncStat = 0x22, kOchVsyncStat = 0x23;
constexpr unsigned kRxLockAddr = 0x63;  // bank 0xB2: bits 5 and 7, V-by-One receivers 0 and 1 locked
constexpr unsigned kFieldBank = 0xAB, kFieldFirst = 0x47;
constexpr unsigned kIchFieldBank = 0xA8, kIchFieldFirst = 0x3F;
constexpr BoardNs kFieldNs = 16666667;  // 60 Hz
constexpr unsigned kMeasBank = 0xAE, kMeasActBank = 0xAF;
constexpr unsigned kHoldBank = 0x00, kHoldAddr = 0x29, kMeasHoldBit = 0x80;

bool readOnly(unsigned bank, unsigned addr) {
    return (bank == kIdBank && addr == kIdAddr) || bank == kMeasBank || bank == kMeasActBank ||
           (bank == kStatusBank && (addr == kIchVsyncStat || addr == kOchVsyncStat));
}
constexpr double kRefClkHz = 32000000.0;

}  // namespace

C331Model::C331Model(std::string name) : SpiDeviceModel(std::move(name)) { reset(); }

void C331Model::reset() {
    std::lock_guard<std::recursive_mutex> l(m_);
    for (auto& b : regs_) b.fill(0);
    bank_ = 0;
    collected_ = 0;
    measHeld_ = false;
}

void C331Model::seedFlashIfNew() {
    std::lock_guard<std::recursive_mutex> l(m_);
    struct stat st;
    if (::stat(plat::path("/sim/c331-flash.bin").c_str(), &st) == 0) return;
    engine_.seedGeneratedContent();
}

void C331Model::setPresence(Presence p) {
    std::lock_guard<std::recursive_mutex> l(m_);
    presence_ = p;
}

void C331Model::setChipIdSequence(std::vector<uint8_t> answers) {
    std::lock_guard<std::recursive_mutex> l(m_);
    idSequence_.assign(answers.begin(), answers.end());
    presence_ = Presence::Flaky;
}

uint8_t C331Model::readReg(unsigned bank, unsigned addr, BoardNs now) {
    if (bank == kIdBank && addr == kIdAddr) {
        if (presence_ == Presence::Absent) return 0x00;
        if (presence_ == Presence::Flaky && !idSequence_.empty()) {
            const uint8_t v = idSequence_.front();
            idSequence_.pop_front();
            return v;
        }
        return kChipId;
    }
    if (bank == kIdBank && addr == kRxLockAddr) return uint8_t(regs_[bank][addr] | 0xA0);
    if (bank == kStatusBank && addr == kIchVsyncStat) return vsyncStuck_ ? 0 : regs_[kStatusBank][kIchVsyncEn];
    // An output channel reports its vertical sync at the first frame boundary of chip time
    // after its report was enabled.
    if (bank == kStatusBank && addr == kOchVsyncStat)
        return vsyncStuck_ || (now + wireNs_) / kFieldNs == ochVsyncArmedNs_ / kFieldNs ? 0 : regs_[kStatusBank][kOchVsyncEn];
    if (bank == kMeasBank || bank == kMeasActBank) return measHeld_ ? measLatch_[bank - kMeasBank][addr] : regs_[bank][addr];
    uint8_t v = 0;
    if (engine_.read(regs_, bank, addr, now + wireNs_, &v)) return v;
    if (bank == kIchFieldBank && addr >= kIchFieldFirst && addr < kIchFieldFirst + 5 * 8 &&
        (addr - kIchFieldFirst) % 5 == 0)
        return vsyncStuck_ ? 0 : uint8_t(((now + wireNs_) / kFieldNs) & 1);  // the field being written
    if (bank == kFieldBank && addr >= kFieldFirst && addr < kFieldFirst + 8) {
        const unsigned field = fieldStuck_ ? 0 : unsigned((now / kFieldNs) % 5);
        return uint8_t((regs_[bank][addr] & ~0x0C) | ((field & 3) << 2));
    }
    return regs_[bank][addr];
}

void C331Model::transfer(const SpiContext& ctx, const uint8_t* tx, uint8_t* rx, size_t len) {
    std::lock_guard<std::recursive_mutex> l(m_);
    // The speed of the frame and whether an FPGA listened while it was clocked.
    frameSpeed_ = ctx.speedHz;
    if (ctx.board.gpio(wiring::kGpioFpga0Select) != wiring::kLineHigh ||
        ctx.board.gpio(wiring::kGpioFpga1Select) != wiring::kLineHigh)
        fpgasQuiet_ = false;
    // Collected in place: the chip sees thousands of frames a second and keeps no heap per frame.
    for (size_t i = 0; i < len; ++i) {
        const size_t at = collected_++;
        rx[i] = 0xFF;
        if (at >= 2) continue;  // a longer frame: counted, reported when it ends
        collecting_[at] = tx[i];
        // The second byte of a read frame is driven by the chip as it is clocked.
        if (at == 1 && !(collecting_[0] & 0x80))
            rx[i] = presence_ != Presence::Absent ? readReg(unsigned(bank_), collecting_[0] & 0x7F, ctx.time) : 0x00;
        collectedRx_[at] = rx[i];
    }
}

void C331Model::chipSelectReleased(const SpiContext& ctx) {
    std::lock_guard<std::recursive_mutex> l(m_);
    const size_t n = collected_;
    collected_ = 0;
    if (n == 0) return;
    const uint8_t f0 = collecting_[0], f1 = collecting_[1];
    const uint32_t speed = frameSpeed_ ? frameSpeed_ : ((f0 & 0x80) ? kWriteHz : kReadHz);
    counters_.frames++;
    counters_.bytes += n;
    counters_.busSeconds += double(n) * 8.0 / double(speed);
    const BoardNs wire = BoardNs(n) * 8u * kNsPerSec / speed;
    wireNs_ += wire;
    const bool quiet = fpgasQuiet_;
    fpgasQuiet_ = true;
    frameSpeed_ = 0;
    if (!quiet) misuse("frame clocked while an FPGA select was low");
    if (n != 2) {
        misuse("frame of " + std::to_string(n) + " bytes");
        return;
    }
    Frame fr{{f0, f1}, {0xFF, 0xFF}, speed, bank_};
    if (f0 & 0x80) {
        counters_.writes++;
        const unsigned a = f0 & 0x7F;
        if (presence_ != Presence::Absent) {
            if (a == 0) {
                bank_ = f1;
                counters_.bankSelects++;
            } else if (readOnly(unsigned(bank_), a)) {
                char what[64];
                std::snprintf(what, sizeof what, "write to read-only register %02X/%02X", unsigned(bank_), a);
                misuse(what);
            } else {
                regs_[bank_][a] = f1;
                if (bank_ == int(kHoldBank) && a == kHoldAddr) latchMeasurements(f1 & kMeasHoldBit);
                if (bank_ == int(kStatusBank) && a == kOchVsyncEn) ochVsyncArmedNs_ = ctx.time + wireNs_;
                engine_.written(regs_, unsigned(bank_), a, f1, ctx.time + wireNs_);
            }
        }
    } else {
        counters_.reads++;
        fr.rx[1] = collectedRx_[1];
    }
    if (logOn_) log_.push(fr, 0);
}

void C331Model::latchMeasurements(bool hold) {
    // The hold's rising edge takes a snapshot; the counters go on behind it until release.
    if (hold && !measHeld_) {
        measLatch_[0] = regs_[kMeasBank];
        measLatch_[1] = regs_[kMeasActBank];
    }
    measHeld_ = hold;
}

void C331Model::setInputSignal(int port, const InputSignal& in) {
    if (port < 0 || port > 5) return;
    std::lock_guard<std::recursive_mutex> l(m_);
    const bool on = in.hz > 0 && in.htotal > 0 && in.vtotal > 0;
    const uint32_t frame = on ? uint32_t(kRefClkHz / in.hz + 0.5) : 0;
    auto put = [this](unsigned bank, unsigned addr, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) regs_[bank][(addr + unsigned(i)) & 0x7F] = uint8_t(v >> (8 * i));
    };
    // A V-by-One port counts on each sub-link: four with 8 lanes, two with 4, one otherwise.
    const int links = port < 4 ? 1 : 4;
    const int live = port < 4 ? 1 : (in.lanes >= 8 ? 4 : in.lanes >= 4 ? 2 : 1);
    for (int j = 0; j < links; ++j) {
        const bool counts = on && j < live;
        const unsigned c = unsigned(port), k = unsigned(port - 4), uj = unsigned(j);
        const unsigned h = port < 4 ? 0x08 + 2 * c : 0x10 + 8 * k + 2 * uj;
        const unsigned v = port < 4 ? 0x20 + 2 * c : 0x28 + 8 * k + 2 * uj;
        const unsigned n = port < 4 ? 0x38 + 2 * c : 0x40 + 8 * k + 2 * uj;
        const unsigned f = port < 4 ? 0x50 + 3 * c : 0x5C + 12 * k + 3 * uj;
        put(kMeasBank, h, counts ? uint32_t(in.htotal - 1) : 0, 2);
        put(kMeasBank, v, counts ? uint32_t(in.vtotal) : 0, 2);
        put(kMeasBank, n, counts ? uint32_t(in.vtotal - 1) : 0, 2);
        put(kMeasBank, f, counts ? frame - 1 : 0, 3);
        put(kMeasActBank, h, counts ? uint32_t(in.hact) : 0, 2);
    }
}

void C331Model::setVsyncStuck(bool stuck) {
    std::lock_guard<std::recursive_mutex> l(m_);
    vsyncStuck_ = stuck;
}

void C331Model::setFieldStuck(bool stuck) {
    std::lock_guard<std::recursive_mutex> l(m_);
    fieldStuck_ = stuck;
}

uint8_t C331Model::reg(unsigned bank, unsigned addr) const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return regs_[bank & 0xFF][addr & 0x7F];
}

uint32_t C331Model::regValue(uint32_t desc, unsigned bankOffset) const {
    std::lock_guard<std::recursive_mutex> l(m_);
    const unsigned bank = (((desc >> 16) & 0xFF) + bankOffset) & 0xFF, addr = (desc >> 8) & 0xFF, n = desc & 0xFF;
    uint32_t v = 0;
    for (unsigned i = 0; i < n && i < 4; ++i) v |= uint32_t(regs_[bank][(addr + i) & 0x7F]) << (8 * i);
    return v;
}

void C331Model::setReg(unsigned bank, unsigned addr, uint8_t v) {
    std::lock_guard<std::recursive_mutex> l(m_);
    regs_[bank & 0xFF][addr & 0x7F] = v;
}

int C331Model::selectedBank() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return bank_;
}

C331Model::Counters C331Model::counters() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return counters_;
}

void C331Model::clearCounters() {
    std::lock_guard<std::recursive_mutex> l(m_);
    counters_ = Counters{};
    log_.clear();
}

std::vector<C331Model::Frame> C331Model::frames() const {
    std::lock_guard<std::recursive_mutex> l(m_);
    return std::vector<Frame>(log_.begin(), log_.end());
}

void C331Model::setFrameLog(bool on) {
    std::lock_guard<std::recursive_mutex> l(m_);
    logOn_ = on;
    if (!on) log_.clear();
}

std::string C331Model::control(const std::vector<std::string>& args) {
    if (args.empty())
        return "ERR usage: present | absent | flaky ID... | reg BANK ADDR [VALUE] | counters | "
               "input PORT HTOTAL VTOTAL HACT HZ [LANES] | input PORT off | flash-load ADDR HEX | "
               "flash-read ADDR LEN | hold flash|draw on|off | draw-log [clear]";
    const std::string& cmd = args[0];
    if (cmd == "present" || cmd == "absent") {
        setPresence(cmd == "present" ? Presence::Present : Presence::Absent);
        return "OK " + cmd;
    }
    if (cmd == "flaky") {
        std::vector<uint8_t> ids;
        for (size_t i = 1; i < args.size(); ++i) ids.push_back(uint8_t(std::strtoul(args[i].c_str(), nullptr, 16)));
        setChipIdSequence(ids);
        return "OK flaky " + std::to_string(ids.size());
    }
    if (cmd == "reg" && (args.size() == 3 || args.size() == 4)) {
        const unsigned bank = unsigned(std::strtoul(args[1].c_str(), nullptr, 16)) & 0xFF;
        const unsigned addr = unsigned(std::strtoul(args[2].c_str(), nullptr, 16)) & 0x7F;
        if (args.size() == 4) setReg(bank, addr, uint8_t(std::strtoul(args[3].c_str(), nullptr, 16)));
        char buf[32];
        std::snprintf(buf, sizeof buf, "OK %02X/%02X = %02X", bank, addr, reg(bank, addr));
        return buf;
    }
    if (cmd == "input" && args.size() == 3 && args[2] == "off") {
        setInputSignal(std::atoi(args[1].c_str()), InputSignal{});
        return "OK input " + args[1] + " off";
    }
    if (cmd == "input" && (args.size() == 6 || args.size() == 7)) {
        InputSignal in;
        in.htotal = std::atoi(args[2].c_str());
        in.vtotal = std::atoi(args[3].c_str());
        in.hact = std::atoi(args[4].c_str());
        in.hz = std::atof(args[5].c_str());
        in.lanes = args.size() == 7 ? std::atoi(args[6].c_str()) : 0;
        const int port = std::atoi(args[1].c_str());
        if (port < 0 || port > 5 || in.htotal <= 0 || in.vtotal <= 0 || in.hz <= 0) return "ERR bad input signal";
        setInputSignal(port, in);
        return "OK input " + args[1];
    }
    if (cmd == "flash-load" && args.size() == 3) {
        std::vector<uint8_t> bytes;
        const std::string& hex = args[2];
        if (hex.size() % 2 || hex.size() > 2 * 65536) return "ERR flash-load ADDR HEX (at most 64 KB)";
        for (size_t i = 0; i < hex.size(); i += 2) {
            char* end = nullptr;
            const std::string two = hex.substr(i, 2);
            const unsigned long b = std::strtoul(two.c_str(), &end, 16);
            if (*end != '\0') return "ERR flash-load: not hex";
            bytes.push_back(uint8_t(b));
        }
        const uint32_t addr = uint32_t(std::strtoul(args[1].c_str(), nullptr, 0));
        if (addr >= C331Engine::kFlashSize || bytes.size() > C331Engine::kFlashSize - addr)
            return "ERR flash-load: past the flash end";
        std::lock_guard<std::recursive_mutex> l(m_);
        engine_.flashLoad(addr, bytes);
        return "OK loaded " + std::to_string(bytes.size());
    }
    if (cmd == "flash-read" && args.size() == 3) {
        const uint32_t addr = uint32_t(std::strtoul(args[1].c_str(), nullptr, 0));
        const uint32_t len = uint32_t(std::strtoul(args[2].c_str(), nullptr, 0));
        if (len > 4096) return "ERR flash-read ADDR LEN (at most 4096)";
        std::lock_guard<std::recursive_mutex> l(m_);
        std::string out = "OK ";
        char b[3];
        for (uint8_t v : engine_.flashRead(addr, len)) {
            std::snprintf(b, sizeof b, "%02X", v);
            out += b;
        }
        return out;
    }
    if (cmd == "hold" && args.size() == 3 && (args[1] == "flash" || args[1] == "draw") &&
        (args[2] == "on" || args[2] == "off")) {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (args[1] == "flash") engine_.holdFlashBusy(args[2] == "on");
        else engine_.holdDrawBusy(args[2] == "on");
        return "OK hold " + args[1] + " " + args[2];
    }
    if (cmd == "draw-log") {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (args.size() == 2 && args[1] == "clear") {
            engine_.clearRecorded();
            return "OK cleared";
        }
        const auto log = engine_.recorded();
        const C331Engine::Stats st = engine_.stats();
        std::string out = "OK " + std::to_string(log.size()) + " commands, broken " + std::to_string(st.broken) +
                          ", palette dropped " + std::to_string(st.paletteDropped);
        char b[96];
        for (const auto& c : log) {
            std::snprintf(b, sizeof b, "\n%s src %08X dst %08X size %u", c.kind.c_str(), c.src, c.dst, c.size);
            out += b;
            if (c.kind == "char") {
                out += " glyphs";
                for (const auto& ch : c.chars) out += " " + std::to_string(ch.glyph);
            }
        }
        return out;
    }
    if (cmd == "counters") {
        const Counters c = counters();
        char buf[128];
        std::snprintf(buf, sizeof buf, "OK frames %llu bytes %llu bus %.3f ms", (unsigned long long)c.frames,
                      (unsigned long long)c.bytes, c.busSeconds * 1000.0);
        return buf;
    }
    return "ERR unknown: " + cmd;
}

}  // namespace plat::sim
