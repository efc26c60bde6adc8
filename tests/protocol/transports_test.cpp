// The transports end to end: the controller's singletons on the simulated board, real
// loopback sockets and pseudo-terminals, and the Python client of tests/protocol.
#include <QMutexLocker>

#include <sys/syscall.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/data_files.h"
#include "core/utils.h"
#include "platform/sim/c331_model.h"
#include "protocol/c331_engines.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/link_gate.h"
#include "scaler/c331_print.h"
#include "scaler/c331_wiring.h"
#include "support/ram_copies.h"
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

TEST_F(TransportTest, TcpServesTheControllerRequests) { servesTheControllerRequests(tcp); }
TEST_F(TransportTest, UdpServesTheControllerRequests) { servesTheControllerRequests(udp); }
TEST_F(TransportTest, SerialPort2ServesTheControllerRequests) { servesTheControllerRequests(serial2); }
TEST_F(TransportTest, The4GSerialPortServesTheControllerRequests) { servesTheControllerRequests(serial1); }

namespace {
// A UDP socket of this process sending to the controller's port.
int udpTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}
}  // namespace

// A RAM write on each link and an AT command after the stop signal: neither carried out nor
// answered.
TEST_F(TransportTest, FramesAfterTheStopSignalAreNeitherCarriedOutNorAnsweredOnAnyLink) {
    H71_WIFI_CONFIG::pInstance();
    const int wifiPort = udpnetManage::p_udpnetManage->wifiPort();
    ASSERT_EQ(atCommand(wifiPort, "AT+SSID=before"), "OK+SSID");
    ASSERT_EQ(runClient(tcp, "write-mem 0x880 2800").status, kStatusOk);
    RawClient tcpPc(networkManage::p_networkManage->port());
    const std::vector<int> fds = {tcpPc.fd(), udpTo(udpnetManage::p_udpnetManage->port()), udpTo(wifiPort),
                                  openSerialPeer(plat::path("/run/ttyS2.peer")),
                                  openSerialPeer(plat::path("/run/ttyS1.peer"))};
    struct Reopen {
        ~Reopen() { link_gate::g_open = true; }
    } reopen;
    link_gate::close();
    const unsigned before = link_gate::turnedAway();
    const std::vector<uint8_t> write = line(memWrite(0x880, le16(0x1111)));
    const std::string at = "AT+SSID=after";
    for (size_t k = 0; k < fds.size(); ++k) {
        ASSERT_GE(fds[k], 0) << k;
        const ssize_t n = k == 2 ? ::write(fds[k], at.data(), at.size()) : ::write(fds[k], write.data(), write.size());
        EXPECT_GT(n, 0) << k;
    }
    EXPECT_TRUE(eventually([&] { return link_gate::turnedAway() == before + fds.size(); }));
    for (size_t k = 0; k < fds.size(); ++k) {
        pollfd p{fds[k], POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 0), 0) << "link " << k << " answered";
        if (k > 0) ::close(fds[k]);
    }
    link_gate::g_open = true;
    EXPECT_EQ(runClient(tcp, "read-mem 0x880 2").data, "2800");
    EXPECT_EQ(atCommand(wifiPort, "AT+SSID?"), "OK+SSID=before");
    H71_WIFI_CONFIG::resetInstanceForTest();
}

namespace {
// The system call a thread of this process named `name` is blocked in ("futex", "poll",
// "other"), or "" while it runs or is not found.
std::string blockedIn(const std::string& name) {
    const auto read = [](const std::filesystem::path& p) {
        std::string text;
        std::getline(std::ifstream(p), text);
        return text;
    };
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (read(task.path() / "comm") != name) continue;
        const std::string call = read(task.path() / "syscall");
        if (call.empty() || !std::isdigit(static_cast<unsigned char>(call[0]))) return "";
        const long nr = std::atol(call.c_str());
        bool futex = nr == SYS_futex, poll = nr == SYS_ppoll;
#ifdef SYS_futex_time64
        futex = futex || nr == SYS_futex_time64;
#endif
#ifdef SYS_ppoll_time64
        poll = poll || nr == SYS_ppoll_time64;
#endif
#ifdef SYS_poll
        poll = poll || nr == SYS_poll;
#endif
        return futex ? "futex" : poll ? "poll" : "other";
    }
    return "";
}
}  // namespace

