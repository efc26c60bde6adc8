#include "core/vlxrampara.h"

#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/data_files.h"
#include "core/global.h"
#include "core/json_file.h"
#include "core/logMsg.h"
#include "core/ram_file_writer.h"
#include "core/shadow_look_hook.h"
#include "core/utils.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "platform/shell.h"

using namespace vlxram;

unsigned char g_cut_source_state[30] = {0};
VlxRamPara* VlxRamPara::p_vlxrampara_config = nullptr;

namespace {

const char* const kRamFile = "/data/ram_device_info";
const char* const kMenuFile = "/data/configs/omenu.json";

// ---- factory image
constexpr unsigned img(unsigned address) { return kRamFileMarkerSize + address - kSavedStart; }

constexpr void put16(std::array<unsigned char, kRamFileSize>& a, unsigned address, uint16_t v) {
    a[img(address)] = uint8_t(v & 0xFF);
    a[img(address) + 1] = uint8_t(v >> 8);
}

constexpr std::array<unsigned char, kRamFileSize> buildDefaultImage() {
    std::array<unsigned char, kRamFileSize> a{};
    a[0] = kModeSaved;
    a[1] = kModeSaved;
    put16(a, kUnused302, 100);
    for (unsigned p = 0; p < 6; ++p) {
        const bool v1 = p >= 4;  // the two V-by-One inputs offer 4K
        put16(a, kEdidPara + kEdidParaSize * p, v1 ? 3840 : 1920);
        put16(a, kEdidPara + kEdidParaSize * p + 2, v1 ? 2160 : 1080);
        put16(a, kEdidPara + kEdidParaSize * p + 4, 60);
    }
    put16(a, kSpliceMode, 4);
    put16(a, kLedWidth, 1920);
    put16(a, kLedHeight, 1080);
    const uint16_t panel[5] = {1, 1, 1920, 1080, 0};
    for (unsigned k = 0; k < 5; ++k) put16(a, kPanelResults + 2 * k, panel[k]);
    const uint16_t outs[6] = {1920, 1080, 0, 0, 1920, 1080};
    for (unsigned k = 0; k < 6; ++k) put16(a, kOut1Width + 2 * k, outs[k]);
    // crop entries "source 2, not in use"; the pattern runs on up to the audio word
    for (unsigned e = kCropTable; e + kCropEntrySize <= kAudioWindow; e += kCropEntrySize) {
        put16(a, e, 0x0002);
        put16(a, e + 6, 1920);
        put16(a, e + 8, 1080);
    }
    const uint16_t picture[8] = {100, 50, 10, 50, 2, 64, 64, 64};
    for (unsigned k = 0; k < 8; ++k) put16(a, kBrightness + 2 * k, picture[k]);
    for (unsigned k = 0; k < 16; ++k) put16(a, kLayerPriority + 2 * k, uint16_t(k));
    put16(a, kUnused8DE, 1);
    const uint16_t sources[6] = {2, 5, 3, 4, 1, 0};
    for (int w = 0; w < kWindows; ++w) {
        put16(a, windowField(w, kWinState), w == 0 ? 1 : 0);
        put16(a, windowField(w, kWinSource), sources[w]);
        put16(a, windowField(w, kWinWidth), 1920);
        put16(a, windowField(w, kWinHeight), 1080);
    }
    return a;
}

std::string modeFileName(int slot) { return "/data/modes/custom_mode" + std::to_string(slot + 1); }

std::string menuCopyName(int slot) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/data/modes/MO%02x.json", slot + 1);
    return buf;
}

// A data file of at most `maxBytes` (a longer one gives its first maxBytes) into `out`.
// Missing: false, quietly. Anything but a regular file: false, logged.
bool readDataFile(const std::string& absolute, size_t maxBytes, std::string* out) {
    std::string why;
    switch (plat::readRegularFile(plat::path(absolute), maxBytes, plat::Oversize::Cut, out, &why)) {
    case plat::FileRead::Ok: return true;
    case plat::FileRead::Missing: return false;
    case plat::FileRead::Refused: break;
    }
    writeLogMsg(LOG_ERROR, absolute + " " + why + ": not read");
    return false;
}

// The parameter store's sync and rm, through the one runner.
void runShell(const std::string& command) { Utils::system_mutex(QString::fromStdString(command)); }

bool validInput(int input) { return input >= 0 && input < kInputs; }
bool validSlot(int slot) { return slot >= 0 && slot < kModeSlots; }

unsigned cropEntry(int i) { return kCropTable + kCropEntrySize * unsigned(i); }

// Decodes a crop key word; false for a free entry or one that names no valid input/id
// (the table is PC-writable and comes back from files and user modes).
bool decodeCropWord(uint16_t word, int* input, int* id) {
    if (!(word & kCropInUse)) return false;
    *input = word & 0xFF;
    *id = ((word >> 8) & 0x7F) + 1;
    return validInput(*input) && *id <= kCropIdsPerInput;
}

bool cropBit(int input, int id) {
    const int bit = kCropIdsPerInput * input + id - 1;
    return g_cut_source_state[bit / 8] & (1u << (bit % 8));
}

