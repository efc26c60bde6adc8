#include "platform/sim/chip_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/fd_io.h"
#include "platform/platform.h"

namespace plat::sim {

ChipStore::ChipStore(std::string file, size_t size) : hostPath_(plat::path(file)), size_(size) {
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0) plat::makeDirs(file.substr(0, slash));
    struct stat st {};
    if (::stat(hostPath_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) == size) {
        fd_ = ::open(hostPath_.c_str(), O_RDWR | O_CLOEXEC);
        return;
    }
    fd_ = ::open(hostPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        std::fprintf(stderr, "sim board: cannot create %s\n", hostPath_.c_str());
        return;
    }
    std::vector<uint8_t> erased(64 * 1024, 0xFF);
    for (size_t done = 0; done < size;) {
        const size_t n = std::min(erased.size(), size - done);
        if (!writeAll(fd_, erased.data(), n)) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        done += n;
    }
}

ChipStore::~ChipStore() {
    if (fd_ >= 0) ::close(fd_);
}

bool ChipStore::inRange(uint64_t offset, size_t len) const { return offset <= size_ && len <= size_ - offset; }

bool ChipStore::read(uint64_t offset, uint8_t* out, size_t len) const {
    std::fill(out, out + len, 0xFF);
    if (fd_ < 0) return false;
    if (offset >= size_) return true;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(len, size_ - offset));
    return ::pread(fd_, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

std::vector<uint8_t> ChipStore::read(uint64_t offset, size_t len) const {
    std::vector<uint8_t> out(len);
    read(offset, out.data(), len);
    return out;
}

bool ChipStore::allowWrite() {
    std::lock_guard<std::mutex> l(mutex_);
    if (lost_) return false;
    if (cutAfter_ == 0) {
        lost_ = true;
        return false;
    }
    if (cutAfter_ > 0) --cutAfter_;
    ++units_;
    return true;
}

bool ChipStore::store(uint64_t offset, const uint8_t* data, size_t len) {
    return ::pwrite(fd_, data, len, static_cast<off_t>(offset)) == static_cast<ssize_t>(len);
}

bool ChipStore::program(uint64_t offset, const uint8_t* data, size_t len) {
    if (fd_ < 0 || !inRange(offset, len) || !allowWrite()) return false;
    std::vector<uint8_t> cells(len);
    if (::pread(fd_, cells.data(), len, static_cast<off_t>(offset)) != static_cast<ssize_t>(len)) return false;
    for (size_t i = 0; i < len; ++i) cells[i] &= data[i];
    return store(offset, cells.data(), len);
}

bool ChipStore::write(uint64_t offset, const uint8_t* data, size_t len) {
    if (fd_ < 0 || !inRange(offset, len) || !allowWrite()) return false;
    return store(offset, data, len);
}

bool ChipStore::erase(uint64_t offset, size_t len) {
    if (fd_ < 0 || !inRange(offset, len) || !allowWrite()) return false;
    std::vector<uint8_t> erased(len, 0xFF);
    return store(offset, erased.data(), len);
}

void ChipStore::powerCutAfterWrites(int writes) {
    std::lock_guard<std::mutex> l(mutex_);
    cutAfter_ = writes < 0 ? -1 : writes;
}

bool ChipStore::powerLost() const {
    std::lock_guard<std::mutex> l(mutex_);
    return lost_;
}

void ChipStore::restorePower() {
    std::lock_guard<std::mutex> l(mutex_);
    lost_ = false;
    cutAfter_ = -1;
}

unsigned ChipStore::writeUnits() const {
    std::lock_guard<std::mutex> l(mutex_);
    return units_;
}

}  // namespace plat::sim
