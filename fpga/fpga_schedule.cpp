// The brightness task (manual level, half-hour schedule, light sensor), the daily on/off
// schedule and the multi-function card that carries the light sensor.
#include <chrono>
#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kTaskPeriodTicks = 1000;
constexpr uint32_t kManualSends = 4;          // repeat counts 0..4: five sends
constexpr uint32_t kSlotSends = 1;            // repeat counts 0..1 after the slot's first send
constexpr uint32_t kSensorFailLimit = 10;
constexpr uint8_t kMinLevel = 1;
constexpr uint8_t kMaxLevel = 16;
constexpr uint32_t kSensorWaitTicks = 35;
constexpr uint64_t kSensorPollUs = 1000;
constexpr uint32_t kSensorAddress = 0x02000000;
constexpr uint16_t kSensorBytes = 128;
constexpr size_t kSensorFrame = 19;
constexpr size_t kSensorAnswer = 140;         // header, status, 128 data bytes, checksum
constexpr size_t kSensorValid = 49;
constexpr size_t kSensorLevel = 52;

uint8_t clampLevel(int v) { return uint8_t(v < kMinLevel ? kMinLevel : v > kMaxLevel ? kMaxLevel : v); }

}  // namespace

void fpga_manage::Extension_function() {
    bool reload;
    {
        // taken before the record is read: a request that comes while it loads loads again
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        reload = g_change.bri_reload_request != 0;
        g_change.bri_reload_request = 0;
    }
    if (reload) record_bright_change();
    bool enabled;
    {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        enabled = g_change.bri_task_enable != 0;
    }
    if (enabled) Brightness_task();
    if (mirror(FPGA_VREG_SCHEDULE, 0) == 1) dealwith_onoff();
}

void fpga_manage::Brightness_task() {
    if (Utils::getTimeSpace(g_change.bri_task_time) < kTaskPeriodTicks) return;
    g_change.bri_task_time = G_timeTicks;
    uint8_t mode;
    {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        mode = brightness_mode;
    }
    switch (mode) {
    case BRI_MODE_MANUAL:
    case BRI_MODE_MANUAL_FIXED: Brightness_hand_change(); break;
    case BRI_MODE_SCHEDULE:
    case BRI_MODE_SCHEDULE_FIXED: Brightness_time_change(); break;
    case BRI_MODE_SENSOR: Brightness_auto_change(); break;
    default: break;
    }
}

// A manual level goes out five times after each load; a failed fifth send starts over.
void fpga_manage::Brightness_hand_change() {
    if (g_change.bri_repeat_count > kManualSends) return;
    const int ok = Brightness_hand_dealwith(kBrightnessRepeat);
    if (!ok && g_change.bri_repeat_count == kManualSends) g_change.bri_repeat_count = 0;
    else ++g_change.bri_repeat_count;
}

// The level of the current half hour, sent three times per slot.
void fpga_manage::Brightness_time_change() {
    IT8563WE_Get(&current_time);
    const uint8_t slot = uint8_t((current_time.hour * 60 + current_time.minute) / 30);
    if (slot >= 48) return;
    if (slot != last_slot) {
        uint8_t level;
        {
            plat::Locker<plat::Mutex> lock(g_schedule_mutex);
            level = HalfHourValue[slot];
            g_change.bri_current_level = level;
        }
        for (int i = 0; i < 2; ++i) write_to_register(FPGA_VREG_LEVEL, 0xFF, level, i);
        Brightness_hand_dealwith(kBrightnessNewLevel);
        last_slot = slot;
        g_change.bri_repeat_count = 0;
        Brightness_hand_dealwith(kBrightnessRepeat);
        g_change.bri_repeat_count = 1;
        return;
    }
    if (g_change.bri_repeat_count <= kSlotSends) {
        Brightness_hand_dealwith(kBrightnessRepeat);
        ++g_change.bri_repeat_count;
    }
}

// One step toward the sensor's level per run; only failures in a row fall back to 16.
void fpga_manage::Brightness_auto_change() {
    Brightness_check_VMF();
    Brightness_read_VMF_value();
    int send = -1;  // the level for the level register, if one changed
    bool stepped = false;  // to another level than the one shown
    {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        const uint32_t before = g_change.bri_current_level;
        if (g_change.vmf_fresh && sensor_data[kSensorValid] == 0xFF) {
            int level = int(g_change.bri_current_level);
            const int target = sensor_data[kSensorLevel];
            if (level < target) ++level;
            else if (level > target) --level;
            g_change.bri_current_level = clampLevel(level);
            send = int(g_change.bri_current_level);
            g_change.vmf_fresh = 0;
            g_change.sensor_fail_count = 0;
        }
        if (g_change.sensor_fail_count >= kSensorFailLimit) {
            g_change.bri_current_level = kMaxLevel;
            send = kMaxLevel;
            g_change.sensor_fail_count = 0;
        }
        stepped = send >= 0 && uint32_t(send) != before;
    }
    if (send >= 0)
        for (int i = 0; i < 2; ++i) write_to_register(FPGA_VREG_LEVEL, 0xFF, uint8_t(send), i);
    Brightness_hand_dealwith(stepped ? kBrightnessNewLevel : kBrightnessRepeat);
}

