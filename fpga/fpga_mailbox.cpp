// The PC's command mailbox (clock, on/off times, brightness), its flash records and
// the clock setting.
#include <QString>
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_clock_record.h"
#include "fpga/fpga_manage.h"
#include "protocol/protocol_engines.h"

using namespace plat::wiring;

std::function<void()> fpga_manage::clock_changed;

namespace {

constexpr int kOnOffEntries = 4;
constexpr size_t kBrightData = 49;            // mode and 48 levels
constexpr uint8_t kModeManual = 0;
constexpr uint8_t kModeManualFixed = 16;
constexpr uint8_t kModeSchedule = 1;
constexpr uint8_t kModeScheduleFixed = 17;
constexpr uint8_t kModeSensor = 2;
constexpr uint8_t kModeUnscaledBit = 0x10;

// Packed BCD byte to its value; -1 when a nibble is not a decimal digit.
int bcd(uint8_t b) {
    const int hi = b >> 4, lo = b & 0x0F;
    return hi > 9 || lo > 9 ? -1 : hi * 10 + lo;
}

uint32_t sectorAddress(uint32_t sector) { return sector * kFlashSectorSize; }

uint32_t spareSector(uint32_t sector) {
    switch (sector) {
    case FLASH_ONOFF_SECTOR: return FLASH_ONOFF_SPARE_SECTOR;
    case FLASH_BRIGHT_SECTOR: return FLASH_BRIGHT_SPARE_SECTOR;
    case FLASH_PARA_SECTOR: return FLASH_PARA_SPARE_SECTOR;
    default: return 0;
    }
}

}  // namespace

void fpga_manage::Version_to_RAM() {
    static const uint8_t kVersion[4] = {1, 17, 0, 0};
    std::memcpy(MCU_RAM_CMD + MBOX_VERSION, kVersion, sizeof kVersion);
}

void fpga_manage::PHY_status_to_RAM() { std::memset(MCU_RAM_CMD + MBOX_PHY, 0, 4); }

// ---------------------------------------------------------------- records

// Programs a record body first and its marker last, so that a cut in between leaves an
// invalid record rather than a valid-looking half.
static int programRecord(fpga_drv* drv, int chip, uint32_t address, const uint8_t* record, uint32_t length)
    REQUIRES(drv->update_mutex) {
    if (length > 1 && !drv->FPGA_SPI_FLASH_VBYONE_WRITE(chip, address + 1, record + 1, length - 1)) return 0;
    return drv->FPGA_SPI_FLASH_VBYONE_WRITE(chip, address, record, 1);
}

// Erases `sector` and programs the record into it, read back and written once more on a
// difference.
static int writeRecord(fpga_drv* drv, int chip, uint32_t sector, const uint8_t* record, uint32_t length)
    REQUIRES(drv->update_mutex) {
    return drv->writeVerified(chip, sectorAddress(sector), record, length, [&]() NO_THREAD_SAFETY_ANALYSIS {
        return drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, sector, 0, 1) &&
               programRecord(drv, chip, sectorAddress(sector), record, length);
    });
}

// A complete record starts with its marker (programmed last).
static bool recordAt(fpga_drv* drv, int chip, uint32_t sector) REQUIRES(drv->update_mutex) {
    uint8_t marker = 0;
    return drv->FPGA_SPI_FLASH_VBYONE_READ(chip, sectorAddress(sector), 1, &marker) && marker == FLASH_RECORD_VALID;
}

static bool recordFits(const uint8_t* record, uint32_t length) {
    return record && length != 0 && length <= kFlashSectorSize;
}

int fpga_manage::save_flash_record(int chip, uint32_t sector, const uint8_t* record, uint32_t length) {
    if (!recordFits(record, length) || !spareSector(sector) || record[0] != FLASH_RECORD_VALID) return 0;
    fpga_flash_access();
    plat::Locker<plat::Mutex> lock(drv->update_mutex);
    return saveRecordHeld(chip, sector, record, length);
}

