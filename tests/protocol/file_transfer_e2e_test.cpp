// File transfer, cloud text and WiFi AT commands end to end over the controller's
// loopback links on the simulated board.
#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/alias.h"
#include "core/app_swap.h"
#include "core/global.h"
#include "core/md5.h"
#include "core/vlxrampara.h"
#include "platform/sim/sim_shell.h"
#include "protocol/file_transfer.h"
#include "protocol/h71_wifi_config.h"
#include "transport_fixture.h"
#include "ui/shell/mainwindow.h"

using namespace prototest;
using namespace ctl;

namespace {

std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::vector<uint8_t> md5Of(const std::string& s) {
    MD5 m(s.data(), unsigned(s.size()));
    return std::vector<uint8_t>(m.digest(), m.digest() + 16);
}

void shelltestApp() {
    static int argc = 1;
    static char name[] = "test_protocol";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

class FileLinkTest : public TransportTest {
protected:
    // One request over TCP: the reply's status and data.
    Reply ask(RawClient& c, uint8_t group, const std::vector<uint8_t>& payload) {
        c.send(line(frame(group, payload)));
        const std::vector<uint8_t> f = c.receive();
        Reply r;
        if (f.size() < kMinFrame + 1) return r;
        r.present = true;
        r.status = f[kPayload];
        r.data.assign(f.begin() + kPayload + 1, f.end() - 1);
        return r;
    }
    // Start, blocks of `block` bytes, end with `digest`: the end's reply.
    Reply sendFile(RawClient& c, uint8_t group, const std::vector<uint8_t>& start, const std::string& content,
                   const std::vector<uint8_t>& digest, size_t block = 4096) {
        if (ask(c, group, start).status != kStatusOk) return Reply{};
        for (size_t off = 0; off < content.size(); off += block) {
            const Reply r = ask(c, kGroupWriteFileBlock, cat(le32(uint32_t(off)), bytesOf(content.substr(off, block))));
            if (r.status != kStatusOk) return r;
        }
        return ask(c, kGroupWriteFileEnd, digest);
    }
};

TEST_F(FileLinkTest, AliasFileOverTcpIsStoredReadBackWithItsMd5AndPickedUpWith103) {
    std::mutex m;
    std::vector<int> codes;
    QObject::connect(store, &VlxRamPara::sig_update_para, store, [&](int c) {
        std::lock_guard<std::mutex> l(m);
        codes.push_back(c);
    }, Qt::DirectConnection);
    ALIAS_PARA before;
    EXPECT_EQ(get_json_alias_para(&before, "source", 2), 0);

    const std::string alias =
        R"({"filename":"/data/configs/alias.json","namelist":{"source":[{"id":2,"valid":"on","name":"Stage left"}]}})";
    RawClient c(networkManage::p_networkManage->port());
    ASSERT_TRUE(c.connected());
    const Reply end = sendFile(c, kGroupWriteFileStart, cat({fxfer::kAlias, 0}, le32(uint32_t(alias.size()))), alias,
                               md5Of(alias), 40);
    ASSERT_TRUE(end.present);
    EXPECT_EQ(end.status, kStatusOk);
    EXPECT_EQ(end.data, md5Of(alias));
    {
        std::lock_guard<std::mutex> l(m);
        EXPECT_EQ(codes, std::vector<int>{103});
    }
    ALIAS_PARA after;
    EXPECT_EQ(get_json_alias_para(&after, "source", 2), 1);
    EXPECT_EQ(after.name, "Stage left");

    const Reply start = ask(c, kGroupReadFileStart, {fxfer::kAlias, 0});
    ASSERT_EQ(start.status, kStatusOk);
    ASSERT_EQ(start.data.size(), 20u);
    EXPECT_EQ(std::vector<uint8_t>(start.data.begin() + 4, start.data.end()), md5Of(alias));
    std::string back;
    while (back.size() < alias.size()) {
        const Reply b = ask(c, kGroupReadFileBlock, cat(le32(uint32_t(back.size())), le16(32)));
        ASSERT_EQ(b.status, kStatusOk);
        ASSERT_FALSE(b.data.empty());
        back.append(b.data.begin(), b.data.end());
    }
    EXPECT_EQ(md5Of(back), md5Of(alias));
    EXPECT_EQ(ask(c, kGroupReadFileEnd, {}).status, kStatusOk);
}

TEST_F(FileLinkTest, FileNameWithDotDotIsRefusedOverTcp) {
    RawClient c(networkManage::p_networkManage->port());
    ASSERT_TRUE(c.connected());
    const std::vector<uint8_t> start = cat(bytesOf("KVFR../x"), le32(4));
    EXPECT_EQ(ask(c, kGroupWriteDefinedFileStart, start).status, kStatusRefused);
    EXPECT_EQ(ask(c, kGroupWriteFileBlock, cat(le32(0), bytesOf("evil"))).status, kStatusRefused);
    EXPECT_EQ(ask(c, kGroupDeleteFile, bytesOf("KVFX../x")).status, kStatusRefused);
    EXPECT_FALSE(testkit::exists("/data/x"));
    // The same link goes on working: a good name is stored.
    EXPECT_EQ(sendFile(c, kGroupWriteDefinedFileStart, cat(bytesOf("KVFRscan"), le32(4)), "good", md5Of("good")).status,
              kStatusOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/scan"), "good");
}

TEST_F(FileLinkTest, ApplicationSwapAndRebootAreRecordedOnlyAfterAGoodDigest) {
    shelltestApp();
    MainWindow home;
    plat::sim::SimShell* shell = plat::sim::simShell();
    ASSERT_NE(shell, nullptr);
    int reboots = 0;
    shell->setRebootHook([&] { ++reboots; });
    testkit::writeFile("/data/app/vlxH71N", "old");
    const std::string image(150000, 'A');
    RawClient c(networkManage::p_networkManage->port());
    ASSERT_TRUE(c.connected());

    std::vector<uint8_t> wrong = md5Of(image);
    wrong[3] ^= 0x10;
    shell->clearCommands();
    const std::vector<uint8_t> start = cat({fxfer::kApplication, 0}, le32(uint32_t(image.size())));
    EXPECT_EQ(sendFile(c, kGroupWriteFileStart, start, image, wrong, 60000).status, kStatusDigestMismatch);
    for (int t = 0; t < 400; ++t) home.slot_update_timer_ticks();
    EXPECT_TRUE(shell->commands().empty());
    EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), "old");

    EXPECT_EQ(sendFile(c, kGroupWriteFileStart, start, image, md5Of(image), 60000).status, kStatusOk);
    for (int t = 0; t < 299; ++t) home.slot_update_timer_ticks();
    EXPECT_EQ(reboots, 0);
    home.slot_update_timer_ticks();
    EXPECT_EQ(reboots, 1);
    std::vector<std::string> order;
    for (const std::string& cmd : shell->commands())
        if (cmd.rfind("mv ", 0) == 0 || cmd == "reboot") order.push_back(cmd);
    EXPECT_EQ(order, (std::vector<std::string>{"mv /data/app/vlxH71N2  /data/app/vlxH71N", "reboot"}));
    EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), image);
}