// Table index of the input's n-th crop in the live RAM, or kCropEntries when there is none.
int findCropEntry(const VlxRamPara* p, int input, int n) REQUIRES(ManageLock::manage_mutex) {
    const int id = VlxRamPara::VlxGetCropID(input, n);
    if (id == 0) return kCropEntries;
    for (int i = 0; i < kCropEntries; ++i) {
        int in = 0, cid = 0;
        if (decodeCropWord(p->ramU16(cropEntry(i)), &in, &cid) && in == input && cid == id) return i;
    }
    return kCropEntries;
}

bool insideRam(unsigned address, unsigned length) { return address <= kRamSize && length <= kRamSize - address; }

}  // namespace

const std::array<unsigned char, kRamFileSize> default_para_ramlist = buildDefaultImage();

// ---------------------------------------------------------------- object and loading

VlxRamPara::VlxRamPara() : QObject(nullptr) {
    // Everything the loaders do not fill reads as zero, never as heap garbage (the stamped
    // bytes start zeroed).
    std::memset(reg_para_, 0, sizeof reg_para_);
}

VlxRamPara::~VlxRamPara() = default;

VlxRamPara* VlxRamPara::pInstance() {
    if (!p_vlxrampara_config) {
        p_vlxrampara_config = new VlxRamPara;
        p_vlxrampara_config->loadAtStartup();
    }
    return p_vlxrampara_config;
}

void VlxRamPara::resetInstanceForTest() {
    RamFileWriter::resetForTest();  // a save still queued, or owed, belongs to this instance's test
    delete p_vlxrampara_config;
    p_vlxrampara_config = nullptr;
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
}

bool VlxRamPara::loadRamFile() {
    std::string file;
    if (!readDataFile(kRamFile, kRamFileSize, &file)) {
        writeLogMsg(LOG_ERROR, "parameter file cannot be read, using the factory image");
        return false;
    }
    if (file.size() < kRamFileMarkerSize || uint8_t(file[0]) != kModeSaved || uint8_t(file[1]) != kModeSaved) {
        writeLogMsg(LOG_ERROR, "parameter file has no valid marker, replaced by the factory image");
        std::remove(plat::path(kRamFile).c_str());
        return false;
    }
    // A short file (cut by a power loss or an old version) still holds the user's settings
    // as far as it goes; the factory image lies under the rest, and the file is kept.
    const size_t length = std::min<size_t>(file.size() - kRamFileMarkerSize, kSavedLength);
    if (length < kSavedLength)
        writeLogMsg(LOG_WARNING, "parameter file is " + std::to_string(file.size()) + " bytes, needs " +
                                     std::to_string(kRamFileMinSize) + ": loaded as far as it goes");
    writeRam(kSavedStart, reinterpret_cast<const unsigned char*>(file.data()) + kRamFileMarkerSize, unsigned(length));
    return true;
}

void VlxRamPara::loadFactoryImage() {
    writeRam(kSavedStart, default_para_ramlist.data() + kRamFileMarkerSize, kSavedLength);
}

bool VlxRamPara::recreateRamFile() {
    bool ok = false;
    {
        plat::Locker<plat::Mutex> writers(dataFileWriters());
        ok = plat::replaceFileAtomically(plat::path(kRamFile), default_para_ramlist.data(), default_para_ramlist.size());
    }
    if (!ok) writeLogMsg(LOG_ERROR, "parameter file cannot be created");
    runShell("sync");
    plat::sleepMs(100);
    return ok;
}

void VlxRamPara::loadAtStartup() {
    // Start-up: no other thread exists yet.
    ManageLock::assumeHeldAlone();
    // The factory image lies under whatever the file brings.
    loadFactoryImage();
    if (Utils::isFileExists(kRamFile, false)) {
        if (!loadRamFile()) {
            plat::sleepMs(100);
            loadFactoryImage();
            recreateRamFile();
        }
    } else {
        recreateRamFile();
    }
    plat::sleepMs(100);

    // Run-time state that must not survive a restart.
    setRamU16(kScreenState, 0);
    g_language = ramByte(kLanguage);
    setRamU16(kTestPattern, 0);
    setRamU16(kCurrentMode, 0);
    setRamByte(kModeSaveRequest + 1, 0);
    for (unsigned w = 0; w < unsigned(kFadeEntries); ++w) {
        setRamByte(kFadeTable + 4 * w, 60);
        setRamByte(kFadeTable + 4 * w + 2, 60);
    }
    VlxCropSourceInit();
    shadowTakesRam();
    ManageLock::baseTakesRam();  // what start-up applies

    carryOwedModes();
    for (int slot = 0; slot < kModeSlots; ++slot) {
        mode_file_deal(slot, 0);
        plat::sleepUs(100);
    }
    clearStatusArea();
}

void VlxRamPara::clearStatusArea() {
    plat::Locker<plat::Mutex> lock(reg_file_mutex_);
    unsigned char* status = reg_para_ + kStatusArea;
    std::memset(status, 0, kStatusAreaSize);
    status[0] = 0x80;
    status[1] = 0x1F;
    status[2] = 0x06;
}

// ---------------------------------------------------------------- register file

uint8_t VlxRamPara::updateRegister(unsigned reg, uint8_t mask, uint8_t value) {
    if (reg >= kRegisterFileSize) return 0;
    plat::Locker<plat::Mutex> lock(reg_file_mutex_);
    reg_para_[reg] = uint8_t((reg_para_[reg] & ~mask) | (value & mask));
    return reg_para_[reg];
}

