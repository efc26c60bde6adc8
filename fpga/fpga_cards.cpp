// Receiving-card frames: the builders of the card jobs and the per-port card table in
// the FPGAs' RAM-1 images.
#include <cstring>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"

namespace {

bool validPort(int port) { return port >= 0 && port < kPorts; }

// A frame of `length` bytes fits both the caller's buffer and a pair's RAM.
bool fits(size_t length, size_t capacity) { return length <= capacity && length <= rcv::kMaxFrame; }

// Destination for one card of the port or, with `all`, every card (no port bits).
bool cardOrAll(int port, uint16_t card, int all, uint16_t* dest) {
    if (all) {
        *dest = rcv::kAllCards;
        return true;
    }
    if (card > rcv::kMaxCardIndex) return false;
    *dest = uint16_t(card | ((port & 3) << 12));
    return true;
}

uint16_t allOnPort(int port) { return uint16_t(rcv::kAllOnPort | ((port & 3) << 12)); }

void head(uint8_t* f, uint16_t dest, uint8_t port7, uint8_t opcode) {
    le::wr16(f, dest);
    le::wr16(f + 2, rcv::kController);
    f[4] = rcv::kFixed;
    f[5] = rcv::kTagCard;
    f[6] = rcv::kModeCommand;
    f[7] = port7;
    f[8] = 0;
    f[9] = opcode;
}

// Checksum at the end; the length kept for the job when `store`.
int close(uint8_t* f, size_t length, bool store) {
    f[length - 1] = Utils::BCC(f, unsigned(length - 1));
    if (store) job_block::setU16(job_block::kFrameLength, uint16_t(length));
    return int(length);
}

// Opcode and the caller's n argument bytes from [10].
int withArguments(uint8_t* f, size_t capacity, uint16_t dest, uint8_t port7, uint8_t opcode, const uint8_t* data,
                  uint16_t n) {
    const size_t length = size_t(n) + 11;
    if (!f || !fits(length, capacity) || (n && !data)) return 0;
    head(f, dest, port7, opcode);
    if (n) std::memcpy(f + 10, data, n);
    return close(f, length, true);
}

}  // namespace

void rcv::cardTableEntry(int port, uint16_t* count, uint16_t* status) {
    static const uint16_t first[4] = {100, 102, 108, 110};
    if (port < 4) {
        *count = first[port];
        *status = uint16_t(first[port] + 4);
    } else if (port < 8) {
        *count = uint16_t(560 + 4 * (port - 4));
        *status = uint16_t(*count + 2);
    } else {
        *count = uint16_t(640 + 4 * (port - 8));
        *status = uint16_t(*count + 2);
    }
}

int fpga_manage::load_write_ram_cmd_create(int port, uint16_t card, uint32_t address, const uint8_t* data, uint16_t n,
                                           uint8_t* frame, int all, size_t capacity) {
    uint16_t dest;
    const size_t length = size_t(n) + 19;
    if (!frame || !validPort(port) || !cardOrAll(port, card, all, &dest) || !fits(length, capacity) || (n && !data))
        return 0;
    head(frame, dest, uint8_t(port + 1), rcv::kOpWrite);
    le::wr32(frame + 10, address);
    le::wr16(frame + 14, n);
    frame[16] = frame[17] = 0;
    if (n) std::memcpy(frame + 18, data, n);
    return close(frame, length, true);
}

int fpga_manage::rcv_card_cmd_create(uint8_t* frame, int port, uint16_t originX, uint16_t originY, size_t capacity) {
    const uint16_t card = job_block::u16(job_block::kCard);
    if (!frame || !validPort(port) || card > rcv::kMaxCardIndex || !fits(23, capacity)) return 0;
    head(frame, uint16_t(card | ((port & 3) << 12)), uint8_t(port + 1), rcv::kOpWrite);
    le::wr32(frame + 10, 0x180);
    le::wr16(frame + 14, 4);
    frame[16] = frame[17] = 0;
    le::wr16(frame + 18, uint16_t(originX + le::rd16(line_type + line_field::kOffsetX)));
    le::wr16(frame + 20, uint16_t(originY + le::rd16(line_type + line_field::kOffsetY)));
    return close(frame, 23, false);
}

int fpga_manage::rcv_active_firmware_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n,
                                                uint8_t* frame, size_t capacity) {
    uint16_t dest;
    if (!validPort(port) || !cardOrAll(port, card, 0, &dest)) return 0;
    return withArguments(frame, capacity, dest, uint8_t(port + 1), rcv::kOpActivate, data, n);
}

