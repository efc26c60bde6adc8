#pragma once
// Operating-time recorder: the controller's minutes of operation, kept in FPGA 0's
// configuration flash (chip 2) and offered to the PC in MCU_RAM_EXTEND 76..99.
//
// Two copies of a sector of eight 512-byte group records (A, then B) and a log of
// 16-byte entries. A group record counts two-minute units by clearing one more bit of
// a counter byte (FD, F5, D5, 55), so only the start of a group or log sector needs an
// erase. Every update writes A before B and a record's valid byte after its body, so
// whatever command a power cut stops at, one copy holds the latest complete record:
// the start-up repair copies the newer sector over the other and counts afterwards.
#include <cstdint>
#include <functional>
#include <mutex>

#include "fpga/fpga_regs.h"
#include "platform/annotated_mutex.h"

class fpga_drv;
struct TimeRealType;
struct OperatingTime;

// The recorder works with addresses 0x480000.. and sector numbers 0x480..; its flash
// wrappers move them to where the area lies on the chip.
constexpr uint32_t CLOCK_FLASH_OFFSET = 0x273000;
constexpr uint32_t CLOCK_SECTOR_BYTES = 4096;
constexpr uint32_t CLOCK_HEADER = FLASH_CLOCK_HEADER - CLOCK_FLASH_OFFSET;      // 0x480000
constexpr uint32_t CLOCK_RECORD_A = FLASH_CLOCK_RECORD_A - CLOCK_FLASH_OFFSET;  // 0x481000
constexpr uint32_t CLOCK_RECORD_B = FLASH_CLOCK_RECORD_B - CLOCK_FLASH_OFFSET;  // 0x482000
constexpr uint32_t CLOCK_LOG = FLASH_CLOCK_LOG - CLOCK_FLASH_OFFSET;            // 0x483000
constexpr uint8_t CLOCK_HEADER_BYTES[3] = {0xAA, 0x5A, 0xA5};

// Group record (512 bytes at A + 512 g, its copy at B + 512 g)
constexpr uint32_t CLOCK_GROUPS = 8;
constexpr uint32_t CLOCK_GROUP_BYTES = 512;
constexpr uint32_t GROUP_VALID = 0;        // 0xAA, written after the rest
constexpr uint32_t GROUP_START = 1;        // 7 BCD bytes
constexpr uint32_t GROUP_HISTORY = 8;      // u32 LE: minutes before this group
constexpr uint32_t GROUP_FILL = 12;        // 0xFF
constexpr uint32_t GROUP_SEQUENCE = 13;    // log sequence, low 3 bytes LE
constexpr uint32_t GROUP_START_AGAIN = 33; // the start time again, with the run's first count
constexpr uint32_t GROUP_MARKER = 44;      // 0x5A: the clock was set while the group was current
constexpr uint32_t GROUP_COUNTERS = 48;
constexpr uint32_t GROUP_COUNTER_BYTES = 360;
constexpr uint32_t GROUP_UNITS = 1440;     // two-minute units: 2880 minutes
constexpr uint32_t GROUP_MINUTES = 2 * GROUP_UNITS;

// Log entry (16 bytes; entry i at LOG + 4096 (i / 256) + 16 (i % 256))
constexpr uint32_t LOG_ENTRY_BYTES = 16;
constexpr uint32_t LOG_ENTRIES_PER_SECTOR = 256;
constexpr uint32_t LOG_LAST_INDEX = 0x3D00;
constexpr uint32_t LOG_VALID = 0;
constexpr uint32_t LOG_START = 1;
constexpr uint32_t LOG_MINUTES = 8;
constexpr uint32_t LOG_MARKER = 12;
constexpr uint32_t LOG_SEQUENCE = 13;
// Log sequence: bits 0..19 the entry index, 20 and up the number of wraps.
constexpr uint32_t LOG_INDEX_MASK = 0xFFFFF;
constexpr uint32_t LOG_WRAP_SHIFT = 20;

constexpr uint8_t CLOCK_VALID = 0xAA;
constexpr uint8_t CLOCK_SET_MARK = 0x5A;
constexpr uint8_t CLOCK_ERASED = 0xFF;
constexpr uint8_t CLOCK_FLASH_TAG = 9;      // the wrappers ignore it
constexpr uint32_t CLOCK_STEP_TICKS = 6001; // one counted minute
constexpr uint32_t CLOCK_FIRST_COUNT_MINUTES = 30;

