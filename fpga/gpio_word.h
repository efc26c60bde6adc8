#pragma once
// One 16-bit GPIO register of the SoC window. Assigning drives the line (16 high,
// 0 low); level() reads it back (inputs at bit 0). A word that was never mapped
// points at a private spare block, so a caller on a board without the window
// writes harmlessly instead of through a null pointer.
#include <cstdint>

class GpioWord {
public:
    GpioWord() : reg_(spare()) {}
    void bind(volatile uint16_t* reg) { reg_ = reg ? reg : spare(); }
    bool mapped() const { return reg_ != spare(); }
    GpioWord& operator=(uint16_t level) {
        *reg_ = level;
        return *this;
    }
    uint16_t level() const { return *reg_; }

private:
    static volatile uint16_t* spare() {
        static volatile uint16_t block[1];
        return block;
    }
    volatile uint16_t* reg_;
};
