#include "fpga/fpga_clock_record.h"

#include <cstring>
#include <string>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "protocol/protocol_engines.h"

CLOCK_RECORD g_clock_record;

namespace {

// Unit n of a group clears bit 1, 3, 5 or 7 of its counter byte in turn.
constexpr uint8_t kUnitValue[4] = {0xFD, 0xF5, 0xD5, 0x55};
constexpr uint8_t kFullCounter = 0x55;
// The run's first count writes its first 30 minutes at once: 15 units.
constexpr uint8_t kFirstCount[4] = {0x55, 0x55, 0x55, 0xD5};
constexpr uint32_t kFirstCountUnits = CLOCK_FIRST_COUNT_MINUTES / 2;
constexpr uint32_t kSectorsOffset = CLOCK_FLASH_OFFSET / CLOCK_SECTOR_BYTES;

using le::rd32;
using le::wr32;
uint32_t rd24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
void wr24(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 3; ++k) p[k] = uint8_t(v >> (8 * k));
}
uint8_t toBcd(unsigned v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

bool blank(const uint8_t* p, size_t n) {
    for (size_t k = 0; k < n; ++k)
        if (p[k] != CLOCK_ERASED) return false;
    return true;
}

// Valid records from record 0 on.
uint32_t leadingValid(const uint8_t* sector) {
    uint32_t g = 0;
    while (g < CLOCK_GROUPS && sector[g * CLOCK_GROUP_BYTES + GROUP_VALID] == CLOCK_VALID) ++g;
    return g;
}

// Minutes a group record's counters hold.
uint32_t countedMinutes(const uint8_t* record) {
    const uint8_t* c = record + GROUP_COUNTERS;
    for (uint32_t k = 0; k < GROUP_COUNTER_BYTES; ++k) {
        if (c[k] == kFullCounter) continue;
        switch (c[k]) {
        case 0xFD: return 8 * k + 2;
        case 0xF5: return 8 * k + 4;
        case 0xD5: return 8 * k + 6;
        default: return 8 * k;
        }
    }
    return GROUP_MINUTES;
}

uint32_t logEntryAddress(uint32_t index) {
    return CLOCK_LOG + CLOCK_SECTOR_BYTES * (index / LOG_ENTRIES_PER_SECTOR) +
           LOG_ENTRY_BYTES * (index % LOG_ENTRIES_PER_SECTOR);
}

}  // namespace

clock_record_run::clock_record_run(fpga_drv* drv, CLOCK_RECORD* state) : drv_(drv), st_(state) {}

// ---------------------------------------------------------------- flash wrappers

int clock_record_run::ExFlash_RD(uint8_t, uint32_t address, uint32_t length, uint8_t* out) {
    if (!drv_ || !out || length == 0 || address > kFlashSize - CLOCK_FLASH_OFFSET ||
        length > kFlashSize - CLOCK_FLASH_OFFSET - address)
        return 0;
    return drv_->FPGA_SPI_FLASH_VBYONE_READ(kFlashChipFpga0, address + CLOCK_FLASH_OFFSET, length, out) ? 1 : 0;
}

int clock_record_run::ExFlash_WR(uint8_t, uint32_t address, const uint8_t* data, uint32_t length) {
    if (!drv_ || address > kFlashSize - CLOCK_FLASH_OFFSET) return 0;
    return drv_->FPGA_SPI_FLASH_VBYONE_WRITE(kFlashChipFpga0, address + CLOCK_FLASH_OFFSET, data, length) ? 1 : 0;
}

int clock_record_run::ExFlash_Erase_Format(uint8_t, uint32_t sector, int kind, uint32_t count) {
    if (!drv_) return 0;
    return drv_->FPGA_SPI_FLASH_VBYONE_ERASE(kFlashChipFpga0, sector + kSectorsOffset, kind, count) ? 1 : 0;
}

