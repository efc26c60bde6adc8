#include "platform/sim/card_chain.h"

namespace plat::sim {

namespace {

constexpr uint16_t kAllCards = 0x0FFF;
constexpr uint16_t kAllOnPort = 0x0FFE;
constexpr uint8_t kOpWrite = 0x60, kOpRead = 0x61, kOpRegisters = 0xA0, kOpSave = 0x81, kOpActivate = 0xB4,
                  kOpReconfigure = 0x84, kOpSearch = 0x10;
constexpr uint32_t kSensorAddress = 0x02000000;
constexpr uint16_t kMultiFunctionBit = 0x4000;
constexpr size_t kSensorBytes = 128;
constexpr size_t kMaxReadBack = 1024 - 12;  // an answer fits the pair's receive RAM

uint8_t xorOf(const uint8_t* p, size_t n) {
    uint8_t x = 0;
    for (size_t k = 0; k < n; ++k) x ^= p[k];
    return x;
}
uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Header of an answer from `card` (index, with the port's bits) to the frame's source.
std::vector<uint8_t> answerHead(const uint8_t* f, uint16_t source, uint8_t opcode) {
    return {f[2], f[3], uint8_t(source), uint8_t(source >> 8), 0x10, f[5], f[6], f[7], 0, opcode, 0};
}

// Applies the policy of the answering card and closes the frame with its checksum.
void finish(std::vector<uint8_t>& a, const SimCard& card, std::vector<CardAnswer>& out) {
    if (card.policy == CardAnswerPolicy::Silent) return;
    if (card.policy == CardAnswerPolicy::WrongTag) a[5] = uint8_t(a[5] + 1);
    uint8_t sum = xorOf(a.data(), a.size());
    if (card.policy == CardAnswerPolicy::BadChecksum) sum ^= 0x5A;
    a.push_back(sum);
    out.push_back({std::move(a), card.delayTicks});
}

void note(SimCard& c, const uint8_t* f, size_t n) {
    ++c.frames;
    c.received.push(std::vector<uint8_t>(f, f + n));
}

}  // namespace

uint8_t CardChain::portStatus() const {
    for (const SimCard& c : cards)
        if (c.multiFunction) return 1;
    return 0;
}

std::vector<CardAnswer> CardChain::receive(const uint8_t* f, size_t n, int port, std::string* fault) {
    std::vector<CardAnswer> out;
    if (n < 11 || xorOf(f, n - 1) != f[n - 1]) {
        ++dropped;
        if (fault) *fault = "card frame with a bad checksum";
        return out;
    }
    const uint16_t dest = get16(f);
    const uint16_t index = dest & 0x0FFF;
    if (dest != kAllCards && (dest & 0x8000)) {
        ++dropped;
        if (fault) *fault = "card frame to a controller address";
        return out;
    }
    if (dest != kAllCards && ((dest >> 12) & 3) != (port & 3)) {
        ++dropped;
        if (fault) *fault = "card frame whose port bits are not its port's";
        return out;
    }
    if (cards.empty()) return out;
    const uint16_t portBits = uint16_t((port & 3) << 12);
    const uint8_t opcode = f[9];
    const bool broadcast = index == kAllCards || index == kAllOnPort;

    if (opcode == kOpSearch) {
        // one answer for the whole chain, from its first card
        const SimCard& first = cards.front();
        for (SimCard& c : cards) note(c, f, n);
        std::vector<uint8_t> a = answerHead(f, portBits, kOpSearch);
        a[10] = 0;
        a.push_back(uint8_t(cards.size()));
        a.push_back(uint8_t(cards.size() >> 8));
        a.push_back(portStatus());
        a.resize(18, 0);
        const uint32_t wanted = n >= 22 ? get32(f + 17) : 0;
        // the answering card's own id: the controller tells its screens' chains apart by it
        for (int k = 0; k < 4; ++k) a.push_back(uint8_t(first.configId >> (8 * k)));
        uint8_t result = 0xFF;
        if (n >= 22 && (f[16] & 1)) {
            for (size_t k = 0; k < cards.size(); ++k)
                if (cards[k].lost || cards[k].configId != wanted) {
                    result = uint8_t(k);
                    break;
                }
        }
        a.push_back(result);
        finish(a, first, out);
        return out;
    }

    std::vector<size_t> addressed;
    if (dest & kMultiFunctionBit) {
        // bit 14: the port's multi-function card, wherever it sits in the chain
        for (size_t k = 0; k < cards.size(); ++k)
            if (cards[k].multiFunction) {
                addressed.push_back(k);
                break;
            }
    } else if (broadcast) {
        for (size_t k = 0; k < cards.size(); ++k) addressed.push_back(k);
    } else if (index < cards.size()) {
        addressed.push_back(index);
    }
    for (size_t k : addressed) {
        SimCard& c = cards[k];
        note(c, f, n);
        switch (opcode) {
        case kOpWrite:
            if (n >= 19) {
                const uint32_t at = get32(f + 10);
                const size_t len = get16(f + 14);
                for (size_t b = 0; b < len && 18 + b < n - 1; ++b) c.memory[at + uint32_t(b)] = f[18 + b];
            }
            break;
        case kOpRegisters:
            c.lastRegisterWrite.assign(f + 10, f + n - 1);
            if (n >= 15 && f[10] == 0x03 && f[11] == 0x0F && f[12] == 0x01) c.mappingDisplay = f[13];
            break;
        case kOpSave: ++c.saves; break;
        case kOpActivate: ++c.activations; break;
        case kOpReconfigure: ++c.reconfigurations; break;
        default: break;
        }
    }
    const size_t answering = broadcast && !broadcastAllAnswer ? std::min<size_t>(1, addressed.size()) : addressed.size();
    for (size_t i = 0; i < answering; ++i) {
        const size_t k = addressed[i];
        const SimCard& c = cards[k];
        std::vector<uint8_t> a = answerHead(f, uint16_t(portBits | k), opcode);
        if (opcode == kOpRead && n >= 17) {
            const uint32_t at = get32(f + 10);
            const size_t len = std::min<size_t>(get16(f + 14), kMaxReadBack);
            if (c.multiFunction && at == kSensorAddress) {
                std::vector<uint8_t> data(kSensorBytes, 0);
                data[49] = 0xFF;
                data[52] = c.light;
                a.insert(a.end(), data.begin(), data.begin() + std::min(len, kSensorBytes));
            } else {
                for (size_t b = 0; b < len; ++b) {
                    auto it = c.memory.find(at + uint32_t(b));
                    a.push_back(it == c.memory.end() ? 0 : it->second);
                }
            }
        }
        finish(a, c, out);
    }
    return out;
}

}  // namespace plat::sim
