#include "protocol/file_transfer.h"

#include <fcntl.h>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "core/data_files.h"
#include "core/app_swap.h"
#include "core/global.h"
#include "core/json_file.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "platform/waits.h"
#include "ui/shell/panel_stack.h"

using namespace fxfer;
namespace fs = std::filesystem;

VlxFileDeal g_vlx_file_deal_para;

namespace {

constexpr const char* kRecoveryCode = "KVFX";
constexpr const char* kRecoveryFolder = "/data/rcvrecovery";
constexpr const char* kMappingCode = "KVFR";
constexpr const char* kMappingFolder = "/data/smartmapping";
// MTD images wait here between their last block and the flash write.
constexpr const char* kMtdStage = "/data/kavelkv/mtd-image";
constexpr int kChangeAliasReplaced = 103;

using le::rd16;
using le::rd32;
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

bool nameChar(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// One to four name characters, then only NULs.
bool definedName(const uint8_t* name, std::string* out) {
    size_t len = 0;
    while (len < kDefinedNameSize && name[len] != 0) {
        if (!nameChar(name[len])) return false;
        ++len;
    }
    for (size_t i = len; i < kDefinedNameSize; ++i)
        if (name[i] != 0) return false;
    if (len == 0) return false;
    out->assign(reinterpret_cast<const char*>(name), len);
    return true;
}

const plat::wiring::MtdWiring* mtdWiring(int index) {
    for (const auto& m : plat::wiring::kMtdPartitions)
        if (m.index == index) return &m;
    return nullptr;
}

int defaultNotify(int code) {
    if (!VlxRamPara::p_vlxrampara_config) return 0;
    return VlxRamPara::test_signal(code);
}

// The front panel as a PNG, taken on the GUI thread: the screen when the platform can
// grab it, else the panel composed of its visible windows (screens, keypad, pop-ups and open
// lists are windows of their own), as a user sees it.
bool grabOnGuiThread(std::string* png) {
    QPixmap pixmap;
    if (QScreen* screen = QGuiApplication::primaryScreen()) pixmap = screen->grabWindow(0);
    if (pixmap.isNull() || pixmap.toImage().allGray()) pixmap = QPixmap::fromImage(panel_stack::compose());
    if (pixmap.isNull()) return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!pixmap.save(&buffer, "PNG")) return false;
    png->assign(bytes.constData(), size_t(bytes.size()));
    return true;
}

constexpr std::chrono::seconds kGrabStuck(2);
constexpr int kGrabWaits = 15;

// A grab asked for from a link thread, run on the GUI thread ahead of the events queued there.
class GrabEvent : public QEvent {
public:
    explicit GrabEvent(std::function<void()> run) : QEvent(kind()), run(std::move(run)) {}
    static QEvent::Type kind() {
        static const QEvent::Type t = QEvent::Type(QEvent::registerEventType());
        return t;
    }
    std::function<void()> run;
};

class GrabTaker : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != GrabEvent::kind()) return QObject::event(e);
        static_cast<GrabEvent*>(e)->run();
        return true;
    }
};

bool defaultGrab(std::string* png) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app)) return false;
    if (QThread::currentThread() == app->thread()) return grabOnGuiThread(png);
    // Asked from a protocol thread: the GUI thread grabs. A PC that applies a setting every
    // 0.1 s keeps change notifications queued there, each with its save: the grab goes ahead
    // of those not yet taken up (high priority) and is waited for while the GUI thread works
    // through the others. Only an event loop that delivers nothing for two seconds (stopped or
    // stuck) makes it fail, and no grab holds the link longer than half a minute.
    static GrabTaker* taker = [app] {
        auto* t = new GrabTaker;
        t->moveToThread(app->thread());
        return t;
    }();
    auto result = std::make_shared<plat::Handed<std::string>>();
    QCoreApplication::postEvent(taker, new GrabEvent([result] {
        std::string shot;
        if (!grabOnGuiThread(&shot)) shot.clear();
        result->give(shot);
    }), Qt::HighEventPriority);
    uint32_t delivered = panel_stack::eventsDelivered();
    for (int waited = 1; !result->waitFor(kGrabStuck); ++waited) {   // the GUI thread's grab
        const uint32_t now = panel_stack::eventsDelivered();
        if (now == delivered || waited >= kGrabWaits) {
            writeLogMsg(LOG_WARNING, now == delivered ? "screenshot: the panel's event loop is stuck, not taken"
                                                      : "screenshot: the panel is too busy, not taken");
            return false;
        }
        delivered = now;
    }
    *png = result->take();
    return !png->empty();
}

}  // namespace