// The new record goes to the spare sector first, then replaces the record in its own
// sector, then the spare is cleared: whatever command a power cut stops at, the
// sector or the spare holds a complete record, the old or the new one. When an earlier
// cut left the record only in the spare, the spare is the only copy: the sector is
// written first and the spare cleared after, so no cut, however many, finds neither.
// A record that does not read back as written ends the save there, reported as failed.
int fpga_manage::saveRecordHeld(int chip, uint32_t sector, const uint8_t* record, uint32_t length) {
    const uint32_t spare = spareSector(sector);
    const bool onlySpare = !recordAt(drv, chip, sector) && recordAt(drv, chip, spare);
    const bool ok = (onlySpare || writeRecord(drv, chip, spare, record, length)) &&
                    writeRecord(drv, chip, sector, record, length) && drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, spare, 0, 1);
    if (!ok)
        writeLogMsg(LOG_ERROR, "flash record at sector " + std::to_string(sector) + " of chip " + std::to_string(chip) +
                                   " not saved");
    return ok ? 1 : 0;
}

int fpga_manage::erase_flash_record(int chip, uint32_t sector) {
    const uint32_t spare = spareSector(sector);
    if (!spare) return 0;
    fpga_flash_access();
    plat::Locker<plat::Mutex> lock(drv->update_mutex);
    // spare first: a cut between the two leaves the old record in its sector
    if (!drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, spare, 0, 1)) return 0;
    return drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, sector, 0, 1);
}

int fpga_manage::load_flash_record(int chip, uint32_t sector, uint8_t* record, uint32_t length) {
    if (!recordFits(record, length)) return 0;
    fpga_flash_access();
    // never between another thread's erase and program
    plat::Locker<plat::Mutex> lock(drv->update_mutex);
    return loadRecordHeld(chip, sector, record, length);
}

// A record found only in the spare (a save cut short) is copied back into its sector and
// the spare cleared, so the next save starts with the record where it belongs.
int fpga_manage::loadRecordHeld(int chip, uint32_t sector, uint8_t* record, uint32_t length) {
    const uint32_t spare = spareSector(sector);
    const bool inSector = recordAt(drv, chip, sector);
    if (inSector && drv->FPGA_SPI_FLASH_VBYONE_READ(chip, sectorAddress(sector), length, record)) return 1;
    if (spare == 0 || !recordAt(drv, chip, spare) ||
        !drv->FPGA_SPI_FLASH_VBYONE_READ(chip, sectorAddress(spare), length, record))
        return 0;
    if (inSector) return 1;
    // the whole sector: a caller may read less than the record's writer saved
    std::vector<uint8_t> copy(kFlashSectorSize);
    if (drv->FPGA_SPI_FLASH_VBYONE_READ(chip, sectorAddress(spare), kFlashSectorSize, copy.data()) &&
        writeRecord(drv, chip, sector, copy.data(), kFlashSectorSize) && drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, spare, 0, 1))
        writeLogMsg(LOG_WARNING, "flash record at sector " + std::to_string(sector) + " of chip " +
                                     std::to_string(chip) + " restored from its spare");
    else
        writeLogMsg(LOG_ERROR, "flash record at sector " + std::to_string(sector) + " of chip " +
                                   std::to_string(chip) + " not restored from its spare");
    return 1;
}