// An AT command that the WiFi port has begun when the stop signal comes: its setting is
// made (the stop saves it), but no answer goes out.
TEST_F(TransportTest, AnAtCommandRunningWhenTheStopSignalComesIsNotAnswered) {
    // qemu-user leaves /proc's syscall file to the host: it names the host's calls, not ours
    if (std::getenv("VLX_EMULATED"))
        GTEST_SKIP() << "a thread's system call cannot be read under user-mode emulation";
    H71_WIFI_CONFIG* wifi = H71_WIFI_CONFIG::pInstance();
    const int wifiPort = udpnetManage::p_udpnetManage->wifiPort();
    ASSERT_EQ(atCommand(wifiPort, "AT+SSID=before"), "OK+SSID");
    const int fd = udpTo(wifiPort);
    struct Reopen {
        ~Reopen() { link_gate::g_open = true; }
    } reopen;
    {
        // Its configuration files wait for the writers' lock: the command is past the gate.
        plat::Locker<plat::Mutex> writers(dataFileWriters());
        const std::string at = "AT+SSID=during";
        ASSERT_EQ(::write(fd, at.data(), at.size()), ssize_t(at.size()));
        ASSERT_TRUE(eventually([] { return blockedIn("ctl-udp-wifi") == "futex"; }));
        link_gate::close();
    }
    // The command ends and the thread waits on its socket again: past where its answer would go.
    ASSERT_TRUE(eventually([&] { return wifi->settings().apSsid == "during" && blockedIn("ctl-udp-wifi") == "poll"; }));
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "answered after the stop signal";
    ::close(fd);
    link_gate::g_open = true;
    H71_WIFI_CONFIG::resetInstanceForTest();
}

TEST_F(TransportTest, FpgaRegisterWritesOverTcpReachEachFpga) {
    // Without the FPGA engine the controller says so.
    EXPECT_EQ(runClient(tcp, "write-reg 3 0x20 0x20 --dst 0xF000 --fpga 1").status, kStatusUnavailable);
    useFake();
    EXPECT_EQ(runClient(tcp, "write-reg 3 0x20 0x20 --dst 0xF000 --fpga 1").status, kStatusOk);
    EXPECT_EQ(runClient(udp, "write-reg 6 0xFF 0x80 --dst 0xF000 --fpga 2").status, kStatusOk);
    std::lock_guard<std::mutex> l(fake.m);
    ASSERT_EQ(fake.regWrites.size(), 2u);
    EXPECT_EQ(fake.regWrites[0].fpga, 0);
    EXPECT_EQ(fake.regWrites[1].fpga, 1);
    EXPECT_EQ(fake.regs[1][6], 0x80);
}

// Mode 16's slot ends two bytes past 0x10FFF: they are reached from inside the slot, and 0x11000,
// past the user-mode space, is refused for reads as for writes.
TEST_F(TransportTest, ModeSixteensLastTwoBytesAreReachedFromInsideItsSlotNotAtTheSpacesEnd) {
    EXPECT_EQ(runClient(tcp, "write-mem 0x10FFE 01020304").status, kStatusOk);
    const ClientResult r = runClient(tcp, "read-mem 0x10FFE 4");
    EXPECT_EQ(r.status, kStatusOk);
    EXPECT_EQ(r.data, "01020304");
    EXPECT_EQ(testkit::slotBytes(store, 15)[0x1001], 4);
    EXPECT_EQ(runClient(tcp, "read-mem 0x11000 2").status, kStatusRefused);
    EXPECT_EQ(runClient(tcp, "write-mem 0x11000 0506").status, kStatusRefused);
    EXPECT_EQ(testkit::slotBytes(store, 15)[0x1000], 3);
}

