#pragma once
// Register map, RAM layout and flash map of the sending-card FPGAs as the engine uses them.
#include <cstddef>
#include <cstdint>

// ---- SPI command word: byte 0 = (type << 1) | read
constexpr uint8_t kFpgaTypeRam = 1;
constexpr uint8_t kFpgaTypeReg = 2;
constexpr size_t kFpgaCommandBytes = 4;
constexpr uint16_t kFpgaRamAddressMask = 0xFFF;
constexpr uint32_t kFpgaRamSpace = 0x1000;

// ---- registers
constexpr uint8_t FPGA_REG_SCREEN = 0;
constexpr uint8_t   SCREEN_FREEZE = 0x02;
constexpr uint8_t   SCREEN_BLACK = 0x04;
constexpr uint8_t   SCREEN_HOLD = 0x08;        // set from outside: keeps the engine "not up"
constexpr uint8_t   SCREEN_MAPPING = 0x80;
constexpr uint8_t FPGA_REG_APPLY = 2;
constexpr uint8_t   APPLY_RAM1 = 0x01;
constexpr uint8_t   APPLY_NEVER = 0x02;        // never written as 1
constexpr uint8_t   APPLY_DOORBELL = 0x04;     // PC mailbox
constexpr uint8_t   APPLY_LOADED = 0x08;
constexpr uint8_t FPGA_REG_VIDEO = 3;
constexpr uint8_t   VIDEO_APPLY_BRIGHTNESS = 0x04;
constexpr uint8_t   VIDEO_OUTPUT_ON = 0x20;
constexpr uint8_t   VIDEO_VBO_STEP1 = 0x40;
constexpr uint8_t   VIDEO_VBO_STEP2 = 0x80;
constexpr uint8_t FPGA_REG_BRIGHTNESS = 6;
constexpr uint8_t FPGA_REG_VERSION = 7;
constexpr uint8_t FPGA_REG_STATUS = 21;
constexpr uint8_t FPGA_REG_VBO = 22;
constexpr uint8_t   VBO_FREEZE_BUSY = 0x04;
constexpr uint8_t   VBO_ERROR = 0x08;
constexpr uint8_t   VBO_LOCKED = 0x10;
constexpr uint8_t   VBO_IRQ_PENDING = 0x20;
constexpr uint8_t   VBO_RESTARTED = 0x40;
constexpr uint8_t   VBO_INPUT_READY = 0x80;
constexpr uint8_t FPGA_REG_CTRL = 23;
constexpr uint8_t   CTRL_VBO_OUT = 0x01;
constexpr uint8_t   CTRL_HANDSHAKE = 0x02;
constexpr uint8_t   CTRL_OUTPUT_HOLD = 0x08;
constexpr uint8_t   CTRL_MONITOR_SIZE = 0x10;
constexpr uint8_t   CTRL_LED_STEP = 0x20;
constexpr uint8_t   CTRL_START_PULSE = 0x40;
constexpr uint8_t FPGA_REG_ID0 = 28;           // 28..31 identity, 31 = year
constexpr uint8_t FPGA_REG_YEAR = 31;
constexpr uint8_t FPGA_YEAR_MIN = 25;
constexpr uint8_t FPGA_YEAR_MAX = 48;
constexpr uint8_t FPGA_REG_UID0 = 32;          // 32..39
constexpr uint8_t FPGA_REG_LINK = 40;
constexpr uint8_t   LINK_GOOD_BITS = 0x1C;
constexpr uint8_t FPGA_REG_HANDSHAKE2 = 41;
constexpr uint8_t FPGA_REG_AGE_COUNTER = 42;
constexpr uint8_t FPGA_REG_AGE_VALUE = 43;
constexpr uint8_t FPGA_VREG_FIRST = 64;        // 64..96 live in the mirror only
constexpr uint8_t FPGA_VREG_LAST = 96;
constexpr uint8_t FPGA_UNUSED_LAST = 127;
constexpr uint8_t FPGA_VREG_LEVEL = 64;
constexpr uint8_t FPGA_VREG_SCHEDULE = 66;
constexpr uint8_t FPGA_VREG_STATE = 80;
constexpr uint8_t   FPGA_STATE_RUNNING = 3;
constexpr uint8_t FPGA_REG_LINKS0 = 128;       // ports 0..7
constexpr uint8_t FPGA_REG_LINKS8 = 144;       // ports 8..15
constexpr size_t kMirrorSize = 170;

