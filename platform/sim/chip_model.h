#pragma once
// Base of every chip model of the simulated board. A model is one state struct per
// chip with one entry point per bus event; it learns with every event what the real
// chip would see (the transfer context: node or bus path, mode, bits per word, clock,
// the board's line levels and time) and never calls the driver that talks to it.
//
// Misuse: a model reports the driver's mistakes (a command without write enable, a
// write while protected, a frame at the wrong mode) with misuse(); tests assert the
// count stays 0, so every model checks our drivers for free.
#include <mutex>
#include <string>
#include <vector>

namespace plat::sim {

class SimBoard;

class ChipModel {
public:
    explicit ChipModel(std::string name = std::string()) : name_(std::move(name)) {}
    virtual ~ChipModel() = default;
    ChipModel(const ChipModel&) = delete;
    ChipModel& operator=(const ChipModel&) = delete;

    const std::string& name() const { return name_; }

    // Called once when the board attaches the model: watch lines, open stores here.
    virtual void attached(SimBoard& board) {}
    // A "chip NAME WORDS..." board-control command; answer "OK ..." or "ERR ...".
    virtual std::string control(const std::vector<std::string>& args) { return "ERR no commands"; }

    unsigned misuseCount() const;
    std::vector<std::string> misuses() const;

protected:
    // One line per driver mistake; kept (the last 64) and counted.
    void misuse(const std::string& what);

private:
    friend class SimBoard;
    std::string name_;
    mutable std::mutex misuseMutex_;
    unsigned misuseCount_ = 0;
    std::vector<std::string> misuses_;
};

}  // namespace plat::sim
