#include "protocol/h71_wifi_config.h"

#include <QMutexLocker>
#include <QString>
#include <QVariant>

#include <cctype>
#include <sstream>
#include <system_error>
#include <vector>

#include "core/data_files.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/waits.h"

namespace {

// RAM word 0x306: 0 WiFi on, non-zero switched off on the front panel.
constexpr unsigned kRamWifiOff = 0x306;
constexpr size_t kMaxSsid = 32;
constexpr size_t kMaxConf = 64 * 1024;

bool readConf(const char* file, std::string* text) {
    return plat::readRegularFile(plat::path(file), kMaxConf, plat::Oversize::Refuse, text) == plat::FileRead::Ok;
}

std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

bool unhex(const std::string& h, std::string* out) {
    if (h.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < h.size(); i += 2) {
        const int hi = std::isxdigit(static_cast<unsigned char>(h[i])) ? std::stoi(h.substr(i, 1), nullptr, 16) : -1;
        const int lo = std::isxdigit(static_cast<unsigned char>(h[i + 1])) ? std::stoi(h.substr(i + 1, 1), nullptr, 16) : -1;
        if (hi < 0 || lo < 0) return false;
        out->push_back(char(hi << 4 | lo));
    }
    return true;
}

// "a.b.c.d" -> "a.b.c." and d.
bool splitAddress(const std::string& ip, std::string* net, int* host) {
    if (!plat::isDottedIPv4(ip)) return false;
    const size_t dot = ip.rfind('.');
    *net = ip.substr(0, dot + 1);
    *host = std::stoi(ip.substr(dot + 1));
    return true;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) {
        while (!l.empty() && (l.back() == '\r' || l.back() == ' ' || l.back() == '\t')) l.pop_back();
        size_t b = 0;
        while (b < l.size() && (l[b] == ' ' || l[b] == '\t')) ++b;
        out.push_back(l.substr(b));
    }
    return out;
}

bool startsWith(const std::string& s, const char* prefix, std::string* rest) {
    const std::string p(prefix);
    if (s.compare(0, p.size(), p) != 0) return false;
    *rest = s.substr(p.size());
    return true;
}

// A quoted value "..." (up to the last quote) or a hex string.
bool quotedOrHex(const std::string& v, std::string* out) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        *out = v.substr(1, v.size() - 2);
        return true;
    }
    return unhex(v, out);
}

std::string currentWifiAddress() {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    return g_str_wifi_ip.toStdString();
}

}  // namespace