VlxFileDeal::VlxFileDeal() : notify(defaultNotify), grabScreen(defaultGrab), appSwap(app_swap_and_restart) {}

bool VlxFileDeal::targetForKind(uint8_t kind, uint8_t mode, FileTarget* out) {
    FileTarget t;
    t.kind = kind;
    switch (kind) {
    case kApplication:
        t.path = kAppImageNew;
        t.maxSize = kMaxApplication;
        t.writable = true;
        break;
    case kBootLogo:
    case kKernel: {
        const plat::wiring::MtdWiring& m = kind == kBootLogo ? plat::wiring::kMtdBootLogo : plat::wiring::kMtdKernel;
        t.path = kMtdStage;
        t.mtd = m.index;
        t.maxSize = m.size;
        t.writable = true;
        break;
    }
    case kAlias:
        t.path = "/data/configs/alias.json";
        t.maxSize = kMaxJsonFile;
        t.writable = t.readable = true;
        break;
    case kMenu:
        t.path = "/data/configs/omenu.json";
        t.maxSize = kMaxJsonFile;
        t.writable = t.readable = true;
        break;
    case kModeMenu: {
        if (mode < 1 || mode > 16) return false;
        char buf[32];
        std::snprintf(buf, sizeof buf, "/data/modes/MO%02x.json", unsigned(mode));
        t.path = buf;
        t.maxSize = kMaxJsonFile;
        t.writable = t.readable = true;
        break;
    }
    case kScreenshot:
        t.maxSize = uint32_t(kFileBufSize);
        t.readable = true;
        break;
    default:
        return false;
    }
    *out = t;
    return true;
}

bool VlxFileDeal::isWildcardName(const uint8_t* name) { return std::memcmp(name, "****", kDefinedNameSize) == 0; }

bool VlxFileDeal::targetForDefined(const uint8_t* code, const uint8_t* name, FileTarget* out) {
    FileTarget t;
    if (std::memcmp(code, kRecoveryCode, 4) == 0)
        t.folder = kRecoveryFolder;
    else if (std::memcmp(code, kMappingCode, 4) == 0)
        t.folder = kMappingFolder;
    else
        return false;
    t.maxSize = uint32_t(kFileBufSize);
    t.writable = t.readable = true;
    std::string n;
    if (!isWildcardName(name)) {
        if (!definedName(name, &n)) return false;
        t.path = t.folder + "/" + n;
    }
    *out = t;
    return true;
}

uint8_t VlxFileDeal::writeMtd(const FileTarget& target, const std::string& image, uint32_t size) {
    const plat::wiring::MtdWiring* m = mtdWiring(target.mtd);
    if (!m || size > m->size) return kRefused;
    // The shared transfer buffer holds the image while it goes to the flash.
    std::memset(fileBuf_kavel, 0, m->size);
    std::memcpy(fileBuf_kavel, image.data(), size);
    plat::Sys& sys = plat::sys();
    const int fd = sys.open(m->path, O_RDWR);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("file transfer: ") + m->path + " cannot be opened");
        return kFailed;
    }
    uint8_t status = kOk;
    if (Utils::non_region_erase(fd, 0, int(m->size), 1) != 0) {
        // Never write over blocks that were not erased.
        writeLogMsg(LOG_ERROR, std::string("file transfer: erase of ") + m->path + " failed, nothing written");
        status = kFailed;
    } else if (Utils::non_region_write(fd, fileBuf_kavel, int(size), 0) != 0) {
        writeLogMsg(LOG_ERROR, std::string("file transfer: write of ") + m->path + " failed");
        status = kFailed;
    }
    sys.close(fd);
    if (status == kOk)
        writeLogMsg(LOG_INFO, std::string("file transfer: ") + m->what + " written, " + std::to_string(size) + " bytes");
    return status;
}

