#include "core/ram_file_writer.h"

#include <unistd.h>

#include <cstring>
#include <thread>

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "platform/annotated_mutex.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "platform/waits.h"

using vlxram::kRamSize;

namespace {

// The hand-over between the savers and the writer's loop. mutex_ is a leaf lock, held for
// one copy or a count: never across the file's write.
class Writer {
public:
    // Once the stop has begun (stop()), no copy is taken: a notification running beside it may
    // still hand over one taken before the stop's, which writes its own (writeAtStop).
    void save(const unsigned char* ram) EXCLUDES(mutex_) {
        plat::Locker<plat::Mutex> lock(mutex_);
        if (stopped_) return;
        std::memcpy(pending_, ram, kRamSize);
        ++handed_;
        owed_ = false;
        if (!started_) {
            started_ = true;
            // Lives as long as the process: the loop never ends, the object is never freed.
            std::thread([this] { loop(); }).detach();
        }
        wake_.notify_one();
    }

    void flush() EXCLUDES(mutex_) {
        plat::lockcheck::waitPoint(plat::Wait::HandOver);   // the ram-file thread's write
        plat::Locker<plat::Mutex> lock(mutex_);
        const uint32_t target = handed_;
        while (int32_t(written_ - target) < 0) done_.wait(mutex_);
    }

    void stop() EXCLUDES(mutex_) {
        plat::Locker<plat::Mutex> lock(mutex_);
        stopped_ = true;
    }

    // The stop's own image, written on the caller's thread beside a write of the loop that may
    // be under way: that one (an older copy) is superseded and lands, if at all, before this one.
    bool writeAtStop(const unsigned char* ram) EXCLUDES(mutex_) {
        bool quiet = false;
        {
            plat::Locker<plat::Mutex> lock(mutex_);
            superseded_ = true;
            quiet = written_ == handed_;
        }
        // (read after the flag: an older copy that landed first is seen and written over). Only
        // with the loop quiet is a file that holds the RAM durable: a write under way may have
        // renamed it and not yet flushed the folder, which this write's own flush covers.
        if (quiet && VlxRamPara::ramFileHolds(ram)) return true;
        return VlxRamPara::saveRamFile(ram, [this](plat::StagedFile& staged) {
            plat::Locker<plat::Mutex> lock(mutex_);
            return staged.renameOver();
        });
    }

    bool owed() EXCLUDES(mutex_) {
        plat::Locker<plat::Mutex> lock(mutex_);
        return owed_;
    }

    void forget() EXCLUDES(mutex_) {
        flush();
        plat::Locker<plat::Mutex> lock(mutex_);
        owed_ = false;
        stopped_ = false;
        superseded_ = false;
    }

private:
    void loop() EXCLUDES(mutex_) {
        plat::nameThisThread("ram-file");
        unsigned char copy[kRamSize];
        for (;;) {
            uint32_t taken = 0;
            {
                plat::Locker<plat::Mutex> lock(mutex_);
                while (written_ == handed_) wake_.wait(mutex_);
                std::memcpy(copy, pending_, kRamSize);
                taken = handed_;
            }
            // A copy still under way when the stop writes its own lands only before the stop's.
            const bool ok = VlxRamPara::saveRamFile(copy, [this](plat::StagedFile& staged) {
                plat::Locker<plat::Mutex> lock(mutex_);
                if (!superseded_) return staged.renameOver();
                staged.discard();
                return true;
            });
            Utils::system_mutex(QStringLiteral("sync"));
            {
                plat::Locker<plat::Mutex> lock(mutex_);
                written_ = taken;
                // a newer copy that waits is written whole: nothing is owed until it fails too
                owed_ = !ok && written_ == handed_;
            }
            done_.notify_all();
        }
    }

    plat::Mutex mutex_{plat::Lock::RamFileWriter};
    plat::CondVar wake_;  // a copy was handed over
    plat::CondVar done_;  // a write ended
    unsigned char pending_[kRamSize] GUARDED_BY(mutex_);
    uint32_t handed_ GUARDED_BY(mutex_) = 0;   // copies handed over
    uint32_t written_ GUARDED_BY(mutex_) = 0;  // handed_ as the last write ended took it
    bool owed_ GUARDED_BY(mutex_) = false;
    bool started_ GUARDED_BY(mutex_) = false;
    bool stopped_ GUARDED_BY(mutex_) = false;  // the stop's save has begun
    bool superseded_ GUARDED_BY(mutex_) = false;  // the stop writes its own image: no copy of the loop lands
};

// Never freed: the thread outlives the statics at exit. A child forked without exec (the
// power-cut tests' savers) has no thread of the parent's writer, and gets a writer of its own.
Writer& writer() {
    struct Owner {
        Writer* writer;
        pid_t pid;
    };
    static Owner owner{new Writer, ::getpid()};
    if (owner.pid != ::getpid()) owner = {new Writer, ::getpid()};
    return *owner.writer;
}

}  // namespace

bool RamFileWriter::saveAtStop(const unsigned char* ram) {
    writer().stop();
    if (ram) return writer().writeAtStop(ram);
    writer().flush();
    return false;
}

void RamFileWriter::save(const unsigned char* ram) { writer().save(ram); }
void RamFileWriter::flush() { writer().flush(); }
bool RamFileWriter::owed() { return writer().owed(); }
void RamFileWriter::resetForTest() { writer().forget(); }
