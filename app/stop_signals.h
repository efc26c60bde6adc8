#pragma once
// How the controller ends on Ctrl-C, a kill or a hang-up. The handler closes the control
// links (protocol/link_gate.h: no frame is taken and no answer sent from then on) and wakes
// the stop watcher, which asks the GUI thread's event loop to quit ahead of every event
// waiting there. The GUI thread, out of its loop, saves the RAM and ends the program
// (endAfterLoop). A GUI thread that has not left its loop kGraceMs after the signal (a
// refresh that does not return, a queue a flood built) does not keep the program: the
// watcher saves the RAM itself and ends it. Either way the parameter file holds every change
// a PC was answered for, a user-mode save or file request answered and not yet carried out
// is carried out first, and the program ends as the signal's default would, so that a
// calling shell sees it.
class QCoreApplication;

namespace stop_signals {

constexpr int kGraceMs = 3000;
// How long the last save waits for the manage mutex, in all, before it keeps the files as they are.
constexpr int kRamWaitMs = 1000;

// Handlers for SIGINT, SIGTERM and SIGHUP (a hang-up ignored by whoever started the program
// stays ignored) and the watcher's thread; once, with the application made.
void install(QCoreApplication* app);
// The GUI thread, its event loop left with `status`: the last save, then the end (by the
// stop signal when one came).
[[noreturn]] void endAfterLoop(int status);
// The end of the program once its workers run. Their threads serve until the process ends,
// so it ends without destroying the objects they use under them; board control is stopped
// first, so that no board command is cut halfway. The first caller ends it; a second one
// (the GUI thread and the watcher) waits for that.
[[noreturn]] void endProgram(int status, int sig = 0);
// For std::atexit: a library that ends the program with exit() (Qt's X11 plugin does, with
// status 1, when its display goes) would run the static destructors under the workers.
extern "C" void endAtExit();

}  // namespace stop_signals
