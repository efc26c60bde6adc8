#include <QDir>
#include <QMutexLocker>
#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstring>
#include <thread>

#include "core/global.h"
#include "core/utils.h"
#include "store_fixture.h"

using storetest::StoreTest;

namespace {
const char* const kExpectedKeys[17][2] = {
    {"TcpPort", "5005"},
    {"UdpPort", "5008"},
    {"IPAddress", "192.168.1.199"},
    {"SubNetMask", "255.255.255.0"},
    {"GateWay", "192.168.1.1"},
    {"MAC", "FF:FF:FF:FF:FF:FF"},
    {"Barcode", " "},
    {"WifiIPAddress", "192.168.22.101"},
    {"EDIDCheck", "Once"},
    {"SourceCheck", "255"},
    {"ImageLayoutPassword", "No"},
    {"uKexcloudserverip", " "},
    {"uKexcloudserverport", " "},
    {"uKexclouduserip", " "},
    {"uKexcloudcontrollername", " "},
    {"VlxMaxPixel_UINT", "20971520"},
    {"usbupgradedir", "VLX-H71"},
};

QString iniPath() { return QString::fromStdString(plat::path("/data/configs/tcpip.ini")); }
}  // namespace

TEST(DeviceId, DigitTableGivesKnownVector) {
    char pid[32];
    ConfigEngine::make_pid(0x1234, 0x5678, 0x9ABC, pid);
    EXPECT_EQ(std::string(pid, 32), "1597bca0886b31023001305032627494");
    ConfigEngine::make_pid(0, 0, 0, pid);
    EXPECT_EQ(std::string(pid, 32), std::string(32, '0'));
    // largest sums stay single hex digits: (15+15+15)/3 = 15
    ConfigEngine::make_pid(0xFFFF, 0xFFFF, 0xFFFF, pid);
    for (char c : std::string(pid, 32)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
    EXPECT_EQ(pid[22], 'f');
}

TEST_F(StoreTest, DeviceIdIsReadFromChipIdRegistersWithControlBitCleared) {
    plat::sim::board().setChipId(0x1234, 0x5678, 0x9ABC);
    plat::sim::board().setReg16(plat::sim::kChipIdControl, 0xFFFF);
    ConfigEngine::pInstance();
    EXPECT_EQ(std::string(g_pid, 32), "1597bca0886b31023001305032627494");
    EXPECT_EQ(plat::sim::board().reg16(plat::sim::kChipIdControl), 0xFEFF);
}

TEST_F(StoreTest, UnreadableChipIdStillLoadsStoredSettings) {
    testkit::writeFile("/data/configs/tcpip.ini",
                       "[config]\nIPAddress=10.0.0.5\nusbupgradedir=UPG\nTcpPort=6001\n");
    std::memset(g_pid, 'x', sizeof g_pid);
    plat::sim::board().failOpen("/dev/mem", EACCES);
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(std::string(g_pid, 32), std::string(32, '\0'));
    EXPECT_EQ(g_str_ip, "10.0.0.5");
    EXPECT_EQ(g_usb_grade_path, "UPG");
    EXPECT_EQ(g_port, 6001);
    EXPECT_EQ(g_int_tcp_port, 6001);
}

TEST_F(StoreTest, FailedChipIdMapLeavesIdEmptyWithoutCrash) {
    plat::sim::board().setChipId(0x1234, 0x5678, 0x9ABC);
    plat::sim::board().failMemMap(true);
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(std::string(g_pid, 32), std::string(32, '\0'));
    EXPECT_EQ(g_str_ip, "192.168.1.199");
}

TEST_F(StoreTest, EmptyIniGainsAllKeysWithDefaultsReadableByConfigparser) {
    testkit::writeFile("/data/configs/tcpip.ini", "");
    ConfigEngine::pInstance();
    QSettings s(iniPath(), QSettings::IniFormat);
    for (const auto& kv : kExpectedKeys)
        EXPECT_EQ(s.value(QStringLiteral("config/") + kv[0]).toString().toStdString(), kv[1]) << kv[0];
    EXPECT_EQ(s.allKeys().size(), 17);

    // Outside check with another INI reader: a blank is written quoted.
    std::string expect = "{";
    for (const auto& kv : kExpectedKeys) {
        const std::string v = std::string(kv[1]) == " " ? "\\\" \\\"" : kv[1];
        expect += "'" + std::string(kv[0]) + "': '" + v + "', ";
    }
    expect += "}";
    const std::string script =
        "import configparser,sys\n"
        "c=configparser.ConfigParser(interpolation=None)\n"
        "c.optionxform=str\n"
        "c.read(sys.argv[1])\n"
        "got=dict(c['config'])\n"
        "want=" + expect + "\n"
        "sys.exit(0 if got==want else (print(got) or 1))\n";
    testkit::writeFile("/check_ini.py", script);
    const std::string cmd = "python3 " + plat::path("/check_ini.py") + " " + plat::path("/data/configs/tcpip.ini");
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(StoreTest, StoredAddressIsKeptAndEmptyValueGetsDefault) {
    testkit::writeFile("/data/configs/tcpip.ini", "[config]\nIPAddress=10.0.0.5\nTcpPort=\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_str_ip, "10.0.0.5");
    EXPECT_EQ(g_port, 5005);
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("config/IPAddress").toString(), "10.0.0.5");
    EXPECT_EQ(s.value("config/TcpPort").toString(), "5005");
}

TEST_F(StoreTest, WrittenItemReachesFileAndSurvivesRestart) {
    ConfigEngine* c = ConfigEngine::pInstance();
    const auto before = c->getConfigItem(QStringLiteral("config/TcpPort"));
    c->write_config_variant(ConfigItem::TcpPort, 6000);
    c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("172.16.0.9"));
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 6000);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->value.toInt(), 5005) << "the item as it was when asked: a copy, not the guarded item";
    EXPECT_EQ(c->getConfigItem(QStringLiteral("config/TcpPort"))->value.toInt(), 6000);
    EXPECT_FALSE(c->getConfigItem(QStringLiteral("config/NoSuchItem")));
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("config/TcpPort").toInt(), 6000);
    ConfigEngine::resetInstanceForTest();
    ConfigEngine::pInstance();
    EXPECT_EQ(g_port, 6000);
    EXPECT_EQ(g_str_ip, "172.16.0.9");
    // no temporary files left beside it
    EXPECT_EQ(QDir(QString::fromStdString(plat::path("/data/configs"))).entryList(QDir::Files).size(), 1);
}

