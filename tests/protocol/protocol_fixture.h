#pragma once
// Protocol world: the parameter store on the simulated board, a double of the engines
// the protocol calls, and helpers that build request frames as a PC does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
#include "core/store_fixture.h"
#include "protocol/control_frame.h"
#include "protocol/message_deal.h"
#include "protocol/pass_reply.h"
#include "protocol/protocol_engines.h"

namespace prototest {

// Records every call; FPGA registers and RAMs are plain arrays.
class FakeEngines : public ProtocolEngines {
public:
    struct RegWrite {
        unsigned reg;
        uint8_t mask, value;
        int fpga;
    };
    int fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga) override {
        std::lock_guard<std::mutex> l(m);
        regWrites.push_back({reg, mask, value, fpga});
        regs[fpga][reg] = uint8_t((regs[fpga][reg] & ~mask) | (value & mask));
        return kEngineOk;
    }
    int fpgaReadRegister(unsigned reg, int fpga, uint8_t* value) override {
        ++readsRunning;
        while (readHeld) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --readsRunning;
        *value = regs[fpga][reg];
        return kEngineOk;
    }
    int fpgaWriteRam(unsigned ram, unsigned address, const uint8_t* data, unsigned length, int fpga) override {
        std::lock_guard<std::mutex> l(m);
        ramWrites.push_back({ram, uint8_t(address), uint8_t(length), fpga});
        std::memcpy(rams[fpga][ram] + address, data, length);
        return kEngineOk;
    }
    int fpgaReadRam(unsigned ram, unsigned address, uint8_t* data, unsigned length, int fpga) override {
        std::memcpy(data, rams[fpga][ram] + address, length);
        return kEngineOk;
    }
    int totalCardCount(unsigned* count) override {
        *count = cards;
        return kEngineOk;
    }
    void clockChanged() override { ++clockChanges; }
    int c331FlashErase(unsigned sector, unsigned count, int kind) override {
        {
            std::lock_guard<std::mutex> l(m);
            ++flashErases;
        }
        ++erasesRunning;
        while (eraseHeld) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --erasesRunning;
        return kEngineOk;
    }
    // Answers a passed frame after `answerAfter` services; when < 0, at a service while
    // `grants` allows one more answer.
    int passToCards(const uint8_t* frame, unsigned length) override {
        if (restarting) {
            ++refusals;
            return kEngineRestarting;
        }
        passed.assign(frame, frame + length);
        {
            std::lock_guard<std::mutex> l(m);
            passedBy.push_back(g_passby_trans_port);
        }
        services = 0;
        return kEngineOk;
    }
    void serviceCardAnswers() override {
        const int n = ++services;
        if (answerAfter >= 0 ? n != answerAfter : !takeGrant()) return;
        std::vector<uint8_t> answer = passed;
        if (answer.size() < 3) return;  // nothing passed yet: no card to answer
        answer[0] = 0x10;  // to the PC
        answer[1] = 0xF0;
        answer.back() = 0;
        for (size_t i = 0; i + 1 < answer.size(); ++i) answer.back() ^= answer[i];
        const uint8_t port = g_passby_trans_port.exchange(ctl::kTransportNone);
        protocol_pass_reply(port, answer.data(), answer.size());
    }

    std::mutex m;
    std::vector<RegWrite> regWrites;
    std::vector<RegWrite> ramWrites;  // reg = RAM number, mask = address, value = length
    uint8_t regs[2][256] = {};
    uint8_t rams[2][64][4096] = {};
    unsigned cards = 0;
    int clockChanges = 0;
    int flashErases = 0;
    // While set, an erase lasts until it is cleared (a whole-flash erase takes a minute).
    std::atomic<bool> eraseHeld{false};
    std::atomic<int> erasesRunning{0};
    // While set, an FPGA register read lasts until it is cleared (it holds the link's thread).
    std::atomic<bool> readHeld{false};
    std::atomic<int> readsRunning{0};
    std::vector<uint8_t> passed;
    std::vector<uint8_t> passedBy;  // the transport of each pass-through, in the order they ran
    std::atomic<int> answerAfter{-1};
    std::atomic<int> grants{0};  // with answerAfter < 0: answers the cards may still give
    bool takeGrant() {
        int g = grants.load();
        while (g > 0 && !grants.compare_exchange_weak(g, g - 1)) {
        }
        return g > 0;
    }
    std::atomic<int> services{0};
    std::atomic<bool> restarting{false};  // an FPGA restarts: frames are refused, nothing sent
    std::atomic<int> refusals{0};
};