TEST_F(TransportTest, TcpFramesSplitOverReadsOrJoinedInOneAreAllAnswered) {
    RawClient c(networkManage::p_networkManage->port());
    ASSERT_TRUE(c.connected());
    const auto a = line(readRegFrame(11, 1));
    for (uint8_t b : a) {
        c.send({b});
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    auto joined = line(memWrite(0x881, {1}));
    const auto second = line(readRegFrame(12, 2));
    joined.insert(joined.end(), second.begin(), second.end());
    c.send(joined);
    const auto r1 = c.receive(), r2 = c.receive(), r3 = c.receive();
    ASSERT_EQ(r1.size(), kMinFrame + 2);
    EXPECT_EQ(r1[kGroup], kGroupReadRegisters);
    ASSERT_FALSE(r2.empty());
    EXPECT_EQ(r2[kGroup], kGroupWriteMemory);
    ASSERT_EQ(r3.size(), kMinFrame + 3);
    EXPECT_EQ(store->ramByte(0x881), 1);
}

TEST_F(TransportTest, SeveralTcpClientsAreServedWhileOneStallsMidFrame) {
    const int port = networkManage::p_networkManage->port();
    RawClient staller(port);
    auto half = line(readRegFrame(11, 1));
    half.resize(half.size() / 2);
    staller.send(half);  // and never the rest
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 8; ++k) {
        clients.emplace_back([&, k] {
            RawClient c(port, 60, 0, uint8_t(10 + k));  // a PC each
            if (!c.connected()) return;
            for (int i = 0; i < 25; ++i) {
                c.send(line(memRead(0x900 + unsigned(k), 1)));
                const auto r = c.receive();
                if (r.size() == kMinFrame + 2 && r[kPayload] == kStatusOk) ++answered;
            }
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered, 8 * 25);
}

TEST_F(TransportTest, SilentReceivingCardDoesNotHoldOtherTcpClientsForever) {
    useFake();
    fake.answerAfter = -1;
    const int port = networkManage::p_networkManage->port();
    RawClient pc(port), other(port);
    pc.send(line(cardPassFrame()));
    while (fake.services < 3) std::this_thread::yield();
    other.send(line(readRegFrame(11, 1)));
    G_timeTicks += control_link::kPassWaitTicks + 1;
    const auto r = other.receive();
    ASSERT_EQ(r.size(), kMinFrame + 2);
    EXPECT_TRUE(eventually([] { return g_passby_trans_port == kTransportNone; })) << "the pass-through gave up";
}

TEST_F(TransportTest, ListeningSocketsTakeOnlyTheLoopbackAddressOnTheSimulatedBoard) {
    EXPECT_TRUE(plat::net::loopbackOnly());
    EXPECT_EQ(networkManage::p_networkManage->port(), g_port + plat::net::portOffset());
    EXPECT_EQ(udpnetManage::p_udpnetManage->port(), 5008 + plat::net::portOffset());
}

TEST_F(TransportTest, NetworkSettingsAreStoredInOneReplacementOfTheFileOrNotAtAll) {
    const char* ini = "/data/configs/tcpip.ini";
    RawClient pc(networkManage::p_networkManage->port());
    ASSERT_TRUE(pc.connected());
    testkit::FileWriteCounter writes(plat::path("/data/configs"));
    G_timeTicks = 4321;
    pc.send(line(frame(kGroupNetwork, {10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0x8E, 0x13})));  // port 5006
    auto r = pc.receive();
    ASSERT_EQ(r.size(), kMinFrame + 1);
    EXPECT_EQ(r[kPayload], kStatusOk);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 4321u) << "the restart counts its ticks from the request: the reply leaves first";
    EXPECT_EQ(writes.count("tcpip.ini"), 1) << "address, mask, gateway and port in one replacement";
    const std::string stored = testkit::readFile(ini);
    for (const char* kv : {"IPAddress=10.1.2.3", "SubNetMask=255.255.0.0", "GateWay=10.1.0.1", "TcpPort=5006"})
        EXPECT_NE(stored.find(kv), std::string::npos) << kv << " in\n" << stored;

    simShell().clearCommands();
    {
        testkit::FullPartition full;
        pc.send(line(frame(kGroupNetwork, {10, 9, 9, 9, 255, 0, 0, 0, 10, 9, 0, 1, 0x8F, 0x13})));
        r = pc.receive();
    }
    ASSERT_EQ(r.size(), kMinFrame + 1);
    EXPECT_EQ(r[kPayload], kStatusFailed) << "not stored";
    EXPECT_EQ(testkit::readFile(ini), stored);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), "10.1.2.3");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::TcpPort).toInt(), 5006);
    EXPECT_TRUE(commands().empty()) << "nothing applied";
}

