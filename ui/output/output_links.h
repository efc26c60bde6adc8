#pragma once
// What the output and link screens read of the sending-card engine beyond its parameter images:
// the USB upgrade's status text. Empty means "no upgrade engine": the link screen shows no
// status text. Whether both FPGAs run comes from shellLinks().fpgaRunning.
#include <QString>

#include <cstdint>
#include <functional>

struct OutputLinks {
    // The engine's text of the last USB upgrade (its start and end times).
    std::function<QString()> usbUpgradeStatus;
};
OutputLinks& outputLinks();

// Connects the USB upgrade of the engine to the panel: its status text to the link screen,
// its firmware-update display to the home window (the engine's calls cross to the GUI thread,
// which finds the window there). Filled before the engine's thread starts.
void linkUsbUpgrade();

namespace output_ports {

constexpr int kPortsPerFpga = 16;
constexpr int kPorts = 32;

struct PortGeometry {
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t w = 0;
    uint16_t h = 0;
};
// Port 0..31 (16 per FPGA) from the FPGA's parameter image; all 0 without the engine.
PortGeometry portGeometry(int port);

}  // namespace output_ports
