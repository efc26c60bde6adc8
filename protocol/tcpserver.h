#pragma once
// TCP control server: one listening socket and up to kMaxClients connections, each with
// its own stream deframer, served in turn so that no client starves the others.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "protocol/control_link.h"

class TcpServer {
public:
    static constexpr size_t kMaxClients = 16;
    // Per client and pass, for fairness; one file block (about 61 KiB on the line) fits.
    static constexpr size_t kReadChunk = 65536;

    ~TcpServer();
    bool listen(int devicePort);
    int boundPort() const { return port_; }
    bool listening() const { return listenFd_ >= 0; }
    // One pass: waits up to timeoutMs for activity (or the wake fd), accepts new clients,
    // reads one chunk from each ready client and handles its frames. Returns false when
    // woken through wakeFd.
    bool recvData(int timeoutMs, int wakeFd);
    bool sendData(int fd, const uint8_t* data, size_t n);
    size_t clientCount() const { return clients_.size(); }
    void closeAll();

private:
    void acceptClients();
    void closeClient(int fd);
    int listenFd_ = -1;
    int port_ = -1;
    std::map<int, std::unique_ptr<control_link>> clients_;
    std::vector<int> closing_;
    uint8_t buf_[kReadChunk];
};
