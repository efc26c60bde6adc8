// Device backend of the durable-write calls: the kernel's own.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/fd_io.h"
#include "platform/linux/linux_backend.h"

namespace plat::linuxdev {

namespace {
class LinuxFileSystem final : public FileSystem {
public:
    bool writeAll(int fd, const void* data, size_t n) override { return plat::writeAll(fd, data, n); }
    int fsync(int fd) override { return ::fsync(fd); }
    int rename(const std::string& from, const std::string& to) override { return ::rename(from.c_str(), to.c_str()); }
    int fsyncFolder(const std::string& hostDir) override {
        const int dfd = ::open(hostDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd < 0) return -1;
        const int r = ::fsync(dfd);
        ::close(dfd);
        return r;
    }
};
}  // namespace

std::unique_ptr<FileSystem> makeFileSystem() { return std::make_unique<LinuxFileSystem>(); }

}  // namespace plat::linuxdev