uint8_t VlxFileDeal::commit(const FileTarget& target, plat::StagedFile& staged, uint32_t size) {
    // An application stored here is the one its swap moves: a second end waits for the
    // first install to finish (and is then refused, the restart being pending).
    std::unique_lock<AppInstallLock> install(g_app_install_mutex, std::defer_lock);
    if (target.kind == kApplication) install.lock();
    if (target.mtd >= 0) {
        // A whole partition's erase and program: under its own lock (one store at a time, and
        // the transfer buffer), never the file mutex the other threads' passes wait for.
        static plat::Mutex flashStore{plat::Lock::PartitionStore};
        plat::Locker<plat::Mutex> store(flashStore);
        std::string image;
        const bool read = plat::readRegularFile(staged.tempPath(), size, plat::Oversize::Refuse, &image) ==
                              plat::FileRead::Ok &&
                          image.size() == size;
        staged.discard();
        if (!read) return kFailed;
        return writeMtd(target, image, size);
    }
    if (target.kind == kAlias) {
        // Its reader deletes an alias file that does not parse: such a file is refused
        // here, and the one stored stays.
        std::string text, error;
        boost::property_tree::ptree root;
        const bool read =
            plat::readRegularFile(staged.tempPath(), size, plat::Oversize::Refuse, &text) == plat::FileRead::Ok;
        if (read && jsonfile::parses(text, &root, &error)) {
            // The screens look every name up in it: without one, every lookup misses.
            const auto names = root.get_child_optional("namelist");
            if (!names || !names->data().empty()) error = "no name list (\"namelist\": {...})";
        }
        if (!read || !error.empty()) {
            staged.discard();
            writeLogMsg(LOG_WARNING, "file transfer: " + target.path + " refused: " + error);
            return kFailed;
        }
    }
    std::unique_lock<plat::Mutex> lock(dataFileWriters());   // the rename and its folder's fsync
    if (!staged.commit()) {
        writeLogMsg(LOG_ERROR, "file transfer: " + target.path + " cannot be stored");
        return kFailed;
    }
    writeLogMsg(LOG_INFO, "file transfer: " + target.path + " stored, " + std::to_string(size) + " bytes");
    lock.unlock();
    if (target.kind == kAlias && notify) notify(kChangeAliasReplaced);
    if (!target.folder.empty() && cardFileChanged) cardFileChanged(target.folder == kRecoveryFolder, false);
    if (target.kind == kApplication && appSwap && appSwap() != 0) return kFailed;
    return kOk;
}

uint8_t VlxFileDeal::load(const FileTarget& target, std::string* data) {
    if (target.kind == kScreenshot) {
        if (!grabScreen || !grabScreen(data)) return kFailed;
        return data->size() <= target.maxSize ? kOk : kFailed;
    }
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    std::string why;
    const plat::FileRead r = plat::readRegularFile(plat::path(target.path), target.maxSize, plat::Oversize::Refuse, data, &why);
    if (r == plat::FileRead::Refused) writeLogMsg(LOG_WARNING, "file transfer: " + target.path + " " + why);
    return r == plat::FileRead::Ok ? kOk : kRefused;
}

uint8_t VlxFileDeal::remove(const FileTarget& target, bool all) {
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    std::error_code ec;
    if (!all) {
        if (!fs::is_regular_file(plat::path(target.path), ec)) return kRefused;
        return fs::remove(plat::path(target.path), ec) ? kOk : kFailed;
    }
    const std::string folder = plat::path(target.folder);
    if (!fs::is_directory(folder, ec)) return kOk;
    uint8_t status = kOk;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        // Hidden part files belong to transfers still running on other links.
        if (!entry.is_regular_file(ec) || entry.path().filename().string()[0] == '.') continue;
        if (!fs::remove(entry.path(), ec)) status = kFailed;
    }
    writeLogMsg(LOG_INFO, "file transfer: files of " + target.folder + " deleted");
    return status;
}

