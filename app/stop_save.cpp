#include "app/stop_save.h"

#include <atomic>
#include <chrono>
#include <vector>

#include "app/syncupdate.h"
#include "core/logMsg.h"
#include "core/manage_within.h"
#include "core/ram_file_writer.h"
#include "core/vlxrampara.h"

namespace stop_save {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_begun{false};

// The RAM and the save requests' count under the manage mutex, waited for at most waitMs: a
// GUI thread stuck inside its own change may hold it for ever.
bool copyRamWithin(unsigned char* out, uint32_t* requests, int waitMs) {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    if (!p) return false;
    ManageMutexWithin lock(waitMs);
    if (!lock.held()) return false;
    p->copyRam(0, vlxram::kRamSize, out);
    *requests = p->mode_save_requests;
    return true;
}

}  // namespace

bool mayWriteFile() { return !g_begun; }

void run() {
    if (g_begun.exchange(true)) return;
    const auto start = Clock::now();
    unsigned char ram[vlxram::kRamSize];
    uint32_t requests = 0;
    std::vector<VlxRamPara::OwedMode> owed;
    const bool ramHeld = copyRamWithin(ram, &requests, kRamWaitMs);
    if (ramHeld) {
        SyncUpdate::serveModeSaveAtStop(ram, requests, &owed);
        RamFileWriter::saveAtStop(ram);
    } else {
        RamFileWriter::saveAtStop(nullptr);
        writeLogMsg(LOG_ERROR, "the RAM was held past " + std::to_string(kRamWaitMs) +
                                   " ms at the stop: the parameter file keeps its last save, a user-mode save "
                                   "asked at RAM 0x364 is not looked at");
    }
    // after the parameter file: a notification's bookkeeping turned away meanwhile is in it
    if (VlxRamPara::p_vlxrampara_config) SyncUpdate::owedModeFilesAtStop(&owed);
    VlxRamPara::writeOwedModes(owed);
    writeLogMsg(LOG_INFO, "the last save took " +
                              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 Clock::now() - start).count()) + " ms, " +
                              std::to_string(owed.size()) + " user-mode files owed");
}

}  // namespace stop_save
