#include "platform/sim/board_clock.h"

#include <cctype>
#include <cstdio>

#include "platform/platform.h"

namespace plat::sim {

BoardNs BoardClock::now() const {
    std::lock_guard<std::mutex> l(mutex_);
    return now_;
}

void BoardClock::advanceTo(BoardNs t) {
    for (;;) {
        std::function<void()> event;
        {
            std::lock_guard<std::mutex> l(mutex_);
            if (t < now_) return;
            auto first = events_.begin();
            if (first == events_.end() || first->first > t) {
                now_ = t;
                break;
            }
            now_ = first->first;
            event = std::move(first->second.second);
            events_.erase(first);
        }
        event();
    }
    std::vector<std::function<void(BoardNs)>> hooks;
    {
        std::lock_guard<std::mutex> l(mutex_);
        for (auto& [id, h] : hooks_) hooks.push_back(h);
    }
    for (auto& h : hooks) h(t);
}

BoardClock::EventId BoardClock::at(BoardNs when, std::function<void()> event) {
    EventId id;
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> l(mutex_);
        id = nextId_++;
        events_.emplace(when < now_ ? now_ : when, std::make_pair(id, std::move(event)));
        notify = notify_;
    }
    if (notify) notify();
    return id;
}

void BoardClock::setScheduleNotifier(std::function<void()> notify) {
    std::lock_guard<std::mutex> l(mutex_);
    notify_ = std::move(notify);
}

void BoardClock::cancel(EventId id) {
    std::lock_guard<std::mutex> l(mutex_);
    for (auto it = events_.begin(); it != events_.end(); ++it)
        if (it->second.first == id) {
            events_.erase(it);
            return;
        }
}

bool BoardClock::nextEvent(BoardNs* when) const {
    std::lock_guard<std::mutex> l(mutex_);
    if (events_.empty()) return false;
    *when = events_.begin()->first;
    return true;
}

int BoardClock::onAdvance(std::function<void(BoardNs)> hook) {
    std::lock_guard<std::mutex> l(mutex_);
    hooks_[nextHook_] = std::move(hook);
    return nextHook_++;
}

void BoardClock::removeHook(int id) {
    std::lock_guard<std::mutex> l(mutex_);
    hooks_.erase(id);
}

// ---------------------------------------------------------------- date -s

namespace {

bool digits(const std::string& s, size_t pos, size_t n, int* out) {
    if (pos + n > s.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

// "hh:mm" or "hh:mm:ss" from `pos` to the end.
bool clockPart(const std::string& s, size_t pos, std::tm* tm) {
    const size_t n = s.size() - pos;
    if (n != 5 && n != 8) return false;
    if (!digits(s, pos, 2, &tm->tm_hour) || s[pos + 2] != ':' || !digits(s, pos + 3, 2, &tm->tm_min)) return false;
    tm->tm_sec = 0;
    if (n == 8 && (s[pos + 5] != ':' || !digits(s, pos + 6, 2, &tm->tm_sec))) return false;
    return tm->tm_hour < 24 && tm->tm_min < 60 && tm->tm_sec < 60;
}

// mktime normalises 31 February into March; such a date is refused.
bool finish(std::tm tm, std::time_t* out) {
    const std::tm asked = tm;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return false;
    if (tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon || tm.tm_mday != asked.tm_mday) return false;
    *out = t;
    return true;
}

}  // namespace

bool parseDateTime(const std::string& s, std::time_t now, std::time_t* out) {
    std::tm tm{};
    if (!localtime_r(&now, &tm)) return false;
    int y, mo, d;
    // YYYY-MM-DD hh:mm[:ss], YYYY/MM/DD ..., YYYY.MM.DD-...
    if (s.size() >= 16 && digits(s, 0, 4, &y) && (s[4] == '-' || s[4] == '/' || s[4] == '.') && s[7] == s[4] &&
        digits(s, 5, 2, &mo) && digits(s, 8, 2, &d) && (s[10] == ' ' || s[10] == '-')) {
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        if (mo < 1 || mo > 12 || d < 1 || !clockPart(s, 11, &tm)) return false;
        return finish(tm, out);
    }
    if (s.size() == 5 || s.size() == 8) return clockPart(s, 0, &tm) && finish(tm, out);
    // MMDDhhmm[[CC]YY][.ss]
    std::string main = s, sec;
    if (size_t dot = s.find('.'); dot != std::string::npos) {
        main = s.substr(0, dot);
        sec = s.substr(dot + 1);
    }
    int h, mi;
    if ((main.size() != 8 && main.size() != 10 && main.size() != 12) || !digits(main, 0, 2, &mo) ||
        !digits(main, 2, 2, &d) || !digits(main, 4, 2, &h) || !digits(main, 6, 2, &mi))
        return false;
    if (main.size() == 10) {
        if (!digits(main, 8, 2, &y)) return false;
        tm.tm_year = y + 100;  // 20YY
    } else if (main.size() == 12) {
        if (!digits(main, 8, 4, &y)) return false;
        tm.tm_year = y - 1900;
    }
    tm.tm_sec = 0;
    if (!sec.empty() && (sec.size() != 2 || !digits(sec, 0, 2, &tm.tm_sec) || tm.tm_sec > 59)) return false;
    if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59) return false;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    return finish(tm, out);
}

// busybox reads "Y-M-D h:m[:s]" with scanf: fields need not be zero-padded.
std::string padDateFields(const std::string& text) {
    int y, mo, d, h, mi, sec = 0, used = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%n:%2d%n", &y, &mo, &d, &h, &mi, &used, &sec, &used);
    if (n < 5 || static_cast<size_t>(used) != text.size()) return text;
    char b[32];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, sec);
    return b;
}

bool dateCommand(const std::vector<std::string>& words) {
    std::string text;
    bool set = false;
    for (size_t i = 1; i < words.size(); ++i) {
        if (!set && !words[i].empty() && words[i][0] != '-' && words[i][0] != '+') {
            text = words[i];  // busybox: a plain TIME argument sets the clock too
            set = true;
        } else if (words[i] == "-s" && i + 1 < words.size()) {
            text = words[++i];
            set = true;
        } else if (words[i].compare(0, 6, "--set=") == 0) {
            text = words[i].substr(6);
            set = true;
        } else if (set) {
            text += " " + words[i];  // an unquoted "date -s 2026-03-05 09:07:00"
        }
    }
    if (!set) return true;
    text = padDateFields(text);
    std::time_t t;
    if (!parseDateTime(text, plat::timeOfDay(), &t)) {
        std::fprintf(stderr, "sim shell: date: invalid date '%s'\n", text.c_str());
        return false;
    }
    plat::setWallClockOffset(static_cast<int64_t>(t) - static_cast<int64_t>(std::time(nullptr)));
    return true;
}

}  // namespace plat::sim
