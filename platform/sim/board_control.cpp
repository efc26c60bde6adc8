#include "platform/sim/board_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_file_system.h"
#include "platform/sim/sim_shell.h"

namespace plat::sim {

namespace {

struct Command {
    std::string help;
    BoardCommand run;
};

std::mutex g_tableMutex;
std::mutex g_runMutex;  // one command at a time changes the board

std::map<std::string, Command>& table() {
    static std::map<std::string, Command> t;
    return t;
}

std::vector<std::string> splitBlanks(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool parseInt(const std::string& s, int base, long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, base);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

// The SoC chip ids the board powers up with, kept under the root like the chip stores.
constexpr const char* kChipIdFile = "/sim/chipid";

// "X Y Z": three 16-bit hexadecimal numbers.
bool parseChipId(const std::vector<std::string>& a, uint16_t id[3], std::string* error) {
    if (a.size() != 3) {
        *error = "usage: chipid X Y Z";
        return false;
    }
    for (size_t i = 0; i < 3; ++i) {
        long v = 0;
        if (!parseInt(a[i], 16, &v) || v < 0 || v > 0xFFFF) {
            *error = "values are 16-bit hex numbers";
            return false;
        }
        id[i] = static_cast<uint16_t>(v);
    }
    return true;
}

std::string chipIdText(const uint16_t id[3]) {
    char b[24];
    std::snprintf(b, sizeof b, "%04X %04X %04X", unsigned(id[0]), unsigned(id[1]), unsigned(id[2]));
    return b;
}

void registerBuiltIns() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto add = [](const char* name, const char* help, BoardCommand fn) {
            table()[name] = Command{help, std::move(fn)};
        };
        add("help", "help: lists the commands", [](const std::vector<std::string>&) {
            std::lock_guard<std::mutex> l(g_tableMutex);
            std::string out = "OK";
            for (const auto& [name, c] : table()) out += (out == "OK" ? " " : "; ") + c.help;
            return out;
        });
        add("shell-log", "shell-log [N]: the last N shell commands (10), joined by ' | '",
            [](const std::vector<std::string>& a) -> std::string {
                long n = 10;
                if (!a.empty() && (!parseInt(a[0], 10, &n) || n < 1)) return "ERR count must be a positive number";
                SimShell* sh = simShell();
                if (!sh) return "ERR the shell runner is not the simulated one";
                auto cmds = sh->commands();
                size_t from = cmds.size() > static_cast<size_t>(n) ? cmds.size() - static_cast<size_t>(n) : 0;
                std::string out = "OK " + std::to_string(cmds.size() - from);
                for (size_t i = from; i < cmds.size(); ++i) out += (i == from ? ": " : " | ") + cmds[i];
                return out;
            });
        add("touch", "touch X Y: a press and release on the touch panel",
            [](const std::vector<std::string>& a) -> std::string {
                long x, y;
                if (a.size() != 2 || !parseInt(a[0], 10, &x) || !parseInt(a[1], 10, &y) || x < 0 || y < 0 ||
                    x > 65535 || y > 65535)
                    return "ERR usage: touch X Y";
                board().queueTouch(static_cast<int>(x), static_cast<int>(y));
                return "OK";
            });
        add("uevent", "uevent ACTION@DEVPATH [KEY=VALUE...]: a kernel uevent",
            [](const std::vector<std::string>& a) -> std::string {
                const size_t at = a.empty() ? std::string::npos : a[0].find('@');
                if (at == std::string::npos || at == 0 || at + 1 >= a[0].size()) return "ERR usage: uevent ACTION@DEVPATH [KEY=VALUE...]";
                std::vector<std::string> env(a.begin() + 1, a.end());
                board().queueUevent(SimBoard::ueventMessage(a[0].substr(0, at), a[0].substr(at + 1), env));
                return "OK";
            });
        add("usb", "usb insert|remove: plug or pull the USB stick",
            [](const std::vector<std::string>& a) -> std::string {
                std::string err;
                if (a.size() == 1 && a[0] == "insert") return board().usbInsert(&err) ? "OK" : "ERR " + err;
                if (a.size() == 1 && a[0] == "remove") return board().usbRemove(&err) ? "OK" : "ERR " + err;
                return "ERR usage: usb insert|remove";
            });
        add("fsync", "fsync [MS]: every fsync of a file or folder takes MS more milliseconds (slow storage)",
            [](const std::vector<std::string>& a) -> std::string {
                SimFileSystem* fs = simFileSystem();
                if (!fs) return "ERR the file system is not the simulated one";
                long ms = 0;
                if (a.size() > 1 || (a.size() == 1 && (!parseInt(a[0], 10, &ms) || ms < 0 || ms > 60000)))
                    return "ERR usage: fsync [MS], 0..60000";
                if (a.size() == 1) fs->setFsyncDelay(int(ms));
                return "OK " + std::to_string(fs->fsyncDelay());
            });
        add("chipid", "chipid X Y Z: the SoC chip-id registers (hex), kept with the root",
            [](const std::vector<std::string>& a) -> std::string {
                uint16_t id[3];
                std::string error;
                if (!parseChipId(a, id, &error)) return "ERR " + error;
                board().setChipId(id[0], id[1], id[2]);
                const std::string file = plat::path(kChipIdFile);
                if (!plat::makeDirs("/sim") || !plat::replaceFileAtomically(file, chipIdText(id) + "\n"))
                    return "ERR set, but not kept for the next start: " + file + " cannot be written";
                return "OK";
            });
    });
}