uint8_t VlxRamPara::ramByte(unsigned address) const {
    uint8_t b = 0;
    ram_.copyOut(address, 1, &b);
    return b;
}

void VlxRamPara::setRamByte(unsigned address, uint8_t v) { writeRam(address, &v, 1); }

uint16_t VlxRamPara::ramU16(unsigned address) const {
    unsigned char b[2] = {0, 0};
    ram_.copyOut(address, 2, b);
    return getU16(b, 0);
}

void VlxRamPara::setRamU16(unsigned address, uint16_t v) {
    unsigned char b[2];
    setU16(b, 0, v);
    writeRam(address, b, 2);
}

// The stamps are written under vlx_mutex by every writer (the input timings' too), so they are
// read under it.
ChangeStamp VlxRamPara::copyRam(unsigned address, unsigned length, unsigned char* out) const {
    plat::Locker<plat::Mutex> timings(vlx_mutex);
    if (length) ram_.copyOut(address, length, out);
    return ram_.stamp();
}

void VlxRamPara::writeRam(unsigned address, const unsigned char* in, unsigned length) {
    if (!insideRam(address, length) || length == 0) return;
    plat::Locker<plat::Mutex> timings(vlx_mutex);  // the input timings' readers hold it
    ram_.copyIn(address, in, length);
}

bool VlxRamPara::casRam(unsigned address, const unsigned char* in, unsigned length, ChangeStamp& since) {
    plat::Locker<plat::Mutex> timings(vlx_mutex);
    return ram_.compareAndSet(address, in, length, since);
}

ChangeStamp VlxRamPara::copyShadow(unsigned address, unsigned length, unsigned char* out) const {
    plat::Locker<plat::Mutex> lock(vlx_mutex);
    if (length) shadow_.copyOut(address, length, out);
    return shadow_.stamp();
}

uint16_t VlxRamPara::shadowU16(unsigned address) const {
    unsigned char b[2] = {0, 0};
    copyShadow(address, 2, b);
    return getU16(b, 0);
}

std::function<void()> vlxram::shadow_looked_hook;

bool VlxRamPara::shadowDiffers(unsigned address, unsigned length, const unsigned char* bytes, ChangeStamp* seen) const {
    bool differs = false;
    {
        plat::Locker<plat::Mutex> lock(vlx_mutex);
        if (seen) *seen = shadow_.stamp();
        differs = shadow_.differs(address, length, bytes);
    }
    if (shadow_looked_hook) shadow_looked_hook();
    return differs;
}

void VlxRamPara::setShadow(const unsigned char* ram) {
    plat::Locker<plat::Mutex> lock(vlx_mutex);
    shadow_.copyIn(0, ram, kRamSize);
}

bool VlxRamPara::casShadow(const unsigned char* ram, ChangeStamp& since) {
    plat::Locker<plat::Mutex> lock(vlx_mutex);
    return shadow_.compareAndSet(0, ram, kRamSize, since);
}

void VlxRamPara::shadowTakesRam() {
    unsigned char ram[kRamSize];
    plat::Locker<plat::Mutex> lock(vlx_mutex);
    ram_.copyOut(0, kRamSize, ram);
    shadow_.copyIn(0, ram, kRamSize);
}

// The input timings are vlx_mutex's bytes inside an array that manage_mutex guards: the
// analysis cannot guard part of an array, so these two say it by hand and touch nothing else.
void VlxRamPara::copyInputTiming(int input, unsigned char* out) const NO_THREAD_SAFETY_ANALYSIS {
    if (input < 0 || input >= kInputs) return;
    plat::Locker<plat::Mutex> timings(vlx_mutex);
    ram_.copyOut(kInputTiming + kInputTimingSize * unsigned(input), kInputTimingSize, out);
}

bool VlxRamPara::storeInputTiming(int input, const unsigned char* in) NO_THREAD_SAFETY_ANALYSIS {
    if (input < 0 || input >= kInputs) return false;
    const unsigned at = kInputTiming + kInputTimingSize * unsigned(input);
    plat::Locker<plat::Mutex> timings(vlx_mutex);
    if (!ram_.differs(at, kInputTimingSize, in)) return false;
    ram_.copyIn(at, in, kInputTimingSize);
    return true;
}

ChangeStamp VlxRamPara::snapshot(unsigned address, unsigned length, unsigned char* out) const {
    ManageMutexUnlessHeld lock;
    return copyRam(address, length, out);
}

uint16_t VlxRamPara::snapshotU16(unsigned address, ChangeStamp* seen) const {
    unsigned char b[2] = {0, 0};
    const ChangeStamp stamp = snapshot(address, 2, b);
    if (seen) *seen = stamp;
    return getU16(b, 0);
}

uint8_t VlxRamPara::registerValue(unsigned reg) const {
    if (reg >= kRegisterFileSize) return 0;
    plat::Locker<plat::Mutex> lock(reg_file_mutex_);
    return reg_para_[reg];
}

