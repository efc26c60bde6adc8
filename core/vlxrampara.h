#pragma once
// Parameter RAM: the 4096 bytes that the PC, the screens and both engines share,
// its shadow copy (the RAM as last saved), the 16 user-mode slots, the controller
// register file with its status area, and the crop/source/mode operations on them.
//
// Hand-over to the scaler: a writer of scaler-relevant RAM holds ManageLock::manage_mutex
// (core/manage_lock.h; c331_manage::manage_mutex) while it changes the bytes and sets
// ManageLock::update_flag (1, or 2 for the user-mode bookkeeping).
#include <QObject>

#include <pthread.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/manage_lock.h"
#include "core/stamped_bytes.h"
#include "platform/annotated_mutex.h"

namespace plat {
class StagedFile;
}

// ---- RAM map (protocol addresses; u16 fields little-endian)
namespace vlxram {
constexpr unsigned kRamSize = 4096;
constexpr unsigned kInputTiming = 0x100;      // + 6p: u16 width, u16 height, u8 rate, u8 spare
constexpr unsigned kInputTimingSize = 6;
constexpr unsigned kInputTimingEnd = 0x124;
constexpr unsigned kSavedStart = 0x300;       // 0x300..0xFFF goes to /data/ram_device_info
constexpr unsigned kSavedLength = kRamSize - kSavedStart;   // 3328
constexpr unsigned kModeStart = 0x380;        // 0x380..0xFFF is what a user mode holds
constexpr unsigned kModeLength = kRamSize - kModeStart;     // 3200

constexpr unsigned kLanguage = 0x300;
constexpr unsigned kUnused302 = 0x302;
constexpr unsigned kPanelLock = 0x304;
constexpr unsigned kWifiApOff = 0x306;
constexpr unsigned kTestPattern = 0x360;
constexpr unsigned kCurrentMode = 0x362;
constexpr unsigned kModeSaveRequest = 0x364;
constexpr unsigned kEdidPara = 0x380;         // + 6p: u16 width, height, rate
constexpr unsigned kEdidParaSize = 6;
constexpr unsigned kSpliceMode = 0x560;
constexpr unsigned kLedWidth = 0x562;
constexpr unsigned kLedHeight = 0x564;
constexpr unsigned kOutputX = 0x566;
constexpr unsigned kOutputY = 0x568;
constexpr unsigned kPanelResults = 0x56A;     // 5 x u16 written back by the scaler
constexpr unsigned kOut1Width = 0x584;
constexpr unsigned kOut1Height = 0x586;
constexpr unsigned kOut2X = 0x588;
constexpr unsigned kOut2Y = 0x58A;
constexpr unsigned kOut2Width = 0x58C;
constexpr unsigned kOut2Height = 0x58E;
constexpr unsigned kCropTable = 0x5C0;        // + 10i: key word, x, y, width, height
constexpr unsigned kCropEntrySize = 10;
constexpr int kCropEntries = 40;
constexpr unsigned kAudioWindow = 0x840;
constexpr unsigned kDotByDot = 0x842;
constexpr unsigned kScreenState = 0x844;
constexpr unsigned kSwitchEffect = 0x846;
constexpr unsigned kOsdEnable = 0x84C;
constexpr unsigned kBrightness = 0x880;
constexpr unsigned kContrast = 0x882;
constexpr unsigned kSharpness = 0x884;
constexpr unsigned kSaturation = 0x886;
constexpr unsigned kColorTempMode = 0x888;
constexpr unsigned kColorTempR = 0x88A;
constexpr unsigned kColorTempG = 0x88C;
constexpr unsigned kColorTempB = 0x88E;
constexpr unsigned kLayerPriority = 0x8A0;    // + 2k, k = 0..15
constexpr unsigned kUnused8DE = 0x8DE;
constexpr unsigned kWindowRecords = 0x8E0;    // + 26w, 16 slots up to 0xA7F, windows 0..5 in use
constexpr unsigned kWindowRecordSize = 26;
constexpr int kWindowSlots = 16;
constexpr int kWindows = 6;
constexpr unsigned kFadeTable = 0xB00;        // + 4w: u16 fade-in, u16 fade-out; 16 entries
constexpr int kFadeEntries = 16;

// window record offsets
constexpr unsigned kWinState = 0;
constexpr unsigned kWinAttributes = 4;
constexpr unsigned kWinHotBackup = 6;
constexpr unsigned kWinSource = 8;            // bit 15 set: low byte = crop-table index
constexpr unsigned kWinX = 10;
constexpr unsigned kWinY = 12;
constexpr unsigned kWinWidth = 14;
constexpr unsigned kWinHeight = 16;
constexpr unsigned kWinOutput = 18;           // bit 0 black, 1 freeze, 2 fade, byte +19 dot-by-dot on
constexpr unsigned kWinSound = 20;            // bit 15 sound wanted
constexpr unsigned kWinDbdMode = 22;
constexpr uint16_t kSourceIsCrop = 0x8000;

constexpr unsigned windowField(int window, unsigned offset) {
    return kWindowRecords + kWindowRecordSize * unsigned(window) + offset;
}

// crop key word: bit 15 in use, bits 14..8 id - 1, bits 7..0 input
constexpr uint16_t kCropInUse = 0x8000;
constexpr int kInputs = 6;
constexpr int kCropIdsPerInput = 40;

// user-mode slots
constexpr int kModeSlots = 16;
constexpr unsigned kModeSlotSize = 4098;      // marker (2) + copy of 0x380..0xFFF + spare
constexpr unsigned kModeFileSize = 4096;      // the last two slot bytes are never stored
constexpr uint8_t kModeSaved = 0xAA;
constexpr uint8_t kModeEmpty = 0xFF;

// controller register file and status area
constexpr unsigned kRegisterFileSize = 1061;
constexpr unsigned kStatusArea = 37;          // status byte 0 = register 37
constexpr unsigned kStatusAreaSize = 1024;

// /data/ram_device_info: marker + RAM 0x300..0xFFF (+ zeros when made from the default image)
constexpr unsigned kRamFileMarkerSize = 2;
constexpr unsigned kRamFileSize = 4096;
constexpr unsigned kRamFileMinSize = kRamFileMarkerSize + kSavedLength;   // 3330
}  // namespace vlxram

