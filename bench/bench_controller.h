#pragma once
// The controller program on the simulated board, started as ./run.sh starts it (offscreen,
// a fresh root under TMPDIR), for the benchmarks that measure it from outside. It gets this
// program's environment without its VLX_* variables, except the control ports' offset.
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"

extern char** environ;

namespace benchctl {

// "read memory" (group 0x61) of 2 bytes at 0x880 from the PC (0xF010) to the controller
// (0xF100), in its line framing (docs/protocol.md): what vlx_client.py read-mem 0x880 2 sends.
inline const std::vector<uint8_t> kRegisterReadLine = {0xA5, 0xA5, 0xA5, 0x00, 0xF1, 0x10, 0xF0, 0x06, 0x00, 0x00, 0x00,
                                                       0x00, 0x61, 0x80, 0x08, 0x00, 0x00, 0x02, 0x00, 0xFC, 0x5A};

// True once the controller's TCP port answers `line` within 200 ms.
inline bool answers(int port, const std::vector<uint8_t>& line) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    timeval tv{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())) {
        uint8_t reply[256];
        ok = ::recv(fd, reply, sizeof reply, 0) > 0;
    }
    ::close(fd);
    return ok;
}

// One line to the simulated board's control socket under `root`, its answer without the line end.
inline std::string boardCommand(const std::string& root, const std::string& line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = root + "/run/board.sock";
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    std::string answer;
    const std::string out = line + "\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == ssize_t(out.size())) {
        char c;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
    }
    ::close(fd);
    return answer;
}

class Controller {
public:
    using Clock = std::chrono::steady_clock;

    // Starts `program` with its root "<TMPDIR>/vlx-<what>-XXXXXX"; false (said on stderr) when it cannot.
    bool start(const char* program, const char* what, int portOffset) {
        offset_ = portOffset;
        root_ = benchenv::tempRoot(what);
        launched_ = Clock::now();
        return spawn(program, &pid_);
    }
    // The floor of the launch: seconds from launching `program` once more on the running one's
    // root to its end. It loads every library and runs its static set-up as the controller does,
    // then stops at the root's lock. -1 when it cannot be started.
    double refusedLaunchSeconds(const char* program) {
        pid_t second = -1;
        const auto t0 = Clock::now();
        if (!spawn(program, &second)) return -1;
        ::waitpid(second, nullptr, 0);
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
    // Seconds from the launch to the first answer to the register read on the TCP port;
    // -1 (said on stderr) when none came within 60 s or the program ended.
    double waitForAnswer() {
        while (Clock::now() - launched_ < std::chrono::seconds(60)) {
            if (answers(tcpPort(), kRegisterReadLine)) return std::chrono::duration<double>(Clock::now() - launched_).count();
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                std::fprintf(stderr, "the controller ended during its start\n");
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::fprintf(stderr, "no answer on TCP port %d within 60 s\n", tcpPort());
        return -1;
    }
    // Ends the program and removes its root.
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    pid_t pid() const { return pid_; }
    const std::string& root() const { return root_; }
    // One more variable of the program's environment ("VLX_SIM_SIGNALS=..."), before start().
    void addEnv(const std::string& assignment) { extra_.push_back(assignment); }
    int tcpPort() const { return 5005 + offset_; }
    int udpPort() const { return 5008 + offset_; }

private:
    bool spawn(const char* program, pid_t* pid) {
        std::vector<std::string> env = {"VLX_BOARD=sim", "VLX_ROOT=" + root_, "QT_QPA_PLATFORM=offscreen",
                                        "VLX_PORT_OFFSET=" + std::to_string(offset_)};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "VLX_", 4) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.push_back(*e);
        env.insert(env.end(), extra_.begin(), extra_.end());
        std::vector<char*> envp;
        for (auto& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        char* args[] = {const_cast<char*>(program), nullptr};
        posix_spawn_file_actions_t quiet;
        ::posix_spawn_file_actions_init(&quiet);
        ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        const int rc = ::posix_spawn(pid, program, &quiet, nullptr, args, envp.data());
        ::posix_spawn_file_actions_destroy(&quiet);
        if (rc != 0) {
            std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(rc));
            *pid = -1;
            return false;
        }
        return true;
    }

    pid_t pid_ = -1;
    int offset_ = 0;
    std::string root_;
    std::vector<std::string> extra_;
    Clock::time_point launched_;
};

}  // namespace benchctl