// After one failed operation the rest of the update is left alone: A is written before B
// and a valid byte after its record, so the update stops in a state the start-up repair
// knows, and a flash without power is not waited for once per remaining command.
bool clock_record_run::read(uint32_t address, uint32_t length, uint8_t* out) {
    if (flash_failed_) return false;
    if (ExFlash_RD(CLOCK_FLASH_TAG, address, length, out)) return true;
    writeLogMsg(LOG_ERROR, "operating time: flash read failed");
    flash_failed_ = true;
    return false;
}

bool clock_record_run::write(uint32_t address, const uint8_t* data, uint32_t length) {
    if (flash_failed_) return false;
    if (ExFlash_WR(CLOCK_FLASH_TAG, address, data, length)) return true;
    writeLogMsg(LOG_ERROR, "operating time: flash write failed");
    flash_failed_ = true;
    return false;
}

bool clock_record_run::erase_sector(uint32_t address) {
    const uint32_t at = address - address % CLOCK_SECTOR_BYTES;
    uint8_t sector[CLOCK_SECTOR_BYTES];
    // an erase costs tens of milliseconds and wears the part: skip it on blank sectors
    if (!read(at, sizeof sector, sector)) return false;
    if (blank(sector, sizeof sector)) return true;
    if (ExFlash_Erase_Format(CLOCK_FLASH_TAG, at / CLOCK_SECTOR_BYTES, 0, 1)) return true;
    writeLogMsg(LOG_ERROR, "operating time: flash erase failed");
    flash_failed_ = true;
    return false;
}

// ---------------------------------------------------------------- start-up

std::unique_lock<plat::Mutex> clock_record_run::flash_update() {
    return drv_ ? std::unique_lock<plat::Mutex>(drv_->update_mutex) : std::unique_lock<plat::Mutex>();
}

void clock_record_run::clock_record_init() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    const auto update = flash_update();
    flash_failed_ = false;
    *st_ = CLOCK_RECORD{};
    uint8_t header[3] = {};
    if (!read(CLOCK_HEADER, sizeof header, header)) return;
    if (std::memcmp(header, CLOCK_HEADER_BYTES, sizeof header) != 0) {
        erase_sector(CLOCK_HEADER);
        write(CLOCK_HEADER, CLOCK_HEADER_BYTES, sizeof header);
        // a flash that keeps nothing would count on garbage: leave the recorder off
        if (!read(CLOCK_HEADER, sizeof header, header) || std::memcmp(header, CLOCK_HEADER_BYTES, sizeof header) != 0) {
            writeLogMsg(LOG_ERROR, "operating time: the flash does not keep its header, recorder off");
            return;
        }
    }
    const int g = check_record_sec();
    if (g < 0) {
        writeLogMsg(LOG_ERROR, "operating time: the records cannot be read, recorder off");
        return;
    }
    if (g == 0) {
        erase_sector(CLOCK_RECORD_A);
        erase_sector(CLOCK_RECORD_B);
        erase_sector(CLOCK_LOG);
        st_->log_entry = CLOCK_LOG;  // history, sequence and group start at 0
    } else {
        st_->group = uint8_t(g);
        // a history not read would be written into the next group as 0
        if (!get_last_record_info(uint32_t(g) - 1)) {
            writeLogMsg(LOG_ERROR, "operating time: the last record cannot be read, recorder off");
            return;
        }
    }
    st_->enabled = 1;
    TimeRealType now{};
    if (read_rtc) read_rtc(&now);
    take_start_time(now);
    st_->first_count_pending = 1;
    st_->last_step = G_timeTicks;
    writeLogMsg(LOG_INFO, "operating time: " + std::to_string(st_->history_minutes) + " minutes recorded, group " +
                              std::to_string(g));
}

