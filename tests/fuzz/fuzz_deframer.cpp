// libFuzzer target: any byte stream, cut into reads of the sizes the data itself picks,
// through the stream deframer; every frame it yields must survive a coding round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/control_frame.h"
#include "protocol/protocol_phy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    frame_deframer d(4096);
    std::vector<uint8_t> line, back(4096);
    const size_t piece = 1 + data[0] % 64;
    for (size_t i = 1; i < size; i += piece) {
        const size_t n = size - i < piece ? size - i : piece;
        d.feed(data + i, n, [&](const uint8_t* f, size_t len) {
            if (len > 4096) std::abort();
            protocol_phy::data_re_transf_meaning(line, f, len);
            const int m = protocol_phy::data_transf_meaning(line.data(), line.size(), back.data(), back.size());
            if (m != int(len) || std::vector<uint8_t>(back.begin(), back.begin() + m) != std::vector<uint8_t>(f, f + len))
                std::abort();
        });
    }
    // The one-shot decoder must never write past its buffer.
    uint8_t small[32];
    protocol_phy::data_transf_meaning(data, size, small, sizeof small);
    return 0;
}
