// The USB upgrade on the engine thread: packages from the stick install a new application,
// a bitstream into either FPGA's configuration flash, or an OSD font into the scaler's
// flash. A package is checked whole before anything of it is erased; every entry is read
// whole into the upgrade's own buffer before its flash range is touched, so a stick pulled
// half-way leaves the flashes as they were.
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "core/data_files.h"
#include "core/app_swap.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"
#include "fpga/usb_package.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_osd_state.h"

std::function<void(const std::string&)> fpga_manage::app_written_hook;

namespace {

constexpr unsigned kStepByte = job_block::kStep;  // shared with the receiving-card jobs
constexpr int kChangeUpgradeOver = 104;
constexpr uint32_t kBitstreamPiece = 32768;
constexpr uint32_t kFontPiece = 16384;

QString hostPath(const QString& device) { return QString::fromStdString(plat::path(device.toStdString())); }

QString fileName(const QString& device) { return QFileInfo(device).fileName(); }

// The package's size, -1 when it is no longer a regular file.
qint64 packageSize(const QString& device) {
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    const QFileInfo info(hostPath(device));
    return info.isFile() && !info.isSymLink() ? info.size() : -1;
}

// One read of a package: under the file mutex, opened read-only, positioned, read and closed.
// A short read fails.
bool readPackage(const QString& device, uint64_t offset, size_t n, uint8_t* out) {
    plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
    const QString host = hostPath(device);
    const QFileInfo info(host);
    if (!info.isFile() || info.isSymLink()) return false;  // never wait on a pipe put in its place
    QFile f(host);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(qint64(offset))) return false;
    size_t done = 0;
    while (done < n) {
        const qint64 got = f.read(reinterpret_cast<char*>(out + done), qint64(n - done));
        if (got <= 0) return false;
        done += size_t(got);
    }
    return true;
}

void syncAndPause(unsigned ms) {
    Utils::system_mutex(QStringLiteral("sync"));
    plat::sleepMs(ms);
}

QString timeText(fpga_manage* e) {
    TimeRealType t{};
    e->IT8563WE_Get(&t);
    return QStringLiteral("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
}

// Erases what the data will cover from `base`, then programs it in pieces at `base`; 1 ms
// after each erase and before each piece. Each piece is read back; one that differs is
// erased and programmed once more. False at the first operation that fails or a piece
// that still differs.
bool eraseAndProgram(const std::string& what, uint32_t base, const std::vector<uint8_t>& data, uint32_t piece,
                     const std::function<bool(const usbpkg::EraseUnit&)>& erase,
                     const std::function<bool(uint32_t address, const uint8_t* bytes, uint32_t n)>& program,
                     const std::function<bool(uint32_t address, uint32_t n, uint8_t* out)>& read) {
    const uint32_t length = uint32_t(data.size());
    for (const usbpkg::EraseUnit& u : usbpkg::erasePlan(base, length)) {
        if (!erase(u)) return false;
        plat::sleepMs(1);
    }
    for (uint32_t at = 0; at < length; at += piece) {
        plat::sleepMs(1);
        const uint32_t n = std::min(piece, length - at);
        const bool same = writeReadBack(
            what + " at " + std::to_string(base + at), data.data() + at, n,
            [&](int attempt) {
                if (attempt)
                    for (const usbpkg::EraseUnit& u : usbpkg::erasePlan(base + at, n))
                        if (!erase(u)) return false;
                return program(base + at, data.data() + at, n);
            },
            [&](uint8_t* back) { return read(base + at, n, back); });
        if (!same) return false;
    }
    return true;
}

unsigned bcd(uint8_t v) { return unsigned(v >> 4) * 10 + (v & 0x0F); }

}  // namespace

void fpga_manage::usbNote(const QString& note) {
    std::lock_guard<plat::Mutex> lock(usb_text_mutex_);
    if (!usb_notes_.contains(note)) usb_notes_.append(note);
}

QString fpga_manage::usb_upgrade_text() const {
    std::lock_guard<plat::Mutex> lock(usb_text_mutex_);
    return usb_upgrade_time_;
}

void fpga_manage::usb_upgrade_manage_deal() { usb_upgrade_deal(); }

