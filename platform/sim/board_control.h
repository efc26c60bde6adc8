#pragma once
// Board-control channel of the simulated board: a Unix stream socket at
// <root>/run/board.sock taking one short text command per line and answering each
// with one line beginning "OK" or "ERR". See docs/board-control.md.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace plat::sim {

// Gets the command's words after its name; returns the answer line. An answer that
// does not begin with "OK" or "ERR" is sent as "OK <answer>".
using BoardCommand = std::function<std::string(const std::vector<std::string>& args)>;

// Adds (or replaces) a command. Safe to call at any time, from any thread.
void registerBoardCommand(const std::string& name, const std::string& help, BoardCommand command);

// Runs one command line as the socket would and returns its answer (without newline).
std::string runBoardCommand(const std::string& line);

// Opens the socket, starts its thread and the serial-port bridges
// (<root>/run/ttyS1.peer, ttyS2.peer). False, with a message on stderr, when it cannot.
bool startBoardControl();
// At most this many clients at once; one more is answered "ERR too many
// board-control connections" and closed.
constexpr size_t kBoardControlMaxClients = 16;
// A connection with no traffic either way for this long is closed.
constexpr long kBoardControlIdleTimeoutMs = 10 * 60 * 1000;
// Tests shorten the idle time-out; 0 or less restores the default.
void setBoardControlIdleTimeout(long ms);
// Stops the thread and removes the socket (the tests, and the program before it ends).
void stopBoardControl();
// Host path of the socket.
std::string boardControlSocketPath();
// The SoC chip ids at power-up, before the device id is derived from them: those of
// VLX_SIM_CHIPID ("X Y Z", hexadecimal) when set, else the ones the last `chipid` command
// kept under the root (<root>/sim/chipid). Returns the line for the log.
std::string applyStartChipId();

}  // namespace plat::sim