// Two PCs set different addresses at once. The first set-up of eth0 is held while the other
// writer could store (two seconds at most): no store may fall inside another writer's set-up,
// and eth0 ends with the set the file holds, never one writer's address beside the other's
// mask or gateway.
TEST_F(TransportTest, NetworkSettingsFromTwoPcsAtOnceLeaveEth0WithTheSetStored) {
    std::atomic<bool> held{false}, storedMeanwhile{false};
    simShell().addHandler("ifconfig eth0", [&](const std::vector<std::string>& words, std::string&) {
        if (words.size() > 2 && !held.exchange(true)) {
            const std::string mine = "IPAddress=" + words[2];
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!storedMeanwhile && std::chrono::steady_clock::now() < end) {
                const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
                storedMeanwhile = ini.find("IPAddress=") != std::string::npos && ini.find(mine) == std::string::npos;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a pace, not a wait
            }
        }
        return plat::sim::kShellOk;
    });
    const std::vector<uint8_t> sets[2] = {{10, 1, 1, 1, 255, 0, 0, 0, 10, 1, 0, 1, 0, 0},
                                          {172, 16, 2, 2, 255, 255, 0, 0, 172, 16, 0, 1, 0, 0}};
    const int port = networkManage::p_networkManage->port();
    RawClient a(port, 20), b(port, 20);
    RawClient* pcs[2] = {&a, &b};
    simShell().clearCommands();
    std::vector<std::thread> senders;
    uint8_t answers[2] = {0xFF, 0xFF};
    for (int k = 0; k < 2; ++k)
        senders.emplace_back([&, k] {
            pcs[k]->send(line(frame(kGroupNetwork, sets[k])));
            const auto r = pcs[k]->receive();
            if (r.size() == kMinFrame + 1) answers[k] = r[kPayload];
        });
    for (auto& t : senders) t.join();
    simShell().removeHandler("ifconfig eth0");
    EXPECT_EQ(answers[0], kStatusOk);
    EXPECT_EQ(answers[1], kStatusOk);
    EXPECT_FALSE(storedMeanwhile) << "a store fell inside another writer's set-up of eth0";

    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    std::string lastIfconfig, lastGateway;
    for (const std::string& c : commands()) {
        if (c.rfind("ifconfig eth0 ", 0) == 0 && c.find("netmask") != std::string::npos) lastIfconfig = c;
        if (c.rfind("route add default gw ", 0) == 0) lastGateway = c;
    }
    const int stored = ini.find("IPAddress=10.1.1.1") != std::string::npos ? 0 : 1;
    const char* ip[2] = {"10.1.1.1", "172.16.2.2"};
    const char* mask[2] = {"255.0.0.0", "255.255.0.0"};
    const char* gateway[2] = {"10.1.0.1", "172.16.0.1"};
    EXPECT_NE(ini.find(std::string("SubNetMask=") + mask[stored]), std::string::npos) << ini;
    EXPECT_NE(ini.find(std::string("GateWay=") + gateway[stored]), std::string::npos) << ini;
    EXPECT_EQ(lastIfconfig, std::string("ifconfig eth0 ") + ip[stored] + " netmask " + mask[stored]);
    EXPECT_EQ(lastGateway, std::string("route add default gw ") + gateway[stored] + " metric 100");
    QMutexLocker lock(&Utils::_settings_mutex);
    EXPECT_EQ(g_str_ip.toStdString(), ip[stored]);
    EXPECT_EQ(g_srt_mask.toStdString(), mask[stored]);
    EXPECT_EQ(g_str_gateway.toStdString(), gateway[stored]);
}

