#include "protocol/protocol_engines.h"

#include <atomic>
#include <mutex>

#include "core/logMsg.h"

namespace {
int unavailable(const char* what) {
    writeLogMsg(LOG_WARNING, std::string("protocol: ") + what + " not available");
    return kEngineUnavailable;
}
// The defaults have no state; the installed engines are swapped by start-up and tests with
// g_inUse held exclusively, so no handler is inside one then (ProtocolEnginesInUse).
ProtocolEngines g_default;
std::atomic<ProtocolEngines*> g_engines{nullptr};
C331Engines g_c331Default;
std::atomic<C331Engines*> g_c331{nullptr};
plat::SharedMutex g_inUse{plat::Lock::EnginesInUse};
plat::Mutex g_mailboxRam{plat::Lock::MailboxRam};   // fpga_manage::MCU_RAM_CMD and MCU_RAM_EXTEND (a leaf)
}  // namespace

plat::Mutex& mailboxRamMutex() { return g_mailboxRam; }

ProtocolEnginesInUse::ProtocolEnginesInUse() : lock_(g_inUse) {}

int ProtocolEngines::fpgaWriteRegister(unsigned, uint8_t, uint8_t, int) { return unavailable("FPGA register write"); }
int ProtocolEngines::fpgaReadRegister(unsigned, int, uint8_t*) { return unavailable("FPGA register read"); }
int ProtocolEngines::fpgaWriteRam(unsigned, unsigned, const uint8_t*, unsigned, int) {
    return unavailable("FPGA RAM write");
}
int ProtocolEngines::fpgaReadRam(unsigned, unsigned, uint8_t*, unsigned, int) { return unavailable("FPGA RAM read"); }
int ProtocolEngines::fpgaSaveParameters(int) { return unavailable("FPGA parameter save"); }
int ProtocolEngines::fpgaOutputGeometry(int, OutputGeometry*) { return unavailable("FPGA output geometry"); }
int ProtocolEngines::totalCardCount(unsigned* count) {
    *count = 0;
    return kEngineUnavailable;  // read with every MCU_RAM_EXTEND read: no log line each time
}
int ProtocolEngines::operatingTime(OperatingTime*) { return kEngineUnavailable; }
void ProtocolEngines::clockChanged() {}
uint8_t* ProtocolEngines::mailboxRam() { return mailbox_; }
uint8_t* ProtocolEngines::extendRam() { return extend_; }
int ProtocolEngines::passToCards(const uint8_t*, unsigned) { return unavailable("receiving-card pass-through"); }
void ProtocolEngines::serviceCardAnswers() {}
void ProtocolEngines::c331PrepareWindows() { c331Engines().c331PrepareWindows(); }
int ProtocolEngines::c331Print() { return c331Engines().c331Print(); }
int ProtocolEngines::c331ReloadFont() { return c331Engines().c331ReloadFont(); }
int ProtocolEngines::c331FlashErase(unsigned sector, unsigned count, int kind) {
    return c331Engines().c331FlashErase(sector, count, kind);
}
int ProtocolEngines::c331FlashWrite(unsigned address, const uint8_t* data, unsigned length) {
    return c331Engines().c331FlashWrite(address, data, length);
}
int ProtocolEngines::c331FlashRead(unsigned address, uint8_t* data, unsigned length) {
    return c331Engines().c331FlashRead(address, data, length);
}

void C331Engines::c331PrepareWindows() {}
int C331Engines::c331Print() { return unavailable("C331 register print"); }
int C331Engines::c331ReloadFont() { return unavailable("C331 font reload"); }
int C331Engines::c331FlashErase(unsigned, unsigned, int) { return unavailable("C331 flash erase"); }
int C331Engines::c331FlashWrite(unsigned, const uint8_t*, unsigned) { return unavailable("C331 flash write"); }
int C331Engines::c331FlashRead(unsigned, uint8_t*, unsigned) { return unavailable("C331 flash read"); }

ProtocolEngines& protocolEngines() {
    ProtocolEngines* e = g_engines.load();
    return e ? *e : g_default;
}

void installProtocolEngines(ProtocolEngines* engines) {
    std::unique_lock<plat::SharedMutex> lock(g_inUse);
    g_engines = engines;
}

C331Engines& c331Engines() {
    C331Engines* e = g_c331.load();
    return e ? *e : g_c331Default;
}

void installC331Engines(C331Engines* engines) {
    std::unique_lock<plat::SharedMutex> lock(g_inUse);
    g_c331 = engines;
}
