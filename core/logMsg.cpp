// The controller's log: one file on the data partition, one entry per call.
#include "core/logMsg.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/global.h"
#include "platform/platform.h"

namespace {

constexpr size_t kMaxEntry = 511;         // longest entry, time stamp included
constexpr long kMaxFileSize = 0xA00000;   // 10 MiB, then the log starts over
const char* const kLogFile = "/data/kavelkv/log/zufEnglneLog";
const char* const kMarker = "# TESKMSG # ";

// Every thread logs; open, append, measure and delete must not interleave,
// or entries are mixed and a writer can append to a file that is being removed.
std::mutex g_logMutex;

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

    char stamp[64] = {0};
    std::time_t now = plat::timeOfDay();
    struct tm local;
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %X]", &local);

    const int lv = static_cast<int>(level);
    std::string entry;
    entry.reserve(kMaxEntry);
    appendCut(entry, stamp);
    appendCut(entry, levelTag(lv));
    appendCut(entry, kMarker);
    appendCut(entry, text);  // a long message loses its tail, line break included

    std::lock_guard<std::mutex> lock(g_logMutex);
    if (echoed(lv, g_debugSwitch.load(std::memory_order_relaxed))) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

    const std::string file = plat::path(kLogFile);
    std::FILE* f = std::fopen(file.c_str(), "ae");  // e: not inherited by shell commands
    if (!f) return;  // no log partition: the entry is lost, nobody to tell
    std::fwrite(entry.data(), 1, entry.size(), f);
    std::fflush(f);
    struct stat st;
    const bool full = ::fstat(fileno(f), &st) == 0 && st.st_size >= kMaxFileSize;
    std::fclose(f);
    if (full) std::remove(file.c_str());
}