// ---- RAMs
constexpr uint8_t FPGA_RAM_PARA = 1;
constexpr uint8_t FPGA_RAM_FLASHBLOCK = 50;
constexpr size_t kRam1ImageSize = 1024;
constexpr size_t kRam1HeadSize = 256;
constexpr size_t kPortBufferSize = 136;
constexpr int kPorts = 16;

// RAM 1 layout
constexpr uint16_t RAM1_WINDOW_X = 56;
constexpr uint16_t RAM1_WINDOW_Y = 58;
constexpr uint16_t RAM1_WINDOW_W = 60;
constexpr uint16_t RAM1_WINDOW_H = 62;
constexpr uint16_t RAM1_LINKS_0_3 = 96;
constexpr uint16_t RAM1_MEASURED = 116;        // width u16, height u16, pixel clock u32
constexpr uint16_t RAM1_PORT_NUMBERS = 276;
constexpr uint16_t RAM1_ENTRIES = 296;         // 16 x (u16, u16)
constexpr uint16_t RAM1_ENTRY_A = 0x0576;
constexpr uint16_t RAM1_ENTRY_B = 0x01D2;
constexpr uint16_t RAM1_LINKS_4_7 = 512;
constexpr uint16_t RAM1_LINKS_8_15 = 513;
constexpr uint32_t kPixelClockMin = 714286;
constexpr uint32_t kPixelClockMax = 999999;

// ---- configuration flash map
constexpr uint32_t FLASH_RAM50_BLOCK = 0x6C0001;
constexpr uint32_t FLASH_PARA_MARKER = 0x6C7000;
constexpr uint32_t FLASH_PARA_IMAGE = 0x6C7001;
constexpr uint32_t FLASH_ONOFF_SECTOR = 1741;   // 0x6CD000
constexpr uint32_t FLASH_BRIGHT_SECTOR = 1742;  // 0x6CE000
// Copy of a record while its own sector is rewritten (free sectors below the recorder area).
constexpr uint32_t FLASH_ONOFF_SPARE_SECTOR = 1744;
constexpr uint32_t FLASH_BRIGHT_SPARE_SECTOR = 1745;
constexpr uint32_t FLASH_PARA_SECTOR = 1735;     // 0x6C7000
constexpr uint32_t FLASH_PARA_SPARE_SECTOR = 1746;
constexpr uint8_t FLASH_RECORD_VALID = 0xAA;
constexpr uint32_t kOnOffRecordBytes = 50;
constexpr uint32_t kBrightRecordBytes = 57;
// Operating-time recorder (chip 2, 4 KiB sectors): header AA 5A A5, group records in
// sector A and their copy in sector B, then the log up to 0x73300F.
constexpr uint32_t FLASH_CLOCK_HEADER = 0x6F3000;
constexpr uint32_t FLASH_CLOCK_RECORD_A = 0x6F4000;
constexpr uint32_t FLASH_CLOCK_RECORD_B = 0x6F5000;
constexpr uint32_t FLASH_CLOCK_LOG = 0x6F6000;
constexpr uint32_t FLASH_CLOCK_END = 0x734000;   // the log's last sector ends here

// ---- PC mailbox (MCU_RAM_CMD)
constexpr size_t kMailboxSize = 1024;
constexpr size_t kExtendSize = 1024;
constexpr uint8_t MBOX_PRESENT = 0xAA;
constexpr uint8_t MBOX_SAVE = 0xAA;
constexpr uint8_t MBOX_ERASE = 0x55;
constexpr uint8_t MBOX_CMD_CLOCK = 1;
constexpr uint8_t MBOX_CMD_ONOFF = 2;
constexpr uint8_t MBOX_CMD_BRIGHTNESS = 3;
constexpr size_t MBOX_HEADER = 8;
constexpr size_t MBOX_ID = 12;         // registers 28..31
constexpr size_t MBOX_VERSION = 24;    // 1, 17, 0, 0
constexpr size_t MBOX_STATUS = 28;
constexpr size_t MBOX_PHY = 30;        // 30..33
constexpr size_t EXTEND_SCREEN_STATE = 29;

// ---- brightness modes (record byte 8); 16 and 17 send levels unscaled
constexpr uint8_t BRI_MODE_MANUAL = 0;
constexpr uint8_t BRI_MODE_SCHEDULE = 1;
constexpr uint8_t BRI_MODE_SENSOR = 2;
constexpr uint8_t BRI_MODE_MANUAL_FIXED = 16;
constexpr uint8_t BRI_MODE_SCHEDULE_FIXED = 17;
constexpr uint8_t FPGA_VREG_SENSOR_BAD = 85;   // bad answers of the multi-function card
