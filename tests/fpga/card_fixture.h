#pragma once
// The engine open with both FPGAs marked up (no power-up run), card chains plugged on
// the simulated FPGAs' ports, and helpers to run engine passes.
#include <QObject>

#include "core/utils.h"
#include "fpga/engine_events.h"
#include "fpga/job_block.h"
#include "fpga_fixture.h"

namespace fpgatest {

using plat::sim::CardChain;
using plat::sim::CardFrameRecord;

inline uint8_t bcc(const uint8_t* p, size_t n) { return Utils::BCC(p, unsigned(n)); }
inline bool checksumOk(const Bytes& f) { return !f.empty() && bcc(f.data(), f.size() - 1) == f.back(); }
inline uint16_t u16(const Bytes& f, size_t at) { return uint16_t(f[at] | (f[at + 1] << 8)); }

class CardEngineTest : public OpenEngineTest {
protected:
    void SetUp() override {
        OpenEngineTest::SetUp();
        pc_window::clear();
        g_passby_trans_port = 255;
        std::memset(g_send_para, 0, sizeof g_send_para);
        markUp();
        QObject::connect(ram, &VlxRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
    }
    // Test hook: both FPGAs count as up without running their start-up.
    void markUp() {
        for (int i = 0; i < 2; ++i) {
            e->write_to_register(FPGA_VREG_STATE, 0xFF, FPGA_STATE_RUNNING, i);
            e->start_state[i] = 7;
            e->check_state[i] = 18;
            e->image_loaded[i] = 1;
        }
    }
    void TearDown() override {
        engineEvents() = EngineEvents{};
        OpenEngineTest::TearDown();
    }
    SimFpga& fpga(int i) { return *chips->fpga[i]; }
    // n cards on global port 0..31, counted by the engine's own card search.
    void plug(int port, size_t n) { fpga(port / 16).attachCards(port % 16, n); }
    void searchCards() {
        for (int pass = 0; pass < 3; ++pass) {
            G_timeTicks.fetch_add(80);
            tick();
        }
    }
    // The cards of global port `port`.
    std::vector<plat::sim::SimCard>& cardsOn(int port) { return fpga(port / 16).chain(port % 16)->cards; }
    // Hands job `op` over as a screen does and records what the engine tells the panel.
    void startJob(uint8_t op) {
        engineEvents().jobProgress = [this](int p) { progress.push_back(p); };
        engineEvents().jobUnanswered = [this](const std::string&, const std::vector<std::string>& where) {
            unanswered = where;
        };
        engineEvents().checkReport = [this](const std::vector<std::string>& list, bool valid) {
            report = list;
            reportValid = valid;
            ++reports;
        };
        job_block::setU8(job_block::kStep, 0);
        job_block::setU8(job_block::kOperation, op);
    }
    // Engine passes, one per tick, until the job has ended; the ticks it took (-1: never).
    int runJob(int limit = 20000) {
        for (int k = 1; k <= limit; ++k) {
            tick();
            if (job_block::operation() == job_block::kNoJob) return k;
        }
        return -1;
    }
    std::vector<int> progress;
    std::vector<std::string> unanswered;
    std::vector<std::string> report;
    bool reportValid = false;
    int reports = 0;
    // Sent frames (host to cards) on a port, in order.
    std::vector<Bytes> sent(int f, int port) {
        std::vector<Bytes> out;
        for (const CardFrameRecord& r : fpga(f).cardLog())
            if (!r.answer && r.port == port) out.push_back(r.bytes);
        return out;
    }
    int count(int code) const { return int(std::count(codes.begin(), codes.end(), code)); }
    std::vector<int> codes;
};

}  // namespace fpgatest
