#pragma once
// The control links' gate, closed once by a stop signal: from then on no link takes a frame
// or sends an answer. A change a PC was answered for was made before the gate closed, so the
// RAM the stop saves after closing it holds every one; what a PC sends after is neither
// carried out nor answered. Closing is one lock-free store: the signal handler does it.
#include <atomic>

namespace link_gate {

// Closed by the stop signal's handler, read by every link thread and long-command job.
inline std::atomic<bool> g_open{true};
static_assert(std::atomic<bool>::is_always_lock_free, "closed from a signal handler");

inline void close() { g_open.store(false); }
inline bool open() { return g_open.load(); }

// Frames (and AT commands) that reached a link after the gate closed and went no further.
inline std::atomic<unsigned> g_turnedAway{0};
inline void turnAway() { ++g_turnedAway; }
inline unsigned turnedAway() { return g_turnedAway.load(); }

}  // namespace link_gate