namespace wifi {

bool validSsid(const std::string& ssid) {
    if (ssid.empty() || ssid.size() > kMaxSsid) return false;
    for (unsigned char c : ssid)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

bool validPassword(const std::string& password) {
    if (password.size() < 8 || password.size() > 63) return false;
    for (unsigned char c : password)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
    return true;
}

bool validChannel(int channel) { return channel >= 1 && channel <= 13; }

// The SSID goes in as a hex dump (ssid2), so quotes, '#' or leading blanks in it
// cannot change how the daemon reads the line.
std::string hostapdConf(const WifiSettings& s) {
    std::ostringstream o;
    o << "interface=" << kApInterface << "\n"
      << "driver=nl80211\n"
      << "ctrl_interface=/var/run/hostapd\n"
      << "ssid2=" << hex(s.apSsid) << "\n"
      << "hw_mode=g\n"
      << "channel=" << s.apChannel << "\n"
      << "ieee80211n=1\n"
      << "auth_algs=1\n"
      << "ignore_broadcast_ssid=0\n"
      << "wpa=2\n"
      << "wpa_key_mgmt=WPA-PSK\n"
      << "rsn_pairwise=CCMP\n"
      << "wpa_passphrase=" << s.apPassword << "\n";
    return o.str();
}

std::string udhcpdConf(const WifiSettings& s) {
    std::string net;
    int host = 0;
    splitAddress(s.apAddress, &net, &host);
    // A range of 51 addresses that leaves out the controller's own.
    const int first = host >= 150 && host <= 200 ? 50 : 150;
    std::ostringstream o;
    o << "start " << net << first << "\n"
      << "end " << net << first + 50 << "\n"
      << "interface " << kApInterface << "\n"
      << "max_leases 51\n"
      << "opt dns " << s.apAddress << "\n"
      << "opt subnet 255.255.255.0\n"
      << "opt router " << s.apAddress << "\n"
      << "opt lease 864000\n";
    return o.str();
}

std::string wpaConf(const WifiSettings& s) {
    std::ostringstream o;
    o << "ctrl_interface=/var/run/wpa_supplicant\n"
      << "update_config=1\n";
    if (!s.staSsid.empty()) {
        o << "network={\n"
          << "\tssid=" << hex(s.staSsid) << "\n";
        if (s.staPassword.empty())
            o << "\tkey_mgmt=NONE\n";
        else
            o << "\tpsk=\"" << s.staPassword << "\"\n";
        o << "}\n";
    }
    return o.str();
}

WifiSettings readSettings(const std::string& apAddress) {
    WifiSettings s;
    if (plat::isDottedIPv4(apAddress)) s.apAddress = apAddress;
    std::string text, v, decoded;
    if (readConf(kHostapdConf, &text)) {
        for (const std::string& l : lines(text)) {
            if (startsWith(l, "ssid2=", &v) && quotedOrHex(v, &decoded) && validSsid(decoded)) s.apSsid = decoded;
            else if (startsWith(l, "ssid=", &v) && validSsid(v)) s.apSsid = v;
            else if (startsWith(l, "wpa_passphrase=", &v) && validPassword(v)) s.apPassword = v;
            else if (startsWith(l, "channel=", &v) && !v.empty() && v.size() <= 2 &&
                     std::isdigit(static_cast<unsigned char>(v[0])) && validChannel(std::atoi(v.c_str())))
                s.apChannel = std::atoi(v.c_str());
        }
    }
    if (readConf(kWpaConf, &text)) {
        for (const std::string& l : lines(text)) {
            if (startsWith(l, "ssid=", &v) && quotedOrHex(v, &decoded) && validSsid(decoded)) s.staSsid = decoded;
            else if (startsWith(l, "psk=", &v) && quotedOrHex(v, &decoded) && validPassword(decoded)) s.staPassword = decoded;
        }
    }
    return s;
}

}  // namespace wifi

// ---------------------------------------------------------------- the singleton

std::atomic<H71_WIFI_CONFIG*> H71_WIFI_CONFIG::p_wifi{nullptr};

H71_WIFI_CONFIG::H71_WIFI_CONFIG() : settings_(wifi::readSettings(currentWifiAddress())) {}

H71_WIFI_CONFIG::~H71_WIFI_CONFIG() {
    stop_ = true;
    pacer_.wake();
    plat::joinThread(thread_);
}

H71_WIFI_CONFIG* H71_WIFI_CONFIG::pInstance() {
    if (H71_WIFI_CONFIG* made = p_wifi.load(std::memory_order_acquire)) return made;
    H71_WIFI_CONFIG* w = new H71_WIFI_CONFIG;
    p_wifi.store(w, std::memory_order_release);
    w->writeMissingFiles();
    w->set_wifi_reset_flag();  // the first set-up, once the tick runs
    try {
        w->thread_ = std::thread([w] {
            plat::nameThisThread("wifi-start");
            w->loop();
        });
    } catch (const std::system_error&) {
        writeLogMsg(LOG_ERROR, "WiFi: start-up thread cannot be created");
    }
    return w;
}

void H71_WIFI_CONFIG::resetInstanceForTest() {
    delete p_wifi.exchange(nullptr, std::memory_order_acq_rel);
}

void H71_WIFI_CONFIG::set_wifi_reset_flag() {
    resetTick_ = G_timeTicks.load();
    resetFlag_ = true;
    pacer_.wake();
}

WifiSettings H71_WIFI_CONFIG::settings() {
    std::lock_guard<plat::Mutex> l(mutex_);
    return settings_;
}

void H71_WIFI_CONFIG::writeMissingFiles() {
    const WifiSettings s = settings();
    plat::Locker<plat::Mutex> writers(dataFileWriters());
    plat::makeDirs("/etc");
    const std::pair<const char*, std::string> all[] = {{wifi::kHostapdConf, wifi::hostapdConf(s)},
                                                       {wifi::kUdhcpdConf, wifi::udhcpdConf(s)},
                                                       {wifi::kWpaConf, wifi::wpaConf(s)}};
    for (const auto& [file, text] : all) {
        std::string old;
        // Only a missing file is written; anything else in its place is left alone.
        if (plat::readRegularFile(plat::path(file), kMaxConf, plat::Oversize::Refuse, &old) != plat::FileRead::Missing)
            continue;
        if (!plat::replaceFileAtomically(plat::path(file), text))
            writeLogMsg(LOG_ERROR, std::string("WiFi: ") + file + " cannot be written");
    }
}

bool H71_WIFI_CONFIG::apply(const WifiSettings& s) {
    if (!wifi::validSsid(s.apSsid) || !wifi::validPassword(s.apPassword) || !wifi::validChannel(s.apChannel) ||
        !plat::isDottedIPv4(s.apAddress) || (!s.staSsid.empty() && !wifi::validSsid(s.staSsid)) ||
        (!s.staPassword.empty() && !wifi::validPassword(s.staPassword)))
        return false;
    {
        // The files and the settings they hold change in one turn of the writers; the
        // settings' readers wait for no flush.
        plat::Locker<plat::Mutex> writers(dataFileWriters());
        plat::makeDirs("/etc");
        const bool ok = plat::replaceFileAtomically(plat::path(wifi::kHostapdConf), wifi::hostapdConf(s)) &&
                        plat::replaceFileAtomically(plat::path(wifi::kUdhcpdConf), wifi::udhcpdConf(s)) &&
                        plat::replaceFileAtomically(plat::path(wifi::kWpaConf), wifi::wpaConf(s));
        if (!ok) {
            writeLogMsg(LOG_ERROR, "WiFi: configuration files cannot be written");
            return false;
        }
        std::lock_guard<plat::Mutex> l(mutex_);
        settings_ = s;
    }
    set_wifi_reset_flag();
    return true;
}

std::string H71_WIFI_CONFIG::at_command(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "AT") return "OK+AT";
    if (line == "AT+RESET") {
        set_wifi_reset_flag();
        return "OK+RESET";
    }
    if (line.compare(0, 3, "AT+") != 0) return "ERR";
    const size_t sep = line.find_first_of("=?", 3);
    if (sep == std::string::npos) return "ERR";
    const std::string name = line.substr(3, sep - 3);
    const bool query = line[sep] == '?';
    if (query && sep + 1 != line.size()) return "ERR";
    const std::string value = query ? std::string() : line.substr(sep + 1);