void VlxRamPara::readRegisters(unsigned first, unsigned count, uint8_t* out) const {
    if (first > kRegisterFileSize || count > kRegisterFileSize - first || count == 0) return;
    plat::Locker<plat::Mutex> lock(reg_file_mutex_);
    std::memcpy(out, reg_para_ + first, count);
}

// ---------------------------------------------------------------- protocol writes

int VlxRamPara::VlxRamParaDeal(unsigned char* data, unsigned short length, unsigned int address) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || address > kRamSize || length > kRamSize - address) return 1;
    if (!length) return 0;
    p->writeRam(address, data, length);
    if (address < kModeSaveRequest + 2 && address + length > kModeSaveRequest) ++p->mode_save_requests;
    return 0;
}

int VlxRamPara::VlxModeUserRamParaDeal(unsigned char* data, unsigned short length, unsigned int address) {
    VlxRamPara* p = p_vlxrampara_config;
    const unsigned mode = (address >> 12) & 0xFF;
    const unsigned offset = address & 0xFFF;
    if (!p || address < 0x1000 || address >= 0x11000 || mode < 1 || mode > unsigned(kModeSlots)) return 1;
    if (offset + length > kModeSlotSize) return 1;
    if (length) p->writeSlot(int(mode) - 1, offset, data, length);
    return 0;
}

// ---------------------------------------------------------------- user-mode slots

namespace {
bool insideSlot(int slot, unsigned offset, unsigned length) {
    return validSlot(slot) && offset <= kModeSlotSize && length <= kModeSlotSize - offset;
}
}  // namespace

bool VlxRamPara::putSlot(int slot, unsigned offset, const unsigned char* in, unsigned length) {
    if (!insideSlot(slot, offset, length)) return false;
    slots_[slot].copyIn(offset, in, length);
    return true;
}

bool VlxRamPara::readSlot(int slot, unsigned offset, unsigned length, unsigned char* out, ChangeStamp* seen) const {
    if (!insideSlot(slot, offset, length)) return false;
    plat::Locker<plat::Mutex> lock(mode_mutex);
    slots_[slot].copyOut(offset, length, out);
    if (seen) *seen = slots_[slot].stamp();
    return true;
}

bool VlxRamPara::writeSlot(int slot, unsigned offset, const unsigned char* in, unsigned length) {
    plat::Locker<plat::Mutex> lock(mode_mutex);
    return putSlot(slot, offset, in, length);
}

bool VlxRamPara::casSlot(int slot, unsigned offset, const unsigned char* in, unsigned length, ChangeStamp& since) {
    if (!insideSlot(slot, offset, length)) return false;
    plat::Locker<plat::Mutex> lock(mode_mutex);
    return slots_[slot].compareAndSet(offset, in, length, since);
}

uint16_t VlxRamPara::slotWord(int slot, unsigned ramAddress) const {
    unsigned char b[2] = {0, 0};
    if (ramAddress < kModeStart || ramAddress + 2 > kRamSize) return 0;
    readSlot(slot, kRamFileMarkerSize + ramAddress - kModeStart, 2, b);
    return getU16(b, 0);
}

bool VlxRamPara::recallMode(int slot) {
    VlxRamPara* p = p_vlxrampara_config;
    unsigned char image[kModeSlotSize];
    if (!p || !p->readSlot(slot, 0, kModeSlotSize, image) || image[0] != kModeSaved || image[1] != kModeSaved)
        return false;
    ManageMutexLocker lock;
    p->setRamU16(kCurrentMode, uint16_t(slot + 1));
    VlxRamParaDeal(image + kRamFileMarkerSize, uint16_t(kModeLength), kModeStart);
    ManageLock::update_flag = 1;
    return true;
}

void VlxRamPara::requestModeSave(int slot) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !validSlot(slot)) return;
    ManageMutexLocker lock;
    p->setRamU16(kModeSaveRequest, uint16_t(slot + 1));
    ++p->mode_save_requests;
    ManageLock::update_flag = 1;
}

// ---------------------------------------------------------------- user-mode files

namespace {
constexpr unsigned kOsdInSlot = kRamFileMarkerSize + kOsdEnable - kModeStart;
}  // namespace

int VlxRamPara::mode_file_deal(int slot, int operation) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !validSlot(slot)) return 0;
    unsigned char osd[2] = {0, 0};
    ChangeStamp seen = 0;
    p->readSlot(slot, kOsdInSlot, 2, osd, &seen);
    return dealFiles(slot, operation, getU16(osd, 0), seen);
}

int VlxRamPara::dealFiles(int slot, int operation, uint16_t osdWord, ChangeStamp since) {
    VlxRamPara* p = p_vlxrampara_config;
    if (operation == 1) {
        removeModeFiles(slot, osdWord);
        if (osdWord == 1) {
            const unsigned char off[2] = {0, 0};
            p->casSlot(slot, kOsdInSlot, off, sizeof off, since);
        }
    }
    std::string file;
    bool read = false;
    {
        plat::Locker<plat::QtMutex> files(Utils::_file_deal_mutex);
        read = readDataFile(modeFileName(slot), kModeFileSize, &file);
    }
    if (read && file.size() < kModeFileSize) {
        writeLogMsg(LOG_ERROR, modeFileName(slot) + " is " + std::to_string(file.size()) + " bytes, needs " +
                                   std::to_string(kModeFileSize) + ": refused");
        read = false;
    }
    // The rm and its sync ran outside any hold of the slot: a PC's write answered meanwhile (a
    // new mode saved into it) is newer than the look this decided from, and stays.
    const unsigned char empty[2] = {kModeEmpty, kModeEmpty};
    const bool landed = read ? p->casSlot(slot, 0, reinterpret_cast<const unsigned char*>(file.data()), kModeFileSize, since)
                             : p->casSlot(slot, 0, empty, sizeof empty, since);
    if (!landed) writeLogMsg(LOG_INFO, "user mode " + std::to_string(slot + 1) + " written meanwhile: kept as written");
    if (!read) return 0;
    runShell("sync");
    plat::sleepMs(100);
    return 1;
}

