#pragma once
// What the control protocol needs of the FPGA engine and the C331 manager. The engines
// implement this interface and install themselves at start-up
// (installProtocolEngines); until then the default answers every operation with
// kEngineUnavailable after logging "not available", and the handlers reply with an
// error status, never with success.
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "platform/annotated_mutex.h"

constexpr int kEngineOk = 0;
constexpr int kEngineFailed = 255;
constexpr int kEngineUnavailable = 254;
// passToCards: an FPGA the frame goes to restarts (a new LED geometry); nothing was sent.
constexpr int kEngineRestarting = 253;

// The port extents and the output window of one FPGA (the output-geometry reply).
struct OutputGeometry {
    uint16_t minX = 0, minY = 0;         // smallest port x and y
    uint16_t right = 0, bottom = 0;      // largest port x + width and y + height
    uint16_t lcdX = 0, lcdY = 0;         // output window
    uint16_t lcdWidth = 0, lcdHeight = 0;
};

// The operating-time recorder's state as the PC reads it in MCU_RAM_EXTEND 76..99.
struct OperatingTime {
    uint32_t totalMinutes = 0;     // reported run minutes + history minutes
    uint32_t runMinutes = 0;
    uint32_t logSequence = 0;      // low three bytes reported
    uint8_t startBcd[7] = {};      // year mod 100, century, month, day, hour, minute, second
    uint32_t reportedMinutes = 0;
};

// The C331 manager's part of the seam. The scaler installs its implementation
// (installC331Engines); ProtocolEngines' C331 operations hand over to it, so an engine
// implementation of ProtocolEngines needs to override only its FPGA operations.
class C331Engines {
public:
    virtual ~C331Engines() = default;
    // Window preparation before an apply request (register 11 bit 1), under manage_mutex.
    virtual void c331PrepareWindows();
    virtual int c331Print();
    virtual int c331ReloadFont();   // read_c331_font, then update_font
    // kind 0: 4 KB sectors, 1: 32 KB units, 2: 64 KB units; start as a 4 KB sector index.
    virtual int c331FlashErase(unsigned sector, unsigned count, int kind);
    virtual int c331FlashWrite(unsigned address, const uint8_t* data, unsigned length);
    virtual int c331FlashRead(unsigned address, uint8_t* data, unsigned length);
};

class ProtocolEngines {
public:
    virtual ~ProtocolEngines() = default;

    // ---- FPGA engine (fpga 0 or 1)
    // fpga_manage::write_to_register: masked write with mirror and side effects
    // (register 2 bit 2 runs the PC mailbox on the caller's thread).
    virtual int fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga);
    // fpga_manage::read_from_register, then the mirror byte.
    virtual int fpgaReadRegister(unsigned reg, int fpga, uint8_t* value);
    virtual int fpgaWriteRam(unsigned ram, unsigned address, const uint8_t* data, unsigned length, int fpga);
    virtual int fpgaReadRam(unsigned ram, unsigned address, uint8_t* data, unsigned length, int fpga);
    // Parameter RAM image into the FPGA's configuration flash (sector 0x6C7000) and back.
    virtual int fpgaSaveParameters(int fpga);
    virtual int fpgaOutputGeometry(int fpga, OutputGeometry* out);
    virtual int totalCardCount(unsigned* count);
    virtual int operatingTime(OperatingTime* out);
    // clock_record_run::dealwith_record_timing after the clock was set.
    virtual void clockChanged();
    // fpga_manage::MCU_RAM_CMD and MCU_RAM_EXTEND (1024 bytes each). Until the engine is
    // there the protocol keeps its own copies, so the PC can read and write them.
    virtual uint8_t* mailboxRam();
    virtual uint8_t* extendRam();

    // ---- pass-through to the receiving cards, both under the engine's object mutex
    // fpga_manage::Dealwith1_PC_to_eth; kEngineRestarting, before any lock, while an FPGA
    // the frame goes to restarts (the caller waits and asks again).
    virtual int passToCards(const uint8_t* frame, unsigned length);
    // fpga_manage::reg_IRQ_Dealwith for both FPGAs; an answer is queued through
    // protocol_pass_reply (pass_reply.h).
    virtual void serviceCardAnswers();

    // ---- C331 manager: handed to the installed C331Engines
    virtual void c331PrepareWindows();
    virtual int c331Print();
    virtual int c331ReloadFont();   // read_c331_font, then update_font
    // kind 0: 4 KB sectors, 1: 32 KB units, 2: 64 KB units; start as a 4 KB sector index.
    virtual int c331FlashErase(unsigned sector, unsigned count, int kind);
    virtual int c331FlashWrite(unsigned address, const uint8_t* data, unsigned length);
    virtual int c331FlashRead(unsigned address, uint8_t* data, unsigned length);

private:
    uint8_t mailbox_[1024] = {};
    uint8_t extend_[1024] = {};
};

// The engines in force (the default one until an engine installs itself).
ProtocolEngines& protocolEngines();
// Installs an implementation (not owned; nullptr restores the default).
void installProtocolEngines(ProtocolEngines* engines);
// The C331 part in force, and its installation (not owned; nullptr restores the default).
C331Engines& c331Engines();
void installC331Engines(C331Engines* engines);

// The mailbox and extend RAM (mailboxRam(), extendRam()): the protocol's reads and writes and
// the engine's own writes of them hold this lock.
plat::Mutex& mailboxRamMutex();

// Held while a frame's handler may call the installed engines. Installing others (an
// engine going away) waits until no handler holds it, so none is freed under a call.
class ProtocolEnginesInUse {
public:
    ProtocolEnginesInUse();

private:
    std::shared_lock<plat::SharedMutex> lock_;
};
