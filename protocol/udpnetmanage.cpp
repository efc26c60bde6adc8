#include "protocol/udpnetmanage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/net.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/link_gate.h"
#include "protocol/control_frame.h"
#include "protocol/machine_places.h"

struct udpnetManage::Sender : PcClient {
    Sender(int f, const sockaddr_in& a) : PcClient(ctl::kTransportUdp), fd(f), addr(a) {
        // the senders of one address are one machine in the pass-through's turns
        setSource(a.sin_addr.s_addr, control_link::kUdpHostMachine);
    }
    void deliver(const std::vector<uint8_t>& reply) override { plat::net::sendTo(fd, reply.data(), reply.size(), addr); }
    bool is(const sockaddr_in& a) const { return a.sin_addr.s_addr == addr.sin_addr.s_addr && a.sin_port == addr.sin_port; }
    std::string name() const { return name(addr); }
    static std::string name(const sockaddr_in& a) { return "sender " + MachinePlaces::name(a); }
    int fd;
    sockaddr_in addr;
};

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

udpnetManage::udpnetManage() : senders_(kMaxSenders, "UDP", "ctl-udp-job") {}

udpnetManage* udpnetManage::pInstance() {
    if (p_udpnetManage) return p_udpnetManage;
    p_udpnetManage = new udpnetManage;
    udpnetManage* u = p_udpnetManage;
    u->wifiFd_ = plat::net::openUdpSocket(kWifiPort, &u->wifiPort_);
    if (u->wifiFd_ < 0)
        writeLogMsg(LOG_ERROR, "UDP server: WiFi port " + std::to_string(plat::net::boardPort(kWifiPort)) + " cannot be opened");
    else
        u->wifiThread_.start("UDP WiFi", "ctl-udp-wifi", [u] { u->wifiThread(); });
    if (!g_udpnetmode) return p_udpnetManage;
    u->fd_ = plat::net::openUdpSocket(kControlPort, &u->port_);
    if (u->fd_ < 0) {
        writeLogMsg(LOG_ERROR, "UDP server: port " + std::to_string(plat::net::boardPort(kControlPort)) + " cannot be opened");
        return u;
    }
    writeLogMsg(LOG_INFO, "UDP server listening on port " + std::to_string(u->port_));
    u->thread_.start("UDP", "ctl-udp", [u] { u->controlThread(); });
    return u;
}

void udpnetManage::resetInstanceForTest() {
    if (!p_udpnetManage) return;
    p_udpnetManage->thread_.stop();
    p_udpnetManage->wifiThread_.stop();
    plat::net::closeFd(p_udpnetManage->fd_);
    plat::net::closeFd(p_udpnetManage->wifiFd_);
    delete p_udpnetManage;
    p_udpnetManage = nullptr;
}

void udpnetManage::controlThread() {
    while (!thread_.stopping()) {
        std::vector<pollfd> fds{{thread_.wakeFd(), POLLIN, 0}, {fd_, POLLIN, 0}, {senders_.jobDoneFd(), POLLIN, 0}};
        const int wait = DropLog::waitMs({&garbage_, &refused_, &stale_, &given_, &senders_.drops()}, -1);
        plat::net::pollFds(fds, senders_.turnDue() ? 0 : wait);  // the wake pipe ends the wait
        if (fds[0].revents) {
            thread_.drainWake();
            continue;
        }
        if (fds[2].revents) senders_.drainJobDone();
        senders_.collectJobs();
        dropStale();
        if (fds[1].revents) {
            forgetQuiet();
            for (size_t k = 0; k < kDatagramsPerTurn; ++k) {
                sockaddr_in from{};
                const ssize_t r = plat::net::recvFrom(fd_, buf_.data(), buf_.size(), &from);
                if (r < 0) break;
                if (r > 0) receive(from, size_t(r));
            }
        }
        senders_.serveTurn();
        senderCount_ = senders_.size();
        backlog_.note(heldBytes());
        DropLog::flushDue({&garbage_, &refused_, &stale_, &given_, &senders_.drops()});
    }
    senders_.clear();
}

