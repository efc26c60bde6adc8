#pragma once
// Register maps of the board's video chips on I2C: the HDMI receivers, the EXT-path
// transmitter, the audio switch, the two pixel-clock synthesisers, the output-port
// expander and the EDID EEPROMs. The chips' own maps are not published, so this board
// defines one and both sides use it: the drivers in video_io/ and the chip models of
// the simulated board. Plain data, no includes from the project.
//
// Every chip with registers: 8-bit register address, auto-increment.
//   write: [reg, data...]       read: write [reg], repeated START, read n bytes.
#include <cstdint>

namespace plat::videomap {

// ---------------------------------------------------------------- receivers and transmitter
// The HDMI receiver rx-it6602 has three input ports (0 DVI, 1 HDMI1, 2 HDMI2); each HDMI 2.0
// receiver rx-ite6805-N has one (port 0); the transmitter tx-it66121 reports on port 0 the
// picture it passes on from the SDI receiver (the EXT input).
inline constexpr uint8_t kRegChipId = 0x00;
inline constexpr uint8_t kIdIt6602 = 0x02;
inline constexpr uint8_t kIdIte6805 = 0x05;
inline constexpr uint8_t kIdIt66121 = 0x21;

// Bit p set: port p's status changed since the register was last read; reading clears it.
inline constexpr uint8_t kRegChange = 0x01;

// Control: bit 0 hot-plug line asserted towards the source (HPD), bit 1 video output on.
// After reset 0: a source sees no sink and sends nothing until HPD is asserted.
inline constexpr uint8_t kRegControl = 0x02;
inline constexpr uint8_t kControlHpd = 0x01;
inline constexpr uint8_t kControlOutput = 0x02;

// Port block: 28 bytes at kPortBase + kPortStride * port, read as one.
inline constexpr uint8_t kPortBase = 0x10;
inline constexpr uint8_t kPortStride = 0x20;
inline constexpr uint8_t kPortBlockBytes = 0x1C;
inline constexpr uint8_t portReg(int port) { return uint8_t(kPortBase + kPortStride * port); }

// Offsets in the port block.
inline constexpr uint8_t kPortStatus = 0x00;
inline constexpr uint8_t kStatusSignal = 0x01;     // TMDS clock (or SDI carrier) present
inline constexpr uint8_t kStatusStable = 0x02;     // locked on a timing; the timing fields are valid
inline constexpr uint8_t kStatusInterlace = 0x04;  // vertical values are per field
inline constexpr uint8_t kStatusDoublePixel = 0x08;  // two pixels per clock: horizontal values are halved
inline constexpr uint8_t kStatusHdmi = 0x10;       // HDMI (not DVI) stream
inline constexpr uint8_t kPortLanes = 0x01;        // V-by-One lanes of the HDMI 2.0 receivers: 1, 2, 4, 8
inline constexpr uint8_t kPortDataMode = 0x02;     // 0 RGB 4:4:4, 1 YCbCr 4:4:4, 2 YCbCr 4:2:2
inline constexpr uint8_t kPortPolarity = 0x03;     // bit 0 H sync positive, bit 1 V sync positive
inline constexpr uint8_t kPortHact = 0x04;         // u16 little-endian from here on
inline constexpr uint8_t kPortHsync = 0x06;
inline constexpr uint8_t kPortHback = 0x08;
inline constexpr uint8_t kPortHtotal = 0x0A;
inline constexpr uint8_t kPortVact = 0x0C;
inline constexpr uint8_t kPortVsync = 0x0E;
inline constexpr uint8_t kPortVback = 0x10;
inline constexpr uint8_t kPortVtotal = 0x12;
inline constexpr uint8_t kPortPixelKhz = 0x14;     // u32 little-endian, pixel clock in kHz
inline constexpr uint8_t kPortRate = 0x18;         // frame (field, when interlaced) rate in Hz

// ---------------------------------------------------------------- audio switch
// One byte, no register address: 0 routes no input, 1 + s routes the audio of input s (0..5).
inline constexpr uint8_t kAudioNone = 0;
inline constexpr uint8_t kAudioInputs = 6;

// ---------------------------------------------------------------- pixel-clock synthesisers
// f_out = 27 MHz x N / (M x P); the VCO (27 MHz x N / M) must lie in 600..1200 MHz. After the
// enable bit is set with valid dividers the PLL locks within a few milliseconds.
inline constexpr uint8_t kIdClockSynth = 0x5C;
inline constexpr uint8_t kClockRegN = 0x10;        // u16 little-endian feedback multiplier
inline constexpr uint8_t kClockRegM = 0x12;        // reference divider
inline constexpr uint8_t kClockRegP = 0x13;        // output divider
inline constexpr uint8_t kClockRegControl = 0x20;  // bit 0 PLL enable
inline constexpr uint8_t kClockRegStatus = 0x21;   // bit 0 locked
inline constexpr uint32_t kClockRefKhz = 27000;
inline constexpr uint32_t kClockVcoMinKhz = 600000;
inline constexpr uint32_t kClockVcoMaxKhz = 1200000;

// ---------------------------------------------------------------- output-port expander
// Eight lines, one per output-port driver: register 1 output levels (1 = driver on),
// register 3 direction (1 = input, the power-up state).
inline constexpr uint8_t kExpanderOutput = 0x01;
inline constexpr uint8_t kExpanderDirection = 0x03;

// ---------------------------------------------------------------- EDID EEPROMs
// 256 bytes, one address byte, 8-byte pages (a write wraps inside its page), then a write
// cycle during which the EEPROM does not acknowledge its address. Written only while the
// edid-write line is low.
inline constexpr uint32_t kEepromBytes = 256;
inline constexpr uint32_t kEepromPage = 8;
inline constexpr uint32_t kEepromWriteCycleUs = 5000;

}  // namespace plat::videomap
