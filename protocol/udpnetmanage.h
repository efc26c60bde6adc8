#pragma once
// UDP transport: the control port 5008 and its thread. A datagram carries whole line
// frames; each reply goes back to the address the request came from. Each sender
// (address and port) is a PC of its own, served in turn as the TCP clients are
// (pc_clients.h): its own order, a long command as its job, a bound on the frames and bytes
// it may have waiting. A sender gets a place only by a frame with a good BCC; senders quiet
// for 30 s are forgotten. Places go by machine (machine_places.h): with every place taken
// a source address holds about its share, and its senders are one machine in the
// pass-through's turns. Beside it the
// WiFi module's port 13769 and its thread: one AT command per datagram, answered to
// the sender (h71_wifi_config.h).
#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/control_frame.h"
#include "protocol/control_link.h"
#include "protocol/link_thread.h"
#include "protocol/pc_clients.h"

class udpnetManage {
public:
    static constexpr int kControlPort = 5008;
    static constexpr int kWifiPort = 13769;
    // Senders served at once. Places go by machine, in the order of MachinePlaces::placeFor
    // (a LAN's PCs and tools send from any port, and one host must not shut the others out):
    // a free place goes to any new sender; with every place taken, the hosts' shares decide,
    // and a quiet sender gives its place at once (it takes one again with its next frame); a
    // place whose job runs goes with the job running on, its reply still to its sender.
    // Without a place to give, the new sender is refused. Each place given up is logged.
    static constexpr size_t kMaxSenders = 32;
    // Frames and bytes a sender may have waiting; those past it in a datagram are dropped.
    static constexpr size_t kSenderFrames = control_link::kHeldFrames;
    static constexpr size_t kSenderBytes = control_link::kHeldBytes;
    // Bytes all senders may have waiting. A frame of the size of a command (up to
    // kSmallFrame) is held past it, so that a sender's command is not refused for the
    // bulk data of others: at most kMaxSenders * kSenderFrames small frames more.
    static constexpr size_t kSendersBytes = 2 * 1024 * 1024;
    static constexpr size_t kSmallFrame = 1024;
    // In 10 ms ticks: a sender with nothing running or waiting for 30 s is forgotten.
    static constexpr uint32_t kSenderIdleTicks = 3000;
    // In 10 ms ticks: a frame that has waited 5 s and not started is dropped. A PC gives a
    // request up after about 1 s and sends it again; none is still waiting for this one.
    static constexpr uint32_t kStaleTicks = 500;
    // Datagrams read between two turns: fewer than the places, so a sender's frame is
    // served before the senders that came after it can push it out.
    static constexpr size_t kDatagramsPerTurn = kMaxSenders / 2;

    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;   // set by start-up, before its thread runs
    static void resetInstanceForTest();

    int port() const { return port_; }
    size_t senderCount() const { return senderCount_.load(); }
    // Datagrams of new senders refused so far, no place being theirs to take.
    size_t refusedDatagrams() const { return refusedDatagrams_.load(); }
    // Frames dropped so far for having waited past kStaleTicks.
    size_t staleFrames() const { return staleFrames_.load(); }
    int wifiPort() const { return wifiPort_; }
    void controlThread();
    void wifiThread();

private:
    struct Sender;
    udpnetManage();
    void receive(const sockaddr_in& from, size_t n);
    // The sender's place; nullptr, and *why, when it has none.
    Sender* admit(const sockaddr_in& from, std::string* why);
    void forgetQuiet();
    void dropStale();
    size_t heldBytes() const;
    int fd_ = -1;
    int port_ = -1;
    PcClients senders_;  // owned by the control thread
    std::atomic<size_t> senderCount_{0};
    std::atomic<size_t> refusedDatagrams_{0};
    std::atomic<size_t> staleFrames_{0};
    link_thread thread_;
    int wifiFd_ = -1;
    int wifiPort_ = -1;
    link_thread wifiThread_;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(65536);
    // The control thread's, as senders_: frames never span datagrams, so each datagram is
    // decoded afresh, and a sender is looked up only for its whole frames.
    frame_deframer datagram_{ctl::kMaxFrame};
    std::vector<std::vector<uint8_t>> frames_;   // the whole frames of the datagram read
    HeldBacklog backlog_;
    DropLog garbage_{"UDP"};   // each its own line a second at most
    DropLog refused_{"UDP"};
    DropLog stale_{"UDP"};
    DropLog given_{"UDP", "places given up"};
};
