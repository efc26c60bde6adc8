#pragma once
// Shell runner of the simulated board. It never starts a host process. Every command
// is recorded (in memory and appended to <root>/run/shell.log); the file commands
// rm, cp, mv, chmod, mkdir act inside the root; sync and chattr do nothing; status
// queries are answered by handlers; "reboot" goes to the reboot hook. A command with
// shell syntax beyond plain words (; | & ` $( < > newline ...) or a NUL byte is recorded
// and refused. A file command that fails in any way reports a failed status.
//
// Statuses are raw wait statuses: kShellOk 0, kShellFailed 256 (exit 1),
// kShellNotFound 127 << 8 (unknown command).
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/sim/sim_board.h"

namespace plat::sim {

// The commands kept in memory for commands(): the newest, within this many bytes.
constexpr size_t kCommandLogBytes = 256 * 1024;

class SimShell final : public Shell {
public:
    // Answers a command: returns the raw status and may fill `output` (popen).
    // `words` are the command's words with quotes removed and harmless trailing
    // redirections ("&>/dev/null", ">/dev/null", "2>&1", "2>/dev/null") dropped.
    using Handler = std::function<int(const std::vector<std::string>& words, std::string& output)>;

    SimShell();
    int system(const std::string& command) override;
    int popen(const std::string& command, std::string* output) override;

    // Every command in order, exactly as given (refused ones included).
    std::vector<std::string> commands() const;
    void clearCommands();

    // Handlers match whole leading words ("ifconfig eth0" matches "ifconfig eth0 &>/dev/null"
    // and "ifconfig  eth0 1.2.3.4 ..."); the longest match wins, a later one replaces an
    // equal prefix. They come before the built-in answers (file commands included).
    void addHandler(const std::string& prefix, Handler handler);
    void setResult(const std::string& prefix, int status, const std::string& output = std::string());
    void removeHandler(const std::string& prefix);

    // Called for "reboot" (after recording it). The default one, used by the program,
    // logs the reboot to <root>/run/shell.log and ends the process with status 42.
    void setRebootHook(std::function<void()> hook);
    int reboots() const;

private:
    struct Entry {
        std::vector<std::string> prefix;
        Handler handler;
    };
    int run(const std::string& command, std::string* output);
    int dispatch(const std::string& command, std::string* output);
    void record(const std::string& command);

    mutable std::mutex mutex_;
    ByteLog<std::string> commands_{inspectionLogBudget(kCommandLogBytes)};  // the file keeps every one
    std::vector<Entry> handlers_;
    std::function<void()> rebootHook_;
    int reboots_ = 0;
};

// The shell runner in force when it is the simulated one; nullptr otherwise.
SimShell* simShell();

// Parsing shared with tests: splits a command into words the way /bin/sh would for
// plain words and quotes, or returns false when it holds anything a shell would
// interpret. `stdoutDiscarded` tells whether a trailing redirection sent output away.
bool splitShellWords(const std::string& command, std::vector<std::string>* words, bool* stdoutDiscarded);

}  // namespace plat::sim