void fpga_manage::usb_upgrade_deal() {
    const uint8_t step = g_send_para[kStepByte];
    switch (step) {
    case 0: {
        if (!g_update_flag) {
            const EngineEvents& ev = engineEvents();
            if (ev.firmwareUpdateStart) ev.firmwareUpdateStart();
        }
        {
            std::lock_guard<plat::Mutex> lock(usb_text_mutex_);
            usb_upgrade_time_ = timeText(this);
            usb_notes_.clear();
            usb_refused_.clear();
        }
        g_update_flag = 1;
        usb_file_num = 0;
        usb_file_list.clear();
        g_send_para[kStepByte] = 1;
        break;
    }
    case 1:
        get_usb_file_list_path();
        g_send_para[kStepByte] = 2;
        break;
    case 2:
        usb_upgrade_main_deal();
        g_send_para[kStepByte] = 3;
        break;
    default:
        if (step != 3) {
            // a step nobody defined would keep the engine in the upgrade for good
            writeLogMsg(LOG_ERROR, "USB upgrade: step " + std::to_string(step) + " undefined, upgrade ended");
            usbNote(QStringLiteral("upgrade not run"));
        }
        {
            std::lock_guard<plat::Mutex> lock(usb_text_mutex_);
            usb_upgrade_time_ += QStringLiteral("    ") + timeText(this);
            // one line on the link screen: a long name from the stick is shortened
            QStringList notes;
            if (usb_refused_.size() == 1) {
                const QString name = usb_refused_.front();
                notes << (name.size() > 24 ? name.left(21) + QStringLiteral("...") : name) + QStringLiteral(" refused");
            } else if (usb_refused_.size() > 1) {
                notes << QStringLiteral("%1 packages refused").arg(usb_refused_.size());
            }
            notes << usb_notes_;
            if (!notes.isEmpty()) usb_upgrade_time_ += QStringLiteral("    ") + notes.join(QStringLiteral(", "));
        }
        if (g_update_flag) {
            const EngineEvents& ev = engineEvents();
            if (ev.firmwareUpdateOver) ev.firmwareUpdateOver();
        }
        VlxRamPara::test_signal(kChangeUpgradeOver);
        g_update_flag = 0;
        g_send_para[kStepByte] = 0;
        g_usb_grade = 0;
        break;
    }
}

void fpga_manage::get_usb_file_list_path() {
    QString sub;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        sub = g_usb_grade_path;
    }
    usb_file_list = usbpkg::listPackages(usbpkg::upgradeDirectory(sub), usbpkg::kMaxPackages);
    usb_file_num = uint8_t(usb_file_list.size());
    writeLogMsg(LOG_INFO, "USB upgrade: " + std::to_string(usb_file_num) + " packages");
}

void fpga_manage::usb_upgrade_main_deal() {
    std::fill(std::begin(usb_update_flag), std::end(usb_update_flag), 0);
    // One install at a time: from the first write of an application image to its swap, so
    // that a protocol upload ending meanwhile waits, and then finds the restart pending,
    // instead of replacing the image this upgrade read back or swapping in its own under
    // the bitstreams written here.
    std::unique_lock<AppInstallLock> install(g_app_install_mutex, std::defer_lock);
    for (const QString& package : usb_file_list) {
        const std::string name = package.toStdString();
        const qint64 size = packageSize(package);
        if (size < 0) {
            writeLogMsg(LOG_WARNING, "USB upgrade: " + name + " cannot be opened");
            syncAndPause(100);
            continue;
        }
        usbpkg::Package p;
        const std::string why = usbpkg::checkPackage(
            uint64_t(size), [&](uint64_t at, size_t n, uint8_t* out) { return readPackage(package, at, n, out); }, &p);
        syncAndPause(1);
        if (!why.empty()) {
            writeLogMsg(LOG_ERROR, "USB upgrade: " + name + " refused, " + why + "; nothing of it installed");
            {
                std::lock_guard<plat::Mutex> lock(usb_text_mutex_);
                usb_refused_.append(fileName(package));
            }
            syncAndPause(100);
            continue;
        }
        for (const usbpkg::Entry& e : p.entries) {
            if (!usbpkg::installable(p.header, e)) {
                // no settling wait for an entry that is not installed: a table of thousands
                // of empty entries would hold the engine for hours
                if (e.type != usbpkg::kTypeApplication && e.type != usbpkg::kTypeFpga0 && e.type != usbpkg::kTypeFpga1)
                    writeLogMsg(LOG_INFO, "USB upgrade: entry of type " + std::to_string(e.type) + " skipped");
                continue;
            }
            if (e.length) syncAndPause(100);
            switch (e.type) {
            case usbpkg::kTypeApplication:
                if (usbpkg::isReleaseOfThisProgram(p.header, e)) {
                    usb_update_flag[kUpdateApp] = 0;
                    writeLogMsg(LOG_INFO, "USB upgrade: this application is installed already");
                } else {
                    if (!install.owns_lock()) install.lock();
                    usb_update_flag[kUpdateApp] = uint8_t(update_muc_file(package, e.offset, e.length));
                }
                break;
            case usbpkg::kTypeFpga0:
            case usbpkg::kTypeFpga1: {
                const int i = e.type == usbpkg::kTypeFpga0 ? 0 : 1;
                bool same = false;
                if (p.header.publishType == usbpkg::kPublishRelease) {
                    uint8_t r[4] = {};
                    bool read = true;
                    for (int k = 0; k < 4 && read; ++k) {
                        read = read_from_register(uint8_t(FPGA_REG_ID0 + k), i) == 1;
                        r[k] = mirror(uint8_t(FPGA_REG_ID0 + k), i);
                    }
                    // 31, 30, 29: year, month, day in BCD; 28: the function code
                    same = read && bcd(r[3]) == e.version[0] && bcd(r[2]) == e.version[1] &&
                           bcd(r[1]) == e.version[2] && r[0] == e.version[5];
                }
                if (same) {
                    usb_update_flag[kUpdateFpga0 + i] = 0;
                    writeLogMsg(LOG_INFO, "USB upgrade: FPGA " + std::to_string(i) + " runs this bitstream already");
                } else {
                    // only a bitstream that reads back as written restarts its FPGA: after a
                    // failure the FPGA keeps running what it loaded at power-up
                    usb_update_flag[kUpdateFpga0 + i] =
                        uint8_t(update_txc_file(package, i == 0 ? kFlashChipFpga0 : kFlashChipFpga1, e.offset));
                }
                break;
            }
            case usbpkg::kTypeFont: {
                const VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
                const unsigned present = ram ? ram->registerValue(43) & c331flash::kReg43FontBits : 0;
                usb_update_flag[kUpdateFont] = present != c331flash::kReg43FontBits;
                if (usb_update_flag[kUpdateFont])
                    update_c331_osd_font_file(package, e.offset, e.length);
                else
                    writeLogMsg(LOG_INFO, "USB upgrade: every font is present, font entry skipped");
                break;
            }
            default: break;
            }
        }
    }
    if (!usb_update_flag[kUpdateApp]) {
        for (int i = 0; i < 2; ++i)
            if (usb_update_flag[kUpdateFpga0 + i]) reset_fpga_rst(i);
        c331_manage* c = c331_manage::p_c331_manage;
        if (usb_update_flag[kUpdateFont] && c) {
            c->read_c331_font(c->fd());
            c->update_font(c->fd());
        }
        return;
    }
    // Held since the image was written (a flag set means it was): no other install came between.
    if (app_swap_and_restart() != 0) usbNote(QStringLiteral("application not swapped"));
}

