#include "protocol/udpnetmanage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/net.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/control_frame.h"

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

udpnetManage::udpnetManage() : link_(ctl::kTransportUdp) {}

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
        std::vector<pollfd> fds{{thread_.wakeFd(), POLLIN, 0}, {fd_, POLLIN, 0}};
        if (plat::net::pollFds(fds, -1) <= 0) continue;  // the wake pipe ends the wait
        if (fds[0].revents) {
            thread_.drainWake();
            continue;
        }
        sockaddr_in from{};
        const ssize_t r = plat::net::recvFrom(fd_, buf_.data(), buf_.size(), &from);
        if (r <= 0) continue;
        // Frames never span datagrams.
        link_.resetStream();
        link_.onBytes(buf_.data(), size_t(r), [&](const std::vector<uint8_t>& reply) {
            plat::net::sendTo(fd_, reply.data(), reply.size(), from);
        });
        link_.resetStream();
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
