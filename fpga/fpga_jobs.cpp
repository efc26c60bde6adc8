// Receiving-card jobs of the job block: the dispatcher on the engine thread, parameter saving
// and the mapping switch on every port with cards, and the smart set-up that writes each card
// its cabinet's origin. Every wait counts ticks; a job that waits for an answer is woken by it.
#include <cstdio>
#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"

using namespace job_block;
using rcv::cardName;
using rcv::portName;

namespace {

constexpr uint32_t kBusyProgressTicks = 100;
constexpr uint32_t kReplyTicks = 1200;        // save, mapping, origin and reset frames
constexpr uint32_t kSavePerCardTicks = 100;   // a save takes longer on a long chain
constexpr uint32_t kEndPauseTicks = 200;
// Steps of one pass that need no wait follow each other; this bounds a pass.
constexpr int kStepsPerPass = 256;
constexpr int kDrainFrames = 16;

uint8_t step() { return u8(kStep); }
void setStep(uint8_t s) { setU8(kStep, s); }

}  // namespace

std::string rcv::twoDigits(unsigned v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02u", v);
    return b;
}
std::string rcv::portName(int port) { return "LED" + twoDigits(unsigned(port + 1)); }
std::string rcv::cardName(int port, unsigned card) { return portName(port) + " card " + std::to_string(card); }

// ---------------------------------------------------------------- dispatcher and shared parts

bool fpga_manage::card_job_deal() {
    const uint8_t op = operation();
    if (op == kNoJob) return false;
    for (int round = 0; round < kStepsPerPass; ++round) {
        uint8_t before[kSize];
        for (unsigned k = 0; k < kSize; ++k) before[k] = u8(k);
        runJobStep(op);
        if (operation() != op) break;
        bool moved = false;
        for (unsigned k = 0; k < kSize && !moved; ++k) moved = u8(k) != before[k];
        if (moved) continue;
        // waiting: an answer already on the line is taken now and the step follows in this pass
        if (!answerWaiting()) break;
        int took = 0;
        for (int i = 0; i < 2; ++i) took |= reg_IRQ_Dealwith(i);
        if (!took) break;
    }
    return true;
}

void fpga_manage::runJobStep(uint8_t op) {
    switch (op) {
    case kSmartSetup: SmartMapping_deal(); break;
    case kLoadScan: rcv_recovery_check_deal(RCV_SMART_FILE); break;
    case kSaveParams: save_para_deal(); break;
    case kMappingSwitch: mapping_enable_deal(); break;
    case kCheck: rcv_recovery_check_deal(RCV_CHECK); break;
    case kSelfRecovery: rcv_recovery_check_deal(RCV_RECOVERY); break;
    default:
        writeLogMsg(LOG_ERROR, "receiving-card job " + std::to_string(op) + " unknown: cleared");
        jobEnd();
        break;
    }
}

bool fpga_manage::answerWaiting() { return (bus.fpga0Interrupt.get() & 1) || (bus.fpga1Interrupt.get() & 1); }

// The PC's frames on the cards' bus hold the job: nothing moves until 80 ticks after the
// last one. The step's time stands still meanwhile and goes on after, so a job beside a
// busy PC ends in its own time plus the time the PC held the bus.
bool fpga_manage::jobHeldByPc() {
    const pc_window::State pc = pc_window::look();
    if (pc == pc_window::kNone) {
        resumeStepTime();
        return false;
    }
    if (pc == pc_window::kEnded) {
        plat::Locker<plat::RecursiveMutex> lock(port_mutex);
        searched_ports = 0;
    }
    g_change.job_progress_time = G_timeTicks;
    if (!job_held_) {
        job_held_ = true;
        job_held_since_ = G_timeTicks;
    }
    return true;
}

// The ticks the step had run before the hold are kept; a step (re)started during the hold
// begins now.
void fpga_manage::resumeStepTime() {
    if (!job_held_) return;
    job_held_ = false;
    const uint32_t now = G_timeTicks;
    const uint32_t sinceStep = now - stepTime();
    const uint32_t held = now - job_held_since_;
    setU32(kStepTime, now - (sinceStep > held ? sinceStep - held : 0));
}

