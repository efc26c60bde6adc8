// Placeholder until the simulated board lands: records commands, has no devices.
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/sim/sim_backend.h"

namespace plat::sim {
namespace {
class NoDeviceSys final : public Sys {
public:
    int open(const std::string&, int, int) override { errno = ENODEV; return -1; }
    int close(int) override { return -1; }
    ssize_t read(int, void*, size_t) override { return -1; }
    ssize_t write(int, const void*, size_t) override { return -1; }
    ssize_t pread(int, void*, size_t, off_t) override { return -1; }
    ssize_t pwrite(int, const void*, size_t, off_t) override { return -1; }
    off_t lseek(int, off_t, int) override { return -1; }
    int ioctl(int, unsigned long, void*) override { return -1; }
    void* mmap(void*, size_t, int, int, int, off_t) override { return reinterpret_cast<void*>(-1); }
    int munmap(void*, size_t) override { return -1; }
    int socket(int, int, int) override { return -1; }
    int bind(int, const struct sockaddr*, socklen_t) override { return -1; }
    ssize_t recv(int, void*, size_t, int) override { return -1; }
};
class RecordingShell final : public Shell {
public:
    int system(const std::string& c) override { std::lock_guard<std::mutex> l(m_); log_.push_back(c); return 0; }
    int popen(const std::string& c, std::string*) override { return system(c); }
private:
    std::mutex m_;
    std::vector<std::string> log_;
};
}  // namespace
std::unique_ptr<Sys> makeSys() { return std::make_unique<NoDeviceSys>(); }
std::unique_ptr<Shell> makeShell() { return std::make_unique<RecordingShell>(); }
}  // namespace plat::sim
