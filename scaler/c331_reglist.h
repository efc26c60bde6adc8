#pragma once
// The list of C331 registers the register print reads: 7,967 rows (bank, first address,
// byte count) over 120 banks, sorted by bank and address, each inside addresses 1..0x7F
// of its bank and none overlapping another. It is generated once: first every register
// the scaler code names (where it fits), then the chip's remaining registers spread over
// the free addresses of each bank with the chip's mix of 1-, 2-, 3- and 4-byte registers.
#include <cstdint>
#include <vector>

struct C331RegRow {
    uint8_t bank, addr, count;
    uint32_t desc() const { return uint32_t(bank) << 16 | uint32_t(addr) << 8 | count; }
};

namespace c331reglist {
constexpr int kRows = 7967;
constexpr int kBanks = 120;
constexpr int kRowsBySize[5] = {0, 5271, 2246, 119, 331};
}  // namespace c331reglist

const std::vector<C331RegRow>& c331RegisterList();
// The registers the scaler code names (the list holds each one that fits).
const std::vector<uint32_t>& c331NamedRegisters();
