#pragma once
// Where the C331 sits on the board, and the FPGA select lines it must keep quiet.
namespace c331 {

constexpr const char* kC331SpiNode = "/dev/spidev32766.0";

}  // namespace c331

// Drives both FPGA chip-select lines inactive (16) through the GPIO window; a window that
// is not mapped is skipped (the FPGA engine logs that failure itself).
void fpgaSelectsInactive();
