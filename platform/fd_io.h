#pragma once
// Plain descriptor helpers shared by the platform layer.
#include <cstddef>

namespace plat {

// Writes all n bytes, going on after short writes and EINTR; false on any other error
// (a non-blocking descriptor that is full counts as an error).
bool writeAll(int fd, const void* data, size_t n);

}  // namespace plat
