#pragma once
// What the output, picture and link screens read of the sending-card engine. The engine fills
// these when it exists; an empty entry means "no engine": port geometry reads 0 and the
// upgrade has no status text. Whether both FPGAs run comes from shellLinks().fpgaRunning.
#include <QString>

#include <cstdint>
#include <functional>

struct OutputLinks {
    // The FPGA's 1024-byte parameter image (fpga 0 or 1), or null while there is none.
    std::function<const unsigned char*(uint8_t fpga)> fpgaParamImage;
    // The engine's text of the last USB upgrade (its start and end times).
    std::function<QString()> usbUpgradeStatus;
};
OutputLinks& outputLinks();

namespace output_ports {

constexpr unsigned kParamImageSize = 1024;
constexpr int kPortsPerFpga = 16;
constexpr int kPorts = 32;

// Byte offset of output port `index` (0..15)'s X in an FPGA's parameter image; Y, width and
// height follow at +2, +4, +6 (u16 little-endian, some at odd offsets).
unsigned xOffset(int index);

struct PortGeometry {
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t w = 0;
    uint16_t h = 0;
};
// Port 0..31 (16 per FPGA); all 0 without the engine's image.
PortGeometry portGeometry(int port);

}  // namespace output_ports
