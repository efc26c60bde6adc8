#pragma once
// What the sending-card engine tells the front panel. The GUI side fills the entries at
// start-up, and each entry carries its call over to the GUI thread (queued): the engine
// never touches a screen object. An empty entry means nobody listens.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct EngineEvents {
    // Progress of the running receiving-card job, 0..100; 100 closes the ring.
    std::function<void(int percent)> jobProgress;
    // Result of a receiving-card check: the cards needing an update ("SS/PP/CC/NN") and
    // whether the list is valid (a check that could not run reports an invalid list).
    std::function<void(const std::vector<std::string>& updateList, bool listValid)> checkReport;
    // A job ended at 100 although some of what it sent was never answered: which job
    // ("parameter saving", ...) and where ("LED03", "LED17 card 2").
    std::function<void(const std::string& job, const std::vector<std::string>& unanswered)> jobUnanswered;
    // A receiving-card job ended without doing its work: its operation byte (fpga/job_block.h)
    // and why. The ring still closes with 100, after this.
    std::function<void(uint8_t operation, const std::string& why)> jobFailed;
    // Full-screen firmware-update display while flashes are written.
    std::function<void()> firmwareUpdateStart;
    std::function<void()> firmwareUpdateOver;
};
EngineEvents& engineEvents();
