#include "fpga/rcv_recovery.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

using namespace rcvfile;

namespace {


rcvPartInfo decodePart(const uint8_t* p) {
    rcvPartInfo e;
    e.type = p[0];
    e.length = le::rd32(p + 4);
    e.offset = le::rd32(p + 8);
    return e;
}

rcvScreenHead decodeScreenHead(const uint8_t* p) {
    rcvScreenHead h;
    h.type = p[2];
    h.rcv_para_len = le::rd32(p + 4);
    h.rcv_para_crc32 = le::rd32(p + 8);
    h.rcv_xy_len = le::rd32(p + 12);
    h.rcv_xy_crc32 = le::rd32(p + 16);
    h.screen_num = p[20];
    return h;
}

rcvScreenInfo decodeScreen(const uint8_t* p) {
    rcvScreenInfo s;
    s.config_id = le::rd32(p);
    s.net_use = le::rd32(p + 4);
    s.rcv_para_offset = le::rd32(p + 36);
    s.rcv_para_len = le::rd32(p + 40);
    s.rcv_xy_offset = le::rd32(p + 44);
    s.rcv_xy_len = le::rd32(p + 48);
    return s;
}

rcvNetPara decodeNet(const uint8_t* p) {
    rcvNetPara n;
    n.net_ledx = le::rd16(p);
    n.net_rcv_num = le::rd16(p + 2);
    n.net_para_offset = le::rd32(p + 4);
    n.net_para_len = le::rd32(p + 8);
    return n;
}

rcvOperatePara decodeOperate(const uint8_t* p) {
    rcvOperatePara o;
    o.offset = le::rd32(p);
    o.dataLen = le::rd32(p + 4);
    o.targetAddr = le::rd32(p + 8);
    o.timeticks = le::rd32(p + 12);
    o.type = p[16];
    o.target = p[17];
    return o;
}

// The kernel's bytes for a device path: the locale's encoding (a Chinese name on a stick
// survives, where Latin-1 would turn it into '?'), under the root of this board.
std::string hostPath(const QString& path) {
    return plat::path(QFile::encodeName(path).toStdString());
}

uint64_t lastPartOffset(const rcvPartInfo* table, int used, uint8_t type, bool* found) {
    uint64_t offset = 0;
    *found = false;
    for (int k = 0; k < used; ++k) {
        if (table[k].type == type) {
            offset = table[k].offset;
            *found = true;
        }
    }
    return offset;
}

// ---------------------------------------------------------------- whole-file check

class FileCheck {
public:
    FileCheck(const plat::ReadOnlyFile& f, std::string* why) : f_(f), why_(why) {}

    bool fail(const std::string& reason) {
        if (why_) *why_ = reason;
        return false;
    }
    bool inside(uint64_t pos, uint64_t n) const { return pos <= f_.size() && n <= f_.size() - pos; }
    bool read(uint64_t pos, uint8_t* out, size_t n, const std::string& what) {
        if (!inside(pos, n) || !f_.readAt(pos, out, n)) return fail(what + " past the end of the file");
        return true;
    }

    // An operation list: u16 count, pad, records; data at dataBase + offset. `length`
    // receives the list's size (a card block's length in a net's area).
    bool list(uint64_t head, uint64_t dataBase, const std::string& where, uint64_t* length) {
        uint8_t h[kListHeadSize];
        if (!read(head, h, sizeof h, where + " list head")) return false;
        const uint32_t count = le::rd16(h);
        if (count > kMaxListOps)
            return fail(where + ": " + std::to_string(count) + " operations, at most " + std::to_string(kMaxListOps));
        std::vector<uint8_t> records(size_t(count) * kOperateSize);
        if (count && !read(head + kListHeadSize, records.data(), records.size(), where + " operation records"))
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            if (!operation(decodeOperate(&records[size_t(i) * kOperateSize]), dataBase,
                           where + " operation " + std::to_string(i)))
                return false;
        }
        if (length) *length = kListHeadSize + uint64_t(count) * kOperateSize;
        return true;
    }

private:
    bool data(const rcvOperatePara& op, uint64_t dataBase, uint32_t limit, const std::string& where) {
        if (op.dataLen > limit)
            return fail(where + ": " + std::to_string(op.dataLen) + " data bytes, at most " + std::to_string(limit));
        if (!inside(dataBase + op.offset, op.dataLen)) return fail(where + ": data lies outside the file");
        return true;
    }

