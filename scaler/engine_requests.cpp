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

namespace {
constexpr uint32_t kFpgaBits = 0x7;  // brightness, on/off, position; then audio, the EDIDs
}

uint32_t raised() {
    uint32_t bits = (fpgaBrightness ? 1u : 0u) | (fpgaOutputOnOff ? 2u : 0u) | (fpgaOutputPosition ? 4u : 0u) |
                    (audioRoute ? 8u : 0u);
    for (int p = 0; p < kInputPorts; ++p)
        if (edidRequest[p]) bits |= 16u << p;
    return bits;
}

void wakeOwners(uint32_t before) {
    const uint32_t fresh = raised() & ~before;
    if (fresh & kFpgaBits) fpgaOwner.wake();
    if (fresh & ~kFpgaBits) inputsOwner.wake();
}

}  // namespace engine_requests