uint8_t VlxFileDeal::removeAndTell(const FileTarget& target, bool all) {
    const uint8_t status = remove(target, all);
    if (status == kOk && cardFileChanged) cardFileChanged(target.folder == kRecoveryFolder, true);
    return status;
}

// ---------------------------------------------------------------- one link's transfer

bool FileTransfer::handle(uint8_t group, const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (group < kGroupWriteStart || group > kGroupDelete) return false;
    starting(group);   // (already, when its link took the frame for a job)
    switch (group) {
    case kGroupWriteStart: write_file_start(p, n, out); break;
    case kGroupWriteDefinedStart: write_defined_file_start(p, n, out); break;
    case kGroupWriteBlock: write_file_block(p, n, out); break;
    case kGroupWriteEnd: write_file_end(p, n, out); break;
    case kGroupReadStart: read_file_start(p, n, out); break;
    case kGroupReadDefinedStart: read_defined_file_start(p, n, out); break;
    case kGroupReadBlock: read_file_block(p, n, out); break;
    case kGroupReadEnd: read_file_end(p, n, out); break;
    default: delete_file_name(p, n, out); break;
    }
    open_ = writing_ || reading_;
    return true;
}

void FileTransfer::abort() {
    open_ = false;
    writing_ = false;
    staged_.discard();
    reading_ = false;
    rData_.clear();
}

void FileTransfer::beginWrite(const FileTarget& target, uint32_t size, std::vector<uint8_t>& out) {
    // A new start ends the transfer before it: the PC begins again.
    writing_ = false;
    staged_.discard();
    if (!target.writable || size == 0 || size > target.maxSize) {
        out.push_back(kRefused);
        return;
    }
    const std::string folder = fs::path(target.path).parent_path().string();
    if (!plat::makeDirs(folder) || !staged_.open(plat::path(target.path))) {
        writeLogMsg(LOG_ERROR, "file transfer: no temporary file beside " + target.path);
        out.push_back(kFailed);
        return;
    }
    wTarget_ = target;
    wSize_ = size;
    wReceived_ = 0;
    wDigest_.reset();
    writing_ = true;
    out.push_back(kOk);
}

void FileTransfer::write_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (n != 6) {
        out.push_back(kBadRequest);
        return;
    }
    FileTarget t;
    if (!VlxFileDeal::targetForKind(p[0], p[1], &t)) {
        writeLogMsg(LOG_WARNING, "file transfer: kind " + std::to_string(p[0]) + " refused");
        out.push_back(kRefused);
        return;
    }
    beginWrite(t, rd32(p + 2), out);
}

void FileTransfer::write_defined_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    FileTarget t;
    if (n != 12) {
        out.push_back(kBadRequest);
        return;
    }
    if (VlxFileDeal::isWildcardName(p + 4) || !VlxFileDeal::targetForDefined(p, p + 4, &t)) {
        writeLogMsg(LOG_WARNING, "file transfer: receiving-card file name refused");
        out.push_back(kRefused);
        return;
    }
    beginWrite(t, rd32(p + 8), out);
}

void FileTransfer::write_file_block(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (n < 5 || n - 4 > kMaxBlock) {
        out.push_back(kBadRequest);
        return;
    }
    const uint32_t offset = rd32(p);
    const uint32_t len = uint32_t(n - 4);
    // Blocks come in order and stay within the announced size; anything else is refused
    // and the transfer stays where it was.
    if (!writing_ || offset != wReceived_ || len > wSize_ - wReceived_) {
        out.push_back(kRefused);
        return;
    }
    if (!staged_.append(p + 4, len)) {
        writeLogMsg(LOG_ERROR, "file transfer: write into the temporary of " + wTarget_.path + " failed");
        abort();
        out.push_back(kFailed);
        return;
    }
    wDigest_.update(p + 4, len);
    wReceived_ += len;
    out.push_back(kOk);
    put32(out, wReceived_);
}