// Repairs what an interrupted update left and returns the number of valid groups, counted
// after the repair (-1 when the flash cannot be read). Updates go to A first, so A holds the
// newer record unless A is the one being rewritten: a record begun in A, or a copy into A
// cut short, is replaced from B.
int clock_record_run::check_record_sec() {
    uint8_t a[CLOCK_SECTOR_BYTES], b[CLOCK_SECTOR_BYTES];
    if (!read(CLOCK_RECORD_A, sizeof a, a) || !read(CLOCK_RECORD_B, sizeof b, b)) return -1;
    const uint32_t gA = leadingValid(a), gB = leadingValid(b);
    const uint8_t* lastA = a + (gB ? gB - 1 : 0) * CLOCK_GROUP_BYTES;
    const uint8_t* lastB = b + (gB ? gB - 1 : 0) * CLOCK_GROUP_BYTES;
    // A restarted at record 0 after a full sector and B not yet erased: A's record carries
    // everything B holds
    const bool wrappedAhead = gB == CLOCK_GROUPS && gA == 1 &&
                              rd32(a + GROUP_HISTORY) >= rd32(b + (CLOCK_GROUPS - 1) * CLOCK_GROUP_BYTES + GROUP_HISTORY);
    const bool aAhead = gB < CLOCK_GROUPS && gA > gB;
    // a count or a marker reached A but not B
    const bool bStale = gA == gB && gB > 0 && std::memcmp(lastA, lastB, CLOCK_GROUP_BYTES) != 0;
    const bool aBegun = gB < CLOCK_GROUPS && a[gB * CLOCK_GROUP_BYTES + GROUP_START] != CLOCK_ERASED;
    if (aAhead || wrappedAhead || bStale) {
        copy_sec_data(CLOCK_RECORD_A, CLOCK_RECORD_B);
    } else if (gA < gB || aBegun) {
        copy_sec_data(CLOCK_RECORD_B, CLOCK_RECORD_A);
    } else {
        return int(gB);
    }
    if (!read(CLOCK_RECORD_B, sizeof b, b)) return -1;
    return int(leadingValid(b));
}

// Erases the destination and copies bytes 256..4095, then 1..255, then byte 0: record 0's
// valid byte comes last, so a copy cut short leaves a sector with no valid record and the
// next start copies again.
void clock_record_run::copy_sec_data(uint32_t source, uint32_t destination) {
    uint8_t s[CLOCK_SECTOR_BYTES];
    if (!read(source, sizeof s, s) || !erase_sector(destination)) return;
    for (uint32_t at = 256; at < CLOCK_SECTOR_BYTES; at += 256)
        if (!blank(s + at, 256) && !write(destination + at, s + at, 256)) return;
    if (!blank(s + 1, 255) && !write(destination + 1, s + 1, 255)) return;
    if (s[0] != CLOCK_ERASED) write_byte(destination, s[0]);
}

// History minutes from the last group record (A's copy, B's when A's is not valid), and
// the log advanced past that group's entry.
bool clock_record_run::get_last_record_info(uint32_t g) {
    uint8_t rec[CLOCK_GROUP_BYTES];
    const uint32_t at = g * CLOCK_GROUP_BYTES;
    if (!read(CLOCK_RECORD_A + at, sizeof rec, rec)) return false;
    if (rec[GROUP_VALID] != CLOCK_VALID && !read(CLOCK_RECORD_B + at, sizeof rec, rec)) return false;
    const uint32_t minutes = countedMinutes(rec);
    st_->history_minutes = rd32(rec + GROUP_HISTORY) + minutes;
    st_->log_sequence = get_new_seq(minutes, rd24(rec + GROUP_SEQUENCE));
    return true;
}

