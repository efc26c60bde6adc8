#pragma once
// The standard simulated board: every chip of the wiring table (plat::wiring::kChips)
// attached where the table puts it, with the model its kind names. A bare board (what
// plat::sim::board() gives first) has the device nodes but no chip; tests attach only
// what they test.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/board_wiring.h"
#include "platform/sim/chip_model.h"

namespace plat::sim {

class SimBoard;

// Makes the model of one table entry (it may read the entry's lines, address, store).
using ModelFactory = std::function<std::shared_ptr<ChipModel>(const wiring::ChipWiring& chip)>;

// Model kinds that exist, by the `model` column of the table. A new chip model adds
// its line to the catalog in standard_board.cpp.
const std::map<std::string, ModelFactory>& modelCatalog();

// Attaches every chip of the table whose model exists; one line per chip for the log
// ("fpga0: FPGA 0 (sending card) on /dev/spidev32766.1: no model yet").
std::vector<std::string> buildStandardBoard(SimBoard& board);

// Receiving cards behind a few output ports, as a demonstration board is cabled: FPGA 0
// ports 0 and 1 with 8 cards each (a multi-function card with a light sensor first on
// port 1), FPGA 1 port 0 with 4. Lines for the log.
std::vector<std::string> plugDemoCards(SimBoard& board);

// Board-control commands "chips" (every chip attached, with its misuse count) and
// "chip NAME WORDS..." (the model's own commands), and "clock" (board time, wall clock).
void registerChipCommands();

}  // namespace plat::sim
