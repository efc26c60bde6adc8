// WiFi module set-up: AT commands, the configuration files and the start-up commands.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "core/data_files.h"
#include "core/global.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/sim/sim_file_system.h"
#include "platform/sim/sim_shell.h"
#include "protocol/h71_wifi_config.h"
#include "support/testkit.h"

namespace {

class WifiConfigTest : public testkit::SimBoardTest {
protected:
    void TearDown() override {
        H71_WIFI_CONFIG::resetInstanceForTest();
        g_str_wifi_ip = QStringLiteral("192.168.22.101");  // an AT+IP of one case leaves the next the default
        testkit::SimBoardTest::TearDown();
    }
    // The set-up is due: this pass or the start-up thread's runs it, once.
    static void runSetUp(H71_WIFI_CONFIG* w) {
        w->startupPass();
        ASSERT_TRUE(testkit::waitUntil([w] { return !w->resetPending(); }));
    }
    // Lines of a configuration file that set `key` (hostapd "key=", udhcpd "key ").
    static int countKey(const std::string& text, const std::string& key) {
        int n = 0;
        size_t pos = 0;
        while ((pos = text.find(key, pos)) != std::string::npos) {
            if (pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\t') ++n;
            pos += key.size();
        }
        return n;
    }
};

TEST_F(WifiConfigTest, HostileSsidKeepsTheFileFormatAndNeverReachesTheShell) {
    H71_WIFI_CONFIG* w = H71_WIFI_CONFIG::pInstance();
    const std::string hostile = "x\";rm -rf / #'`$(id)";
    ASSERT_EQ(w->at_command("AT+SSID=" + hostile + "\r\n"), "OK+SSID");
    ASSERT_EQ(w->at_command("AT+STASSID=" + hostile), "OK+STASSID");
    ASSERT_EQ(w->at_command("AT+STAPASS=pass;word'x"), "OK+STAPASS");
    // A newline inside a value would start a new line of the file: refused.
    EXPECT_EQ(w->at_command("AT+SSID=ok\nwpa=0"), "ERR");
    EXPECT_EQ(w->at_command("AT+SSID=" + std::string(33, 'a')), "ERR");
    EXPECT_EQ(w->at_command("AT+SSID="), "ERR");

    const std::string hostapd = testkit::readFile(wifi::kHostapdConf);
    EXPECT_EQ(countKey(hostapd, "ssid2="), 1) << hostapd;
    EXPECT_EQ(countKey(hostapd, "wpa="), 1) << hostapd;
    EXPECT_EQ(hostapd.find("rm -rf"), std::string::npos) << hostapd;
    const std::string wpa = testkit::readFile(wifi::kWpaConf);
    EXPECT_EQ(countKey(wpa, "ssid="), 1) << wpa;
    EXPECT_EQ(wpa.find("rm -rf"), std::string::npos) << wpa;
    EXPECT_NE(wpa.find("psk=\"pass;word'x\""), std::string::npos) << wpa;

    // What the files say reads back as it was given.
    const WifiSettings back = wifi::readSettings("192.168.22.101");
    EXPECT_EQ(back.apSsid, hostile);
    EXPECT_EQ(back.staSsid, hostile);
    EXPECT_EQ(back.staPassword, "pass;word'x");
    EXPECT_EQ(w->at_command("AT+SSID?"), "OK+SSID=" + hostile);

    G_timeTicks = 1000;
    runSetUp(w);
    for (const std::string& c : plat::sim::simShell()->commands()) {
        EXPECT_EQ(c.find("rm"), std::string::npos) << c;
        EXPECT_EQ(c.find("pass;word"), std::string::npos) << c;
    }
}

// The board's file system, with a look taken on the renaming thread after each rename.
class LookAfterRename : public plat::FileSystem {
public:
    explicit LookAfterRename(std::function<void(const std::string& to)> look) : look_(std::move(look)) {}
    bool writeAll(int fd, const void* data, size_t n) override { return fs_.writeAll(fd, data, n); }
    int fsync(int fd) override { return fs_.fsync(fd); }
    int rename(const std::string& from, const std::string& to) override {
        const int r = fs_.rename(from, to);
        look_(to);
        return r;
    }
    int fsyncFolder(const std::string& hostDir) override { return fs_.fsyncFolder(hostDir); }

private:
    plat::sim::SimFileSystem fs_;
    std::function<void(const std::string&)> look_;
};

// The WiFi files change in one turn of the writers' lock that every thread shares: another
// writer (a second apply) finds it taken between the first file and the others, so two
// applies at once never leave one's hostapd file beside the other's wpa file.
TEST_F(WifiConfigTest, AnApplyHoldsTheWritersLockOfEveryThreadAcrossItsFiles) {
    H71_WIFI_CONFIG* w = H71_WIFI_CONFIG::pInstance();
    int looks = 0;
    bool freeMeanwhile = false;
    plat::installFileSystem(std::make_unique<LookAfterRename>([&](const std::string& to) {
        if (to != plat::path(wifi::kHostapdConf)) return;
        ++looks;
        freeMeanwhile = std::async(std::launch::async, [] {
                            if (!dataFileWriters().try_lock()) return false;
                            dataFileWriters().unlock();
                            return true;
                        }).get();
    }));
    EXPECT_EQ(w->at_command("AT+SSID=second"), "OK+SSID");
    plat::resetFileSystem();
    EXPECT_EQ(looks, 1);
    EXPECT_FALSE(freeMeanwhile) << "another thread found the writers' lock free between the WiFi files";
}

TEST_F(WifiConfigTest, PasswordChannelAndAddressAreChecked) {
    H71_WIFI_CONFIG* w = H71_WIFI_CONFIG::pInstance();
    EXPECT_EQ(w->at_command("AT+PASS=short"), "ERR");
    EXPECT_EQ(w->at_command("AT+PASS=has\"quote1"), "ERR");
    EXPECT_EQ(w->at_command("AT+PASS=" + std::string(64, 'p')), "ERR");
    EXPECT_EQ(w->at_command("AT+PASS=good pass 1"), "OK+PASS");
    EXPECT_EQ(w->at_command("AT+CHAN=14"), "ERR");
    EXPECT_EQ(w->at_command("AT+CHAN=1x"), "ERR");
    EXPECT_EQ(w->at_command("AT+CHAN=11"), "OK+CHAN");
    EXPECT_EQ(w->at_command("AT+IP=10.0.0.5;reboot"), "ERR");
    EXPECT_EQ(w->at_command("AT+IP=10.0.0.255"), "ERR");
    EXPECT_EQ(w->at_command("AT+IP=10.0.0.5"), "OK+IP");
    EXPECT_EQ(g_str_wifi_ip.toStdString(), "10.0.0.5");
    const std::string hostapd = testkit::readFile(wifi::kHostapdConf);
    EXPECT_NE(hostapd.find("\nwpa_passphrase=good pass 1\n"), std::string::npos) << hostapd;
    EXPECT_NE(hostapd.find("\nchannel=11\n"), std::string::npos) << hostapd;
    const std::string dhcp = testkit::readFile(wifi::kUdhcpdConf);
    EXPECT_NE(dhcp.find("start 10.0.0.150\nend 10.0.0.200\n"), std::string::npos) << dhcp;
    EXPECT_NE(dhcp.find("opt router 10.0.0.5\n"), std::string::npos) << dhcp;
    // An address inside the default range moves the range away from it.
    EXPECT_EQ(w->at_command("AT+IP=10.0.0.160"), "OK+IP");
    EXPECT_NE(testkit::readFile(wifi::kUdhcpdConf).find("start 10.0.0.50\nend 10.0.0.100\n"), std::string::npos);
    for (const char* bad : {"hello", "AT+", "AT+FOO=1", "AT+SSID?x", "at+ssid?", "AT+SSID"})
        EXPECT_EQ(w->at_command(bad), "ERR") << bad;
    EXPECT_EQ(w->at_command("AT"), "OK+AT");
}

TEST_F(WifiConfigTest, SetUpRunsOnlyAfterTheDelayWithFixedWordsAndCheckedPids) {
    plat::sim::SimShell* shell = plat::sim::simShell();
    shell->setResult("pidof hostapd", 0, "123 4x;rm\n");
    H71_WIFI_CONFIG* w = H71_WIFI_CONFIG::pInstance();
    // A fresh board gets the three files from the defaults.
    EXPECT_TRUE(testkit::exists(wifi::kHostapdConf));
    EXPECT_TRUE(testkit::exists(wifi::kUdhcpdConf));
    EXPECT_TRUE(testkit::exists(wifi::kWpaConf));
    G_timeTicks = 299;
    EXPECT_FALSE(w->startupPass());
    G_timeTicks = 300;
    runSetUp(w);
    EXPECT_FALSE(w->startupPass());  // once
    const std::vector<std::string> cmds = shell->commands();
    const std::vector<std::string> expect = {"pidof hostapd",
                                             "kill -9 123",
                                             "pidof udhcpd",
                                             "ifconfig wlan1 192.168.22.101 netmask 255.255.255.0 up",
                                             "/usr/bin/hostapd -B /etc/rtl_hostapd_2G.conf",
                                             "/usr/sbin/udhcpd /etc/udhcpd.conf",
                                             "pidof wpa_supplicant"};
    EXPECT_EQ(cmds, expect);
    // A restart request repeats the set-up after its own delay.
    shell->clearCommands();
    w->set_wifi_reset_flag();
    G_timeTicks = 599;
    EXPECT_FALSE(w->startupPass());
}

}  // namespace