    bool operation(const rcvOperatePara& op, uint64_t dataBase, const std::string& where) {
        switch (op.type) {
        case kTypeWrite:
            if (op.target == kTargetRam) {
                // The card's address must not wrap within the write.
                if (uint64_t(op.targetAddr) + op.dataLen > (uint64_t(1) << 32))
                    return fail(where + ": RAM write past the card's address space");
                return data(op, dataBase, kMaxRamData, where);
            }
            if (op.target == kTargetRegister) return data(op, dataBase, kMaxFrameData, where);
            if (op.target == kTargetFlash) return true;  // not carried out, nothing read
            return fail(where + ": unknown target " + std::to_string(op.target));
        case kTypeRam2Flash:
        case kTypeUpgrade:
        case kTypeSleep:
            return true;  // no data read
        case kTypeActiveFirmware:
        case kTypeReconfig:
        case kTypeSearchRxc:
            return data(op, dataBase, kMaxFrameData, where);
        case kTypeUserDefined:
            if (op.dataLen == 0) return fail(where + ": user frame without its opcode byte");
            return data(op, dataBase, kMaxFrameData, where);
        default:
            return fail(where + ": unknown operation type " + std::to_string(op.type));
        }
    }

    const plat::ReadOnlyFile& f_;
    std::string* why_;

public:
    // Areas already walked: screens or nets that share one are checked once.
    std::set<uint64_t> screenAreas;
    std::set<std::pair<uint64_t, uint32_t>> netAreas;
    // Card lists walked so far. Each needs its own head in the file, so more of them than
    // the file has room for means areas that overlap one another: such a file could make
    // the walk run for hours on the engine thread.
    uint64_t cardLists = 0;
    bool cardListFits() { return ++cardLists * kListHeadSize <= f_.size(); }
};

// A screen's nets and, per net, its cards' lists.
bool xyArea(FileCheck& c, uint64_t x, const std::string& sname) {
    uint8_t nh[kListHeadSize];
    if (!c.read(x, nh, sizeof nh, sname + " net count")) return false;
    const uint32_t nets = le::rd16(nh);
    if (nets > kMaxNets)
        return c.fail(sname + ": " + std::to_string(nets) + " nets, at most " + std::to_string(kMaxNets));
    std::vector<uint8_t> netRecords(size_t(nets) * kNetRecordSize);
    if (nets && !c.read(x + kListHeadSize, netRecords.data(), netRecords.size(), sname + " net records"))
        return false;
    for (uint32_t n = 0; n < nets; ++n) {
        const rcvNetPara net = decodeNet(&netRecords[size_t(n) * kNetRecordSize]);
        const std::string nname = sname + " net " + std::to_string(n);
        if (net.net_ledx > kMaxPort)
            return c.fail(nname + ": port " + std::to_string(net.net_ledx) + ", 0 to 31 exist");
        const uint64_t a = x + net.net_para_offset;
        if (!c.netAreas.insert({a, net.net_rcv_num}).second) continue;
        uint64_t block = a;
        for (uint32_t card = 0; card < net.net_rcv_num; ++card) {
            if (!c.cardListFits()) return c.fail(nname + ": card areas overlap");
            uint64_t length = 0;
            if (!c.list(block, a, nname + " card " + std::to_string(card), &length)) return false;
            block += length;
        }
    }
    return true;
}

bool checkPacked(const plat::ReadOnlyFile& f, std::string* why) {
    FileCheck c(f, why);
    uint8_t head[kPackedHeadSize];
    if (!c.read(0, head, sizeof head, "packed head")) return false;
    const int parts = head[3];
    if (parts < 1 || parts > kMaxParts)
        return c.fail("part count " + std::to_string(parts) + ", 1 to " + std::to_string(kMaxParts) + " allowed");
    uint8_t raw[kMaxParts * kPartEntrySize];
    if (!c.read(kPackedHeadSize, raw, size_t(parts) * kPartEntrySize, "part table")) return false;
    rcvPartInfo table[kMaxParts];
    for (int k = 0; k < parts; ++k) {
        table[k] = decodePart(raw + k * kPartEntrySize);
        if (!c.inside(table[k].offset, table[k].length))
            return c.fail("part entry " + std::to_string(k) + " lies outside the file");
    }
    // the screens always; the XY part for a screen with an XY area, the smart-debugging
    // part for a screen with a list: what the jobs read and nothing more
    bool have10, have11, have12;
    const uint64_t p10 = lastPartOffset(table, parts, kPartScreen, &have10);
    const uint64_t p11 = lastPartOffset(table, parts, kPartXY, &have11);
    const uint64_t p12 = lastPartOffset(table, parts, kPartSmartDebug, &have12);
    if (!have10) return c.fail("no screen part (10)");

    uint8_t sh[kScreenHeadSize];
    if (!c.read(p10, sh, sizeof sh, "screen head")) return false;
    const rcvScreenHead screenHead = decodeScreenHead(sh);
    if (screenHead.screen_num == 0) return c.fail("no screens");
    std::vector<uint8_t> screens(size_t(screenHead.screen_num) * kScreenRecordSize);
    if (!c.read(p10 + kScreenHeadSize, screens.data(), screens.size(), "screen records")) return false;

    for (int s = 0; s < screenHead.screen_num; ++s) {
        const rcvScreenInfo screen = decodeScreen(&screens[size_t(s) * kScreenRecordSize]);
        const std::string sname = "screen " + std::to_string(s);
        const uint64_t x = p11 + screen.rcv_xy_offset;
        if (screen.rcv_xy_len != 0 && !have11) return c.fail(sname + ": an XY area but no XY part (11)");
        if (screen.rcv_para_len != 0 && !have12)
            return c.fail(sname + ": a smart-debugging list but no smart-debugging part (12)");
        if (screen.rcv_xy_len != 0 && c.screenAreas.insert(x).second && !xyArea(c, x, sname)) return false;
        if (screen.rcv_para_len != 0) {
            const uint64_t d = p12 + screen.rcv_para_offset;
            if (!c.list(d, d, sname + " smart-debugging", nullptr)) return false;
        }
    }
    return true;
}