namespace {
// What register 11 bit 2's bookkeeping does with a slot, by its marker.
enum class SlotFiles { None, Delete, Write };
SlotFiles slotFilesFor(const unsigned char* image) {
    if (image[0] == kModeEmpty || image[1] == kModeEmpty) return SlotFiles::Delete;
    if (image[0] == kModeSaved || image[1] == kModeSaved) return SlotFiles::Write;
    return SlotFiles::None;
}
}  // namespace

void VlxRamPara::removeModeFiles(int slot, uint16_t osdWord) {
    runShell("rm  -rf  " + modeFileName(slot));
    plat::sleepUs(100);
    if (osdWord == 1) runShell("rm  -rf  " + menuCopyName(slot));
    plat::sleepUs(100);
    runShell("sync");
    plat::sleepUs(100);
}

bool VlxRamPara::slotHasFileWork(const unsigned char* marker) { return slotFilesFor(marker) != SlotFiles::None; }

bool VlxRamPara::keepSlotFiles(int slot) {
    VlxRamPara* p = p_vlxrampara_config;
    unsigned char image[kModeSlotSize];
    ChangeStamp seen = 0;
    if (!p || !p->readSlot(slot, 0, kModeSlotSize, image, &seen)) return true;
    switch (slotFilesFor(image)) {
    case SlotFiles::Delete:
        // (the save request word is the save's alone to clear: one made meanwhile stays)
        dealFiles(slot, 1, getU16(image, kOsdInSlot), seen);
        return true;
    case SlotFiles::Write: return storeImage(slot, image, seen, false) == 1;
    case SlotFiles::None: break;
    }
    return true;
}

bool VlxRamPara::slotFileImage(int slot, unsigned char* image) {
    VlxRamPara* p = p_vlxrampara_config;
    unsigned char copy[kModeSlotSize];
    if (!p || !p->readSlot(slot, 0, kModeSlotSize, copy)) return false;
    const SlotFiles what = slotFilesFor(copy);
    if (what == SlotFiles::None) return false;
    std::memcpy(image, copy, kModeFileSize);
    image[0] = image[1] = what == SlotFiles::Delete ? kModeEmpty : kModeSaved;
    return true;
}

// ---- the mode files the stop owes: "OMD1", a count, then per mode its slot, flags (bit 0: the
// menu copy) and its file's 4096 bytes (marked 0xFF 0xFF: its files deleted)
namespace {
constexpr char kOwedMagic[4] = {'O', 'M', 'D', '1'};
constexpr size_t kOwedHead = sizeof kOwedMagic + 1;
constexpr size_t kOwedEntry = 2 + kModeFileSize;
}  // namespace

const char* const VlxRamPara::kOwedModesFile = "/data/modes/pending_modes";

bool VlxRamPara::writeOwedModes(const std::vector<OwedMode>& owed) {
    if (owed.empty()) return true;  // (one entry a slot: at most 16)
    std::string file(kOwedMagic, sizeof kOwedMagic);
    file += char(owed.size());
    for (const OwedMode& m : owed) {
        file += char(m.slot);
        file += char(m.menuCopy ? 1 : 0);
        file.append(reinterpret_cast<const char*>(m.image.data()), m.image.size());
    }
    // Its own file, written by the stop alone: no turn behind a mode file's writer.
    if (plat::replaceFileAtomically(plat::path(kOwedModesFile), file)) return true;
    writeLogMsg(LOG_ERROR, std::string(kOwedModesFile) + " cannot be written: " + std::to_string(owed.size()) +
                               " user-mode files owed are lost");
    return false;
}

bool VlxRamPara::readOwedModes(const std::string& file, std::vector<OwedMode>* owed) {
    owed->clear();
    if (file.size() < kOwedHead || file.compare(0, sizeof kOwedMagic, kOwedMagic, sizeof kOwedMagic) != 0) return false;
    const size_t count = uint8_t(file[sizeof kOwedMagic]);
    if (count > size_t(kModeSlots) || file.size() != kOwedHead + count * kOwedEntry) return false;
    for (size_t i = 0; i < count; ++i) {
        const char* e = file.data() + kOwedHead + i * kOwedEntry;
        OwedMode m;
        m.slot = uint8_t(e[0]);
        m.menuCopy = (uint8_t(e[1]) & 1) != 0;
        std::memcpy(m.image.data(), e + 2, kModeFileSize);
        // a slot, and a file saved or deleted: nothing else is carried over a user's mode file
        if (!validSlot(m.slot) || m.image[0] != m.image[1] || (m.image[0] != kModeSaved && m.image[0] != kModeEmpty))
            return false;
        owed->push_back(m);
    }
    return true;
}