// Closes the entry of `sequence` with `value` minutes and moves to the next entry,
// erasing a log sector when the new entry begins it.
uint32_t clock_record_run::get_new_seq(uint32_t value, uint32_t sequence) {
    uint32_t index = sequence & LOG_INDEX_MASK;
    uint32_t wraps = sequence >> LOG_WRAP_SHIFT;
    if (index <= LOG_LAST_INDEX) {
        const uint32_t field = logEntryAddress(index) + LOG_MINUTES;
        uint8_t old[4], now[4];
        wr32(now, value);
        // the field is written once; the same value again (a group closed in the run, then
        // read at the next start) needs no program, a different one could only be corrupted
        if (read(field, sizeof old, old) && blank(old, sizeof old))
            write(field, now, sizeof now);
        else if (std::memcmp(old, now, sizeof now) != 0)
            writeLogMsg(LOG_WARNING, "operating time: log entry " + std::to_string(index) + " already closed");
    }
    if (++index > LOG_LAST_INDEX) {
        index = 0;
        ++wraps;
    }
    if (index % LOG_ENTRIES_PER_SECTOR == 0) erase_sector(logEntryAddress(index));
    st_->log_sector = uint8_t(index / LOG_ENTRIES_PER_SECTOR);
    st_->log_entry = logEntryAddress(index);
    return (wraps << LOG_WRAP_SHIFT) | index;
}

// Begins group g in A, then in B. After a full sector (g of 8) the records restart at 0:
// A is erased and gets the new record 0, carrying all the history, before B is erased.
void clock_record_run::new_record_group_init(uint32_t g, bool first_count) {
    if (g >= CLOCK_GROUPS) {
        st_->group = 0;
        st_->record_a = CLOCK_RECORD_A;
        st_->record_b = CLOCK_RECORD_B;
        erase_sector(CLOCK_RECORD_A);
        write_group_record(st_->record_a, true, first_count);
        erase_sector(CLOCK_RECORD_B);
        write_group_record(st_->record_b, false, first_count);
        return;
    }
    st_->record_a = CLOCK_RECORD_A + g * CLOCK_GROUP_BYTES;
    st_->record_b = CLOCK_RECORD_B + g * CLOCK_GROUP_BYTES;
    write_group_record(st_->record_a, true, first_count);
    write_group_record(st_->record_b, false, first_count);
}

void clock_record_run::write_group_record(uint32_t record, bool copy_a, bool first_count) {
    uint8_t rec[GROUP_COUNTERS + 4];
    std::memset(rec, CLOCK_ERASED, sizeof rec);
    std::memcpy(rec + GROUP_START, st_->start_time, sizeof st_->start_time);
    wr32(rec + GROUP_HISTORY, st_->history_minutes);
    rec[GROUP_FILL] = CLOCK_ERASED;
    wr24(rec + GROUP_SEQUENCE, st_->log_sequence);
    if (copy_a) {
        // a clock set while the first count was pending is kept in memory until now
        uint8_t marker = CLOCK_ERASED;
        read(record + GROUP_MARKER, 1, &marker);
        const bool set = marker == CLOCK_SET_MARK || (first_count && st_->clock_set_marker == CLOCK_SET_MARK);
        st_->clock_set_marker = set ? CLOCK_SET_MARK : CLOCK_ERASED;
    }
    rec[GROUP_MARKER] = st_->clock_set_marker;
    if (first_count) {
        std::memcpy(rec + GROUP_START_AGAIN, st_->start_time, sizeof st_->start_time);
        std::memcpy(rec + GROUP_COUNTERS, kFirstCount, sizeof kFirstCount);
    }
    // the valid byte last: a cut before it leaves a record the repair recognises as begun
    if (write(record + 1, rec + 1, sizeof rec - 1)) write_byte(record + GROUP_VALID, CLOCK_VALID);
}

void clock_record_run::open_log_entry() {
    uint8_t e[LOG_ENTRY_BYTES];
    std::memset(e, CLOCK_ERASED, sizeof e);
    std::memcpy(e + LOG_START, st_->start_time, sizeof st_->start_time);
    e[LOG_MARKER] = st_->clock_set_marker;
    wr24(e + LOG_SEQUENCE, st_->log_sequence);
    if (write(st_->log_entry + 1, e + 1, sizeof e - 1)) write_byte(st_->log_entry + LOG_VALID, CLOCK_VALID);
}

