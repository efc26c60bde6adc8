#include "protocol/message_deal.h"

#include <QString>
#include <QVariant>

#include <cstring>
#include <ctime>
#include <mutex>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/mode_file_requests.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "protocol/cloud_text.h"
#include "protocol/control_frame.h"
#include "protocol/protocol_engines.h"
#include "protocol/protocol_phy.h"
#include "scaler/c331_manage.h"

using namespace ctl;

namespace {

uint8_t statusOf(int engineResult) {
    if (engineResult == kEngineOk) return kStatusOk;
    return engineResult == kEngineUnavailable ? kStatusUnavailable : kStatusFailed;
}

// Worse of two statuses: any failure outranks success.
uint8_t worse(uint8_t a, uint8_t b) { return a != kStatusOk ? a : b; }

bool isController(const uint8_t* frame) {
    const uint16_t dst = rd16(frame + kDst);
    return dst == kAddrController || dst == kAddrController2;
}

// FPGAs addressed by header byte 7: 1 the first, 2 the second, anything else both.
int fpgaFirst(const uint8_t* frame) { return frame[kPort] == 2 ? 1 : 0; }
int fpgaLast(const uint8_t* frame) { return frame[kPort] == 1 ? 0 : 1; }
// A read takes one FPGA: the second for 2, else the first.
int fpgaForRead(const uint8_t* frame) { return frame[kPort] == 2 ? 1 : 0; }

uint8_t toBcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

// The FPGA RAMs the PC may reach: the port transmit and receive RAMs, RAM 33 and RAM 50.
bool pcFpgaRam(unsigned ram) { return (ram >= 2 && ram <= 17) || ram == 33 || ram == 50; }

struct FpgaRamAddress {
    unsigned ram = 0;
    unsigned offset = 0;
};

// Space 3: bits 24..27 zero, bits 16..23 RAM number, bits 0..15 byte address below 0x1000.
bool decodeFpgaRam(uint32_t address, size_t length, FpgaRamAddress* out) {
    if ((address >> 24) & 0x0F) return false;
    out->ram = (address >> 16) & 0xFF;
    out->offset = address & 0xFFFF;
    return pcFpgaRam(out->ram) && out->offset + length <= kFpgaRamSpan;
}

QString dotted(const uint8_t* p) { return QStringLiteral("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]); }

}  // namespace

int message_deal::message_group_deal(const uint8_t* frame, size_t length, std::vector<uint8_t>& reply) {
    if (frame == nullptr || length < kMinFrame) return -1;
    const ProtocolEnginesInUse engines;
    out_.clear();
    const size_t n = length - kMinFrame;
    const uint8_t* p = frame + kPayload;
    const uint8_t group = frame[kGroup];
    if (rd16(frame + kLen) != n) {
        status(kStatusBadRequest);
    } else {
        switch (group) {
        case kGroupWriteMemory: write_ram(frame, p, n); break;
        case kGroupReadMemory: read_ram(frame, p, n); break;
        case kGroupWriteRegisters: write_register(frame, p, n); break;
        case kGroupReadRegisters: read_register(frame, p, n); break;
        case kGroupFlashErase: cmd_erase_flash(p, n); break;
        case kGroupFlashWrite: cmd_write_flash(p, n); break;
        case kGroupFlashRead: cmd_read_flash(p, n); break;
        case kGroupParamSave: param_save(frame, n); break;
        case kGroupUpdateStart: start_update(p, n); break;
        case kGroupOutputGeometry: set_para_sync(frame, n); break;
        case kGroupNetwork: net_ip_set(p, n); break;
        case kGroupRestart: restart_request(n); break;
        case kGroupSetClock: write_rtc_time(p, n); break;
        case kGroupDeviceInfo: get_device_info(n); break;
        case kGroupCloudText: cloud_text_deal(p, n, out_); break;
        default:
            if (files_.handle(group, p, n, out_)) break;
            writeLogMsg(LOG_WARNING, "protocol: unknown command group " + std::to_string(group));
            status(kStatusUnknownGroup);
            break;
        }
    }
    reply.assign(frame, frame + kHeaderSize);
    protocol_phy::swap_phy_head(reply.data());
    wr16(reply.data() + kLen, uint16_t(out_.size()));
    reply.insert(reply.end(), out_.begin(), out_.end());
    reply.push_back(Utils::BCC(reply.data(), unsigned(reply.size())));
    return int(out_.size());
}

bool message_deal::mayTakeLong(const uint8_t* frame, size_t length) {
    if (frame == nullptr || length < kMinFrame) return false;
    switch (frame[kGroup]) {
    case kGroupFlashErase:
    case kGroupFlashWrite:
    case kGroupFlashRead:
    case kGroupParamSave:
    case kGroupNetwork:
    case kGroupSetClock:
    case kGroupWriteFileEnd:
    case kGroupReadFileStart:
    case kGroupReadDefinedFileStart:
    case kGroupDeleteFile:
        return true;
    case kGroupWriteRegisters: {
        const bool controller = isController(frame);
        for (size_t i = kPayload; i + 4 < length; i += 4) {
            const unsigned reg = rd16(frame + i);
            const uint8_t set = frame[i + 2] & frame[i + 3];
            if (controller && (reg == kRegFont || reg == kRegPrint)) return true;
            if (!controller && reg == kRegMailboxDoorbell && (set & kMailboxDoorbellBit)) return true;
        }
        return false;
    }
    default:
        return false;
    }
}

bool message_deal::holdsCardBus(const uint8_t* frame, size_t length) {
    if (frame == nullptr || length < kMinFrame) return false;
    switch (frame[kGroup]) {
    case kGroupWriteRegisters: return !isController(frame);
    case kGroupWriteMemory: return length >= kMemAddress + 4 && rd32(frame + kMemAddress) >> kSpaceShift == kSpaceFpgaRam;
    case kGroupUpdateStart: return true;
    default: return false;
    }
}

// ---- memory

void message_deal::write_ram(const uint8_t* frame, const uint8_t* p, size_t n) {
    if (n < kMemHeader || rd16(p + (kMemLength - kPayload)) != n - kMemHeader) return status(kStatusBadRequest);
    const uint32_t address = rd32(p);
    const size_t len = n - kMemHeader;
    uint8_t* data = const_cast<uint8_t*>(p + (kMemData - kPayload));
    const uint32_t space = address >> kSpaceShift;
    const uint32_t offset = address & ((1u << kSpaceShift) - 1);
    ProtocolEngines& eng = protocolEngines();
    switch (space) {
    case kSpaceParameter:
        if (offset < kParamRamEnd) {
            // the scaler manager's pass and the parameter save copy the RAM whole under it
            ManageMutexLocker lock;
            return status(uint8_t(VlxRamPara::VlxRamParaDeal(data, uint16_t(len), offset)));
        }
        if (offset < kUserModeEnd)
            return status(uint8_t(VlxRamPara::VlxModeUserRamParaDeal(data, uint16_t(len), offset)));
        return status(kStatusRefused);
    case kSpaceMailbox:
    case kSpaceExtend: {
        if (offset + len > kMailboxSize) return status(kStatusRefused);
        std::lock_guard<plat::Mutex> l(mailboxRamMutex());
        uint8_t* ram = space == kSpaceMailbox ? eng.mailboxRam() : eng.extendRam();
        if (len) std::memcpy(ram + offset, data, len);
        return status(kStatusOk);
    }
    case kSpaceFpgaRam: {
        FpgaRamAddress a;
        if (!decodeFpgaRam(address, len, &a)) return status(kStatusRefused);
        uint8_t s = kStatusOk;
        // the port RAMs are shared with the engine's own transmit and receive: the engine
        // side holds its port lock for them
        for (int f = fpgaFirst(frame); f <= fpgaLast(frame); ++f)
            s = worse(s, statusOf(eng.fpgaWriteRam(a.ram, a.offset, data, unsigned(len), f)));
        return status(s);
    }
    default:
        return status(kStatusRefused);
    }
}

void message_deal::read_ram(const uint8_t* frame, const uint8_t* p, size_t n) {
    if (n != 6 && n != kMemHeader) return status(kStatusBadRequest);
    const uint32_t address = rd32(p);
    const size_t len = rd16(p + (kMemLength - kPayload));
    if (len > kMaxReadLength) return status(kStatusRefused);
    const uint32_t space = address >> kSpaceShift;
    const uint32_t offset = address & ((1u << kSpaceShift) - 1);
    ProtocolEngines& eng = protocolEngines();
    VlxRamPara* store = VlxRamPara::p_vlxrampara_config;
    std::vector<uint8_t> data(len);
    auto take = [&](const uint8_t* from) {
        if (len) std::memcpy(data.data(), from, len);
    };
    switch (space) {
    case kSpaceParameter:
        if (!store) return status(kStatusUnavailable);
        if (offset + len <= kParamRamEnd) {
            // the screens, the scaler manager and the FPGA engine write it under manage_mutex
            ManageMutexLocker lock;
            if (len) store->copyRam(offset, unsigned(len), data.data());
        } else if (offset >= kParamRamEnd && offset < kUserModeEnd) {
            // Slot N at N << 12; the read stays inside one slot, whose 4098 bytes a
            // write reaches (its last two bytes lie past 0xFFF).
            const unsigned slot = (offset >> 12) - 1;
            const unsigned within = offset & 0xFFF;
            if (within + len > vlxram::kModeSlotSize) return status(kStatusRefused);
            if (len) store->readSlot(int(slot), within, unsigned(len), data.data());
        } else {
            return status(kStatusRefused);
        }
        break;
    case kSpaceMailbox:
    case kSpaceExtend: {
        if (offset + len > kMailboxSize) return status(kStatusRefused);
        // The operating time's recorder may be programming its flash: asked before the lock.
        uint8_t stamp[kTimeStampEnd] = {};
        const bool operating = space == kSpaceExtend && Time_to_RAM(stamp);
        unsigned cards = 0;   // the engine's card table: its own lock, not under the mailbox's
        if (space == kSpaceExtend) eng.totalCardCount(&cards);
        std::lock_guard<plat::Mutex> l(mailboxRamMutex());
        uint8_t* ram = space == kSpaceMailbox ? eng.mailboxRam() : eng.extendRam();
        if (space == kSpaceExtend) {
            std::memcpy(ram + kClockStamp, stamp + kClockStamp, kClockStampSize);
            if (operating) std::memcpy(ram + kOperatingStamp, stamp + kOperatingStamp, kTimeStampEnd - kOperatingStamp);
        }
        take(ram + offset);
        if (space == kSpaceExtend) {
            if (kCardCountLow >= offset && kCardCountLow < offset + len) data[kCardCountLow - offset] = uint8_t(cards);
            if (kCardCountHigh >= offset && kCardCountHigh < offset + len)
                data[kCardCountHigh - offset] = uint8_t(cards >> 8);
        }
        break;
    }
    case kSpaceFpgaRam: {
        FpgaRamAddress a;
        if (!decodeFpgaRam(address, len, &a)) return status(kStatusRefused);
        if (len == 0) break;
        const uint8_t s = statusOf(eng.fpgaReadRam(a.ram, a.offset, data.data(), unsigned(len), fpgaForRead(frame)));
        if (s != kStatusOk) return status(s);
        break;
    }
    default:
        return status(kStatusRefused);
    }
    status(kStatusOk);
    out_.insert(out_.end(), data.begin(), data.end());
}

bool message_deal::Time_to_RAM(uint8_t* extend) {
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    const int year = t.tm_year + 1900;
    const uint8_t clock[8] = {toBcd(year % 100), toBcd(year / 100), toBcd(t.tm_mon + 1), toBcd(t.tm_mday),
                              toBcd(t.tm_hour),  toBcd(t.tm_min),   toBcd(t.tm_sec),     toBcd(t.tm_wday)};
    std::memcpy(extend + kClockStamp, clock, sizeof clock);
    OperatingTime op;
    if (protocolEngines().operatingTime(&op) != kEngineOk) return false;
    wr32(extend + 76, op.totalMinutes);
    wr32(extend + 80, op.runMinutes);
    extend[84] = uint8_t(op.logSequence);
    extend[85] = uint8_t(op.logSequence >> 8);
    extend[86] = uint8_t(op.logSequence >> 16);
    extend[87] = 0;
    std::memcpy(extend + 88, op.startBcd, sizeof op.startBcd);
    extend[95] = 0xFF;
    wr32(extend + 96, op.reportedMinutes);
    return true;
}

// ---- registers

void message_deal::write_register(const uint8_t* frame, const uint8_t* p, size_t n) {
    // Entries of four bytes: u16 register, mask, value.
    if (n == 0 || n % 4 != 0) return status(kStatusBadRequest);
    const bool controller = isController(frame);
    if (controller && !VlxRamPara::p_vlxrampara_config) return status(kStatusUnavailable);
    // Refused means nothing changed: every entry is checked before the first is applied.
    for (size_t i = 0; i < n; i += 4)
        if (rd16(p + i) >= kRegMirrorCount) return status(kStatusRefused);
    uint8_t s = kStatusOk;
    ProtocolEngines& eng = protocolEngines();
    for (size_t i = 0; i < n; i += 4) {
        const unsigned reg = rd16(p + i);
        const uint8_t mask = p[i + 2];
        const uint8_t value = p[i + 3];
        if (controller) {
            s = worse(s, write_controller_register(reg, mask, value));
            continue;
        }
        for (int f = fpgaFirst(frame); f <= fpgaLast(frame); ++f)
            s = worse(s, statusOf(eng.fpgaWriteRegister(reg, mask, value, f)));
    }
    status(s);
}

uint8_t message_deal::write_controller_register(unsigned reg, uint8_t mask, uint8_t value) {
    VlxRamPara* store = VlxRamPara::p_vlxrampara_config;
    if (!store) return kStatusUnavailable;
    if (reg >= kRegMirrorCount) return kStatusRefused;
    // The service requests reach the C331 dispatcher through registers 33..36.
    auto serviceRequest = [&](unsigned target, uint8_t v) {
        ManageMutexLocker lock;
        store->updateRegister(target, 0xFF, v);
        c331_manage::update_flag = 1;
        return kStatusOk;
    };
    switch (reg) {
    case kRegDebugA2: return serviceRequest(34, value & mask);
    case kRegDebugA3: return serviceRequest(35, uint8_t(value + 1));
    case kRegDebugA4: return serviceRequest(36, value & mask);
    case kRegDebugA5: return serviceRequest(33, value & mask);
    case kRegPrint: return (value & 0x02) ? statusOf(protocolEngines().c331Print()) : kStatusOk;
    default: break;
    }
    // the UDP and TCP threads write at once: no bit of one may be lost to the other
    store->updateRegister(reg, mask, value);
    if (reg == kRegUpdate) return REG_mcu_flag(value);
    if (reg == kRegFont) return RegUpdate0E(value);
    return kStatusOk;
}

uint8_t message_deal::REG_mcu_flag(uint8_t value) {
    if (value & 0x02) {
        ManageMutexLocker lock;
        protocolEngines().c331PrepareWindows();
        c331_manage::update_flag = 1;
    }
    if (value & 0x04) {
        ManageMutexLocker lock;
        mode_file_requests::asked();  // a stop before the files are written still writes them
        c331_manage::update_flag = 2;
    }
    VlxRamPara* store = VlxRamPara::p_vlxrampara_config;
    if ((value & 0x08) && store && store->snapshotU16(vlxram::kOsdEnable) == 1) {
        ManageMutexLocker lock;
        c331_manage::update_flag = 1;
        g_osd_update = 1;
    }
    return kStatusOk;
}

uint8_t message_deal::RegUpdate0E(uint8_t value) {
    return (value & 0x08) ? statusOf(protocolEngines().c331ReloadFont()) : kStatusOk;
}

void message_deal::read_register(const uint8_t* frame, const uint8_t* p, size_t n) {
    if (n != 4) return status(kStatusBadRequest);
    const unsigned first = rd16(p);
    const unsigned count = rd16(p + 2);
    std::vector<uint8_t> values(count);
    if (isController(frame)) {
        // Registers 37 and up are the status area: the whole register file is readable.
        VlxRamPara* store = VlxRamPara::p_vlxrampara_config;
        if (!store) return status(kStatusUnavailable);
        if (first + count > vlxram::kRegisterFileSize) return status(kStatusRefused);
        store->readRegisters(first, count, values.data());
    } else {
        if (first + count > kRegMirrorCount) return status(kStatusRefused);
        const int f = fpgaForRead(frame);
        for (unsigned i = 0; i < count; ++i) {
            const uint8_t s = statusOf(protocolEngines().fpgaReadRegister(first + i, f, &values[i]));
            if (s != kStatusOk) return status(s);
        }
    }
    status(kStatusOk);
    out_.insert(out_.end(), values.begin(), values.end());
}

// ---- C331 flash

void message_deal::cmd_erase_flash(const uint8_t* p, size_t n) {
    if (n != 7) return status(kStatusBadRequest);
    const uint32_t sector = rd32(p);
    const unsigned count = rd16(p + 4);
    const int kind = p[6];
    // 32 KB units start on a multiple of 8 sectors, 64 KB units on a multiple of 16.
    if (kind > 2 || (kind == 1 && sector % 8) || (kind == 2 && sector % 16) || count == 0)
        return status(kStatusRefused);
    status(statusOf(protocolEngines().c331FlashErase(sector, count, kind)));
}

void message_deal::cmd_write_flash(const uint8_t* p, size_t n) {
    if (n < kMemHeader || rd16(p + 4) != n - kMemHeader) return status(kStatusBadRequest);
    status(statusOf(protocolEngines().c331FlashWrite(rd32(p), p + kMemHeader, unsigned(n - kMemHeader))));
}

void message_deal::cmd_read_flash(const uint8_t* p, size_t n) {
    if (n != 6) return status(kStatusBadRequest);
    const unsigned len = rd16(p + 4);
    if (len > kMaxReadLength) return status(kStatusRefused);
    if (len == 0) return status(kStatusOk);
    std::vector<uint8_t> data(len);
    const uint8_t s = statusOf(protocolEngines().c331FlashRead(rd32(p), data.data(), len));
    status(s);
    if (s == kStatusOk) out_.insert(out_.end(), data.begin(), data.end());
}

// ---- FPGA services

void message_deal::param_save(const uint8_t* frame, size_t n) {
    if (n != 0) return status(kStatusBadRequest);
    uint8_t s = kStatusOk;
    for (int f = fpgaFirst(frame); f <= fpgaLast(frame); ++f)
        s = worse(s, statusOf(protocolEngines().fpgaSaveParameters(f)));
    status(s);
}

void message_deal::start_update(const uint8_t* p, size_t n) {
    constexpr unsigned kUpdateRam = 10;
    constexpr unsigned kUpdateBlock = 256;
    constexpr unsigned kRegControl = 23;
    constexpr uint8_t kUpdateBit = 0x40;
    if (n > kUpdateBlock) return status(kStatusBadRequest);
    uint8_t block[kUpdateBlock] = {};
    if (n) std::memcpy(block, p, n);
    ProtocolEngines& eng = protocolEngines();
    uint8_t s = kStatusOk;
    for (int f = 0; f < 2; ++f) s = worse(s, statusOf(eng.fpgaWriteRegister(kRegControl, kUpdateBit, kUpdateBit, f)));
    if (s == kStatusOk) s = statusOf(eng.fpgaWriteRam(kUpdateRam, 0, block, kUpdateBlock, 0));
    status(s);
}

void message_deal::set_para_sync(const uint8_t* frame, size_t n) {
    if (n != 0) return status(kStatusBadRequest);
    OutputGeometry g;
    const uint8_t s = statusOf(protocolEngines().fpgaOutputGeometry(fpgaForRead(frame), &g));
    status(s);
    if (s != kStatusOk) return;
    for (uint16_t v : {g.minX, g.minY, g.right, g.bottom, g.lcdX, g.lcdY, g.lcdWidth, g.lcdHeight}) {
        out_.push_back(uint8_t(v));
        out_.push_back(uint8_t(v >> 8));
    }
}

// ---- controller services

void message_deal::net_ip_set(const uint8_t* p, size_t n) {
    if (n != 14) return status(kStatusBadRequest);
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config) return status(kStatusUnavailable);
    const uint16_t port = rd16(p + 12);
    // An address or mask of 0.0.0.0 is never meant; a port of 0 keeps the TCP port.
    if (rd32(p) == 0 || rd32(p + 4) == 0) return status(kStatusRefused);
    // One store of all of them, applied only once made and as made: a full data partition
    // answers 4 and leaves the file as it was.
    int tcpPort;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        tcpPort = g_int_tcp_port;
    }
    const bool newPort = port != 0 && int(port) != tcpPort;
    const int stored = Utils::storeAndApplyNetwork(dotted(p), dotted(p + 4), dotted(p + 8), newPort ? int(port) : 0);
    if (stored == Utils::kNetNotStored) return status(kStatusFailed);
    const uint8_t s = stored == Utils::kNetApplied ? kStatusOk : kStatusFailed;
    if (newPort) {
        // The TCP server takes its port at start: the reboot follows 300 ticks from now,
        // after this answer has left.
        writeLogMsg(LOG_INFO, "protocol: TCP port set to " + std::to_string(port) + ", rebooting");
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
    if (VlxRamPara::p_vlxrampara_config) VlxRamPara::test_signal(1);
    status(s);
}

void message_deal::restart_request(size_t n) {
    if (n != 0) return status(kStatusBadRequest);
    writeLogMsg(LOG_INFO, "protocol: restart requested");
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    status(kStatusOk);
}

void message_deal::write_rtc_time(const uint8_t* p, size_t n) {
    if (n != 7) return status(kStatusBadRequest);
    Utils::ClockTime t;
    if (!Utils::clockFromBcd(p, &t)) return status(kStatusRefused);
    if (Utils::system_mutex(Utils::dateCommand(t)) != 0) return status(kStatusFailed);
    const uint8_t s = Utils::system_mutex(QStringLiteral("hwclock -wu")) == 0 ? kStatusOk : kStatusFailed;
    protocolEngines().clockChanged();
    status(s);
}

void message_deal::get_device_info(size_t n) {
    if (n != 0) return status(kStatusBadRequest);
    status(kStatusOk);
    out_.insert(out_.end(), g_pid, g_pid + sizeof g_pid);
}