TEST_F(StoreTest, CloudFlagFollowsCloudItems) {
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(g_uKex_cloud, 0);
    c->write_config_variant(ConfigItem::uKexcloudcontrollername, QStringLiteral("hall"));
    Utils::getIPAddress();
    EXPECT_EQ(g_uKex_cloud, 1);
    c->write_config_variant(ConfigItem::uKexcloudcontrollername, QStringLiteral(" "));
    c->write_config_variant(ConfigItem::uKexcloudserverport, 7000);
    Utils::getIPAddress();
    EXPECT_EQ(g_uKex_cloud, 1);
    EXPECT_EQ(g_uKex_cloudserverport, 7000);
}

TEST_F(StoreTest, LoaderStartCommandSetsUpdateStatusOnlyForNormalPath) {
    testkit::writeFile("/data/configs/led_load_config.ini",
                       "[app-1]\napp_path=/data/app/vlxH71N -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 1);
    testkit::writeFile("/data/configs/led_load_config.ini",
                       "[app-1]\napp_path=/data/app/vlxH71N2 -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
}

TEST_F(StoreTest, SynchronousWritesAreRequestedForTheIniFile) {
    ConfigEngine::pInstance();
    const auto cmds = commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "chattr +S /data/configs/tcpip.ini"), cmds.end());
}

TEST_F(StoreTest, HostileIniFilesStartWithDefaults) {
    const std::string cases[] = {
        std::string("\x00\x01\xff\xfe[config\nIPAddress", 20),
        "[config]\nIPAddress=\"unterminated\nTcpPort=abc\n",
        "[config]\n" + std::string(100000, 'A') + "\n",
        "[config]\nTcpPort=99999999999999999999\nSourceCheck=-1\n",
        "[[[[\n===\n[config]\nGateWay=\\\\\\\n",
    };
    for (const std::string& content : cases) {
        ConfigEngine::resetInstanceForTest();
        testkit::writeFile("/data/configs/tcpip.ini", content);
        const size_t logBefore = logSize();
        ASSERT_NE(ConfigEngine::pInstance(), nullptr);
        EXPECT_EQ(g_usb_grade_path, "VLX-H71");
        EXPECT_EQ(g_str_wifi_ip, "192.168.22.101");
        EXPECT_FALSE(g_str_ip.isEmpty());
        EXPECT_GT(logSize(), logBefore) << content.substr(0, 40);
    }
}