int fpga_manage::ram_reset_cmd_create(uint8_t* frame, const SCAN_PARA& scan, int port, size_t capacity) {
    if (!validPort(port)) return 0;
    const uint8_t args[4] = {uint8_t(scan.scan), scan.field1, 0x01, scan.field2};
    return withArguments(frame, capacity, allOnPort(port), uint8_t(port + 1), rcv::kOpRegisters, args, 4);
}

int fpga_manage::save_para_cmd_create(uint8_t* frame, int port, size_t capacity) {
    if (!validPort(port)) return 0;
    const uint8_t args[2] = {0xFF, 0x00};
    return withArguments(frame, capacity, rcv::kAllCards, uint8_t(port + 1), rcv::kOpSave, args, 2);
}

int fpga_manage::load_write_reg_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame,
                                           int all, size_t capacity) {
    uint16_t dest;
    if (!validPort(port) || !cardOrAll(port, card, all, &dest)) return 0;
    return withArguments(frame, capacity, dest, 0, rcv::kOpRegisters, data, n);
}

// The caller's bytes from [9], its opcode first.
int fpga_manage::load_write_user_defined_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n,
                                                    uint8_t* frame, int all, size_t capacity) {
    uint16_t dest;
    const size_t length = size_t(n) + 10;
    if (!frame || !validPort(port) || !cardOrAll(port, card, all, &dest) || n == 0 || !data ||
        !fits(length, capacity))
        return 0;
    head(frame, dest, 0, data[0]);
    std::memcpy(frame + 9, data, n);
    return close(frame, length, true);
}

int fpga_manage::rcv_reconfig_cmd_create(int port, uint16_t card, const uint8_t* data, uint16_t n, uint8_t* frame,
                                         size_t capacity) {
    uint16_t dest;
    if (!validPort(port) || !cardOrAll(port, card, 0, &dest)) return 0;
    return withArguments(frame, capacity, dest, uint8_t(port + 1), rcv::kOpReconfigure, data, n);
}

int fpga_manage::load_search_rxc_cmd_create(int port, const uint8_t* data, uint16_t n, uint8_t* frame,
                                            size_t capacity) {
    if (!validPort(port)) return 0;
    return withArguments(frame, capacity, allOnPort(port), uint8_t(port + 1), rcv::kOpSearch, data, n);
}

int fpga_manage::save_para2flash_cmd_create(int port, uint16_t card, uint8_t* frame, int all, size_t capacity) {
    uint16_t dest;
    if (!validPort(port) || !cardOrAll(port, card, all, &dest)) return 0;
    const uint8_t args[2] = {0xFF, 0x00};
    return withArguments(frame, capacity, dest, 0, rcv::kOpSave, args, 2);
}

int fpga_manage::mapping_enable_cmd_create(int port, uint8_t* frame, size_t capacity) {
    if (!validPort(port)) return 0;
    const uint8_t args[4] = {0x03, 0x0F, 0x01, job_block::u8(job_block::kArgument)};
    return withArguments(frame, capacity, rcv::kAllCards, uint8_t(port + 1), rcv::kOpRegisters, args, 4);
}

int fpga_manage::build_search_frame(uint8_t* f, int port, uint32_t configId, uint8_t enable) {
    if (!f || !validPort(port)) return 0;
    std::memset(f, 0, rcv::kSearchFrame);
    head(f, allOnPort(port), uint8_t(port + 1), rcv::kOpSearch);
    f[5] = rcv::kTagSearch;
    f[6] = rcv::kModeSearch;
    f[16] = enable & 1;
    le::wr32(f + 17, configId);
    f[21] = 0xFF;
    return close(f, rcv::kSearchFrame, false);
}

int fpga_manage::check_error_rcv_search_card_cmd(int port, int fpga, uint32_t configId, uint8_t enable) {
    uint8_t f[rcv::kSearchFrame];
    if (!build_search_frame(f, port, configId, enable) || (fpga != 0 && fpga != 1)) return 0;
    const int pair = port >> 1;
    write_fpga_register(pair < 4 ? 131 : 147, 0, fpga, uint8_t(1 << (pair & 3)));
    return Send_to_port(f, rcv::kSearchFrame, port, fpga);
}

void fpga_manage::storeCardEntry(int fpga, int port, uint16_t count, uint8_t status) {
    plat::Locker<plat::Mutex> lock(image_mutex);
    writeCardEntry(fpga, port, count, status);
}

void fpga_manage::writeCardEntry(int fpga, int port, uint16_t count, uint8_t status) {
    uint16_t at, statusAt;
    rcv::cardTableEntry(port, &at, &statusAt);
    uint8_t* image = MCU_RAM_PARA_func[fpga];
    le::wr16(image + at, count);
    image[statusAt] = status;
    // the image bytes from the count through the status byte
    write_fpga_ram(image + at, at, uint16_t(statusAt - at + 1), FPGA_RAM_PARA, fpga);
}