void fpga_manage::jobProgress(int percent) {
    const EngineEvents& events = engineEvents();
    if (events.jobProgress) events.jobProgress(percent);
}

// While a job waits: 1..99 going round, one step every 100 ticks.
void fpga_manage::jobBusyProgress() {
    if (Utils::getTimeSpace(g_change.job_progress_time) <= kBusyProgressTicks) return;
    g_change.job_busy_count = g_change.job_busy_count >= 99 ? 1 : g_change.job_busy_count + 1;
    jobProgress(int(g_change.job_busy_count));
    g_change.job_progress_time = G_timeTicks;
}

// The block is free again before the 100 that closes the ring reaches the screen.
void fpga_manage::jobEnd(bool closeRing) {
    {
        plat::Locker<plat::RecursiveMutex> lock(port_mutex);
        reply_port_ = -1;
        check_port = -1;
    }
    setStep(0);
    setU8(kOperation, kNoJob);
    if (closeRing) jobProgress(100);
}

uint32_t fpga_manage::stepTime() const { return u32(kStepTime); }

// An answer still on the interrupt line is taken before its wait may run out: the tick can
// move between the send and the pass that reads it. A line that holds nothing to take (an
// FPGA restarting or dropped out) does not keep the wait from running out.
bool fpga_manage::answerTimedOut(uint32_t limit) {
    if (Utils::getTimeSpace(stepTime()) <= limit) return false;
    if (!answerWaiting()) return true;
    int took = 0;
    for (int i = 0; i < 2; ++i) took |= reg_IRQ_Dealwith(i);
    return !took && u8(kReply) == 0;
}
void fpga_manage::restartStepTime() { setU32(kStepTime, G_timeTicks); }

int fpga_manage::job_send(const uint8_t* frame, uint16_t length, int port) {
    if (!frame || length < rcv::kMinFrame || port < 0 || port >= rcv::kGlobalPorts) return 0;
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    // answers still waiting (a second card's answer to a broadcast, a late one) are taken
    // before the flag is cleared, so none of them passes for this frame's answer
    for (int k = 0; k < kDrainFrames && answerWaiting(); ++k) {
        int took = 0;
        for (int i = 0; i < 2; ++i) took |= reg_IRQ_Dealwith(i);
        if (!took) break;
    }
    setU8(kReply, 0);
    reply_port_ = port;
    reply_opcode_ = frame[9];
    return Send_to_port(frame, length, port & 15, port >> 4);
}

// Called by the receive path under port_mutex for an answer of a card to the controller.
void fpga_manage::noteCardAnswer(int fpga, int slot, const uint8_t* f) {
    const int port = 16 * fpga + 4 * (slot >> 1) + ((f[3] >> 4) & 3);
    if (port != reply_port_ || f[9] != reply_opcode_) return;
    reply_port_ = -1;  // one answer per frame: a second one is no answer to the next
    setU8(kReply, 1);
}

// The job ran to its end; what never answered is logged and shown.
void fpga_manage::reportUnanswered(const char* job) {
    if (unanswered_.empty()) return;
    std::string text;
    for (const std::string& s : unanswered_) text += (text.empty() ? "" : ", ") + s;
    writeLogMsg(LOG_WARNING, std::string(job) + ": no answer from " + text);
    const EngineEvents& events = engineEvents();
    if (events.jobUnanswered) events.jobUnanswered(job, unanswered_);
    unanswered_.clear();
}

// ---------------------------------------------------------------- parameter saving, mapping switch

void fpga_manage::save_para_deal() { saveOrMappingStep(true); }
void fpga_manage::mapping_enable_deal() { saveOrMappingStep(false); }

