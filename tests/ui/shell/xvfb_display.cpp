#include "xvfb_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace shelltest {

namespace {

constexpr const char* kServer = "Xvfb";
// Xvfb writes its display number to -displayfd once it accepts connections.
constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 3000;

std::string findInPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string();
}

}  // namespace

bool XvfbDisplay::installed() { return !findInPath(kServer).empty(); }

XvfbDisplay::XvfbDisplay(int width, int height) {
    const std::string server = findInPath(kServer);
    if (server.empty()) {
        error_ = "Xvfb is not installed";
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "no pipe for the display number";
        return;
    }
    const std::string fd = std::to_string(fds[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> args = {server, "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp", "-terminate"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // its chatter about missing keyboard files is not ours to show
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, server.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        pid_ = -1;
        close(fds[0]);
        error_ = "Xvfb did not start";
        return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, kStartTimeoutMs) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        error_ = "Xvfb gave no display number";
        return;
    }
    name_ = ":" + number;
}

XvfbDisplay::~XvfbDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    // a server too busy to finish its shutdown must not hold the test run
    for (int waited = 0; waited < kStopTimeoutMs; waited += 10) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) return;
        usleep(10 * 1000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
}

}  // namespace shelltest
