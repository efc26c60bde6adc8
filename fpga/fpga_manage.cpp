#include "fpga/fpga_manage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QMutexLocker>
#include <cstring>
#include <ctime>
#include <memory>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_clock_record.h"
#include "fpga/fpga_protocol.h"
#include "fpga/job_block.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "platform/waits.h"
#include "platform/worker_pacer.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_manage.h"

using namespace plat::wiring;

FpgaChange g_change{};
plat::Mutex g_schedule_mutex{plat::Lock::Schedule};

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
std::function<bool(int)> fpga_manage::clock_stage_ready;
uint8_t fpga_manage::MCU_RAM_CMD[kMailboxSize] = {};
uint8_t fpga_manage::MCU_RAM_EXTEND[kExtendSize] = {};
uint8_t* fpga_manage::MCU_REG_func[2] = {};
plat::Mutex fpga_manage::image_mutex{plat::Lock::FpgaImage};
uint8_t* fpga_manage::MCU_RAM_PARA_func[2] = {};
uint8_t* fpga_manage::MCU_RAM_RX_func[2] = {};
uint8_t* fpga_manage::MCU_RAM_ETH_BACK_PARA_func[2] = {};

namespace {

constexpr uint32_t kClockRefreshTicks = 26;

// 0xFF clocked out during read data phases.
const uint8_t kIdleBytes[kFpgaRamSpace] = {
#define X16 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF
#define X256 X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16, X16
    X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256, X256
#undef X256
#undef X16
};

}  // namespace

// ---------------------------------------------------------------- object

namespace {
// Made and dropped with the engine by start-up (and tests) while no link runs; the links
// reach it through the installed engines (protocol_engines.h).
std::unique_ptr<FpgaProtocolEngines> s_protocol;
}

fpga_manage* fpga_manage::pInstance() {
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage;
        p_fpga_manage->rcv_recovery->check_file_dir(rcvfile::kMappingDir);
        p_fpga_manage->rcv_recovery->check_file_dir(rcvfile::kRecoveryDir);
        p_fpga_manage->initialize();
        // the PC's register, RAM and mailbox requests reach this engine from now on
        s_protocol = std::make_unique<FpgaProtocolEngines>(p_fpga_manage);
        installProtocolEngines(s_protocol.get());
    }
    return p_fpga_manage;
}

void fpga_manage::resetInstanceForTest() {
    installProtocolEngines(nullptr);
    s_protocol.reset();
    delete p_fpga_manage;
    p_fpga_manage = nullptr;
}

fpga_manage::fpga_manage() {
    writeLogMsg(LOG_INFO, "====fpga_manage::fpga_manage()=====");
    drv = new fpga_drv(&bus);
    clock_record = std::make_unique<clock_record_run>(drv);
    clock_record->read_rtc = [this](TimeRealType* t) { return IT8563WE_Get(t); };
    // the copy the engine refreshes while both FPGAs run; the clock itself before that
    clock_record->engine_time = [this](TimeRealType* t) {
        if (current_time.year)
            *t = current_time;
        else
            IT8563WE_Get(t);
    };
    for (int i = 0; i < 2; ++i) {
        MCU_REG_func[i] = reg_mirror_[i];
        MCU_RAM_PARA_func[i] = ram_para_[i];
        MCU_RAM_RX_func[i] = rx_buf_[i];
        MCU_RAM_ETH_BACK_PARA_func[i] = eth_back_para_[i];
    }
    std::memset(HalfHourValue, 0x0F, sizeof HalfHourValue);
}

fpga_manage::~fpga_manage() {
    stopThread();
    closeDevices();
    delete drv;
    if (p_fpga_manage == this) p_fpga_manage = nullptr;
}

void fpga_manage::closeDevices() {
    plat::Sys& sys = plat::sys();
    for (int& fd : bus.link) {
        if (fd >= 0) sys.close(fd);
        fd = -1;
    }
    if (window && window != MAP_FAILED) sys.munmap(window, window_length);
    window = nullptr;
    for (int* fd : {&mem_fd, &msys_fd}) {
        if (*fd >= 0) sys.close(*fd);
        *fd = -1;
    }
    // no window: the words ignore writes instead of reaching a dead mapping
    bus.bind(nullptr);
}


