#pragma once
// Outside check of an EDID with edid-decode, where it is installed.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace testkit {

inline bool edidDecodeInstalled() { return access("/usr/bin/edid-decode", X_OK) == 0; }

// edid-decode --check on `edid`: its output, and its exit status in *status.
inline std::string runEdidDecode(const std::vector<uint8_t>& edid, int* status) {
    char path[] = "/tmp/vlx-edid-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "cannot make a temporary file";
    ::close(fd);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(edid.data()), std::streamsize(edid.size()));
    std::string out;
    FILE* p = popen((std::string("edid-decode --check ") + path + " 2>&1").c_str(), "r");
    if (p) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        *status = pclose(p);
    }
    std::remove(path);
    return out;
}

// True when edid-decode passes it; the reason otherwise.
inline bool edidDecodePasses(const std::vector<uint8_t>& edid, std::string* out) {
    int status = -1;
    *out = runEdidDecode(edid, &status);
    return status == 0 && out->find("EDID conformity: PASS") != std::string::npos &&
           out->find("Failures:") == std::string::npos && out->find("checksum") == std::string::npos;
}

// The preferred timing of an EDID (its first detailed descriptor): width, height, rate.
inline std::vector<int> edidPreferredTiming(const std::vector<uint8_t>& e) {
    if (e.size() < 72) return {};
    const uint8_t* d = e.data() + 54;
    const int clock = (d[0] | d[1] << 8) * 10000;
    const int hact = d[2] | (d[4] >> 4) << 8, hblank = d[3] | (d[4] & 15) << 8;
    const int vact = d[5] | (d[7] >> 4) << 8, vblank = d[6] | (d[7] & 15) << 8;
    if ((hact + hblank) * (vact + vblank) == 0) return {hact, vact, 0};
    return {hact, vact, int(std::lround(double(clock) / (double(hact + hblank) * double(vact + vblank))))};
}

}  // namespace testkit
