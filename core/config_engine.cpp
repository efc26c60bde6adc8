#include "core/config_engine.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <QFile>
#include <QMutexLocker>

#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/sys.h"

ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, int> ConfigItem::_itemMap;

namespace {
const char* const kIniFile = "/data/configs/tcpip.ini";
const char* const kLoaderFile = "/data/configs/led_load_config.ini";
const char* const kNormalStart = "/data/app/vlxH71N -platform linuxfb";

struct ItemDef {
    const char* name;
    QVariant def;
    uint8_t isInteger;
};

const ItemDef& itemDef(int id) {
    static const ItemDef defs[ConfigItem::ItemCount] = {
        {"TcpPort", 5005, 1},
        {"UdpPort", 5008, 1},
        {"IPAddress", QStringLiteral("192.168.1.199"), 0},
        {"SubNetMask", QStringLiteral("255.255.255.0"), 0},
        {"GateWay", QStringLiteral("192.168.1.1"), 0},
        {"MAC", QStringLiteral("FF:FF:FF:FF:FF:FF"), 0},
        {"Barcode", QStringLiteral(" "), 0},
        {"WifiIPAddress", QStringLiteral("192.168.22.101"), 0},
        {"EDIDCheck", QStringLiteral("Once"), 0},
        {"SourceCheck", 255, 1},
        {"ImageLayoutPassword", QStringLiteral("No"), 0},
        {"uKexcloudserverip", QStringLiteral(" "), 0},
        {"uKexcloudserverport", QStringLiteral(" "), 1},
        {"uKexclouduserip", QStringLiteral(" "), 0},
        {"uKexcloudcontrollername", QStringLiteral(" "), 0},
        {"VlxMaxPixel_UINT", 20971520, 1},
        {"usbupgradedir", QStringLiteral("VLX-H71"), 0},
    };
    return defs[id];
}

QString iniHostPath() { return QString::fromStdString(plat::path(kIniFile)); }

// Lines the INI reader would drop or misread: not a group, comment or key=value, control
// bytes, or a quoted value that never closes. Only counted, to be logged.
int malformedIniLines(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    int bad = 0;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
        bool control = false;
        for (char c : line) control = control || (static_cast<unsigned char>(c) < 0x20 && c != '\t');
        const int eq = line.indexOf('=');
        const QByteArray value = eq >= 0 ? line.mid(eq + 1).trimmed() : QByteArray();
        const bool group = line.startsWith('[') && line.endsWith(']');
        const bool openQuote = value.startsWith('"') && (value.size() < 2 || !value.endsWith('"'));
        if (control || (!group && eq <= 0) || openQuote) ++bad;
    }
    return bad;
}
}  // namespace

// ---------------------------------------------------------------- items

// A number item holds a number or the blank that means "unset"; other text (a hand-edited
// or damaged file) would become port 0 and the like, so it gives way to the default.
bool ConfigItem::usable(const QVariant& v) const {
    const QString t = v.toString();
    if (t.isEmpty()) return false;
    if (!isInteger || t == QLatin1String(" ")) return true;
    bool ok = false;
    t.toInt(&ok);
    if (!ok) writeLogMsg(LOG_ERROR, "tcpip.ini: " + key.toStdString() + "=" + t.toStdString() + " is no number, default used");
    return ok;
}

ConfigItem::ConfigItem(QSettings& settings, const QString& key_, ConfigName id_, const QVariant& defaultValue_,
                       bool noSave_, uint8_t isInteger_, const QString& filePath_)
    : key(key_), id(id_), defaultValue(defaultValue_), noSave(noSave_), isInteger(isInteger_), filePath(filePath_) {
    _itemMap.insert(key, id);
    const QVariant stored = settings.value(key);
    if (usable(stored)) {
        value = stored;
        return;
    }
    QSettings fresh(filePath, QSettings::IniFormat);
    const QVariant other = fresh.value(key);
    if (usable(other)) {
        value = other;
        settings.setValue(key, other);
        return;
    }
    if (!defaultValue.toString().isEmpty()) {
        value = defaultValue;
        if (!noSave) settings.setValue(key, defaultValue);
    }
}

// ---------------------------------------------------------------- engine

ConfigEngine::ConfigEngine() {
    const QString file = iniHostPath();
    if (const int bad = malformedIniLines(file))
        writeLogMsg(LOG_ERROR, "tcpip.ini has " + std::to_string(bad) + " malformed lines: defaults in force for what it lacks");
    QSettings settings(file, QSettings::IniFormat);
    // synchronous writes for the settings file
    Utils::system_mutex(QStringLiteral("chattr +S ") + QString::fromLatin1(kIniFile));
    _items.reserve(ConfigItem::ItemCount);
    for (int id = 0; id < ConfigItem::ItemCount; ++id) {
        const ItemDef& s = itemDef(id);
        _items.emplace_back(settings, QStringLiteral("config/") + QLatin1String(s.name),
                            ConfigItem::ConfigName(id), s.def, false, s.isInteger, file);
    }
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        writeLogMsg(LOG_ERROR, "tcpip.ini cannot be written back with its defaults");
}

