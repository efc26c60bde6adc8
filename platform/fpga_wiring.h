#pragma once
// How the two sending-card FPGAs and their configuration flashes hang on the board:
// SPI device nodes and the GPIO lines in the SoC register window. The FPGA engine and
// the simulated board both take their numbers from here.
#include <cstdint>

namespace fpga_wiring {

// spidev nodes, in the engine's link order.
constexpr int kLinkFpga0 = 0;
constexpr int kLinkFpga1 = 1;
constexpr int kLinkFlashChip2 = 2;  // configuration flash of FPGA 0
constexpr int kLinkFlashChip3 = 3;  // configuration flash of FPGA 1
constexpr int kLinks = 4;
constexpr const char* kSpiNode[kLinks] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                                          "/dev/spidev32766.4"};

// GPIO words (16-bit registers at these offsets of the window; 16 drives high, 0 low).
constexpr uint32_t kFpga1Select = 0x207900;        // low = selected
constexpr uint32_t kFpga0Select = 0x207810;        // low = selected
constexpr uint32_t kFpga0Command = 0x207838;       // high during the command word
constexpr uint32_t kFpga1CommandA = 0x20794C;
constexpr uint32_t kFpga1CommandB = 0x207954;
constexpr uint32_t kFpga0FlashAccess = 0x207860;   // low = flash on the bus
constexpr uint32_t kFpga1FlashAccessA = 0x20790C;
constexpr uint32_t kFpga1FlashAccessB = 0x207950;
constexpr uint32_t kFpga0Reset = 0x207858;         // low = held in reset
constexpr uint32_t kFpga1Reset = 0x207864;
constexpr uint32_t kFpga0Interrupt = 0x207908;     // input, bit 0
constexpr uint32_t kFpga1Interrupt = 0x207910;
constexpr uint32_t kReceiverResetA = 0x207940;
constexpr uint32_t kReceiverResetB = 0x207944;
constexpr uint32_t kEepromWrite = 0x207948;
constexpr uint32_t kReceiverResetC = 0x002848;
constexpr uint32_t kUnusedLine = 0x207800;
constexpr uint32_t kSocEnable = 0x001F1C;           // set to 1 at start-up
// The window must reach past the highest word the engine drives.
constexpr uint32_t kWindowMinLength = 0x207956;

constexpr uint16_t kHigh = 16;
constexpr uint16_t kLow = 0;

// Configuration flash geometry (both chips).
constexpr uint32_t kFlashSize = 0x800000;
constexpr uint32_t kFlashSectorSize = 4096;
constexpr uint32_t kFlashSectors = kFlashSize / kFlashSectorSize;
constexpr uint32_t kFlashPageSize = 256;

}  // namespace fpga_wiring
