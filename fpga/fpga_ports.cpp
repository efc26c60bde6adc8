// The FPGAs' Ethernet output ports: transmit through a pair's RAM, receive on the
// interrupt line, the periodic card search and the link watch.
//
// Ports go in pairs (0/1 .. 14/15); pair P has transmit RAM 3 + 2P, receive RAM 2 + 2P,
// its length registers, and bits in the pair-control registers of its half (129..132
// for pairs 0..3, 145..148 for pairs 4..7). Lengths are written as length - 1, 10 bits.
#include <chrono>
#include <cstring>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "fpga/job_block.h"
#include "platform/platform.h"
#include "protocol/protocol_engines.h"

namespace {

constexpr uint8_t kRegPairStatus[2] = {129, 145};   // bit 2k receive ready, 2k+1 transmit busy
constexpr uint8_t kRegPairControl[2] = {130, 146};  // bits 0..3 release, 4..7 start
constexpr uint8_t kRegPairAck[2] = {131, 147};
constexpr uint8_t kRegPortSelect[2] = {132, 148};
constexpr uint8_t kRegRxLow[8] = {24, 133, 135, 137, 149, 150, 151, 152};
constexpr uint8_t kRegRxHigh[2] = {25, 153};
constexpr uint8_t kRegTxLow[8] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr uint8_t kRegTxHigh[2] = {27, 158};
constexpr uint8_t kReadyBits = 0x55;

constexpr uint32_t kSendBusyTicks = 300;
constexpr auto kSendBusyCeiling = std::chrono::seconds(3);   // the ticks may stand still
constexpr uint64_t kBusyPollUs = 1000;
constexpr uint32_t kSearchPeriodTicks = 79;                  // one pass every 80 ticks

bool goodChecksum(const uint8_t* f, uint16_t n) { return n >= 1 && Utils::BCC(f, unsigned(n - 1)) == f[n - 1]; }

}  // namespace

// ---------------------------------------------------------------- transmit

int fpga_manage::wait_fpga_send_ready(int port, int fpga) {
    if (port < 0 || port >= kPorts || (fpga != 0 && fpga != 1)) return 0;
    const int pair = port >> 1, half = pair >> 2, k = pair & 3;
    const uint32_t start = G_timeTicks;
    const auto wallStart = std::chrono::steady_clock::now();
    for (;;) {
        uint8_t v = 0;
        if (!read_fpga_register(kRegPairStatus[half], &v, fpga)) return -1;
        // an FPGA in reset or loading its bitstream leaves the data line high: all ones,
        // and its identity with them
        if (v == 0xFF) {
            uint8_t year = 0xFF;
            if (!read_fpga_register(FPGA_REG_YEAR, &year, fpga) || year < FPGA_YEAR_MIN || year > FPGA_YEAR_MAX)
                return -1;
        }
        if (!(v & (2 << (2 * k)))) return 1;
        if (Utils::getTimeSpace(start) > kSendBusyTicks || std::chrono::steady_clock::now() - wallStart > kSendBusyCeiling)
            return 0;
        plat::workerPace(kBusyPollUs);
    }
}

int fpga_manage::Send_to_port(const uint8_t* frame, uint16_t length, int port, int fpga) {
    if (!frame || port < 0 || port >= kPorts || (fpga != 0 && fpga != 1) || length == 0 || length > rcv::kMaxFrame)
        return 0;
    const int pair = port >> 1, half = pair >> 2, k = pair & 3;
    const uint16_t last = uint16_t(length - 1);
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    auto warn = [&](const char* what) {
        writeLogMsg(LOG_WARNING, "fpga" + std::to_string(fpga + 1) + " port " + std::to_string(port + 1) + what);
    };
    const int ready = wait_fpga_send_ready(port, fpga);
    if (ready < 0) {
        warn(": FPGA not answering, frame not sent");
        return 0;
    }
    if (ready == 0) {
        ++busy_sends_;
        warn(": transmit still busy, frame sent anyway");
    }
    int ok = write_fpga_register(kRegPortSelect[half], uint8_t(1 << (port & 7)), fpga, 0xFF);
    ok = ok && write_fpga_ram(frame, 0, length, uint8_t(3 + 2 * pair), fpga);
    if (tx_ram_written_hook) tx_ram_written_hook();
    ok = ok && write_fpga_register(kRegTxLow[pair], uint8_t(last), fpga, 0xFF);
    ok = ok && write_fpga_register(kRegTxHigh[half], uint8_t(((last >> 8) & 3) << (2 * k)), fpga, uint8_t(3 << (2 * k)));
    ok = ok && write_fpga_register(kRegPairControl[half], uint8_t(0x10 << k), fpga, 0xF0);
    return ok;
}

