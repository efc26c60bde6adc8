#include "protocol/uart_inout.h"

#include "core/global.h"

Kv_uart_inout* Kv_uart_inout::p_uart_inout = nullptr;

Kv_uart_inout* Kv_uart_inout::pInstance() {
    if (p_uart_inout) return p_uart_inout;
    p_uart_inout = new Kv_uart_inout;
    p_uart_inout->line_.start(g_BPS, "serial control link", "ctl-serial");
    return p_uart_inout;
}

void Kv_uart_inout::resetInstanceForTest() {
    delete p_uart_inout;
    p_uart_inout = nullptr;
}