int fpga_manage::initialize() {
    for (int i = 0; i < kLinks; ++i) bus.link[i] = drv->initialize_vbyne1(i);
    plat::Sys& sys = plat::sys();
    window_request[0] = kMsysMagic;
    window_request[4] = kMsysBlockBytes;
    msys_fd = sys.open(kMsysDevice, O_RDWR | O_SYNC);
    if (msys_fd < 0) {
        std::printf("\n can't open /dev/msys");
        closeDevices();
        return 255;
    }
    mem_fd = sys.open(kMemDevice, O_RDWR | O_SYNC);
    if (mem_fd < 0) {
        std::printf("\ncan't open /dev/mem");
        closeDevices();
        return 255;
    }
    if (sys.ioctl(msys_fd, kMsysRequestWindow, window_request) != 0) {
        std::printf("\n DMEM request failed!!");
        closeDevices();
        return 255;
    }
    if (window_request[3] < kGpioWindowNeeded) {
        // every GPIO word must lie inside the mapping
        writeLogMsg(LOG_ERROR, "register window too short for the GPIO lines");
        closeDevices();
        return 255;
    }
    window_length = window_request[3];
    void* p = sys.mmap(nullptr, window_length, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd,
                       static_cast<off_t>(window_request[1]));
    if (p == MAP_FAILED || p == nullptr) {
        std::printf("\n NULL pointer!");
        closeDevices();
        return 255;
    }
    window = p;
    bus.bind(window);
    bus.receiverReset1.set(kLow);
    bus.receiverReset0.set(kLow);
    bus.edidWrite.set(kHigh);
    bus.fpga1FlashAccessB.set(kHigh);
    bus.fpga1CommandB.set(kHigh);
    bus.socEnable.set(1);

    softinit();
    plat::hardwareWaitMs(2000);
    clock_record->clock_record_init();
    g_fpga_c331_start = 0;
    stop_ = false;
    try {
        thread_ = std::thread([this] {
            plat::nameThisThread("fpga");
            fpgamanageThread(this);
        });
        engine_requests::fpgaOwner.set(&pacer_);
    } catch (const std::system_error&) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void fpga_manage::softinit() {
    const uint32_t now = G_timeTicks;
    for (int i = 0; i < 2; ++i) {
        g_change.vbo_check_time[i] = now;
        g_change.vbo_start_time[i] = now;
        g_change.reset_release_time[i] = now;
    }
    g_change.clock_read_time = now;
    {
        // the PC reads the mailbox and the screen state here (before anyone has written
        // register 0) from its link threads
        std::lock_guard<plat::Mutex> lock(mailboxRamMutex());
        Version_to_RAM();
        PHY_status_to_RAM();
        MCU_RAM_CMD[MBOX_STATUS + 1] = 1;
        MCU_RAM_CMD[MBOX_STATUS] = 0xFF;
        MCU_RAM_EXTEND[49] = 0x9F;
        MCU_RAM_EXTEND[50] = 0x1F;
        MCU_RAM_EXTEND[EXTEND_SCREEN_STATE] = ScreenState;
    }
    job_block::setU8(job_block::kOperation, job_block::kNoJob);
    job_block::setU8(job_block::kStep, job_block::kStepIdle);
    job_block::setU8(job_block::kReply, 0);
}

void* fpga_manage::fpgamanageThread(void* arg) {
    if (!arg) return nullptr;
    static_cast<fpga_manage*>(arg)->threadLoop();
    return nullptr;
}

void fpga_manage::threadLoop() {
    while (!stop_) {
        bool busy = false;
        if (g_fpga_c331_start) {
            // the USB upgrade runs instead of the pass while it is asked for, a step a pass
            if (g_usb_grade) {
                usb_upgrade_manage_deal();
                busy = true;
            } else {
                fpga_manage_deal();
                busy = !settled();
            }
        }
        if (busy && job_block::operation() != job_block::kNoJob)
            waitJobAnswer();
        else
            pacer_.pass(busy);
    }
}

// A job waiting for a card polls the interrupt lines (a read of the GPIO window, no bus
// traffic) and passes again as soon as an answer is there, at the latest after a tick.
void fpga_manage::waitJobAnswer() {
    constexpr uint64_t kPollUs = 200;
    // a line the pass left high holds nothing it could take (an FPGA restarting): pace by the tick
    if (answerWaiting()) {
        pacer_.pass(true);
        return;
    }
    for (uint64_t waited = 0; waited < kPassPaceUs && !stop_; waited += kPollUs) {
        if (answerWaiting()) return;
        plat::workerPace(kPollUs);
    }
}

// Both FPGAs up and nothing asked of the engine: no step of it is due.
bool fpga_manage::settled() {
    if (cards_busy_) {  // answers came while the pass took others
        cards_busy_ = false;
        return false;
    }
    return get_fpga_status() == 1 && job_block::operation() == job_block::kNoJob && !output_onoff_request && !output_position_request && !brightness_request &&
           !g_set_led_para;
}

void fpga_manage::stopThread() {
    engine_requests::fpgaOwner.set(nullptr);
    stop_ = true;
    pacer_.wake();
    plat::joinThread(thread_);   // the engine's last pass
}

bool fpga_manage::takeRequest(std::atomic<uint8_t>& request, plat::QtMutex& mutex) {
    if (!request) return false;
    plat::Locker<plat::QtMutex> lock(mutex);
    return request.exchange(0) != 0;
}

void fpga_manage::putBackRequest(std::atomic<uint8_t>& request, plat::QtMutex& mutex) {
    plat::Locker<plat::QtMutex> lock(mutex);
    request = 1;
}

void fpga_manage::imageSnapshot(int fpga, uint8_t* out) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    std::memcpy(out, MCU_RAM_PARA_func[fpga == 1 ? 1 : 0], kRam1ImageSize);
}

