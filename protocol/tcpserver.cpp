#include "protocol/tcpserver.h"

#include <algorithm>
#include <system_error>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "protocol/control_frame.h"
#include "protocol/machine_places.h"

struct TcpServer::Client : PcClient {
    Client(TcpServer& s, int f) : PcClient(ctl::kTransportTcp), server(s), fd(f), lastMoved(lastActive) {}
    void deliver(const std::vector<uint8_t>& reply) override { server.queueReply(*this, reply); }
    bool mayServe() const override { return !failed && !paused(); }
    size_t queued() const { return out.size() - outPos; }
    bool paused() const { return queued() > kQueueBound; }
    bool wantsRead(size_t aheadAll) const {
        return !failed && !eof && !paused() &&
               (!link->hasHeldFrame() || (ahead.size() < kReadAheadBytes && aheadAll < kReadAheadAll));
    }
    bool peerClosed() const { return eof || finSeen; }
    bool idle() const override { return quiet() && queued() == 0 && ahead.empty(); }
    // The peer sends nothing more and everything it asked for has gone out.
    bool done() const { return failed || (eof && idle()); }

    TcpServer& server;
    int fd;
    std::vector<uint8_t> out;  // encoded replies; the socket has taken them up to outPos
    std::vector<uint8_t> ahead;  // bytes read while frames waited, not yet decoded
    size_t outPos = 0;
    uint32_t lastMoved;    // tick since the queued replies last moved
    bool eof = false;      // read the end of the peer's stream
    bool finSeen = false;  // poll saw the peer's end before it was read; not asked again
    bool failed = false;
};

TcpServer::TcpServer() : clients_(kMaxClients, "TCP server", "ctl-tcp-job") {}

TcpServer::Client& TcpServer::client(size_t i) { return static_cast<Client&>(clients_[i]); }

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
    for (size_t i = 0; i < clients_.size(); ++i) plat::net::closeFd(client(i).fd);
    clients_.clear();
    count_ = 0;
    aheadAll_ = 0;
    for (const Refused& r : refused_) plat::net::closeFd(r.fd);
    refused_.clear();
    plat::net::closeFd(listenFd_);
    listenFd_ = -1;
}

void TcpServer::closeDone() {
    for (size_t i = 0; i < clients_.size();) {
        Client& c = client(i);
        // A peer that closed has left: what it queued that would hold a part of the
        // controller for it (the cards' bus, a flash) is not started.
        if (c.peerClosed()) dropDeparted(c);
        if (!c.done()) {
            ++i;
            continue;
        }
        aheadAll_ -= c.ahead.size();
        plat::net::closeFd(c.fd);
        clients_.remove(i, "client closed");
    }
    count_ = clients_.size();
}

// What a departed client sent and nothing has started: decoded a chunk at a time, so its
// long commands never pile up as frames, and dropped; its short ones stay in order.
void TcpServer::dropDeparted(Client& c) {
    clients_.dropLongCommands(c, "client");
    while (!c.ahead.empty()) {
        refill(c);
        clients_.dropLongCommands(c, "client");
        if (c.link->hasHeldFrame()) break;  // short ones first; the rest after them
    }
}

// The bytes read ahead go to the link once its frames are served, a chunk at a time, until
// a frame waits again.
void TcpServer::refill(Client& c) {
    size_t n = 0;
    while (n < c.ahead.size() && !c.link->hasHeldFrame()) {
        const size_t chunk = std::min(c.ahead.size() - n, sizeof buf_);
        if (c.link->holdBytes(c.ahead.data() + n, chunk) > 0) c.lastActive = G_timeTicks.load();
        n += chunk;
    }
    if (n == 0) return;
    c.ahead.erase(c.ahead.begin(), c.ahead.begin() + long(n));
    aheadAll_ -= n;
    if (c.ahead.empty()) std::vector<uint8_t>().swap(c.ahead);  // the memory goes back
}

void TcpServer::readFrom(Client& c) {
    const uint32_t now = G_timeTicks.load();
    const ssize_t r = plat::net::recvSome(c.fd, buf_, sizeof buf_);
    if (r > 0) {
        if (c.link->hasHeldFrame() || !c.ahead.empty()) {
            c.ahead.insert(c.ahead.end(), buf_, buf_ + r);
            aheadAll_ += size_t(r);
            // Bytes outside whole frames keep no place: only a frame counts as activity.
        } else if (c.link->holdBytes(buf_, size_t(r)) > 0) {
            c.lastActive = now;
        }
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
    if ((revents & (POLLIN | POLLRDHUP)) && c.wantsRead(aheadAll_)) readFrom(c);
}

// The connections whose peer has closed or failed leave (a burst of short connections must
// not lock a new client out).
void TcpServer::closeDeparted() {
    std::vector<pollfd> fds;
    for (size_t i = 0; i < clients_.size(); ++i) fds.push_back({client(i).fd, short(client(i).peerClosed() ? 0 : POLLRDHUP), 0});
    if (plat::net::pollFds(fds, 0) > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) client(i).failed = true;
            if (fds[i].revents & POLLRDHUP) client(i).finSeen = true;
        }
    }
    for (size_t i = 0; i < clients_.size(); ++i)
        if (client(i).peerClosed()) client(i).failed = true;
    closeDone();
}