// The save and its read-back in one hold of the update lock: a second PC's save of the
// same record waits for this one's check, which is made against the snapshot written
// (the card search may change the image meanwhile), never against the other's record.
int fpga_manage::save_param_image(int i) {
    if (i != 0 && i != 1) return 0;
    const int chip = i + kFlashChipFpga0;
    uint8_t record[1 + kRam1ImageSize], back[1 + kRam1ImageSize];
    record[0] = FLASH_RECORD_VALID;
    imageSnapshot(i, record + 1);
    fpga_flash_access();
    plat::Locker<plat::Mutex> lock(drv->update_mutex);
    if (!saveRecordHeld(chip, FLASH_PARA_SECTOR, record, sizeof record)) return 0;
    if (param_saved_hook) param_saved_hook();
    if (!loadRecordHeld(chip, FLASH_PARA_SECTOR, back, sizeof back) || std::memcmp(back, record, sizeof back) != 0) {
        writeLogMsg(LOG_ERROR, "parameter save of fpga" + std::to_string(i + 1) + " reads back wrong");
        return 0;
    }
    return 1;
}

void fpga_manage::record_onoff_time(int chip) {
    if (chip != kFlashChipFpga0 && mirror(FPGA_VREG_STATE, 0) != FPGA_STATE_RUNNING) return;
    uint8_t record[kOnOffRecordBytes];
    if (!load_flash_record(kFlashChipFpga0, FLASH_ONOFF_SECTOR, record, sizeof record)) return;
    OnOff_time(record);
    write_to_register(FPGA_VREG_SCHEDULE, 0xFF, 1, 0);
}

void fpga_manage::record_bright_change() {
    if (mirror(FPGA_VREG_STATE, 0) != FPGA_STATE_RUNNING && mirror(FPGA_VREG_STATE, 1) != FPGA_STATE_RUNNING) return;
    uint8_t record[kBrightRecordBytes];
    if (load_flash_record(kFlashChipFpga0, FLASH_BRIGHT_SECTOR, record, sizeof record)) {
        Brightness_init(record);
    } else {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        g_change.bri_task_enable = 0;
        g_change.bri_current_level = 16;
    }
}

void fpga_manage::Brightness_init(const uint8_t* record) {
    const uint8_t mode = record[MBOX_HEADER];
    last_slot = 255;
    const bool manual = mode == kModeManual || mode == kModeManualFixed;
    // the level register first: the task that the new mode enables sends it
    if (manual) write_to_register(FPGA_VREG_LEVEL, 0xFF, record[MBOX_HEADER + 1], 0);
    plat::Locker<plat::Mutex> lock(g_schedule_mutex);
    brightness_mode = mode;
    g_change.bri_task_enable = 0;
    switch (mode) {
    case kModeManual:
    case kModeManualFixed:
        g_change.bri_current_level = record[MBOX_HEADER + 1];
        g_change.bri_repeat_count = 0;
        g_change.bri_task_enable = 1;
        break;
    case kModeSchedule:
    case kModeScheduleFixed:
        std::memcpy(HalfHourValue, record + MBOX_HEADER + 1, sizeof HalfHourValue);
        g_change.bri_task_enable = 1;
        break;
    case kModeSensor: g_change.bri_task_enable = 1; break;
    default: break;
    }
}


// ---------------------------------------------------------------- mailbox

// Loads the times whole under the schedule lock: the engine's schedule task never sees a
// count, a time or a pending flag of one command beside those of another.
void fpga_manage::OnOff_time(const uint8_t* block) {
    plat::Locker<plat::Mutex> lock(g_schedule_mutex);
    onoff_count = static_cast<uint8_t>(std::min<int>(block[MBOX_HEADER], kOnOffEntries));
    std::memset(on_pending, 0, sizeof on_pending);
    std::memset(off_pending, 0, sizeof off_pending);
    for (int k = 0; k < onoff_count; ++k) {
        const uint8_t* e = block + MBOX_HEADER + 1 + 4 * k;
        on_hour[k] = static_cast<uint8_t>(std::max(bcd(e[0]), 0));
        on_minute[k] = static_cast<uint8_t>(std::max(bcd(e[1]), 0));
        off_hour[k] = static_cast<uint8_t>(std::max(bcd(e[2]), 0));
        off_minute[k] = static_cast<uint8_t>(std::max(bcd(e[3]), 0));
        on_pending[k] = 1;
        off_pending[k] = 1;
    }
}

