#pragma once
// Upgrade packages on the USB stick: where they are, their layout, and the checks a whole
// package passes before anything of it is erased or written.
//
// Layout (little-endian, read byte by byte): a 49-byte header ([2] publish type, [18..19]
// controller type, [47..48] entry count), then 21-byte entries from offset 49 ([0] type,
// [1..4] data length, [5..8] data offset from the file start, [9..14] version: year, month,
// day, hardware, software, function). A bitstream's data starts with a 64-byte header whose
// [31..34] is the length of the bitstream behind it; a font's data starts with the scaler's
// 35-byte font header ([5] encoding, [18] glyph height) and goes to the flash whole.
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/global.h"

namespace usbpkg {

constexpr const char* kUsbRoot = "/mnt/usb1/";
constexpr int kMaxPackages = 255;  // the engine's count is one byte

constexpr size_t kHeaderSize = 49;
constexpr size_t kEntrySize = 21;
constexpr uint8_t kPublishRelease = 0x80;
constexpr uint16_t kControllerType = 0x6C52;
constexpr uint8_t kTypeApplication = 10;
constexpr uint8_t kTypeFpga0 = 7;
constexpr uint8_t kTypeFpga1 = 8;
constexpr uint8_t kTypeFont = 13;

constexpr size_t kBitstreamHeaderSize = 64;
constexpr size_t kBitstreamLengthAt = 31;
// The configuration flash keeps its own records from 0x6C0000 on (RAM-50 block, saved
// parameters, schedules, brightness, operating time): a bitstream ends before them.
constexpr uint32_t kBitstreamMax = 0x6C0000;
// An application is held whole while it is written and compared.
constexpr uint32_t kApplicationMax = uint32_t(kFileBufSize);

constexpr size_t kFontHeaderSize = 35;
constexpr size_t kFontEncodingAt = 5;
constexpr size_t kFontHeightAt = 18;

// The version of this program: a release package carrying it is already installed.
constexpr uint8_t kProgramVersion[6] = {24, 10, 20, 11, 2, 1};

struct Header {
    uint8_t publishType = 0;
    uint16_t controllerType = 0;
    uint16_t fileNum = 0;
};

struct Entry {
    uint8_t type = 0;
    uint32_t length = 0;
    uint32_t offset = 0;
    uint8_t version[6] = {};  // year (two digits), month, day, hardware, software, function
};

Header parseHeader(const uint8_t* p);  // kHeaderSize bytes
Entry parseEntry(const uint8_t* p);    // kEntrySize bytes
uint32_t bitstreamLength(const uint8_t* header);  // kBitstreamHeaderSize bytes
bool isReleaseOfThisProgram(const Header& h, const Entry& e);
// Types 10, 7 and 8 are installed only for this controller; fonts for any.
bool installable(const Header& h, const Entry& e);

// Where a font goes in the scaler's flash and how much room it has there (up to the next
// font or the OSD bitmap, whole sectors).
enum class FontTarget { Slot, OtherEncoding, BadHeight };
FontTarget fontSlot(const uint8_t* fontHeader, uint32_t* address, uint32_t* room);

// One erase: a 4 KiB sector (kind 0) or a 32 KiB block (kind 1) at sector `sector`.
struct EraseUnit {
    uint32_t sector;
    int kind;
};
// Covers `length` bytes from `base` (sector aligned): a 32 KiB block wherever the sector
// starts one and the whole block is wanted, 4 KiB sectors elsewhere.
std::vector<EraseUnit> erasePlan(uint32_t base, uint32_t length);

// Reads `n` bytes at `offset` of the package; false when it cannot (a short read too).
using Reader = std::function<bool(uint64_t offset, size_t n, uint8_t* out)>;

struct Package {
    Header header;
    std::vector<Entry> entries;
};
// Reads the header and the entry table and checks, for every entry, that its data lies
// in the file, and for each one that would be installed: an application of 1 byte to
// kApplicationMax, a bitstream header whose length fits the entry (64 + L) and the flash
// (L <= kBitstreamMax), a font whose height is 32 or 64 and which fits its slot. Returns
// "" when the package may be installed, else why not; nothing of a refused package is used.
std::string checkPackage(uint64_t fileSize, const Reader& read, Package* out);

// ---- the stick
// The package folder (device path): "/mnt/usb1/" and the configured sub-folder, the stick's
// root for a single blank; empty when the sub-folder would lead off the stick.
QString upgradeDirectory(const QString& subFolder);
// Packages of that folder (device paths): regular files, no links and no hidden files, with
// the suffix "VLX" or "VLXZK" exactly; name order with case ignored; at most `limit`.
QStringList listPackages(const QString& directory, int limit);

}  // namespace usbpkg
