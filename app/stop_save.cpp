#include "app/stop_save.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "app/syncupdate.h"
#include "core/logMsg.h"
#include "core/manage_within.h"
#include "core/ram_file_writer.h"
#include "core/vlxrampara.h"

namespace stop_save {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_begun{false};
thread_local bool t_saver = false;   // this thread runs the last save
// The saver's own (its thread alone reads and writes them)
Clock::time_point g_deadline;
Clock::time_point g_mark;            // the start of the write under way
Clock::duration g_longest{};         // the longest write so far

long long msLeft() {
    return std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(g_deadline - Clock::now()).count());
}

// The RAM under the manage mutex, waited for at most waitMs: a GUI thread stuck inside its own
// change may hold it for ever.
bool copyRamWithin(unsigned char* out, int waitMs) {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    if (!p) return false;
    ManageMutexWithin lock(waitMs);
    if (!lock.held()) return false;
    p->copyRam(0, vlxram::kRamSize, out);
    return true;
}

}  // namespace

bool mayWriteFile(const std::string& what) {
    if (!g_begun) return true;
    if (!t_saver) return false;
    const auto now = Clock::now();
    g_longest = std::max(g_longest, now - g_mark);
    g_mark = now;
    if (now + g_longest <= g_deadline) return true;
    writeLogMsg(LOG_ERROR, what + " not written at the stop: past its " + std::to_string(kDeadlineMs) +
                               " ms deadline, the parameter file written first");
    return false;
}

void run() {
    if (g_begun.exchange(true)) return;
    t_saver = true;
    const auto start = Clock::now();
    g_deadline = start + std::chrono::milliseconds(kDeadlineMs);
    unsigned char ram[vlxram::kRamSize];
    const bool ramHeld = copyRamWithin(ram, kRamWaitMs);
    g_mark = Clock::now();
    if (ramHeld) {
        RamFileWriter::saveAtStop(ram);
    } else {
        RamFileWriter::saveAtStop(nullptr);
        writeLogMsg(LOG_ERROR, "the RAM was held past " + std::to_string(kRamWaitMs) +
                                   " ms at the stop: the parameter file keeps its last save, a user-mode save "
                                   "asked at RAM 0x364 is not looked at");
    }
    const bool saved = VlxRamPara::p_vlxrampara_config && ramHeld &&
                       SyncUpdate::keepModeSaveAtStop(int(std::min<long long>(kRamWaitMs, msLeft())));
    // the mode made current, in the file beside the mode's
    if (saved && copyRamWithin(ram, int(std::min<long long>(kRamWaitMs, msLeft()))) &&
        !VlxRamPara::ramFileHolds(ram) && mayWriteFile("the parameter file with the saved user mode made current"))
        RamFileWriter::saveAtStop(ram);
    if (VlxRamPara::p_vlxrampara_config) SyncUpdate::keepModeFilesAtStop();
    writeLogMsg(LOG_INFO, "the last save took " +
                              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 Clock::now() - start).count()) + " ms");
}

}  // namespace stop_save
