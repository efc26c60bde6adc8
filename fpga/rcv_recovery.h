#pragma once
// Receiving-card files and their reader.
//
// The recovery file ("/data/rcvrecovery/KVFX") is a packed file describing the whole LED
// screen: a part table, then the screen part (screens and their configuration ids), the
// XY part (per screen its Ethernet nets, per net one operation list for every receiving
// card) and the smart-debugging part (per screen one list for a single card). A
// standalone smart-mapping file ("/data/smartmapping" or the stick) is one operation
// list played to every card of a port. Numbers are little-endian and unsigned; records
// sit at odd positions and are decoded byte by byte.
//
// Every reader opens the file read-only, reads and closes it within the call under
// Utils::_file_deal_mutex (the file transfer writes these files under the same lock),
// and returns 0 when done, 1 when the file is missing, unreadable, or shorter than what
// was asked for; a failed call leaves the held fields as they were.
#include "platform/annotated_mutex.h"
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

#include "platform/readonly_file.h"

namespace rcvfile {

constexpr const char* kRecoveryDir = "/data/rcvrecovery";
constexpr const char* kRecoveryName = "KVFX";      // the file code the protocol delivers it under
constexpr const char* kMappingDir = "/data/smartmapping";
constexpr const char* kUsbDir = "/mnt/usb1/";

// Part table of the packed file.
constexpr int kMaxParts = 6;
constexpr uint8_t kPartScreen = 10;
constexpr uint8_t kPartXY = 11;
constexpr uint8_t kPartSmartDebug = 12;

// Record sizes and fixed positions.
constexpr uint32_t kPackedHeadSize = 4;      // [3] part count
constexpr uint32_t kPartEntrySize = 12;
constexpr uint32_t kScreenHeadSize = 32;
constexpr uint32_t kScreenRecordSize = 52;
constexpr uint32_t kListHeadSize = 4;        // u16 count, 2 bytes pad: nets, cards, lists
constexpr uint32_t kNetRecordSize = 12;
constexpr uint32_t kOperateSize = 18;
constexpr uint32_t kXYHeadSize = 16;
constexpr uint32_t kStandaloneHeadSize = 16;
constexpr uint32_t kStandaloneBase = 16;     // count and data offsets of a standalone file

// Operation types and targets.
constexpr uint8_t kTypeWrite = 1;
constexpr uint8_t kTypeRam2Flash = 2;
constexpr uint8_t kTypeActiveFirmware = 3;
constexpr uint8_t kTypeUpgrade = 4;          // never carried out
constexpr uint8_t kTypeReconfig = 5;
constexpr uint8_t kTypeSleep = 6;
constexpr uint8_t kTypeSearchRxc = 7;
constexpr uint8_t kTypeUserDefined = 16;     // data[0] is the frame's opcode
constexpr uint8_t kTargetRam = 1;
constexpr uint8_t kTargetRegister = 2;
constexpr uint8_t kTargetFlash = 3;

// Limits a job can carry out. A RAM write goes in packets of 1000 bytes whose count the
// job block keeps in one byte; every other frame carries its data in one frame buffer of
// one packet plus header. List and net indexes are bytes of the job block as well.
constexpr uint32_t kRamPacket = 1000;
constexpr uint32_t kMaxRamData = 255 * kRamPacket - 1;   // dataLen / 1000 + 1 <= 255
constexpr uint32_t kMaxFrameData = 1000;
constexpr uint32_t kMaxListOps = 255;
constexpr uint32_t kMaxNets = 255;
constexpr uint16_t kMaxPort = 31;            // net_ledx: 0..15 FPGA 0, 16..31 FPGA 1

}  // namespace rcvfile

// Part entry of the packed file.
struct rcvPartInfo {
    uint8_t type = 0;
    uint32_t length = 0;
    uint32_t offset = 0;   // absolute
};

// Screen head, at the screen part's start. The CRC fields are not checked.
struct rcvScreenHead {
    uint8_t type = 0;
    uint32_t rcv_para_len = 0;
    uint32_t rcv_para_crc32 = 0;
    uint32_t rcv_xy_len = 0;
    uint32_t rcv_xy_crc32 = 0;
    uint8_t screen_num = 0;
};

// One screen. The para area lies in the smart-debugging part (relative to its start),
// the XY area in the XY part; a length of 0 means the screen has no such area.
struct rcvScreenInfo {
    uint32_t config_id = 0;   // the check sends it and takes only answers carrying it back
    uint32_t net_use = 0;
    uint32_t rcv_para_offset = 0;
    uint32_t rcv_para_len = 0;
    uint32_t rcv_xy_offset = 0;
    uint32_t rcv_xy_len = 0;
};

// One Ethernet net of a screen.
struct rcvNetPara {
    uint16_t net_ledx = 0;         // global output port
    uint16_t net_rcv_num = 0;      // cards on the net
    uint32_t net_para_offset = 0;  // the net's card blocks, relative to the screen's XY area
    uint32_t net_para_len = 0;
};

// One operation record.
struct rcvOperatePara {
    uint32_t offset = 0;      // data position, relative to its list's base
    uint32_t dataLen = 0;
    uint32_t targetAddr = 0;  // card address of a RAM write
    uint32_t timeticks = 0;   // ms: answer time-out, or a sleep's pause
    uint8_t type = 0;
    uint8_t target = 0;
};

