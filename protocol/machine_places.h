#pragma once
// Places by machine, for a link that serves several PCs at once (the TCP connections, the
// UDP senders): a source address is one machine, whatever ports it uses. A machine holds a
// few places at most; with every place taken, a machine under its share (the places over
// the machines, itself counted) takes one from a machine over its share.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/pc_clients.h"

// What giving up a place costs its PC, least first: nothing (`quiet`, as its link counts it),
// its frames waiting (nothing of them started), or only the place (its job runs on and its
// answer comes). A place with a file transfer open keeps it: the transfer lives in its link.
enum class PlaceCost { kQuiet, kWaiting, kRunning, kKeeps };
PlaceCost placeCost(const PcClient& c, bool quiet);

class MachinePlaces {
public:
    // perMachine: the places one source address may hold.
    MachinePlaces(const PcClients& pcs, size_t perMachine) : pcs_(pcs), perMachine_(perMachine) {}
    // The address as written, "127.0.0.5".
    static std::string name(uint32_t source);
    // A PC of it by its port too, "127.0.0.5:40000" (a UDP sender is one).
    static std::string name(const sockaddr_in& peer);
    // Places `source` (network order) holds.
    size_t of(uint32_t source) const;
    bool full(uint32_t source) const { return of(source) >= perMachine_; }
    // Each machine's share with `source` among them: the places over the machines, at least one.
    size_t share(uint32_t source) const;
    // A machine under its share with every place taken may take one from a machine over it.
    bool mayTakeFromOthers(uint32_t source) const { return of(source) < share(source); }
    bool overShare(size_t i, uint32_t newSource) const { return of(pcs_[i].source) > share(newSource); }
    // The PC of those `rank` gives a rank (lower gives first; negative: keeps its place) that
    // gives its place: the lowest rank, of equals the one heard from longest ago (of equals
    // again the first). pcs.size() when there is none.
    template <typename Rank>
    size_t toGive(Rank rank) const {
        size_t out = pcs_.size();
        int outRank = 0;
        for (size_t i = 0; i < pcs_.size(); ++i) {
            const int r = rank(i);
            if (r < 0) continue;
            if (out == pcs_.size() || r < outRank || (r == outRank && pcs_[i].idleTicks() > pcs_[out].idleTicks())) {
                out = i;
                outRank = r;
            }
        }
        return out;
    }

private:
    const PcClients& pcs_;
    const size_t perMachine_;
};
