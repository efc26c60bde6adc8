#include "platform/atomic_file.h"
#include "platform/fd_io.h"
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plat {

FileRead readRegularFile(const std::string& hostPath, size_t maxBytes, Oversize oversize, std::string* out,
                         std::string* why) {
    auto refuse = [why](const std::string& reason) {
        if (why) *why = reason;
        return FileRead::Refused;
    };
    out->clear();
    // O_NONBLOCK: opening a FIFO with no writer must not hang start-up.
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return FileRead::Missing;
        return refuse(std::string("cannot be opened: ") + std::strerror(errno));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return refuse(std::string("cannot be examined: ") + std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(S_ISDIR(st.st_mode) ? "is a folder, not a file" : "is not a regular file");
    }
    // The size is a hint only (a file may grow while it is read); reading stops one
    // byte past the limit, which tells a longer file from one of exactly maxBytes.
    std::string data;
    data.reserve(size_t(st.st_size) < maxBytes ? size_t(st.st_size) + 1 : maxBytes);
    char chunk[4096];
    while (data.size() <= maxBytes) {
        const ssize_t r = ::read(fd, chunk, sizeof chunk);
        if (r < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return refuse(std::string("read error: ") + std::strerror(err));
        }
        if (r == 0) break;
        data.append(chunk, size_t(r));
    }
    ::close(fd);
    if (data.size() > maxBytes) {
        if (oversize == Oversize::Refuse) return refuse("is larger than " + std::to_string(maxBytes) + " bytes");
        data.resize(maxBytes);
    }
    out->swap(data);
    return FileRead::Ok;
}

bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length) {
    const size_t slash = hostPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    if (!folderInsideRoot(dir)) return false;
    std::string tmpl = hostPath + kTempSuffix + std::string(kTempRandomChars, 'X');
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

namespace {
bool isRandomPart(const std::string& s, size_t at) {
    if (s.size() - at != kTempRandomChars) return false;
    for (size_t i = at; i < s.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(s[i]))) return false;
    return true;
}
}  // namespace

bool isLeftoverTempName(const std::string& name) {
    const size_t suffix = std::strlen(kTempSuffix) + kTempRandomChars;
    if (name.size() <= suffix) return false;
    const size_t at = name.size() - suffix;
    return name.compare(at, std::strlen(kTempSuffix), kTempSuffix) == 0 && isRandomPart(name, at + std::strlen(kTempSuffix));
}

int removeLeftoverTemps(const std::string& hostDir) {
    DIR* dir = ::opendir(hostDir.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (!isLeftoverTempName(name)) continue;
        const std::string path = hostDir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace plat
