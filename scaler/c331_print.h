#pragma once
// The scaler's service console: the register and parameter dumps, the debug operations'
// closing lines and the flash messages all print through c331_printf, to standard output
// on the board, or to a sink a test installs.
#include <cstdint>
#include <functional>
#include <string>

// Bit 7 of byte k enables the messages of area k (6: serial flash, 8: OSD settings). Written
// only by tests before the threads run; read by the scaler's threads.
extern uint8_t prnEn[400];
constexpr int kPrnSerialFlash = 6;
constexpr int kPrnOsd = 8;
inline bool prnOn(int area) { return (prnEn[area] & 0x80) != 0; }

void c331_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// nullptr restores standard output.
void setC331PrintSink(std::function<void(const std::string&)> sink);