// Two PCs upload different programs; the second end arrives while the first one's swap
// runs: the one answered 0 is the one installed, and the other hears that nothing was swapped.
TEST_F(FileLinkTest, ApplicationUploadEndingDuringAnotherOnesSwapWaitsAndIsRefused) {
    plat::sim::SimShell* shell = plat::sim::simShell();
    ASSERT_NE(shell, nullptr);
    testkit::writeFile("/data/app/vlxH71N", "old");
    const int port = networkManage::p_networkManage->port();
    RawClient a(port, 20), b(port, 20);
    ASSERT_TRUE(a.connected() && b.connected());
    const std::string images[2] = {std::string(70000, 'A'), std::string(70000, 'B')};
    RawClient* links[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        const std::string& image = images[k];
        ASSERT_EQ(ask(*links[k], kGroupWriteFileStart, cat({fxfer::kApplication, 0}, le32(uint32_t(image.size())))).status,
                  kStatusOk);
        for (size_t off = 0; off < image.size(); off += 35000)
            ASSERT_EQ(ask(*links[k], kGroupWriteFileBlock, cat(le32(uint32_t(off)), bytesOf(image.substr(off, 35000)))).status,
                      kStatusOk);
    }
    shell->clearCommands();
    // The first swap goes on only once the second end waits for it (or, were the install
    // not one at a time, once the second has reached a swap of its own).
    std::atomic<int> swaps{0};
    std::atomic<bool> overlapped{false};
    struct RestoreSwap {
        std::function<int()> saved = g_vlx_file_deal_para.appSwap;
        ~RestoreSwap() { g_vlx_file_deal_para.appSwap = saved; }
    } restore;
    g_vlx_file_deal_para.appSwap = [&] {
        if (swaps++ == 0) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (g_app_install_mutex.waiting() == 0 && swaps < 2 && std::chrono::steady_clock::now() < limit)
                std::this_thread::yield();
        } else if (swaps > 1 && !g_app_reset_flag) {
            overlapped = true;
        }
        return app_swap_and_restart();
    };
    uint8_t answer[2] = {0xFF, 0xFF};
    std::thread first([&] { answer[0] = ask(a, kGroupWriteFileEnd, md5Of(images[0])).status; });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (swaps == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    answer[1] = ask(b, kGroupWriteFileEnd, md5Of(images[1])).status;
    first.join();
    EXPECT_FALSE(overlapped) << "two swaps ran at once";
    EXPECT_EQ(answer[0], kStatusOk);
    EXPECT_EQ(answer[1], kStatusFailed);
    EXPECT_TRUE(testkit::readFile("/data/app/vlxH71N") == images[0]) << "another program installed";
    const auto cmds = shell->commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "mv /data/app/vlxH71N2  /data/app/vlxH71N"), 1);
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

