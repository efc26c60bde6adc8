#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace plat {

namespace {
bool writeAll(int fd, const unsigned char* p, size_t n) {
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
}  // namespace

bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length) {
    const size_t slash = hostPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    std::string tmpl = hostPath + ".tmpXXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    ::fchmod(fd, 0644);
    bool ok = writeAll(fd, static_cast<const unsigned char*>(data), length) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(name.data(), hostPath.c_str()) == 0;
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);  // make the rename itself durable
        ::close(dfd);
    }
    return true;
}

}  // namespace plat
