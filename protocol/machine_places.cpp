#include "protocol/machine_places.h"

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

PlaceCost placeCost(const PcClient& c, bool quiet) {
    if (c.link->transferOpen()) return PlaceCost::kKeeps;
    if (c.busy()) return PlaceCost::kRunning;
    return quiet ? PlaceCost::kQuiet : PlaceCost::kWaiting;
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
