#pragma once
// The program's last save, once no link answers (app/stop_signals.h), and the one place that
// orders it. What a PC was answered "done" for goes first:
//   1. the RAM into the parameter file, one write on the stop's own thread that waits for no
//      other file's (an older copy under way is superseded); a user-mode save asked at RAM
//      0x364 and not yet carried out is served in that copy (0x364 cleared, the mode made
//      current), and the manage mutex is waited for at most kRamWaitMs;
//   2. the user-mode files owed: that save's mode and the files register 11 bit 2 asked for and
//      not yet written, all in one write of the pending file whatever their number; the next
//      start carries them into the mode files before anything reads those.
// No deadline drops a file: where one write of the parameter file fits in a supervisor's grace
// the change is kept, and the modes too when both writes fit.
namespace stop_save {

// How long step 1 waits for the manage mutex (a panel held inside its own change keeps it).
constexpr int kRamWaitMs = 500;

// The last save. Runs on the thread that then ends the program; one run per program.
void run();

// The user-mode saves of the change notification, before each file they write or delete: true
// to go on. Once the last save has begun they leave every file to it.
bool mayWriteFile();

}  // namespace stop_save
