#include "platform/readonly_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

ReadOnlyFile::~ReadOnlyFile() { close(); }

bool ReadOnlyFile::open(const std::string& hostPath, std::string* why) {
    close();
    // O_NONBLOCK: a FIFO without a writer must not hang the caller's thread.
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (why) *why = errno == ENOENT ? "does not exist" : std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why) *why = "is not a regular file";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    id_.device = uint64_t(st.st_dev);
    id_.inode = uint64_t(st.st_ino);
    id_.size = uint64_t(st.st_size);
    id_.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + int64_t(st.st_mtim.tv_nsec);
    return true;
}

void ReadOnlyFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    id_ = FileIdentity{};
}

bool ReadOnlyFile::readAt(uint64_t pos, void* out, size_t n) const {
    if (fd_ < 0 || pos > id_.size || n > id_.size - pos) return false;
    auto* p = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd_, p + done, n - done, off_t(pos + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;  // shrunk under us, or an I/O error
        done += size_t(r);
    }
    return true;
}

}  // namespace plat
