#pragma once
// What a benchmark takes from its environment, so two can run on one machine: the
// temporary folder (TMPDIR, else /tmp) and the control ports' offset (VLX_PORT_OFFSET).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace benchenv {

// A fresh folder "<TMPDIR>/vlx-<what>-XXXXXX" of this run; the program ends when it cannot be made.
inline std::string tempRoot(const char* what) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (std::string("vlx-") + what + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
        std::perror(pattern.c_str());
        std::exit(1);
    }
    return buf.data();
}

// VLX_PORT_OFFSET when it is set, else `fallback`.
inline int portOffset(int fallback) {
    const char* o = std::getenv("VLX_PORT_OFFSET");
    return o && *o ? std::atoi(o) : fallback;
}

}  // namespace benchenv
