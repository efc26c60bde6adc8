#include "platform/atomic_file.h"
#include "platform/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <vector>

namespace plat {

bool readWholeFile(const std::string& hostPath, std::string* out) {
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length) {
    const size_t slash = hostPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    std::string tmpl = hostPath + ".tmpXXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);  // never inherited by a shell command
    if (fd < 0) return false;
    ::fchmod(fd, 0644);
    bool ok = writeAll(fd, data, length) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(name.data(), hostPath.c_str()) == 0;
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);  // make the rename itself durable
        ::close(dfd);
    }
    return true;
}

}  // namespace plat
