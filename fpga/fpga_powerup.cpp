// Power-up and supervision of the two FPGAs: reset hold and release, the V-by-One
// start steps, the start-up load, the output check and the link watch.

#include <QMutexLocker>
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "protocol/protocol_engines.h"
#include "scaler/c331_manage.h"

using namespace plat::wiring;

namespace {

constexpr uint32_t kResetHoldTicks = 200;
// The start steps after a release take about 190 ticks (six steps, 31 ticks apart).
constexpr uint32_t kRestartStepsTicks = 400;
constexpr uint32_t kStartStepTicks = 30;
constexpr uint16_t kVboErrorRetries = 5;
constexpr uint8_t kStartResets = 3;
constexpr uint16_t kLockRetries = 6;
constexpr uint32_t kCheckInputTicks = 10;
constexpr uint32_t kCheckMeasureTicks = 70;
constexpr uint32_t kHandshakeEchoTicks = 5;
constexpr uint32_t kHandshakeSettleTicks = 20;
constexpr uint32_t kOutputStepTicks = 50;
constexpr uint32_t kFailedChecksPerReset = 20;
// An FPGA whose input never becomes ready is reset this often, then only watched.
constexpr uint32_t kMaxCheckResets = 100;
constexpr uint32_t kLinkWatchTicks = 9;
constexpr int kLinkSamples = 8;
constexpr int kBadSamplesForRelink = 3;
constexpr uint16_t kRelinkPolls = 1000;

enum StartState : uint8_t { START_IDLE = 0, VBO_INIT_S1 = 1, VBO_INIT_S2 = 2, VBO_INIT_S3 = 3, VBO_INIT_S4 = 4,
                            VBO_INIT_S5 = 5, VBO_INIT_S6 = 6, VBO_INIT_DONE = 7, VBO_WAIT_RESET = 17 };
enum CheckState : uint8_t { CHK_INPUT = 0, CHK_HS_SET = 1, CHK_HS_SETTLE = 2, CHK_JOINT = 3, CHK_MEASURE = 7,
                            CHK_HS_ECHO = 8, CHK_HS_CLEAR = 9, CHK_HS_CLEARED = 10, CHK_OUTPUT_HOLD = 14,
                            CHK_VIDEO_ON = 15, CHK_UP = 18 };

bool yearValid(uint8_t y) { return y >= FPGA_YEAR_MIN && y <= FPGA_YEAR_MAX; }

}  // namespace

// A reset edge never falls between a transport's command word and its data phase: the
// FPGA would come out of reset and take the data without its command.
void fpga_manage::setResetLine(int i, uint16_t level) {
    plat::Locker<plat::QtMutex> lock(Utils::_spi_mutex);
    (i == 0 ? bus.fpga0Reset : bus.fpga1Reset).set(level);
}

void fpga_manage::reset_fpga_rst(int i) {
    if (i != 0 && i != 1) return;
    setResetLine(i, kLow);
    reset_start[i] = G_timeTicks;
    reset_active[i] = 1;
    start_reset_count[i] = 0;
    start_retry_count[i] = 0;
}

void fpga_manage::check_fpga_rst() {
    for (int i = 0; i < 2; ++i) {
        if (!reset_active[i] || Utils::getTimeSpace(reset_start[i]) <= kResetHoldTicks) continue;
        setResetLine(i, kHigh);
        {
            plat::Locker<plat::Mutex> lock(reg_mutex);
            MCU_REG_func[i][FPGA_VREG_STATE] = 0;
            MCU_REG_func[i][FPGA_REG_YEAR] = 0;
        }
        check_state[i] = CHK_INPUT;
        g_change.reset_release_time[i] = G_timeTicks;
        noteDown(i);
        reset_active[i] = 0;
        start_state[i] = START_IDLE;
        start_retry_count[i] = 0;
    }
}

