#pragma once
// Replaces a file so that a power cut leaves either the old or the new contents:
// temporary file in the same folder, write, fsync, rename, fsync of the folder.
#include <cstddef>
#include <string>

namespace plat {

// Reads the whole file at `hostPath` into `out`; false when it cannot be opened.
bool readWholeFile(const std::string& hostPath, std::string* out);

// `hostPath` is a path on this machine (already rooted with plat::path()).
// Returns false (and leaves the old file untouched) when any step fails.
bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length);
inline bool replaceFileAtomically(const std::string& hostPath, const std::string& bytes) {
    return replaceFileAtomically(hostPath, bytes.data(), bytes.size());
}

// A file received piece by piece (a transfer over the protocol): written into a hidden
// temporary name in the target's folder and renamed over the target only by commit(),
// so the target holds the old file or the whole new one, never a part. A StagedFile
// that is destroyed without commit() removes its temporary file.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // `hostPath` is the target (already rooted). False when the temporary cannot be made.
    bool open(const std::string& hostPath);
    bool isOpen() const { return fd_ >= 0; }
    bool append(const void* data, size_t length);
    // Flushes the data to the medium and closes the temporary (commit() or tempPath() next).
    bool finish();
    // Renames the finished temporary over the target and makes the rename durable.
    bool commit();
    // Removes the temporary; the target is untouched.
    void discard();
    const std::string& tempPath() const { return temp_; }
    const std::string& target() const { return target_; }

private:
    int fd_ = -1;
    bool finished_ = false;
    std::string temp_;
    std::string target_;
};

}  // namespace plat