bool checkStandalone(const plat::ReadOnlyFile& f, std::string* why) {
    FileCheck c(f, why);
    if (!c.inside(0, kStandaloneHeadSize)) return c.fail("shorter than its head");
    return c.list(kStandaloneBase, kStandaloneBase, "list", nullptr);
}

}  // namespace

// ---------------------------------------------------------------- folders and lists

void rcvRecovery::init_para() {
    screen_info.rcv_para_offset = 0;
    screen_info.rcv_para_len = 0;
    screen_info.rcv_xy_offset = 0;
    screen_info.rcv_xy_len = 0;
}

int rcvRecovery::check_file_dir(const QString& path) {
    if (QDir(QFile::decodeName(QByteArray::fromStdString(hostPath(path)))).exists()) return 0;
    return plat::makeDirs(QFile::encodeName(path).toStdString()) ? 1 : 0;
}

int rcvRecovery::get_dir_file(const QString& path) {
    QDir dir(QFile::decodeName(QByteArray::fromStdString(hostPath(path))));
    if (!dir.exists()) return 1;
    QStringList* list = nullptr;
    if (path == kRecoveryDir)
        list = &rcvrecovery_files_;
    else if (path == kMappingDir || path == kUsbDir)
        list = &smartmapping_files_;
    if (!list) return 0;
    // Plain files only; dot-files are the file transfer's temporaries and a stick's
    // system leftovers, never a card file.
    const QStringList names = dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    plat::Locker<plat::QtMutex> lock(list_mutex_);
    *list = names;
    return 0;
}

QStringList rcvRecovery::rcvrecovery_file_list() const {
    plat::Locker<plat::QtMutex> lock(list_mutex_);
    return rcvrecovery_files_;
}

void rcvRecovery::clear_file_list(bool recovery) {
    plat::Locker<plat::QtMutex> lock(list_mutex_);
    (recovery ? rcvrecovery_files_ : smartmapping_files_).clear();
}

QStringList rcvRecovery::smartmapping_file_list() const {
    plat::Locker<plat::QtMutex> lock(list_mutex_);
    return smartmapping_files_;
}

// ---------------------------------------------------------------- positions

bool rcvRecovery::has_part(uint8_t type) const {
    bool found;
    lastPartOffset(part_info, part_num() < kMaxParts ? part_num() : kMaxParts, type, &found);
    return found;
}

uint32_t rcvRecovery::part_offset(uint8_t type) const {
    bool found;
    return uint32_t(lastPartOffset(part_info, part_num() < kMaxParts ? part_num() : kMaxParts, type, &found));
}

uint64_t rcvRecovery::xy_screen_position() const {
    return uint64_t(part_offset(kPartXY)) + screen_info.rcv_xy_offset;
}

uint64_t rcvRecovery::net_area_position() const { return xy_screen_position() + net_para.net_para_offset; }

uint64_t rcvRecovery::smart_list_position(bool standalone) const {
    if (standalone) return kStandaloneBase;
    return uint64_t(part_offset(kPartSmartDebug)) + screen_info.rcv_para_offset;
}

// ---------------------------------------------------------------- readers

template <class Body>
int rcvRecovery::withFile(const QString& path, Body&& body) {
    if (!path.startsWith('/')) return 1;
    const std::string host = hostPath(path);
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    plat::ReadOnlyFile f;
    if (!f.open(host)) return 1;
    if (host == pinned_path_ && f.identity() != pinned_id_) {
        writeLogMsg(LOG_WARNING, "card file " + path.toStdString() + " was replaced since it was checked: not read");
        return 1;
    }
    return body(f) ? 0 : 1;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& path) {
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t h[kPackedHeadSize];
        if (!f.readAt(0, h, sizeof h)) return false;
        std::copy(h, h + sizeof h, packed_head);
        return true;
    });
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& path, int k) {
    if (k < 0 || k >= kMaxParts) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t e[kPartEntrySize];
        if (!f.readAt(kPackedHeadSize + uint64_t(k) * kPartEntrySize, e, sizeof e)) return false;
        part_info[k] = decodePart(e);
        return true;
    });
}