// Crop record as the screens pass it: key word (reads only), x, y, width, height.
struct CROP_PARA {
    int key = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Bits of used crop ids: input s owns bits 40s..40s+39 (bit 40s + id - 1). GUI thread only
// (start-up, then the input screens).
extern unsigned char g_cut_source_state[30];

// Factory image laid out like /data/ram_device_info: 0xAA 0xAA, then RAM address a
// at offset 2 + (a - 0x300), zeros after offset 3329.
extern const std::array<unsigned char, vlxram::kRamFileSize> default_para_ramlist;

class VlxRamPara : public QObject {
    Q_OBJECT
public:
    // Creates and loads the store on the first call (start-up only).
    static VlxRamPara* pInstance();
    static VlxRamPara* p_vlxrampara_config;  // set by start-up before the other threads, read-only after

    // ---- data
    // The RAM, the shadow and the slots are each one StampedBytes (core/stamped_bytes.h), private,
    // and no function hands out a pointer into one: every way in copies in or out under the
    // bytes' lock (or requires it: for a holder of that lock, inside its hold, ManageMutexLocker
    // or plat::Locker is the scope, these the view). Every write is stamped. A write-back decided
    // from a copy taken in an earlier hold goes through the compare-and-set (casRam, casShadow,
    // casSlot) with the stamp that copy returned: it lands only over bytes unchanged since, so a
    // newer write stays.
    //
    // RAM bytes: every writer holds ManageLock::manage_mutex (c331_manage::manage_mutex), and
    // vlx_mutex as well while it copies bytes in or reads the stamps; readers hold manage_mutex
    // or copy through snapshot(). The input timings (0x100..0x123) are the exception: their
    // receivers write and read them under vlx_mutex alone, through storeInputTiming() /
    // copyInputTiming().
    mutable plat::Mutex vlx_mutex ACQUIRED_AFTER(ManageLock::manage_mutex){plat::Lock::VlxRam};
    uint8_t ramByte(unsigned address) const REQUIRES(ManageLock::manage_mutex);
    void setRamByte(unsigned address, uint8_t v) REQUIRES(ManageLock::manage_mutex);
    uint16_t ramU16(unsigned address) const REQUIRES(ManageLock::manage_mutex);
    void setRamU16(unsigned address, uint16_t v) REQUIRES(ManageLock::manage_mutex);
    // A copy of RAM bytes out, or in, for a holder of manage_mutex (under vlx_mutex too, the
    // input timings' lock). A range past the RAM's end copies nothing. The copy out returns
    // the stamp it saw.
    ChangeStamp copyRam(unsigned address, unsigned length, unsigned char* out) const
        REQUIRES(ManageLock::manage_mutex);
    void writeRam(unsigned address, const unsigned char* in, unsigned length) REQUIRES(ManageLock::manage_mutex);
    // writeRam, only while [address, address + length) is unchanged since `since`. True when it
    // landed (and `since` is then this write's stamp).
    bool casRam(unsigned address, const unsigned char* in, unsigned length, ChangeStamp& since)
        REQUIRES(ManageLock::manage_mutex);
    // One input's timing record (6 bytes at 0x100 + 6 * input), under vlx_mutex alone: the
    // receivers' threads and the screens, none of which holds manage_mutex for it. The store
    // returns whether the bytes changed.
    void copyInputTiming(int input, unsigned char* out) const EXCLUDES(vlx_mutex);
    bool storeInputTiming(int input, const unsigned char* in) EXCLUDES(vlx_mutex);
    // A copy that no writer tears: under manage_mutex (unless this thread holds it) and
    // vlx_mutex. For readers outside a hold: screens, the input-source thread, the FPGA engine.
    ChangeStamp snapshot(unsigned address, unsigned length, unsigned char* out) const EXCLUDES(vlx_mutex);
    uint16_t snapshotU16(unsigned address, ChangeStamp* seen = nullptr) const;