TEST_F(FileLinkTest, CloudTextOverUdpChangesTheSetting) {
    const ClientResult r = runClient(udp, "raw 0xC4 010e4c45442048616c6c");
    EXPECT_EQ(r.status, kStatusOk);
    EXPECT_EQ(g_uKex_controllername.toStdString(), "LED Hall");
}

TEST_F(FileLinkTest, AtCommandsOverUdpChangeTheWifiFilesAndAHostileSsidStaysInItsLine) {
    const int port = udpnetManage::p_udpnetManage->wifiPort();
    ASSERT_GT(port, 0);
    EXPECT_EQ(atCommand(port, "AT+SSID?"), "ERR");  // no WiFi set-up yet
    H71_WIFI_CONFIG::pInstance();
    EXPECT_EQ(atCommand(port, "AT+CHAN=3\r\n"), "OK+CHAN");
    const std::string hostile = "a\";rm -rf /;'";
    EXPECT_EQ(atCommand(port, "AT+SSID=" + hostile), "OK+SSID");
    EXPECT_EQ(atCommand(port, "AT+SSID=two\nlines"), "ERR");
    EXPECT_EQ(atCommand(port, "AT+SSID?"), "OK+SSID=" + hostile);
    EXPECT_EQ(atCommand(port, std::string(600, 'A')), "ERR");
    const std::string conf = testkit::readFile(wifi::kHostapdConf);
    EXPECT_NE(conf.find("\nchannel=3\n"), std::string::npos) << conf;
    EXPECT_EQ(conf.find("rm -rf"), std::string::npos) << conf;
    EXPECT_EQ(wifi::readSettings("192.168.22.101").apSsid, hostile);
    for (const std::string& cmd : plat::sim::simShell()->commands()) EXPECT_EQ(cmd.find("rm"), std::string::npos) << cmd;
    H71_WIFI_CONFIG::resetInstanceForTest();
}

}  // namespace

namespace {

// The Python client, written from docs/protocol.md: a receiving-card file over the serial
// line, read back over UDP, deleted over TCP.
TEST_F(FileLinkTest, PythonClientPutsGetsAndDeletesAReceivingCardFile) {
    const std::string local = plat::path("/pc-side");
    std::string content;
    for (int i = 0; i < 9000; ++i) content.push_back(char((i * 37) & 0xFF));  // escapes included
    testkit::writeFile("/pc-side/scan.bin", content);
    const ClientResult put = runClient(serial2 + " --block 4096", "put-file KVFR/scan " + local + "/scan.bin");
    EXPECT_EQ(put.status, kStatusOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/scan"), content);

    const ClientResult get = runClient(udp + " --block 1000", "get-file KVFR/scan " + local + "/back.bin");
    EXPECT_EQ(get.status, kStatusOk);
    EXPECT_EQ(testkit::readFile("/pc-side/back.bin"), content);

    EXPECT_EQ(runClient(tcp, "delete-file KVFR/scan").status, kStatusOk);
    EXPECT_FALSE(testkit::exists("/data/smartmapping/scan"));
    EXPECT_EQ(runClient(tcp, "delete-file KVFR/../x").status, kStatusRefused);
}

}  // namespace
