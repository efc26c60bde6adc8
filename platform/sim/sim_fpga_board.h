#pragma once
// The two sending-card FPGAs and their two configuration flashes on the simulated
// board, attached from the wiring of platform/fpga_wiring.h: FPGA 0 and 1 on
// spidev32766.1 and .2, flash chip 2 (FPGA 0) on .3, chip 3 (FPGA 1) on .4, each
// answering only while the GPIO lines select it. The flashes keep their arrays in
// <root>/sim/fpga-flash2.bin and fpga-flash3.bin.
#include <memory>

#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"

namespace plat::sim {

class SimBoard;

struct FpgaChips {
    std::shared_ptr<SimFpga> fpga[2];
    std::shared_ptr<SpiNorFlash> flash[2];  // chip 2, chip 3
};

// Builds the four chips and attaches them to the board (the board does this once).
std::shared_ptr<FpgaChips> attachFpgaChips(SimBoard& board);
// The chips of the board behind plat::sys().
FpgaChips& fpgaChips();

// Unique IDs of the two flashes, as the parts report them.
extern const uint8_t kFlashChip2Uid[8];
extern const uint8_t kFlashChip3Uid[8];

}  // namespace plat::sim
