#pragma once
// Requests the scaler manager raises for the other engines. The owner polls its flag
// on its own thread and clears it when done: the FPGA engine (brightness, output
// on/off, output position) and the input-source manager (EDID per input, audio route).
// The scaler wakes an owner with a request waiting, so an idle owner takes it at once.
#include <atomic>
#include <cstdint>

#include "platform/worker_pacer.h"

namespace engine_requests {

constexpr int kInputPorts = 6;

extern std::atomic<uint8_t> fpgaBrightness;      // set under Utils::_bri_set_mutex
extern std::atomic<uint8_t> fpgaOutputOnOff;     // RAM 0x844 changed
extern std::atomic<uint8_t> fpgaOutputPosition;  // RAM 0x566 / 0x568 changed
extern std::atomic<uint8_t> edidRequest[kInputPorts];
extern std::atomic<uint8_t> edidWritten[kInputPorts];   // the input-source manager sets, the scaler clears
extern std::atomic<uint8_t> audioRoute;

void clearAll();

extern plat::WakeSlot fpgaOwner;    // the FPGA engine's loop
extern plat::WakeSlot inputsOwner;  // the input-source manager's loop
// Sets a request flag (one of the above) and notes its owner for wakeOwners.
void raise(std::atomic<uint8_t>& request);
// Wakes each owner once for the requests raised since the last call, whether or not it
// had taken an earlier one meanwhile; a request left waiting does not wake it again.
void wakeOwners();

}  // namespace engine_requests