// ---------------------------------------------------------------- receive

int fpga_manage::readSlot(int fpga, int slot, uint8_t* frame, uint16_t* length) {
    const int half = slot >> 2, k = slot & 3;
    uint8_t low = 0, high = 0;
    if (!read_fpga_register(kRegRxLow[slot], &low, fpga) || !read_fpga_register(kRegRxHigh[half], &high, fpga))
        return 0;
    *length = uint16_t((((high >> (2 * k)) & 3) << 8 | low) + 1);
    return read_fpga_ram(frame, 0, *length, uint8_t(2 + 2 * slot), fpga);
}

void fpga_manage::releaseSlot(int fpga, int slot) {
    const int half = slot >> 2, k = slot & 3;
    write_fpga_register(kRegPairControl[half], uint8_t(1 << k), fpga, uint8_t(1 << k));
    write_fpga_register(kRegPairAck[half], 0, fpga, uint8_t(1 << k));
}

int fpga_manage::reg_IRQ_Dealwith(int fpga) {
    if (fpga != 0 && fpga != 1) return 0;
    const uint8_t state = mirror(FPGA_VREG_STATE, fpga);
    if (state != 2 && state != FPGA_STATE_RUNNING) return 0;
    const plat::GpioWord& line = fpga == 0 ? bus.fpga0Interrupt : bus.fpga1Interrupt;
    int taken = 0;
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    pass_timeout_check();
    if (!(line.get() & 1)) return 0;
    write_fpga_register(FPGA_REG_VBO, 0, fpga, VBO_IRQ_PENDING);
    read_from_register(FPGA_REG_VBO, fpga);
    if (mirror(FPGA_REG_VBO, fpga) & VBO_RESTARTED) {
        write_fpga_register(FPGA_REG_VBO, 0, fpga, VBO_IRQ_PENDING | VBO_RESTARTED);
        read_from_register(FPGA_REG_YEAR, fpga);
        const uint8_t year = mirror(FPGA_REG_YEAR, fpga);
        if (year < FPGA_YEAR_MIN || year > FPGA_YEAR_MAX) {
            writeLogMsg(LOG_WARNING, "fpga" + std::to_string(fpga + 1) + " restarted unconfigured");
            write_to_register(FPGA_VREG_STATE, 0xFF, 0, fpga);
            g_change.restart_time[fpga] = G_timeTicks;
            noteDown(fpga);
            return 0;
        }
    }
    read_from_register(kRegPairStatus[0], fpga);
    read_from_register(kRegPairStatus[1], fpga);
    if ((mirror(kRegPairStatus[0], fpga) | mirror(kRegPairStatus[1], fpga)) & kReadyBits) taken = Rcv_data_from_eth(fpga);
    update_eth_state(fpga);
    return taken;
}

// Takes every search answer to the controller waiting in the receive RAMs.
int fpga_manage::deal_with_search_concurrent(int fpga) {
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    uint8_t* f = MCU_RAM_RX_func[fpga];
    int took = 0;
    uint8_t st[2] = {0, 0};
    for (int h = 0; h < 2; ++h)
        if (!read_fpga_register(kRegPairStatus[h], &st[h], fpga)) return 0;
    for (int s = 0; s < 8; ++s) {
        if (!(st[s >> 2] & (1 << (2 * (s & 3))))) continue;
        uint16_t n = 0;
        if (!readSlot(fpga, s, f, &n) || n < rcv::kMinFrame) continue;
        if (le::rd16(f) != rcv::kController || f[9] != rcv::kOpSearch) continue;  // for Rcv_data_from_eth
        if (goodChecksum(f, n)) {
            answered_slots |= 1u << (8 * fpga + s);
            if (f[10] == 0) Search_concurrent_back_result(fpga, s, f, n);
            // a job's own search ('g') is answered too
            if (f[5] == rcv::kTagCard) noteCardAnswer(fpga, s, f);
            took = 1;
        }
        releaseSlot(fpga, s);
    }
    return took;
}

