#pragma once
// File transfer of the control protocol (docs/protocol.md, "File transfer"): the PC
// writes and reads the files the controller keeps — application image, boot logo and
// kernel (MTD partitions), alias and menu JSON, the per-mode menu copies, receiving-card
// files — and reads a screenshot of the front panel.
//
// `VlxFileDeal` (one, `g_vlx_file_deal_para`) is the store: which names exist, where
// they live, and what happens when a verified file is committed. `FileTransfer` is the
// state of the transfer on one link (one per command handler): its own temporary file
// and its own MD5, so two links never mix their digests.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/md5.h"
#include "platform/atomic_file.h"
#include "protocol/control_frame.h"

namespace fxfer {

// ---- command groups (control_frame.h)
constexpr uint8_t kGroupWriteStart = ctl::kGroupWriteFileStart;
constexpr uint8_t kGroupWriteDefinedStart = ctl::kGroupWriteDefinedFileStart;
constexpr uint8_t kGroupWriteBlock = ctl::kGroupWriteFileBlock;
constexpr uint8_t kGroupWriteEnd = ctl::kGroupWriteFileEnd;
constexpr uint8_t kGroupReadStart = ctl::kGroupReadFileStart;
constexpr uint8_t kGroupReadDefinedStart = ctl::kGroupReadDefinedFileStart;
constexpr uint8_t kGroupReadBlock = ctl::kGroupReadFileBlock;
constexpr uint8_t kGroupReadEnd = ctl::kGroupReadFileEnd;
constexpr uint8_t kGroupDelete = ctl::kGroupDeleteFile;

// ---- reply status (first payload byte)
constexpr uint8_t kOk = ctl::kStatusOk;
constexpr uint8_t kRefused = ctl::kStatusRefused;
constexpr uint8_t kBadRequest = ctl::kStatusBadRequest;
constexpr uint8_t kFailed = ctl::kStatusFailed;
constexpr uint8_t kDigestMismatch = ctl::kStatusDigestMismatch;

// ---- file kinds of write_file_start / read_file_start
enum Kind : uint8_t {
    kApplication = 1,  // /data/app/vlxH71N2, then the application swap and a restart
    kBootLogo = 2,     // MTD partition 8
    kKernel = 3,       // MTD partition 10
    kAlias = 4,        // /data/configs/alias.json; change code 103
    kMenu = 5,         // /data/configs/omenu.json
    kModeMenu = 6,     // /data/modes/MOxx.json, xx = mode 01..10 (hex)
    kScreenshot = 7,   // read only: PNG of the front panel
};

// Largest data block of one frame (write and read).
constexpr uint32_t kMaxBlock = 0xF000;
constexpr size_t kDigestSize = 16;
constexpr size_t kDefinedNameSize = 4;
constexpr uint32_t kMaxJsonFile = 1u << 20;
constexpr uint32_t kMaxApplication = 32u << 20;

}  // namespace fxfer

// Where a file of the protocol lives and what it may hold.
struct FileTarget {
    uint8_t kind = 0;       // fxfer::Kind, or 0 for a receiving-card file
    std::string path;       // absolute device path of the stored file ("" for screenshot)
    std::string folder;     // receiving-card files: their folder
    uint32_t maxSize = 0;
    int mtd = -1;           // MTD partition index, -1 for a file
    bool writable = false;
    bool readable = false;
};

class VlxFileDeal {
public:
    VlxFileDeal();

    // Name rules. Only the kinds and receiving-card codes above exist; a receiving-card
    // name is one to four of A-Z a-z 0-9 _ - (NUL-padded), so no name leaves its folder.
    static bool targetForKind(uint8_t kind, uint8_t mode, FileTarget* out);
    static bool targetForDefined(const uint8_t* code, const uint8_t* name, FileTarget* out);
    // Four '*' as the name of delete_file_name: every file of the folder.
    static bool isWildcardName(const uint8_t* name);

    // Stores a completely received, verified file (`staged` is finished). Returns the
    // reply status: a failed MTD erase or write, or a failed rename, is kFailed and the
    // temporary file is gone either way.
    uint8_t commit(const FileTarget& target, plat::StagedFile& staged, uint32_t size);
    // The whole file (or screenshot) as it is now, read under the file lock.
    uint8_t load(const FileTarget& target, std::string* data);
    // Deletes one receiving-card file, or all of its folder.
    uint8_t remove(const FileTarget& target, bool all);
    // remove(), then the screens are told.
    uint8_t removeAndTell(const FileTarget& target, bool all);

    // ---- hooks, replaced by tests
    std::function<int(int)> notify;                 // change code to the screens
    std::function<bool(std::string*)> grabScreen;   // PNG of what the panel shows
    std::function<int()> appSwap;                   // swap in /data/app/vlxH71N2, restart
    // A receiving-card file was stored or deleted: the screens showing those files follow.
    std::function<void(bool recovery, bool deleted)> cardFileChanged;

private:
    uint8_t writeMtd(const FileTarget& target, const std::string& image, uint32_t size);
};

// The file transfer's hooks: filled once at start-up (engine links) before the links' threads
// run, read-only after; each hook crosses to its own thread itself.
extern VlxFileDeal g_vlx_file_deal_para;

class FileTransfer {
public:
    FileTransfer() = default;
    ~FileTransfer() = default;
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // Handles a file group's payload and appends the reply payload (status first) to
    // `out`. False when `group` is not a file group (nothing appended).
    bool handle(uint8_t group, const uint8_t* p, size_t n, std::vector<uint8_t>& out);

    // Drops whatever transfer is in progress (link closed); a partial file is removed.
    void abort();
    // A transfer is open, or a file command runs. Read from any thread: the link of a UDP
    // sender keeps its place while it is.
    bool open() const { return open_.load(); }
    // A command of `group` is about to run (the link's own thread, before a job thread takes
    // it): a file command makes the transfer open from now, not from when its thread starts.
    void starting(uint8_t group) {
        if (group >= fxfer::kGroupWriteStart && group <= fxfer::kGroupDelete) open_ = true;
    }

    void write_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void write_defined_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void write_file_block(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void write_file_end(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void read_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void read_defined_file_start(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void read_file_block(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void read_file_end(const uint8_t* p, size_t n, std::vector<uint8_t>& out);
    void delete_file_name(const uint8_t* p, size_t n, std::vector<uint8_t>& out);

private:
    void beginWrite(const FileTarget& target, uint32_t size, std::vector<uint8_t>& out);
    void beginRead(const FileTarget& target, std::vector<uint8_t>& out);

    std::atomic<bool> open_{false};
    // write side
    bool writing_ = false;
    FileTarget wTarget_;
    plat::StagedFile staged_;
    uint32_t wSize_ = 0;
    uint32_t wReceived_ = 0;
    MD5 wDigest_;
    // read side
    bool reading_ = false;
    std::string rData_;
};
