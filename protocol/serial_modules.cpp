#include "protocol/serial_modules.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "protocol/control_frame.h"

serial_link::serial_link(int port, uint8_t transport) : port_(port), link_(transport), drops_("serial line ttyS" + std::to_string(port)) {}

serial_link::~serial_link() { stop(); }

bool serial_link::start(uint32_t baud, const char* name, const char* threadName) {
    fd_ = plat::net::openSerialPort(port_, baud);
    if (fd_ < 0) {
        writeLogMsg(LOG_ERROR, std::string(name) + ": /dev/ttyS" + std::to_string(port_) + " cannot be opened");
        return false;
    }
    // The read size of the line, g_dataLen KiB.
    buf_.resize(size_t(g_dataLen ? g_dataLen : 32) * 1024);
    if (!thread_.start(name, threadName, [this] { receiveThread(); })) return false;
    return true;
}

void serial_link::stop() {
    thread_.stop();
    if (fd_ >= 0) plat::sys().close(fd_);
    fd_ = -1;
}

// Frames are held as they are read and answered one at a time, the line read between two
// of them: what a PC sends ahead waits here, within a UDP sender's bound, not in the
// terminal, and what is past the bound is dropped.
void serial_link::receiveThread() {
    const auto send = [&](const std::vector<uint8_t>& reply) { plat::net::writeAll(fd_, reply.data(), reply.size()); };
    while (!thread_.stopping()) {
        std::vector<pollfd> fds{{thread_.wakeFd(), POLLIN, 0}, {fd_, POLLIN, 0}};
        if (plat::net::pollFds(fds, link_.hasHeldFrame() ? 0 : drops_.waitMs(-1)) < 0) continue;  // the wake pipe ends the wait
        if (fds[0].revents) {
            thread_.drainWake();
            continue;
        }
        if (fds[1].revents) {
            const ssize_t r = plat::net::readFd(fd_, buf_.data(), buf_.size());
            if (r > 0) {
                size_t past = 0;
                link_.holdBytes(buf_.data(), size_t(r), {control_link::kHeldFrames, control_link::kHeldBytes}, &past);
                pastBound_ += past;
                if (past)
                    drops_.log("frames past the " + std::to_string(control_link::kHeldFrames) + " frames or " +
                                   std::to_string(control_link::kHeldBytes / 1024) + " KiB it may have waiting",
                               past);
            } else if (!link_.hasHeldFrame() && (fds[1].revents & (POLLHUP | POLLERR))) {
                // A hung-up line reads as ready with nothing in it: do not spin on it.
                plat::workerPace(100000);
            }
        }
        link_.handleHeldFrame(send);
        backlog_.note(link_.heldBytes());
        drops_.flushDue();
    }
}
