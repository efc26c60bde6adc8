#include "fpga/usb_package.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "platform/platform.h"
#include "scaler/c331_osd_state.h"

namespace usbpkg {

namespace {


constexpr uint32_t kSector = 4096;
constexpr uint32_t kBlock32 = 32768;
constexpr uint32_t kSectorsPerBlock = kBlock32 / kSector;

std::string entryName(size_t i, const Entry& e) {
    return "entry " + std::to_string(i) + " (type " + std::to_string(e.type) + ")";
}

}  // namespace

Header parseHeader(const uint8_t* p) {
    Header h;
    h.publishType = p[2];
    h.controllerType = le::rd16(p + 18);
    h.fileNum = le::rd16(p + 47);
    return h;
}

Entry parseEntry(const uint8_t* p) {
    Entry e;
    e.type = p[0];
    e.length = le::rd32(p + 1);
    e.offset = le::rd32(p + 5);
    std::memcpy(e.version, p + 9, sizeof e.version);
    return e;
}

uint32_t bitstreamLength(const uint8_t* header) { return le::rd32(header + kBitstreamLengthAt); }

bool isReleaseOfThisProgram(const Header& h, const Entry& e) {
    return h.publishType == kPublishRelease && std::memcmp(e.version, kProgramVersion, sizeof kProgramVersion) == 0;
}

bool installable(const Header& h, const Entry& e) {
    switch (e.type) {
    case kTypeApplication:
    case kTypeFpga0:
    case kTypeFpga1: return h.controllerType == kControllerType;
    case kTypeFont: return true;
    default: return false;
    }
}

FontTarget fontSlot(const uint8_t* fontHeader, uint32_t* address, uint32_t* room) {
    using namespace c331flash;
    const uint8_t encoding = fontHeader[kFontEncodingAt];
    const uint8_t height = fontHeader[kFontHeightAt];
    if (encoding != 0 && encoding != 1) return FontTarget::OtherEncoding;
    // Each area reaches to the next one; the last font to the bitmap's first sector.
    const uint32_t bitmapSector = kBmpAddr / kSector * kSector;
    uint32_t at = 0, end = 0;
    if (height == 32) {
        at = encoding == 1 ? kHeader32Ascii : kHeader32Chn;
        end = encoding == 1 ? kHeader32Chn : kHeader64Ascii;
    } else if (height == 64) {
        at = encoding == 1 ? kHeader64Ascii : kHeader64Chn;
        end = encoding == 1 ? kHeader64Chn : bitmapSector;
    } else {
        return FontTarget::BadHeight;
    }
    *address = at;
    *room = end - at;
    return FontTarget::Slot;
}

std::vector<EraseUnit> erasePlan(uint32_t base, uint32_t length) {
    std::vector<EraseUnit> plan;
    for (uint32_t a = 0; a < length;) {
        const uint32_t s = (base + a) / kSector;
        if (s % kSectorsPerBlock == 0 && uint64_t(a) + kBlock32 <= length) {
            plan.push_back({s, 1});
            a += kBlock32;
        } else {
            plan.push_back({s, 0});
            if (length - a <= kSector) break;
            a += kSector;
        }
    }
    return plan;
}

std::string checkPackage(uint64_t fileSize, const Reader& read, Package* out) {
    uint8_t head[kHeaderSize];
    if (fileSize < kHeaderSize || !read(0, kHeaderSize, head)) return "shorter than its header";
    Package p;
    p.header = parseHeader(head);
    const uint64_t tableEnd = kHeaderSize + uint64_t(kEntrySize) * p.header.fileNum;
    if (tableEnd > fileSize)
        return "its table of " + std::to_string(p.header.fileNum) + " entries runs past the file's end";
    std::vector<uint8_t> table(size_t(tableEnd - kHeaderSize));
    if (!table.empty() && !read(kHeaderSize, table.size(), table.data())) return "its table cannot be read";
    for (size_t i = 0; i < p.header.fileNum; ++i) {
        const Entry e = parseEntry(table.data() + i * kEntrySize);
        if (uint64_t(e.offset) + e.length > fileSize) return entryName(i, e) + ": its data runs past the file's end";
        p.entries.push_back(e);
        if (!installable(p.header, e)) continue;
        if (e.type == kTypeApplication) {
            if (e.length == 0) return entryName(i, e) + ": an empty application";
            if (e.length > kApplicationMax) return entryName(i, e) + ": an application larger than its buffer";
        } else if (e.type == kTypeFpga0 || e.type == kTypeFpga1) {
            uint8_t bh[kBitstreamHeaderSize];
            if (e.length < kBitstreamHeaderSize || !read(e.offset, sizeof bh, bh))
                return entryName(i, e) + ": no bitstream header";
            const uint32_t l = bitstreamLength(bh);
            if (kBitstreamHeaderSize + uint64_t(l) > e.length)
                return entryName(i, e) + ": the bitstream is longer than its entry";
            if (l > kBitstreamMax) return entryName(i, e) + ": the bitstream would reach the flash's records";
        } else if (e.type == kTypeFont && e.length != 0) {
            uint8_t fh[kFontHeaderSize];
            if (e.length < kFontHeaderSize || !read(e.offset, sizeof fh, fh)) return entryName(i, e) + ": no font header";
            uint32_t at = 0, room = 0;
            const FontTarget t = fontSlot(fh, &at, &room);
            if (t == FontTarget::BadHeight) return entryName(i, e) + ": a glyph height other than 32 or 64";
            if (t == FontTarget::Slot && e.length > room) return entryName(i, e) + ": the font is larger than its slot";
        }
    }
    *out = std::move(p);
    return std::string();
}

QString upgradeDirectory(const QString& subFolder) {
    if (subFolder == QLatin1String(" ")) return QString::fromLatin1(kUsbRoot);
    for (const QString& part : subFolder.split(QLatin1Char('/')))
        if (part == QLatin1String("..")) {
            writeLogMsg(LOG_WARNING, "USB upgrade folder \"" + subFolder.toStdString() + "\" leads off the stick");
            return QString();
        }
    return QString::fromLatin1(kUsbRoot) + subFolder;
}

QStringList listPackages(const QString& directory, int limit) {
    QStringList out;
    if (directory.isEmpty()) return out;
    const QString dir = directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
    // without QDir::Hidden: a stick's "._name.VLX" companions are no packages
    const QFileInfoList entries = QDir(QString::fromStdString(plat::path(dir.toStdString())))
                                      .entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& info : entries) {
        if (out.size() >= limit) break;
        if (!info.isFile() || info.isSymLink() || info.fileName().startsWith(QLatin1Char('.'))) continue;
        const QString suffix = info.suffix();
        if (suffix != QLatin1String("VLX") && suffix != QLatin1String("VLXZK")) continue;
        out.append(dir + info.fileName());
    }
    return out;
}

}  // namespace usbpkg
