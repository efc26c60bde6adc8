#include "core/config_engine.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <QMutexLocker>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "core/app_swap.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/mmio.h"
#include "platform/atomic_file.h"
#include "platform/fd_io.h"
#include "platform/platform.h"
#include "platform/sys.h"

ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, int> ConfigItem::_itemMap;

namespace {
const char* const kIniFile = "/data/configs/tcpip.ini";

struct ItemDef {
    const char* name;
    QVariant def;
    uint8_t isInteger;  // 1 signed 32-bit, 2 unsigned 32-bit
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
        {"VlxMaxPixel_UINT", 20971520u, 2},
        {"usbupgradedir", QStringLiteral("VLX-H71"), 0},
    };
    return defs[id];
}

QString iniHostPath() { return QString::fromStdString(plat::path(kIniFile)); }

// A settings file is a few hundred bytes; anything far beyond is no such file.
constexpr size_t kMaxIniBytes = 64 * 1024;

// Lines the INI reader would drop or misread: not a group, comment or key=value, control
// bytes, or a quoted value that never closes. Only counted, to be logged.
int malformedIniLines(const std::string& text) {
    int bad = 0;
    for (const QByteArray& raw : QByteArray::fromStdString(text).split('\n')) {
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

// QSettings would read a pipe or an endless device without end, write through a link in
// the file's place, wait up to 30 s on a lock file a power cut left behind, and replace
// the file once per changed key. So every INI file is read (bounded, regular files only)
// into a private copy in /tmp; QSettings works on the copy, and when the copy changed its
// bytes replace the file atomically, once.
bool editIniFile(const std::string& hostPath, const std::function<void(QSettings&, const std::string&)>& edit) {
    const std::string name = hostPath.substr(hostPath.rfind('/') + 1);
    std::string original, why;
    if (plat::readRegularFile(hostPath, kMaxIniBytes, plat::Oversize::Refuse, &original, &why) ==
        plat::FileRead::Refused)
        writeLogMsg(LOG_ERROR, name + " " + why + ": not read, defaults in force");

    // Away from the data folder, so that nothing QSettings does (it creates missing
    // folders, locks, temporary files) ever lands there.
    plat::makeDirs("/tmp");
    std::string copy = plat::path("/tmp/") + name + plat::kTempSuffix + std::string(plat::kTempRandomChars, 'X');
    const int fd = ::mkostemp(&copy[0], O_CLOEXEC);
    bool ok = fd >= 0 && plat::writeAll(fd, original.data(), original.size());
    if (fd >= 0) ::close(fd);
    if (!ok) {
        // The settings then answer from the defaults; whatever they write is removed below.
        ::unlink(copy.c_str());
        writeLogMsg(LOG_ERROR, name + " cannot be worked on: no room for its copy");
    }
    {
        QSettings settings(QString::fromStdString(copy), QSettings::IniFormat);
        edit(settings, original);
        settings.sync();
        ok = ok && settings.status() == QSettings::NoError;
    }
    std::string changed;
    if (ok) ok = plat::readRegularFile(copy, kMaxIniBytes, plat::Oversize::Refuse, &changed) == plat::FileRead::Ok;
    if (ok && changed != original) ok = plat::replaceFileAtomically(hostPath, changed);
    ::unlink(copy.c_str());
    ::unlink((copy + ".lock").c_str());
    if (!ok) writeLogMsg(LOG_ERROR, name + " cannot be written");
    return ok;
}

// ---------------------------------------------------------------- items

// A number item holds a number or the blank that means "unset"; other text (a hand-edited
// or damaged file) would become port 0 and the like, so it gives way to the default.
bool ConfigItem::usable(const QVariant& v) const {
    const QString t = v.toString();
    if (t.isEmpty()) return false;
    if (!isInteger || t == QLatin1String(" ")) return true;
    bool ok = false;
    if (isInteger == 2) t.toUInt(&ok);
    else t.toInt(&ok);
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
    QSettings fresh(settings.fileName(), QSettings::IniFormat);
    const QVariant other = fresh.value(key);
    if (usable(other)) {
        value = other;
        settings.setValue(key, other);
        return;
    }
    if (!stored.toString().isEmpty())
        writeLogMsg(LOG_ERROR, "tcpip.ini: " + key.toStdString() + "=" + stored.toString().toStdString() +
                                   " is no number, default used");
    if (!defaultValue.toString().isEmpty()) {
        value = defaultValue;
        if (!noSave) settings.setValue(key, defaultValue);
    }
}

// ---------------------------------------------------------------- engine

ConfigEngine::ConfigEngine() {
    const QString file = iniHostPath();
    // synchronous writes for the settings file
    Utils::system_mutex(QStringLiteral("chattr +S ") + QString::fromLatin1(kIniFile));
    _items.reserve(ConfigItem::ItemCount);
    // Missing keys are written back with their defaults, all in one replacement.
    const bool written = editIniFile(file.toStdString(), [this, &file](QSettings& settings, const std::string& text) {
        if (const int bad = malformedIniLines(text))
            writeLogMsg(LOG_ERROR, "tcpip.ini has " + std::to_string(bad) + " malformed lines: defaults in force for what it lacks");
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        for (int id = 0; id < ConfigItem::ItemCount; ++id) {
            const ItemDef& s = itemDef(id);
            _items.emplace_back(settings, QStringLiteral("config/") + QLatin1String(s.name),
                                ConfigItem::ConfigName(id), s.def, false, s.isInteger, file);
        }
    });
    if (!written) writeLogMsg(LOG_ERROR, "tcpip.ini cannot be written back with its defaults");
}

ConfigEngine* ConfigEngine::pInstance() {
    if (!p_config) {
        p_config = new ConfigEngine;
        // Without the chip id only g_pid stays empty; the stored settings load all the same.
        read_chip_id();
        // The ageing log starts empty with the program; later calls (a network reset on
        // the panel) keep it.
        factoryage_log.clear();
        factoryage_log_num = 0;
    }
    Utils::getIPAddress();

    QString appPath;
    editIniFile(plat::path(kLoaderConfig),
                [&appPath](QSettings& loader, const std::string&) { appPath = loader.value(QStringLiteral("app-1/app_path")).toString(); });
    g_update_status = appPath == QLatin1String(kLoaderNormalStart) ? 1 : 0;
    return p_config;
}

void ConfigEngine::resetInstanceForTest() {
    delete p_config;
    p_config = nullptr;
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    ConfigItem::_itemMap.clear();
}

std::function<void()> ConfigEngine::ini_replacing_hook;

namespace {
// One replacement of the settings file at a time; taken before Utils::_settings_mutex.
plat::Mutex g_iniWriter{plat::Lock::SettingsWriters};
}  // namespace

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id) {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    return read_config_variant_locked(id);
}

QVariant ConfigEngine::read_config_variant_locked(ConfigItem::ConfigName id) const {
    if (id < 0 || id >= ConfigItem::ItemCount || size_t(id) >= _items.size()) return QVariant();
    return _items[id].value;
}

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName id, QVariant value) {
    return write_config_variants({{id, std::move(value)}});
}