int fpga_manage::update_muc_file(const QString& path, uint32_t offset, uint32_t length) {
    const QString notInstalled = QStringLiteral("application not installed");
    if (length == 0 || length > usbpkg::kApplicationMax) {
        writeLogMsg(LOG_ERROR, "USB upgrade: application of " + std::to_string(length) + " bytes refused");
        usbNote(notInstalled);
        return 0;
    }
    std::vector<uint8_t> image(length);
    if (!readPackage(path, offset, length, image.data())) {
        writeLogMsg(LOG_ERROR, "USB upgrade: the application cannot be read from " + path.toStdString());
        usbNote(notInstalled);
        syncAndPause(100);
        return 0;
    }
    const std::string host = plat::path(kAppImageNew);
    bool ok = false;
    int error = 0;
    {
        plat::Locker<plat::Mutex> writers(dataFileWriters());
        ok = plat::replaceFileAtomically(host, image.data(), image.size());
        error = errno;
    }
    if (!ok) {
        writeLogMsg(LOG_ERROR, std::string("USB upgrade: the new application could not be written to ") +
                                   kAppImageNew + ": " + std::strerror(error));
        usbNote(notInstalled);
        return 0;
    }
    syncAndPause(10);
    if (app_written_hook) app_written_hook(host);
    {
        plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
        std::string back;
        ok = plat::readRegularFile(host, size_t(length) + 1, plat::Oversize::Refuse, &back) == plat::FileRead::Ok &&
             back.size() == length && std::memcmp(back.data(), image.data(), length) == 0;
    }
    if (!ok) {
        // never swapped in: the device would restart into a broken program
        {
            plat::Locker<plat::QtMutex> lock(Utils::_file_deal_mutex);
            std::error_code ec;
            std::filesystem::remove(host, ec);
        }
        writeLogMsg(LOG_ERROR, "USB upgrade: the new application did not read back as written, deleted");
        usbNote(notInstalled);
        return 0;
    }
    writeLogMsg(LOG_INFO, "USB upgrade: application written, " + std::to_string(length) + " bytes");
    return 1;
}

