#pragma once
// Places by machine, for a link that serves several PCs at once (the TCP connections, the
// UDP senders): a source address is one machine, whatever ports it uses. A free place goes
// to whoever asks; only with every place taken do the machines' shares decide (the places
// over the machines present, the new one counted), in one order for both links (placeFor).
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/pc_clients.h"

// What giving up a place costs its PC, least first: nothing (`idle`, as its link counts it),
// its frames waiting (nothing of them started), or only the place (its job runs on and its
// answer comes). A place with a file transfer open keeps it: the transfer lives in its link.
enum class PlaceCost { kQuiet, kWaiting, kRunning, kKeeps };
PlaceCost placeCost(const PcClient& c);

class MachinePlaces {
public:
    // spareAfterTicks: how long a PC of a machine at or under its share is idle before it
    // gives its place to a machine under its share (a PC that has its place only while it
    // sends loses nothing by it: 0).
    MachinePlaces(const PcClients& pcs, uint32_t spareAfterTicks) : pcs_(pcs), spareAfter_(spareAfterTicks) {}
    // The address as written, "127.0.0.5".
    static std::string name(uint32_t source);
    // A PC of it by its port too, "127.0.0.5:40000" (a UDP sender is one).
    static std::string name(const sockaddr_in& peer);
    // Places `source` (network order) holds.
    size_t of(uint32_t source) const;
    // Each machine's share with `source` among them: the places over the machines, at least one.
    size_t share(uint32_t source) const;

    struct Place {
        enum Kind { kFree, kGiven, kNone } kind;
        size_t giver;     // kGiven: the PC that gives its place up
        std::string why;  // kGiven: why that one; kNone: why none
    };
    // The place of a new PC of `source`, with every PC present counted. A free place, else:
    // for a machine under its share, a PC of a machine over its share (idle, else with
    // frames waiting, else with a job running); else the PC of its own machine idle longest;
    // else, for a machine under its share, one idle spareAfterTicks of any machine. A place
    // is never taken from a machine at or under its share for one that would be over it,
    // nor from a PC with a file transfer open.
    Place placeFor(uint32_t source) const;

private:
    // Of the PCs `rank` gives a rank (negative: not this one), the lowest; of equals the one
    // heard from longest ago (of equals again the first). pcs.size() when there is none.
    template <typename Rank>
    size_t lowest(Rank rank) const;
    const PcClients& pcs_;
    const uint32_t spareAfter_;
};