// The times are read, and their pending flags taken, in one hold of the schedule lock, so
// a command the mailbox loads meanwhile counts whole or not at all; the screen is switched
// after the lock is let go.
void fpga_manage::dealwith_onoff() {
    IT8563WE_Get(&current_time);
    const uint8_t h = current_time.hour, m = current_time.minute;
    bool switchOn = false, switchOff = false;
    {
        plat::Locker<plat::Mutex> lock(g_schedule_mutex);
        for (int k = 0; k < onoff_count && k < 4; ++k) {
            if (on_pending[k] && h == on_hour[k] && m == on_minute[k]) {
                switchOn = true;
                on_pending[k] = 0;
            }
            if (off_pending[k] && h == off_hour[k] && m == off_minute[k]) {
                switchOff = true;
                off_pending[k] = 0;
            }
        }
        if (current_time.day != last_day) {
            for (int k = 0; k < onoff_count && k < 4; ++k) on_pending[k] = off_pending[k] = 1;
            last_day = current_time.day;
        }
    }
    if (switchOn) SCREEN_fpgactrl_status(1);
    if (switchOff) SCREEN_fpgactrl_status(0);
}

// ---------------------------------------------------------------- multi-function card

void fpga_manage::Brightness_check_VMF() {
    vmf_dest = 0;
    vmf_group = 0;
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    plat::Locker<plat::Mutex> image(image_mutex);
    for (int f = 0; f < 2; ++f)
        for (int p = 0; p < kPorts; ++p) {
            uint16_t count, status;
            rcv::cardTableEntry(p, &count, &status);
            if (MCU_RAM_PARA_func[f][status] == 0) continue;
            vmf_dest = uint16_t(0x4000 + (p % 4) * 0x1000);
            vmf_group = uint8_t(4 * f + p / 4 + 1);
            return;
        }
}

int fpga_manage::Send_read_VMF_data_cmd() {
    if (!vmf_dest || vmf_group < 1 || vmf_group > 8) return 0;
    uint8_t f[kSensorFrame] = {uint8_t(vmf_dest), uint8_t(vmf_dest >> 8), 0x00, 0xF0, rcv::kFixed, rcv::kTagSensor,
                               rcv::kModeSensor, 0, 0, rcv::kOpRead};
    for (int k = 0; k < 4; ++k) f[10 + k] = uint8_t(kSensorAddress >> (8 * k));
    f[14] = uint8_t(kSensorBytes);
    f[15] = uint8_t(kSensorBytes >> 8);
    f[kSensorFrame - 1] = Utils::BCC(f, kSensorFrame - 1);
    const int port = 4 * ((vmf_group - 1) % 4) + ((vmf_dest >> 12) & 3);
    return Send_to_port(f, kSensorFrame, port, vmf_group <= 4 ? 0 : 1);
}

int fpga_manage::Brightness_read_VMF_value() {
    if (!vmf_dest) return 0;
    {
        plat::Locker<plat::RecursiveMutex> lock(port_mutex);
        g_change.vmf_done = 0;
        g_change.vmf_fresh = 0;
        g_change.vmf_expected_op = rcv::kOpRead;
        own_answer = 0;
        if (!Send_read_VMF_data_cmd()) {
            plat::Locker<plat::Mutex> fails(g_schedule_mutex);
            ++g_change.sensor_fail_count;
            return 0;
        }
    }
    // the ticks may stand still (the GUI thread busy): the board's monotonic clock bounds it too
    const uint32_t start = G_timeTicks;
    const auto wallStart = std::chrono::steady_clock::now();
    const auto ceiling = std::chrono::milliseconds(sensor_wait_ms);
    for (;;) {
        Brightness_VMF_run();
        if (g_change.vmf_done) return 1;
        if (Utils::getTimeSpace(start) > kSensorWaitTicks || std::chrono::steady_clock::now() - wallStart > ceiling) break;
        plat::workerPace(kSensorPollUs);
    }
    plat::Locker<plat::Mutex> lock(g_schedule_mutex);
    ++g_change.sensor_fail_count;
    return 0;
}

void fpga_manage::Brightness_VMF_run() {
    reg_IRQ_Dealwith(0);
    reg_IRQ_Dealwith(1);
    VMF_data_back_result();
}

void fpga_manage::VMF_data_back_result() {
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    if (!own_answer) return;
    own_answer = 0;
    // the copy starts at the opcode: [0] opcode, [1] status, [2..129] data
    if (size_t(own_answer_length) + 9 >= kSensorAnswer && own_answer_copy[1] == 0 &&
        own_answer_copy[0] == g_change.vmf_expected_op) {
        std::memcpy(sensor_data, own_answer_copy + 2, kSensorBytes);
        g_change.vmf_fresh = 1;
        g_change.vmf_done = 1;
        return;
    }
    write_to_register(FPGA_VREG_SENSOR_BAD, 0xFF, uint8_t(mirror(FPGA_VREG_SENSOR_BAD, 0) + 1), 0);
}