void fpga_manage::power_up_fpga_start(int check, int i) {
    if (i != 0 && i != 1) return;
    // an FPGA held in reset answers nothing: the steps wait for the release
    if (reset_active[i]) return;
    if (check == 1 && mirror(FPGA_VREG_STATE, i) == FPGA_STATE_RUNNING && start_state[i] == VBO_INIT_DONE) return;
    if (Utils::getTimeSpace(g_change.vbo_start_time[i]) <= kStartStepTicks) return;

    if (!yearValid(mirror(FPGA_REG_YEAR, i)) || start_state[i] == START_IDLE) {
        for (uint8_t r : {FPGA_REG_YEAR, uint8_t(30), uint8_t(29), FPGA_REG_ID0, FPGA_REG_VERSION})
            read_from_register(r, i);
        // a freshly (re)configured FPGA needs its output check again
        if (start_state[i] != START_IDLE) writeLogMsg(LOG_WARNING, "fpga" + std::to_string(i + 1) + " restarts");
        check_state[i] = CHK_INPUT;
        joint_step_ready[i] = 0;
        start_state[i] = VBO_INIT_S1;
        start_retry_count[i] = 0;
        g_change.vbo_start_time[i] = G_timeTicks;
        return;
    }
    switch (start_state[i]) {
    case VBO_INIT_S1:
        write_to_register(FPGA_REG_VIDEO, VIDEO_VBO_STEP1, VIDEO_VBO_STEP1, i);
        start_state[i] = VBO_INIT_S2;
        break;
    case VBO_INIT_S2:
        read_from_register(FPGA_REG_VBO, i);
        if (!(mirror(FPGA_REG_VBO, i) & VBO_ERROR)) {
            start_state[i] = VBO_INIT_S3;
        } else if (++start_retry_count[i] >= kVboErrorRetries) {
            if (++start_reset_count[i] < kStartResets) {
                // not reset_fpga_rst: the reset count must survive to reach its limit
                setResetLine(i, kLow);
                reset_active[i] = 1;
                reset_start[i] = G_timeTicks;
                start_retry_count[i] = 0;
            } else {
                start_state[i] = VBO_INIT_S3;
            }
        }
        break;
    case VBO_INIT_S3:
        write_to_register(FPGA_REG_VIDEO, VIDEO_VBO_STEP2, VIDEO_VBO_STEP2, i);
        start_state[i] = VBO_INIT_S5;
        start_retry_count[i] = 0;
        start_reset_count[i] = 0;
        break;
    case VBO_INIT_S5:
        read_from_register(FPGA_REG_VBO, i);
        if (mirror(FPGA_REG_VBO, i) & VBO_LOCKED) {
            start_state[i] = VBO_INIT_S6;
            start_reset_count[i] = 0;
            write_to_register(FPGA_REG_CTRL, CTRL_VBO_OUT, 0, i);
        } else if (++start_retry_count[i] >= kLockRetries) {
            if (++start_reset_count[i] >= kStartResets) start_state[i] = VBO_INIT_S6;
        }
        break;
    case VBO_INIT_S6:
        write_to_register(FPGA_REG_CTRL, CTRL_VBO_OUT, CTRL_VBO_OUT, i);
        write_to_register(FPGA_VREG_STATE, 0xFF, FPGA_STATE_RUNNING, i);
        fpgainit(i);
        write_to_register(FPGA_VREG_STATE, 0xFF, FPGA_STATE_RUNNING, i);
        start_state[i] = VBO_INIT_DONE;
        return;  // no time stamp here
    default: break;
    }
    g_change.vbo_start_time[i] = G_timeTicks;
}

