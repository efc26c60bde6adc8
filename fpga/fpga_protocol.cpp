#include "fpga/fpga_protocol.h"

#include <functional>

#include "core/logMsg.h"
#include "fpga/fpga_clock_record.h"
#include "fpga/fpga_manage.h"

namespace {

bool validFpga(int fpga) { return fpga == 0 || fpga == 1; }
int result(int ok) { return ok ? kEngineOk : kEngineFailed; }

// A PC's access to a port RAM holds the engine's port lock, which the engine holds across
// each whole transmit (RAM write, length, start) and receive.
class PortRamHold {
public:
    PortRamHold(fpga_manage& engine, unsigned ram) NO_THREAD_SAFETY_ANALYSIS
        : mutex_(fpga_manage::isPortRam(ram) ? &engine.port_mutex : nullptr) {
        if (!mutex_ || mutex_->try_lock()) return;
        if (FpgaProtocolEngines::port_wait_hook) FpgaProtocolEngines::port_wait_hook();
        mutex_->lock();
    }
    ~PortRamHold() NO_THREAD_SAFETY_ANALYSIS {
        if (mutex_) mutex_->unlock();
    }
    PortRamHold(const PortRamHold&) = delete;
    PortRamHold& operator=(const PortRamHold&) = delete;

private:
    plat::RecursiveMutex* mutex_;
};

}  // namespace

std::function<void()> FpgaProtocolEngines::port_wait_hook;

int FpgaProtocolEngines::fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga) {
    if (!validFpga(fpga) || reg >= kMirrorSize) return kEngineFailed;
    return result(engine_->write_to_register(static_cast<uint8_t>(reg), mask, value, fpga));
}

int FpgaProtocolEngines::fpgaReadRegister(unsigned reg, int fpga, uint8_t* value) {
    if (!validFpga(fpga) || reg >= kMirrorSize || !value) return kEngineFailed;
    const uint8_t r = static_cast<uint8_t>(reg);
    // virtual registers live in the mirror; hardware ones are read fresh
    const bool hardware = r < FPGA_VREG_FIRST || r > FPGA_UNUSED_LAST;
    if (hardware && !engine_->read_from_register(r, fpga)) return kEngineFailed;
    *value = engine_->mirror(r, fpga);
    return kEngineOk;
}

int FpgaProtocolEngines::fpgaWriteRam(unsigned ram, unsigned address, const uint8_t* data, unsigned length,
                                      int fpga) {
    if (!validFpga(fpga) || ram > 0xFF || address > kFpgaRamAddressMask || length > kFpgaRamSpace) return kEngineFailed;
    const PortRamHold hold(*engine_, ram);
    return result(engine_->write_fpga_ram(data, static_cast<uint16_t>(address), static_cast<uint16_t>(length),
                                          static_cast<uint8_t>(ram), fpga));
}

int FpgaProtocolEngines::fpgaReadRam(unsigned ram, unsigned address, uint8_t* data, unsigned length, int fpga) {
    if (!validFpga(fpga) || ram > 0xFF || address > kFpgaRamAddressMask || length > kFpgaRamSpace) return kEngineFailed;
    const PortRamHold hold(*engine_, ram);
    return result(engine_->read_fpga_ram(data, static_cast<uint16_t>(address), static_cast<uint16_t>(length),
                                         static_cast<uint8_t>(ram), fpga));
}

// The PC's parameter save: the image into the FPGA's own flash, read back, and the
// port buffer rebuilt.
int FpgaProtocolEngines::fpgaSaveParameters(int fpga) {
    if (!validFpga(fpga)) return kEngineFailed;
    // before the start-up has read the saved record the image is zeros: saved, it would
    // replace the FPGA's layout
    if (!engine_->image_loaded[fpga]) {
        writeLogMsg(LOG_WARNING, "parameter save of fpga" + std::to_string(fpga + 1) + " refused: its parameters are not loaded yet");
        return kEngineUnavailable;
    }
    // checked against the image it wrote, within the same hold of the flash
    if (!engine_->save_param_image(fpga)) {
        writeLogMsg(LOG_ERROR, "parameter save of fpga" + std::to_string(fpga + 1) + " failed");
        return kEngineFailed;
    }
    engine_->H71_back_mcu_set_net_para(fpga);
    return kEngineOk;
}

int FpgaProtocolEngines::fpgaOutputGeometry(int fpga, OutputGeometry* out) {
    if (!validFpga(fpga) || !out) return kEngineFailed;
    engine_->get_eth_min_x_y(fpga, &out->minX, &out->minY);
    engine_->get_eth_max_border(fpga, &out->right, &out->bottom);
    engine_->get_eth_lcd_x_y(fpga, &out->lcdX, &out->lcdY);
    engine_->get_eth_lcd_w_h(fpga, &out->lcdWidth, &out->lcdHeight);
    return kEngineOk;
}

int FpgaProtocolEngines::totalCardCount(unsigned* count) {
    if (!count) return kEngineFailed;
    *count = static_cast<uint16_t>(fpga_manage::check_netport_card(0) + fpga_manage::check_netport_card(1));
    return kEngineOk;
}

void FpgaProtocolEngines::clockChanged() { engine_->clock_was_set(); }

int FpgaProtocolEngines::operatingTime(OperatingTime* out) {
    return engine_->clock_record->operating_time(out) ? kEngineOk : kEngineUnavailable;
}

int FpgaProtocolEngines::passToCards(const uint8_t* frame, unsigned length) {
    if (!frame || length > 0xFFFF) return kEngineFailed;
    // the engine's passes bring it up: no lock of theirs is held while the caller waits
    if (engine_->passTargetsRestarting(frame, static_cast<uint16_t>(length))) return kEngineRestarting;
    std::lock_guard<plat::Mutex> lock(engine_->object_mutex);
    return engine_->Dealwith1_PC_to_eth(static_cast<uint16_t>(length), frame) ? kEngineOk : kEngineFailed;
}

void FpgaProtocolEngines::serviceCardAnswers() {
    std::lock_guard<plat::Mutex> lock(engine_->object_mutex);
    for (int i = 0; i < 2; ++i) engine_->reg_IRQ_Dealwith(i);
    engine_->pass_timeout_check();
}

uint8_t* FpgaProtocolEngines::mailboxRam() { return fpga_manage::MCU_RAM_CMD; }
uint8_t* FpgaProtocolEngines::extendRam() { return fpga_manage::MCU_RAM_EXTEND; }
