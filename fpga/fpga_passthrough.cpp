// The PC's frames to the receiving cards and the cards' answers back to the transport
// that passed them.
#include <cstring>

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "protocol/control_frame.h"
#include "protocol/pass_reply.h"

namespace {


// Destination bits 12..13 := port & 3, the checksum kept by XOR of the old and new byte.
void setPortBits(uint8_t* f, uint16_t n, int port) {
    const uint8_t old = f[1];
    f[1] = uint8_t((old & ~0x30) | ((port & 3) << 4));
    f[n - 1] ^= uint8_t(old ^ f[1]);
}

// Byte i := v, the checksum following.
void patch(uint8_t* f, uint16_t n, size_t i, uint8_t v) {
    f[n - 1] ^= uint8_t(f[i] ^ v);
    f[i] = v;
}

}  // namespace

fpga_manage::PassRoute fpga_manage::passRoute(const uint8_t* f) {
    PassRoute r;
    const uint8_t mode = f[6], p7 = f[7];
    if (mode == 1 || mode == 3 || mode == 255) {
        if (p7 == rcv::kAllPorts) {
            r.kind = PassRoute::kEveryPort;
            return r;
        }
        if (p7 == 0) {
            r.kind = PassRoute::kOnePort;
            r.port = (f[1] >> 4) & 3;
            return r;
        }
    } else if (mode == 0) {
        if (p7 == 0) {
            r.kind = PassRoute::kPortZeroOfBoth;
            return r;
        }
    } else {
        return r;
    }
    if (p7 >= 1 && p7 <= 16) {
        r.port = p7 - 1;
    } else if (p7 >= 17 && p7 <= 32) {
        r.port = p7 - 17;
        r.fpga = 1;
    } else {
        return r;
    }
    r.kind = PassRoute::kOnePort;
    return r;
}

bool fpga_manage::passTargetsRestarting(const uint8_t* frame, uint16_t length) {
    if (!frame || length < rcv::kMinFrame) return false;
    const PassRoute r = passRoute(frame);
    switch (r.kind) {
    case PassRoute::kOnePort: return restarting(r.fpga);
    case PassRoute::kEveryPort:
    case PassRoute::kPortZeroOfBoth: return restarting(0) || restarting(1);
    default: return false;
    }
}

int fpga_manage::Dealwith1_PC_to_eth(uint16_t length, const uint8_t* frame) {
    if (!frame || length < rcv::kMinFrame || length >= rcv::kMaxFrame) return 0;
    uint8_t f[rcv::kMaxFrame];
    std::memcpy(f, frame, length);
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    multi_port = 0;
    for (int i = 0; i < 2; ++i) {
        write_fpga_register(131, 0, i, 0x0F);
        write_fpga_register(147, 0, i, 0x0F);
    }
    const PassRoute r = passRoute(f);
    switch (r.kind) {
    case PassRoute::kEveryPort: {
        multi_port = 1;
        pass_0ffe = (le::rd16(f) & 0x0FFF) == rcv::kAllOnPort;
        answered_ports = 0;
        pass_wait = 0;
        pass_last_length = 0;
        pass_tag = f[5];
        const int sent = multi_port_send(f, length);
        if (!sent) multi_port = 0;
        return sent ? 1 : 0;
    }
    case PassRoute::kPortZeroOfBoth: {
        // unchanged to port 0 of both FPGAs
        const int a = Send_to_port(f, length, 0, 0);
        const int b = Send_to_port(f, length, 0, 1);
        pass_wait = 1;
        pass_send_time = G_timeTicks;
        return a || b;
    }
    case PassRoute::kOnePort:
        setPortBits(f, length, r.port);
        if (!Send_to_port(f, length, r.port, r.fpga)) return 0;
        pass_wait = 1;
        pass_send_time = G_timeTicks;
        return 1;
    default: return 0;
    }
}

int fpga_manage::multi_port_send(uint8_t* f, uint16_t length) {
    const uint32_t links = get_wlan_state();
    uint32_t expected = 0;
    for (int pair = 0; pair < 8; ++pair)
        for (int fpga = 0; fpga < 2; ++fpga)
            for (int port = 2 * pair; port <= 2 * pair + 1; ++port) {
                const int global = 16 * fpga + port;
                if (!(links >> global & 1) || get_port_card_num(global) == 0) continue;
                setPortBits(f, length, port);
                if (Send_to_port(f, length, port, fpga)) expected |= 1u << global;
            }
    expected_ports = expected;
    pass_wait = 1;
    pass_send_time = G_timeTicks;
    return expected != 0;
}

void fpga_manage::queuePassAnswer(const uint8_t* f, uint16_t n) {
    const uint8_t transport = g_passby_trans_port.exchange(ctl::kTransportNone);
    if (transport == ctl::kTransportNone) return;  // nobody waits for it
    protocol_pass_reply(transport, f, n);
    reply_ready = 1;
}

void fpga_manage::forwardToPc(int fpga, int slot, uint8_t* f, uint16_t n, bool multi) {
    if (!multi) {
        if (f[7] == 0) patch(f, n, 7, uint8_t(16 * fpga + 4 * (slot >> 1) + ((f[3] >> 4) & 3) + 1));
        patch(f, n, 3, uint8_t(f[3] & ~0x30));
        queuePassAnswer(f, n);
        return;
    }
    std::memcpy(pass_last, f, n);
    pass_last_length = n;
    if ((answered_ports & expected_ports) != expected_ports) return;
    pass_timeout_check();
}

// A multi-port exchange ends when every port of its send-time set answered, or at its
// time-out with the last answer that came; the last answer is the combined one.
void fpga_manage::pass_timeout_check() {
    plat::Locker<plat::RecursiveMutex> lock(port_mutex);
    if (!multi_port || !pass_wait) return;
    const bool all = (answered_ports & expected_ports) == expected_ports;
    if (!all && Utils::getTimeSpace(pass_send_time) < kMultiPortWaitTicks) return;
    uint8_t* f = pass_last;
    const uint16_t n = pass_last_length;
    multi_port = 0;
    pass_wait = 0;
    answered_ports = 0;
    pass_last_length = 0;
    if (n < rcv::kMinFrame) {
        writeLogMsg(LOG_WARNING, "pass-through: no port answered the multi-port frame");
        return;
    }
    const uint16_t source = pass_0ffe ? rcv::kAllOnPort : rcv::kAllCards;
    pass_0ffe = 0;
    patch(f, n, 2, uint8_t(source));
    patch(f, n, 3, uint8_t(source >> 8));
    patch(f, n, 7, rcv::kAllPorts);
    queuePassAnswer(f, n);
}
