#include "protocol/pass_reply.h"

#include <mutex>

#include "platform/annotated_mutex.h"
#include "protocol/control_frame.h"
#include "protocol/protocol_phy.h"

namespace {
// One per transport: the engine's thread fills it, the link's thread takes it, both under `mutex`.
struct ReplySlot {
    plat::Mutex mutex{plat::Lock::ReplySlot};   // ready and list (a leaf)
    bool ready = false;
    std::vector<std::vector<uint8_t>> list;
};
ReplySlot g_slots[4];  // serial, TCP, UDP, 4G

ReplySlot* slotOf(uint8_t transport) {
    return (transport >= ctl::kTransportSerial && transport <= ctl::kTransport4G) ? &g_slots[transport - 1] : nullptr;
}
}  // namespace

void protocol_pass_reply(uint8_t transport, const uint8_t* frame, size_t length) {
    ReplySlot* s = slotOf(transport);
    if (!s) return;
    std::vector<uint8_t> encoded;
    protocol_phy::data_re_transf_meaning(encoded, frame, length);
    std::lock_guard<plat::Mutex> l(s->mutex);
    s->list.clear();
    s->list.push_back(std::move(encoded));
    s->ready = true;
}

bool protocol_take_reply(uint8_t transport, std::vector<std::vector<uint8_t>>* out) {
    ReplySlot* s = slotOf(transport);
    if (!s) return false;
    std::lock_guard<plat::Mutex> l(s->mutex);
    if (!s->ready) return false;
    *out = std::move(s->list);
    s->list.clear();
    s->ready = false;
    return true;
}

void protocol_clear_reply(uint8_t transport) {
    ReplySlot* s = slotOf(transport);
    if (!s) return;
    std::lock_guard<plat::Mutex> l(s->mutex);
    s->list.clear();
    s->ready = false;
}