// One frame to all cards of each port with cards, port after port, each waiting for its
// answer or its time-out.
void fpga_manage::saveOrMappingStep(bool save) {
    if (jobHeldByPc()) return;
    switch (step()) {
    case 0:
        setU8(kPort, 0);
        unanswered_.clear();
        setStep(1);
        break;
    case 1: {
        const int port = u8(kPort);
        if (port >= rcv::kGlobalPorts) {
            setStep(4);
            break;
        }
        const uint16_t cards = get_port_card_num(port);
        setU16(kCardsOnPort, cards);
        if (cards)
            setStep(2);
        else
            setU8(kPort, uint8_t(port + 1));
        break;
    }
    case 2: {
        const int port = u8(kPort);
        uint8_t f[32];
        const int n = save ? save_para_cmd_create(f, port & 15, sizeof f) : mapping_enable_cmd_create(port & 15, f, sizeof f);
        const bool sent = n > 0 && job_send(f, uint16_t(n), port);
        jobProgress(port * 100 / 33);
        setU8(kPort, uint8_t(port + 1));
        g_change.job_busy_count = 0;
        g_change.job_progress_time = G_timeTicks;
        restartStepTime();
        if (sent) {
            setStep(3);
        } else {
            unanswered_.push_back(portName(port));
            setStep(1);
        }
        break;
    }
    case 3: {
        if (u8(kReply)) {
            setU8(kReply, 0);
            setStep(1);
            break;
        }
        const uint32_t limit = save ? kReplyTicks + kSavePerCardTicks * u16(kCardsOnPort) : kReplyTicks;
        if (answerTimedOut(limit)) {
            unanswered_.push_back(portName(u8(kPort) - 1));
            setStep(1);
            break;
        }
        jobBusyProgress();
        break;
    }
    case 4:
        jobProgress(95);
        restartStepTime();
        setStep(9);
        break;
    case 9:
        if (Utils::getTimeSpace(stepTime()) > kEndPauseTicks) {
            reportUnanswered(save ? "parameter saving" : "mapping switch");
            jobEnd();
        }
        break;
    default:
        writeLogMsg(LOG_ERROR, std::string(save ? "parameter saving" : "mapping switch") + ": step " +
                                   std::to_string(step()) + " undefined, job ended");
        jobEnd();
        break;
    }
}

// ---------------------------------------------------------------- smart set-up

int fpga_manage::get_rcvcard_x_y(int p, uint16_t* x, uint16_t* y) {
    const int w = line_type[line_field::kCabinetWidth] | line_type[line_field::kCabinetWidth + 1] << 8;
    const int h = line_type[line_field::kCabinetHeight] | line_type[line_field::kCabinetHeight + 1] << 8;
    const int rows = line_type[line_field::kRows], cols = line_type[line_field::kColumns];
    const int pattern = line_type[line_field::kPattern];
    if (!x || !y || pattern < 1 || pattern > 16 || rows == 0 || cols == 0 || p < 0 || p >= rows * cols) return 0;
    // patterns 1..4 and 9..11 run row by row, the others column by column; a is the row or
    // column visited, b the place in it; snake patterns run every second one backwards
    const bool byRow = pattern <= 4 || (pattern >= 9 && pattern <= 11);
    const int a = byRow ? p / cols : p / rows, b = byRow ? p % cols : p % rows;
    const bool back = a & 1;
    int r = 0, c = 0;
    switch (pattern) {
    case 1: r = rows - 1 - a; c = back ? b : cols - 1 - b; break;
    case 2: r = rows - 1 - a; c = back ? cols - 1 - b : b; break;
    case 3: r = a; c = back ? b : cols - 1 - b; break;
    case 4: r = a; c = back ? cols - 1 - b : b; break;
    case 5: r = back ? b : rows - 1 - b; c = cols - 1 - a; break;
    case 6: r = back ? rows - 1 - b : b; c = cols - 1 - a; break;
    case 7: r = back ? rows - 1 - b : b; c = a; break;
    case 8: r = back ? b : rows - 1 - b; c = a; break;
    case 9: r = rows - 1 - a; c = cols - 1 - b; break;
    case 10: r = a; c = b; break;
    case 11: r = rows - 1 - a; c = b; break;
    case 12:  // columns from the left, each bottom to top (as 15)
    case 15: r = rows - 1 - b; c = a; break;
    case 13: r = rows - 1 - b; c = cols - 1 - a; break;
    case 14: r = b; c = a; break;
    default: r = b; c = cols - 1 - a; break;  // 16
    }
    *x = uint16_t(c * w);
    *y = uint16_t(r * h);
    return 1;
}

