#pragma once
// UDP transport: the control port 5008 and its thread. A datagram carries whole line
// frames; each reply goes back to the address the request came from. Beside it the
// WiFi module's port 13769 and its thread: one AT command per datagram, answered to
// the sender (h71_wifi_config.h).
#include <cstdint>
#include <vector>

#include "protocol/control_link.h"
#include "protocol/link_thread.h"

class udpnetManage {
public:
    static constexpr int kControlPort = 5008;
    static constexpr int kWifiPort = 13769;

    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;   // set by start-up, before its thread runs
    static void resetInstanceForTest();

    int port() const { return port_; }
    int wifiPort() const { return wifiPort_; }
    void controlThread();
    void wifiThread();

private:
    udpnetManage();
    int fd_ = -1;
    int port_ = -1;
    control_link link_;
    link_thread thread_;
    int wifiFd_ = -1;
    int wifiPort_ = -1;
    link_thread wifiThread_;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(65536);
};