bool fpga_manage::stageUp(int i) const { return !clock_stage_ready || clock_stage_ready(i); }

void fpga_manage::fpga_manage_deal() {
    // the first pass begins the bring-up at start: a restart like any other
    for (int i = 0; i < 2; ++i)
        if (!image_loaded[i] && !down_since_[i]) noteDown(i);
    check_fpga_rst();
    for (int i = 0; i < 2; ++i)
        if (stageUp(i)) power_up_fpga_start(1, i);
    // answers of the receiving cards (the line stays low while none waits); one that came
    // while they were taken is taken by a pass at once, not after the idle pause
    int taken = 0;
    for (int i = 0; i < 2; ++i) taken += reg_IRQ_Dealwith(i);
    if (taken && answerWaiting()) cards_busy_ = true;
    for (int i = 0; i < 2; ++i)
        if (stageUp(i)) power_up_check_fpga_status(i);
    // A request is taken before its task reads the values it guards, so a change made
    // while the task runs raises it again instead of being cleared with it; a task that
    // could not run (FPGAs not up) puts it back.
    if (takeRequest(output_position_request, Utils::_system_mutex) && set_fpga_lcd() != 1)
        putBackRequest(output_position_request, Utils::_system_mutex);
    if (takeRequest(brightness_request, Utils::_bri_set_mutex) && set_fpga_bri_val() != 1)
        putBackRequest(brightness_request, Utils::_bri_set_mutex);
    if (g_set_led_para) set_led_para_deal();
    if (get_fpga_status() && Utils::getTimeSpace(g_change.clock_read_time) >= kClockRefreshTicks) {
        IT8563WE_Get(&current_time);
        g_change.clock_read_time = G_timeTicks;
    }
    clock_record->clock_record_deal();
    // a receiving-card job of g_send_para, or else the idle work: card search, brightness
    // and on/off schedules, link watch
    if (!card_job_deal()) Check_search_card();
    if (output_onoff_request == 1 && takeRequest(output_onoff_request, Utils::_system_mutex) &&
        set_output_status() != 1)
        putBackRequest(output_onoff_request, Utils::_system_mutex);
}