// ---------------------------------------------------------------- counting

void clock_record_run::clock_record_deal() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    if (!st_->enabled || Utils::getTimeSpace(st_->last_step) < CLOCK_STEP_TICKS) return;
    const auto update = flash_update();
    flash_failed_ = false;
    ++st_->run_minutes;
    ++st_->run_minutes_reported;
    ++st_->step_parity;
    if ((st_->step_parity & 1) == 0) {
        if (st_->first_count_pending) {
            if (st_->run_minutes >= CLOCK_FIRST_COUNT_MINUTES) {
                // the run's first 30 minutes go in with its group record (15 units)
                new_record_group_init(st_->group, true);
                open_log_entry();
                st_->first_count_pending = 0;
                st_->units = kFirstCountUnits;
                st_->counter_offset = GROUP_COUNTERS + 3;
                st_->counter_value = kFirstCount[3];
            }
        } else {
            st_->counter_offset = GROUP_COUNTERS + st_->units / 4;
            st_->counter_value = kUnitValue[st_->units % 4];
            write_byte(st_->record_a + st_->counter_offset, st_->counter_value);
            write_byte(st_->record_b + st_->counter_offset, st_->counter_value);
            if (++st_->units >= GROUP_UNITS) close_group();
        }
    }
    st_->last_step = G_timeTicks;
}

// The group's 360 counter bytes are full: close its log entry and begin the next group.
void clock_record_run::close_group() {
    ++st_->group;
    TimeRealType now{};
    if (engine_time) engine_time(&now);
    take_start_time(now);
    // writes the closed entry's 2880 minutes, then moves to the next entry
    st_->log_sequence = get_new_seq(GROUP_MINUTES, st_->log_sequence);
    st_->history_minutes += GROUP_MINUTES;
    st_->closed_minutes += GROUP_MINUTES;
    new_record_group_init(st_->group, false);
    open_log_entry();
    st_->units = 0;
}

void clock_record_run::dealwith_record_timing() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    const bool known = st_->clock_set_marker == CLOCK_SET_MARK;
    st_->clock_set_marker = CLOCK_SET_MARK;
    // Before the first count the group record does not exist yet: the marker waits in
    // memory. Erasing anything here would put the recorded history at risk.
    if (!st_->enabled || st_->first_count_pending || known) return;
    const auto update = flash_update();
    flash_failed_ = false;
    write_byte(st_->log_entry + LOG_MARKER, CLOCK_SET_MARK);
    write_byte(st_->record_a + GROUP_MARKER, CLOCK_SET_MARK);
    write_byte(st_->record_b + GROUP_MARKER, CLOCK_SET_MARK);
}

// ---------------------------------------------------------------- reporting

uint32_t clock_record_run::now_total() const {
    return st_->history_minutes - st_->closed_minutes + st_->run_minutes_reported;
}

uint32_t clock_record_run::total_minutes() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    return now_total();
}

CLOCK_RECORD clock_record_run::snapshot() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    return *st_;
}

bool clock_record_run::operating_time(OperatingTime* out) {
    std::lock_guard<plat::Mutex> lock(mutex_);
    if (!out || !st_->enabled) return false;
    out->totalMinutes = now_total();
    out->runMinutes = st_->run_minutes;
    out->logSequence = st_->log_sequence & 0xFFFFFF;
    std::memcpy(out->startBcd, st_->start_time, sizeof out->startBcd);
    out->reportedMinutes = st_->run_minutes_reported;
    return true;
}

void clock_record_run::take_start_time(const TimeRealType& t) {
    const uint8_t bcd[7] = {toBcd(t.year % 100), toBcd(t.year / 100), toBcd(t.month), toBcd(t.day),
                            toBcd(t.hour),       toBcd(t.minute),     toBcd(t.second)};
    std::memcpy(st_->start_time, bcd, sizeof bcd);
}
