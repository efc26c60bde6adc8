#pragma once
// Transports end to end: the controller's links on the simulated board over real
// loopback sockets and pseudo-terminals, a raw TCP client and the Python client.
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "platform/net.h"
#include "platform/sim/sim_board.h"
#include "protocol/networkmanage.h"
#include "protocol/protocol_phy.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "protocol_fixture.h"
#include "support/testkit.h"

namespace prototest {

using namespace ctl;

// (not from __FILE__: a compiler cache with a base folder makes it relative to the build folder)
inline std::string clientScript() { return VLX_SOURCE_DIR "/tests/protocol/vlx_client.py"; }

struct ClientResult {
    bool replied = false;
    int status = -1;
    std::string data;  // hex
};

// One request through the Python client; link is "--tcp 127.0.0.1:P", "--udp ..." or "--serial PATH".
// An answer is taken as soon as it comes; the client's wait is only the limit for one that never
// does, generous for a loaded or emulated machine (a --timeout in `args` comes later and wins).
// The client's exit status (-1 when it did not exit) and what it printed, both streams.
inline std::pair<int, std::string> runClientRaw(const std::string& args) {
    const std::string cmd = "python3 " + clientScript() + " " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return {-1, ""};
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

inline ClientResult runClient(const std::string& link, const std::string& args) {
    const std::string cmd = link + " --timeout 60 " + args;
    ClientResult r;
    const auto [rc, out] = runClientRaw(cmd);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out));
    if (!doc.isObject()) {
        ADD_FAILURE() << cmd << " said: " << out;
        return r;
    }
    const QJsonObject o = doc.object();
    r.replied = !o.contains("error");
    r.status = o.value("status").toInt(-1);
    r.data = o.value("data").toString().toStdString();
    // an answer other than "done" fails the command as an error does, whatever the command
    EXPECT_EQ(rc, r.replied && r.status <= 0 ? 0 : 1) << cmd << " said: " << out;
    return r;
}

// A raw TCP client for the stream tests.
class RawClient {
public:
    // timeoutS: the limit for an answer that never comes, generous for a loaded or emulated
    // machine. rcvBuf > 0: a receive buffer that small (set before connecting, so the window is
    // too). machine: the client's address is 127.0.0.<machine>, a machine of its own.
    explicit RawClient(int port, int timeoutS = 60, int rcvBuf = 0, uint8_t machine = 1) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (rcvBuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + machine);
        // (a failed bind would make every client one machine: the test would check another rule)
        if (machine != 1 && ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
            ADD_FAILURE() << "no client address 127.0.0." << int(machine);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        timeval tv{timeoutS, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::vector<uint8_t>& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }
    // Next decoded frame, empty after the receive timeout.
    std::vector<uint8_t> receive() {
        while (frames_.empty()) {
            uint8_t buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return {};
            deframer_.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) { frames_.emplace_back(f, f + len); });
        }
        auto f = frames_.front();
        frames_.erase(frames_.begin());
        return f;
    }
    // Reads what is left; true when the server ended the connection (end of stream or a
    // reset), false when it stays open past the receive timeout.
    bool endedByServer() {
        uint8_t buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0) return true;
            if (n < 0) return errno == ECONNRESET;
        }
    }
    // True when the server ended the connection with the end of the stream, not a reset.
    bool readsEndOfStream() {
        uint8_t buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return n == 0;
        }
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    frame_deframer deframer_{kMaxFrame};
    std::vector<std::vector<uint8_t>> frames_;
};

// Waits for cond, at most 20 s of wall time (a bound for a loaded machine, not a pace).
template <typename F>
bool eventually(F cond) {
    return testkit::waitUntil(cond, 20);
}

// A datagram to the WiFi port, its answer.
inline std::string atCommand(int port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    char buf[600];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ::close(fd);
    return n > 0 ? std::string(buf, size_t(n)) : std::string("(no answer)");
}

