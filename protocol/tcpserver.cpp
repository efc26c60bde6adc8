#include "protocol/tcpserver.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/net.h"
#include "protocol/control_frame.h"

struct TcpServer::Client {
    explicit Client(int f) : fd(f), link(ctl::kTransportTcp), lastActive(G_timeTicks.load()), lastMoved(lastActive) {}
    size_t queued() const { return out.size() - outPos; }
    bool paused() const { return queued() > kQueueBound; }
    bool servable() const { return !failed && link.hasHeldFrame() && !paused(); }
    bool wantsRead() const { return !failed && !eof && !link.hasHeldFrame() && !paused(); }
    bool peerClosed() const { return eof || finSeen; }
    bool idle() const { return !link.hasHeldFrame() && queued() == 0; }
    // The peer sends nothing more and everything it asked for has gone out.
    bool done() const { return failed || (eof && idle()); }

    int fd;
    control_link link;
    std::vector<uint8_t> out;  // encoded replies; the socket has taken them up to outPos
    size_t outPos = 0;
    uint32_t lastActive;  // tick of the last byte in or out
    uint32_t lastMoved;   // tick since the queued replies last moved
    bool eof = false;      // read the end of the peer's stream
    bool finSeen = false;  // poll saw the peer's end before it was read; not asked again
    bool failed = false;
};

TcpServer::TcpServer() = default;

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
    for (auto& c : clients_) plat::net::closeFd(c->fd);
    clients_.clear();
    count_ = 0;
    plat::net::closeFd(listenFd_);
    listenFd_ = -1;
}

void TcpServer::closeDone() {
    for (size_t i = 0; i < clients_.size();) {
        if (!clients_[i]->done()) {
            ++i;
            continue;
        }
        plat::net::closeFd(clients_[i]->fd);
        clients_.erase(clients_.begin() + long(i));
        if (turnStart_ > i) --turnStart_;
    }
    count_ = clients_.size();
}

void TcpServer::readFrom(Client& c) {
    const uint32_t now = G_timeTicks.load();
    const ssize_t r = plat::net::recvSome(c.fd, buf_, sizeof buf_);
    if (r > 0) {
        c.lastActive = now;
        c.link.holdBytes(buf_, size_t(r));
    } else if (r == 0) {
        c.eof = true;
    } else if (r == -2) {
        c.failed = true;
    }
}

void TcpServer::flush(Client& c) {
    const uint32_t now = G_timeTicks.load();  // before the bytes go: the peer may answer at once
    while (c.queued() > 0) {
        const ssize_t w = plat::net::sendSome(c.fd, c.out.data() + c.outPos, c.queued());
        if (w == -1) break;
        if (w < 0) {
            c.failed = true;
            return;
        }
        c.outPos += size_t(w);
        c.lastActive = c.lastMoved = now;
    }
    if (c.outPos == c.out.size()) {
        c.out.clear();
        c.outPos = 0;
    } else if (c.outPos >= kQueueBound) {
        c.out.erase(c.out.begin(), c.out.begin() + long(c.outPos));
        c.outPos = 0;
    }
}

void TcpServer::queueReply(Client& c, const std::vector<uint8_t>& reply) {
    if (c.failed) return;
    if (c.queued() == 0) c.lastMoved = G_timeTicks.load();
    c.out.insert(c.out.end(), reply.begin(), reply.end());
    flush(c);
}

void TcpServer::onEvents(Client& c, short revents) {
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        c.failed = true;
        return;
    }
    if (revents & POLLRDHUP) c.finSeen = true;
    if (revents & POLLOUT) flush(c);
    if ((revents & (POLLIN | POLLRDHUP)) && c.wantsRead()) readFrom(c);
}

// With every place taken: first the connections whose peer has closed or failed (a burst
// of short connections must not lock a new client out), then the one idle longest.
void TcpServer::makeRoom() {
    std::vector<pollfd> fds;
    for (auto& c : clients_) fds.push_back({c->fd, short(c->peerClosed() ? 0 : POLLRDHUP), 0});
    if (plat::net::pollFds(fds, 0) > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) clients_[i]->failed = true;
            if (fds[i].revents & POLLRDHUP) clients_[i]->finSeen = true;
        }
    }
    bool freed = false;
    for (auto& c : clients_) {
        if (c->peerClosed()) c->failed = true;
        freed = freed || c->failed;
    }
    if (!freed) {
        Client* oldest = nullptr;
        uint32_t longest = 0;
        for (auto& c : clients_) {
            const uint32_t span = Utils::getTimeSpace(c->lastActive);
            if (c->idle() && span >= kIdleTicks && span >= longest) {
                oldest = c.get();
                longest = span;
            }
        }
        if (oldest) {
            writeLogMsg(LOG_WARNING, "TCP server: client idle " + std::to_string(longest / 100) + " s closed for a new one");
            oldest->failed = true;
        }
    }
    closeDone();
}

void TcpServer::acceptClients() {
    for (int fd; (fd = plat::net::acceptClient(listenFd_)) >= 0;) {
        if (clients_.size() >= kMaxClients) makeRoom();
        if (clients_.size() >= kMaxClients) {
            writeLogMsg(LOG_WARNING, "TCP server: client refused, " + std::to_string(kMaxClients) + " connected");
            plat::net::closeFd(fd);
            continue;
        }
        clients_.push_back(std::make_unique<Client>(fd));
        count_ = clients_.size();
    }
}

// One frame per client, starting after the client served last, so a client that
// arrived during a slow command comes before that command's sender's next one.
void TcpServer::serveTurn() {
    const size_t n = clients_.size();
    size_t last = n;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (turnStart_ + k) % n;
        Client& c = *clients_[i];
        if (!c.servable()) continue;
        c.link.handleHeldFrame([&](const std::vector<uint8_t>& reply) { queueReply(c, reply); });
        last = i;
    }
    if (last < n) turnStart_ = last + 1;
}

bool TcpServer::recvData(int timeoutMs, int wakeFd) {
    std::vector<pollfd> fds;
    fds.reserve(clients_.size() + 2);
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    bool turnDue = false, repliesWaiting = false;
    for (auto& c : clients_) {
        short events = 0;
        if (c->wantsRead()) events |= POLLIN;
        if (!c->peerClosed()) events |= POLLRDHUP;
        if (c->queued() > 0) events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        turnDue = turnDue || c->servable();
        repliesWaiting = repliesWaiting || c->queued() > 0;
    }
    // only a client that leaves its replies waiting has a time-out to watch
    plat::net::pollFds(fds, turnDue ? 0 : repliesWaiting ? timeoutMs : -1);
    if (fds[0].revents) return false;
    for (size_t i = 2; i < fds.size(); ++i) {
        Client& c = *clients_[i - 2];
        if (fds[i].revents) onEvents(c, fds[i].revents);
        if (c.queued() > 0 && Utils::getTimeSpace(c.lastMoved) > kStallTicks) {
            writeLogMsg(LOG_WARNING, "TCP server: client takes no replies, dropped");
            c.failed = true;
        }
    }
    closeDone();
    if (fds[1].revents) acceptClients();
    serveTurn();
    closeDone();
    return true;
}
