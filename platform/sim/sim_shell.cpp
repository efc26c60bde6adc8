#include "platform/sim/sim_shell.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/fd_io.h"
#include "platform/platform.h"
#include "platform/sim/board_clock.h"
#include "platform/sim/sim_backend.h"

namespace fs = std::filesystem;

namespace plat::sim {

namespace {

struct Word {
    std::string text;
    bool glob = false;  // unquoted * ? [ the shell would expand
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void trimRight(std::string* s) {
    while (!s->empty() && isBlank(s->back())) s->pop_back();
}

// Trailing redirections that only silence the command; anything else is refused.
void stripHarmlessRedirections(std::string* s, bool* stdoutDiscarded) {
    static const std::pair<const char*, bool> kForms[] = {
        {"&>/dev/null", true}, {"1>/dev/null", true}, {">/dev/null", true}, {"2>/dev/null", false}, {"2>&1", false}};
    trimRight(s);
    for (bool again = true; again;) {
        again = false;
        for (const auto& [form, discards] : kForms) {
            const std::string f = form;
            if (s->size() > f.size() && s->compare(s->size() - f.size(), f.size(), f) == 0 &&
                isBlank((*s)[s->size() - f.size() - 1])) {
                s->resize(s->size() - f.size());
                trimRight(s);
                if (discards) *stdoutDiscarded = true;
                again = true;
                break;
            }
        }
    }
}

bool splitWords(const std::string& command, std::vector<Word>* words, bool* stdoutDiscarded) {
    words->clear();
    *stdoutDiscarded = false;
    std::string s = command;
    stripHarmlessRedirections(&s, stdoutDiscarded);
    Word cur;
    bool inWord = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (isBlank(c)) {
            if (inWord) words->push_back(cur);
            cur = Word{};
            inWord = false;
            continue;
        }
        if (c == '\'') {
            size_t end = s.find('\'', i + 1);
            if (end == std::string::npos) return false;
            if (s.find('\0', i) < end) return false;
            cur.text.append(s, i + 1, end - i - 1);
            i = end;
            inWord = true;
            continue;
        }
        if (c == '"') {
            size_t end = s.find('"', i + 1);
            if (end == std::string::npos) return false;
            std::string inner = s.substr(i + 1, end - i - 1);
            if (inner.find_first_of("$`\\") != std::string::npos || inner.find('\0') != std::string::npos) return false;
            cur.text += inner;
            i = end;
            inWord = true;
            continue;
        }
        // A NUL would end the path where the system call reads it, after the root check.
        if (c == '\0') return false;
        if (std::string(";|&`$<>()\\\n\r{}").find(c) != std::string::npos) return false;
        if (!inWord && (c == '#' || c == '~')) return false;
        if (c == '*' || c == '?' || c == '[') cur.glob = true;
        cur.text.push_back(c);
        inWord = true;
    }
    if (inWord) words->push_back(cur);
    return true;
}

const std::string& rootCanonical() {
    static thread_local std::string cachedFor, canon;
    if (cachedFor != plat::root()) {
        cachedFor = plat::root();
        std::error_code ec;
        canon = fs::weakly_canonical(cachedFor, ec).string();
    }
    return canon;
}

bool insideRoot(const fs::path& host) {
    std::error_code ec;
    const std::string c = fs::weakly_canonical(host, ec).string();
    const std::string& r = rootCanonical();
    return !ec && !r.empty() && (c == r || (c.size() > r.size() && c.compare(0, r.size(), r) == 0 && c[r.size()] == '/'));
}

// Device path -> host path inside the root. Refused: relative paths, any "..", a root
// of "/" (the host itself), and a parent folder that a symbolic link leads outside.
bool hostPath(const std::string& device, fs::path* host) {
    if (device.empty() || device[0] != '/' || plat::root().empty()) return false;
    for (const auto& part : fs::path(device))
        if (part == "..") return false;
    std::string normal = fs::path(device).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    *host = fs::path(plat::path(normal));
    return insideRoot(host->parent_path());
}

// Expands an unquoted pattern in the last component as the shell would; no match
// leaves the word as it stands.
std::vector<std::string> expand(const Word& w) {
    if (!w.glob) return {w.text};
    const size_t slash = w.text.rfind('/');
    if (slash == std::string::npos) return {w.text};
    const std::string dir = w.text.substr(0, slash + 1), pattern = w.text.substr(slash + 1);
    if (dir.find_first_of("*?[") != std::string::npos) return {w.text};
    fs::path hostDir;
    if (!hostPath(dir == "/" ? "/" : dir.substr(0, dir.size() - 1), &hostDir)) return {w.text};
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(hostDir, ec)) {
        const std::string name = e.path().filename().string();
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0) out.push_back(dir + name);
    }
    std::sort(out.begin(), out.end());
    if (out.empty()) out.push_back(w.text);
    return out;
}

