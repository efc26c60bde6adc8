#include "platform/sim/sim_fpga_board.h"

#include "platform/fpga_wiring.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"

namespace plat::sim {

using namespace fpga_wiring;

const uint8_t kFlashChip2Uid[8] = {0xD2, 0x61, 0x3A, 0x0C, 0x47, 0x15, 0x88, 0x02};
const uint8_t kFlashChip3Uid[8] = {0xD2, 0x61, 0x3A, 0x0C, 0x47, 0x15, 0x88, 0x03};

std::shared_ptr<FpgaChips> attachFpgaChips(SimBoard& board) {
    auto chips = std::make_shared<FpgaChips>();
    SimBoard* b = &board;
    auto readLine = [b](uint32_t offset) { return b->reg16(offset); };
    auto writeLine = [b](uint32_t offset, uint16_t level) { b->setReg16(offset, level); };

    // Power-on levels: the reset lines are pulled up (FPGAs running), both selects idle high.
    for (uint32_t line : {kFpga0Reset, kFpga1Reset, kFpga0Select, kFpga1Select}) board.setReg16(line, kHigh);

    const SimFpgaWiring wiring[2] = {
        {kFpga0Select, kFpga1Select, kFpga0Command, 0, kFpga0Reset, kFpga0Interrupt},
        {kFpga1Select, kFpga0Select, kFpga1CommandA, kFpga1CommandB, kFpga1Reset, kFpga1Interrupt},
    };
    for (int i = 0; i < 2; ++i) {
        chips->fpga[i] = std::make_shared<SimFpga>("fpga" + std::to_string(i), wiring[i], readLine, writeLine);
        board.attachSpi(kSpiNode[i], chips->fpga[i],
                        gpioLinesAre({{wiring[i].select, kLow}, {wiring[i].otherSelect, kHigh}}));
    }

    plat::makeDirs("/sim");
    const NorPart& part = norPart("nor-8m");
    chips->flash[0] = std::make_shared<SpiNorFlash>(part, plat::path("/sim/fpga-flash2.bin"), kFlashChip2Uid);
    chips->flash[1] = std::make_shared<SpiNorFlash>(part, plat::path("/sim/fpga-flash3.bin"), kFlashChip3Uid);
    for (auto& f : chips->flash) f->setBusyPolls(2);
    board.attachSpi(kSpiNode[kLinkFlashChip2], chips->flash[0],
                    gpioLinesAre({{kFpga0FlashAccess, kLow}, {kFpga0Select, kLow}, {kFpga1Select, kHigh}}));
    board.attachSpi(kSpiNode[kLinkFlashChip3], chips->flash[1],
                    gpioLinesAre({{kFpga1FlashAccessA, kLow},
                                  {kFpga1FlashAccessB, kLow},
                                  {kFpga1Select, kLow},
                                  {kFpga0Select, kHigh}}));
    return chips;
}

FpgaChips& fpgaChips() { return *board().fpgaChips_; }

}  // namespace plat::sim
