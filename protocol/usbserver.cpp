#include "protocol/usbserver.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/sys.h"
#include "platform/waits.h"
#include "platform/worker_pacer.h"

#include <filesystem>

namespace {

// "sda", "sdb" (a disk) or "sda1".."sda9" (a partition); `partition` tells which.
bool usbBlockName(const std::string& name, bool* partition) {
    if (name.size() < 3 || name.compare(0, 2, "sd") != 0 || name[2] < 'a' || name[2] > 'z') return false;
    if (name.size() == 3) {
        *partition = false;
        return true;
    }
    if (name.size() == 4 && name[3] >= '1' && name[3] <= '9') {
        *partition = true;
        return true;
    }
    return false;
}

}  // namespace

void UsbWatch::onUevent(const char* message, size_t length, std::vector<int>* codes) {
    // First field "action@devpath", then KEY=VALUE fields, all NUL-separated; the
    // kernel's text is read only up to the bytes received.
    const std::string head(message, strnlen(message, length));
    const size_t at = head.find('@');
    if (at == std::string::npos) return;
    const std::string action = head.substr(0, at);
    const std::string devpath = head.substr(at + 1);
    if (devpath.find("/block/") == std::string::npos) return;
    bool isPartition = false;
    if (!usbBlockName(devpath.substr(devpath.rfind('/') + 1), &isPartition)) return;
    if (action == "add") {
        if (!present_) {
            present_ = true;
            codes->push_back(kAdded);
        }
        if (isPartition && !partition_) {
            partition_ = true;
            storageSeen_ = false;
            readySent_ = false;
        }
    } else if (action == "remove") {
        if (present_) codes->push_back(kRemoved);
        present_ = partition_ = storageSeen_ = readySent_ = false;
    }
}

void UsbWatch::poll(std::vector<int>* codes) {
    if (!waiting()) return;
    if (!storageSeen_) {
        std::error_code ec;
        if (!std::filesystem::exists(plat::path(plat::wiring::kUsbStorageProc), ec)) return;
        storageSeen_ = true;
        since_ = G_timeTicks.load();
        return;
    }
    if (Utils::getTimeSpace(since_) < kSettleTicks) return;
    readySent_ = true;
    codes->push_back(kReady);
}

// ---------------------------------------------------------------- the watcher

UsbServer* UsbServer::p_UsbServer = nullptr;

UsbServer::UsbServer() = default;

UsbServer::~UsbServer() {
    stop_ = true;
    wake_.wake();
    plat::joinThread(thread_);
    if (fd_ >= 0) plat::sys().close(fd_);
}

UsbServer* UsbServer::pInstance() {
    if (p_UsbServer) return p_UsbServer;
    UsbServer* u = new UsbServer;
    p_UsbServer = u;
    plat::Sys& sys = plat::sys();
    u->fd_ = sys.socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = 0;  // the kernel picks a unique id
    addr.nl_groups = 1;  // the kernel's uevent group
    if (u->fd_ < 0 || sys.bind(u->fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        writeLogMsg(LOG_ERROR, "USB watcher: uevent socket cannot be bound, USB sticks go unnoticed");
        if (u->fd_ >= 0) sys.close(u->fd_);
        u->fd_ = -1;
        return u;
    }
    try {
        u->thread_ = std::thread([u] {
            plat::nameThisThread("usb-uevent");
            u->loop();
        });
    } catch (const std::system_error&) {
        writeLogMsg(LOG_ERROR, "USB watcher: thread cannot be created");
    }
    return u;
}

void UsbServer::resetInstanceForTest() {
    delete p_UsbServer;
    p_UsbServer = nullptr;
}

void UsbServer::loop() {
    char buf[4096];
    std::vector<int> codes;
    std::vector<pollfd> fds{{wake_.readFd(), POLLIN, 0}, {fd_, POLLIN, 0}};
    while (!stop_) {
        // Blocks on the socket; while a stick settles, looks at its storage every 10 ticks.
        const int settleMs = std::max(1, int(double(plat::kIdlePaceTicks * plat::kTickUs / 1000) * plat::sleepScale()));
        for (pollfd& p : fds) p.revents = 0;
        if (plat::net::pollFds(fds, watch_.waiting() ? settleMs : -1) < 0) continue;
        if (fds[0].revents) wake_.drain();
        // a netlink socket that overflowed reports it with POLLERR, on the next read
        for (bool more = fds[1].revents != 0; more;) {
            more = false;
            const ssize_t r = plat::sys().recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (r > 0) {
                watch_.onUevent(buf, size_t(r), &codes);
                more = true;
            } else if (r < 0 && errno == ENOBUFS) {
                writeLogMsg(LOG_WARNING, "USB watcher: uevents were lost");
                more = true;
            }
        }
        watch_.poll(&codes);
        for (int code : codes) {
            writeLogMsg(LOG_INFO, code == UsbWatch::kAdded     ? "USB: disk added"
                                  : code == UsbWatch::kRemoved ? "USB: disk removed"
                                                               : "USB: storage ready");
            emit sig_usb_update(code);
        }
        codes.clear();
    }
}
