#include "core/mode_file_requests.h"

#include <atomic>

namespace mode_file_requests {
namespace {
std::atomic<uint32_t> g_asked{0};   // the link threads count, the GUI thread and the stop read
}  // namespace

void asked() { ++g_asked; }
uint32_t count() { return g_asked.load(); }

}  // namespace mode_file_requests
