#pragma once
// TCP control server: one listening socket and up to kMaxClients connections, served so
// that one client costs the others at most one short command. Clients are served in turn,
// one frame per client per turn; replies wait in a bounded queue per client that goes out
// as the socket takes it, so no socket ever holds the thread. The turns and the long
// commands as jobs are those of pc_clients.h. A client whose peer has closed is served
// its short commands still; its long ones not yet started are dropped, those still in its
// socket or read ahead as well.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"
#include "protocol/pc_clients.h"

class TcpServer {
public:
    // Places go by machine, in the order of MachinePlaces::placeFor: a free place goes to any
    // connection; with every place taken, the machines' shares decide, and a connection of
    // an address under its share takes one idle for kIdleTicks at last; else it is refused.
    static constexpr size_t kMaxClients = 16;
    // Per client and read; one file block (about 61 KiB on the line) fits.
    static constexpr size_t kReadChunk = 65536;
    // A client with more replies queued than this is neither read nor served until they drain.
    static constexpr size_t kQueueBound = 131072;
    // Bytes read from a client ahead of the frames it has waiting, and from all of them: a
    // client that pipelines and closes is seen closing once its bytes are read, and what it
    // left then goes unstarted. A client past its share is read as its frames are served.
    static constexpr size_t kReadAheadBytes = 524288;
    static constexpr size_t kReadAheadAll = 2097152;
    // In 10 ms ticks: a client whose queued replies have not moved for 5 s is dropped; a
    // connection idle for 30 s (no whole frame received, whatever other bytes came, since
    // the later of its last frame and its job's end, and nothing running or waiting) gives
    // its place to an address under its share. A refused connection is closed once its peer
    // has closed too, or after 5 s, or once it has sent more than kRefusedBytes (read and
    // dropped meanwhile, at most that).
    static constexpr uint32_t kStallTicks = 500;
    static constexpr uint32_t kIdleTicks = 3000;
    static constexpr size_t kRefusedBytes = kReadChunk;

    TcpServer();
    ~TcpServer();
    bool listen(int devicePort);
    int boundPort() const { return port_; }
    bool listening() const { return listenFd_ >= 0; }
    // One pass: waits for activity or the wake fd (up to timeoutMs while a client leaves
    // replies waiting, not at all while a frame waits for its turn), moves the bytes each
    // socket is ready for, accepts, and serves one turn. Returns false when woken through wakeFd.
    bool recvData(int timeoutMs, int wakeFd);
    size_t clientCount() const { return count_.load(); }
    // As the last pass left them: the bytes read ahead of waiting frames (every client's),
    // and everything held for the clients (those, frames waiting, replies queued).
    size_t readAheadBytes() const { return aheadSeen_.load(); }
    size_t heldBytes() const { return heldSeen_.load(); }
    // Closes every socket; waits for the jobs still running.
    void closeAll();

private:
    struct Client;
    struct Refused {
        int fd;
        uint32_t since;
        size_t read = 0;  // bytes read and dropped
    };
    void onEvents(Client& c, short revents);
    void readFrom(Client& c);
    void refill(Client& c);
    void dropDeparted(Client& c);
    void queueReply(Client& c, const std::vector<uint8_t>& reply);
    void flush(Client& c);
    void acceptClients();
    void refuse(int fd);
    void drainRefused(size_t i, short revents);
    bool makeRoom(uint32_t source, std::string* why);
    void closeDeparted();
    Client& client(size_t i);
    void closeDone();
    void noteBacklog();
    int listenFd_ = -1;
    int port_ = -1;
    PcClients clients_;              // in order of arrival
    std::vector<Refused> refused_;  // told the end, waiting for the peer's
    std::atomic<size_t> count_{0};
    DropLog refusals_{"TCP server"};
    DropLog givenUp_{"TCP server", "places given up"};
    size_t aheadAll_ = 0;  // bytes read ahead by every client
    // The heap goes back once what the clients held has drained (16 that pipeline without
    // reading hold megabytes of replies and read-ahead, gone when they are dropped).
    HeldBacklog backlog_;
    std::atomic<size_t> aheadSeen_{0};  // the TCP thread writes, tests read
    std::atomic<size_t> heldSeen_{0};   // the TCP thread writes, tests read
    uint8_t buf_[kReadChunk];
};
