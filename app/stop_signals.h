#pragma once
// How the controller ends on Ctrl-C, a kill or a hang-up. The handler closes the control
// links (protocol/link_gate.h: no frame is taken and no answer sent from then on) and wakes
// the stop watcher, which asks the GUI thread's event loop to quit ahead of every event
// waiting there and, without waiting for it (a refresh that does not return, the
// notification's own mode files on slow storage), runs the last save (app/stop_save.h: the
// parameter file first, then the user-mode files answered and not yet written, all in one
// more write) and ends the program as the signal's default would, so that a calling shell
// sees it. A GUI thread that leaves its loop without a signal (the display gone) saves and
// ends the same way; one save runs, whichever thread comes first.
class QCoreApplication;

namespace stop_signals {

// Handlers for SIGINT, SIGTERM and SIGHUP (a hang-up ignored by whoever started the program
// stays ignored), before any link opens: a signal during the start closes the links at once
// and is kept for the watcher, not lost (a background job's SIGINT starts ignored) nor the
// end of a program that had answered "done" without its last save.
void installHandlers();
// The watcher's thread (and the handlers, if not yet set); once, with the application made.
void install(QCoreApplication* app);
// The GUI thread, its event loop left with `status`: the last save, then the end (by the
// stop signal when one came); after a signal the watcher does both, and this waits for it.
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
