#pragma once
// What the system screens reach of the engines beyond the parameter RAM and the job block.
// The engines fill the entries when they start; an empty entry means "not there": no job
// runner takes no job, a register write goes nowhere, the SDI reset and the WiFi restart
// are logged as unavailable and the C331 reports no font. FPGA register reads and the
// engine's state come through the shell's links (shellLinks(), ui/shell/mainwindow.h).
#include <cstdint>
#include <functional>

struct SystemLinks {
    // The FPGA thread runs and takes receiving-card jobs from g_send_para.
    std::function<bool()> cardJobRunner;
    // fpga_manage::write_to_register(reg, mask, value, fpga): the masked bits of a register.
    std::function<void(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga)> fpgaWriteRegister;
    // it66121_sys::GS2971_Reset(): the SDI receiver's reset line low for 50 ms.
    std::function<void()> sdiReset;
    // H71_WIFI_CONFIG::set_wifi_reset_flag(): the WiFi thread sets the access point up again.
    std::function<void()> wifiRestart;
    // The C331's font-present bits: 0 32-dot Chinese, 1 32-dot English, 2 64-dot Chinese, 3 64-dot English.
    std::function<uint32_t()> c331FontBits;
    // Empties the FPGA engine's recovery file list (true) or its reader's smart-mapping list.
    std::function<void(bool recovery)> emptyCardFileList;
};
SystemLinks& systemLinks();

// Both FPGAs run: register 80 of each reads 3.
bool fpgasRunning();