// Local time of day, read on every schedule pass: broken down in place, no text, no heap.
int fpga_manage::IT8563WE_Get(TimeRealType* time) {
    std::time_t now;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_system_mutex);
        now = plat::timeOfDay();
    }
    std::tm t{};
    if (!localtime_r(&now, &t)) return 0;
    time->year = static_cast<uint16_t>(t.tm_year + 1900);
    time->month = static_cast<uint8_t>(t.tm_mon + 1);
    time->day = static_cast<uint8_t>(t.tm_mday);
    time->hour = static_cast<uint8_t>(t.tm_hour);
    time->minute = static_cast<uint8_t>(t.tm_min);
    time->second = static_cast<uint8_t>(t.tm_sec);
    return 0;
}

// ---------------------------------------------------------------- register and RAM access

void fpga_manage::fpga_cmd_to_spi_data(uint8_t type, uint8_t ram, uint16_t address, uint8_t read, uint8_t* out) {
    address &= kFpgaRamAddressMask;
    out[0] = static_cast<uint8_t>(((type & 0x0F) << 1) | (read & 1));
    out[1] = ram;
    out[2] = static_cast<uint8_t>(address);
    out[3] = static_cast<uint8_t>(address >> 8);
}

void fpga_manage::fpga_reg_cmd_to_spi_data(uint8_t type, uint8_t ram, uint8_t reg, uint8_t read, uint8_t mask,
                                           uint8_t* out) {
    out[0] = static_cast<uint8_t>(((type & 0x0F) << 1) | (read & 1));
    out[1] = ram;
    out[2] = reg;
    out[3] = read ? 0 : mask;
}

// One operation on an FPGA link: command word with the command line(s) high, data
// phase with them low, then both selects released. The command line stays low.
int fpga_manage::transfer(int fpga, const uint8_t* command, const uint8_t* tx, uint8_t* rx, unsigned len) {
    if (fpga != 0 && fpga != 1) return 0;
    plat::Locker<plat::QtMutex> lock(Utils::_spi_mutex);
    if (fpga == 0) {
        bus.fpga0Command.set(kHigh);
        bus.fpga0Select.set(kLow);
        bus.fpga1Select.set(kHigh);
    } else {
        bus.fpga1CommandA.set(kHigh);
        bus.fpga1CommandB.set(kHigh);
        bus.fpga1Select.set(kLow);
        bus.fpga0Select.set(kHigh);
    }
    const int fd = bus.link[fpga];
    int ok = drv->SPI_Transfer(fd, command, nullptr, kFpgaCommandBytes) > 0;
    if (fpga == 0) {
        bus.fpga0Command.set(kLow);
    } else {
        bus.fpga1CommandA.set(kLow);
        bus.fpga1CommandB.set(kLow);
    }
    if (ok) ok = drv->SPI_Transfer(fd, tx, rx, len) > 0;
    bus.fpga0Select.set(kHigh);
    bus.fpga1Select.set(kHigh);
    return ok;
}

int fpga_manage::read_fpga_register(uint8_t reg, uint8_t* out, int fpga) {
    uint8_t cmd[4];
    fpga_reg_cmd_to_spi_data(kFpgaTypeReg, 0, reg, 1, 0, cmd);
    uint8_t rx = 0;
    if (!transfer(fpga, cmd, kIdleBytes, &rx, 1)) return 0;
    *out = rx;
    return 1;
}

int fpga_manage::write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask) {
    uint8_t cmd[4];
    fpga_reg_cmd_to_spi_data(kFpgaTypeReg, 0, reg, 0, mask, cmd);
    return transfer(fpga, cmd, &value, nullptr, 1);
}

// A RAM transfer stays inside the 12-bit space of its RAM.
int fpga_manage::write_fpga_ram(const uint8_t* buffer, uint16_t address, uint16_t length, uint8_t ram, int fpga) {
    address &= kFpgaRamAddressMask;
    if (!buffer || length == 0 || uint32_t(address) + length > kFpgaRamSpace) return 0;
    uint8_t cmd[4];
    fpga_cmd_to_spi_data(kFpgaTypeRam, ram, address, 0, cmd);
    return transfer(fpga, cmd, buffer, nullptr, length);
}

