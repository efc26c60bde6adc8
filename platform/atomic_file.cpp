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

namespace {

std::string folderOf(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
}

void syncFolder(const std::string& dir) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);  // make the rename itself durable
        ::close(dfd);
    }
}

}  // namespace

bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length) {
    const std::string dir = folderOf(hostPath);
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
    syncFolder(dir);
    return true;
}

StagedFile::~StagedFile() { discard(); }

bool StagedFile::open(const std::string& hostPath) {
    discard();
    const size_t slash = hostPath.rfind('/');
    const std::string base = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    const std::string dir = folderOf(hostPath);
    // Hidden, so folder listings (receiving-card files, USB lists) never show a part file.
    std::string tmpl = dir + "/." + base + ".partXXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    ::fchmod(fd_, 0644);
    temp_.assign(name.data());
    target_ = hostPath;
    finished_ = false;
    return true;
}

bool StagedFile::append(const void* data, size_t length) {
    return fd_ >= 0 && !finished_ && writeAll(fd_, data, length);
}

bool StagedFile::finish() {
    if (fd_ < 0) return false;
    if (finished_) return true;
    bool ok = ::fsync(fd_) == 0;
    ok = (::close(fd_) == 0) && ok;
    fd_ = ok ? -2 : -1;  // -2: closed, the temporary is complete
    finished_ = ok;
    if (!ok) discard();
    return ok;
}

bool StagedFile::commit() {
    if (!finished_ || temp_.empty()) return false;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temp_.clear();
    finished_ = false;
    fd_ = -1;
    syncFolder(folderOf(target_));
    return true;
}

void StagedFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    finished_ = false;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace plat