inline std::vector<uint8_t> frame(uint8_t group, const std::vector<uint8_t>& payload,
                                  uint16_t dst = ctl::kAddrController, uint8_t port = 0,
                                  uint16_t src = ctl::kAddrPc) {
    // Sized once and filled in place: GCC 12's optimiser takes an insert behind a
    // constant-size header for an overrun (-Warray-bounds) in a Release build.
    std::vector<uint8_t> f(ctl::kHeaderSize + payload.size() + 1);
    ctl::wr16(f.data() + ctl::kDst, dst);
    ctl::wr16(f.data() + ctl::kSrc, src);
    ctl::wr16(f.data() + ctl::kLen, uint16_t(payload.size()));
    f[ctl::kPort] = port;
    f[ctl::kGroup] = group;
    std::copy(payload.begin(), payload.end(), f.begin() + std::ptrdiff_t(ctl::kHeaderSize));
    uint8_t x = 0;
    for (size_t k = 0; k + 1 < f.size(); ++k) x ^= f[k];
    f.back() = x;
    return f;
}

inline std::vector<uint8_t> le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline std::vector<uint8_t> cat(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<uint8_t> out(a.size() + b.size());
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end(), out.begin() + std::ptrdiff_t(a.size()));
    return out;
}
inline std::vector<uint8_t> memWrite(uint32_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> p(8);
    ctl::wr32(p.data(), address);
    ctl::wr16(p.data() + 4, uint16_t(data.size()));
    return frame(ctl::kGroupWriteMemory, cat(p, data));
}
inline std::vector<uint8_t> memRead(uint32_t address, uint16_t length, uint8_t port = 0) {
    std::vector<uint8_t> p(6);
    ctl::wr32(p.data(), address);
    ctl::wr16(p.data() + 4, length);
    return frame(ctl::kGroupReadMemory, p, ctl::kAddrController, port);
}
inline std::vector<uint8_t> regWrite(unsigned reg, uint8_t mask, uint8_t value, uint16_t dst = ctl::kAddrController,
                                     uint8_t port = 0) {
    return frame(ctl::kGroupWriteRegisters, cat(le16(uint16_t(reg)), {mask, value}), dst, port);
}

struct Reply {
    bool present = false;
    std::vector<uint8_t> raw;
    uint8_t status = 0xEE;
    std::vector<uint8_t> data;
};

// Runs one frame through a handler and checks the reply's framing.
inline Reply deal(message_deal& d, const std::vector<uint8_t>& f) {
    Reply r;
    if (d.message_group_deal(f.data(), f.size(), r.raw) < 0) return r;
    r.present = true;
    EXPECT_GE(r.raw.size(), ctl::kMinFrame + 1);
    uint8_t x = 0;
    for (size_t i = 0; i + 1 < r.raw.size(); ++i) x ^= r.raw[i];
    EXPECT_EQ(x, r.raw.back()) << "reply BCC";
    EXPECT_EQ(ctl::rd16(r.raw.data() + ctl::kLen), r.raw.size() - ctl::kMinFrame) << "reply length field";
    EXPECT_EQ(ctl::rd16(r.raw.data() + ctl::kSrc), ctl::rd16(f.data() + ctl::kDst)) << "source and destination swapped";
    EXPECT_EQ(r.raw[ctl::kGroup], f[ctl::kGroup]);
    r.status = r.raw[ctl::kPayload];
    r.data.assign(r.raw.begin() + ctl::kPayload + 1, r.raw.end() - 1);
    return r;
}

class ProtocolTest : public storetest::StoreTest {
protected:
    void SetUp() override {
        storetest::StoreTest::SetUp();
        g_osd_update = 0;
        pc_window::clear();
        g_passby_trans_port = ctl::kTransportNone;
        g_app_reset_flag = 0;
        store = start();
    }
    void TearDown() override {
        installProtocolEngines(nullptr);
        storetest::StoreTest::TearDown();
    }
    void useFake() { installProtocolEngines(&fake); }
    VlxRamPara* store = nullptr;
    FakeEngines fake;
    message_deal handler;
};

}  // namespace prototest
