#include "protocol/tcpserver.h"

#include <algorithm>
#include <system_error>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "protocol/control_frame.h"

// A long command of one client on its own thread. The worker owns `replies` until it
// sets `finished`; the server's thread then joins it and queues them.
struct TcpServer::Job {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::vector<std::vector<uint8_t>> replies;
};

struct TcpServer::Client {
    explicit Client(int f)
        : fd(f), link(std::make_shared<control_link>(ctl::kTransportTcp)), lastFrame(G_timeTicks.load()),
          lastMoved(lastFrame) {}
    size_t queued() const { return out.size() - outPos; }
    bool paused() const { return queued() > kQueueBound; }
    bool busy() const { return job != nullptr; }
    bool servable() const { return !failed && !busy() && link->hasHeldFrame() && !paused(); }
    bool wantsRead() const { return !failed && !eof && !link->hasHeldFrame() && !paused(); }
    bool peerClosed() const { return eof || finSeen; }
    bool idle() const { return !busy() && !link->hasHeldFrame() && queued() == 0; }
    // The peer sends nothing more and everything it asked for has gone out.
    bool done() const { return failed || (eof && idle()); }

    int fd;
    std::shared_ptr<control_link> link;  // shared with the running job
    std::unique_ptr<Job> job;            // the long command running, if any
    std::vector<uint8_t> out;  // encoded replies; the socket has taken them up to outPos
    size_t outPos = 0;
    uint32_t lastFrame;   // tick of the last whole frame received
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
    for (auto& c : clients_) {
        plat::net::closeFd(c->fd);
        if (c->job) orphans_.push_back(std::move(c->job));
    }
    clients_.clear();
    count_ = 0;
    for (auto& j : orphans_) j->thread.join();
    orphans_.clear();
    for (const Refused& r : refused_) plat::net::closeFd(r.fd);
    refused_.clear();
    plat::net::closeFd(listenFd_);
    listenFd_ = -1;
}

void TcpServer::closeDone() {
    for (size_t i = 0; i < clients_.size();) {
        Client& c = *clients_[i];
        if (!c.done()) {
            ++i;
            continue;
        }
        plat::net::closeFd(c.fd);
        // The peer is gone; the command still finishes, its reply goes nowhere.
        if (c.job) orphans_.push_back(std::move(c.job));
        clients_.erase(clients_.begin() + long(i));
        if (turnStart_ > i) --turnStart_;
    }
    count_ = clients_.size();
}

void TcpServer::readFrom(Client& c) {
    const uint32_t now = G_timeTicks.load();
    const ssize_t r = plat::net::recvSome(c.fd, buf_, sizeof buf_);
    if (r > 0) {
        // Bytes outside whole frames keep no place: only a frame counts as activity.
        if (c.link->holdBytes(buf_, size_t(r)) > 0) c.lastFrame = now;
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
        c.lastMoved = now;
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
            const uint32_t span = Utils::getTimeSpace(c->lastFrame);
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
            refuse(fd);
            continue;
        }
        clients_.push_back(std::make_unique<Client>(fd));
        count_ = clients_.size();
    }
}

// A socket closed with unread bytes sends a reset, and the peer may lose the end of the
// stream with it: the refused one is told the end first and closed once its peer has
// closed too (or after kStallTicks), whatever it sent read and dropped meanwhile.
void TcpServer::refuse(int fd) {
    if (refused_.size() >= kMaxClients) {
        plat::net::closeFd(refused_.front().fd);
        refused_.erase(refused_.begin());
    }
    plat::net::shutdownSending(fd);
    refused_.push_back({fd, G_timeTicks.load()});
}

void TcpServer::drainRefused(size_t i, short revents) {
    bool closed = Utils::getTimeSpace(refused_[i].since) > kStallTicks || (revents & (POLLERR | POLLNVAL));
    if (revents & (POLLIN | POLLHUP))
        for (ssize_t r; !closed && (r = plat::net::recvSome(refused_[i].fd, buf_, sizeof buf_)) != -1;) closed = r <= 0;
    if (!closed) return;
    plat::net::closeFd(refused_[i].fd);
    refused_[i].fd = -1;
}

