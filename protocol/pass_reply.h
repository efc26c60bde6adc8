#pragma once
// Reply lists of the pass-through: the FPGA engine queues a receiving card's answer for
// the transport named by g_passby_trans_port (1 serial, 2 TCP, 3 UDP, 4 the 4G link); the
// transport that passed the frame sends it. Each transport holds only the latest answer.
#include <cstddef>
#include <cstdint>
#include <vector>

// Encodes the answer with the line coder and makes it the transport's reply list (one
// frame), marking it ready. Unknown transports drop it.
void protocol_pass_reply(uint8_t transport, const uint8_t* frame, size_t length);
// Takes the ready reply list of the transport (encoded frames); false when none is ready.
bool protocol_take_reply(uint8_t transport, std::vector<std::vector<uint8_t>>* out);
void protocol_clear_reply(uint8_t transport);