void VlxRamPara::carryOwedModes() {
    std::string file;
    if (!readDataFile(kOwedModesFile, kOwedHead + kModeSlots * kOwedEntry + 1, &file)) return;
    std::vector<OwedMode> owed;
    if (!readOwedModes(file, &owed)) {
        writeLogMsg(LOG_ERROR, std::string(kOwedModesFile) + " is not a file of owed user modes: removed");
    } else {
        for (const OwedMode& m : owed) {
            if (m.image[0] == kModeEmpty) {
                removeModeFiles(m.slot, getU16(m.image.data(), kOsdInSlot));
                continue;
            }
            // (a cut after some of these carries them all again: each lands whole)
            std::string now;
            const bool same = !m.menuCopy && readDataFile(modeFileName(m.slot), kModeFileSize, &now) &&
                              now.size() == kModeFileSize && std::memcmp(now.data(), m.image.data(), kModeFileSize) == 0;
            if (!same && !writeModeFiles(m.slot, m.image.data(), m.menuCopy)) return;  // kept for the next start
        }
        writeLogMsg(LOG_INFO, std::to_string(owed.size()) + " user-mode files owed by the last stop carried in");
    }
    // Gone for good before anything is saved anew, so that a later cut does not bring it back.
    if (!plat::removeFileDurably(plat::path(kOwedModesFile)))
        writeLogMsg(LOG_ERROR, std::string(kOwedModesFile) + " cannot be removed");
}

int VlxRamPara::mode_file_write(int slot, int operation) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !validSlot(slot)) return 0;
    if (operation != 1) return storeSlot(slot, nullptr, operation == 0);
    unsigned char mode[kModeLength];
    {
        ManageMutexUnlessHeld lock;
        p->copyRam(kModeStart, kModeLength, mode);
    }
    return storeSlot(slot, mode, false);
}

int VlxRamPara::storeSlot(int slot, const unsigned char* mode, bool menuCopy) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !validSlot(slot)) return 0;
    unsigned char image[kModeSlotSize];
    ChangeStamp seen = 0;
    p->readSlot(slot, 0, kModeSlotSize, image, &seen);
    if (mode) std::memcpy(image + kRamFileMarkerSize, mode, kModeLength);
    return storeImage(slot, image, seen, menuCopy);
}

int VlxRamPara::storeImage(int slot, unsigned char* image, ChangeStamp since, bool menuCopy) {
    VlxRamPara* p = p_vlxrampara_config;
    // The slot changes only once its file holds the new image.
    image[0] = image[1] = kModeSaved;
    if (!writeModeFiles(slot, image, menuCopy)) return 0;
    // A PC's slot write answered while the file was written is newer than this image: it
    // stays, and reaches the file with its own hand-over (register 11 bit 2).
    p->casSlot(slot, 0, image, kModeSlotSize, since);
    // The replacement has synced the file and its folder; no pause on the GUI thread after it.
    runShell("sync");
    return 1;
}

bool VlxRamPara::writeModeFiles(int slot, const unsigned char* image, bool menuCopy) {
    plat::Locker<plat::Mutex> writers(dataFileWriters());
    if (!plat::replaceFileAtomically(plat::path(modeFileName(slot)), image, kModeFileSize)) {
        writeLogMsg(LOG_ERROR, modeFileName(slot) + " cannot be written");
        return false;
    }
    if (menuCopy && getU16(image, kOsdInSlot) == 1) {
        // Menu copy beside the mode; a half-received menu file is never copied
        // because the file transfer stores it whole, under the same writers' lock.
        std::string menu;
        if (readDataFile(kMenuFile, jsonfile::kMaxBytes, &menu)) {
            if (!plat::replaceFileAtomically(plat::path(menuCopyName(slot)), menu.data(), menu.size()))
                writeLogMsg(LOG_ERROR, menuCopyName(slot) + " cannot be written");
        }
    }
    return true;
}

bool VlxRamPara::saveRamFile(const unsigned char* ram, const std::function<bool(plat::StagedFile&)>& land) {
    std::string file;
    if (!readDataFile(kRamFile, kRamFileSize, &file)) {
        writeLogMsg(LOG_ERROR, "parameter file missing, change not saved");
        return false;
    }
    // Same bytes as an update in place at offset 2: marker and tail are kept.
    if (file.size() < kRamFileMinSize) file.resize(kRamFileMinSize, '\0');
    std::memcpy(&file[kRamFileMarkerSize], ram + kSavedStart, kSavedLength);
    plat::StagedFile staged;
    bool ok = staged.open(plat::path(kRamFile)) && staged.append(file.data(), file.size()) && staged.finish();
    ok = ok && (land ? land(staged) : staged.renameOver());
    if (!ok) {
        staged.discard();
        writeLogMsg(LOG_ERROR, "parameter file cannot be written, change not saved");
        return false;
    }
    staged.syncFolder();
    return true;
}

