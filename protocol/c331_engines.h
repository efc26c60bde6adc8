#pragma once
// The C331 manager's part of the protocol seam: the PC's flash commands, the font reload
// and the register print, on the calling link's thread. Flash ranges past the flash end,
// and erases whose start is not on their unit, are refused (a NOR erases whole units).
#include "protocol/protocol_engines.h"

class C331ProtocolEngines : public C331Engines {
public:
    int c331Print() override;
    int c331ReloadFont() override;
    int c331FlashErase(unsigned sector, unsigned count, int kind) override;
    int c331FlashWrite(unsigned address, const uint8_t* data, unsigned length) override;
    int c331FlashRead(unsigned address, uint8_t* data, unsigned length) override;
};