int fpga_manage::update_txc_file(const QString& path, int flash, uint32_t offset) {
    const int fpga = flash == kFlashChipFpga0 ? 0 : 1;
    const QString failed = QStringLiteral("FPGA %1 bitstream failed").arg(fpga);
    if (!drv || (flash != kFlashChipFpga0 && flash != kFlashChipFpga1)) {
        usbNote(failed);
        return 0;
    }
    uint8_t header[usbpkg::kBitstreamHeaderSize];
    if (!readPackage(path, offset, sizeof header, header)) {
        writeLogMsg(LOG_ERROR, "USB upgrade: bitstream header cannot be read from " + path.toStdString());
        usbNote(failed);
        syncAndPause(100);
        return 0;
    }
    const uint32_t length = usbpkg::bitstreamLength(header);
    if (length > usbpkg::kBitstreamMax) {
        writeLogMsg(LOG_ERROR, "USB upgrade: bitstream of " + std::to_string(length) + " bytes refused");
        usbNote(failed);
        return 0;
    }
    std::vector<uint8_t> data(length);
    if (length && !readPackage(path, uint64_t(offset) + sizeof header, length, data.data())) {
        writeLogMsg(LOG_ERROR, "USB upgrade: bitstream cannot be read from " + path.toStdString() + ", flash untouched");
        usbNote(failed);
        syncAndPause(100);
        return 0;
    }
    bool written;
    {
        std::lock_guard<plat::Mutex> lock(drv->update_mutex);
        written = eraseAndProgram(
            "configuration flash " + std::to_string(flash), 0, data, kBitstreamPiece,
            [&](const usbpkg::EraseUnit& u) { return drv->FPGA_SPI_FLASH_VBYONE_ERASE(flash, u.sector, u.kind, 1) == 1; },
            [&](uint32_t at, const uint8_t* bytes, uint32_t n) {
                return drv->FPGA_SPI_FLASH_VBYONE_WRITE(flash, at, bytes, n) == 1;
            },
            [&](uint32_t at, uint32_t n, uint8_t* out) { return drv->FPGA_SPI_FLASH_VBYONE_READ(flash, at, n, out) == 1; });
    }
    if (!written) {
        writeLogMsg(LOG_ERROR, "USB upgrade: flash " + std::to_string(flash) +
                                   " not written as the bitstream, FPGA " + std::to_string(fpga) + " not restarted");
        usbNote(failed);
        return 0;
    }
    writeLogMsg(LOG_INFO, "USB upgrade: FPGA " + std::to_string(fpga) + " bitstream written, " +
                              std::to_string(length) + " bytes");
    return 1;
}

int fpga_manage::update_c331_osd_font_file(const QString& path, uint32_t offset, uint32_t length) {
    const QString failed = QStringLiteral("font failed");
    c331_manage* c = c331_manage::p_c331_manage;
    if (length == 0) return 1;  // nothing to write
    if (!c || length < usbpkg::kFontHeaderSize) {
        writeLogMsg(LOG_ERROR, "USB upgrade: font not installed (no scaler, or no font header)");
        usbNote(failed);
        return 0;
    }
    std::vector<uint8_t> data(length);
    if (!readPackage(path, offset, length, data.data())) {
        writeLogMsg(LOG_ERROR, "USB upgrade: font cannot be read from " + path.toStdString() + ", flash untouched");
        usbNote(failed);
        syncAndPause(100);
        return 0;
    }
    uint32_t slot = 0, room = 0;
    const usbpkg::FontTarget target = usbpkg::fontSlot(data.data(), &slot, &room);
    if (target == usbpkg::FontTarget::OtherEncoding) {
        writeLogMsg(LOG_INFO, "USB upgrade: font of another encoding skipped");
        return 0;
    }
    if (target != usbpkg::FontTarget::Slot || length > room) {
        writeLogMsg(LOG_ERROR, "USB upgrade: font refused: it fits no font slot");
        usbNote(failed);
        return 0;
    }
    const bool written = eraseAndProgram(
        "the scaler's flash", slot, data, kFontPiece,
        [&](const usbpkg::EraseUnit& u) { return c->erase_flash(c->fd(), u.sector, 1, u.kind) == 0; },
        [&](uint32_t at, const uint8_t* bytes, uint32_t n) {
            return c->write_flash(c->fd(), at, n, reinterpret_cast<const char*>(bytes)) == 0;
        },
        [&](uint32_t at, uint32_t n, uint8_t* out) { return c->read_flash(c->fd(), at, n, reinterpret_cast<char*>(out)) == 0; });
    if (!written) {
        writeLogMsg(LOG_ERROR, "USB upgrade: the font is not in the scaler's flash as written");
        usbNote(failed);
        return 0;
    }
    writeLogMsg(LOG_INFO, "USB upgrade: font written at " + std::to_string(slot) + ", " + std::to_string(length) +
                              " bytes");
    return 1;
}
