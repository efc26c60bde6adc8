#include "protocol/tcpserver.h"

#include "core/logMsg.h"
#include "platform/net.h"
#include "protocol/control_frame.h"

TcpServer::~TcpServer() { closeAll(); }

bool TcpServer::listen(int devicePort) {
    listenFd_ = plat::net::openTcpListener(devicePort, &port_);
    if (listenFd_ < 0) {
        writeLogMsg(LOG_ERROR, "TCP server: port " + std::to_string(plat::net::boardPort(devicePort)) + " cannot be opened");
        return false;
    }
    writeLogMsg(LOG_INFO, "TCP server listening on port " + std::to_string(port_));
    return true;
}

void TcpServer::closeAll() {
    for (auto& c : clients_) plat::net::closeFd(c.first);
    clients_.clear();
    plat::net::closeFd(listenFd_);
    listenFd_ = -1;
}

void TcpServer::closeClient(int fd) {
    plat::net::closeFd(fd);
    clients_.erase(fd);
}

void TcpServer::acceptClients() {
    for (int fd; (fd = plat::net::acceptClient(listenFd_)) >= 0;) {
        if (clients_.size() >= kMaxClients) {
            writeLogMsg(LOG_WARNING, "TCP server: client refused, " + std::to_string(kMaxClients) + " connected");
            plat::net::closeFd(fd);
            continue;
        }
        clients_[fd] = std::make_unique<control_link>(ctl::kTransportTcp);
    }
}

bool TcpServer::sendData(int fd, const uint8_t* data, size_t n) {
    if (plat::net::sendAll(fd, data, n)) return true;
    // A client that takes no replies is dropped rather than holding the others.
    closing_.push_back(fd);
    return false;
}

bool TcpServer::recvData(int timeoutMs, int wakeFd) {
    std::vector<pollfd> fds;
    fds.reserve(clients_.size() + 2);
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (auto& c : clients_) fds.push_back({c.first, POLLIN, 0});
    if (plat::net::pollFds(fds, timeoutMs) <= 0) return true;
    if (fds[0].revents) return false;
    closing_.clear();
    for (size_t i = 2; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        const int fd = fds[i].fd;
        const ssize_t r = plat::net::recvSome(fd, buf_, sizeof buf_);
        if (r == -1) continue;
        if (r <= 0) {
            closing_.push_back(fd);
            continue;
        }
        clients_[fd]->onBytes(buf_, size_t(r), [&](const std::vector<uint8_t>& reply) {
            sendData(fd, reply.data(), reply.size());
        });
    }
    for (int fd : closing_) closeClient(fd);
    if (fds[1].revents) acceptClients();
    return true;
}
