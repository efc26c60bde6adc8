#include "ui/output/output_links.h"

#include "core/vlxrampara.h"

OutputLinks& outputLinks() {
    static OutputLinks links;
    return links;
}

namespace output_ports {

unsigned xOffset(int index) {
    static const unsigned kX[kPortsPerFpga] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
    return index >= 0 && index < kPortsPerFpga ? kX[index] : 8;
}

PortGeometry portGeometry(int port) {
    PortGeometry g;
    if (port < 0 || port >= kPorts || !outputLinks().fpgaParamImage) return g;
    const unsigned char* image = outputLinks().fpgaParamImage(uint8_t(port / kPortsPerFpga));
    if (!image) return g;
    const unsigned x = xOffset(port % kPortsPerFpga);
    // byte by byte: offsets 19 and 43 are odd
    g.x = VlxRamPara::getU16(image, x);
    g.y = VlxRamPara::getU16(image, x + 2);
    g.w = VlxRamPara::getU16(image, x + 4);
    g.h = VlxRamPara::getU16(image, x + 6);
    return g;
}

}  // namespace output_ports