class rcvRecovery {
public:
    rcvRecovery() = default;
    rcvRecovery(const rcvRecovery&) = delete;
    rcvRecovery& operator=(const rcvRecovery&) = delete;

    // Clears the held screen's area offsets before a standalone file is played.
    void init_para();
    // 0 when the folder exists; else creates it: 1 when that worked, 0 when not.
    int check_file_dir(const QString& path);
    // 1 when the folder does not exist. Else 0, and the recovery list (for
    // "/data/rcvrecovery") or the smart-mapping list (for "/data/smartmapping" and
    // "/mnt/usb1/") is replaced by the names of the folder's plain files; any other
    // path changes nothing. Safe from any thread.
    int get_dir_file(const QString& path);
    QStringList rcvrecovery_file_list() const;
    QStringList smartmapping_file_list() const;
    // Empties the recovery list (true) or the smart-mapping list (false): files deleted.
    void clear_file_list(bool recovery);

    int get_rcvPackedFileNum(const QString& path);
    // Slot k of the part table; 1 for k outside the table.
    int get_rcvPackedFileInfo(const QString& path, int k);
    // The readers below need the part they read from in the table (1 when absent).
    int update_rcvScreenHead(const QString& path);
    // 1 without reading when s is not below the held head's screen_num.
    int update_rcvScreenIDinfo(const QString& path, int s);
    // A screen whose rcv_xy_len is 0 has no nets: count 0, nothing read (no XY part needed).
    int update_rcvXYscreenNetnum(const QString& path);
    // 1 without reading when n is not below the held net count.
    int update_rcvXYscreenNetpara(const QString& path, int n);
    // Card c's operation count and block position in the held net (packed files only:
    // standalone gives 1). 1 without reading when c is not below net_rcv_num.
    int update_rcvXYrcvOperateTimes(const QString& path, int c, bool standalone);
    // Operation record i of the held card; 1 without reading when i is not below the count.
    int update_rcvXYrcvOperatepara(const QString& path, int i, bool standalone);
    // Packed: a screen whose rcv_para_len is 0 has an empty list (count 0, nothing read, no
    // smart-debugging part needed).
    int update_smartDebugingOperateTimes(const QString& path, bool standalone);
    int update_smartDebugingOperatepara(const QString& path, int i, bool standalone);
    // n bytes at the absolute position into the caller's buffer.
    int update_rcvOperatedata(const QString& path, uint64_t position, uint8_t* buffer, uint32_t n);

    // Whole-file checks a job runs once, before it sends anything. True when the file can
    // be played as it stands: part count 1..6 with part 10 present, part 11 where a screen
    // has an XY area and part 12 where a screen has a smart-debugging list; every
    // part, screen, net, card block, operation record and the data of every operation
    // that sends it inside the file (a screen's area of length 0 holds nothing and is not
    // read); ports 0..31; counts the job's byte indexes can walk; known operation types;
    // data that fits its frames; no more card lists than the file has room for (nets whose
    // card areas overlap; screens or nets sharing one area are checked once). A count of 0
    // is a valid empty list. False gives a short reason for the log. A file that passes is
    // pinned: until the next check, the readers refuse (1) that path when the file was
    // replaced meanwhile, so a running job never plays a file nobody checked.
    bool validate_packed(const QString& path, std::string* why = nullptr);
    bool validate_standalone(const QString& path, std::string* why = nullptr);

    // Part count from the packed head, and the offset of the last table entry of a type
    // among the first min(count, 6) slots (0 when absent).
    uint8_t part_num() const { return packed_head[3]; }
    bool has_part(uint8_t type) const;
    uint32_t part_offset(uint8_t type) const;
    // Positions of the held screen, net and card (absolute, 64-bit so nothing wraps):
    // X, the screen's XY area; A, the held net's card blocks; D (or 16 for a standalone
    // file), the smart-debugging list.
    uint64_t xy_screen_position() const;
    uint64_t net_area_position() const;
    uint64_t smart_list_position(bool standalone) const;
    // Absolute data position of the held operation record: A + offset for an XY list,
    // D + offset (16 + offset standalone) for a smart-debugging list.
    uint64_t xy_data_position() const { return net_area_position() + operate_para.offset; }
    uint64_t smart_data_position(bool standalone) const {
        return smart_list_position(standalone) + operate_para.offset;
    }

    // ---- held fields
    uint8_t packed_head[rcvfile::kPackedHeadSize] = {};
    rcvPartInfo part_info[rcvfile::kMaxParts];
    rcvScreenHead screen_head;
    rcvScreenInfo screen_info;       // the current screen
    rcvNetPara net_para;             // the current net
    rcvOperatePara operate_para;     // the current operation
    uint16_t net_num = 0;            // nets of the current screen
    uint32_t card_block_position = 0;  // the current card's block within the net's area
    uint16_t operate_times = 0;      // operations of the current card or list

private:
    mutable plat::QtMutex list_mutex_{plat::Lock::RcvRecoveryList};
    QStringList rcvrecovery_files_;
    QStringList smartmapping_files_;
    // The file the last successful check passed, as host path and identity.
    std::string pinned_path_;
    plat::FileIdentity pinned_id_;

    template <class Body>
    int withFile(const QString& path, Body&& body);
    bool validateFile(const QString& path, bool standalone, std::string* why);
};
