#include "scaler/c331_print.h"
#include "platform/annotated_mutex.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

uint8_t prnEn[400] = {};

namespace {
plat::Mutex g_sinkMutex{plat::Lock::PrintSink};   // the sink and each line through it, never a write to stdout (a leaf)
std::function<void(const std::string&)> g_sink;   // under g_sinkMutex
}  // namespace

void setC331PrintSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<plat::Mutex> l(g_sinkMutex);
    g_sink = std::move(sink);
}

void c331_printf(const char* fmt, ...) {
    char small[256];
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    std::string text;
    if (n >= 0 && size_t(n) < sizeof small) {
        text.assign(small, size_t(n));
    } else if (n > 0) {
        std::vector<char> big(size_t(n) + 1);
        std::vsnprintf(big.data(), big.size(), fmt, again);
        text.assign(big.data(), size_t(n));
    }
    va_end(again);
    {
        std::lock_guard<plat::Mutex> l(g_sinkMutex);
        if (g_sink) {
            g_sink(text);
            return;
        }
    }
    // stdio keeps the line whole; a console that reads slowly holds up no other printer
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}
