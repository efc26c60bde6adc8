#include "scaler/applied_ram.h"

#include <cstring>

#include "core/vlxrampara.h"

namespace applied_ram {

namespace {
unsigned char base[kSize] GUARDED_BY(ManageLock::manage_mutex);
static_assert(kSize == vlxram::kRamSize, "the base mirrors the whole RAM");

bool inside(unsigned address, unsigned length) { return address <= kSize && length <= kSize - address; }
}  // namespace

uint16_t word(unsigned address) { return address + 2 <= kSize ? VlxRamPara::getU16(base, address) : 0; }

uint8_t byte(unsigned address) { return address < kSize ? base[address] : 0; }

void copy(unsigned address, unsigned length, unsigned char* out) {
    if (inside(address, length) && length) std::memcpy(out, base + address, length);
}

void takeRam() { takeRange(0, kSize); }

void takeRamBut(unsigned address, unsigned length) {
    if (!inside(address, length)) return takeRam();
    takeRange(0, address);
    takeRange(address + length, kSize - address - length);
}

void takeRange(unsigned address, unsigned length) {
    if (VlxRamPara* ram = VlxRamPara::p_vlxrampara_config; ram && inside(address, length))
        ram->copyRam(address, length, base + address);
}

void takeApplied(const unsigned char* seen, const unsigned char* before) {
    for (unsigned i = 0; i < kSize; ++i)
        if (seen[i] != before[i]) base[i] = seen[i];
}

bool setWord(unsigned address, uint16_t value, ChangeStamp& since) {
    unsigned char word[2];
    VlxRamPara::setU16(word, 0, value);
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (ram && !ram->casRam(address, word, 2, since)) return false;
    VlxRamPara::setU16(base, address, value);
    return true;
}

void hardwareHolds(unsigned address, uint16_t value, ChangeStamp* decidedAt) {
    if (VlxRamPara* ram = VlxRamPara::p_vlxrampara_config; ram && decidedAt) {
        unsigned char word[2];
        VlxRamPara::setU16(word, 0, value);
        ram->casRam(address, word, 2, *decidedAt);
    } else if (ram) {
        ram->setRamU16(address, value);
    }
    VlxRamPara::setU16(base, address, value);
}

}  // namespace applied_ram

// The seam core declares for the start-up's load (core/manage_lock.h).
void ManageLock::baseTakesRam() { applied_ram::takeRam(); }