void fpga_manage::fpgainit(int i) {
    const int chip = i + kFlashChipFpga0;
    uint8_t block[256];
    if (drv->FPGA_SPI_FLASH_VBYONE_READ(chip, FLASH_RAM50_BLOCK, sizeof block, block))
        write_fpga_ram(block, 0, sizeof block, FPGA_RAM_FLASHBLOCK, i);
    get_control_uid(i);
    write_to_register(FPGA_REG_CTRL, CTRL_START_PULSE, CTRL_START_PULSE, i);
    write_to_register(FPGA_REG_CTRL, CTRL_START_PULSE, 0, i);
    read_from_register(FPGA_REG_VBO, i);
    write_to_register(FPGA_REG_VBO, VBO_IRQ_PENDING, 0, i);
    record_bright_change();
    record_onoff_time(chip);
    for (int k = 0; k < 3; ++k) read_from_register(FPGA_REG_STATUS, i);

    uint8_t saved[1 + kRam1ImageSize];  // marker, image
    if (load_flash_record(chip, FLASH_PARA_SECTOR, saved, sizeof saved)) {
        {
            plat::Locker<plat::Mutex> lock(image_mutex);
            uint8_t* image = MCU_RAM_PARA_func[i];
            std::memcpy(image, saved + 1, kRam1ImageSize);
            std::memset(image + 96, 0, 32);
        }
        H71_back_mcu_set_net_para(i);
        H71_mcu_set_lcd_x_y_para(i);
        if (i == 0) H71_mcu_set_net_para(0);
    } else {
        {
            plat::Locker<plat::Mutex> lock(image_mutex);
            uint8_t* image = MCU_RAM_PARA_func[i];
            std::memcpy(image, RAM1, kRam1HeadSize);
            for (int e = 0; e < kPorts; ++e) {
                VlxRamPara::setU16(image, RAM1_ENTRIES + 4 * e, RAM1_ENTRY_A);
                VlxRamPara::setU16(image, RAM1_ENTRIES + 4 * e + 2, RAM1_ENTRY_B);
            }
            image[496] = 0;
            image[498] = 0;
        }
        eth_param_init(1, i);
        H71_back_mcu_set_net_para(i);
    }
    {
        plat::Locker<plat::Mutex> lock(image_mutex);
        uint8_t* image = MCU_RAM_PARA_func[i];
        for (int k = 0; k < kPorts; ++k) image[RAM1_PORT_NUMBERS + k] = static_cast<uint8_t>(16 * i + k + 1);
        write_fpga_ram(image, 0, kRam1ImageSize, FPGA_RAM_PARA, i);
    }
    image_loaded[i] = 1;
    update_eth_state(i);
    FPGA_to_RAM(i);
    write_to_register(FPGA_REG_APPLY, APPLY_LOADED, APPLY_LOADED, i);

    ram_check_result[i] = static_cast<uint8_t>(check_fpga_ram_param(i));
    if (!ram_check_result[i]) {
        if (g_debugSwitch == 254) std::printf("\n check fpga%d ram error ,start to reset .... \n", i + 1);
        reset_fpga_rst(i);
    }
}

void fpga_manage::get_control_uid(int i) {
    uint8_t uid[kFlashUidBytes];
    if (!drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(kFlashChipFpga0, uid)) return;
    std::memcpy(flash_uid, uid, sizeof uid);
    for (int k = 0; k < int(kFlashUidBytes); ++k)
        write_to_register(static_cast<uint8_t>(FPGA_REG_UID0 + k), 0xFF, uid[k], i);
}

void fpga_manage::FPGA_to_RAM(int i) {
    for (int k = 0; k < 4; ++k) {
        const uint8_t r = static_cast<uint8_t>(FPGA_REG_ID0 + k);
        read_from_register(r, i);
        const uint8_t id = mirror(r, i);
        std::lock_guard<plat::Mutex> lock(mailboxRamMutex());
        MCU_RAM_CMD[MBOX_ID + k] = id;
    }
}

int fpga_manage::check_fpga_ram_param(int i) {
    uint8_t image[kRam1ImageSize];
    imageSnapshot(i, image);
    for (int p = 0; p < kPorts; ++p) {
        uint16_t addr[4];
        get_eth_param_addr(p, &addr[0], &addr[1], &addr[2], &addr[3]);
        for (uint16_t a : addr) {
            uint8_t got[2];
            if (!read_fpga_ram(got, a, 2, FPGA_RAM_PARA, i)) return 0;
            if (le::rd16(got) != le::rd16(image + a)) return 0;
        }
    }
    uint8_t entries[4 * kPorts];
    if (!read_fpga_ram(entries, RAM1_ENTRIES, sizeof entries, FPGA_RAM_PARA, i)) return 0;
    for (int e = 0; e < kPorts; ++e) {
        const int at = 4 * e;
        if (le::rd16(entries + at) != le::rd16(image + RAM1_ENTRIES + at)) return 0;
        if (le::rd16(entries + at + 2) != le::rd16(image + RAM1_ENTRIES + at + 2)) return 0;
    }
    return 1;
}

