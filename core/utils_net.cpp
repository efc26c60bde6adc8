// Network settings from the INI file, the wired address set-up, and raw MTD partitions.
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>

#include <QMutexLocker>

#include <string>
#include <utility>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/shell.h"
#include "platform/sys.h"

namespace {
constexpr int kMtdEraseFailed = 8;
constexpr int kMtdWriteFailed = 1;

// Network-settings writers (the protocol, the panel's Apply and reset, the set-up at start):
// a store and the eth0 set-up that follows are one step, so eth0 always gets the set the
// file holds. Held across their own shell commands: only these writers take it.
// Order: before Utils::_settings_mutex and the shell runner's lock.
plat::QtMutex netSettingsMutex{plat::Lock::NetSettings};

QString text(ConfigEngine* c, ConfigItem::ConfigName id) REQUIRES(Utils::_settings_mutex) { return c->read_config_variant_locked(id).toString(); }
int number(ConfigEngine* c, ConfigItem::ConfigName id) REQUIRES(Utils::_settings_mutex) { return c->read_config_variant_locked(id).toInt(); }
unsigned int unsignedNumber(ConfigEngine* c, ConfigItem::ConfigName id) REQUIRES(Utils::_settings_mutex) {
    return c->read_config_variant_locked(id).toUInt();
}

bool addresses(const QString& ip, const QString& mask, const QString& gateway) {
    // Only addresses reach the shell; anything else runs nothing.
    for (const QString* v : {&ip, &mask, &gateway}) {
        if (!plat::isDottedIPv4(v->toStdString())) {
            writeLogMsg(LOG_ERROR, "network set-up refused: \"" + v->toStdString() + "\" is no IPv4 address");
            return false;
        }
    }
    return true;
}

// eth0 set up with exactly these; netSettingsMutex held.
int setUpEth0(const QString& ip, const QString& mask, const QString& gateway) {
    if (Utils::system_mutex(QStringLiteral("ifconfig eth0 &>/dev/null")) != 0) return 255;
    if (!addresses(ip, mask, gateway)) return 255;
    Utils::system_mutex(QStringLiteral("route del default wlan0"));
    Utils::system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2").arg(ip, mask));
    Utils::system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
    Utils::system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    Utils::system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    Utils::system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
    return 0;
}
}  // namespace

int Utils::getIPAddress() {
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) return 0;
    // Items and globals under one hold: a store between two item reads would otherwise
    // publish one writer's address beside another's mask.
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    const int port = number(c, ConfigItem::TcpPort);
    const QString cloudIp = text(c, ConfigItem::uKexcloudserverip);
    const int cloudPort = number(c, ConfigItem::uKexcloudserverport);  // a blank reads as 0
    const QString cloudUser = text(c, ConfigItem::uKexclouduserip);
    const QString cloudName = text(c, ConfigItem::uKexcloudcontrollername);
    const QString blank = QStringLiteral(" ");
    g_str_ip = text(c, ConfigItem::IPAddress);
    g_str_gateway = text(c, ConfigItem::GateWay);
    g_srt_mask = text(c, ConfigItem::SubNetMask);
    g_port = port;
    g_int_tcp_port = port;
    g_str_barcode = text(c, ConfigItem::Barcode);
    g_str_wifi_ip = text(c, ConfigItem::WifiIPAddress);
    g_check_edid = text(c, ConfigItem::EDIDCheck);
    g_imagelayoutpassword = text(c, ConfigItem::ImageLayoutPassword);
    g_check_source = uint8_t(number(c, ConfigItem::SourceCheck));
    g_uKex_cloudserverip = cloudIp;
    g_uKex_cloudserverport = cloudPort;
    g_uKex_clouduserid = cloudUser;
    g_uKex_controllername = cloudName;
    g_uKex_cloud = (cloudIp != blank || cloudUser != blank || cloudName != blank || cloudPort != 0) ? 1 : 0;
    g_vlx_max_pixel = unsignedNumber(c, ConfigItem::VlxMaxPixel_UINT);
    g_usb_grade_path = text(c, ConfigItem::usbupgradedir);
    return 0;
}

int Utils::initIPAddress() {
    plat::Locker<plat::QtMutex> net(netSettingsMutex);
    getIPAddress();
    QString ip, mask, gateway;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    return setUpEth0(ip, mask, gateway);
}

int Utils::storeAndApplyNetwork(const QString& ip, const QString& mask, const QString& gateway, int tcpPort) {
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c || !addresses(ip, mask, gateway)) return kNetNotStored;
    plat::Locker<plat::QtMutex> net(netSettingsMutex);
    std::vector<std::pair<ConfigItem::ConfigName, QVariant>> items = {
        {ConfigItem::IPAddress, ip}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}};
    if (tcpPort > 0) items.emplace_back(ConfigItem::TcpPort, tcpPort);
    if (!c->write_config_variants(items)) return kNetNotStored;
    getIPAddress();
    Utils::system_mutex(QStringLiteral("sync"));
    // The set just stored, not a re-read: no other writer stores until this one is applied.
    if (setUpEth0(ip, mask, gateway) != 0) {
        writeLogMsg(LOG_ERROR, "network settings stored but not applied: no Ethernet interface");
        return kNetNotApplied;
    }
    return kNetApplied;
}

int Utils::non_region_erase(int fd, int offset, int length, int unlock) {
    plat::Sys& sys = plat::sys();
    mtd_info_user info{};
    if (sys.ioctl(fd, MEMGETINFO, &info) != 0 || info.erasesize == 0) {
        writeLogMsg(LOG_ERROR, "MTD: device information cannot be read, nothing erased");
        return kMtdEraseFailed;
    }
    if (length <= 0) return 0;
    const uint32_t es = info.erasesize;
    const uint32_t blocks = uint32_t(length) / es + (uint32_t(length) % es ? 1 : 0);
    // The descriptor belongs to the caller: a failure is reported, never closed here.
    for (uint32_t b = 0; b < blocks; ++b) {
        erase_info_user ei{};
        ei.start = uint32_t(offset) + b * es;
        ei.length = es;
        if (unlock && sys.ioctl(fd, MEMUNLOCK, &ei) != 0) {
            writeLogMsg(LOG_ERROR, "MTD: unlock of block at " + std::to_string(ei.start) + " failed");
            return kMtdEraseFailed;
        }
        if (sys.ioctl(fd, MEMERASE, &ei) != 0) {
            writeLogMsg(LOG_ERROR, "MTD: erase of block at " + std::to_string(ei.start) + " failed");
            return kMtdEraseFailed;
        }
    }
    return 0;
}

int Utils::non_region_write(int fd, const unsigned char* data, int length, int offset) {
    plat::Sys& sys = plat::sys();
    mtd_info_user info{};
    if (sys.ioctl(fd, MEMGETINFO, &info) != 0) {
        writeLogMsg(LOG_ERROR, "MTD: device information cannot be read, nothing written");
        return kMtdWriteFailed;
    }
    if (length <= 0) return 0;
    const int page = info.writesize ? int(info.writesize) : 1;
    int done = 0;
    while (done < length) {
        const int n = length - done >= page ? page : length - done;
        if (sys.pwrite(fd, data + done, size_t(n), off_t(offset) + done) != n) {
            writeLogMsg(LOG_ERROR, "MTD: short write at " + std::to_string(offset + done));
            return kMtdWriteFailed;
        }
        done += n;
    }
    return 0;
}