void fpga_manage::Search_concurrent_back_result(int fpga, int slot, uint8_t* f, uint16_t n) {
    int port;
    if (f[7] != 0) {
        port = f[7] - 1;
    } else {
        port = 4 * (slot >> 1) + ((f[3] >> 4) & 3);
        f[7] = uint8_t(port + 1);
    }
    if (port < 0 || port >= kPorts) return;
    storeCardEntry(fpga, port, le::rd16(f + 11), f[13]);
    // the check job's result: only a whole answer from the net being checked carries the
    // screen's id and the result byte
    if (n >= rcv::kSearchAnswerFull && check_config_valid && 16 * fpga + port == check_port) {
        if (le::rd32(f + 18) == check_config_id) job_block::setU16(job_block::kResult, f[22]);
    }
}

int fpga_manage::Rcv_data_from_eth(int fpga) {
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    const int searched = deal_with_search_concurrent(fpga);
    uint8_t st[2] = {0, 0};
    for (int h = 0; h < 2; ++h) {
        read_from_register(kRegPairStatus[h], fpga);
        st[h] = mirror(kRegPairStatus[h], fpga);
    }
    int s = 0;
    while (s < 8 && !(st[s >> 2] & (1 << (2 * (s & 3))))) ++s;
    if (s == 8) return searched;  // search answers were all there was
    uint8_t* f = MCU_RAM_RX_func[fpga];
    uint16_t n = 0;
    if (!readSlot(fpga, s, f, &n)) return 0;
    if (n >= rcv::kMinFrame && le::rd16(f) == rcv::kController && f[9] == rcv::kOpSearch) {
        deal_with_search_concurrent(fpga);  // arrived meanwhile
        return 1;
    }
    releaseSlot(fpga, s);
    if (n < rcv::kMinFrame) return 1;  // nothing to read in it

    const int group = s >> 1;
    const bool good = goodChecksum(f, n);
    const uint16_t dest = le::rd16(f), source = le::rd16(f + 2);
    const uint8_t tag = f[5], opcode = f[9];
    const bool multi = good && (f[7] == rcv::kAllPorts || (multi_port && dest == rcv::kPc));
    if (multi && opcode != rcv::kOpSearch) {
        const int p = 16 * fpga + 4 * group + ((source >> 12) & 3);
        if (tag != pass_tag) return 1;  // not an answer to the outstanding frame
        answered_ports |= 1u << p;
    }
    if (good && opcode == rcv::kOpSearch && dest == rcv::kPc && f[10] == 0) {
        // a PC's search answer updates the card table as well
        int port = f[7] == 0 ? 4 * group + ((source >> 12) & 3) : f[7] - 1 - 16 * fpga;
        if (port >= 0 && port < kPorts) storeCardEntry(fpga, port, le::rd16(f + 11), f[13]);
    }
    bool consumed = false;
    if (dest == rcv::kController && (opcode == rcv::kOpRead || opcode == rcv::kOpRegisters)) {
        own_answer = good;  // a corrupted answer feeds no reader
        own_answer_length = uint16_t(n - 9);
        std::memcpy(own_answer_copy, f + 9, own_answer_length);
        consumed = true;
    }
    if (dest >= rcv::kController && dest <= rcv::kControllerLast && source < rcv::kController) {
        if (tag == rcv::kTagCard) {
            // a corrupted answer is no acknowledgement
            if (good) noteCardAnswer(fpga, s, f);
            consumed = true;
        } else if (tag == rcv::kTagBrightness) {
            consumed = true;
        }
    }
    if (!consumed) forwardToPc(fpga, s, f, n, multi);
    return 1;
}

// ---------------------------------------------------------------- card search

uint16_t fpga_manage::linkBitmap(int fpga, bool fresh) {
    if (mirror(FPGA_VREG_STATE, fpga) != FPGA_STATE_RUNNING) return 0;
    if (fresh) {
        read_from_register(FPGA_REG_LINKS0, fpga);
        read_from_register(FPGA_REG_LINKS8, fpga);
    }
    return uint16_t(mirror(FPGA_REG_LINKS8, fpga) << 8 | mirror(FPGA_REG_LINKS0, fpga));
}

