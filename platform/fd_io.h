#pragma once
// Plain descriptor helpers shared by the platform layer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// Writes all n bytes, going on after short writes and EINTR; false on any other error
// (a non-blocking descriptor that is full counts as an error).
bool writeAll(int fd, const void* data, size_t n);

// Appends n bytes to the regular file at `hostPath` (a path on this machine), creating it
// (0644) when missing. A symbolic link in the file's place is never followed, a pipe or
// device is never written, and a folder outside the root is never written into: those
// give false. `sizeAfter` (may be null) receives the file's size after the write.
bool appendToFile(const std::string& hostPath, const void* data, size_t n, int64_t* sizeAfter = nullptr);

}  // namespace plat
