#pragma once
// USB upgrade packages for tests, made by scripts/gen_upgrade_package.py (written from the
// package layout, not from the controller's reader) from payload files under the test root.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/testkit.h"

namespace testkit {

// Bytes that differ at every position and between seeds.
inline std::string payload(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = 0x9E3779B9u * (seed + 1);
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = char(x >> 24);
    }
    return s;
}

// Writes `devicePath` (absolute, under the root) with the generator; `args` are its options
// with payload files given as device paths. True when the generator succeeded.
inline bool generatePackage(const std::string& devicePath, const std::vector<std::string>& args) {
    std::string cmd = "python3 " VLX_SOURCE_DIR "/scripts/gen_upgrade_package.py '" + plat::path(devicePath) + "'";
    for (std::string a : args) {
        // a payload named by its device path
        if (!a.empty() && a[0] == '/') a = plat::path(a);
        cmd += " '" + a + "'";
    }
    writeFile(devicePath, "");  // its folder
    return std::system(cmd.c_str()) == 0;
}

}  // namespace testkit
