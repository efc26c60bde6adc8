#pragma once
// Loopback TCP helpers shared by the benchmarks.
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "protocol/control_frame.h"
#include "protocol/protocol_phy.h"

namespace benchnet {

// A client connection to 127.0.0.1:port with Nagle off, from 127.0.0.<machine> (the
// controller's places go by machine); the program ends when it fails.
inline int connectTo(int port, uint8_t machine = 1) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + machine);
    if (machine != 1 && ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// A listening socket on 127.0.0.1 at a free port, written to *port.
inline int listenLoopback(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// A frame without its BCC: the BCC appended, then coded for the line.
inline std::vector<uint8_t> lineOfFrame(std::vector<uint8_t> f) {
    uint8_t x = 0;
    for (uint8_t b : f) x ^= b;
    f.push_back(x);
    std::vector<uint8_t> line;
    protocol_phy::data_re_transf_meaning(line, f.data(), f.size());
    return line;
}

// A PC's request to the controller, coded for the line.
inline std::vector<uint8_t> lineOf(uint8_t group, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f(ctl::kHeaderSize);
    ctl::wr16(f.data() + ctl::kDst, ctl::kAddrController);
    ctl::wr16(f.data() + ctl::kSrc, ctl::kAddrPc);
    ctl::wr16(f.data() + ctl::kLen, uint16_t(payload.size()));
    f[ctl::kGroup] = group;
    f.insert(f.end(), payload.begin(), payload.end());
    return lineOfFrame(f);
}

// A PC on the TCP link: one request, then its answer (waited for at most 40 s).
class Pc {
public:
    using Bytes = std::vector<uint8_t>;
    explicit Pc(int port, uint8_t machine = 1) : fd_(connectTo(port, machine)) {
        timeval tv{40, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Pc() { ::close(fd_); }
    Pc(const Pc&) = delete;
    Pc& operator=(const Pc&) = delete;
    // The answer's payload after its status byte into *data; false when it failed or did not come.
    bool ask(uint8_t group, const Bytes& payload, Bytes* data = nullptr) {
        const Bytes line = lineOf(group, payload);
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) return false;
        Bytes frame;
        while (frame.empty()) {
            uint8_t buf[65536];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return false;
            deframer_.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) { frame.assign(f, f + len); });
        }
        if (frame.size() < ctl::kPayload + 2 || frame[ctl::kPayload] != ctl::kStatusOk) return false;
        if (data) data->assign(frame.begin() + long(ctl::kPayload) + 1, frame.end() - 1);
        return true;
    }
    bool write(uint32_t address, const Bytes& bytes) {
        Bytes p = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
                   uint8_t(bytes.size()), uint8_t(bytes.size() >> 8), 0, 0};
        p.insert(p.end(), bytes.begin(), bytes.end());
        return ask(ctl::kGroupWriteMemory, p);
    }
    bool read(uint32_t address, uint16_t length, Bytes* out) {
        return ask(ctl::kGroupReadMemory, {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                                           uint8_t(address >> 24), uint8_t(length), uint8_t(length >> 8)},
                   out) &&
               out->size() == length;
    }
    bool reg(unsigned reg, uint8_t mask, uint8_t value) {
        return ask(ctl::kGroupWriteRegisters, {uint8_t(reg), uint8_t(reg >> 8), mask, value});
    }

private:
    int fd_;
    frame_deframer deframer_{ctl::kMaxFrame};
};

}  // namespace benchnet