// The PC's end of a simulated serial line, raw; -1 when it does not open.
inline int openSerialPeer(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

inline std::vector<uint8_t> line(const std::vector<uint8_t>& f) {
    std::vector<uint8_t> out;
    protocol_phy::data_re_transf_meaning(out, f.data(), f.size());
    return out;
}

// A receiving-card frame as the PC passes it (port 1 of FPGA 0).
inline std::vector<uint8_t> cardPassFrame() {
    std::vector<uint8_t> card = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x61, 0, 0, 0, 0};
    uint8_t x = 0;
    for (uint8_t b : card) x ^= b;
    card.push_back(x);
    return card;
}

class TransportTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        std::memcpy(g_pid, "00112233445566778899aabbccddeeff", 32);
        ASSERT_TRUE(plat::sim::board().startSerialBridges());
        // Ports of this test process: parallel tests each pick their own offset.
        for (int attempt = 0; attempt < 20; ++attempt) {
            // Every port of the controller (the highest is the WiFi port 13769) stays below 65536.
            plat::net::setPortOffset(20000 + int((unsigned(getpid()) * 7 + unsigned(attempt) * 211) % 1500) * 20);
            udpnetManage::pInstance();
            networkManage::pInstance();
            if (udpnetManage::p_udpnetManage->port() > 0 && udpnetManage::p_udpnetManage->wifiPort() > 0 &&
                networkManage::p_networkManage->port() > 0)
                break;
            stopLinks();
        }
        ASSERT_GT(networkManage::p_networkManage->port(), 0);
        Kv_uart_inout::pInstance();
        Kv_uart_inout_4G::pInstance();
        ASSERT_TRUE(Kv_uart_inout::p_uart_inout->isOpen());
        ASSERT_TRUE(Kv_uart_inout_4G::p_uart_inout_4G->isOpen());
        tcp = "--tcp 127.0.0.1:" + std::to_string(networkManage::p_networkManage->port());
        udp = "--udp 127.0.0.1:" + std::to_string(udpnetManage::p_udpnetManage->port());
        serial2 = "--serial " + plat::path("/run/ttyS2.peer");
        serial1 = "--serial " + plat::path("/run/ttyS1.peer");
    }
    void TearDown() override {
        stopLinks();
        Kv_uart_inout::resetInstanceForTest();
        Kv_uart_inout_4G::resetInstanceForTest();
        ProtocolTest::TearDown();
    }
    static void stopLinks() {
        networkManage::resetInstanceForTest();
        udpnetManage::resetInstanceForTest();
    }
    // The requests every link must serve, against the real store.
    void servesTheControllerRequests(const std::string& link) {
        SCOPED_TRACE(link);
        c331_manage::update_flag = 0;
        EXPECT_EQ(runClient(link, "write-mem 0x880 2800").status, kStatusOk);
        // read back over the link: the store is written on the link's thread
        EXPECT_EQ(runClient(link, "read-mem 0x880 2").data, "2800");
        EXPECT_EQ(runClient(link, "write-reg 11 0xFF 0x02").status, kStatusOk);
        EXPECT_EQ(c331_manage::update_flag, 1);
        EXPECT_EQ(runClient(link, "read-reg 11 1").data, "02");
        const ClientResult ext = runClient(link, "read-mem 0xA0000010 8");
        EXPECT_EQ(ext.status, kStatusOk);
        EXPECT_EQ(ext.data.substr(2, 2), "20") << "century of the clock in BCD";
        EXPECT_EQ(runClient(link, "device-info").data, "3030313132323333343435353636373738383939616162626363646465656666");
        simShell().clearCommands();
        EXPECT_EQ(runClient(link, "set-clock 2026-03-05 09:07:00").status, kStatusOk);
        EXPECT_EQ(commands(), (std::vector<std::string>{"date \"2026-3-5 9:7:0\"", "hwclock -wu"}));
    }
    std::string tcp, udp, serial1, serial2;
};

inline std::vector<uint8_t> readRegFrame(unsigned first, unsigned count) {
    return frame(kGroupReadRegisters, cat(le16(uint16_t(first)), le16(uint16_t(count))));
}

}  // namespace prototest