bool VlxRamPara::ramFileHolds(const unsigned char* ram) {
    std::string file;
    return readDataFile(kRamFile, kRamFileSize, &file) && file.size() >= kRamFileMinSize &&
           std::memcmp(file.data() + kRamFileMarkerSize, ram + kSavedStart, kSavedLength) == 0;
}

int VlxRamPara::ram_para_reset() {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return 0;
    RamFileWriter::flush();  // a queued save would land on the factory image
    {
        // the factory bytes go in under the writers' lock, the file's write and sync after it
        ManageMutexUnlessHeld lock;
        p->loadFactoryImage();
        p->shadowTakesRam();
    }
    return p->recreateRamFile() ? 1 : 0;
}

// ---------------------------------------------------------------- crop, source and mode operations

void VlxRamPara::VlxCropSourceInit() {
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return;
    ManageMutexUnlessHeld lock;  // a PC may write the table meanwhile
    for (int i = 0; i < kCropEntries; ++i) {
        int input = 0, id = 0;
        if (!decodeCropWord(p->ramU16(cropEntry(i)), &input, &id)) continue;
        const int bit = kCropIdsPerInput * input + id - 1;
        g_cut_source_state[bit / 8] |= uint8_t(1u << (bit % 8));
    }
}

int VlxRamPara::VlxGetSourceNum(int input, int count) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || count < 1) return 0;
    if (count > kCropEntries) count = kCropEntries;
    ManageMutexUnlessHeld lock;
    int num = 0;
    for (int i = 0; i < count; ++i) {
        const uint16_t word = p->ramU16(cropEntry(i));
        if ((word & kCropInUse) && (word & 0xFF) == input) ++num;
    }
    return num;
}

int VlxRamPara::VlxGetCropID(int input, int n) {
    if (!validInput(input) || n < 1) return 0;
    int seen = 0;
    for (int id = 1; id <= kCropIdsPerInput; ++id) {
        if (cropBit(input, id) && ++seen == n) return id;
    }
    return 0;
}

int VlxRamPara::VlxAddCropID(int input) {
    if (!validInput(input)) return 0;
    for (int id = 1; id <= kCropIdsPerInput; ++id)
        if (!cropBit(input, id)) return id;
    return 0;
}

void VlxRamPara::VlxGetCropPara(int input, int n, CROP_PARA* out, int* index) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) {
        if (index) *index = kCropEntries;
        return;
    }
    ManageMutexUnlessHeld lock;
    const int i = findCropEntry(p, input, n);
    if (index) *index = i;
    if (i >= kCropEntries || !out) return;
    const unsigned e = cropEntry(i);
    out->key = p->ramU16(e);
    out->x = p->ramU16(e + 2);
    out->y = p->ramU16(e + 4);
    out->width = p->ramU16(e + 6);
    out->height = p->ramU16(e + 8);
}

void VlxRamPara::VlxSetCropPara(char input, char n, CROP_PARA* in) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !in) return;
    // The crop screen stores an edit without an apply step of its own: the edit is
    // handed to the scaler here, like an added or deleted crop. The entry is found in the
    // same hold, so a PC's write in between cannot move it.
    ManageMutexLocker lock;
    const int i = findCropEntry(p, input, n);
    if (i >= kCropEntries) return;
    const unsigned e = cropEntry(i);
    p->setRamU16(e + 2, uint16_t(in->x));
    p->setRamU16(e + 4, uint16_t(in->y));
    p->setRamU16(e + 6, uint16_t(in->width));
    p->setRamU16(e + 8, uint16_t(in->height));
    ManageLock::update_flag = 1;
}

int VlxRamPara::VlxAddNewCrop(int input, CROP_PARA* in) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !in || !validInput(input)) return 0;
    // A PC write or a mode recall may have changed the table since the last rebuild; the
    // free entry is taken in the same hold as the rebuild and the search.
    ManageMutexLocker lock;
    VlxCropSourceInit();
    const int id = VlxAddCropID(input);
    if (id == 0) return 0;
    int free = kCropEntries;
    for (int i = 0; i < kCropEntries; ++i) {
        if (!(p->ramU16(cropEntry(i)) & kCropInUse)) {
            free = i;
            break;
        }
    }
    if (free >= kCropEntries) return 0;
    const unsigned e = cropEntry(free);
    p->setRamU16(e, uint16_t(kCropInUse | ((id - 1) << 8) | input));
    p->setRamU16(e + 2, uint16_t(in->x));
    p->setRamU16(e + 4, uint16_t(in->y));
    p->setRamU16(e + 6, uint16_t(in->width));
    p->setRamU16(e + 8, uint16_t(in->height));
    ManageLock::update_flag = 1;
    return 1;
}

void VlxRamPara::VlxDeleteCrop(char input, char n) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return;
    ManageMutexLocker lock;
    const int i = findCropEntry(p, input, n);
    if (i >= kCropEntries) return;
    const uint16_t cropInput = p->ramU16(cropEntry(i)) & 0xFF;
    p->setRamU16(cropEntry(i), 0);
    // A window left on the cleared entry would show whichever crop takes it next: it
    // shows the crop's whole input instead.
    for (int w = 0; w < kWindowSlots; ++w)
        if (p->ramU16(windowField(w, kWinSource)) == uint16_t(kSourceIsCrop | i))
            p->setRamU16(windowField(w, kWinSource), cropInput);
    ManageLock::update_flag = 1;
}

