#pragma once
// Drivers of the input chips on I2C: the HDMI receiver of the DVI, HDMI1 and HDMI2
// inputs (IT6602), the two HDMI 2.0 receivers of HDMI3 and HDMI4 (IT6805), and the EXT
// path (SDI receiver GS2971 feeding the IT66121 transmitter). Register map:
// platform/video_chip_map.h.
//
// Each input's measured timing is published twice: the HDMI_INFO record of the source
// (kavelsource::hdminfo, under Utils::_source_hdminfo_mutex) for the scaler, and the
// six bytes at RAM 0x100 + 6p (under the parameter store's object mutex, then change
// code 1) for the screens and the PC.
#include <cstdint>

#include "video_io/video_i2c.h"

class kavelsource;

// What one pass found of a receiver: silent, reset behind our back (its hot-plug dropped,
// so it needs setting up again), or answering as set up.
enum class ChipPoll { Silent, Reset, Fine };

// What a receiver reports of one port.
struct PortReading {
    bool signal = false;   // something is plugged in and seen
    bool stable = false;   // locked: the timing below is valid
    bool interlaced = false;
    bool doublePixel = false;
    bool hdmi = false;
    int lanes = 0, dataMode = 0;
    int hact = 0, hsync = 0, hback = 0, htotal = 0, hpol = 0;
    int vact = 0, vsync = 0, vback = 0, vtotal = 0, vpol = 0;
    uint32_t pixelKhz = 0;
    int rate = 0;
};

// Reads a port block of a receiver or the transmitter. False when the chip did not answer.
bool readPortBlock(VideoI2c& bus, const I2cTarget& chip, int port, PortReading* out);

// RAM 0x100 + 6p: width, height, rate and a zero byte (all zero: no signal), under the
// parameter store's object mutex; change code 1 when the bytes changed. True when they did.
bool write_input_timing(int source, uint16_t width, uint16_t height, uint8_t rate);

// Publishes a reading of `source` (horizontal values doubled for a double-pixel port,
// the frame height for an interlaced one) or, with no stable signal, clears the input.
void publish_input(kavelsource& owner, int source, const PortReading& r);

class kavel_it6602 {
public:
    kavel_it6602(kavelsource& owner, VideoI2c& bus);
    // Reads port p (0 DVI, 1 HDMI1, 2 HDMI2) and publishes its timing, or its loss.
    bool show_vid_info(int port);
    // Video output of port p on or off; off publishes "no signal" for its input.
    bool IT6602VideoOutputEnable(int port, bool on);
    bool init();  // hot-plug asserted on every port, output on
    ChipPoll poll();  // one pass: the ports whose status changed
    static int sourceOfPort(int port) { return port + 1; }

private:
    kavelsource& owner_;
    VideoI2c& bus_;
    I2cTarget chip_;
};

// IT6805 timing record: values as the receiver reports them (halved horizontally in
// double-pixel mode).
struct ITE6805_TIMING {
    int HActive = 0, HSyncWidth = 0, HBackPorch = 0, HTotal = 0, HPolarity = 0;
    int VActive = 0, VSyncWidth = 0, VBackPorch = 0, VTotal = 0, VPolarity = 0;
    int DoublePixel = 0;
    int Lanes = 0;
    int Interlaced = 0;
    float PixelClock = 0;  // MHz
    int Rate = 0;
};

class ite6805_drv {
public:
    ite6805_drv(kavelsource& owner, VideoI2c& bus, int dev);
    // Hot-plug towards the source; off also publishes "no signal".
    bool iTE6805_Set_HPD_Ctrl(bool on);
    // Reads the receiver's timing into its record and publishes it (or its loss).
    bool iTE6805_Show_VID_Info();
    int source() const { return dev_ == 0 ? 4 : 5; }
    int dev() const { return dev_; }
    kavelsource& owner() const { return owner_; }
    const I2cTarget& chip() const { return chip_; }
    ITE6805_TIMING timing;  // the last reading

private:
    kavelsource& owner_;
    VideoI2c& bus_;
    int dev_;
    I2cTarget chip_;
};

class ite6805_sys {
public:
    explicit ite6805_sys(ite6805_drv& drv, VideoI2c& bus) : drv_(drv), bus_(bus) {}
    bool init();   // hot-plug on
    ChipPoll poll();  // the sync-detect change, when there is one
    // Sync detect changed: show the new timing, or clear the input when it went away.
    bool iTE6805_INT_SCDT_Chg();

private:
    ite6805_drv& drv_;
    VideoI2c& bus_;
};

class it66121_sys {
public:
    it66121_sys(kavelsource& owner, VideoI2c& bus);
    bool init();  // transmitter answers; SDI receiver out of reset
    bool poll();  // the EXT picture, when it changed
    // Resets the SDI receiver: its line low, 50 ms, high.
    void GS2971_Reset();

private:
    kavelsource& owner_;
    VideoI2c& bus_;
    I2cTarget chip_;
};
