#include "scaler/c331_wiring.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/logMsg.h"
#include "platform/gpio_word.h"
#include "platform/sys.h"

namespace c331 {

using namespace plat::wiring;

void* mapGpioWindow() {
    plat::Sys& sys = plat::sys();
    const int msys = sys.open(kMsysDevice, O_RDWR);
    if (msys < 0) {
        writeLogMsg(LOG_ERROR, std::string("c331: can't open ") + kMsysDevice + ": " + std::strerror(errno));
        return nullptr;
    }
    uint32_t block[5] = {kMsysMagic, 0, 0, 0, kMsysBlockBytes};
    const int r = sys.ioctl(msys, kMsysRequestWindow, block);
    sys.close(msys);
    if (r < 0) {
        writeLogMsg(LOG_ERROR, std::string("c331: register window request failed: ") + std::strerror(errno));
        return nullptr;
    }
    const uint32_t phys = block[1], length = block[3];
    if (length < kGpioWindowNeeded + sizeof(uint16_t)) {
        writeLogMsg(LOG_ERROR, "c331: register window of " + std::to_string(length) + " bytes is too short for the FPGA selects");
        return nullptr;
    }
    const int mem = sys.open(kMemDevice, O_RDWR | O_SYNC);
    if (mem < 0) {
        writeLogMsg(LOG_ERROR, std::string("c331: can't open ") + kMemDevice + ": " + std::strerror(errno));
        return nullptr;
    }
    void* p = sys.mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, mem, static_cast<off_t>(phys));
    sys.close(mem);
    if (p == MAP_FAILED) {
        writeLogMsg(LOG_ERROR, std::string("c331: can't map the register window: ") + std::strerror(errno));
        return nullptr;
    }
    return p;
}

void fpgaSelectsInactive(void* gpioWindow) {
    plat::GpioWord(gpioWindow, kGpioFpga0Select).set(kLineHigh);
    plat::GpioWord(gpioWindow, kGpioFpga1Select).set(kLineHigh);
}

}  // namespace c331
