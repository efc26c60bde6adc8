#pragma once
// 16-bit registers in a mapped register window (/dev/mem). The window starts on a
// page and the registers sit at even offsets; a 16-bit load from an odd address
// would fault on the ARM board, so the low address bit is dropped as the 16-bit
// bus does. One volatile access per call: the bus sees exactly one read or write.
#include <cstdint>

namespace plat {

inline uint16_t mmioRead16(const volatile void* window, uint32_t offset) {
    const volatile void* at = static_cast<const volatile uint8_t*>(window) + (offset & ~1u);
    return *static_cast<const volatile uint16_t*>(at);
}

inline void mmioWrite16(volatile void* window, uint32_t offset, uint16_t value) {
    volatile void* at = static_cast<volatile uint8_t*>(window) + (offset & ~1u);
    *static_cast<volatile uint16_t*>(at) = value;
}

}  // namespace plat