void fpga_manage::Search_Card_Cmd() {
    if ((mirror(FPGA_REG_SCREEN, 0) | mirror(FPGA_REG_SCREEN, 1)) & SCREEN_HOLD) {
        g_change.search_time = G_timeTicks;
        return;
    }
    if (Utils::getTimeSpace(g_change.search_time) <= kSearchPeriodTicks) return;
    const uint16_t links[2] = {linkBitmap(0, true), linkBitmap(1, true)};
    if (!links[0] && !links[1]) {
        g_change.search_time = G_timeTicks;
        return;
    }
    {
        // an unplugged port has no cards
        plat::Locker<plat::RecursiveMutex> lock(port_mutex);
        for (int fpga = 0; fpga < 2; ++fpga)
            for (int p = 0; p < kPorts; ++p)
                if (!(links[fpga] >> p & 1) && get_port_card_num(16 * fpga + p)) storeCardEntry(fpga, p, 0, 0);
    }
    CHECK_search_cmd_status();
    const bool odd = g_change.search_pass_count++ & 1;
    for (int pair = 0; pair < 8; ++pair) {
        for (int fpga = 0; fpga < 2; ++fpga) {
            const int even = 2 * pair, oddPort = even + 1;
            const bool le = links[fpga] >> even & 1, lo = links[fpga] >> oddPort & 1;
            int port = -1;
            if (odd) port = lo ? oddPort : le ? even : -1;
            else port = le ? even : lo ? oddPort : -1;
            if (port < 0) continue;
            plat::Locker<plat::RecursiveMutex> lock(port_mutex);
            // a PC's frames came meanwhile: the rest of the pass keeps off the cards' bus
            // (the window's end drops what this pass searched)
            if (pc_window::open()) return;
            check_error_rcv_search_card_cmd(port, fpga, 0, 0);
            searched_ports |= 1u << (port + 16 * fpga);
            search_pass_mark = odd ? 1 : 2;
        }
    }
    g_change.search_time = G_timeTicks;
}

void fpga_manage::CHECK_search_cmd_status() {
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    if (search_pass_mark) {
        const bool odd = search_pass_mark == 1;
        for (int fpga = 0; fpga < 2; ++fpga) {
            for (int s = 0; s < 8; ++s) {
                if (answered_slots >> (8 * fpga + s) & 1) continue;
                const int even = 2 * s, oddPort = even + 1;
                const bool se = searched_ports >> (even + 16 * fpga) & 1, so = searched_ports >> (oddPort + 16 * fpga) & 1;
                int port = -1;
                if (odd) port = so ? oddPort : se ? even : -1;
                else port = se ? even : so ? oddPort : -1;
                if (port >= 0) storeCardEntry(fpga, port, 0, 0);
            }
        }
    }
    searched_ports = 0;
    answered_slots = 0;
    search_pass_mark = 0;
    const uint16_t total = uint16_t(check_netport_card(0) + check_netport_card(1));
    total_cards_ = total;
    std::lock_guard<plat::Mutex> extend(mailboxRamMutex());
    MCU_RAM_EXTEND[0x7C] = uint8_t(total);
    MCU_RAM_EXTEND[0x7D] = uint8_t(total >> 8);
}

void fpga_manage::Check_search_card() {
    const pc_window::State pc = pc_window::look();
    if (pc == pc_window::kNone && get_fpga_status() == 1) {
        check_vbo_status(0);
        check_vbo_status(1);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
        return;
    }
    if (pc == pc_window::kEnded) {
        plat::Locker<plat::RecursiveMutex> lock(port_mutex);
        searched_ports = 0;
    }
}

// ---------------------------------------------------------------- links

uint32_t fpga_manage::get_wlan_state() { return uint32_t(linkBitmap(0, true)) | uint32_t(linkBitmap(1, true)) << 16; }

void fpga_manage::check_wlanonline_state() {
    uint32_t now[2];
    for (int i = 0; i < 2; ++i) now[i] = stageUp(i) ? linkBitmap(i, true) : 0;
    if (get_fpga_status() != 1) return;
    if (now[0] == last_links[0] && now[1] == last_links[1]) return;
    last_links[0] = now[0];
    last_links[1] = now[1];
    VlxRamPara::test_signal(11);
}
