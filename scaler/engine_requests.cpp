#include "scaler/engine_requests.h"

namespace engine_requests {

std::atomic<uint8_t> fpgaBrightness{0};
std::atomic<uint8_t> fpgaOutputOnOff{0};
std::atomic<uint8_t> fpgaOutputPosition{0};
std::atomic<uint8_t> edidRequest[kInputPorts];
std::atomic<uint8_t> edidWritten[kInputPorts];
std::atomic<uint8_t> audioRoute{0};

namespace {
std::atomic<bool> fpgaRaised{false}, inputsRaised{false};  // since the last wakeOwners (the scaler's thread)
}

void clearAll() {
    fpgaRaised = inputsRaised = false;
    fpgaBrightness = fpgaOutputOnOff = fpgaOutputPosition = audioRoute = 0;
    for (int p = 0; p < kInputPorts; ++p) edidRequest[p] = edidWritten[p] = 0;
}

plat::WakeSlot fpgaOwner;
plat::WakeSlot inputsOwner;

void raise(std::atomic<uint8_t>& request) {
    request = 1;
    const bool fpga = &request == &fpgaBrightness || &request == &fpgaOutputOnOff || &request == &fpgaOutputPosition;
    (fpga ? fpgaRaised : inputsRaised) = true;
}

void wakeOwners() {
    if (fpgaRaised.exchange(false)) fpgaOwner.wake();
    if (inputsRaised.exchange(false)) inputsOwner.wake();
}

}  // namespace engine_requests
