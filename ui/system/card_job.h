#pragma once
// Hand-over of a receiving-card job to the FPGA thread through the job block g_send_para:
// byte 0 the operation, byte 1 its step, parameters in the other bytes. The screen writes
// the parameters first and the operation last; the FPGA thread clears bytes 0 and 1 when
// the job is done and ends the progress ring with 100.
#include <cstdint>

#include "fpga/job_block.h"

#include <QStringList>

class QDialog;

namespace card_job {

// The operations and the block's bytes are named in fpga/job_block.h.
using job_block::Operation;
using job_block::kSmartSetup;
using job_block::kLoadScan;
using job_block::kSaveParams;
using job_block::kMappingSwitch;
using job_block::kCheck;
using job_block::kSelfRecovery;
constexpr unsigned kArgumentWord = job_block::kArgument;   // u32, job 4
constexpr unsigned kRecoveryMode = job_block::kSubStep;    // self-recovery sets 16
constexpr unsigned kUpdateCount = job_block::kResult;      // u16 check result

// Why a start is refused, or Ok. A start is refused while a progress ring is up, while the
// block still holds a job (the engine clears it before its 100 arrives here) and while no
// FPGA thread would take it: each of these would leave a ring that never closes.
enum class Refusal { Ok, RingUp, JobInBlock, NoRunner };
Refusal refusal();
const char* refusalText(Refusal r);

// The operation byte now in the block (0: none).
uint8_t operation();
// Raises the progress ring on `screen`, connects the screen's sig_qround_bar_update(int)
// to it (queued: the engine emits on its own thread) and hands the operation over, step 0,
// after everything the caller has written. Returns false, changing nothing, when refused.
bool start(QDialog* screen, uint8_t op);

// Connects the FPGA engine's reports to the screens, each carried over to the GUI thread:
// progress to the sig_qround_bar_update(int) of the screen whose ring is up, the check
// report to AdvancedOption::reportRcvUpdate, what never answered to unanswered(), a failed
// scan-file load to SmartMapping::loadFailed.
void linkEngine();
// Where the last job that ended had no answer ("parameter saving: LED03", ...); GUI thread.
QStringList unanswered();

// Parameters of the block (little-endian), written before start().
void setU32(unsigned offset, uint32_t value);
uint16_t u16(unsigned offset);

}  // namespace card_job
