#include "protocol/udpnetmanage.h"

#include <arpa/inet.h>

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/net.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/control_frame.h"

namespace {
std::string senderName(const sockaddr_in& addr) {
    char ip[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    return std::string("sender ") + ip + ":" + std::to_string(ntohs(addr.sin_port));
}
}  // namespace

struct udpnetManage::Sender : PcClient {
    Sender(int f, const sockaddr_in& a) : PcClient(ctl::kTransportUdp), fd(f), addr(a) {}
    void deliver(const std::vector<uint8_t>& reply) override { plat::net::sendTo(fd, reply.data(), reply.size(), addr); }
    bool is(const sockaddr_in& a) const { return a.sin_addr.s_addr == addr.sin_addr.s_addr && a.sin_port == addr.sin_port; }
    std::string name() const { return senderName(addr); }
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
        plat::net::pollFds(fds, senders_.turnDue() ? 0 : -1);  // the wake pipe ends the wait
        if (fds[0].revents) {
            thread_.drainWake();
            continue;
        }
        if (fds[2].revents) senders_.drainJobDone();
        senders_.collectJobs();
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
    if (bad) garbage_.log(senderName(from) + ", frames short or with a bad BCC", bad);
    // Garbage earns no place and keeps none.
    if (frames_.empty()) return;
    Sender* s = admit(from);
    if (!s) {
        ++refusedDatagrams_;
        refused_.log(senderName(from) + " refused, every place has work running or waiting; its frames",
                     frames_.size() + past);
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

udpnetManage::Sender* udpnetManage::admit(const sockaddr_in& from) {
    for (size_t i = 0; i < senders_.size(); ++i)
        if (static_cast<Sender&>(senders_[i]).is(from)) return &static_cast<Sender&>(senders_[i]);
    if (senders_.size() >= kMaxSenders) {
        // Only a quiet one gives its place: the one quiet longest (the first of equals: it
        // came first).
        size_t out = senders_.size();
        for (size_t i = 0; i < senders_.size(); ++i) {
            const PcClient& a = senders_[i];
            if (a.quiet() && (out == senders_.size() || a.idleTicks() > senders_[out].idleTicks())) out = i;
        }
        if (out == senders_.size()) return nullptr;
        senders_.remove(out, static_cast<Sender&>(senders_[out]).name() + " forgotten for a new one");
    }
    senders_.add(std::make_unique<Sender>(fd_, from));
    return &static_cast<Sender&>(senders_[senders_.size() - 1]);
}

size_t udpnetManage::heldBytes() const {
    size_t all = 0;
    for (size_t i = 0; i < senders_.size(); ++i) all += senders_[i].link->heldBytes();
    return all;
}

void udpnetManage::forgetQuiet() {
    for (size_t i = 0; i < senders_.size();) {
        if (senders_[i].quiet() && senders_[i].idleTicks() >= kSenderIdleTicks)
            senders_.remove(i, "quiet sender");
        else
            ++i;
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
        // A datagram that filled the buffer may have been cut: not a command.
        H71_WIFI_CONFIG* wifi = H71_WIFI_CONFIG::p_wifi.load(std::memory_order_acquire);
        const std::string reply =
            (wifi && size_t(r) < sizeof text) ? wifi->at_command(std::string(text, size_t(r))) : std::string("ERR");
        plat::net::sendTo(wifiFd_, reply.data(), reply.size(), from);
    }
}