void udpnetManage::receive(const sockaddr_in& from, size_t n) {
    frames_.clear();
    size_t bad = 0, past = 0;
    datagram_.reset();
    datagram_.feed(buf_.data(), n, [&](const uint8_t* frame, size_t length) {
        if (!control_link::wholeFrame(frame, length))
            ++bad;
        else if (frames_.size() < kSenderFrames)
            frames_.emplace_back(frame, frame + length);
        else
            ++past;
    });
    if (bad) garbage_.log(Sender::name(from) + ", frames short or with a bad BCC", bad);
    // Garbage earns no place and keeps none.
    if (frames_.empty()) return;
    std::string why;
    Sender* s = admit(from, &why);
    if (!s) {
        ++refusedDatagrams_;
        refused_.log(Sender::name(from) + " refused, " + why + "; its frames", frames_.size() + past);
        return;
    }
    s->lastActive = G_timeTicks.load();
    size_t all = heldBytes();
    for (auto& f : frames_) {
        const size_t length = f.size();
        if ((length <= kSmallFrame || all + length <= kSendersBytes) &&
            s->link->holdFrame(std::move(f), {kSenderFrames, kSenderBytes}))
            all += length;
        else
            ++past;
    }
    if (past)
        senders_.logDropped(s->name() + ", frames past the " + std::to_string(kSenderFrames) + " frames or " +
                                std::to_string(kSenderBytes / 1024) + " KiB it may have waiting",
                            past);
}

udpnetManage::Sender* udpnetManage::admit(const sockaddr_in& from, std::string* why) {
    for (size_t i = 0; i < senders_.size(); ++i)
        if (static_cast<Sender&>(senders_[i]).is(from)) return &static_cast<Sender&>(senders_[i]);
    // A quiet sender loses nothing with its place: it takes one again with its next frame.
    const MachinePlaces::Place place = MachinePlaces(senders_, 0).placeFor(from.sin_addr.s_addr);
    if (place.kind == MachinePlaces::Place::kNone) {
        *why = place.why;
        return nullptr;
    }
    if (place.kind == MachinePlaces::Place::kGiven) {
        const std::string gone = static_cast<Sender&>(senders_[place.giver]).name();
        const bool running = senders_[place.giver].busy();
        given_.log(gone + (running ? " (its command running still answered)" : "") + " for " + Sender::name(from) + " (" +
                       place.why + ")",
                   1);
        if (running)
            senders_.release(place.giver, gone + " gave its place to a new one");
        else
            senders_.remove(place.giver, gone + " forgotten for a new one");
    }
    std::unique_ptr<PcClient> back = senders_.takeBack([&](const PcClient& c) { return static_cast<const Sender&>(c).is(from); });
    senders_.add(back ? std::move(back) : std::make_unique<Sender>(fd_, from));
    return &static_cast<Sender&>(senders_[senders_.size() - 1]);
}

size_t udpnetManage::heldBytes() const {
    size_t all = 0;
    for (size_t i = 0; i < senders_.size(); ++i) all += senders_[i].link->heldBytes();
    return all;
}

void udpnetManage::forgetQuiet() {
    for (size_t i = 0; i < senders_.size();) {
        if (senders_[i].quiet() && senders_[i].idleTicks() >= kSenderIdleTicks) {
            if (senders_[i].link->transferOpen())
                given_.log(static_cast<Sender&>(senders_[i]).name() + " quiet for " + std::to_string(kSenderIdleTicks / 100) +
                               " s, its file transfer dropped",
                           1);
            senders_.remove(i, "quiet sender");
        } else
            ++i;
    }
}

// Work that waited unstarted longer than any PC waits for it is not run for nobody.
void udpnetManage::dropStale() {
    for (size_t i = 0; i < senders_.size(); ++i) {
        const size_t n = senders_[i].link->dropHeldFramesOlderThan(kStaleTicks);
        if (n == 0) continue;
        staleFrames_ += n;
        stale_.log(static_cast<Sender&>(senders_[i]).name() + ", frames waiting unstarted over " +
                       std::to_string(kStaleTicks / 100) + " s",
                   n);
    }
}

void udpnetManage::wifiThread() {
    char text[512];
    while (!wifiThread_.stopping()) {
        std::vector<pollfd> fds{{wifiThread_.wakeFd(), POLLIN, 0}, {wifiFd_, POLLIN, 0}};
        if (plat::net::pollFds(fds, -1) <= 0) continue;  // the wake pipe ends the wait
        if (fds[0].revents) {
            wifiThread_.drainWake();
            continue;
        }
        sockaddr_in from{};
        const ssize_t r = plat::net::recvFrom(wifiFd_, text, sizeof text, &from);
        if (r <= 0) continue;
        if (!link_gate::open()) {  // the program stops: a setting changed now may miss its save
            link_gate::turnAway();
            continue;
        }
        // A datagram that filled the buffer may have been cut: not a command.
        H71_WIFI_CONFIG* wifi = H71_WIFI_CONFIG::p_wifi.load(std::memory_order_acquire);
        const std::string reply =
            (wifi && size_t(r) < sizeof text) ? wifi->at_command(std::string(text, size_t(r))) : std::string("ERR");
        if (link_gate::open()) plat::net::sendTo(wifiFd_, reply.data(), reply.size(), from);  // as every link: no answer after the signal
    }
}