// A place for a new connection from `source` (machine_places.h); false, and *why, when
// there is none to give.
bool TcpServer::makeRoom(uint32_t source, std::string* why) {
    const MachinePlaces places(clients_, kIdleTicks);
    MachinePlaces::Place place = places.placeFor(source);
    if (place.kind == MachinePlaces::Place::kFree) return true;
    closeDeparted();  // their places are free before any is taken
    place = places.placeFor(source);
    if (place.kind == MachinePlaces::Place::kFree) return true;
    if (place.kind == MachinePlaces::Place::kNone) {
        *why = std::to_string(kMaxClients) + " connected, " + place.why;
        return false;
    }
    Client& c = client(place.giver);
    givenUp_.log("clients of " + MachinePlaces::name(c.source) + " closed for a new one of " + MachinePlaces::name(source) +
                     " (" + place.why + ")",
                 1);
    c.failed = true;
    closeDone();
    return true;
}

void TcpServer::acceptClients() {
    sockaddr_in peer{};
    for (int fd; (fd = plat::net::acceptClient(listenFd_, &peer)) >= 0;) {
        std::string why;
        if (!makeRoom(peer.sin_addr.s_addr, &why)) {
            refusals_.log("new client of " + MachinePlaces::name(peer.sin_addr.s_addr) + " refused, " + why +
                              "; connections",
                          1);
            refuse(fd);
            continue;
        }
        auto c = std::make_unique<Client>(*this, fd);
        c->setSource(peer.sin_addr.s_addr, control_link::kTcpHostMachine);
        clients_.add(std::move(c));
        count_ = clients_.size();
    }
}

// A socket closed with unread bytes sends a reset, and the peer may lose the end of the
// stream with it: the refused one is told the end first and closed once its peer has
// closed too (or after kStallTicks), what it sent (up to kRefusedBytes) read and dropped
// meanwhile.
void TcpServer::refuse(int fd) {
    if (refused_.size() >= kMaxClients) {
        plat::net::closeFd(refused_.front().fd);
        refused_.erase(refused_.begin());
    }
    plat::net::shutdownSending(fd);
    refused_.push_back({fd, G_timeTicks.load()});
}

// What it sent past kRefusedBytes is not read: a connection that sends on is closed with it
// unread (a reset), and costs the thread no more.
void TcpServer::drainRefused(size_t i, short revents) {
    Refused& r = refused_[i];
    bool closed = Utils::getTimeSpace(r.since) > kStallTicks || (revents & (POLLERR | POLLNVAL));
    if (revents & (POLLIN | POLLHUP))
        for (ssize_t n; !closed && (n = plat::net::recvSome(r.fd, buf_, std::min(sizeof buf_, kRefusedBytes + 1 - r.read))) != -1;) {
            if (n > 0) r.read += size_t(n);
            closed = n <= 0 || r.read > kRefusedBytes;
        }
    if (!closed) return;
    plat::net::closeFd(r.fd);
    r.fd = -1;
}

bool TcpServer::recvData(int timeoutMs, int wakeFd) {
    constexpr size_t kFirstClient = 3;
    std::vector<pollfd> fds;
    fds.reserve(kFirstClient + clients_.size() + refused_.size());
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({clients_.jobDoneFd(), POLLIN, 0});
    for (size_t i = 0; i < clients_.size(); ++i) refill(client(i));
    const bool turnDue = clients_.turnDue();
    bool repliesWaiting = !refused_.empty();
    for (size_t i = 0; i < clients_.size(); ++i) {
        const Client& c = client(i);
        short events = 0;
        if (c.wantsRead(aheadAll_)) events |= POLLIN;
        if (!c.peerClosed()) events |= POLLRDHUP;
        if (c.queued() > 0) events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
        repliesWaiting = repliesWaiting || c.queued() > 0;
    }
    for (const Refused& r : refused_) fds.push_back({r.fd, POLLIN, 0});
    // only a client that leaves its replies waiting, a refused one, or a count not yet
    // logged has a time-out to watch
    const int wait = DropLog::waitMs({&refusals_, &givenUp_, &clients_.drops()}, repliesWaiting ? timeoutMs : -1);
    plat::net::pollFds(fds, turnDue ? 0 : wait);
    if (fds[0].revents) return false;
    if (fds[2].revents) clients_.drainJobDone();
    const size_t nClients = clients_.size();
    for (size_t i = 0; i < nClients; ++i) {
        Client& c = client(i);
        if (fds[kFirstClient + i].revents) onEvents(c, fds[kFirstClient + i].revents);
        if (c.queued() > 0 && Utils::getTimeSpace(c.lastMoved) > kStallTicks) {
            writeLogMsg(LOG_WARNING, "TCP server: client takes no replies, dropped");
            c.failed = true;
        }
    }
    for (size_t i = 0; i < refused_.size(); ++i) drainRefused(i, fds[kFirstClient + nClients + i].revents);
    refused_.erase(std::remove_if(refused_.begin(), refused_.end(), [](const Refused& r) { return r.fd < 0; }),
                   refused_.end());
    clients_.collectJobs();
    // a departed client's frames are dropped before any turn
    for (size_t i = 0; i < clients_.size(); ++i) refill(client(i));
    closeDone();
    if (fds[1].revents) acceptClients();
    clients_.serveTurn();
    closeDone();
    noteBacklog();
    DropLog::flushDue({&refusals_, &givenUp_, &clients_.drops()});
    return true;
}

void TcpServer::noteBacklog() {
    size_t held = aheadAll_;
    for (size_t i = 0; i < clients_.size(); ++i) held += client(i).link->heldBytes() + client(i).queued();
    backlog_.note(held);
    aheadSeen_ = aheadAll_;
    heldSeen_ = held;
}
