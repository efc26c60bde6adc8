#pragma once
// The WiFi module: an access point on wlan1 (hostapd, with udhcpd handing out
// addresses) and optionally a station on wlan0 (wpa_supplicant). Its settings live in
// the three configuration files the daemons read; they are changed by AT commands that
// arrive on UDP port 13769 (answered "OK+..." or "ERR") and are written whole and
// atomically. No setting ever reaches a shell command: the commands name only the
// files and a checked address.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/worker_pacer.h"

struct WifiSettings {
    std::string apSsid = "vlxH71N";
    std::string apPassword = "12345678";
    int apChannel = 6;
    std::string apAddress = "192.168.22.101";  // the controller on wlan1 (g_str_wifi_ip)
    std::string staSsid;                      // empty: no station
    std::string staPassword;
};

namespace wifi {

constexpr const char* kHostapdConf = "/etc/rtl_hostapd_2G.conf";
constexpr const char* kUdhcpdConf = "/etc/udhcpd.conf";
constexpr const char* kWpaConf = "/etc/wpa_supplicant.conf";
constexpr const char* kApInterface = "wlan1";
constexpr const char* kStaInterface = "wlan0";
constexpr int kAtPort = 13769;

// 1..32 bytes, no control characters (a newline would end the line in the file).
bool validSsid(const std::string& ssid);
// WPA passphrase: 8..63 printable ASCII characters, no double quote or backslash.
bool validPassword(const std::string& password);
bool validChannel(int channel);  // 1..13

std::string hostapdConf(const WifiSettings& s);
std::string udhcpdConf(const WifiSettings& s);
std::string wpaConf(const WifiSettings& s);
// The settings as the files hold them now; defaults for what is missing or unreadable.
WifiSettings readSettings(const std::string& apAddress);

}  // namespace wifi

class H71_WIFI_CONFIG {
public:
    // Ticks between a restart request and the set-up (start-up included).
    static constexpr uint32_t kResetDelayTicks = 300;

    // Creates the singleton, asks for the first set-up and starts the start-up thread.
    static H71_WIFI_CONFIG* pInstance();
    // Published whole (release) once made: the AT port's thread, started earlier, reads it
    // (acquire) and may see it on any core.
    static std::atomic<H71_WIFI_CONFIG*> p_wifi;
    static void resetInstanceForTest();

    // The access point (and station) are set up again once the delay has passed.
    void set_wifi_reset_flag();
    bool resetPending() const { return resetFlag_.load(); }

    WifiSettings settings();
    // Writes the three files (each replaced atomically) and asks for a restart. False,
    // and nothing written, when a setting is not valid.
    bool apply(const WifiSettings& s);

    // One AT command line (without or with CR/LF) -> the reply text.
    std::string at_command(const std::string& line);

    // One pass of the start-up thread: sets the WiFi up when the restart is due.
    // True when it did.
    bool startupPass();

private:
    H71_WIFI_CONFIG();
    ~H71_WIFI_CONFIG();
    void setUp(const WifiSettings& s);
    // A fresh board has none of the files: they are written from the defaults.
    void writeMissingFiles();
    void loop();

    plat::Mutex mutex_{plat::Lock::WifiConfig};
    WifiSettings settings_;   // under mutex_ (the WiFi thread and the protocol's settings)
    std::atomic<bool> resetFlag_{false};
    std::atomic<uint32_t> resetTick_{0};
    std::atomic<bool> stop_{false};
    plat::WorkerPacer pacer_;
    std::thread thread_;
};