// Splits leading options ("-rf", "-R") from operands; false on an option letter not in `known`.
bool options(const std::vector<Word>& words, const std::string& known, std::string* flags,
             std::vector<std::string>* operands, bool modeFirst = false) {
    bool endOfOptions = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& t = words[i].text;
        const bool looksLikeMode = modeFirst && operands->empty() && t.size() > 1 && t[0] == '-' &&
                                   t.find_first_of("rwxXst") != std::string::npos && t.find_first_of("R") == std::string::npos;
        if (!endOfOptions && t == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && t.size() > 1 && t[0] == '-' && !looksLikeMode) {
            for (size_t k = 1; k < t.size(); ++k) {
                if (known.find(t[k]) == std::string::npos) return false;
                flags->push_back(t[k]);
            }
        } else {
            for (auto& e : expand(words[i])) operands->push_back(e);
        }
    }
    return true;
}

bool has(const std::string& flags, const char* any) { return flags.find_first_of(any) != std::string::npos; }

int doRm(const std::vector<Word>& words) {
    std::string flags;
    std::vector<std::string> ops;
    if (!options(words, "rRfdv", &flags, &ops)) return kShellFailed;
    const bool force = has(flags, "f"), recursive = has(flags, "rR");
    std::vector<fs::path> hosts;
    for (const auto& d : ops) {
        fs::path h;
        if (!hostPath(d, &h) || fs::path(d).lexically_normal() == "/") return kShellFailed;
        hosts.push_back(h);
    }
    if (hosts.empty()) return force ? kShellOk : kShellFailed;
    int status = kShellOk;
    for (const auto& h : hosts) {
        std::error_code ec;
        const auto st = fs::symlink_status(h, ec);
        if (!fs::exists(st)) {
            if (!force) status = kShellFailed;
            continue;
        }
        if (fs::is_directory(st) && !recursive) {
            status = kShellFailed;
            continue;
        }
        if (recursive) fs::remove_all(h, ec);
        else fs::remove(h, ec);
        if (ec) status = kShellFailed;
    }
    return status;
}

// True when `path` is `folder` or lies somewhere below it (links resolved).
bool isSameOrBelow(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const std::string p = fs::weakly_canonical(path, ec).string();
    const std::string f = fs::weakly_canonical(folder, ec).string();
    if (ec || f.empty()) return true;  // cannot tell: refuse
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && (f.back() == '/' || p[f.size()] == '/'));
}

// cp and mv: the last operand is the target; into it when it is a folder.
int doCopyMove(const std::vector<Word>& words, bool move) {
    std::string flags;
    std::vector<std::string> ops;
    if (!options(words, move ? "f" : "rRafpdv", &flags, &ops) || ops.size() < 2) return kShellFailed;
    std::vector<fs::path> hosts;
    for (const auto& d : ops) {
        fs::path h;
        if (!hostPath(d, &h)) return kShellFailed;
        hosts.push_back(h);
    }
    const fs::path dest = hosts.back();
    hosts.pop_back();
    std::error_code ec;
    const bool destIsDir = fs::is_directory(dest, ec);
    if (hosts.size() > 1 && !destIsDir) return kShellFailed;
    // Every source and target is checked before anything moves: a refused command does nothing.
    std::vector<std::pair<fs::path, fs::path>> jobs;
    for (const auto& src : hosts) {
        const fs::path target = destIsDir ? dest / src.filename() : dest;
        if (!insideRoot(target.parent_path()) || (!move && !insideRoot(src))) return kShellFailed;
        // cp and mv refuse a folder into itself; a copy would otherwise recurse until
        // the path is too long.
        if (fs::is_directory(fs::symlink_status(src, ec)) && isSameOrBelow(target, src)) return kShellFailed;
        jobs.emplace_back(src, target);
    }
    int status = kShellOk;
    for (const auto& [src, target] : jobs) {
        const auto st = fs::symlink_status(src, ec);
        if (!fs::exists(st)) {
            status = kShellFailed;
            continue;
        }
        ec.clear();
        if (move) {
            fs::rename(src, target, ec);
        } else if (fs::is_directory(st)) {
            if (!has(flags, "rRa")) {
                status = kShellFailed;
                continue;
            }
            fs::copy(src, target,
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks,
                     ec);
        } else {
            fs::copy_file(src, target, fs::copy_options::overwrite_existing, ec);
        }
        if (ec) status = kShellFailed;
    }
    return status;
}

