#pragma once
// The program's last save, once no link answers (app/stop_signals.h), and the one place that
// orders it. What a PC was answered "done" for goes first:
//   1. the RAM into the parameter file, whatever that write takes (the manage mutex is waited
//      for at most kRamWaitMs);
//   2. the user-mode save asked at RAM 0x364 and not yet carried out, and then the parameter
//      file once more, with that mode made current;
//   3. the user-mode files register 11 bit 2 asked for and not yet written, slot by slot.
// A file of steps 2 and 3 is begun only while the time left before kDeadlineMs (counted from
// the start of the save) still holds one more write as long as the longest one so far; one
// that does not fit is logged and not written. On slow storage the parameter file is written
// all the same, and the stop ends soon after the deadline instead of after every mode file.
#include <string>

namespace stop_save {

constexpr int kDeadlineMs = 1500;
// How long step 1 waits for the manage mutex (a panel held inside its own change keeps it).
constexpr int kRamWaitMs = 500;

// The last save. Runs on the thread that then ends the program; one run per program.
void run();

// The user-mode bookkeeping, before it writes or deletes the file named `what`: true to go
// on. Before the last save, always; once it has begun, only on its own thread and only
// while the deadline holds the file (else logged). Another thread leaves the file to it.
bool mayWriteFile(const std::string& what);

}  // namespace stop_save