bool ConfigEngine::write_config_variants(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values) {
    // Writers replace the file one at a time under their own lock; the settings lock, which
    // every thread's readers take, is held only for the copies in and out, never across the
    // file's write and sync.
    std::lock_guard<plat::Mutex> writer(g_iniWriter);
    QString file;  // every item lives in the one settings file
    std::vector<std::pair<QString, QVariant>> stored;  // key, value
    std::string keys;
    {
        plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
        for (const auto& v : values)
            if (v.first < 0 || v.first >= ConfigItem::ItemCount || size_t(v.first) >= _items.size()) return false;
        for (const auto& v : values) {
            keys += (keys.empty() ? "" : ", ") + _items[v.first].key.toStdString();
            if (!_items[v.first].noSave) {
                file = _items[v.first].filePath;
                stored.emplace_back(_items[v.first].key, v.second);
            }
        }
    }
    // Values the file does not hold would be gone at the next start: the old ones stay,
    // all of them (an address stored beside the old mask and gateway is no setting).
    if (!file.isEmpty() && !editIniFile(file.toStdString(), [&stored](QSettings& settings, const std::string&) {
            for (const auto& kv : stored) settings.setValue(kv.first, kv.second);
            if (ini_replacing_hook) ini_replacing_hook();
        })) {
        writeLogMsg(LOG_ERROR, "tcpip.ini: " + keys + " cannot be written, not changed");
        return false;
    }
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    for (const auto& v : values) _items[v.first].value = v.second;
    return true;
}

bool ConfigEngine::containsItemStr(const QString& key) {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    return ConfigItem::_itemMap.contains(key);
}

ConfigItem::ConfigName ConfigEngine::strToItem(const QString& key) {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    return ConfigItem::ConfigName(ConfigItem::_itemMap.value(key, ConfigItem::ItemCount));
}

std::optional<ConfigItem> ConfigEngine::getConfigItem(const QString& key) {
    plat::Locker<plat::QtMutex> lock(Utils::_settings_mutex);
    const auto it = ConfigItem::_itemMap.constFind(key);
    if (it == ConfigItem::_itemMap.constEnd() || *it < 0 || size_t(*it) >= _items.size()) return std::nullopt;
    return _items[*it];
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
    plat::mmioWrite16(map, chipid::kCtrlReg, uint16_t(plat::mmioRead16(map, chipid::kCtrlReg) & ~chipid::kCtrlBit8));
    const uint16_t x = plat::mmioRead16(map, chipid::kIdRegX);
    const uint16_t y = plat::mmioRead16(map, chipid::kIdRegY);
    const uint16_t z = plat::mmioRead16(map, chipid::kIdRegZ);
    sys.munmap(map, chipid::kWindowSize);
    sys.close(fd);
    make_pid(x, y, z, g_pid);
    return true;
}
