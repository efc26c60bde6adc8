#pragma once
// Random-access reads of a data file that this handle never writes: the file is opened
// read-only (a read-only file or stick works), only a regular file is taken (a FIFO in
// its place never blocks the caller), and every read is all or nothing, so a short file
// can never leave a caller's record half old, half new.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// What tells one file from its replacement: a rename over the name gives a new inode,
// a rewrite in place a new size or modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // `hostPath` is a path on this machine (already rooted), as the bytes the kernel sees.
    bool open(const std::string& hostPath, std::string* why = nullptr);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // Size and identity as of open().
    uint64_t size() const { return id_.size; }
    const FileIdentity& identity() const { return id_; }
    // Exactly n bytes at pos; false when any of them lies past the end or the read fails.
    bool readAt(uint64_t pos, void* out, size_t n) const;

private:
    int fd_ = -1;
    FileIdentity id_;
};

}  // namespace plat