int rcvRecovery::update_rcvScreenHead(const QString& path) {
    if (!has_part(kPartScreen)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t h[kScreenHeadSize];
        if (!f.readAt(part_offset(kPartScreen), h, sizeof h)) return false;
        screen_head = decodeScreenHead(h);
        return true;
    });
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& path, int s) {
    if (s < 0 || s >= screen_head.screen_num || !has_part(kPartScreen)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t r[kScreenRecordSize];
        const uint64_t pos = uint64_t(part_offset(kPartScreen)) + kScreenHeadSize + uint64_t(s) * kScreenRecordSize;
        if (!f.readAt(pos, r, sizeof r)) return false;
        screen_info = decodeScreen(r);
        return true;
    });
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& path) {
    if (screen_info.rcv_xy_len == 0) {
        net_num = 0;   // a screen without an XY area has no nets, whatever lies at its offset
        return 0;
    }
    if (!has_part(kPartXY)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t h[2];
        if (!f.readAt(xy_screen_position(), h, sizeof h)) return false;
        net_num = le::rd16(h);
        return true;
    });
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& path, int n) {
    if (n < 0 || n >= net_num || !has_part(kPartXY)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t r[kNetRecordSize];
        if (!f.readAt(xy_screen_position() + kListHeadSize + uint64_t(n) * kNetRecordSize, r, sizeof r)) return false;
        net_para = decodeNet(r);
        return true;
    });
}

int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& path, int c, bool standalone) {
    if (standalone || c < 0 || c >= net_para.net_rcv_num || !has_part(kPartXY)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        const uint64_t a = net_area_position();
        uint64_t block = 0;
        uint8_t h[2];
        for (int card = 0; card < c; ++card) {
            if (!f.readAt(a + block, h, sizeof h)) return false;
            block += kListHeadSize + uint64_t(le::rd16(h)) * kOperateSize;
        }
        if (block > UINT32_MAX || !f.readAt(a + block, h, sizeof h)) return false;
        operate_times = le::rd16(h);
        card_block_position = uint32_t(block);
        return true;
    });
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& path, int i, bool standalone) {
    if (standalone || i < 0 || i >= operate_times || !has_part(kPartXY)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t r[kOperateSize];
        const uint64_t pos = net_area_position() + card_block_position + kListHeadSize + uint64_t(i) * kOperateSize;
        if (!f.readAt(pos, r, sizeof r)) return false;
        operate_para = decodeOperate(r);
        return true;
    });
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& path, bool standalone) {
    if (!standalone && screen_info.rcv_para_len == 0) {
        operate_times = 0;   // no list for this screen
        card_block_position = 0;
        return 0;
    }
    if (!standalone && !has_part(kPartSmartDebug)) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t h[2];
        if (!f.readAt(smart_list_position(standalone), h, sizeof h)) return false;
        operate_times = le::rd16(h);
        card_block_position = 0;
        return true;
    });
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& path, int i, bool standalone) {
    if (i < 0 || i >= operate_times || (!standalone && !has_part(kPartSmartDebug))) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) {
        uint8_t r[kOperateSize];
        if (!f.readAt(smart_list_position(standalone) + kListHeadSize + uint64_t(i) * kOperateSize, r, sizeof r))
            return false;
        operate_para = decodeOperate(r);
        return true;
    });
}

int rcvRecovery::update_rcvOperatedata(const QString& path, uint64_t position, uint8_t* buffer, uint32_t n) {
    if (n && !buffer) return 1;
    return withFile(path, [&](const plat::ReadOnlyFile& f) { return f.readAt(position, buffer, n); });
}

// ---------------------------------------------------------------- whole-file check

bool rcvRecovery::validateFile(const QString& path, bool standalone, std::string* why) {
    std::string reason;
    const std::string host = path.startsWith('/') ? hostPath(path) : std::string();
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    pinned_path_.clear();
    pinned_id_ = plat::FileIdentity{};
    plat::ReadOnlyFile f;
    bool ok = false;
    if (host.empty())
        reason = "not an absolute path";
    else if (f.open(host, &reason))
        ok = standalone ? checkStandalone(f, &reason) : checkPacked(f, &reason);
    if (ok) {
        pinned_path_ = host;
        pinned_id_ = f.identity();
    } else if (why) {
        *why = reason;
    }
    return ok;
}

bool rcvRecovery::validate_packed(const QString& path, std::string* why) { return validateFile(path, false, why); }

bool rcvRecovery::validate_standalone(const QString& path, std::string* why) { return validateFile(path, true, why); }