// The C331 half of the seam over TCP with the Python client: a real manager (its passes
// driven by the test) on a simulated C331 with its flash and drawing engine.
class C331OverTcpTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        chip = std::make_shared<plat::sim::C331Model>();
        plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
        // Erases and the fonts' DMA (13 MB) as a fast part: the board clock here moves with the
        // manager's polls, and each poll's yield waits long on a loaded machine.
        plat::sim::C331Engine::Times t;
        t.erase4k = t.erase32k = t.erase64k = 2 * plat::sim::kNsPerMs;
        t.dmaBytesPerUs = 400 * 1000;
        chip->engine().setTimes(t);
        store->shadowTakesRam();
        m = c331_manage::createForTest();
        for (int i = 0; i < 6; ++i) m->step();
        installProtocolEngines(nullptr);
        installC331Engines(&part);
        setC331PrintSink([this](const std::string& s) {
            std::lock_guard<std::mutex> l(printMutex);
            printed += s;
        });
    }
    void TearDown() override {
        stopLinks();  // no link thread may still be inside the manager
        setC331PrintSink(nullptr);
        installC331Engines(nullptr);
        c331_manage::resetInstanceForTest();
        TransportTest::TearDown();
    }
    static std::string hex(const std::vector<uint8_t>& b) {
        std::string s;
        char t[3];
        for (uint8_t v : b) {
            std::snprintf(t, sizeof t, "%02x", v);
            s += t;
        }
        return s;
    }
    static std::vector<uint8_t> le32v(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
    int erase(uint32_t sector, uint16_t count, uint8_t kind) {
        return runClient(tcp, "raw 0x70 " + hex(cat(cat(le32v(sector), le16(count)), {kind}))).status;
    }
    int write(uint32_t address, const std::vector<uint8_t>& data) {
        return runClient(tcp, "raw 0x71 " + hex(cat(cat(cat(le32v(address), le16(uint16_t(data.size()))), {0, 0}), data)))
            .status;
    }
    std::string read(uint32_t address, uint16_t len) {
        return runClient(tcp, "raw 0x72 " + hex(cat(le32v(address), le16(len)))).data;
    }
    std::shared_ptr<plat::sim::C331Model> chip;
    c331_manage* m = nullptr;
    C331ProtocolEngines part;
    std::mutex printMutex;
    std::string printed;
};

