#pragma once
// The board's wiring, once: SoC register window and GPIO lines, SPI nodes, the chips
// on SPI and I2C (select lines, multiplexer paths, addresses, reset lines, backing
// stores), MTD partitions, serial ports and the device paths of the kernel interfaces.
// The drivers take their constants from here and the simulated board is built by
// walking the same tables, so the two cannot disagree. Plain data: no includes from
// anywhere in the project, usable from platform/ and from every driver.
//
// Levels of the GPIO words: writing 16 drives a line high, 0 drives it low; inputs are
// read at bit 0. docs/board.md describes the board in words.
#include <cstddef>
#include <cstdint>

namespace plat::wiring {

// ---------------------------------------------------------------- device paths

inline constexpr const char* kMsysDevice = "/dev/msys";
inline constexpr const char* kMemDevice = "/dev/mem";
inline constexpr const char* kTouchDevice = "/dev/input/event1";
inline constexpr const char* kI2cDevice = "/dev/i2c-0";
inline constexpr int kI2cBus = 0;

// ---------------------------------------------------------------- SoC register window

// One block of 16-bit registers at physical 0x1F000000; the /dev/msys request hands it
// out (physical address in word 1, length in word 3 of a 20-byte block).
inline constexpr uint32_t kRegWindowPhys = 0x1F000000;
inline constexpr uint32_t kRegWindowSize = 0x2B0000;
inline constexpr unsigned long kMsysRequestWindow = 0x5315;
inline constexpr uint32_t kMsysMagic = 0x4D530100;
inline constexpr uint32_t kMsysBlockBytes = 20;

inline constexpr uint16_t kLineHigh = 16;
inline constexpr uint16_t kLineLow = 0;

// Chip-id registers of the SoC.
inline constexpr uint32_t kChipIdControl = 0x400C;
inline constexpr uint32_t kChipIdX = 0x4058;
inline constexpr uint32_t kChipIdY = 0x405C;
inline constexpr uint32_t kChipIdZ = 0x4060;

// GPIO words, by window offset.
inline constexpr uint32_t kGpioFpga0Select = 0x207810;       // low = selected
inline constexpr uint32_t kGpioFpga1Select = 0x207900;       // low = selected
inline constexpr uint32_t kGpioFpga0Command = 0x207838;      // high = command word, low = data
inline constexpr uint32_t kGpioFpga1CommandA = 0x20794C;
inline constexpr uint32_t kGpioFpga1CommandB = 0x207954;
inline constexpr uint32_t kGpioFpga0FlashAccess = 0x207860;  // low = flash on the FPGA's SPI
inline constexpr uint32_t kGpioFpga1FlashAccessA = 0x20790C;
inline constexpr uint32_t kGpioFpga1FlashAccessB = 0x207950;
inline constexpr uint32_t kGpioFpga0Reset = 0x207858;        // low = in reset
inline constexpr uint32_t kGpioFpga1Reset = 0x207864;
inline constexpr uint32_t kGpioFpga0Irq = 0x207908;          // input, bit 0
inline constexpr uint32_t kGpioFpga1Irq = 0x207910;
inline constexpr uint32_t kGpioRxReset0 = 0x207940;          // HDMI 2.0 receiver 0, low = in reset
inline constexpr uint32_t kGpioRxReset1 = 0x207944;          // HDMI 2.0 receiver 1
inline constexpr uint32_t kGpioEdidWrite = 0x207948;         // EDID EEPROMs, high = write-protected
inline constexpr uint32_t kGpioSdiReset = 0x002848;          // SDI receiver, low = in reset
inline constexpr uint32_t kGpioMapped = 0x207800;            // mapped, driven by nobody
inline constexpr uint32_t kSocEnable1F1C = 0x1F1C;           // set to 1 at FPGA start-up
// The window must reach past the highest GPIO word used.
inline constexpr uint32_t kGpioWindowNeeded = 0x207956;

inline constexpr int kNoStartLevel = -1;

struct GpioLineWiring {
    const char* name;
    uint32_t offset;
    int startLevel;  // driven at FPGA start-up, or kNoStartLevel
    bool input;
};

inline constexpr GpioLineWiring kGpioLines[] = {
    {"fpga0-select", kGpioFpga0Select, kNoStartLevel, false},
    {"fpga1-select", kGpioFpga1Select, kNoStartLevel, false},
    {"fpga0-command", kGpioFpga0Command, kNoStartLevel, false},
    {"fpga1-command-a", kGpioFpga1CommandA, kNoStartLevel, false},
    {"fpga1-command-b", kGpioFpga1CommandB, kLineHigh, false},
    {"fpga0-flash-access", kGpioFpga0FlashAccess, kNoStartLevel, false},
    {"fpga1-flash-access-a", kGpioFpga1FlashAccessA, kNoStartLevel, false},
    {"fpga1-flash-access-b", kGpioFpga1FlashAccessB, kLineHigh, false},
    {"fpga0-reset", kGpioFpga0Reset, kNoStartLevel, false},
    {"fpga1-reset", kGpioFpga1Reset, kNoStartLevel, false},
    {"fpga0-irq", kGpioFpga0Irq, kNoStartLevel, true},
    {"fpga1-irq", kGpioFpga1Irq, kNoStartLevel, true},
    {"rx0-reset", kGpioRxReset0, kLineLow, false},
    {"rx1-reset", kGpioRxReset1, kLineLow, false},
    {"edid-write", kGpioEdidWrite, kLineHigh, false},
    {"sdi-reset", kGpioSdiReset, kNoStartLevel, false},
};

// ---------------------------------------------------------------- SPI

inline constexpr const char* kSpiC331 = "/dev/spidev32766.0";
inline constexpr const char* kSpiFpga0 = "/dev/spidev32766.1";
inline constexpr const char* kSpiFpga1 = "/dev/spidev32766.2";
inline constexpr const char* kSpiFlash0 = "/dev/spidev32766.3";  // FPGA 0 configuration flash
inline constexpr const char* kSpiFlash1 = "/dev/spidev32766.4";  // FPGA 1 configuration flash

// spidev's buffer: a message (or a plain read/write) longer than this is refused.
inline constexpr size_t kSpidevBufferBytes = 4096;

struct SpiNodeWiring {
    const char* path;
    uint8_t mode;       // SPI mode the driver sets (3 = CPOL and CPHA)
    uint8_t bitsPerWord;
    uint32_t speedHz;   // the driver's clock
};

inline constexpr uint32_t kC331WriteSpeedHz = 10000000;
inline constexpr uint32_t kC331ReadSpeedHz = 5000000;
inline constexpr uint32_t kFpgaSpeedHz = 10000000;

inline constexpr SpiNodeWiring kSpiNodes[] = {
    {kSpiC331, 3, 8, kC331WriteSpeedHz},
    {kSpiFpga0, 3, 8, kFpgaSpeedHz},
    {kSpiFpga1, 3, 8, kFpgaSpeedHz},
    {kSpiFlash0, 3, 8, kFpgaSpeedHz},
    {kSpiFlash1, 3, 8, kFpgaSpeedHz},
};

// ---------------------------------------------------------------- chips

enum class ChipBus { Spi, I2c };

// A line level that selects an SPI chip (all listed levels at once).
struct LineLevel {
    uint32_t offset;
    uint16_t level;
};

inline constexpr uint8_t kNoMux = 0;  // I2C chip directly on the bus
inline constexpr uint8_t kI2cMuxAddress = 0x70;
inline constexpr int kI2cMuxChannels = 8;

struct ChipWiring {
    const char* name;   // unique; tests and board control find the model by it
    const char* model;  // model kind the standard board attaches
    const char* what;
    ChipBus bus;
    // SPI
    const char* spiNode;
    LineLevel select[4];  // offset 0 ends the list; none = always selected
    // I2C: behind mux `muxAddress` channel `muxChannel` (kNoMux = on the bus itself)
    uint8_t muxAddress;
    int muxChannel;
    uint8_t address;
    // Lines the chip watches (0 = none)
    uint32_t resetLine;
    uint32_t writeLine;
    uint32_t irqLine;
    // Persistent cells: backing file under the root and its size (none: nullptr, 0)
    const char* store;
    uint32_t storeBytes;
};

inline constexpr uint32_t kFpgaFlashBytes = 0x800000;  // 2048 sectors of 4 KiB
inline constexpr uint32_t kEdidEepromBytes = 256;

// The multiplexer comes first: chips behind it are attached through it.
// I2C addresses and mux channels of the video chips are this board's choice (see docs/board.md).
inline constexpr ChipWiring kChips[] = {
    {"i2c-mux", "i2c-mux", "8-channel I2C switch", ChipBus::I2c, nullptr, {}, kNoMux, 0, kI2cMuxAddress, 0, 0, 0, nullptr, 0},
    {"c331", "c331", "C331 scaler", ChipBus::Spi, kSpiC331, {}, kNoMux, 0, 0, 0, 0, 0, nullptr, 0},
    {"fpga0", "fpga", "FPGA 0 (sending card)", ChipBus::Spi, kSpiFpga0,
     {{kGpioFpga0Select, kLineLow}, {kGpioFpga1Select, kLineHigh}}, kNoMux, 0, 0, kGpioFpga0Reset, 0, kGpioFpga0Irq, nullptr, 0},
    {"fpga1", "fpga", "FPGA 1 (sending card)", ChipBus::Spi, kSpiFpga1,
     {{kGpioFpga1Select, kLineLow}, {kGpioFpga0Select, kLineHigh}}, kNoMux, 0, 0, kGpioFpga1Reset, 0, kGpioFpga1Irq, nullptr, 0},
    {"flash0", "spi-nor", "FPGA 0 configuration flash, 8 MiB", ChipBus::Spi, kSpiFlash0,
     {{kGpioFpga0FlashAccess, kLineLow}, {kGpioFpga0Select, kLineLow}, {kGpioFpga1Select, kLineHigh}}, kNoMux, 0, 0, 0, 0, 0,
     "/sim/flash0.bin", kFpgaFlashBytes},
    {"flash1", "spi-nor", "FPGA 1 configuration flash, 8 MiB", ChipBus::Spi, kSpiFlash1,
     {{kGpioFpga1FlashAccessA, kLineLow}, {kGpioFpga1FlashAccessB, kLineLow}, {kGpioFpga1Select, kLineLow},
      {kGpioFpga0Select, kLineHigh}}, kNoMux, 0, 0, 0, 0, 0, "/sim/flash1.bin", kFpgaFlashBytes},
    {"edid0", "edid-eeprom", "EDID EEPROM of input 0 (EXT)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 0, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid0.bin", kEdidEepromBytes},
    {"edid1", "edid-eeprom", "EDID EEPROM of input 1 (DVI)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 1, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid1.bin", kEdidEepromBytes},
    {"edid2", "edid-eeprom", "EDID EEPROM of input 2 (HDMI1)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 2, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid2.bin", kEdidEepromBytes},
    {"edid3", "edid-eeprom", "EDID EEPROM of input 3 (HDMI2)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 3, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid3.bin", kEdidEepromBytes},
    {"edid4", "edid-eeprom", "EDID EEPROM of input 4 (HDMI3)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 4, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid4.bin", kEdidEepromBytes},
    {"edid5", "edid-eeprom", "EDID EEPROM of input 5 (HDMI4)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 5, 0x50, 0, kGpioEdidWrite, 0, "/sim/edid5.bin", kEdidEepromBytes},
    {"rx-it6602", "it6602", "HDMI receiver (DVI and HDMI1, HDMI2)", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x4A, 0, 0, 0, nullptr, 0},
    {"rx-ite6805-0", "ite6805", "HDMI 2.0 receiver 0 (HDMI3)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 6, 0x48, kGpioRxReset0, 0, 0, nullptr, 0},
    {"rx-ite6805-1", "ite6805", "HDMI 2.0 receiver 1 (HDMI4)", ChipBus::I2c, nullptr, {}, kI2cMuxAddress, 7, 0x48, kGpioRxReset1, 0, 0, nullptr, 0},
    {"tx-it66121", "it66121", "HDMI transmitter", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x4C, 0, 0, 0, nullptr, 0},
    {"sdi-rx", "gs2971", "SDI receiver (EXT)", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0, kGpioSdiReset, 0, 0, nullptr, 0},
    {"audio-switch", "audio-switch", "audio input switch", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x44, 0, 0, 0, nullptr, 0},
    {"clock0", "clock-synth", "pixel-clock synthesiser of FPGA 0", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x60, 0, 0, 0, nullptr, 0},
    {"clock1", "clock-synth", "pixel-clock synthesiser of FPGA 1", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x62, 0, 0, 0, nullptr, 0},
    {"port-expander", "port-expander", "output-port expander", ChipBus::I2c, nullptr, {}, kNoMux, 0, 0x20, 0, 0, 0, nullptr, 0},
};

// The video inputs (source numbers 0..5) and the chip port that receives each. The EXT
// input is SDI: the SDI receiver feeds the HDMI transmitter, which reports the timing.
// Each receiver's picture goes on to one input port of the C331 (0..3 parallel, 4 and 5
// V-by-One).
struct VideoInputWiring {
    int source;
    const char* name;   // as the front panel names it
    const char* chip;   // the chip that reports the input's timing
    int port;           // its port on that chip
    const char* edid;   // the input's EDID EEPROM
    int scalerPort;     // the C331 input port it drives
};

inline constexpr VideoInputWiring kVideoInputs[] = {
    {0, "EXT", "tx-it66121", 0, "edid0", 3},
    {1, "DVI", "rx-it6602", 0, "edid1", 2},
    {2, "HDMI1", "rx-it6602", 1, "edid2", 1},
    {3, "HDMI2", "rx-it6602", 2, "edid3", 0},
    {4, "HDMI3", "rx-ite6805-0", 0, "edid4", 5},
    {5, "HDMI4", "rx-ite6805-1", 0, "edid5", 4},
};
inline constexpr const char* kSdiReceiver = "sdi-rx";

// The table entry of a chip, or nullptr.
inline const ChipWiring* findChip(const char* name) {
    for (const ChipWiring& c : kChips) {
        const char* a = c.name;
        const char* b = name;
        while (*a && *a == *b) ++a, ++b;
        if (*a == *b) return &c;
    }
    return nullptr;
}

// ---------------------------------------------------------------- MTD partitions

struct MtdWiring {
    int index;
    const char* path;
    const char* what;
    uint32_t size;
    uint32_t eraseSize;
    uint32_t writeSize;  // NAND page
    const char* store;   // backing file of the simulated board
};

inline constexpr MtdWiring kMtdBootLogo = {8, "/dev/mtd8", "boot logo", 0x60000, 0x20000, 2048, "/sim/mtd8"};
inline constexpr MtdWiring kMtdKernel = {10, "/dev/mtd10", "kernel", 0x500000, 0x20000, 2048, "/sim/mtd10"};
inline constexpr MtdWiring kMtdPartitions[] = {kMtdBootLogo, kMtdKernel};

// ---------------------------------------------------------------- serial ports

struct SerialWiring {
    int port;
    const char* path;
    const char* what;
    const char* peer;  // the simulated board's far end, under the root
};

inline constexpr SerialWiring kSerialPorts[] = {
    {1, "/dev/ttyS1", "4G module", "/run/ttyS1.peer"},
    {2, "/dev/ttyS2", "RS-232/485, 115200 8N1", "/run/ttyS2.peer"},
};

// ---------------------------------------------------------------- simulated board files

inline constexpr const char* kSimFolder = "/sim";
inline constexpr const char* kUsbStickFolder = "/sim/usb-stick";
inline constexpr const char* kUsbMount = "/mnt/usb1";
inline constexpr const char* kUsbStorageProc = "/proc/scsi/usb-storage";
inline constexpr const char* kRunFolder = "/run";
inline constexpr const char* kBoardSocket = "/run/board.sock";
inline constexpr const char* kShellLog = "/run/shell.log";

}  // namespace plat::wiring
