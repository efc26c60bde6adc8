#include "platform/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace plat {

bool writeAll(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool appendToFile(const std::string& hostPath, const void* data, size_t n, int64_t* sizeAfter) {
    const size_t slash = hostPath.rfind('/');
    if (slash != std::string::npos && !folderInsideRoot(slash == 0 ? "/" : hostPath.substr(0, slash))) return false;
    // O_NOFOLLOW: the controller runs as root; a link planted in a log's place must not
    // lead its appends into another file. O_NONBLOCK: never wait on a pipe's reader.
    const int fd = ::open(hostPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                          0644);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && writeAll(fd, data, n);
    if (ok && sizeAfter) {
        ok = ::fstat(fd, &st) == 0;
        *sizeAfter = ok ? int64_t(st.st_size) : 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace plat
