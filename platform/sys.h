#pragma once
// System-call surface for the kernel devices: spidev, i2c-dev, /dev/mem and /dev/msys,
// MTD, serial ports, the uevent netlink socket and input events. The device backend
// calls the kernel with the rooted path; the simulated board answers the same calls
// (same ioctl numbers and structures) from its chip models, so drivers are identical
// on both boards.
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

namespace plat {

// MTD partitions, files on a USB stick and /dev/mem offsets need 64-bit offsets on the
// 32-bit board as well (the build sets _FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits on every board");

class Sys {
public:
    virtual ~Sys() = default;
    // `path` is the device's own absolute path ("/dev/spidev32766.0"); the backend roots it.
    virtual int open(const std::string& path, int flags, int mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buf, size_t n) = 0;
    virtual ssize_t write(int fd, const void* buf, size_t n) = 0;
    virtual ssize_t pread(int fd, void* buf, size_t n, off_t off) = 0;
    virtual ssize_t pwrite(int fd, const void* buf, size_t n, off_t off) = 0;
    virtual off_t lseek(int fd, off_t off, int whence) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) = 0;
    virtual int munmap(void* addr, size_t len) = 0;
    // Netlink uevent socket (AF_NETLINK, NETLINK_KOBJECT_UEVENT); other sockets are plain.
    virtual int socket(int domain, int type, int protocol) = 0;
    virtual int bind(int fd, const struct sockaddr* addr, socklen_t len) = 0;
    virtual ssize_t recv(int fd, void* buf, size_t n, int flags) = 0;
};

// The backend of the board chosen at start (plat::board()).
Sys& sys();
// Drops the current backend; the next sys() makes a fresh one for the board in force.
void resetSys();
// Tests may put a double of their own in place of the backend.
void installSys(std::unique_ptr<Sys> backend);

}  // namespace plat
