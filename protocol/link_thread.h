#pragma once
// The worker thread of a transport: blocks in poll() on its sockets or line and on a
// wake pipe, so an idle link costs no CPU and a test can stop it at once.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/net.h"

class link_thread {
public:
    ~link_thread() { stop(); }
    // Starts body() on a thread called threadName (top -H); false (logged under `name`)
    // when the thread cannot be created.
    bool start(const std::string& name, const char* threadName, std::function<void()> body);
    void stop();
    bool stopping() const { return stop_.load(); }
    bool running() const { return thread_.joinable(); }
    int wakeFd() const { return wake_.readFd(); }
    void drainWake() { wake_.drain(); }

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    plat::net::WakePipe wake_;
};