    // The shadow, the RAM as last saved: the change notification's save and the screens (GUI
    // thread), start-up before them. Under vlx_mutex, each access one copy.
    ChangeStamp copyShadow(unsigned address, unsigned length, unsigned char* out) const EXCLUDES(vlx_mutex);
    uint16_t shadowU16(unsigned address) const EXCLUDES(vlx_mutex);
    // True when `bytes` differ from the shadow's [address, address + length); *seen, when
    // given, the shadow's stamp the comparison saw.
    bool shadowDiffers(unsigned address, unsigned length, const unsigned char* bytes, ChangeStamp* seen = nullptr) const
        EXCLUDES(vlx_mutex);
    // The shadow becomes `ram`, a copy of the whole RAM, or the RAM itself; casShadow only while
    // the shadow is unchanged since `since`.
    void setShadow(const unsigned char* ram) EXCLUDES(vlx_mutex);
    bool casShadow(const unsigned char* ram, ChangeStamp& since) EXCLUDES(vlx_mutex);
    void shadowTakesRam() REQUIRES(ManageLock::manage_mutex) EXCLUDES(vlx_mutex);

    // The user-mode slots: a PC's slot writes and reads (link threads), the panel's save,
    // recall and bookkeeping (GUI thread). Under mode_mutex, a leaf lock held only for a
    // copy: nothing else is taken and no file is touched while it is held. One stamp per slot:
    // a write anywhere in it is a change of the slot.
    mutable plat::Mutex mode_mutex{plat::Lock::ModeSlots};
    // Slot bytes [offset, offset + length) of slot 0..15 out or in; false when the range leaves
    // the slot. *seen, when given, the slot's stamp the copy saw.
    bool readSlot(int slot, unsigned offset, unsigned length, unsigned char* out, ChangeStamp* seen = nullptr) const
        EXCLUDES(mode_mutex);
    bool writeSlot(int slot, unsigned offset, const unsigned char* in, unsigned length) EXCLUDES(mode_mutex);
    // writeSlot, only while the slot is unchanged since `since`. True when it landed (and `since`
    // is then this write's stamp).
    bool casSlot(int slot, unsigned offset, const unsigned char* in, unsigned length, ChangeStamp& since)
        EXCLUDES(mode_mutex);
    // writeSlot for a holder of mode_mutex (a test's slow writer).
    bool putSlot(int slot, unsigned offset, const unsigned char* in, unsigned length) REQUIRES(mode_mutex);
    // The slot's copy of a RAM word (0x380..0xFFF), 0 for another address.
    uint16_t slotWord(int slot, unsigned ramAddress) const;
    // Save requests written into RAM 0x364 (the panel's touch, a PC's RAM write), counted
    // under c331_manage::manage_mutex: a request for the slot being saved that comes in
    // during its save is told from the one being served.
    uint32_t mode_save_requests GUARDED_BY(ManageLock::manage_mutex) = 0;
    // The register file's read-modify-writes (the transports, the input services, the
    // scaler, each on its own thread) and the PC's reads of it go through these, under one
    // lock, so that no thread's change of a bit loses another's. The new byte is returned.
    uint8_t updateRegister(unsigned reg, uint8_t mask, uint8_t value) EXCLUDES(reg_file_mutex_);
    uint8_t registerValue(unsigned reg) const EXCLUDES(reg_file_mutex_);
    void readRegisters(unsigned first, unsigned count, uint8_t* out) const EXCLUDES(reg_file_mutex_);
    // Tests: the register file (status area at vlxram::kStatusArea) on a test's own thread.
    unsigned char* registersForTest() NO_THREAD_SAFETY_ANALYSIS { return reg_para_; }

