#pragma once
// Where the C331 sits on the board (from the wiring table), and the FPGA select lines it
// must keep quiet while its frames are clocked.
#include "platform/board_wiring.h"

namespace c331 {

constexpr const char* kC331SpiNode = plat::wiring::kSpiC331;

// Maps the SoC register window that holds the GPIO lines (the /dev/msys request, then
// /dev/mem). Null when it cannot be had or is too short for the lines; logged once.
void* mapGpioWindow();
// Drives both FPGA chip-select lines inactive; a null window is skipped.
void fpgaSelectsInactive(void* gpioWindow);

}  // namespace c331
