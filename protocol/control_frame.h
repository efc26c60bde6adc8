#pragma once
// The control frame of the PC protocol (docs/protocol.md is its description):
// 10-byte header, payload, BCC (XOR of every byte before it). On the line it is
// escaped and framed as A5 A5 A5 <escaped frame> 5A.
#include <cstddef>
#include <cstdint>

#include "core/le_bytes.h"

namespace ctl {

// ---- header (u16 fields little-endian)
constexpr size_t kDst = 0;
constexpr size_t kSrc = 2;
constexpr size_t kLen = 4;      // payload length (controller frames)
constexpr size_t kCardType = 6;
constexpr size_t kPort = 7;     // FPGA choice for engine targets: 1, 2, other = both
constexpr size_t kReserved = 8;
constexpr size_t kGroup = 9;
constexpr size_t kHeaderSize = 10;
constexpr size_t kPayload = 10;
constexpr size_t kMinFrame = kHeaderSize + 1;   // header and BCC, no payload
constexpr size_t kMaxPayload = 0xFFFF;
constexpr size_t kMaxFrame = kHeaderSize + kMaxPayload + 1;

// ---- line coding
constexpr uint8_t kPreamble = 0xA5;
constexpr int kPreambleCount = 3;
constexpr uint8_t kEnd = 0x5A;
constexpr uint8_t kEscape = 0xAA;
constexpr uint8_t kEscapeXor = 0x20;   // escaped byte = original ^ 0x20 after kEscape

// ---- addresses
constexpr uint16_t kAddrPc = 0xF010;
constexpr uint16_t kAddrController = 0xF100;
constexpr uint16_t kAddrController2 = 0xF101;
constexpr uint16_t kAddrSendingCard = 0xF000;   // the FPGAs: header byte 7 picks one
constexpr uint16_t kAddrCardsBelow = 0xF000;    // below: receiving cards (pass-through)

// ---- command groups
constexpr uint8_t kGroupWriteMemory = 0x60;
constexpr uint8_t kGroupReadMemory = 0x61;
constexpr uint8_t kGroupFlashErase = 0x70;
constexpr uint8_t kGroupFlashWrite = 0x71;
constexpr uint8_t kGroupFlashRead = 0x72;
constexpr uint8_t kGroupParamSave = 0x81;
constexpr uint8_t kGroupUpdateStart = 0x84;
constexpr uint8_t kGroupOutputGeometry = 0x85;
constexpr uint8_t kGroupNetwork = 0x90;
constexpr uint8_t kGroupRestart = 0x91;
constexpr uint8_t kGroupSetClock = 0x92;
constexpr uint8_t kGroupDeviceInfo = 0x93;
constexpr uint8_t kGroupWriteRegisters = 0xA0;
constexpr uint8_t kGroupReadRegisters = 0xA1;
// file transfer (protocol/file_transfer.h)
constexpr uint8_t kGroupWriteFileStart = 0xB0;
constexpr uint8_t kGroupWriteDefinedFileStart = 0xB1;
constexpr uint8_t kGroupWriteFileBlock = 0xB2;
constexpr uint8_t kGroupWriteFileEnd = 0xB3;
constexpr uint8_t kGroupReadFileStart = 0xB4;
constexpr uint8_t kGroupReadDefinedFileStart = 0xB5;
constexpr uint8_t kGroupReadFileBlock = 0xB6;
constexpr uint8_t kGroupReadFileEnd = 0xB7;
constexpr uint8_t kGroupDeleteFile = 0xB8;
constexpr uint8_t kGroupCloudText = 0xC4;   // protocol/cloud_text.h

// ---- status byte, first payload byte of every reply
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusRefused = 0x01;       // address, length or value outside the target
constexpr uint8_t kStatusUnavailable = 0x02;   // the engine behind the target is not there
constexpr uint8_t kStatusBadRequest = 0x03;    // payload length or layout wrong
constexpr uint8_t kStatusFailed = 0x04;        // the operation ran and failed
constexpr uint8_t kStatusUnknownGroup = 0x05;
constexpr uint8_t kStatusDigestMismatch = 0x06;  // a file arrived whole, its MD5 differs: discarded

// ---- memory spaces: address bits 28..31
constexpr uint32_t kSpaceShift = 28;
constexpr uint32_t kSpaceParameter = 0x0;   // RAM 0x000..0xFFF, user modes 0x1000..0x10FFF
constexpr uint32_t kSpaceFpgaRam = 0x3;     // bits 16..23 RAM number, bits 0..11 byte
constexpr uint32_t kSpaceMailbox = 0x5;     // MCU_RAM_CMD
constexpr uint32_t kSpaceExtend = 0xA;      // MCU_RAM_EXTEND
constexpr uint32_t kParamRamEnd = 0x1000;
constexpr uint32_t kUserModeEnd = 0x11000;
constexpr uint32_t kMailboxSize = 1024;
constexpr uint32_t kFpgaRamSpan = 0x1000;
constexpr uint32_t kCardCountLow = 0x7C;    // MCU_RAM_EXTEND bytes reporting the card count
constexpr uint32_t kCardCountHigh = 0x7D;
constexpr uint32_t kMaxReadLength = 4096;

// ---- memory and flash request layout (payload offsets from the frame start)
constexpr size_t kMemAddress = 10;   // u32
constexpr size_t kMemLength = 14;    // u16
constexpr size_t kMemData = 18;      // after two reserved bytes
constexpr size_t kMemHeader = 8;     // payload bytes before the data

// ---- controller registers
constexpr unsigned kRegMirrorCount = 170;
constexpr unsigned kRegUpdate = 11;       // bit 1 apply, bit 2 apply and user modes, bit 3 menu
constexpr unsigned kRegFont = 14;         // bit 3 reload the scaler's fonts
constexpr unsigned kRegPrint = 0xA1;      // bit 1 scaler register print
constexpr unsigned kRegDebugA2 = 0xA2;    // -> register 34
constexpr unsigned kRegDebugA3 = 0xA3;    // value + 1 -> register 35
constexpr unsigned kRegDebugA4 = 0xA4;    // -> register 36
constexpr unsigned kRegDebugA5 = 0xA5;    // -> register 33
// FPGA register 2 bit 2: the controller runs the PC command mailbox
constexpr unsigned kRegMailboxDoorbell = 2;
constexpr uint8_t kMailboxDoorbellBit = 0x04;

// ---- transports (g_passby_trans_port)
constexpr uint8_t kTransportSerial = 1;
constexpr uint8_t kTransportTcp = 2;
constexpr uint8_t kTransportUdp = 3;
constexpr uint8_t kTransport4G = 4;   // its own code: 4G answers leave by the 4G link
constexpr uint8_t kTransportNone = 255;

using le::rd16;
using le::rd32;
using le::wr16;
using le::wr32;

}  // namespace ctl
