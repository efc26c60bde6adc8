#include "scaler/engine_requests.h"

namespace engine_requests {

std::atomic<uint8_t> fpgaBrightness{0};
std::atomic<uint8_t> fpgaOutputOnOff{0};
std::atomic<uint8_t> fpgaOutputPosition{0};
std::atomic<uint8_t> edidRequest[kInputPorts];
std::atomic<uint8_t> edidWritten[kInputPorts];
std::atomic<uint8_t> audioRoute{0};

void clearAll() {
    fpgaBrightness = fpgaOutputOnOff = fpgaOutputPosition = audioRoute = 0;
    for (int p = 0; p < kInputPorts; ++p) edidRequest[p] = edidWritten[p] = 0;
}

plat::WakeSlot fpgaOwner;
plat::WakeSlot inputsOwner;

void wakeOwners() {
    if (fpgaBrightness || fpgaOutputOnOff || fpgaOutputPosition) fpgaOwner.wake();
    bool inputs = audioRoute != 0;
    for (int p = 0; p < kInputPorts && !inputs; ++p) inputs = edidRequest[p] != 0;
    if (inputs) inputsOwner.wake();
}

}  // namespace engine_requests