TEST_F(StoreTest, SettingsWrittenByOneThreadAreReadSafelyByAnother) {
    ConfigEngine* c = ConfigEngine::pInstance();
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            QString ip;
            {
                QMutexLocker lock(&Utils::_settings_mutex);
                ip = g_str_ip;
            }
            if (ip != "10.0.0.1" && ip != "10.0.0.2" && ip != "192.168.1.199") ++bad;
            const QString item = c->read_config_variant(ConfigItem::IPAddress).toString();
            if (!item.startsWith("10.0.0.") && item != "192.168.1.199") ++bad;
        }
    });
    for (int i = 0; i < 300; ++i) {
        c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.%1").arg(1 + i % 2));
        Utils::getIPAddress();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

// A settings write holds the settings lock only for its copies: a reader on another thread
// (the panel, a link) is not held up while the file is replaced (a write and a sync).
TEST_F(StoreTest, SettingsReaderIsNotHeldUpWhileTheIniFileIsReplaced) {
    ConfigEngine* c = ConfigEngine::pInstance();
    std::thread reader;
    std::atomic<bool> read{false};
    bool readDuringReplacement = false;
    ConfigEngine::ini_replacing_hook = [&] {
        reader = std::thread([&] {
            c->read_config_variant(ConfigItem::TcpPort);
            read = true;
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!read && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a pace, not a wait
        readDuringReplacement = read;
    };
    EXPECT_TRUE(c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.7")));
    ConfigEngine::ini_replacing_hook = nullptr;
    reader.join();
    EXPECT_TRUE(readDuringReplacement);
    EXPECT_EQ(c->read_config_variant(ConfigItem::IPAddress).toString(), QStringLiteral("10.0.0.7"));
}

TEST_F(StoreTest, UnsignedItemAboveTwoToThe31KeepsItsValue) {
    testkit::writeFile("/data/configs/tcpip.ini", "[config]\nVlxMaxPixel_UINT=4000000000\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_vlx_max_pixel, 4000000000u);
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("config/VlxMaxPixel_UINT").toString(), "4000000000");  // not replaced by the default
}

TEST_F(StoreTest, NonNumericIntegerItemIsLoggedOnce) {
    testkit::writeFile("/data/configs/tcpip.ini", "[config]\nTcpPort=abc\n");
    ConfigEngine::pInstance();
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    size_t count = 0;
    for (size_t at = 0; (at = log.find("TcpPort=abc", at)) != std::string::npos; ++at) ++count;
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(g_port, 5005);
}


TEST_F(StoreTest, StartUpWritesTheCompletedIniFileOnce) {
    testkit::FileWriteCounter writes(plat::path("/data/configs"));
    ConfigEngine::pInstance();
    EXPECT_EQ(writes.count("tcpip.ini"), 1);
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.allKeys().size(), 17);
    // A complete file is not written again.
    ConfigEngine::resetInstanceForTest();
    ConfigEngine::pInstance();
    EXPECT_EQ(writes.count("tcpip.ini"), 0);
}

TEST_F(StoreTest, LinkedIniFileIsReplacedNotWrittenThrough) {
    const std::string target = "[config]\nIPAddress=10.1.1.1\n";
    testkit::writeFile("/etc/network.ini", target);
    std::filesystem::create_symlink(plat::path("/etc/network.ini"), plat::path("/data/configs/tcpip.ini"));
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(g_str_ip, "10.1.1.1");  // a link is read like the file
    c->write_config_variant(ConfigItem::GateWay, QStringLiteral("10.1.1.254"));
    EXPECT_EQ(testkit::readFile("/etc/network.ini"), target);
    EXPECT_FALSE(std::filesystem::is_symlink(plat::path("/data/configs/tcpip.ini")));
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("config/GateWay").toString(), "10.1.1.254");
    EXPECT_EQ(s.value("config/IPAddress").toString(), "10.1.1.1");
}

TEST_F(StoreTest, StaleSettingsLockDoesNotDelayStartUp) {
    // The lock a writer killed by a power cut leaves: a process of this name and host
    // that is alive (this very one), so it counts as held until it is 30 s old.
    char host[256] = {0};
    ::gethostname(host, sizeof host - 1);
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    testkit::writeFile("/data/configs/tcpip.ini.lock", std::to_string(::getpid()) + "\n" + exe + "\n" + host + "\n");
    const auto begin = std::chrono::steady_clock::now();
    ConfigEngine* c = ConfigEngine::pInstance();
    c->write_config_variant(ConfigItem::TcpPort, 6002);
    const auto spent = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(spent, std::chrono::seconds(5));
    QSettings s(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("config/TcpPort").toInt(), 6002);
}

TEST_F(StoreTest, FolderPipeOrEndlessDeviceInPlaceOfIniFilesStartsOnDefaults) {
    ::alarm(30);  // a reader blocked on the pipe ends the test instead of hanging it
    const char* ini = "/data/configs/tcpip.ini";
    const char* loader = "/data/configs/led_load_config.ini";
    for (int kind = 0; kind < 3; ++kind) {
        ConfigEngine::resetInstanceForTest();
        std::filesystem::remove_all(plat::path(ini));
        std::filesystem::remove_all(plat::path(loader));
        for (const char* f : {ini, loader}) {
            if (kind == 0) plat::makeDirs(f);
            if (kind == 1) {
                ASSERT_EQ(::mkfifo(plat::path(f).c_str(), 0644), 0);
            }
            if (kind == 2) std::filesystem::create_symlink("/dev/zero", plat::path(f));
        }
        const size_t log = logSize();
        ASSERT_NE(ConfigEngine::pInstance(), nullptr) << kind;
        EXPECT_EQ(g_str_ip, "192.168.1.199") << kind;
        EXPECT_EQ(g_port, 5005) << kind;
        EXPECT_EQ(g_update_status, 0) << kind;
        EXPECT_GT(logSize(), log) << kind;
    }
    ::alarm(0);
}
