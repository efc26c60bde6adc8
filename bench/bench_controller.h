#pragma once
// The controller program on the simulated board, started as ./run.sh starts it (offscreen,
// a fresh root under TMPDIR), for the benchmarks that measure it from outside. It gets this
// program's environment without its VLX_* variables, except the control ports' offset. Its
// figures are its own only when the answers are: a program already on its control ports (a
// test's controller, anything listening there) ends the benchmark with an error naming it.
#include <arpa/inet.h>
#include <dirent.h>
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
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "protocol/control_frame.h"
#include "protocol/control_link.h"
#include "protocol/protocol_phy.h"

extern char** environ;

namespace benchctl {

// "read memory" (group 0x61) of 2 bytes at 0x880 from the PC (0xF010) to the controller
// (0xF100), in its line framing (docs/protocol.md): what vlx_client.py read-mem 0x880 2 sends.
inline const std::vector<uint8_t> kRegisterReadLine = {0xA5, 0xA5, 0xA5, 0x00, 0xF1, 0x10, 0xF0, 0x06, 0x00, 0x00, 0x00,
                                                       0x00, 0x61, 0x80, 0x08, 0x00, 0x00, 0x02, 0x00, 0xFC, 0x5A};

// What a TCP port said to a request line within 200 ms.
enum class Answer {
    Refused,   // no connection: nothing listens there (yet)
    Silent,    // connected, no byte
    Reply,     // the controller's reply to it: a whole frame (good BCC) from the controller to the PC, same group
    Foreign,   // bytes that are no such reply (an echo, another protocol)
};

inline Answer ask(int port, const std::vector<uint8_t>& line) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Answer answer = Answer::Refused;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        answer = Answer::Silent;
        std::vector<uint8_t> frame;
        std::vector<uint8_t> request(line.size());
        const int requestLength = protocol_phy::data_transf_meaning(line.data(), line.size(), request.data(), request.size());
        frame_deframer deframer(ctl::kMaxFrame);
        uint8_t buf[4096];
        ssize_t n = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);   // a peer that streams
        if (requestLength > int(ctl::kGroup) && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()))
            while (frame.empty() && std::chrono::steady_clock::now() < until && (n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
                answer = Answer::Foreign;   // until a whole frame says otherwise
                deframer.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) { frame.assign(f, f + len); });
            }
        if (!frame.empty() && control_link::wholeFrame(frame.data(), frame.size()) &&
            ctl::rd16(frame.data() + ctl::kSrc) == ctl::rd16(request.data() + ctl::kDst) &&
            ctl::rd16(frame.data() + ctl::kDst) == ctl::rd16(request.data() + ctl::kSrc) &&
            frame[ctl::kGroup] == request[ctl::kGroup])
            answer = Answer::Reply;
    }
    ::close(fd);
    return answer;
}

// True when the controller's TCP port answers `line` with its reply within 200 ms.
inline bool answers(int port, const std::vector<uint8_t>& line) { return ask(port, line) == Answer::Reply; }

// The inodes of the sockets process `pid` holds open.
inline std::set<unsigned long> socketsOf(pid_t pid) {
    std::set<unsigned long> out;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    char target[64];
    while (dirent* e = ::readdir(d)) {
        const ssize_t n = ::readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
        unsigned long inode = 0;
        if (n > 0 && (target[n] = '\0', std::sscanf(target, "socket:[%lu]", &inode) == 1)) out.insert(inode);
    }
    ::closedir(d);
    return out;
}

// The inodes of the sockets bound to local `port` in the kernel's tables ("tcp", "tcp6",
// "udp", "udp6" under /proc/net), those in state `state` only when it is not 0 (0x0A: listening).
inline std::vector<unsigned long> boundTo(const char* table, int port, unsigned state) {
    std::vector<unsigned long> out;
    std::FILE* f = std::fopen((std::string("/proc/net/") + table).c_str(), "r");
    if (!f) return out;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        unsigned localPort = 0, st = 0;
        unsigned long inode = 0;
        // "sl: local:port remote:port st tx:rx tr:when retrnsmt uid timeout inode ..."
        if (std::sscanf(line, " %*u: %*[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%*x %x %*x:%*x %*x:%*x %*x %*u %*u %lu", &localPort,
                        &st, &inode) == 3 &&
            int(localPort) == port && (state == 0 || st == state))
            out.push_back(inode);
    }
    std::fclose(f);
    return out;
}

// "pid N (name)" of a process holding socket `inode`, "an unknown program" when none is found.
inline std::string holderOf(unsigned long inode) {
    DIR* d = ::opendir("/proc");
    std::string who = "an unknown program";
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0 || !socketsOf(pid).count(inode)) continue;
        char name[64] = "?";
        if (std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r")) {
            if (std::fscanf(comm, "%63s", name) != 1) name[0] = '\0';
            std::fclose(comm);
        }
        who = "pid " + std::to_string(pid) + " (" + name + ")";
        break;
    }
    if (d) ::closedir(d);
    return who;
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
    // Seconds from the launch to the first reply to the register read on the TCP port, once
    // that port listens in this program's controller and no other program holds its UDP port;
    // -1 (said on stderr, the controller ended) when another program answers or holds a port,
    // when none came within 60 s or when the controller ended.
    double waitForAnswer() {
        while (Clock::now() - launched_ < std::chrono::seconds(60)) {
            const Answer a = ask(tcpPort(), kRegisterReadLine);
            if (a != Answer::Refused) {
                const std::string taken = portsTakenByOthers();
                if (!taken.empty()) return fail(taken + ": not the controller this benchmark started (pid " +
                                                std::to_string(pid_) + "); choose another VLX_PORT_OFFSET");
                if (a == Answer::Foreign)
                    return fail("TCP port " + std::to_string(tcpPort()) + " answered the register read with no reply of a controller");
                if (a == Answer::Reply) return std::chrono::duration<double>(Clock::now() - launched_).count();
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return fail("the controller ended during its start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return fail("no answer on TCP port " + std::to_string(tcpPort()) + " within 60 s");
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
    // Each socket on the control ports that this program's controller does not hold, as
    // "TCP port N is held by pid M (name)"; empty when there is none (TCP: its listener).
    std::string portsTakenByOthers() const {
        const std::set<unsigned long> own = socketsOf(pid_);
        std::string out;
        const auto check = [&](const char* what, int port, const char* table, unsigned state) {
            for (unsigned long inode : boundTo(table, port, state))
                if (!own.count(inode)) {
                    out += (out.empty() ? "" : ", ") + std::string(what) + " port " + std::to_string(port) + " is held by " +
                           holderOf(inode);
                    return;
                }
        };
        check("TCP", tcpPort(), "tcp", 0x0A);
        check("TCP", tcpPort(), "tcp6", 0x0A);
        check("UDP", udpPort(), "udp", 0);
        check("UDP", udpPort(), "udp6", 0);
        return out;
    }
    double fail(const std::string& why) {
        std::fprintf(stderr, "%s\n", why.c_str());
        stop();
        return -1;
    }
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
