#pragma once
// A control link on a serial port (/dev/ttyS<n>, raw 8N1): its receive thread reads what
// the line brings, decodes frames across reads, holds them within the bound of a UDP
// sender (control_link::kHeldFrames, kHeldBytes) and writes the replies back.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/control_link.h"
#include "protocol/link_thread.h"

class serial_link {
public:
    // `transport`: the g_passby_trans_port code card answers come back to.
    serial_link(int port, uint8_t transport);
    ~serial_link();
    // Opens the port at the baud rate and starts the receive thread; false when the
    // port does not open (the link then stays down).
    bool start(uint32_t baud, const char* name, const char* threadName);
    void stop();
    bool isOpen() const { return fd_ >= 0; }
    // Frames dropped so far for being past the bound.
    size_t framesPastBound() const { return pastBound_.load(); }
    void receiveThread();

private:
    int port_;
    int fd_ = -1;
    control_link link_;
    link_thread thread_;
    std::vector<uint8_t> buf_;
    DropLog drops_;
    HeldBacklog backlog_;
    std::atomic<size_t> pastBound_{0};   // the receive thread writes, any thread reads
};
