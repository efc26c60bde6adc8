#include "platform/net.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/sys.h"

namespace plat::net {

namespace {
// Read once from the environment (call_once), by whichever thread first asks.
std::atomic<int> g_offset{0};
std::atomic<int> g_listenAny{0};
std::once_flag g_envOnce;

void readEnvironment() {
    std::call_once(g_envOnce, [] {
        if (const char* o = std::getenv("VLX_PORT_OFFSET")) g_offset = std::atoi(o);
        if (const char* a = std::getenv("VLX_LISTEN_ANY")) g_listenAny = std::strcmp(a, "1") == 0;
    });
}

bool setNonBlocking(int fd) {
    const int fl = ::fcntl(fd, F_GETFL);
    return fl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

sockaddr_in bindAddress(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(loopbackOnly() ? INADDR_LOOPBACK : INADDR_ANY);
    return a;
}

int boundPortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
    return ntohs(a.sin_port);
}

int openBound(int type, int devicePort, int* boundPort) {
    const int port = boardPort(devicePort);
    if (port < 0) return -1;
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // A restarted server takes its TCP port back at once from connections in TIME_WAIT. Not
    // for UDP: there the option would let two controllers share one port.
    if (type == SOCK_STREAM) {
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in a = bindAddress(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        // Said where whoever started the program sees it, not only in the log: that link is off.
        std::fprintf(stderr, "%s port %d cannot be opened: %s\n", type == SOCK_STREAM ? "TCP" : "UDP", port,
                     std::strerror(errno));
        ::close(fd);
        return -1;
    }
    if (!setNonBlocking(fd)) {
        ::close(fd);
        return -1;
    }
    if (boundPort) *boundPort = boundPortOf(fd);
    return fd;
}

// Waits until fd is writable or the deadline passes.
bool waitWritable(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, int(left.count()));
        if (r > 0) return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0 || (p.revents & POLLOUT);
        if (r < 0 && errno != EINTR) return false;
    }
}

template <typename WriteFn>
bool writeLoop(int fd, const void* data, size_t n, int timeoutMs, WriteFn fn) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = fn(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitWritable(fd, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

speed_t baudCode(uint32_t baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B115200;
    }
}
}  // namespace

void setPortOffset(int offset) {
    readEnvironment();
    g_offset = offset;
}

int portOffset() {
    readEnvironment();
    return plat::board() == plat::Board::Sim ? g_offset.load() : 0;
}

bool loopbackOnly() {
    readEnvironment();
    return plat::board() == plat::Board::Sim && !g_listenAny.load();
}

int boardPort(int devicePort) {
    const int p = devicePort + portOffset();
    return (p < 0 || p > 65535) ? -1 : p;
}

int openTcpListener(int devicePort, int* boundPort) {
    const int fd = openBound(SOCK_STREAM, devicePort, boundPort);
    if (fd < 0) return -1;
    if (::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int acceptClient(int listenFd, sockaddr_in* peer) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // First probe after 60 s of silence, then every 10 s; 3 unanswered close the socket.
    const int idle = 60, interval = 10, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    if (peer) *peer = from;
    return fd;
}

int openUdpSocket(int devicePort, int* boundPort) { return openBound(SOCK_DGRAM, devicePort, boundPort); }

ssize_t recvSome(int fd, void* buf, size_t n) {
    for (;;) {
        const ssize_t r = ::recv(fd, buf, n, 0);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : -2;
    }
}

ssize_t sendSome(int fd, const void* data, size_t n) {
    for (;;) {
        const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w >= 0) return w;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : -2;
    }
}

ssize_t recvFrom(int fd, void* buf, size_t n, sockaddr_in* from) {
    socklen_t len = sizeof *from;
    for (;;) {
        const ssize_t r = ::recvfrom(fd, buf, n, 0, reinterpret_cast<sockaddr*>(from), &len);
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool sendTo(int fd, const void* data, size_t n, const sockaddr_in& to) {
    return ::sendto(fd, data, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to) == ssize_t(n);
}

int closeFd(int fd) { return fd >= 0 ? ::close(fd) : 0; }

void shutdownSending(int fd) {
    if (fd >= 0) ::shutdown(fd, SHUT_WR);
}

int pollFds(std::vector<pollfd>& fds, int timeoutMs) {
    const int r = ::poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    if (r < 0 && errno == EINTR) return 0;
    return r;
}

int openSerialPort(int port, uint32_t baud) {
    const std::string dev = "/dev/ttyS" + std::to_string(port);
    const int fd = plat::sys().open(dev, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        plat::sys().close(fd);
        return -1;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, baudCode(baud));
    ::cfsetospeed(&t, baudCode(baud));
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        plat::sys().close(fd);
        return -1;
    }
    return fd;
}

ssize_t readFd(int fd, void* buf, size_t n) {
    for (;;) {
        const ssize_t r = plat::sys().read(fd, buf, n);
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool writeAll(int fd, const void* data, size_t n, int timeoutMs) {
    return writeLoop(fd, data, n, timeoutMs,
                     [](int f, const uint8_t* p, size_t len) { return plat::sys().write(f, p, len); });
}

WakePipe::WakePipe() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

WakePipe::~WakePipe() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
}

void WakePipe::wake() {
    const char c = 1;
    if (fds_[1] >= 0) (void)!::write(fds_[1], &c, 1);
}

void WakePipe::drain() {
    char buf[64];
    while (fds_[0] >= 0 && ::read(fds_[0], buf, sizeof buf) > 0) {
    }
}

}  // namespace plat::net
