#pragma once
// Files the system keeps on its data partition.
// Rewrites replace a file so that a power cut leaves either the old or the new contents:
// temporary file in the same folder, write, fsync, rename, fsync of the folder. The rename
// replaces a symbolic link in the file's place, never the file it points to.
// Reads take regular files only and never more than the caller's format allows, so a
// folder, a pipe or an endless device in a data file's place cannot stop the controller.
#include <cstddef>
#include <string>

namespace plat {

enum class FileRead {
    Ok,       // `out` holds the file (or, for Oversize::Cut, its first maxBytes)
    Missing,  // nothing of that name
    Refused,  // not a regular file, unreadable, or larger than allowed; `why` says which
};

enum class Oversize {
    Refuse,  // a longer file is refused (JSON: a cut text is useless)
    Cut,     // a longer file gives its first maxBytes (fixed-layout images)
};

// `hostPath` is a path on this machine (already rooted with plat::path()). A link to a
// regular file is read. Never blocks on a pipe and never throws.
FileRead readRegularFile(const std::string& hostPath, size_t maxBytes, Oversize oversize, std::string* out,
                         std::string* why = nullptr);

// Returns false (and leaves the old file untouched) when any step fails, or when the
// file's folder lies outside the root (a linked folder).
bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length);
inline bool replaceFileAtomically(const std::string& hostPath, const std::string& bytes) {
    return replaceFileAtomically(hostPath, bytes.data(), bytes.size());
}

// Removes the file (a missing one too) and flushes its folder, so that a power cut does not
// bring it back. False when it is there and cannot be removed.
bool removeFileDurably(const std::string& hostPath);

// Suffix of the temporary files of a replacement: "<name>.tmp" and six characters.
constexpr const char* kTempSuffix = ".tmp";
constexpr size_t kTempRandomChars = 6;
// True for a file name this system's interrupted saves leave behind: "<name>.tmpXXXXXX".
bool isLeftoverTempName(const std::string& fileName);
// Removes such leftovers (files and links, never folders) from the folder `hostDir`;
// returns how many went.
int removeLeftoverTemps(const std::string& hostDir);

// A file received piece by piece (a transfer over the protocol): written into a hidden
// temporary ".<name>.tmpXXXXXX" in the target's folder and renamed over the target only
// by commit(), so the target holds the old file or the whole new one, never a part. A
// StagedFile destroyed without commit() removes its temporary; one left by a power cut
// is a leftover that removeLeftoverTemps() clears.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // `hostPath` is the target (already rooted). False when the temporary cannot be made
    // or the folder lies outside the root.
    bool open(const std::string& hostPath);
    bool append(const void* data, size_t length);
    // Flushes the data to the medium and closes the temporary (commit() or tempPath() next).
    bool finish();
    // Renames the finished temporary over the target and makes the rename durable.
    bool commit();
    // commit() in its two steps: the rename (quick: it may be made under a lock that orders
    // renames), then the folder's flush that makes it durable.
    bool renameOver();
    void syncFolder();
    // Removes the temporary; the target is untouched.
    void discard();
    const std::string& tempPath() const { return temp_; }

private:
    static constexpr size_t kWritebackStep = 1u << 20;
    int fd_ = -1;
    bool finished_ = false;
    size_t written_ = 0;
    size_t kicked_ = 0;
    std::string temp_;
    std::string target_;
};

}  // namespace plat
