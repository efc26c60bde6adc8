#pragma once
// The file-system calls whose order makes a rewrite survive a power cut: a file's bytes
// are written and flushed (fsync) before its new name replaces the old one (rename), and
// the folder is flushed so that the name change itself is kept. On the device they are
// the kernel's calls; the simulated board's record them and can cut the power, losing
// whatever was never flushed (platform/sim/sim_file_system.h).
#include <cstddef>
#include <memory>
#include <string>

namespace plat {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // All n bytes, going on after short writes and EINTR; false on any other error.
    virtual bool writeAll(int fd, const void* data, size_t n) = 0;
    // Flushes the file's data to the medium: 0, or -1 with errno.
    virtual int fsync(int fd) = 0;
    // Host paths (already rooted): 0, or -1 with errno.
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Flushes the folder `hostDir`, so that names made or changed in it are kept.
    virtual int fsyncFolder(const std::string& hostDir) = 0;
    // Removes the name (kept only once its folder is flushed): 0, or -1 with errno.
    virtual int unlink(const std::string& hostPath);
};

// The backend of the board chosen at start; made on first use.
FileSystem& fileSystem();
void resetFileSystem();
void installFileSystem(std::unique_ptr<FileSystem> backend);

}  // namespace plat