void fpga_manage::SmartMapping_deal() {
    if (jobHeldByPc()) return;
    const int port = u8(kPort);
    switch (step()) {
    case 0: {
        const int pattern = line_type[line_field::kPattern], linePort = line_type[line_field::kPort];
        const int rows = line_type[line_field::kRows], cols = line_type[line_field::kColumns];
        if (pattern < 1 || pattern > 16 || rows == 0 || cols == 0 || linePort >= rcv::kGlobalPorts) {
            writeLogMsg(LOG_ERROR, "smart set-up refused: pattern " + std::to_string(pattern) + ", " +
                                       std::to_string(rows) + " rows, " + std::to_string(cols) + " columns, port " +
                                       std::to_string(linePort + 1));
            jobEnd();
            return;
        }
        setU16(kCard, 0);
        setU8(kPort, uint8_t(linePort));
        unanswered_.clear();
        setStep(1);
        break;
    }
    case 1: {
        const uint16_t cards = get_port_card_num(port);
        setU16(kCardsOnPort, cards);
        if (cards == 0)
            setStep(4);
        else if (u16(kCard) < cards)
            setStep(2);
        else
            setStep(5);
        break;
    }
    case 2: {
        const uint16_t card = u16(kCard), cards = u16(kCardsOnPort);
        uint16_t x = 0, y = 0;
        bool sent = false;
        if (get_rcvcard_x_y(card, &x, &y)) {
            uint8_t f[32];
            const int n = rcv_card_cmd_create(f, port & 15, x, y, sizeof f);
            sent = n > 0 && job_send(f, uint16_t(n), port);
            if (!sent) unanswered_.push_back(cardName(port, card));
        } else {
            // more cards than cabinets: this one has no place on the grid
            writeLogMsg(LOG_WARNING, "smart set-up: " + cardName(port, card) + " lies past the grid, no origin sent");
        }
        setU16(kCard, uint16_t(card + 1));
        jobProgress((card + 1) * 100 / (cards + 1));
        restartStepTime();
        g_change.job_progress_time = G_timeTicks;
        g_change.job_busy_count = 0;
        setStep(sent ? 3 : 1);
        break;
    }
    case 3:
        if (u8(kReply)) {
            setU8(kReply, 0);
            setStep(1);
        } else if (answerTimedOut(kReplyTicks)) {
            unanswered_.push_back(cardName(port, u16(kCard) - 1u));
            setStep(1);
        } else {
            jobBusyProgress();
        }
        break;
    case 4:
        jobProgress(90);
        setStep(9);
        restartStepTime();
        break;
    case 5: {
        const uint16_t card = u16(kCard), cards = u16(kCardsOnPort);
        if (card != cards) {
            setStep(4);
            break;
        }
        // every card of the port takes its new origin: 01 FF 01 FF
        const SCAN_PARA scan{0x01, 0xFF, 0xFF};
        uint8_t f[32];
        const int n = ram_reset_cmd_create(f, scan, port & 15, sizeof f);
        const bool sent = n > 0 && job_send(f, u16(kFrameLength), port);
        jobProgress(card * 100 / (cards + 1));
        setU16(kCard, uint16_t(card + 1));
        restartStepTime();
        g_change.job_progress_time = G_timeTicks;
        g_change.job_busy_count = 0;
        if (sent) {
            setStep(6);
        } else {
            unanswered_.push_back(portName(port));
            setStep(5);
        }
        break;
    }
    case 6:
        if (u8(kReply)) {
            setU8(kReply, 0);
            setStep(5);
        } else if (answerTimedOut(kReplyTicks)) {
            unanswered_.push_back(portName(port));
            setStep(5);
        } else {
            jobBusyProgress();
        }
        break;
    case 9:
        if (Utils::getTimeSpace(stepTime()) > kEndPauseTicks) {
            reportUnanswered("smart set-up");
            jobEnd();
        }
        break;
    default:
        writeLogMsg(LOG_ERROR, "smart set-up: step " + std::to_string(step()) + " undefined, job ended");
        jobEnd();
        break;
    }
}