// Octal, or symbolic [ugoa]*[+-=][rwx]* clauses separated by commas.
bool applyMode(const std::string& mode, fs::perms current, fs::perms* out) {
    if (!mode.empty() && mode.find_first_not_of("01234567") == std::string::npos) {
        if (mode.size() > 4) return false;
        *out = static_cast<fs::perms>(std::stoul(mode, nullptr, 8)) & fs::perms::mask;
        return true;
    }
    unsigned bits = static_cast<unsigned>(current) & 07777;
    size_t i = 0;
    while (i <= mode.size()) {
        unsigned who = 0;
        for (; i < mode.size() && std::string("ugoa").find(mode[i]) != std::string::npos; ++i)
            who |= mode[i] == 'u' ? 04700 : mode[i] == 'g' ? 02070 : mode[i] == 'o' ? 01007 : 07777;
        if (!who) who = 07777;
        if (i >= mode.size() || std::string("+-=").find(mode[i]) == std::string::npos) return false;
        const char op = mode[i++];
        unsigned what = 0;
        for (; i < mode.size() && mode[i] != ','; ++i) {
            switch (mode[i]) {
            case 'r': what |= 0444; break;
            case 'w': what |= 0222; break;
            case 'x': case 'X': what |= 0111; break;
            default: return false;
            }
        }
        what &= who;
        if (op == '+') bits |= what;
        else if (op == '-') bits &= ~what;
        else bits = (bits & ~(who & 0777)) | what;
        if (i == mode.size()) break;
        ++i;
    }
    *out = static_cast<fs::perms>(bits);
    return true;
}

int doChmod(const std::vector<Word>& words) {
    std::string flags;
    std::vector<std::string> ops;
    if (!options(words, "Rfv", &flags, &ops, true) || ops.size() < 2) return kShellFailed;
    const std::string mode = ops.front();
    std::vector<fs::path> hosts;
    for (size_t i = 1; i < ops.size(); ++i) {
        fs::path h;
        if (!hostPath(ops[i], &h)) return kShellFailed;
        hosts.push_back(h);
    }
    int status = kShellOk;
    auto one = [&](const fs::path& p) {
        std::error_code ec;
        fs::perms next;
        const auto st = fs::symlink_status(p, ec);
        if (ec || fs::is_symlink(st)) return;
        if (!applyMode(mode, st.permissions(), &next)) {
            status = kShellFailed;
            return;
        }
        fs::permissions(p, next, fs::perm_options::replace, ec);
        if (ec) status = kShellFailed;
    };
    for (const auto& h : hosts) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(h, ec))) {
            status = kShellFailed;
            continue;
        }
        one(h);
        if (!has(flags, "R") || !fs::is_directory(fs::symlink_status(h, ec))) continue;
        // A folder that cannot be entered (a mode without search permission, set by this
        // very command) ends the walk with a failure, as chmod reports it.
        fs::recursive_directory_iterator it(h, ec), end;
        while (!ec && it != end) {
            one(it->path());
            it.increment(ec);
        }
        if (ec) status = kShellFailed;
    }
    return status;
}

int doMkdir(const std::vector<Word>& words) {
    std::string flags;
    std::vector<std::string> ops;
    if (!options(words, "pv", &flags, &ops) || ops.empty()) return kShellFailed;
    int status = kShellOk;
    for (const auto& d : ops) {
        fs::path h;
        if (!hostPath(d, &h)) return kShellFailed;
        std::error_code ec;
        if (has(flags, "p")) {
            fs::create_directories(h, ec);
            if (ec || !fs::is_directory(h)) status = kShellFailed;
        } else if (!fs::create_directory(h, ec) || ec) {
            status = kShellFailed;
        }
    }
    return status;
}

bool startsWith(const std::vector<std::string>& words, const std::vector<std::string>& prefix) {
    if (prefix.empty() || prefix.size() > words.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), words.begin());
}

std::vector<std::string> texts(const std::vector<Word>& words) {
    std::vector<std::string> out;
    for (const auto& w : words) out.push_back(w.text);
    return out;
}

}  // namespace

bool splitShellWords(const std::string& command, std::vector<std::string>* words, bool* stdoutDiscarded) {
    std::vector<Word> w;
    bool discarded = false;
    const bool ok = splitWords(command, &w, &discarded);
    if (words) *words = texts(w);
    if (stdoutDiscarded) *stdoutDiscarded = discarded;
    return ok;
}

SimShell::SimShell() {
    rebootHook_ = [] {
        if (!plat::root().empty()) {
            plat::makeDirs("/run");
            const std::string note = "# reboot: the controller ends with status 42 and is started again\n";
            plat::appendToFile(plat::path("/run/shell.log"), note.data(), note.size());
        }
        std::fflush(nullptr);
        ::_exit(42);
    };
}

