#include "platform/sim/sim_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/fd_io.h"
#include "platform/platform.h"
#include "platform/sim/sim_backend.h"

namespace plat::sim {

namespace {
std::string pathOfFd(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

std::string folderOf(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
}

std::string shown(const std::string& hostPath) {
    const std::string below = plat::unroot(hostPath);
    return below.empty() ? hostPath : below;
}

// The whole file at `hostPath`, or false when there is none.
bool readWhole(const std::string& hostPath, std::string* out) {
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    out->clear();
    char chunk[4096];
    ssize_t r;
    while ((r = ::read(fd, chunk, sizeof chunk)) > 0) out->append(chunk, size_t(r));
    ::close(fd);
    return r == 0;
}

void writeWhole(const std::string& hostPath, const std::string& bytes) {
    const int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return;
    (void)plat::writeAll(fd, bytes.data(), bytes.size());
    ::close(fd);
}

ino_t inodeOf(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}
}  // namespace

bool SimFileSystem::poweredFor(const Op& op) {
    if (!recording_) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!off_ && callsLeft_ == 0) cutLocked();
    if (off_) {
        errno = EIO;
        return false;
    }
    if (callsLeft_ > 0) --callsLeft_;
    ops_.push_back(op);
    return true;
}

bool SimFileSystem::writeAll(int fd, const void* data, size_t n) {
    const std::string path = recording_ ? pathOfFd(fd) : std::string();
    if (!poweredFor({"write", shown(path), {}})) return false;
    if (!plat::writeAll(fd, data, n)) return false;
    if (recording_) {
        std::lock_guard<std::mutex> lock(mutex_);
        writtenPath_[inodeOf(fd)] = path;
    }
    return true;
}

// The flush itself is the PC's, far quicker than the device's flash can be.
void SimFileSystem::slowStorage() const {
    if (const int ms = fsyncDelayMs_) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SimFileSystem::holdNextFsync(Flush which) {
    std::lock_guard<std::mutex> lock(holdMutex_);
    hold_ = Hold::Armed;
    holdWhich_ = which;
}

bool SimFileSystem::waitForHeldFsync() {
    std::unique_lock<std::mutex> lock(holdMutex_);
    return holdChanged_.wait_for(lock, std::chrono::seconds(30), [this] { return hold_ == Hold::Held; });
}

void SimFileSystem::releaseFsync() {
    std::lock_guard<std::mutex> lock(holdMutex_);
    hold_ = Hold::Released;
    holdChanged_.notify_all();
}

void SimFileSystem::holdHere(Flush which) {
    std::unique_lock<std::mutex> lock(holdMutex_);
    if (hold_ != Hold::Armed || holdWhich_ != which) return;
    hold_ = Hold::Held;
    holdChanged_.notify_all();
    holdChanged_.wait(lock, [this] { return hold_ == Hold::Released; });
}

int SimFileSystem::fsync(int fd) {
    holdHere(Flush::File);
    slowStorage();
    const std::string path = recording_ ? pathOfFd(fd) : std::string();
    if (!poweredFor({"fsync", shown(path), {}})) return -1;
    if (recording_) {
        std::string bytes;
        if (readWhole(path, &bytes)) {
            std::lock_guard<std::mutex> lock(mutex_);
            synced_[inodeOf(fd)] = bytes;
        }
    }
    return ::fsync(fd);
}

int SimFileSystem::rename(const std::string& from, const std::string& to) {
    if (!poweredFor({"rename", shown(from), shown(to)})) return -1;
    if (recording_) {
        std::lock_guard<std::mutex> lock(mutex_);
        keepNameLocked(to);
        struct stat st;
        if (::lstat(from.c_str(), &st) == 0 && writtenPath_.count(st.st_ino)) writtenPath_[st.st_ino] = to;
    }
    return ::rename(from.c_str(), to.c_str());
}

int SimFileSystem::unlink(const std::string& hostPath) {
    if (!poweredFor({"unlink", shown(hostPath), {}})) return -1;
    if (recording_) {
        std::lock_guard<std::mutex> lock(mutex_);
        keepNameLocked(hostPath);
    }
    return ::unlink(hostPath.c_str());
}

void SimFileSystem::keepNameLocked(const std::string& name) {
    if (renamedOver_.count(name)) return;
    // What the name holds for a cut: its file as kept, or no file.
    Kept before;
    struct stat st;
    if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        before.exists = true;
        if (writtenPath_.count(st.st_ino))
            before.bytes = keptBytesLocked(st.st_ino);
        else
            readWhole(name, &before.bytes);
    }
    renamedOver_[name] = before;
}

int SimFileSystem::fsyncFolder(const std::string& hostDir) {
    holdHere(Flush::Folder);
    slowStorage();
    if (!poweredFor({"fsync-folder", shown(hostDir), {}})) return -1;
    if (recording_) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = renamedOver_.begin(); it != renamedOver_.end();)
            it = folderOf(it->first) == hostDir ? renamedOver_.erase(it) : std::next(it);
    }
    const int dfd = ::open(hostDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return -1;
    const int r = ::fsync(dfd);
    ::close(dfd);
    return r;
}

std::string SimFileSystem::keptBytesLocked(ino_t inode) const {
    const auto s = synced_.find(inode);
    return s == synced_.end() ? std::string() : s->second;  // never flushed: nothing of it
}

void SimFileSystem::cutLocked() {
    // Files written since: back to their bytes as of their last flush.
    for (const auto& w : writtenPath_) {
        struct stat st;
        if (::lstat(w.second.c_str(), &st) == 0 && st.st_ino == w.first && !renamedOver_.count(w.second))
            writeWhole(w.second, keptBytesLocked(w.first));
    }
    // Names whose change never reached the medium: their earlier file, or none.
    for (const auto& r : renamedOver_) {
        if (r.second.exists)
            writeWhole(r.first, r.second.bytes);
        else
            ::unlink(r.first.c_str());
    }
    writtenPath_.clear();
    renamedOver_.clear();
    synced_.clear();
    off_ = true;
    callsLeft_ = -1;
}

void SimFileSystem::record() {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_.clear();
    writtenPath_.clear();
    renamedOver_.clear();
    synced_.clear();
    off_ = false;
    callsLeft_ = -1;
    recording_ = true;
}

std::vector<SimFileSystem::Op> SimFileSystem::operations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ops_;
}

void SimFileSystem::cutAfter(int calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    callsLeft_ = calls;
}

void SimFileSystem::cutNow() {
    std::lock_guard<std::mutex> lock(mutex_);
    cutLocked();
}

std::unique_ptr<FileSystem> makeFileSystem() { return std::make_unique<SimFileSystem>(); }

SimFileSystem* simFileSystem() { return dynamic_cast<SimFileSystem*>(&plat::fileSystem()); }

}  // namespace plat::sim
