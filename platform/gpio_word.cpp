#include "platform/gpio_word.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<GpioObserver> g_observer{nullptr};
}

GpioWord::GpioWord(void* windowBase, uint32_t offset)
    : reg_(windowBase ? reinterpret_cast<volatile uint16_t*>(static_cast<uint8_t*>(windowBase) + (offset & ~1u))
                      : nullptr),
      offset_(offset) {}

void GpioWord::set(uint16_t level) const {
    if (!reg_) return;
    *reg_ = level;
    if (GpioObserver o = g_observer.load(std::memory_order_acquire)) o(offset_, level);
}

uint16_t GpioWord::get() const { return reg_ ? *reg_ : 0; }

void setGpioObserver(GpioObserver observer) { g_observer.store(observer, std::memory_order_release); }

}  // namespace plat
