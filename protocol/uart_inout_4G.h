#pragma once
// Control link of the 4G module on serial port 1; it carries the same frames as the
// RS-232 port (the cloud text commands come with a later issue).
#include "protocol/control_frame.h"
#include "protocol/serial_modules.h"

class Kv_uart_inout_4G {
public:
    static constexpr int kPort = 1;
    static Kv_uart_inout_4G* pInstance();
    static Kv_uart_inout_4G* p_uart_inout_4G;   // set by start-up, before its thread runs
    static void resetInstanceForTest();
    bool isOpen() const { return line_.isOpen(); }

private:
    Kv_uart_inout_4G() : line_(kPort, ctl::kTransport4G) {}
    serial_link line_;
};