int VlxRamPara::liveImageSource(unsigned char window, short* isCrop, char* cropIndex) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return 0;
    unsigned char ram[kRamSize];
    p->snapshot(0, kRamSize, ram);
    return VlxGetImageSource(ram, window, isCrop, cropIndex, 0);
}

int VlxRamPara::VlxGetImageSource(unsigned char* block, unsigned char window, short* isCrop, char* cropIndex,
                                  unsigned char isModeCopy) {
    if (!block || window >= kWindowSlots) return 0;
    const unsigned base = isModeCopy ? kModeStart : 0;
    const uint16_t word = getU16(block, windowField(window, kWinSource) - base);
    if (!(word & kSourceIsCrop)) {
        if (isCrop) *isCrop = 0;
        return word & 0xFF;
    }
    const int index = word & 0xFF;
    if (index >= kCropEntries) {
        // Names no table entry (PC-written RAM or an old mode): shown as input 0, and no
        // caller is handed an index it would use to look past the table.
        if (isCrop) *isCrop = 0;
        return 0;
    }
    if (isCrop) *isCrop = 1;
    if (cropIndex) *cropIndex = char(index);
    const int input = getU16(block, cropEntry(index) - base) & 0xFF;
    return validInput(input) ? input : 0;
}

void VlxRamPara::VlxSetImageSource(int n, char inputByte, char windowByte) {
    VlxRamPara* p = p_vlxrampara_config;
    // Bytes from a frame or a screen: plain char is signed on the PC and unsigned on
    // the ARM board, so read them as bytes on both.
    const int input = uint8_t(inputByte), window = uint8_t(windowByte);
    if (!p || window >= kWindowSlots || !validInput(input)) {
        writeLogMsg(LOG_WARNING, "source of window " + std::to_string(window) + " to input " +
                                     std::to_string(input) + " refused");
        return;
    }
    // the crop's index is looked up in the same hold that stores it: a PC's RAM write
    // between the two could move or free the entry
    ManageMutexLocker lock;
    uint16_t word = uint16_t(input);
    if (n > 0) {
        const int i = findCropEntry(p, input, n);
        word = i < kCropEntries ? uint16_t(kSourceIsCrop | i) : 0;
    }
    p->setRamU16(windowField(window, kWinSource), word);
    if (p->ramU16(kCurrentMode) == p->shadowU16(kCurrentMode)) p->setRamU16(kCurrentMode, 0);
    ManageLock::update_flag = 1;
}

bool VlxRamPara::VlxSetEDIDPara(int input, short width, short height, short rate, const ChangeStamp* since) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p || !validInput(input)) return false;
    const unsigned a = kEdidPara + kEdidParaSize * unsigned(input);
    ManageMutexLocker lock;
    unsigned char words[kEdidParaSize];
    setU16(words, 0, uint16_t(width));
    setU16(words, 2, uint16_t(height));
    setU16(words, 4, uint16_t(rate));
    if (since) {
        ChangeStamp seen = *since;
        if (!p->casRam(a, words, kEdidParaSize, seen)) return false;
    } else {
        p->writeRam(a, words, kEdidParaSize);
    }
    ManageLock::update_flag = 1;
    return true;
}

int VlxRamPara::VlxUserModeSaved(int slot) {
    VlxRamPara* p = p_vlxrampara_config;
    unsigned char marker[2] = {0, 0};
    if (!p || !p->readSlot(slot, 0, 2, marker)) return 0;
    return marker[0] == kModeSaved && marker[1] == kModeSaved ? 1 : 0;
}

int VlxRamPara::VlxGetCurrentModeIndex() {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return 0;
    const int mode = p->snapshotU16(kCurrentMode) & 0xFF;
    return mode <= kModeSlots ? mode : 0;
}

int VlxRamPara::VlxLanguageChanged() {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return 0;
    const uint16_t language = p->snapshotU16(kLanguage);  // a PC may be writing it
    if (language == p->shadowU16(kLanguage)) return 0;
    g_language = uint8_t(language);
    return 1;
}

int VlxRamPara::VlxUserModeIndex(char currentByte, char directionByte) {
    const int direction = uint8_t(directionByte);  // char's sign differs between PC and board
    if (direction > 2) return 256;
    const int cur = uint8_t(currentByte) % kModeSlots;
    for (int k = direction == 2 ? 0 : 1; k <= kModeSlots; ++k) {
        const int s = direction == 0 ? (cur - k + kModeSlots * 2) % kModeSlots : (cur + k) % kModeSlots;
        if (VlxUserModeSaved(s)) return s;
    }
    return 256;
}

// ---------------------------------------------------------------- change notification

int VlxRamPara::test_signal(int code) {
    VlxRamPara* p = p_vlxrampara_config;
    if (!p) return 0;
    if (QThread::currentThread() == p->thread()) {
        // On the GUI thread the slot runs at once; holding the mutex across it would
        // deadlock a refresh that asks for another save.
        emit p->sig_update_para(code);
    } else {
        plat::Locker<plat::QtMutex> lock(Utils::_test_signal_mutex);
        emit p->sig_update_para(code);
    }
    return 1;
}

void VlxRamPara::ram_para_save() { test_signal(1); }
