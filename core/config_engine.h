#pragma once
// INI configuration /data/configs/tcpip.ini (group "config", 17 items), the device id
// from the SoC chip-id registers and the loader's start command.
#include <QMap>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/utils.h"
#include "platform/board_wiring.h"

class ConfigItem {
public:
    enum ConfigName {
        TcpPort = 0,
        UdpPort = 1,
        IPAddress = 2,
        SubNetMask = 3,
        GateWay = 4,
        MAC = 5,
        Barcode = 6,
        WifiIPAddress = 7,
        EDIDCheck = 8,
        SourceCheck = 9,
        ImageLayoutPassword = 10,
        uKexcloudserverip = 11,
        uKexcloudserverport = 12,
        uKexclouduserip = 13,
        uKexcloudcontrollername = 14,
        VlxMaxPixel_UINT = 15,
        usbupgradedir = 16,
        ItemCount = 17
    };

    ConfigItem(QSettings& settings, const QString& key, ConfigName id, const QVariant& defaultValue,
               bool noSave, uint8_t isInteger, const QString& filePath);

    QString key;            // "config/" + name
    ConfigName id;
    QVariant defaultValue;
    bool noSave;
    uint8_t isInteger;      // 0 text, 1 signed 32-bit number, 2 unsigned 32-bit number
    QString filePath;       // host path of the INI file
    QVariant value;

    static QMap<QString, int> _itemMap GUARDED_BY(Utils::_settings_mutex);

private:
    bool usable(const QVariant& v) const;
};

class ConfigEngine : public QObject {
    Q_OBJECT
public:
    // First call: builds the items, reads the device id; every call: loads the network
    // globals and the loader state. Returns the engine (also when the id is unreadable).
    static ConfigEngine* pInstance();
    static ConfigEngine* p_config;   // set by start-up before the links' threads run

    QVariant read_config_variant(ConfigItem::ConfigName id);
    // The same with Utils::_settings_mutex already held: several items read as one set.
    QVariant read_config_variant_locked(ConfigItem::ConfigName id) const REQUIRES(Utils::_settings_mutex);
    // Stores the value and writes it to its INI file; false when the file cannot be written
    // (a full data partition): the item then keeps its old value.
    bool write_config_variant(ConfigItem::ConfigName id, QVariant value);
    // Several items in one replacement of the file: all of them stored, or none.
    bool write_config_variants(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values);
    bool containsItemStr(const QString& key);
    ConfigItem::ConfigName strToItem(const QString& key);
    // A copy of the item (nothing when no item has that key): the items change under
    // Utils::_settings_mutex, which a pointer into them would outlive.
    std::optional<ConfigItem> getConfigItem(const QString& key);

    // 32 lower-case hex digits from the chip-id registers X, Y, Z (no terminator).
    static void make_pid(uint16_t x, uint16_t y, uint16_t z, char out[32]);
    // Reads the chip-id registers into g_pid; false (g_pid zeroed) when they cannot be read.
    static bool read_chip_id();

    // Test hook: drops the singleton so that the next pInstance() starts afresh.
    static void resetInstanceForTest();
    // Tests: runs inside a settings write while the INI file is being replaced.
    static std::function<void()> ini_replacing_hook;   // set by tests before the writers run

private:
    ConfigEngine();
    std::vector<ConfigItem> _items GUARDED_BY(Utils::_settings_mutex);
};

// Edits the INI file `hostPath` (rooted) on a private copy in /tmp and, when the copy
// changed, replaces the file atomically, once: QSettings never writes through a link in the
// file's place, never waits on a lock file a power cut left, never reads a pipe. `edit` gets
// the settings and the file's text. False when the file could not be written.
bool editIniFile(const std::string& hostPath, const std::function<void(QSettings&, const std::string&)>& edit);

// Chip-id window of the SoC (the board's wiring table)
namespace chipid {
constexpr off_t kWindowBase = plat::wiring::kRegWindowPhys;
constexpr size_t kWindowSize = plat::wiring::kRegWindowSize;
constexpr size_t kCtrlReg = plat::wiring::kChipIdControl;  // bit 8 cleared once before the id is read
constexpr uint16_t kCtrlBit8 = 0x0100;
constexpr size_t kIdRegX = plat::wiring::kChipIdX;
constexpr size_t kIdRegY = plat::wiring::kChipIdY;
constexpr size_t kIdRegZ = plat::wiring::kChipIdZ;
}  // namespace chipid
