#include "platform/gpio_word.h"

#include <atomic>

#include "platform/mmio.h"

namespace plat {

namespace {
std::atomic<GpioObserver> g_observer{nullptr};   // atomic: the simulated board sets it at start-up, the GPIO writers read
}

GpioWord::GpioWord(void* windowBase, uint32_t offset)
    : window_(static_cast<volatile uint8_t*>(windowBase)), offset_(offset) {}

void GpioWord::set(uint16_t level) const {
    if (!window_) return;
    mmioWrite16(window_, offset_, level);
    if (GpioObserver o = g_observer.load(std::memory_order_acquire)) o(offset_, level);
}

uint16_t GpioWord::get() const { return window_ ? mmioRead16(window_, offset_) : 0; }

void setGpioObserver(GpioObserver observer) { g_observer.store(observer, std::memory_order_release); }

}  // namespace plat