TEST_F(C331OverTcpTest, SmallFontsDownloadedAndReloadedReadBackAndLandInOsdMemoryAndSurviveAReboot) {
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    const struct {
        uint32_t header;
        bool ascii;
        uint8_t dots;
    } fonts[4] = {{0x000000, true, 32}, {0x010000, false, 32}, {0x410000, true, 64}, {0x450000, false, 64}};
    std::vector<uint8_t> glyphA(128);
    for (size_t i = 0; i < glyphA.size(); ++i) glyphA[i] = uint8_t(i * 3 + 1);
    for (const auto& f : fonts) {
        ASSERT_EQ(erase(f.header / 4096, 1, 0), kStatusOk);
        std::vector<uint8_t> header(35, 0);
        header[0] = 'P', header[5] = f.ascii, header[17] = header[18] = f.dots;
        ASSERT_EQ(write(f.header, header), kStatusOk);
        if (f.ascii) {
            ASSERT_EQ(write(f.header + 0x23 + ('A' - 0x20) * (f.dots * f.dots / 8), glyphA), kStatusOk);
        }
    }
    EXPECT_EQ(read(0x23 + 33 * 128, 128), hex(glyphA)) << "byte-exact";
    EXPECT_EQ(runClient(tcp, "write-reg 14 0xFF 0x08").status, kStatusOk);
    EXPECT_EQ(m->font_present.load(), 0x0Fu);
    EXPECT_EQ(runClient(tcp, "read-reg 43 1").data, "3f");
    {
        auto lock = chip->engineLock();
        EXPECT_EQ(chip->engine().osdRead(m->g_font_addr_32ASCII + 33 * 128, 128), glyphA);
        EXPECT_EQ(chip->engine().stats().broken, 0u);
    }
    // a header made 'Q' clears its bits at the next reload
    ASSERT_EQ(erase(0x410000 / 4096, 1, 0), kStatusOk);
    std::vector<uint8_t> q(35, 0);
    q[0] = 'Q';
    ASSERT_EQ(write(0x410000, q), kStatusOk);
    EXPECT_EQ(runClient(tcp, "write-reg 14 0xFF 0x08").status, kStatusOk);
    EXPECT_EQ(m->font_present.load(), 0x07u);
    // misaligned and out-of-range PC requests are refused
    EXPECT_NE(erase(0x11, 1, 1), kStatusOk);
    EXPECT_NE(write(c331flash::kFlashSize - 1, {1, 2}), kStatusOk);
    // the image survives a reboot of the simulated board: a new chip finds the same cells
    plat::sim::C331Model rebooted;
    EXPECT_EQ(rebooted.control({"flash-read", "0x10A3", "4"}), "OK 0104070A");
}

TEST_F(C331OverTcpTest, MenuDrawnAfterRegister11Bit3AndAHeldControllerFailsAFontWriteInItsBound) {
    EXPECT_EQ(runClient(tcp, "write-mem 0x84C 0100").status, kStatusOk);
    testkit::writeFile("/data/configs/omenu.json",
                       R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on","pos":{"x":0,"y":0,"w":600,"h":200,"layer":"top"},"act":{"effect":2,"speed":1,"staytime":0},"backpara":{"enable":"on","color":"000080"},"fontpara":{"startx":0,"starty":0,"fontw":32,"fonth":32,"wordspace":0,"verticalspace":0,"color":"FFFFFF"},"texts":["AB\n\u4e2d"]}]})");
    EXPECT_EQ(runClient(tcp, "write-reg 11 0xFF 0x08").status, kStatusOk);
    EXPECT_EQ(g_osd_update.load(), 1);
    m->step();
    store->shadowTakesRam();
    m->step();
    {
        auto lock = chip->engineLock();
        unsigned renders = 0;
        for (const auto& c : chip->engine().recorded())
            if (c.kind == "char") ++renders;
        EXPECT_EQ(renders, 2u);
    }
    EXPECT_EQ(m->PM_OSD_SCROLL_MODE, 4);
    EXPECT_EQ(chip->control({"hold", "flash", "on"}), "OK hold flash on");
    auto timeouts = [this] {
        std::lock_guard<plat::RecursiveMutex> flash(c331_manage::flash_mutex);
        return m->osd_timeouts;
    };
    const unsigned before = timeouts();
    EXPECT_EQ(write(0x1000, std::vector<uint8_t>(300, 0x55)), kStatusFailed);
    EXPECT_EQ(timeouts(), before + 1) << "the write ends at the first page its wait gave up on";
    EXPECT_EQ(runClient(tcp, "read-reg 43 1").status, kStatusOk) << "the link runs on";
    {
        std::lock_guard<std::mutex> l(printMutex);
        EXPECT_NE(printed.find("WEMPTY Timeout Error"), std::string::npos);
    }
    chip->control({"hold", "flash", "off"});
    m->step();
    EXPECT_EQ(m->state(), c331_manage::kStateRunning) << "the manager runs on";
}