void SimShell::record(const std::string& command) {
    std::lock_guard<std::mutex> l(mutex_);
    commands_.push(command);
    if (plat::root().empty()) return;  // never write into the host's own /run
    std::string line = command;
    for (size_t p = 0; (p = line.find('\n', p)) != std::string::npos; p += 2) line.replace(p, 1, "\\n");
    line.push_back('\n');
    plat::makeDirs("/run");
    plat::appendToFile(plat::path("/run/shell.log"), line.data(), line.size());
}

int SimShell::system(const std::string& command) { return run(command, nullptr); }

int SimShell::popen(const std::string& command, std::string* output) {
    std::string out;
    int status = run(command, &out);
    if (output) output->append(out);
    return status;
}

int SimShell::run(const std::string& command, std::string* output) {
    record(command);
    try {
        return dispatch(command, output);
    } catch (const std::exception& e) {
        // A file command that fails in a way not foreseen is a failed command, never
        // the end of the controller.
        std::fprintf(stderr, "sim shell: failed (%s): %s\n", e.what(), command.c_str());
        return kShellFailed;
    }
}

int SimShell::dispatch(const std::string& command, std::string* output) {
    std::vector<Word> words;
    bool discarded = false;
    if (!splitWords(command, &words, &discarded)) {
        std::fprintf(stderr, "sim shell: refused (shell syntax): %s\n", command.c_str());
        return kShellFailed;
    }
    if (words.empty()) return kShellOk;
    std::string& name = words[0].text;
    for (const char* dir : {"/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/"})
        if (name.compare(0, std::string(dir).size(), dir) == 0) name = name.substr(std::string(dir).size());

    const std::vector<std::string> plain = texts(words);
    Handler handler;
    {
        std::lock_guard<std::mutex> l(mutex_);
        size_t best = 0;
        for (const auto& e : handlers_)
            if (startsWith(plain, e.prefix) && e.prefix.size() >= best) {
                best = e.prefix.size();
                handler = e.handler;
            }
    }
    if (handler) {
        std::string out;
        int status = handler(plain, out);
        if (output && !discarded) *output = out;
        return status;
    }

    if (name == "reboot") {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> l(mutex_);
            ++reboots_;
            hook = rebootHook_;
        }
        if (hook) hook();
        return kShellOk;
    }
    if (name == "rm") return doRm(words);
    if (name == "cp") return doCopyMove(words, false);
    if (name == "mv") return doCopyMove(words, true);
    if (name == "chmod") return doChmod(words);
    if (name == "mkdir") return doMkdir(words);
    if (name == "date") return dateCommand(plain) ? kShellOk : kShellFailed;
    if (name == "sync" || name == "chattr") return kShellOk;
    if (name == "pidof") return kShellFailed;  // not running
    static const char* const kRecordedOnly[] = {"ifconfig", "route",          "hwclock", "udhcpd", "udhcpc",
                                                "hostapd",  "wpa_supplicant", "kill", "dos2unix", "sed",   "grep"};
    for (const char* known : kRecordedOnly)
        if (name == known) return kShellOk;
    return kShellNotFound;
}

std::vector<std::string> SimShell::commands() const {
    std::lock_guard<std::mutex> l(mutex_);
    return std::vector<std::string>(commands_.begin(), commands_.end());
}

void SimShell::clearCommands() {
    std::lock_guard<std::mutex> l(mutex_);
    commands_.clear();
}

void SimShell::addHandler(const std::string& prefix, Handler handler) {
    std::vector<std::string> words;
    splitShellWords(prefix, &words, nullptr);
    std::lock_guard<std::mutex> l(mutex_);
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(), [&](const Entry& e) { return e.prefix == words; }),
                    handlers_.end());
    handlers_.push_back(Entry{words, std::move(handler)});
}

void SimShell::setResult(const std::string& prefix, int status, const std::string& output) {
    addHandler(prefix, [status, output](const std::vector<std::string>&, std::string& out) {
        out = output;
        return status;
    });
}

void SimShell::removeHandler(const std::string& prefix) {
    std::vector<std::string> words;
    splitShellWords(prefix, &words, nullptr);
    std::lock_guard<std::mutex> l(mutex_);
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(), [&](const Entry& e) { return e.prefix == words; }),
                    handlers_.end());
}

void SimShell::setRebootHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> l(mutex_);
    rebootHook_ = std::move(hook);
}

int SimShell::reboots() const {
    std::lock_guard<std::mutex> l(mutex_);
    return reboots_;
}

std::unique_ptr<Shell> makeShell() { return std::make_unique<SimShell>(); }

SimShell* simShell() { return dynamic_cast<SimShell*>(&plat::shell()); }

}  // namespace plat::sim
