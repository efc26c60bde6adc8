#pragma once
// One 16-bit GPIO word of the SoC register window (plat::wiring offsets). Drivers
// drive and read their lines through it: on the device a write is a plain volatile
// store; on the simulated board the chips watching that line see the write at the
// moment it happens (a reset pulse needs no SPI traffic to be noticed).
//
// A word made from a null window (the map failed) reads 0 and ignores writes, so a
// driver left without its window cannot write through a stray pointer.
#include <cstdint>

namespace plat {

class GpioWord {
public:
    GpioWord() = default;
    // `windowBase` is the start of the mapped window; `offset` a window offset.
    GpioWord(void* windowBase, uint32_t offset);

    void set(uint16_t level) const;  // wiring::kLineHigh / kLineLow
    uint16_t get() const;
    bool high() const { return get() != 0; }
    bool valid() const { return window_ != nullptr; }
    uint32_t offset() const { return offset_; }

private:
    volatile uint8_t* window_ = nullptr;
    uint32_t offset_ = 0;
};

// Called after every GpioWord write (the simulated board installs it; none on the device).
using GpioObserver = void (*)(uint32_t offset, uint16_t level);
void setGpioObserver(GpioObserver observer);

}  // namespace plat
