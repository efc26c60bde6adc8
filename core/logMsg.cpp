// The controller's log: one file on the data partition, one entry per call.
#include "core/logMsg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/global.h"
#include "platform/annotated_mutex.h"
#include "platform/fd_io.h"
#include "platform/platform.h"

namespace {

constexpr size_t kMaxEntry = 511;         // longest entry, time stamp included
constexpr int64_t kMaxFileSize = 0xA00000;   // 10 MiB, then the log starts over
const char* const kLogFile = "/data/kavelkv/log/zufEnglneLog";
const char* const kMarker = "# TESKMSG # ";

// Every thread logs; open, append, measure and delete must not interleave,
// or entries are mixed and a writer can append to a file that is being removed.
plat::Mutex g_logMutex{plat::Lock::Log};

// Entries not yet in the file (guarded by g_logMutex), at most kMaxUnwritten bytes.
constexpr size_t kMaxUnwritten = 16 * 1024;
std::string g_unwritten;

const char* levelTag(int level) {
    switch (level) {
    case LOG_CRITICAL: return " [ENGINEASSEMBLY] [CRITICAL] ";
    case LOG_ERROR:    return " [ENGINEASSEMBLY] [ERROR   ] ";
    case LOG_WARNING:  return " [ENGINEASSEMBLY] [WARNING ] ";
    case LOG_INFO:     return " [ENGINEASSEMBLY] [INFO    ] ";
    case LOG_DEBUG:    return " [ENGINEASSEMBLY] [DEBUG   ] ";
    default:           return "";
    }
}

bool echoed(int level, unsigned debug) {
    switch (level) {
    case LOG_ERROR:   return debug != 0;
    case LOG_WARNING:
    case LOG_INFO:    return debug > 2;
    case LOG_DEBUG:   return debug > 3;
    default:          return false;  // critical entries and unknown levels go to the file only
    }
}

void appendCut(std::string& entry, const std::string& part) {
    if (entry.size() >= kMaxEntry) return;
    entry.append(part, 0, kMaxEntry - entry.size());
}

}  // namespace

void writeLogMsg(_LogType level, std::string text) {
    text += "\n";

    // %X would follow the locale the GUI sets up ("04:45:35 PM"); every entry carries the
    // one 24-hour form that "%X" gives in the C locale.
    char stamp[64] = {0};
    std::time_t now = plat::timeOfDay();
    struct tm local;
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S]", &local);

    const int lv = static_cast<int>(level);
    std::string entry;
    entry.reserve(kMaxEntry);
    appendCut(entry, stamp);
    appendCut(entry, levelTag(lv));
    appendCut(entry, kMarker);
    appendCut(entry, text);  // a long message loses its tail, line break included

    std::lock_guard<plat::Mutex> lock(g_logMutex);
    if (echoed(lv, g_debugSwitch.load(std::memory_order_relaxed))) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

    const std::string file = plat::path(kLogFile);
    // Entries a full data partition kept out wait here and go first once there is room.
    std::string pending = g_unwritten + entry;
    int64_t size = 0;
    if (!plat::appendToFile(file, pending.data(), pending.size(), &size)) {
        int why = errno;
        // A link in the log's place is taken away (not what it points to) and the log
        // starts anew.
        struct stat st;
        const bool link = ::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
                          plat::folderInsideRoot(file.substr(0, file.rfind('/'))) && ::unlink(file.c_str()) == 0;
        if (!link || !plat::appendToFile(file, pending.data(), pending.size(), &size)) {
            // No room (the log shares the data partition): standard error has it now, the
            // file once there is room. Without a log folder the entry is lost.
            if (link) why = errno;
            if (why == ENOSPC || why == EFBIG || why == EDQUOT) {
                std::fwrite(entry.data(), 1, entry.size(), stderr);
                std::fflush(stderr);
                if (g_unwritten.size() + entry.size() <= kMaxUnwritten) g_unwritten += entry;
            }
            return;
        }
    }
    g_unwritten.clear();
    if (size >= kMaxFileSize) std::remove(file.c_str());
}
