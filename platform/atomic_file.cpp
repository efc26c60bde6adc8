#include "platform/atomic_file.h"
#include "platform/lock_check.h"
#include "platform/fd_io.h"
#include "platform/file_system.h"
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

namespace {

std::string folderOf(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
}

// Every fsync of a replacement: a wait no lock but the writers' own may be held across.
bool syncFd(int fd) {
    lockcheck::waitPoint(Wait::Fsync);
    return fileSystem().fsync(fd) == 0;
}

// Makes the rename itself durable.
void syncFolder(const std::string& dir) {
    lockcheck::waitPoint(Wait::Fsync);
    (void)fileSystem().fsyncFolder(dir);
}

}  // namespace

bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length) {
    const std::string dir = folderOf(hostPath);
    if (!folderInsideRoot(dir)) return false;
    std::string tmpl = hostPath + kTempSuffix + std::string(kTempRandomChars, 'X');
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);  // never inherited by a shell command
    if (fd < 0) return false;
    ::fchmod(fd, 0644);
    FileSystem& fs = fileSystem();
    bool ok = fs.writeAll(fd, data, length) && syncFd(fd);
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = fs.rename(name.data(), hostPath) == 0;
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    syncFolder(dir);
    return true;
}

bool removeFileDurably(const std::string& hostPath) {
    if (fileSystem().unlink(hostPath) != 0 && errno != ENOENT) return false;
    syncFolder(folderOf(hostPath));
    return true;
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::open(const std::string& hostPath) {
    discard();
    const std::string dir = folderOf(hostPath);
    if (!folderInsideRoot(dir)) return false;
    const size_t slash = hostPath.rfind('/');
    const std::string base = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    // Hidden, so folder listings (receiving-card files, USB lists) never show a part file.
    std::string tmpl = dir + "/." + base + kTempSuffix + std::string(kTempRandomChars, 'X');
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    ::fchmod(fd_, 0644);
    temp_.assign(name.data());
    target_ = hostPath;
    finished_ = false;
    written_ = kicked_ = 0;
    return true;
}

bool StagedFile::append(const void* data, size_t length) {
    if (fd_ < 0 || finished_ || !fileSystem().writeAll(fd_, data, length)) return false;
    written_ += length;
    // Start writing each MiB to the medium while the rest still arrives, so the flush at
    // the end waits for little.
    if (written_ - kicked_ >= kWritebackStep) {
        ::sync_file_range(fd_, off_t(kicked_), off_t(written_ - kicked_), SYNC_FILE_RANGE_WRITE);
        kicked_ = written_;
    }
    return true;
}

bool StagedFile::finish() {
    if (fd_ < 0) return false;
    bool ok = syncFd(fd_);
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    finished_ = ok;
    if (!ok) discard();
    return ok;
}

bool StagedFile::commit() {
    if (!renameOver()) return false;
    syncFolder();
    return true;
}

bool StagedFile::renameOver() {
    if (!finished_ || temp_.empty()) return false;
    if (fileSystem().rename(temp_, target_) != 0) {
        discard();
        return false;
    }
    temp_.clear();
    finished_ = false;
    return true;
}

void StagedFile::syncFolder() { plat::syncFolder(folderOf(target_)); }

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    finished_ = false;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
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