int fpga_manage::read_fpga_ram(uint8_t* buffer, uint16_t address, uint16_t length, uint8_t ram, int fpga) {
    address &= kFpgaRamAddressMask;
    if (!buffer || length == 0 || uint32_t(address) + length > kFpgaRamSpace) return 0;
    uint8_t cmd[4];
    fpga_cmd_to_spi_data(kFpgaTypeRam, ram, address, 1, cmd);
    return transfer(fpga, cmd, kIdleBytes, buffer, length);
}

int fpga_manage::read_from_register(uint8_t reg, int fpga) {
    if (fpga != 0 && fpga != 1) return 0;
    if (reg >= kMirrorSize || (reg >= FPGA_VREG_FIRST && reg <= FPGA_UNUSED_LAST)) return 0;
    uint8_t value = 0;
    if (!read_fpga_register(reg, &value, fpga)) return 0;
    plat::Locker<plat::Mutex> lock(reg_mutex);
    reg_mirror_[fpga][reg] = value;
    return 1;
}

uint8_t fpga_manage::mirror(uint8_t reg, int fpga) {
    if ((fpga != 0 && fpga != 1) || reg >= kMirrorSize) return 0;
    plat::Locker<plat::Mutex> lock(reg_mutex);
    return reg_mirror_[fpga][reg];
}

int fpga_manage::write_to_register(uint8_t reg, uint8_t mask, uint8_t value, int fpga) {
    return writeRegister(reg, mask, value, fpga, nullptr);
}

int fpga_manage::writeRegister(uint8_t reg, uint8_t mask, uint8_t value, int fpga, ChangeStamp* screenSeen) {
    if (fpga != 0 && fpga != 1) return 0;
    if (reg >= kMirrorSize || (reg > FPGA_VREG_LAST && reg <= FPGA_UNUSED_LAST)) return 0;
    if (reg >= FPGA_VREG_FIRST) {
        plat::Locker<plat::Mutex> lock(reg_mutex);
        reg_mirror_[fpga][reg] = static_cast<uint8_t>((reg_mirror_[fpga][reg] & ~mask) | (value & mask));
        return 1;
    }
    read_from_register(reg, fpga);
    uint8_t merged;
    {
        plat::Locker<plat::Mutex> lock(reg_mutex);
        merged = static_cast<uint8_t>((reg_mirror_[fpga][reg] & ~mask) | (value & mask));
        reg_mirror_[fpga][reg] = merged;
    }
    uint8_t send = merged;
    int mailbox = 1;
    if (reg == FPGA_REG_APPLY) {
        // the doorbell is what the caller rang, never a stale mirror bit; no lock is held
        // here: the mailbox erases flash and writes registers itself
        if (value & mask & APPLY_DOORBELL) mailbox = Dealwith_mcu_ram();
        send &= static_cast<uint8_t>(~(APPLY_DOORBELL | APPLY_NEVER));
    }
    if (reg == FPGA_REG_SCREEN) {
        // the screen state is what the FPGA holds afterwards: bit 2 of the merged byte
        const bool black = merged & SCREEN_BLACK;
        ScreenState = black ? 0 : 1;
        if (mask == SCREEN_BLACK && g_set_led_para == 0 && VlxRamPara::p_vlxrampara_config) {
            {
                // The FPGAs hold it already: the scaler manager's base follows, or it would hand
                // it back. A switch decided from a look at the RAM is written back only over the
                // word unchanged since that look (a PC's word written since is newer, and stays
                // for its own apply); any other switch is newer than what the RAM holds.
                ManageMutexLocker lock;
                applied_ram::hardwareHolds(vlxram::kScreenState, black ? 1 : 0, screenSeen);
            }
            VlxRamPara::test_signal(1);
        }
        std::lock_guard<plat::Mutex> lock(mailboxRamMutex());
        MCU_RAM_EXTEND[EXTEND_SCREEN_STATE] = ScreenState;
    }
    return write_fpga_register(reg, send, fpga, mask) && mailbox;
}
