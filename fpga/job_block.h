#pragma once
// The receiving-card job block g_send_para (36 bytes) and the wizard's line_type, shared by
// the screens that hand a job over and the FPGA engine thread that runs it.
//
// Hand-over: a screen writes the parameters, then step 0, then the operation (byte 0) last;
// the engine runs one step per pass while byte 0 holds an operation and ends the job by
// clearing bytes 0 and 1. The reply flag and the check result are also written by the
// receive path, which transports may run on their threads: every byte is accessed
// atomically, byte 0 with acquire/release so that the parameters travel with it.
#include <cstdint>

#include "core/global.h"

namespace job_block {

enum Operation : uint8_t {
    kNoJob = 0,
    kSmartSetup = 1,      // wizard: card origins of one port from line_type
    kLoadScan = 2,        // a standalone scan file (g_kvfile_name) to every card of one port
    kSaveParams = 3,      // the cards of every port save their parameters
    kMappingSwitch = 4,   // the cards of every port show or hide their mapping
    kCheck = 5,           // the cards against the recovery file
    kSelfRecovery = 6,    // the card the last check found, replayed from the recovery file
};

// Byte positions.
constexpr unsigned kOperation = 0;
constexpr unsigned kStep = 1;
constexpr unsigned kPort = 2;            // global port 0..31 being worked on (jobs 1, 3, 4)
constexpr unsigned kPacketCount = 3;     // packets of the current operation
constexpr unsigned kPacketNumber = 4;    // packet last sent, from 1
constexpr unsigned kReply = 6;           // 1: the card(s) sent to answered
constexpr unsigned kCard = 8;            // u16: card addressed (job 1: counter; job 2: down-counter)
constexpr unsigned kCardsOnPort = 10;    // u16
constexpr unsigned kFrameLength = 12;    // u16, stored by the frame builders
constexpr unsigned kArgument = 16;       // u32: mapping display 9 on, 0 off (job 4)
constexpr unsigned kStepTime = 20;       // u32 tick stamp of the step's time-out
constexpr unsigned kScreen = 24;
constexpr unsigned kNet = 25;
constexpr unsigned kNetCard = 26;
constexpr unsigned kOperationIndex = 27;
constexpr unsigned kSubStep = 28;        // operation sub-machine 20..32; self-recovery writes 16
constexpr unsigned kResult = 30;         // u16 check result
constexpr unsigned kRetries = 32;
constexpr unsigned kSize = 36;

constexpr uint8_t kRecoveryMode = 16;
// Check result: nothing yet, the net answered with every card sound, else the faulty card.
constexpr uint16_t kResultNone = 0xFFFF;
constexpr uint16_t kResultClean = 0x00FF;
// The step softinit leaves: no job has run.
constexpr uint8_t kStepIdle = 0xFF;

inline uint8_t u8(unsigned at) { return __atomic_load_n(&g_send_para[at], __ATOMIC_ACQUIRE); }
inline void setU8(unsigned at, uint8_t v) { __atomic_store_n(&g_send_para[at], v, __ATOMIC_RELEASE); }
inline uint16_t u16(unsigned at) { return uint16_t(u8(at) | u8(at + 1) << 8); }
inline void setU16(unsigned at, uint16_t v) {
    setU8(at, uint8_t(v));
    setU8(at + 1, uint8_t(v >> 8));
}
inline uint32_t u32(unsigned at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; }
inline void setU32(unsigned at, uint32_t v) {
    setU16(at, uint16_t(v));
    setU16(at + 2, uint16_t(v >> 16));
}
inline uint8_t operation() { return u8(kOperation); }

}  // namespace job_block

// Fields of line_type, the wizard's result read by the FPGA thread.
namespace line_field {
constexpr unsigned kCabinetWidth = 0;   // u16
constexpr unsigned kCabinetHeight = 2;  // u16
constexpr unsigned kOffsetX = 4;        // u16
constexpr unsigned kOffsetY = 6;        // u16
constexpr unsigned kPort = 8;           // 0..15 FPGA 0, 16..31 FPGA 1
constexpr unsigned kRows = 9;
constexpr unsigned kColumns = 10;
constexpr unsigned kPattern = 11;       // 1..16
}  // namespace line_field