// One frame per client, starting after the client served last, so a client that
// arrived during a slow command comes before that command's sender's next one.
void TcpServer::serveTurn() {
    const size_t n = clients_.size();
    size_t last = n;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (turnStart_ + k) % n;
        Client& c = *clients_[i];
        if (!canServe(c)) continue;
        if (c.link->heldFrameMayTakeLong())
            startJob(c);
        else
            c.link->handleHeldFrame([&](const std::vector<uint8_t>& reply) { queueReply(c, reply); });
        last = i;
    }
    if (last < n) turnStart_ = last + 1;
}

// A job per client, and those of closed clients until they end: a PC that sends a long
// command and leaves, again and again, gets no more threads than the places.
bool TcpServer::canServe(const Client& c) const {
    if (!c.servable()) return false;
    if (!c.link->heldFrameMayTakeLong()) return true;
    size_t jobs = orphans_.size();
    for (const auto& other : clients_) jobs += other->busy() ? 1 : 0;
    return jobs < kMaxClients;
}

void TcpServer::startJob(Client& c) {
    auto job = std::make_unique<Job>();
    Job* j = job.get();
    std::shared_ptr<control_link> link = c.link;
    auto frame = std::make_shared<const std::vector<uint8_t>>(link->takeHeldFrame());
    try {
        job->thread = std::thread([this, j, link, frame] {
            plat::nameThisThread("ctl-tcp-job");
            link->handleFrame(frame->data(), frame->size(),
                              [j](const std::vector<uint8_t>& reply) { j->replies.push_back(reply); });
            j->finished = true;
            jobDone_.wake();
        });
    } catch (const std::system_error& e) {
        writeLogMsg(LOG_ERROR, std::string("TCP server: no thread for a long command (") + e.what() + "), run in turn");
        link->handleFrame(frame->data(), frame->size(), [&](const std::vector<uint8_t>& reply) { queueReply(c, reply); });
        return;
    }
    c.job = std::move(job);
}

void TcpServer::collectJobs() {
    for (auto& c : clients_) {
        if (!c->job || !c->job->finished) continue;
        c->job->thread.join();
        for (const auto& reply : c->job->replies) queueReply(*c, reply);
        c->job.reset();
    }
    for (size_t i = 0; i < orphans_.size();) {
        if (!orphans_[i]->finished) {
            ++i;
            continue;
        }
        orphans_[i]->thread.join();
        orphans_.erase(orphans_.begin() + long(i));
    }
}

bool TcpServer::recvData(int timeoutMs, int wakeFd) {
    constexpr size_t kFirstClient = 3;
    std::vector<pollfd> fds;
    fds.reserve(kFirstClient + clients_.size() + refused_.size());
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({jobDone_.readFd(), POLLIN, 0});
    bool turnDue = false, repliesWaiting = !refused_.empty();
    for (auto& c : clients_) {
        short events = 0;
        if (c->wantsRead()) events |= POLLIN;
        if (!c->peerClosed()) events |= POLLRDHUP;
        if (c->queued() > 0) events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        turnDue = turnDue || canServe(*c);
        repliesWaiting = repliesWaiting || c->queued() > 0;
    }
    for (const Refused& r : refused_) fds.push_back({r.fd, POLLIN, 0});
    // only a client that leaves its replies waiting, or a refused one, has a time-out to watch
    plat::net::pollFds(fds, turnDue ? 0 : repliesWaiting ? timeoutMs : -1);
    if (fds[0].revents) return false;
    if (fds[2].revents) jobDone_.drain();
    const size_t nClients = clients_.size();
    for (size_t i = 0; i < nClients; ++i) {
        Client& c = *clients_[i];
        if (fds[kFirstClient + i].revents) onEvents(c, fds[kFirstClient + i].revents);
        if (c.queued() > 0 && Utils::getTimeSpace(c.lastMoved) > kStallTicks) {
            writeLogMsg(LOG_WARNING, "TCP server: client takes no replies, dropped");
            c.failed = true;
        }
    }
    for (size_t i = 0; i < refused_.size(); ++i) drainRefused(i, fds[kFirstClient + nClients + i].revents);
    refused_.erase(std::remove_if(refused_.begin(), refused_.end(), [](const Refused& r) { return r.fd < 0; }),
                   refused_.end());
    collectJobs();
    closeDone();
    if (fds[1].revents) acceptClients();
    serveTurn();
    closeDone();
    return true;
}
