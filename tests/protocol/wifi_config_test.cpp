// WiFi module set-up: AT commands, the configuration files and the start-up commands.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
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
        for (int i = 0; i < 500 && w->resetPending(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_FALSE(w->resetPending());
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