    // u16 little-endian access to a block (a copy of RAM, shadow or slot bytes)
    static uint16_t getU16(const unsigned char* block, unsigned offset) {
        return uint16_t(block[offset] | (block[offset + 1] << 8));
    }
    static void setU16(unsigned char* block, unsigned offset, uint16_t v) {
        block[offset] = uint8_t(v & 0xFF);
        block[offset + 1] = uint8_t(v >> 8);
    }

    // ---- protocol writes (no flag; the caller holds manage_mutex): 0 done, 1 refused
    static int VlxRamParaDeal(unsigned char* data, unsigned short length, unsigned int address)
        REQUIRES(ManageLock::manage_mutex);
    static int VlxModeUserRamParaDeal(unsigned char* data, unsigned short length, unsigned int address);

    // ---- user-mode slots
    // Recall: one copy of the slot into RAM 0x380..0xFFF and the current-mode word, handed to
    // the scaler in one hold of manage_mutex. False when the slot holds no saved mode.
    static bool recallMode(int slot);
    // The panel's save request for a slot (0..15), carried out by the change notification.
    static void requestModeSave(int slot);
    // Writes the slot's file and then the slot from one image: `mode` (a copy of RAM
    // 0x380..0xFFF) when given, else the slot's own bytes, marked saved; `menuCopy` also copies
    // the menu file when the image has the OSD on. No lock is held across the file's write
    // but the file mutex: a PC's write that lands on the slot meanwhile is newer than the
    // image and stays in the slot. 1 = written, 0 = bad slot or write failed.
    static int storeSlot(int slot, const unsigned char* mode, bool menuCopy);

    // ---- user-mode files
    // operation 0 loads slot from its file, 1 deletes its files then loads (fails). 1 = loaded.
    // The slot is written only while unchanged since the call began: a PC's write meanwhile is
    // newer and stays.
    static int mode_file_deal(int slot, int operation);
    // Register 11 bit 2's bookkeeping of one slot: from one copy of it, a slot marked empty has
    // its files deleted (mode_file_deal 1), a slot marked saved its file written (storeSlot);
    // the slot itself is written back only while unchanged since that copy. false: a saved
    // slot's file not written (logged).
    static bool keepSlotFiles(int slot);
    // By a slot's marker (its first two bytes): keepSlotFiles has its files to delete or write.
    static bool slotHasFileWork(const unsigned char* marker);
    // What keepSlotFiles would do for the slot, as an image of its file (marked 0xAA 0xAA, or
    // 0xFF 0xFF for a deletion of its files) for the stop's owed files; false: nothing to do.
    static bool slotFileImage(int slot, unsigned char* image);
    // Mode files the program's stop owes (a slot's file image, as slotFileImage gives it, or a
    // saved mode with the menu copy beside it), written in one replacement of the pending file
    // whatever their number; the next start carries them into the mode files before anything
    // reads those. False: not written (logged).
    struct OwedMode {
        int slot = 0;
        bool menuCopy = false;
        std::array<unsigned char, vlxram::kModeFileSize> image{};
    };
    static bool writeOwedModes(const std::vector<OwedMode>& owed);
    // The pending file's bytes as written by writeOwedModes; false for anything else.
    static bool readOwedModes(const std::string& file, std::vector<OwedMode>* owed);
    static const char* const kOwedModesFile;
    // operation 1 copies RAM 0x380..0xFFF into the slot first; 0 also copies the menu file.
    // 1 = written, 0 = bad slot or write failed.
    static int mode_file_write(int slot, int operation);
    static int ram_para_reset();
    // Writes RAM 0x300..0xFFF of `ram` into /data/ram_device_info after its marker, keeping the
    // file's tail; a missing file is not recreated. The new file is staged beside the old one
    // (written and flushed) with no lock held, so another write of the file runs beside it and
    // neither waits for the other; `land` then renames it over the old one
    // (StagedFile::renameOver) or drops it when a newer write supersedes it, and returns false
    // only when the rename failed. The folder is flushed after. False: not written (logged).
    static bool saveRamFile(const unsigned char* ram, const std::function<bool(plat::StagedFile&)>& land = {});
    // The file holds RAM 0x300..0xFFF of `ram` (false when it cannot be read or is short).
    static bool ramFileHolds(const unsigned char* ram);

