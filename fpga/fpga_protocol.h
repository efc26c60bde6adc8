#pragma once
// The FPGA engine's side of the control protocol's seam (protocol/protocol_engines.h):
// register and RAM access per FPGA, the parameter save, the output geometry and the
// mailbox buffers, the receiving-card pass-through and card count, the operating time.
// The C331 operations keep the seam's default (the scaler installs its own).
#include <functional>

#include "protocol/protocol_engines.h"

class fpga_manage;

class FpgaProtocolEngines : public ProtocolEngines {
public:
    explicit FpgaProtocolEngines(fpga_manage* engine) : engine_(engine) {}

    int fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga) override;
    int fpgaReadRegister(unsigned reg, int fpga, uint8_t* value) override;
    int fpgaWriteRam(unsigned ram, unsigned address, const uint8_t* data, unsigned length, int fpga) override;
    int fpgaReadRam(unsigned ram, unsigned address, uint8_t* data, unsigned length, int fpga) override;
    int fpgaSaveParameters(int fpga) override;
    int fpgaOutputGeometry(int fpga, OutputGeometry* out) override;
    // Receiving cards of both FPGAs as their card tables hold them.
    int totalCardCount(unsigned* count) override;
    // The PC set the clock: the same notice as the mailbox's clock command gives.
    void clockChanged() override;
    // The operating-time recorder's state (MCU_RAM_EXTEND 76..99); unavailable while it is off.
    int operatingTime(OperatingTime* out) override;
    // Dealwith1_PC_to_eth: kEngineOk only when a frame went out; kEngineRestarting, nothing
    // sent, while an FPGA the frame goes to restarts.
    int passToCards(const uint8_t* frame, unsigned length) override;
    void serviceCardAnswers() override;
    uint8_t* mailboxRam() override;
    uint8_t* extendRam() override;

    // Tests: called when a PC's port-RAM access finds the engine holding the ports, before it waits.
    static std::function<void()> port_wait_hook;

private:
    fpga_manage* engine_;
};
