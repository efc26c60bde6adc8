#pragma once
// Sockets and serial lines of the control links. On the device the listening sockets
// take every address and the ports the protocol names; on the simulated board they bind
// to the loopback address (an unauthenticated control port stays off the PC's network
// unless VLX_LISTEN_ANY=1) and every port is moved by one offset (VLX_PORT_OFFSET), so
// that parallel tests and two simulated controllers on one PC do not collide.
#include <netinet/in.h>
#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat::net {

// The port a socket of the given device port really uses (device port + offset on the
// simulated board). Out of range ports give -1.
int boardPort(int devicePort);
void setPortOffset(int offset);  // simulated board only; also read from VLX_PORT_OFFSET
int portOffset();
// True when the listening sockets take only the loopback address.
bool loopbackOnly();

// Listening TCP socket (non-blocking, SO_REUSEADDR) on boardPort(devicePort); -1 on failure.
// *boundPort receives the port actually bound.
int openTcpListener(int devicePort, int* boundPort = nullptr);
// Accepted connection (non-blocking, no Nagle delay, TCP keep-alive: a peer that vanished
// without a word is found within about 90 s), or -1 when none is waiting. *peer, when
// given, receives the peer's address.
int acceptClient(int listenFd, sockaddr_in* peer = nullptr);
// UDP socket bound to boardPort(devicePort); -1 on failure.
int openUdpSocket(int devicePort, int* boundPort = nullptr);

// Reads what is there (non-blocking): bytes read, 0 at end of stream, -1 when nothing
// (EAGAIN) and -2 on an error.
ssize_t recvSome(int fd, void* buf, size_t n);
// Writes what the socket takes now (non-blocking): bytes written, -1 when it takes
// nothing (EAGAIN) and -2 on an error (the peer is gone).
ssize_t sendSome(int fd, const void* data, size_t n);
ssize_t recvFrom(int fd, void* buf, size_t n, sockaddr_in* from);
bool sendTo(int fd, const void* data, size_t n, const sockaddr_in& to);
int closeFd(int fd);
// Sends the end of this side's stream (FIN); the peer may still send and is read.
void shutdownSending(int fd);
// poll(2); -1 with errno EINTR counts as 0 ready.
int pollFds(std::vector<pollfd>& fds, int timeoutMs);

// Serial port "/dev/ttyS<n>" opened through the board layer and set raw, 8N1, no flow
// control, at the given baud rate; -1 on failure.
int openSerialPort(int port, uint32_t baud);
ssize_t readFd(int fd, void* buf, size_t n);
bool writeAll(int fd, const void* data, size_t n, int timeoutMs = 1000);

// Wakes a thread blocked in pollFds: its read end goes into the poll set.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    int readFd() const { return fds_[0]; }
    void wake();
    void drain();

private:
    int fds_[2] = {-1, -1};
};

}  // namespace plat::net