int fpga_manage::Checktime(const uint8_t* block) {
    Utils::ClockTime t;
    if (!Utils::clockFromBcd(block + MBOX_HEADER, &t)) {
        writeLogMsg(LOG_WARNING, "clock set refused: not a valid date and time");
        return 0;
    }
    // the hardware clock takes the system clock only once that was set
    if (Utils::system_mutex(Utils::dateCommand(t)) != 0 || Utils::system_mutex(QStringLiteral("hwclock -wu")) != 0) {
        writeLogMsg(LOG_ERROR, "clock set failed");
        return 0;
    }
    clock_was_set();
    return 1;
}

void fpga_manage::clock_was_set() {
    clock_record->dealwith_record_timing();
    if (clock_changed) clock_changed();
}

int fpga_manage::Dealwith_mcu_ram() {
    // The PC writes the mailbox from its transport thread: work on one snapshot of it.
    uint8_t block[kMailboxSize];
    {
        std::lock_guard<plat::Mutex> lock(mailboxRamMutex());
        std::memcpy(block, MCU_RAM_CMD, sizeof block);
    }
    if (block[0] != MBOX_PRESENT) return 1;
    int saved = 1;
    const uint8_t command = block[1], store = block[2];
    const size_t length = size_t(block[6]) | (size_t(block[7]) << 8);
    switch (command) {
    case MBOX_CMD_CLOCK: Checktime(block); break;
    case MBOX_CMD_ONOFF: {
        OnOff_time(block);
        // the record is the command as sent, cut to what the command can hold
        const size_t size = 1 + 4 * size_t(std::min<int>(block[MBOX_HEADER], kOnOffEntries));
        const uint32_t bytes = static_cast<uint32_t>(MBOX_HEADER + std::min(length, size));
        if (store == MBOX_SAVE) {
            saved = save_flash_record(kFlashChipFpga0, FLASH_ONOFF_SECTOR, block, bytes);
            write_to_register(FPGA_VREG_SCHEDULE, 0xFF, 1, 0);
        } else if (store == MBOX_ERASE) {
            saved = erase_flash_record(kFlashChipFpga0, FLASH_ONOFF_SECTOR);
            write_to_register(FPGA_VREG_SCHEDULE, 0xFF, 0, 0);
        }
        break;
    }
    case MBOX_CMD_BRIGHTNESS: {
        const uint8_t mode = block[MBOX_HEADER] & static_cast<uint8_t>(~kModeUnscaledBit);
        const uint32_t bytes = static_cast<uint32_t>(MBOX_HEADER + std::min(length, kBrightData));
        if (mode != kModeManual) {
            if (store == MBOX_SAVE || store == MBOX_ERASE) {
                if (store == MBOX_SAVE)
                    saved = save_flash_record(kFlashChipFpga0, FLASH_BRIGHT_SECTOR, block, bytes);
                else
                    saved = erase_flash_record(kFlashChipFpga0, FLASH_BRIGHT_SECTOR);
                plat::Locker<plat::Mutex> lock(g_schedule_mutex);
                g_change.bri_reload_request = 1;
                g_change.sensor_fail_count = 0;
            }
        } else {
            write_to_register(FPGA_VREG_LEVEL, 0xFF, block[MBOX_HEADER + 1], 0);
            {
                plat::Locker<plat::Mutex> lock(g_schedule_mutex);
                g_change.bri_current_level = block[MBOX_HEADER + 1];
            }
            Brightness_hand_dealwith(kBrightnessNewLevel);
            if (store == MBOX_SAVE) {
                saved = save_flash_record(kFlashChipFpga0, FLASH_BRIGHT_SECTOR, block, bytes);
                plat::Locker<plat::Mutex> lock(g_schedule_mutex);
                g_change.bri_reload_request = 1;
            }
        }
        break;
    }
    default: break;
    }
    return saved;
}