// ---- socket server ----
//
// One thread serves every client. Sockets are non-blocking both ways: answers wait in a
// per-client buffer and go out as the client reads them, so a client that sends and never
// reads stalls nobody but itself, and is dropped once its unread answers pass the limit.

constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxUnreadAnswers = 64 * 1024;

std::mutex g_serverMutex;
std::thread g_server;
int g_listen = -1;
int g_stop[2] = {-1, -1};
std::atomic<long> g_idleMs{kBoardControlIdleTimeoutMs};

using Clock = std::chrono::steady_clock;

struct Client {
    std::string in;
    std::string out;
    Clock::time_point lastActive;
    bool closing = false;  // close once `out` has gone (after a refusal)
};

// Sends what the socket takes now; false when the client is gone.
bool flush(int fd, Client& c) {
    while (!c.out.empty()) {
        ssize_t n = ::send(fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.out.erase(0, static_cast<size_t>(n));
        c.lastActive = Clock::now();
    }
    return true;
}

// Reads what is there and answers every whole line; false when the client is to go.
bool receive(int fd, Client& c) {
    char chunk[512];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.lastActive = Clock::now();
    c.in.append(chunk, static_cast<size_t>(n));
    size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        c.out += runBoardCommand(line) + "\n";
    }
    if (c.in.size() > kMaxLine) {  // no line end in sight: not a board-control client
        c.in.clear();
        c.out += "ERR line too long\n";
        c.closing = true;
    }
    return true;
}