struct CLOCK_RECORD {
    uint8_t step_parity = 0;          // units are written on every second step
    uint8_t counter_value = 0;        // the value last written into a counter byte
    uint8_t log_sector = 0;           // sector of the current log entry within the log
    uint8_t group = 0;                // current group 0..7; 8 after a full sector
    uint8_t clock_set_marker = CLOCK_ERASED;
    uint8_t first_count_pending = 0;  // 1 until the run's first group record is written
    uint8_t enabled = 0;
    uint8_t start_time[7] = {};       // BCD: year % 100, century, month, day, hour, minute, second
    uint8_t unused[2] = {};
    uint32_t units = 0;               // two-minute units in the current group
    uint32_t log_sequence = 0;
    uint32_t record_a = 0;            // current group record in sector A
    uint32_t record_b = 0;
    uint32_t log_entry = 0;
    uint32_t counter_offset = 0;      // last counter byte written
    uint32_t last_step = 0;           // tick of the last step
    uint32_t run_minutes = 0;         // steps since start, one a minute
    uint32_t run_minutes_reported = 0;
    uint32_t history_minutes = 0;     // minutes recorded before the current group
    // Minutes of groups closed during this run: already in history_minutes and in the run
    // minutes, so the total takes them once.
    uint32_t closed_minutes = 0;
};
// The engine's operating-time record: under clock_record_run::mutex_ (the engine counts,
// protocol threads report and set the clock).
extern CLOCK_RECORD g_clock_record;

class clock_record_run {
public:
    // Works on `state` (the engine's recorder on g_clock_record) and chip 2 through `drv`.
    explicit clock_record_run(fpga_drv* drv, CLOCK_RECORD* state = &g_clock_record);
    clock_record_run(const clock_record_run&) = delete;
    clock_record_run& operator=(const clock_record_run&) = delete;

    // The real-time clock, read for the start of a run; the engine's copy of it, read when
    // a group fills during the run. Without them the start time stays zero.
    std::function<int(TimeRealType*)> read_rtc;
    std::function<void(TimeRealType*)> engine_time;

    // Once before the engine thread starts: header, repair, history, start time.
    void clock_record_init();
    // Every engine pass; counts one minute each 6001 ticks.
    void clock_record_deal();
    // After the real-time clock was set (the PC's mailbox or the protocol's clock write).
    void dealwith_record_timing();

    // The PC's view (MCU_RAM_EXTEND 76..99); false while the recorder is off.
    bool operating_time(OperatingTime* out);
    // Reported run minutes plus history, each closed group counted once.
    uint32_t total_minutes();
    CLOCK_RECORD snapshot();

    // Chip-2 wrappers on the recorder's addresses and sector numbers (the tag is ignored).
    // Read: 0 for a length of 0, a range past the chip or a failed read; 1 read.
    // Write and erase: 1 done, 0 refused or failed.
    int ExFlash_RD(uint8_t tag, uint32_t address, uint32_t length, uint8_t* out);
    int ExFlash_WR(uint8_t tag, uint32_t address, const uint8_t* data, uint32_t length);
    int ExFlash_Erase_Format(uint8_t tag, uint32_t sector, int kind, uint32_t count);

private:
    int check_record_sec();
    void copy_sec_data(uint32_t source, uint32_t destination);
    bool get_last_record_info(uint32_t g);
    uint32_t get_new_seq(uint32_t value, uint32_t sequence);
    void new_record_group_init(uint32_t g, bool first_count);
    void write_group_record(uint32_t record, bool copy_a, bool first_count);
    void open_log_entry();
    void close_group();

    bool read(uint32_t address, uint32_t length, uint8_t* out);
    bool write(uint32_t address, const uint8_t* data, uint32_t length);
    bool write_byte(uint32_t address, uint8_t value) { return write(address, &value, 1); }
    // Erases the sector holding `address` unless it reads blank already.
    bool erase_sector(uint32_t address);
    uint32_t now_total() const;
    // The configuration flashes' update lock (fpga_drv::update_mutex), taken after mutex_.
    std::unique_lock<plat::Mutex> flash_update();
    void take_start_time(const TimeRealType& t);

    fpga_drv* drv_;
    CLOCK_RECORD* st_;
    // The engine thread counts while a protocol thread may report or set the clock.
    plat::Mutex mutex_{plat::Lock::ClockRecord};
    bool flash_failed_ = false;  // in the update under way
};