    WifiSettings s = settings();
    if (query) {
        if (name == "SSID") return "OK+SSID=" + s.apSsid;
        if (name == "PASS") return "OK+PASS=" + s.apPassword;
        if (name == "CHAN") return "OK+CHAN=" + std::to_string(s.apChannel);
        if (name == "IP") return "OK+IP=" + s.apAddress;
        if (name == "STASSID") return "OK+STASSID=" + s.staSsid;
        return "ERR";
    }
    if (name == "SSID") {
        s.apSsid = value;
    } else if (name == "PASS") {
        s.apPassword = value;
    } else if (name == "CHAN") {
        if (value.empty() || value.size() > 2 || !std::isdigit(static_cast<unsigned char>(value[0])) ||
            !std::isdigit(static_cast<unsigned char>(value.back())))
            return "ERR";
        s.apChannel = std::atoi(value.c_str());
    } else if (name == "IP") {
        std::string net;
        int host = 0;
        if (!splitAddress(value, &net, &host) || host == 0 || host == 255) return "ERR";
        s.apAddress = value;
    } else if (name == "STASSID") {
        // An empty SSID removes the station.
        s.staSsid = value;
        if (value.empty()) s.staPassword.clear();
    } else if (name == "STAPASS") {
        s.staPassword = value;
    } else {
        return "ERR";
    }
    if (!apply(s)) return "ERR";
    if (name == "IP") {
        {
            plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
            g_str_wifi_ip = QString::fromStdString(s.apAddress);
        }
        if (ConfigEngine::p_config)
            ConfigEngine::p_config->write_config_variant(ConfigItem::WifiIPAddress, QString::fromStdString(s.apAddress));
    }
    return "OK+" + name;
}

bool H71_WIFI_CONFIG::startupPass() {
    if (!resetFlag_ || Utils::getTimeSpace(resetTick_) < kResetDelayTicks) return false;
    if (!resetFlag_.exchange(false)) return false;  // another caller took it
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (ram && ram->snapshotU16(kRamWifiOff) != 0) {
        writeLogMsg(LOG_INFO, "WiFi: switched off on the front panel, not set up");
        return true;
    }
    setUp(settings());
    return true;
}

void H71_WIFI_CONFIG::setUp(const WifiSettings& s) {
    // Every word below is a fixed name or a checked address.
    Utils::stopProgram("hostapd");
    Utils::stopProgram("udhcpd");
    if (plat::isDottedIPv4(s.apAddress))
        Utils::system_mutex(QString::fromStdString(std::string("ifconfig ") + wifi::kApInterface + " " + s.apAddress +
                                                   " netmask 255.255.255.0 up"));
    Utils::system_mutex(QString::fromStdString(std::string("/usr/bin/hostapd -B ") + wifi::kHostapdConf));
    Utils::system_mutex(QString::fromStdString(std::string("/usr/sbin/udhcpd ") + wifi::kUdhcpdConf));
    Utils::stopProgram("wpa_supplicant");
    if (!s.staSsid.empty()) {
        Utils::system_mutex(QString::fromStdString(std::string("wpa_supplicant -B -i ") + wifi::kStaInterface + " -c " +
                                                   wifi::kWpaConf));
        Utils::system_mutex(QString::fromStdString(std::string("udhcpc -b -i ") + wifi::kStaInterface));
    }
    writeLogMsg(LOG_INFO, "WiFi: access point set up at " + s.apAddress);
}

void H71_WIFI_CONFIG::loop() {
    // Nothing to do until a set-up is asked for (set_wifi_reset_flag wakes the pacer).
    while (!stop_) {
        if (resetFlag_)
            pacer_.pass(startupPass());
        else
            pacer_.waitForWake();
    }
}
