// Sending the brightness to both FPGAs: from the parameter RAM's percentage when the
// panel or the PC changed it, else from the current level (the mailbox's manual level).
#include <cstring>

#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_manage.h"

namespace {

constexpr uint8_t kModeFixedManual = 16;   // levels are sent as they are
constexpr uint8_t kModeFixedSchedule = 17;
constexpr uint8_t kMinScaledValue = 15;
constexpr uint8_t kMaxLevel = 16;
constexpr uint16_t kImageBrightnessMark = 256;

bool scaled(uint8_t mode) { return mode != kModeFixedManual && mode != kModeFixedSchedule; }

// Percent to register value by integer division (50 % sends 127); the way back rounds to
// nearest, so a percentage survives the round trip (truncating both ways loses 1 %).
uint8_t percentToValue(unsigned percent) {
    if (percent > 100) percent = 100;
    return static_cast<uint8_t>(percent * 255 / 100);
}
uint16_t valueToPercent(uint8_t value) { return static_cast<uint16_t>((value * 100u + 127) / 255); }

}  // namespace

// `arg` kBrightnessRequest: the brightness request of the pass (the percentage in RAM
// changed); else the current level, new or repeated. 1 when sent (or nothing to send to), 0
// when the FPGAs read back different values.
int fpga_manage::Brightness_hand_dealwith(int arg) {
    const bool request = arg == kBrightnessRequest;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    uint8_t mode;
    {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        mode = brightness_mode;
    }
    uint8_t value;
    if (request) {
        uint16_t percent = 100;
        if (ram) {
            ManageMutexLocker lock;
            unsigned char word[2];
            sent_seen_ = ram->copyRam(vlxram::kBrightness, 2, word);
            percent = VlxRamPara::getU16(word, 0);
            sent_brightness_ = percent;
        }
        value = percentToValue(percent);
        if (scaled(mode) && value < kMinScaledValue) value = kMinScaledValue;
        for (int i = 0; i < 2; ++i) write_to_register(FPGA_VREG_LEVEL, 0xFF, value, i);
    } else {
        value = mirror(FPGA_VREG_LEVEL, 0);
        if (scaled(mode)) {
            // a level is 1..16 here; anything else (a PC level above 16) is held in range
            uint8_t level = value < 1 ? 1 : value > kMaxLevel ? kMaxLevel : value;
            value = static_cast<uint8_t>(level * 16 - 1);
        }
        const uint16_t percent = valueToPercent(value);
        bool shown = false;
        if (ram) {
            ManageMutexLocker lock;
            unsigned char word[2];
            const ChangeStamp seen = ram->copyRam(vlxram::kBrightness, 2, word);
            const uint16_t now = VlxRamPara::getU16(word, 0);
            if (arg == kBrightnessNewLevel) {
                // A level set now (the PC's, the schedule's, the sensor's) is newer than any
                // percentage written before it, a PC's rewrite of the same one too: the RAM and
                // the manager's base take it, so the panel, the file and a later apply agree
                // with the screen.
                applied_ram::hardwareHolds(vlxram::kBrightness, percent, nullptr);
                sent_brightness_ = percent;
                sent_seen_ = ram->copyRam(vlxram::kBrightness, 0, nullptr);
                shown = now != percent;
            } else {
                // The same level again: written back only over the word unchanged since this
                // engine last sent or showed one. A PC's word written since (applied or not,
                // its request on its way here) is newer and wins. Before the first send the
                // RAM as loaded, while the manager's base still holds it, is what the screen shows.
                if (sent_brightness_ == kNothingSent && now == applied_ram::word(vlxram::kBrightness)) {
                    sent_brightness_ = now;
                    sent_seen_ = seen;
                }
                shown = sent_brightness_ != kNothingSent && now != percent &&
                        applied_ram::setWord(vlxram::kBrightness, percent, sent_seen_);
                if (shown) sent_brightness_ = percent;
            }
        }
        if (shown) VlxRamPara::test_signal(1);
    }
    int ok = 1;
    const bool linked = mirror(FPGA_REG_LINKS0, 0) || mirror(FPGA_REG_LINKS8, 0) || mirror(FPGA_REG_LINKS0, 1) ||
                        mirror(FPGA_REG_LINKS8, 1);
    if (linked) {  // without a linked port there is no card to show it
        {
            plat::Locker<plat::Mutex> lock(image_mutex);
            MCU_RAM_PARA_func[0][kImageBrightnessMark] = 1;
        }
        for (int i = 0; i < 2; ++i) {
            write_to_register(FPGA_REG_BRIGHTNESS, 0xFF, value, i);
            write_to_register(FPGA_REG_VIDEO, VIDEO_APPLY_BRIGHTNESS, VIDEO_APPLY_BRIGHTNESS, i);
        }
        uint8_t back[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            read_from_register(FPGA_REG_BRIGHTNESS, i);
            back[i] = mirror(FPGA_REG_BRIGHTNESS, i);
        }
        if (back[0] != back[1]) ok = 0;
    }
    if (request) {
        // the panel's setting is kept as a fixed manual record, and the running state
        // follows it, so later sends use the same units
        uint8_t record[kBrightRecordBytes] = {FLASH_RECORD_VALID, MBOX_CMD_BRIGHTNESS, MBOX_SAVE, 0, 0, 0, 49, 0,
                                              kModeFixedManual};
        std::memset(record + MBOX_HEADER + 1, mirror(FPGA_VREG_LEVEL, 0), 48);
        save_flash_record(kFlashChipFpga0, FLASH_BRIGHT_SECTOR, record, sizeof record);
        Brightness_init(record);
    }
    return ok;
}