ConfigEngine* ConfigEngine::pInstance() {
    if (!p_config) {
        p_config = new ConfigEngine;
        // Without the chip id only g_pid stays empty; the stored settings load all the same.
        read_chip_id();
    }
    Utils::getIPAddress();

    QSettings loader(QString::fromStdString(plat::path(kLoaderFile)), QSettings::IniFormat);
    g_update_status = loader.value(QStringLiteral("app-1/app_path")).toString() == QLatin1String(kNormalStart) ? 1 : 0;

    factoryage_log.clear();
    factoryage_log_num = 0;
    return p_config;
}

void ConfigEngine::resetInstanceForTest() {
    delete p_config;
    p_config = nullptr;
    ConfigItem::_itemMap.clear();
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id) {
    if (id < 0 || id >= ConfigItem::ItemCount || size_t(id) >= _items.size()) return QVariant();
    QMutexLocker lock(&Utils::_settings_mutex);
    return _items[id].value;
}

void ConfigEngine::write_config_variant(ConfigItem::ConfigName id, QVariant value) {
    if (id < 0 || id >= ConfigItem::ItemCount || size_t(id) >= _items.size()) return;
    QMutexLocker lock(&Utils::_settings_mutex);
    ConfigItem& item = _items[id];
    item.value = value;
    if (item.noSave) return;
    // QSettings replaces the file through a temporary file and a rename.
    QSettings settings(item.filePath, QSettings::IniFormat);
    settings.setValue(ConfigItem::_itemMap.key(id), value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        writeLogMsg(LOG_ERROR, "tcpip.ini: " + item.key.toStdString() + " cannot be written");
}

bool ConfigEngine::containsItemStr(const QString& key) {
    QMutexLocker lock(&Utils::_settings_mutex);
    return ConfigItem::_itemMap.contains(key);
}

ConfigItem::ConfigName ConfigEngine::strToItem(const QString& key) {
    QMutexLocker lock(&Utils::_settings_mutex);
    return ConfigItem::ConfigName(ConfigItem::_itemMap.value(key, ConfigItem::ItemCount));
}

const ConfigItem* ConfigEngine::getConfigItem(const QString& key) {
    QMutexLocker lock(&Utils::_settings_mutex);
    const auto it = ConfigItem::_itemMap.constFind(key);
    if (it == ConfigItem::_itemMap.constEnd() || *it < 0 || size_t(*it) >= _items.size()) return nullptr;
    return &_items[*it];
}

// ---------------------------------------------------------------- device id

void ConfigEngine::make_pid(uint16_t x, uint16_t y, uint16_t z, char out[32]) {
    const int X3 = (x >> 12) & 15, X2 = (x >> 8) & 15, X1 = (x >> 4) & 15, X0 = x & 15;
    const int Y3 = (y >> 12) & 15, Y2 = (y >> 8) & 15, Y1 = (y >> 4) & 15, Y0 = y & 15;
    const int Z3 = (z >> 12) & 15, Z2 = (z >> 8) & 15, Z1 = (z >> 4) & 15, Z0 = z & 15;
    const int d[32] = {
        X3, Y3, Z3, Y1, Z1, Z0, Z2, (X3 + Y3) % 2,
        (Z3 + Y1) >> 1, Y0, Y2, (Z0 + Z1) >> 1, (Y3 + X3) >> 1, (Z0 + Z1) % 2, (Z3 + Y1) % 2, X2,
        X1, (Z2 + Y0) % 2, (Y2 + X2) % 2, (X1 + X0) % 2, (X1 + X0) >> 1, (Z3 + Y3 + X3) % 3, (Z3 + Y3 + X3) / 3,
        (X3 + Y2 + X2) % 3,
        (X3 + Y2 + X2) / 3, (Y1 + Z2 + X1) % 3, (Y1 + Z2 + X1) / 3, (Z1 + Y0 + X0) % 3, (Z1 + Y0 + X0) / 3,
        (Y2 + X2) >> 1, (Z2 + Y0) >> 1, X0,
    };
    static const char hex[] = "0123456789abcdef";
    for (int k = 0; k < 32; ++k) out[k] = hex[d[k] & 15];
}

bool ConfigEngine::read_chip_id() {
    std::memset(g_pid, 0, sizeof g_pid);
    plat::Sys& sys = plat::sys();
    const int fd = sys.open(plat::wiring::kMemDevice, O_RDWR | O_SYNC);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, "/dev/mem cannot be opened: device id unknown");
        return false;
    }
    void* map = sys.mmap(nullptr, chipid::kWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, chipid::kWindowBase);
    if (map == MAP_FAILED || map == nullptr) {
        writeLogMsg(LOG_ERROR, "chip-id registers cannot be mapped: device id unknown");
        sys.close(fd);
        return false;
    }
    auto reg = [map](size_t offset) { return reinterpret_cast<volatile uint16_t*>(static_cast<char*>(map) + offset); };
    *reg(chipid::kCtrlReg) = uint16_t(*reg(chipid::kCtrlReg) & ~chipid::kCtrlBit8);
    const uint16_t x = *reg(chipid::kIdRegX);
    const uint16_t y = *reg(chipid::kIdRegY);
    const uint16_t z = *reg(chipid::kIdRegZ);
    sys.munmap(map, chipid::kWindowSize);
    sys.close(fd);
    make_pid(x, y, z, g_pid);
    return true;
}
