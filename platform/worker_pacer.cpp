#include "platform/worker_pacer.h"

#include <algorithm>
#include <chrono>

#include "platform/platform.h"

namespace plat {

WorkerPacer::WorkerPacer(uint64_t busyUs, uint32_t idleTicks, uint32_t growth)
    : busyUs_(std::max(busyUs, kMinPaceUs)),
      idleUs_(std::max<uint64_t>(uint64_t(idleTicks) * kTickUs, std::max(busyUs, kMinPaceUs))),
      growth_(std::max<uint32_t>(growth, 2)),
      pauseUs_(busyUs_) {}

void WorkerPacer::pass(bool didWork) {
    lockcheck::waitPoint(Wait::Sleep);
    std::unique_lock<plat::Mutex> lock(mutex_);
    pauseUs_ = didWork || woken_ ? busyUs_ : grown();
    woken_ = false;
    const auto scaled = static_cast<uint64_t>(static_cast<double>(pauseUs_) * sleepScale());
    ++pausing_;
    cv_.wait_for(lock, std::chrono::microseconds(std::max(scaled, kMinPaceUs)), [this] { return woken_; });
    --pausing_;
    if (woken_) pauseUs_ = busyUs_;
}

uint64_t WorkerPacer::grown() const { return std::min(pauseUs_ * growth_, idleUs_); }

void WorkerPacer::wake() {
    {
        std::lock_guard<plat::Mutex> lock(mutex_);
        woken_ = true;
    }
    cv_.notify_all();
}

void WorkerPacer::waitForWake() {
    lockcheck::waitPoint(Wait::HandOver);
    std::unique_lock<plat::Mutex> lock(mutex_);
    ++pausing_;
    cv_.wait(lock, [this] { return woken_; });
    --pausing_;
    woken_ = false;
    pauseUs_ = busyUs_;
}

uint64_t WorkerPacer::nextIdlePauseUs() const {
    std::lock_guard<plat::Mutex> lock(mutex_);
    return woken_ ? busyUs_ : grown();
}

bool WorkerPacer::pausing() const {
    std::lock_guard<plat::Mutex> lock(mutex_);
    return pausing_ > 0;
}

void WakeSlot::set(WorkerPacer* pacer) {
    std::lock_guard<plat::Mutex> lock(mutex_);
    pacer_ = pacer;
}

void WakeSlot::wake() {
    std::lock_guard<plat::Mutex> lock(mutex_);
    if (pacer_) pacer_->wake();
}

}  // namespace plat
