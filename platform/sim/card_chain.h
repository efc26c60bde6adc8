#pragma once
// A chain of LED receiving cards behind one Ethernet output port of a sending-card FPGA.
// The cards' firmware is not ours; this model fixes one reading of it (docs/board.md,
// "Receiving cards"): every frame is checked (XOR checksum, port bits), applied to the
// addressed cards, and answered by the policy of the answering card.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/byte_log.h"

namespace plat::sim {

enum class CardAnswerPolicy { Answer, Silent, BadChecksum, WrongTag };

struct SimCard {
    static constexpr size_t kReceivedBytes = 256 * 1024;
    std::map<uint32_t, uint8_t> memory;          // sparse card memory (0x60 / 0x61)
    std::vector<uint8_t> lastRegisterWrite;      // 0xA0 argument bytes
    unsigned saves = 0;                          // 0x81
    unsigned activations = 0;                    // 0xB4
    unsigned reconfigurations = 0;               // 0x84
    unsigned frames = 0;                         // frames addressed to this card
    ByteLog<std::vector<uint8_t>> received{inspectionLogBudget(kReceivedBytes)};  // those frames, the newest within the budget
    uint8_t mappingDisplay = 0;                  // 0xA0 03 0F 01 xx
    uint32_t configId = 0;
    bool lost = false;                           // lost its configuration
    CardAnswerPolicy policy = CardAnswerPolicy::Answer;
    unsigned delayTicks = 0;                     // answer that many 10 ms ticks late
    bool multiFunction = false;                  // carries the light sensor
    uint8_t light = 16;                          // sensor level 1..16
};

struct CardAnswer {
    std::vector<uint8_t> bytes;
    unsigned delayTicks = 0;
};

class CardChain {
public:
    explicit CardChain(size_t cards = 0) : cards(cards) {}

    // One frame on the wire of port `port` (0..15 of its FPGA). Returns the answers; a
    // frame the chain cannot take (checksum, port bits) is dropped and counted, and
    // `fault` names why.
    std::vector<CardAnswer> receive(const uint8_t* frame, size_t length, int port, std::string* fault);

    std::vector<SimCard> cards;
    bool broadcastAllAnswer = false;   // every addressed card answers a 0x0FFE / 0x0FFF frame
    unsigned dropped = 0;

    // The status byte of a search answer: 0 for plain cards, 1 with a multi-function card.
    uint8_t portStatus() const;
};

}  // namespace plat::sim