TEST_F(C331OverTcpTest, RegisterPrintOverTheLinkGivesEveryRowFromItsReadFrames) {
    chip->clearCounters();
    // 7,967 rows take seconds on a loaded machine or under qemu-arm: the reply is waited for.
    EXPECT_EQ(runClient(tcp, "--timeout 120 write-reg 0xA1 0xFF 0x02").status, kStatusOk);
    std::lock_guard<std::mutex> l(printMutex);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 7967);
    EXPECT_EQ(chip->counters().reads, 11444u);
}

namespace {

bool flashWorkRunning() {
    if (!c331_manage::flash_mutex.try_lock()) return true;
    c331_manage::flash_mutex.unlock();
    return false;
}

}  // namespace

// An erase of 16 units of 64 KB on one TCP client while the part stays busy: another
// client's device information comes meanwhile; the erase then ends and is answered.
TEST_F(C331OverTcpTest, AFlashEraseOnOneTcpClientHoldsNoOtherClient) {
    ASSERT_EQ(chip->control({"flash-load", "0xF0000", "12345678"}), "OK loaded 4");
    ASSERT_EQ(chip->control({"hold", "flash", "on"}), "OK hold flash on");
    const int port = networkManage::p_networkManage->port();
    RawClient eraser(port, 240), other(port);  // sixteen 64 KB units, polled on a loaded machine
    eraser.send(line(frame(kGroupFlashErase, cat(cat(le32v(0), le16(16)), {2}))));
    ASSERT_TRUE(eventually([] { return flashWorkRunning(); }));
    other.send(line(frame(kGroupDeviceInfo, {})));
    EXPECT_EQ(other.receive().size(), kMinFrame + 33) << "answered while the erase waits for the part";
    EXPECT_TRUE(flashWorkRunning());
    ASSERT_EQ(chip->control({"hold", "flash", "off"}), "OK hold flash off");
    const auto r = eraser.receive();
    ASSERT_EQ(r.size(), kMinFrame + 1);
    EXPECT_EQ(r[kPayload], kStatusOk);
    EXPECT_EQ(chip->control({"flash-read", "0xF0000", "4"}), "OK FFFFFFFF") << "the last unit erased";
    EXPECT_EQ(chip->guestErrors(), 0u);
}

// The Python client says what went wrong in one line and exits non-zero: a peer that takes the
// request and never answers, an address it cannot use, and a command short of an argument.
TEST(ClientTest, SaysWhatWentWrongForNoAnswerAndABadAddress) {
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::string udp = "--udp 127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    const std::string noAnswer = "no answer within 0.3 s";
    for (const std::string& args : {udp + " --timeout 0.3 device-info", udp + " --timeout 0.3 at AT+X"}) {
        const auto [rc, out] = runClientRaw(args);
        EXPECT_EQ(rc, 1) << args;
        EXPECT_NE(out.find("\"error\": \"udp 127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + ": " + noAnswer),
                  std::string::npos)
            << args << " said: " << out;
    }
    ::close(silent);
    const std::pair<std::string, std::string> bad[] = {
        {"--tcp 127.0.0.1 device-info", "--tcp 127.0.0.1: expected HOST:PORT"},
        {"--tcp 127.0.0.1:99999 device-info", "port 99999 is not a port number"},
        {"--serial /dev/null at AT", "at: the WiFi port is reached with --udp"},
        {"--serial /dev/null read-mem 0x880", "read-mem: missing LENGTH (read-mem ADDRESS LENGTH)"},
        {"--serial /dev/null write-reg 11", "write-reg: missing MASK VALUE"},
    };
    for (const auto& [args, says] : bad) {
        const auto [rc, out] = runClientRaw(args);
        EXPECT_EQ(rc, 2) << args;
        EXPECT_NE(out.find(says), std::string::npos) << args << " said: " << out;
    }
}
