#pragma once
// Replaces a file so that a power cut leaves either the old or the new contents:
// temporary file in the same folder, write, fsync, rename, fsync of the folder.
#include <cstddef>
#include <string>

namespace plat {

// Reads the whole file at `hostPath` into `out`; false when it cannot be opened.
bool readWholeFile(const std::string& hostPath, std::string* out);

// `hostPath` is a path on this machine (already rooted with plat::path()).
// Returns false (and leaves the old file untouched) when any step fails.
bool replaceFileAtomically(const std::string& hostPath, const void* data, size_t length);
inline bool replaceFileAtomically(const std::string& hostPath, const std::string& bytes) {
    return replaceFileAtomically(hostPath, bytes.data(), bytes.size());
}

}  // namespace plat
