// Device backend of the shell runner: the board's own /bin/sh.
#include <cstdio>
#include <cstdlib>

#include "platform/linux/linux_backend.h"

namespace plat::linuxdev {

namespace {
class LinuxShell final : public Shell {
public:
    int system(const std::string& command) override { return ::system(command.c_str()); }
    int popen(const std::string& command, std::string* output) override {
        FILE* f = ::popen(command.c_str(), "r");
        if (!f) return -1;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            if (output) output->append(buf, n);
        return ::pclose(f);
    }
};
}  // namespace

std::unique_ptr<Shell> makeShell() { return std::make_unique<LinuxShell>(); }

}  // namespace plat::linuxdev
