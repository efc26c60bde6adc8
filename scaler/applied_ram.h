#pragma once
// The parameter RAM as the C331 manager last applied it: the base its passes find changes
// against. It is kept apart from the shadow (the RAM as last saved, which the screens and
// the saver use), so a save between a writer's change and its hand-over hides nothing from
// the manager. Read and written only under c331_manage::manage_mutex, through the copies and
// words below: no pointer into it leaves this file.
#include <cstdint>

#include "core/manage_lock.h"
#include "core/stamped_bytes.h"

namespace applied_ram {

constexpr unsigned kSize = 4096;

uint16_t word(unsigned address) REQUIRES(ManageLock::manage_mutex);
uint8_t byte(unsigned address) REQUIRES(ManageLock::manage_mutex);
// Bytes [address, address + length) of the base into `out` (nothing for a range past its end).
void copy(unsigned address, unsigned length, unsigned char* out) REQUIRES(ManageLock::manage_mutex);
// The whole RAM as it is now: loaded at start-up, or about to be applied by the bring-up.
void takeRam() REQUIRES(ManageLock::manage_mutex);
// takeRam but for [address, address + length), which keeps what the base held: words the
// bring-up does not apply itself, left a difference for the first pass to hand over.
void takeRamBut(unsigned address, unsigned length) REQUIRES(ManageLock::manage_mutex);
// The RAM's bytes [address, address + length): words the manager wrote into the RAM itself.
void takeRange(unsigned address, unsigned length) REQUIRES(ManageLock::manage_mutex);
// What a pass applied and only that: each byte where its look `seen` differs from `before`, the
// base as the pass began (both kSize bytes). A byte changed since by setWord is kept otherwise.
void takeApplied(const unsigned char* seen, const unsigned char* before) REQUIRES(ManageLock::manage_mutex);
// A word its writer has put on the hardware itself (the FPGA engine's brightness level), decided
// from the RAM as of `since`: the RAM and the base take it together, so the manager does not
// hand it back as a change, only while the RAM word is unchanged since. True when taken.
bool setWord(unsigned address, uint16_t value, ChangeStamp& since) REQUIRES(ManageLock::manage_mutex);
// A word the hardware holds after its writer's switch (the FPGA engine's screen state, or a new
// brightness level it set): the base takes it. A switch decided from a look at the RAM word
// (`decidedAt`, the stamp of that look)
// is written back only while the word is unchanged since, so a word a writer put there after
// the look (newer, not applied yet) is not undone; a switch no look decided (a PC's register
// write, a timed switch) is newer than any word written before it, and the RAM takes it.
void hardwareHolds(unsigned address, uint16_t value, ChangeStamp* decidedAt) REQUIRES(ManageLock::manage_mutex);

}  // namespace applied_ram
