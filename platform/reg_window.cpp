#include "platform/reg_window.h"

#include <fcntl.h>
#include <sys/mman.h>

#include "platform/board_wiring.h"
#include "platform/sys.h"

namespace plat {

RegWindow::~RegWindow() { close(); }

void RegWindow::close() {
    Sys& s = sys();
    if (base_) s.munmap(base_, length_);
    base_ = nullptr;
    length_ = 0;
    for (int* fd : {&msysFd_, &memFd_})
        if (*fd >= 0) {
            s.close(*fd);
            *fd = -1;
        }
}

bool RegWindow::open(size_t needed, std::string* error) {
    close();
    Sys& s = sys();
    msysFd_ = s.open(wiring::kMsysDevice, O_RDWR | O_SYNC);
    memFd_ = s.open(wiring::kMemDevice, O_RDWR | O_SYNC);
    if (msysFd_ < 0 || memFd_ < 0) {
        *error = msysFd_ < 0 ? "cannot open /dev/msys" : "cannot open /dev/mem";
        close();
        return false;
    }
    uint32_t block[wiring::kMsysBlockBytes / 4] = {wiring::kMsysMagic, 0, 0, 0, wiring::kMsysBlockBytes};
    if (s.ioctl(msysFd_, wiring::kMsysRequestWindow, block) != 0) {
        *error = "the register window request failed";
        close();
        return false;
    }
    if (block[3] < needed) {
        *error = "register window too short for the GPIO lines";
        close();
        return false;
    }
    void* p = s.mmap(nullptr, block[3], PROT_READ | PROT_WRITE, MAP_SHARED, memFd_, off_t(block[1]));
    if (p == MAP_FAILED || !p) {
        *error = "cannot map the register window";
        close();
        return false;
    }
    base_ = p;
    length_ = block[3];
    return true;
}

}  // namespace plat
