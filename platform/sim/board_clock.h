#pragma once
// The simulated board's clock: nanoseconds since the board powered up. Chip models
// time their busy bits, interrupt lines, delayed answers and signal changes on it and
// never read the PC's clock. Tests step it; while the controller runs, the board lets
// it follow real time (SimBoard::followRealTime).
//
// Events run on the thread that advances the clock, each at its own time, in order,
// without the clock's lock held (an event may schedule the next one).
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace plat::sim {

using BoardNs = uint64_t;
constexpr BoardNs kNsPerUs = 1000;
constexpr BoardNs kNsPerMs = 1000 * 1000;
constexpr BoardNs kNsPerSec = 1000 * 1000 * 1000;

class BoardClock {
public:
    using EventId = uint64_t;

    BoardNs now() const;
    // Runs the events due up to `t` (each with now() at its own time), then sets now() to t.
    // A time in the past changes nothing.
    void advanceTo(BoardNs t);
    void step(BoardNs ns) { advanceTo(now() + ns); }

    EventId at(BoardNs when, std::function<void()> event);
    EventId after(BoardNs delay, std::function<void()> event) { return at(now() + delay, std::move(event)); }
    void cancel(EventId id);
    // Time of the next event; false when none is pending.
    bool nextEvent(BoardNs* when) const;

    // Called after every advance with the new time (models that act on time passing).
    int onAdvance(std::function<void(BoardNs)> hook);
    void removeHook(int id);

    // Told after each at() (the board's real-time thread wakes to re-plan its sleep).
    void setScheduleNotifier(std::function<void()> notify);

private:
    mutable std::mutex mutex_;
    BoardNs now_ = 0;
    EventId nextId_ = 1;
    std::multimap<BoardNs, std::pair<EventId, std::function<void()>>> events_;
    int nextHook_ = 1;
    std::map<int, std::function<void(BoardNs)>> hooks_;
    std::function<void()> notify_;
};

// Parses the date forms a busybox `date -s` takes: "YYYY-MM-DD hh:mm[:ss]",
// "YYYY/MM/DD hh:mm[:ss]", "YYYY.MM.DD-hh:mm[:ss]", "hh:mm[:ss]" (today) and
// "MMDDhhmm[[CC]YY][.ss]", as local time. False on anything else or an impossible date.
bool parseDateTime(const std::string& text, std::time_t now, std::time_t* out);

// `date` on the simulated shell: "date -s TEXT" / "date --set=TEXT" set the board's
// wall clock (plat::setWallClockOffset), never the PC's; plain "date" changes nothing.
// False for a date it cannot read.
bool dateCommand(const std::vector<std::string>& words);

}  // namespace plat::sim
