#pragma once
// The parameter store's guarded bytes as a test reads and lays them out: every copy is taken,
// and every change made, through the store's own functions under the bytes' lock.
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/vlxrampara.h"

namespace testkit {

inline std::vector<uint8_t> ramBytes(const VlxRamPara* p, unsigned address = 0, unsigned length = vlxram::kRamSize) {
    std::vector<uint8_t> out(length);
    p->snapshot(address, length, out.data());
    return out;
}

inline std::vector<uint8_t> shadowBytes(const VlxRamPara* p, unsigned address = 0,
                                        unsigned length = vlxram::kRamSize) {
    std::vector<uint8_t> out(length);
    p->copyShadow(address, length, out.data());
    return out;
}

inline uint8_t shadowByte(const VlxRamPara* p, unsigned address) { return shadowBytes(p, address, 1)[0]; }

inline void setShadowU16(VlxRamPara* p, unsigned address, uint16_t v) {
    std::vector<uint8_t> shadow = shadowBytes(p);
    VlxRamPara::setU16(shadow.data(), address, v);
    p->setShadow(shadow.data());
}

// The whole slot (marker, the mode, the two spare bytes).
inline std::vector<uint8_t> slotBytes(const VlxRamPara* p, int slot) {
    std::vector<uint8_t> out(vlxram::kModeSlotSize);
    p->readSlot(slot, 0, vlxram::kModeSlotSize, out.data());
    return out;
}

inline void setSlotByte(VlxRamPara* p, int slot, unsigned offset, uint8_t v) { p->writeSlot(slot, offset, &v, 1); }
inline void markSlot(VlxRamPara* p, int slot, uint8_t marker) {
    const uint8_t m[2] = {marker, marker};
    p->writeSlot(slot, 0, m, 2);
}
// The slot's copy of the RAM word at `ramAddress` (0x380..0xFFF).
inline void setSlotWord(VlxRamPara* p, int slot, unsigned ramAddress, uint16_t v) {
    uint8_t w[2];
    VlxRamPara::setU16(w, 0, v);
    p->writeSlot(slot, 2 + ramAddress - vlxram::kModeStart, w, 2);
}

// The slot as a saved mode: its marker, then the RAM's 0x380..0xFFF with `words` (RAM address,
// value) put over it.
inline void saveLiveMode(VlxRamPara* p, int slot, std::initializer_list<std::pair<unsigned, uint16_t>> words = {}) {
    std::vector<uint8_t> image = {vlxram::kModeSaved, vlxram::kModeSaved};
    const std::vector<uint8_t> mode = ramBytes(p, vlxram::kModeStart, vlxram::kModeLength);
    image.insert(image.end(), mode.begin(), mode.end());
    for (const auto& w : words) VlxRamPara::setU16(image.data() + 2, w.first - vlxram::kModeStart, w.second);
    p->writeSlot(slot, 0, image.data(), unsigned(image.size()));
}

}  // namespace testkit