    // ---- crop, source and mode operations (inputs 0..5, ids 1..40, windows 0..5, n from 1)
    static void VlxCropSourceInit();
    static int VlxGetSourceNum(int input, int count);
    static int VlxGetCropID(int input, int n);
    static int VlxAddCropID(int input);
    static void VlxGetCropPara(int input, int n, CROP_PARA* out, int* index);
    static void VlxSetCropPara(char input, char n, CROP_PARA* in);
    static int VlxAddNewCrop(int input, CROP_PARA* in);
    // Clears the crop's key word; a window showing it is given the crop's whole input in the same hold.
    static void VlxDeleteCrop(char input, char n);
    // block: a copy of the RAM (isModeCopy 0) or of a mode starting at RAM 0x380 (slot byte 2 on).
    static int VlxGetImageSource(unsigned char* block, unsigned char window, short* isCrop, char* cropIndex,
                                 unsigned char isModeCopy);
    // The same for the live RAM, read under manage_mutex (unless this thread holds it).
    static int liveImageSource(unsigned char window, short* isCrop, char* cropIndex);
    static void VlxSetImageSource(int n, char input, char window);
    // `since`, when given, is the stamp of the copy of the input's 6 RAM bytes the caller decided
    // from: the words are set only while unchanged since (a writer's newer words stay). True when set.
    static bool VlxSetEDIDPara(int input, short width, short height, short rate, const ChangeStamp* since = nullptr);
    static int VlxUserModeSaved(int slot);
    static int VlxGetCurrentModeIndex();
    static int VlxLanguageChanged();
    static int VlxUserModeIndex(char current, char direction);

    // ---- change notification
    static int test_signal(int code);
    static void ram_para_save();

    // Test hook: drops the singleton so that the next pInstance() loads afresh.
    static void resetInstanceForTest();

signals:
    void sig_update_para(int code);

private:
    VlxRamPara();
    ~VlxRamPara() override;
    void loadAtStartup();
    bool loadRamFile() REQUIRES(ManageLock::manage_mutex);
    void loadFactoryImage() REQUIRES(ManageLock::manage_mutex);   // RAM 0x300..0xFFF
    // The parameter file from the factory image (its write, then "sync"): no lock held.
    bool recreateRamFile();
    // storeSlot's file and slot write of `image` (a whole slot), decided from the slot as of `since`.
    static int storeImage(int slot, unsigned char* image, ChangeStamp since, bool menuCopy);
    // mode_file_deal, decided from the slot `osdWord` (its 0x84C word) was read from, as of `since`.
    static int dealFiles(int slot, int operation, uint16_t osdWord, ChangeStamp since);
    // A mode's files: its file from `image` (4096 bytes, marked) and, with `menuCopy` and the
    // image's OSD on, the menu copy beside it; under the data-file writers' lock. False: the
    // mode file not written (logged).
    static bool writeModeFiles(int slot, const unsigned char* image, bool menuCopy);
    // Removes the mode's file and, when its OSD word is 1, its menu copy; then "sync".
    static void removeModeFiles(int slot, uint16_t osdWord);
    // Start-up, before the slots load: the mode files the last stop owed, carried in.
    static void carryOwedModes();

    void clearStatusArea() EXCLUDES(reg_file_mutex_);

    // The RAM: one stamp per u16 word, so a write-back of one word is not refused for its neighbour's.
    using RamBytes = StampedBytes<vlxram::kRamSize, 2>;
    // The shadow: taken and compared whole.
    using ShadowBytes = StampedBytes<vlxram::kRamSize, vlxram::kRamSize>;
    // A slot: one stamp for the slot.
    using SlotBytes = StampedBytes<vlxram::kModeSlotSize, vlxram::kModeSlotSize>;
    RamBytes ram_ GUARDED_BY(ManageLock::manage_mutex);
    ShadowBytes shadow_ GUARDED_BY(vlx_mutex);
    SlotBytes slots_[vlxram::kModeSlots] GUARDED_BY(mode_mutex);
    mutable plat::Mutex reg_file_mutex_{plat::Lock::RegFile};   // the register file's read-modify-writes and the PC's reads
    unsigned char reg_para_[vlxram::kRegisterFileSize] GUARDED_BY(reg_file_mutex_);
};
