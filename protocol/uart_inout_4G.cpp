#include "protocol/uart_inout_4G.h"

#include "core/global.h"

Kv_uart_inout_4G* Kv_uart_inout_4G::p_uart_inout_4G = nullptr;

Kv_uart_inout_4G* Kv_uart_inout_4G::pInstance() {
    if (p_uart_inout_4G) return p_uart_inout_4G;
    p_uart_inout_4G = new Kv_uart_inout_4G;
    p_uart_inout_4G->line_.start(g_BPS, "4G link", "ctl-4g");
    return p_uart_inout_4G;
}

void Kv_uart_inout_4G::resetInstanceForTest() {
    delete p_uart_inout_4G;
    p_uart_inout_4G = nullptr;
}