void fpga_manage::power_up_check_fpga_status(int i) {
    if (i != 0 && i != 1) return;
    if (reset_active[i]) return;
    if (mirror(FPGA_VREG_STATE, i) != FPGA_STATE_RUNNING || start_state[i] != VBO_INIT_DONE) return;
    const uint32_t now = G_timeTicks;
    switch (check_state[i]) {
    case CHK_INPUT: {
        if (Utils::getTimeSpace(check_step_time[i]) <= kCheckInputTicks) return;
        check_step_time[i] = now;
        read_from_register(FPGA_REG_VBO, i);
        if (mirror(FPGA_REG_VBO, i) & VBO_INPUT_READY) {
            check_state[i] = CHK_MEASURE;
        } else if (check_fail_count[i] < kFailedChecksPerReset * (check_reset_count[i] + 1)) {
            ++check_fail_count[i];
        } else if (check_reset_count[i] < kMaxCheckResets) {
            ++check_reset_count[i];
            setResetLine(i, kLow);
            reset_active[i] = 1;
            reset_start[i] = now;
            start_state[i] = VBO_WAIT_RESET;
        } else if (!check_gave_up[i]) {
            // stop resetting; keep watching for the input
            check_gave_up[i] = 1;
            writeLogMsg(LOG_ERROR, "fpga" + std::to_string(i + 1) + " input never ready, resets stopped");
        }
        break;
    }
    case CHK_MEASURE: {
        if (Utils::getTimeSpace(check_step_time[i]) <= kCheckMeasureTicks) return;
        check_step_time[i] = now;
        uint8_t measured[8];
        {
            plat::Locker<plat::Mutex> lock(image_mutex);
            uint8_t* image = MCU_RAM_PARA_func[i];
            if (!read_fpga_ram(image + RAM1_MEASURED, RAM1_MEASURED, 8, FPGA_RAM_PARA, i)) break;
            std::memcpy(measured, image + RAM1_MEASURED, sizeof measured);
        }
        const uint16_t w = le::rd16(measured), h = le::rd16(measured + 2);
        const uint32_t clk = le::rd32(measured + 4);
        uint16_t ledW = 0, ledH = 0;
        if (VlxRamPara::p_vlxrampara_config) {
            ledW = VlxRamPara::p_vlxrampara_config->snapshotU16(vlxram::kLedWidth);
            ledH = VlxRamPara::p_vlxrampara_config->snapshotU16(vlxram::kLedHeight);
        }
        if (w >= ledW / 2 && h >= ledH / 2 && clk >= kPixelClockMin && clk <= kPixelClockMax) {
            write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, i);
            write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, i);
            check_state[i] = CHK_HS_SET;
        }
        break;
    }
    case CHK_HS_SET:
        write_to_register(FPGA_REG_HANDSHAKE2, 0x01, 0x01, i);
        check_handshake_time[i] = now;
        write_to_register(FPGA_REG_CTRL, CTRL_HANDSHAKE, CTRL_HANDSHAKE, i);
        check_state[i] = CHK_HS_ECHO;
        break;
    case CHK_HS_ECHO:
        if (Utils::getTimeSpace(check_handshake_time[i]) <= kHandshakeEchoTicks) return;
        read_from_register(FPGA_REG_CTRL, i);
        check_state[i] = (mirror(FPGA_REG_CTRL, i) & CTRL_HANDSHAKE) ? CHK_HS_SETTLE : CHK_HS_SET;
        check_handshake_time[i] = now;
        break;
    case CHK_HS_SETTLE:
        if (Utils::getTimeSpace(check_handshake_time[i]) <= kHandshakeSettleTicks) return;
        read_from_register(FPGA_REG_HANDSHAKE2, i);
        joint_step_ready[i] = 1;
        check_state[i] = CHK_HS_CLEAR;
        break;
    case CHK_HS_CLEAR:
        write_to_register(FPGA_REG_CTRL, CTRL_HANDSHAKE, 0, i);
        check_handshake_time[i] = now;
        check_state[i] = CHK_HS_CLEARED;
        break;
    case CHK_HS_CLEARED:
        if (Utils::getTimeSpace(check_handshake_time[i]) <= kHandshakeEchoTicks) return;
        read_from_register(FPGA_REG_CTRL, i);
        check_state[i] = (mirror(FPGA_REG_CTRL, i) & CTRL_HANDSHAKE) ? CHK_HS_CLEAR : CHK_JOINT;
        break;
    case CHK_JOINT: {
        if (!joint_step_ready[0] || !joint_step_ready[1]) return;
        // The scaler's dispatcher may hold its mutex while it waits for the LED hand-shake,
        // which this thread completes: never block on it here, try again next pass.
        if (!c331_manage::manage_mutex.try_lock()) return;
        c331_manage::update_flag = 1;
        g_force_bkcolor = 0;
        c331_manage::manage_mutex.unlock();
        c331_manage::wakeManager();
        write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, i);
        check_step_time[i] = now;
        check_state[i] = CHK_OUTPUT_HOLD;
        break;
    }
    case CHK_OUTPUT_HOLD:
        if (Utils::getTimeSpace(check_step_time[i]) <= kOutputStepTicks) return;
        write_to_register(FPGA_REG_CTRL, CTRL_OUTPUT_HOLD, 0, i);
        write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, i);
        write_to_register(FPGA_REG_APPLY, APPLY_RAM1, APPLY_RAM1, i);
        check_step_time[i] = now;
        check_state[i] = CHK_VIDEO_ON;
        break;
    case CHK_VIDEO_ON:
        if (Utils::getTimeSpace(check_step_time[i]) <= kOutputStepTicks) return;
        write_to_register(FPGA_REG_VIDEO, VIDEO_OUTPUT_ON, VIDEO_OUTPUT_ON, i);
        check_step_time[i] = now;
        check_state[i] = CHK_UP;
        writeLogMsg(LOG_INFO, "fpga" + std::to_string(i + 1) + " output on");
        break;
    default: break;
    }
}

