#pragma once
// RS-232/485 control link on serial port 2 (115200 8N1).
#include "protocol/control_frame.h"
#include "protocol/serial_modules.h"

class Kv_uart_inout {
public:
    static constexpr int kPort = 2;
    static Kv_uart_inout* pInstance();
    static Kv_uart_inout* p_uart_inout;   // set by start-up, before its thread runs
    static void resetInstanceForTest();
    bool isOpen() const { return line_.isOpen(); }
    size_t framesPastBound() const { return line_.framesPastBound(); }

private:
    Kv_uart_inout() : line_(kPort, ctl::kTransportSerial) {}
    serial_link line_;
};
