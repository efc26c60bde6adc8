#pragma once
// Every system() and popen() of the controller goes through this runner.
// On the device it runs /bin/sh; on the simulated board it never starts a host
// process: it records the command, carries out file commands inside the root and
// answers status queries from board state.
#include <memory>
#include <string>
#include <vector>

namespace plat {

class Shell {
public:
    virtual ~Shell() = default;
    // Raw wait status as system() returns it (exit code << 8; 0 = success).
    virtual int system(const std::string& command) = 0;
    // Runs the command and collects its standard output; returns the raw wait status
    // (pclose()), or -1 when the command could not be started.
    virtual int popen(const std::string& command, std::string* output) = 0;
};

Shell& shell();
void resetShell();
// Tests may put a double of their own in place of the runner.
void installShell(std::unique_ptr<Shell> runner);

// True for text that is safe to place unquoted in a command: letters, digits and . _ - : / , + =
// and nothing that a shell would interpret. Callers check every string that came from a
// frame, a file or the front panel before it goes into a command.
bool isShellSafeWord(const std::string& word);
// A dotted-quad IPv4 address, each part 0..255, no leading/trailing junk.
bool isDottedIPv4(const std::string& text);
// Single-quotes a word for /bin/sh (' becomes '\'').
std::string shellQuote(const std::string& word);

}  // namespace plat
