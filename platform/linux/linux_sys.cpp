// Device backend: straight kernel calls on the rooted path.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"

namespace plat::linuxdev {

namespace {
class LinuxSys final : public Sys {
public:
    int open(const std::string& p, int flags, int mode) override { return ::open(path(p).c_str(), flags, mode); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buf, size_t n) override { return ::read(fd, buf, n); }
    ssize_t write(int fd, const void* buf, size_t n) override { return ::write(fd, buf, n); }
    ssize_t pread(int fd, void* buf, size_t n, off_t off) override { return ::pread(fd, buf, n, off); }
    ssize_t pwrite(int fd, const void* buf, size_t n, off_t off) override { return ::pwrite(fd, buf, n, off); }
    off_t lseek(int fd, off_t off, int whence) override { return ::lseek(fd, off, whence); }
    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) override {
        return ::mmap(addr, len, prot, flags, fd, off);
    }
    int munmap(void* addr, size_t len) override { return ::munmap(addr, len); }
    int socket(int domain, int type, int protocol) override { return ::socket(domain, type, protocol); }
    int bind(int fd, const struct sockaddr* addr, socklen_t len) override { return ::bind(fd, addr, len); }
    ssize_t recv(int fd, void* buf, size_t n, int flags) override { return ::recv(fd, buf, n, flags); }
};
}  // namespace

std::unique_ptr<Sys> makeSys() { return std::make_unique<LinuxSys>(); }

}  // namespace plat::linuxdev
