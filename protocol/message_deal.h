#pragma once
// Command handler of the control protocol: one decoded, BCC-checked controller frame in,
// one reply frame out. Each transport thread owns one; what must be shared lives in the
// parameter store, the globals and the engines (protocol_engines.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/file_transfer.h"

class message_deal {
public:
    // Handles the frame and builds the reply frame into `reply` (header with source and
    // destination swapped, payload length, payload, BCC). Returns the reply's payload
    // length, or -1 when the frame gets no reply (too short to carry a header).
    int message_group_deal(const uint8_t* frame, size_t length, std::vector<uint8_t>& reply);

    // True for a frame whose handling can take seconds: flash erase and programming (the
    // C331's and the FPGAs' configuration flash), the file store and its MTD partitions,
    // the shell commands of the clock and network settings, the font reload, the register
    // print and the PC mailbox. Cheap: the header and register entries only.
    static bool mayTakeLong(const uint8_t* frame, size_t length);

    // True for a frame that shares the cards' bus with the engine's own card frames: a
    // write of an FPGA register or RAM (the port RAMs a PC fills and sends from) and the
    // update start. It opens the PC's window (pc_window). Reads of FPGA registers and RAMs,
    // the parameter save into the FPGAs' flash and everything that stays in the controller
    // put nothing on that bus.
    static bool holdsCardBus(const uint8_t* frame, size_t length);
    // This link's file transfer is open or a file command runs (any thread may ask).
    bool transferOpen() const { return files_.open(); }
    // A frame for the controller is about to be handled (see FileTransfer::starting).
    void starting(const uint8_t* frame, size_t length) {
        if (length >= ctl::kMinFrame) files_.starting(frame[ctl::kGroup]);
    }

    // Writes the date and time and the operating time into MCU_RAM_EXTEND.
    // The clock (bytes 16..23) and, true when the engine has it, the operating time (76..99)
    // into the extend RAM's image.
    static constexpr unsigned kClockStamp = 16, kClockStampSize = 8, kOperatingStamp = 76, kTimeStampEnd = 100;
    static bool Time_to_RAM(uint8_t* extend);

private:
    // Each handler reads the request (header at frame[0..9], payload at p, n bytes) and
    // appends the reply payload to out_, status byte first.
    void write_ram(const uint8_t* frame, const uint8_t* p, size_t n);
    void read_ram(const uint8_t* frame, const uint8_t* p, size_t n);
    void write_register(const uint8_t* frame, const uint8_t* p, size_t n);
    void read_register(const uint8_t* frame, const uint8_t* p, size_t n);
    void cmd_erase_flash(const uint8_t* p, size_t n);
    void cmd_write_flash(const uint8_t* p, size_t n);
    void cmd_read_flash(const uint8_t* p, size_t n);
    void param_save(const uint8_t* frame, size_t n);
    void start_update(const uint8_t* p, size_t n);
    void set_para_sync(const uint8_t* frame, size_t n);
    void net_ip_set(const uint8_t* p, size_t n);
    void restart_request(size_t n);
    void write_rtc_time(const uint8_t* p, size_t n);
    void get_device_info(size_t n);

    // Controller register writes: 0 done, else a status byte.
    uint8_t write_controller_register(unsigned reg, uint8_t mask, uint8_t value);
    uint8_t REG_mcu_flag(uint8_t value);
    uint8_t RegUpdate0E(uint8_t value);

    void status(uint8_t s) { out_.push_back(s); }
    std::vector<uint8_t> out_;
    // This link's file transfer: its own temporary file and MD5, dropped with the link.
    FileTransfer files_;
};
