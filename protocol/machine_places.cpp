#include "protocol/machine_places.h"

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

PlaceCost placeCost(const PcClient& c) {
    if (c.link->transferOpen()) return PlaceCost::kKeeps;
    if (c.busy()) return PlaceCost::kRunning;
    return c.idle() ? PlaceCost::kQuiet : PlaceCost::kWaiting;
}

std::string MachinePlaces::name(uint32_t source) {
    char text[INET_ADDRSTRLEN] = "?";
    const in_addr a{source};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string MachinePlaces::name(const sockaddr_in& peer) {
    return name(peer.sin_addr.s_addr) + ":" + std::to_string(ntohs(peer.sin_port));
}

size_t MachinePlaces::of(uint32_t source) const {
    size_t n = 0;
    for (size_t i = 0; i < pcs_.size(); ++i) n += pcs_[i].source == source ? 1 : 0;
    return n;
}

size_t MachinePlaces::share(uint32_t source) const {
    std::vector<uint32_t> machines{source};
    for (size_t i = 0; i < pcs_.size(); ++i)
        if (std::find(machines.begin(), machines.end(), pcs_[i].source) == machines.end())
            machines.push_back(pcs_[i].source);
    return std::max<size_t>(1, pcs_.places() / machines.size());
}

template <typename Rank>
size_t MachinePlaces::lowest(Rank rank) const {
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

MachinePlaces::Place MachinePlaces::placeFor(uint32_t source) const {
    if (pcs_.size() < pcs_.places()) return {Place::kFree, 0, {}};
    const size_t none = pcs_.size();
    const size_t share = this->share(source);
    const bool under = of(source) < share;
    size_t out = none;
    if (under) {
        out = lowest([&](size_t i) {
            const PlaceCost cost = placeCost(pcs_[i]);
            return of(pcs_[i].source) > share && cost != PlaceCost::kKeeps ? static_cast<int>(cost) : -1;
        });
        if (out != none) return {Place::kGiven, out, "its address over its share of " + std::to_string(share) + " places"};
    }
    // Then its own machine's idle PC: a tool that sends from a new port each time, or
    // reconnects, leaves its old one behind, and the other machines keep theirs.
    out = lowest([&](size_t i) { return pcs_[i].source == source && placeCost(pcs_[i]) == PlaceCost::kQuiet ? 0 : -1; });
    if (out != none) return {Place::kGiven, out, "its own address's idle longest"};
    if (!under)
        return {Place::kNone, none, "its address holds its share of " + std::to_string(share) + " places, none of them idle"};
    out = lowest([&](size_t i) {
        return placeCost(pcs_[i]) == PlaceCost::kQuiet && pcs_[i].idleTicks() >= spareAfter_ ? 0 : -1;
    });
    if (out != none) return {Place::kGiven, out, "idle " + std::to_string(pcs_[out].idleTicks() / 100) + " s"};
    return {Place::kNone, none,
            "no address over its share of " + std::to_string(share) + " places has one to give, none idle " +
                std::to_string(spareAfter_ / 100) + " s"};
}