int fpga_manage::check_vbo_status(int i) {
    if (i != 0 && i != 1) return 0;
    if (Utils::getTimeSpace(g_change.vbo_check_time[i]) <= kLinkWatchTicks) return relink_flag[i];
    if (!relink_flag[i]) {
        int bad = 0;
        for (int s = 0; s < kLinkSamples; ++s) {
            uint8_t v = 0;
            if (read_fpga_register(FPGA_REG_LINK, &v, i) && (v & LINK_GOOD_BITS) != LINK_GOOD_BITS) ++bad;
        }
        if (bad > kBadSamplesForRelink) {
            relink_flag[i] = 1;
            write_to_register(FPGA_REG_VIDEO, VIDEO_VBO_STEP1 | VIDEO_VBO_STEP2, 0, i);
            relink_step[i] = 0;
        }
    } else if (relink_step[i] == 0) {
        write_to_register(FPGA_REG_VIDEO, VIDEO_VBO_STEP1, VIDEO_VBO_STEP1, i);
        relink_step[i] = 1;
        relink_count[i] = 0;
    } else {
        read_from_register(FPGA_REG_VBO, i);
        ++relink_count[i];
        if (!(mirror(FPGA_REG_VBO, i) & VBO_ERROR) || relink_count[i] >= kRelinkPolls) {
            write_to_register(FPGA_REG_VIDEO, VIDEO_VBO_STEP2, VIDEO_VBO_STEP2, i);
            relink_flag[i] = 0;
        }
    }
    g_change.vbo_check_time[i] = G_timeTicks;
    return relink_flag[i];
}

void fpga_manage::noteDown(int i) {
    const uint32_t now = G_timeTicks;
    down_since_[i] = now ? now : UINT32_MAX;  // 0 is "never"
}

bool fpga_manage::restarting(int i) {
    if (i != 0 && i != 1) return false;
    if (reset_active[i] || g_set_led_para == 2) return true;
    const uint32_t down = down_since_[i];
    if (!down) return !image_loaded[i];
    if (Utils::getTimeSpace(down) > kRestartStepsTicks) return false;
    return start_state[i] != VBO_INIT_DONE || mirror(FPGA_VREG_STATE, i) != FPGA_STATE_RUNNING;
}

int fpga_manage::get_fpga_status() {
    for (int i = 0; i < 2; ++i) {
        // the states only change at the release; an FPGA held in reset is not up
        if (reset_active[i]) return 0;
        if (mirror(FPGA_VREG_STATE, i) != FPGA_STATE_RUNNING) return 0;
        if (start_state[i] != VBO_INIT_DONE || check_state[i] != CHK_UP) return 0;
        if (mirror(FPGA_REG_SCREEN, i) & SCREEN_HOLD) return 0;
    }
    return 1;
}