void serve() {
    std::map<int, Client> clients;
    std::vector<pollfd> pfd;
    for (;;) {
        const auto idle = std::chrono::milliseconds(g_idleMs.load());
        const Clock::time_point now = Clock::now();
        int timeoutMs = -1;
        for (auto it = clients.begin(); it != clients.end();) {
            const auto left = it->second.lastActive + idle - now;
            if (left <= Clock::duration::zero()) {  // forgotten connection: its slot is freed
                ::close(it->first);
                it = clients.erase(it);
                continue;
            }
            const long ms = static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            if (timeoutMs < 0 || ms < timeoutMs) timeoutMs = static_cast<int>(std::min<long>(ms, 60 * 1000));
            ++it;
        }
        pfd.assign({{g_stop[0], POLLIN, 0}, {g_listen, POLLIN, 0}});
        for (const auto& [fd, c] : clients)
            pfd.push_back({fd, static_cast<short>((c.closing ? 0 : POLLIN) | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(pfd.data(), pfd.size(), timeoutMs) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (pfd[0].revents) break;
        if (pfd[1].revents & POLLIN) {
            int fd = ::accept4(g_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && clients.size() >= kBoardControlMaxClients) {
                static const char kFull[] = "ERR too many board-control connections\n";
                (void)!::send(fd, kFull, sizeof kFull - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                ::close(fd);
            } else if (fd >= 0) {
                clients[fd].lastActive = Clock::now();
            }
        }
        for (size_t i = 2; i < pfd.size(); ++i) {
            if (!pfd[i].revents) continue;
            const int fd = pfd[i].fd;
            Client& c = clients[fd];
            bool keep = true;
            if (pfd[i].revents & (POLLIN | POLLHUP | POLLERR)) keep = c.closing || receive(fd, c);
            keep = keep && flush(fd, c);
            // A client that sends and does not read: its answers are not kept without end.
            if (c.out.size() > kMaxUnreadAnswers) keep = false;
            if (c.closing && c.out.empty()) keep = false;
            if (!keep) {
                ::close(fd);
                clients.erase(fd);
            }
        }
    }
    for (auto& [fd, c] : clients) ::close(fd);
}

}  // namespace

void registerBoardCommand(const std::string& name, const std::string& help, BoardCommand command) {
    registerBuiltIns();
    std::lock_guard<std::mutex> l(g_tableMutex);
    table()[name] = Command{help, std::move(command)};
}

std::string runBoardCommand(const std::string& line) {
    registerBuiltIns();
    // A NUL would cut the line short for a C string and split a uevent into extra fields.
    if (line.find('\0') != std::string::npos) return "ERR a command line holds no NUL byte";
    const std::vector<std::string> words = splitBlanks(line);
    if (words.empty()) return "ERR empty command";
    BoardCommand fn;
    {
        std::lock_guard<std::mutex> l(g_tableMutex);
        auto it = table().find(words[0]);
        if (it == table().end()) return "ERR unknown command '" + words[0] + "' (try help)";
        fn = it->second.run;
    }
    std::string answer;
    {
        std::lock_guard<std::mutex> l(g_runMutex);
        answer = fn(std::vector<std::string>(words.begin() + 1, words.end()));
    }
    for (char& c : answer)
        if (c == '\n' || c == '\r') c = ' ';
    if (answer.compare(0, 2, "OK") != 0 && answer.compare(0, 3, "ERR") != 0) answer = "OK " + answer;
    return answer;
}

std::string boardControlSocketPath() { return plat::path("/run/board.sock"); }

bool startBoardControl() {
    std::lock_guard<std::mutex> l(g_serverMutex);
    if (g_server.joinable()) return true;
    registerBuiltIns();
    plat::makeDirs("/run");
    const std::string path = boardControlSocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "board control: socket path too long: %s\n", path.c_str());
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ::unlink(path.c_str());  // left over from the previous run of the controller
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::pipe2(g_stop, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "board control: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        ::close(fd);
        return false;
    }
    g_listen = fd;
    if (!board().startSerialBridges())
        std::fprintf(stderr, "board control: serial ports are not published\n");
    g_server = std::thread([] {
        plat::nameThisThread("board-control");
        serve();
    });
    return true;
}

void setBoardControlIdleTimeout(long ms) { g_idleMs = ms > 0 ? ms : kBoardControlIdleTimeoutMs; }

void stopBoardControl() {
    std::lock_guard<std::mutex> l(g_serverMutex);
    if (!g_server.joinable()) return;
    char c = 1;
    (void)!::write(g_stop[1], &c, 1);
    g_server.join();
    ::close(g_listen);
    ::close(g_stop[0]);
    ::close(g_stop[1]);
    g_listen = g_stop[0] = g_stop[1] = -1;
    ::unlink(boardControlSocketPath().c_str());
}

std::string applyStartChipId() {
    std::string text, from;
    if (const char* env = std::getenv("VLX_SIM_CHIPID")) {
        text = env;
        from = "VLX_SIM_CHIPID";
    } else {
        from = plat::path(kChipIdFile);
        std::string why;
        const plat::FileRead r = plat::readRegularFile(from, 64, plat::Oversize::Refuse, &text, &why);
        if (r == plat::FileRead::Missing) return "chip ids: the board's own";
        if (r != plat::FileRead::Ok) return "chip ids: " + why + "; the board's own kept";
    }
    uint16_t id[3];
    std::string error;
    if (!parseChipId(splitBlanks(text.substr(0, text.find('\n'))), id, &error))
        return "chip ids of " + from + " refused (" + error + "); the board's own kept";
    board().setChipId(id[0], id[1], id[2]);
    return "chip ids " + chipIdText(id) + " from " + from;
}

}  // namespace plat::sim
