#pragma once
// The simulated board's durable-write calls: carried out on the PC's files as on the
// device, and, while recording, noted in order with what a power cut would keep. The
// model is the strict one of a flash file system: a file's bytes are kept only as of its
// last fsync, and a rename only once its folder was flushed; until then a cut gives the
// name back its earlier file (or none).
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace plat::sim {

class SimFileSystem final : public FileSystem {
public:
    struct Op {
        std::string kind;  // "write", "fsync", "rename", "fsync-folder"
        std::string path;  // below the root ("/data/x"); the source of a rename
        std::string to;    // the target of a rename
    };

    bool writeAll(int fd, const void* data, size_t n) override;
    int fsync(int fd) override;
    int rename(const std::string& from, const std::string& to) override;
    int fsyncFolder(const std::string& hostDir) override;
    int unlink(const std::string& hostPath) override;

    // From here on the calls are noted, and what is on disk now counts as kept. Also
    // the power coming back after a cut: the calls work again.
    void record();
    std::vector<Op> operations() const;
    // The power goes after `calls` more calls: the next one is not carried out, the files
    // fall back to what was kept, and every later call fails with EIO until record().
    void cutAfter(int calls);
    // The power goes now (as above).
    void cutNow();
    // Slow storage: every fsync of a file or folder takes `ms` more milliseconds of real time
    // (a worn or busy flash); 0, the default, adds nothing. Recording or not.
    void setFsyncDelay(int ms) { fsyncDelayMs_ = ms < 0 ? 0 : ms; }
    int fsyncDelay() const { return fsyncDelayMs_; }
    // A flush held under way until the test lets it go: the next fsync of a file (or of a
    // folder: the one that makes a rename durable) waits in it until releaseFsync().
    // waitForHeldFsync() returns once one waits (false: none within 30 s).
    enum class Flush { File, Folder };
    void holdNextFsync(Flush which = Flush::File);
    bool waitForHeldFsync();
    void releaseFsync();

private:
    struct Kept {
        bool exists = false;
        std::string bytes;
    };
    // -1 with EIO when the power is off or goes at this call; else notes the call.
    bool poweredFor(const Op& op);
    void cutLocked();
    void slowStorage() const;
    std::string keptBytesLocked(ino_t inode) const;
    // Before a name changes (a rename over it, its removal): what a cut brings back.
    void keepNameLocked(const std::string& name);

    enum class Hold { None, Armed, Held, Released };
    void holdHere(Flush which);
    std::mutex holdMutex_;   // hold_ and holdWhich_; a leaf
    std::condition_variable holdChanged_;
    Hold hold_ = Hold::None;
    Flush holdWhich_ = Flush::File;

    std::atomic<bool> recording_{false};
    std::atomic<int> fsyncDelayMs_{0};
    mutable std::mutex mutex_;  // everything below; a leaf
    std::vector<Op> ops_;
    int callsLeft_ = -1;  // -1: no cut armed
    bool off_ = false;
    std::map<ino_t, std::string> synced_;        // a file's bytes as of its last fsync
    std::map<ino_t, std::string> writtenPath_;   // files written since record(), by host path now
    std::map<std::string, Kept> renamedOver_;    // names a rename or removal changed, as kept before it
};

// The file-system backend in force when it is the simulated one; nullptr otherwise.
SimFileSystem* simFileSystem();

}  // namespace plat::sim
