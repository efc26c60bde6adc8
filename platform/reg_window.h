#pragma once
// The SoC register window with the GPIO words: asked of /dev/msys (request 0x5315 hands
// out its physical address and length) and mapped through /dev/mem, both through
// plat::sys(), so the simulated board answers the same way.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class RegWindow {
public:
    RegWindow() = default;
    ~RegWindow();
    RegWindow(const RegWindow&) = delete;
    RegWindow& operator=(const RegWindow&) = delete;

    // False, with the reason, when the window cannot be had or does not reach `needed` bytes.
    bool open(size_t needed, std::string* error);
    void close();
    void* base() const { return base_; }
    size_t length() const { return length_; }

private:
    void* base_ = nullptr;
    size_t length_ = 0;
    int msysFd_ = -1;
    int memFd_ = -1;
};

}  // namespace plat
