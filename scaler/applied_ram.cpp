#include "scaler/applied_ram.h"

#include <cstring>

#include "core/vlxrampara.h"

namespace applied_ram {

namespace {
unsigned char base[kSize] GUARDED_BY(ManageLock::manage_mutex);
static_assert(kSize == vlxram::kRamSize, "the base mirrors the whole RAM");
}  // namespace

unsigned char* bytes() { return base; }

uint16_t word(unsigned address) { return VlxRamPara::getU16(base, address); }

void takeRam() {
    if (VlxRamPara* ram = VlxRamPara::p_vlxrampara_config) ram->copyRam(0, kSize, base);
}

void setWord(unsigned address, uint16_t value) {
    if (VlxRamPara* ram = VlxRamPara::p_vlxrampara_config) ram->setRamU16(address, value);
    VlxRamPara::setU16(base, address, value);
}

void hardwareHolds(unsigned address, uint16_t value, uint16_t decidedFrom) {
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (ram && ram->ramU16(address) == decidedFrom) ram->setRamU16(address, value);
    VlxRamPara::setU16(base, address, value);
}

}  // namespace applied_ram