void FileTransfer::write_file_end(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (n != kDigestSize) {
        out.push_back(kBadRequest);
        return;
    }
    if (!writing_) {
        out.push_back(kRefused);
        return;
    }
    writing_ = false;
    if (wReceived_ != wSize_) {
        writeLogMsg(LOG_WARNING, "file transfer: " + wTarget_.path + " ended after " + std::to_string(wReceived_) +
                                     " of " + std::to_string(wSize_) + " bytes, discarded");
        staged_.discard();
        out.push_back(kRefused);
        return;
    }
    uint8_t digest[kDigestSize];
    std::memcpy(digest, wDigest_.digest(), kDigestSize);
    if (std::memcmp(digest, p, kDigestSize) != 0) {
        writeLogMsg(LOG_WARNING, "file transfer: MD5 of " + wTarget_.path + " differs, discarded");
        staged_.discard();
        out.push_back(kDigestMismatch);
        return;
    }
    if (!staged_.finish()) {
        out.push_back(kFailed);
        return;
    }
    const uint8_t status = g_vlx_file_deal_para.commit(wTarget_, staged_, wSize_);
    out.push_back(status);
    if (status == kOk) out.insert(out.end(), digest, digest + kDigestSize);
}

void FileTransfer::beginRead(const FileTarget& target, std::vector<uint8_t>& out) {
    reading_ = false;
    rData_.clear();
    if (!target.readable) {
        out.push_back(kRefused);
        return;
    }
    const uint8_t status = g_vlx_file_deal_para.load(target, &rData_);
    if (status != kOk) {
        rData_.clear();
        out.push_back(status);
        return;
    }
    reading_ = true;
    MD5 digest(rData_.data(), unsigned(rData_.size()));
    out.push_back(kOk);
    put32(out, uint32_t(rData_.size()));
    const MD5::byte* d = digest.digest();
    out.insert(out.end(), d, d + kDigestSize);
}

void FileTransfer::read_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    FileTarget t;
    if (n != 2) {
        out.push_back(kBadRequest);
        return;
    }
    if (!VlxFileDeal::targetForKind(p[0], p[1], &t)) {
        out.push_back(kRefused);
        return;
    }
    beginRead(t, out);
}

void FileTransfer::read_defined_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    FileTarget t;
    if (n != 8) {
        out.push_back(kBadRequest);
        return;
    }
    if (VlxFileDeal::isWildcardName(p + 4) || !VlxFileDeal::targetForDefined(p, p + 4, &t)) {
        out.push_back(kRefused);
        return;
    }
    beginRead(t, out);
}

void FileTransfer::read_file_block(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    if (n != 6) {
        out.push_back(kBadRequest);
        return;
    }
    const uint32_t offset = rd32(p);
    const uint32_t want = rd16(p + 4);
    if (!reading_ || offset > rData_.size() || want == 0 || want > kMaxBlock) {
        out.push_back(kRefused);
        return;
    }
    const size_t len = std::min<size_t>(want, rData_.size() - offset);
    out.push_back(kOk);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(rData_.data()) + offset;
    out.insert(out.end(), data, data + len);
}

void FileTransfer::read_file_end(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    (void)p;
    if (n != 0) {
        out.push_back(kBadRequest);
        return;
    }
    const bool was = reading_;
    reading_ = false;
    rData_.clear();
    rData_.shrink_to_fit();
    out.push_back(was ? kOk : kRefused);
}

void FileTransfer::delete_file_name(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    FileTarget t;
    if (n != 8) {
        out.push_back(kBadRequest);
        return;
    }
    if (!VlxFileDeal::targetForDefined(p, p + 4, &t)) {
        out.push_back(kRefused);
        return;
    }
    out.push_back(g_vlx_file_deal_para.removeAndTell(t, VlxFileDeal::isWildcardName(p + 4)));
}
