// The kernel surface of the simulated board: the device nodes of the real board
// answered from the board's models with the kernel's own ioctl numbers and structures.
// Every descriptor handed out is a real one (so close, select and poll behave);
// anything that is not a simulated device goes to the host kernel on the rooted path.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <linux/spi/spidev.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/gpio_word.h"
#include "platform/platform.h"
#include "platform/sim/sim_backend.h"
#include "platform/sim/sim_board.h"

namespace plat::sim {

namespace {
// Recursive: a model watching a line may look the board up again.
std::recursive_mutex g_currentMutex;
SimBoard* g_current = nullptr;

// GpioWord writes of the drivers reach the board in use.
void gpioHook(uint32_t offset, uint16_t level) {
    std::lock_guard<std::recursive_mutex> l(g_currentMutex);
    if (g_current) g_current->gpioWritten(offset, level);
}

// "/dev/i2c-3" -> 3, "/dev/mtd10" -> 10; -1 when the name does not fit.
int numberAfter(const std::string& p, const std::string& prefix) {
    if (p.compare(0, prefix.size(), prefix) != 0 || p.size() == prefix.size() || p.size() > prefix.size() + 4)
        return -1;
    int n = 0;
    for (size_t i = prefix.size(); i < p.size(); ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        n = n * 10 + (p[i] - '0');
    }
    return n;
}

// Device-name stems of the numbered nodes.
constexpr const char* kI2cPrefix = "/dev/i2c-";
constexpr const char* kMtdPrefix = "/dev/mtd";

// The serial port a device path names, or 0.
int serialPort(const std::string& p) {
    for (const wiring::SerialWiring& s : wiring::kSerialPorts)
        if (p == s.path) return s.port;
    return 0;
}

std::string hex(uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}
}  // namespace

class SimSys final : public Sys {
public:
    SimSys() {
        std::lock_guard<std::recursive_mutex> l(g_currentMutex);
        g_current = &board_;
        plat::setGpioObserver(&gpioHook);
    }
    // Descriptors the controller still holds stay open: their numbers are not ours to recycle.
    ~SimSys() override {
        std::lock_guard<std::recursive_mutex> l(g_currentMutex);
        if (g_current == &board_) g_current = nullptr;
    }

    int open(const std::string& p, int flags, int mode) override {
        {
            std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
            auto f = board_.openFailures_.find(p);
            if (f != board_.openFailures_.end()) {
                errno = f->second;
                return -1;
            }
        }
        Handle h;
        int fd = -1;
        if (hasSpiNode(p)) {
            h.kind = Kind::Spi;
            h.node = std::make_shared<const std::string>(p);
            fd = placeholderFd();
        } else if (int bus = numberAfter(p, kI2cPrefix); bus >= 0 && hasI2cBus(bus)) {
            h.kind = Kind::I2c;
            h.index = bus;
            fd = placeholderFd();
        } else if (int part = numberAfter(p, kMtdPrefix); part >= 0 && hasMtd(part)) {
            std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
            SimBoard::Mtd* m = board_.mtd(part);
            if (!board_.ensureMtdFile(part, *m)) {
                errno = EIO;
                return -1;
            }
            h.kind = Kind::Mtd;
            h.index = part;
            // Writes go through the partition's store; the descriptor reads the same cells
            // (lseek and read keep working on it).
            const int access = (flags & O_ACCMODE) == O_RDONLY ? O_RDONLY : O_RDWR;
            h.writable = access != O_RDONLY;
            fd = ::open(board_.mtdFile(part).c_str(), access | O_CLOEXEC);
        } else if (p == wiring::kMsysDevice) {
            h.kind = Kind::Msys;
            fd = placeholderFd();
        } else if (p == wiring::kMemDevice) {
            h.kind = Kind::Mem;
            fd = placeholderFd();
        } else if (int port = serialPort(p); port > 0) {
            std::string slave;
            {
                std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
                SimBoard::Serial* s = board_.serial(port);
                if (!s) {
                    errno = EIO;
                    return -1;
                }
                slave = s->slaveName;
            }
            return ::open(slave.c_str(), flags | O_NOCTTY, mode);
        } else if (p == wiring::kTouchDevice) {
            std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
            h.kind = Kind::Input;
            fd = board_.newInputFd(flags);
        } else {
            return ::open(plat::path(p).c_str(), flags, mode);
        }
        if (fd < 0) return -1;
        std::lock_guard<std::mutex> l(fdMutex_);
        handles_[fd] = h;
        return fd;
    }

    int close(int fd) override {
        {
            std::lock_guard<std::mutex> l(fdMutex_);
            auto it = handles_.find(fd);
            if (it != handles_.end()) {
                if (it->second.kind == Kind::Uevent || it->second.kind == Kind::Input) {
                    std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
                    board_.closeEndpoint(fd);
                }
                handles_.erase(it);
                spi_.erase(fd);
                i2cAddr_.erase(fd);
            }
        }
        return ::close(fd);
    }

    ssize_t read(int fd, void* buf, size_t n) override {
        Handle h;
        if (!lookup(fd, &h)) return ::read(fd, buf, n);
        switch (h.kind) {
        case Kind::Spi: return spiHalfDuplex(fd, h, nullptr, buf, n);
        case Kind::I2c: return i2cPlain(fd, h, buf, n, true);
        case Kind::Msys:
        case Kind::Mem: errno = EINVAL; return -1;
        default: return ::read(fd, buf, n);
        }
    }

    ssize_t write(int fd, const void* buf, size_t n) override {
        Handle h;
        if (!lookup(fd, &h)) return ::write(fd, buf, n);
        switch (h.kind) {
        case Kind::Spi: return spiHalfDuplex(fd, h, buf, nullptr, n);
        case Kind::I2c: return i2cPlain(fd, h, const_cast<void*>(buf), n, false);
        case Kind::Mtd: {
            off_t pos = ::lseek(fd, 0, SEEK_CUR);
            if (pos < 0) return -1;
            ssize_t w = mtdWrite(fd, h.index, buf, n, pos);
            if (w > 0) ::lseek(fd, pos + w, SEEK_SET);
            return w;
        }
        case Kind::Msys:
        case Kind::Mem:
        case Kind::Input: errno = EINVAL; return -1;
        default: return ::write(fd, buf, n);
        }
    }

    ssize_t pread(int fd, void* buf, size_t n, off_t off) override { return ::pread(fd, buf, n, off); }

    ssize_t pwrite(int fd, const void* buf, size_t n, off_t off) override {
        Handle h;
        if (lookup(fd, &h) && h.kind == Kind::Mtd) return mtdWrite(fd, h.index, buf, n, off);
        return ::pwrite(fd, buf, n, off);
    }

    off_t lseek(int fd, off_t off, int whence) override { return ::lseek(fd, off, whence); }

    int ioctl(int fd, unsigned long request, void* arg) override {
        Handle h;
        if (!lookup(fd, &h)) return ::ioctl(fd, request, arg);
        switch (h.kind) {
        case Kind::Spi: return spiIoctl(fd, h, request, arg);
        case Kind::I2c: return i2cIoctl(fd, request, arg);
        case Kind::Mtd: return mtdIoctl(fd, h.index, request, arg);
        case Kind::Msys: return msysIoctl(request, arg);
        case Kind::Input:
            if (request == EVIOCGRAB) return 0;
            errno = ENOTTY;
            return -1;
        case Kind::Mem:
        case Kind::Uevent: errno = ENOTTY; return -1;
        }
        return ::ioctl(fd, request, arg);
    }

    void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) override {
        Handle h;
        if (!lookup(fd, &h)) return ::mmap(addr, len, prot, flags, fd, off);
        if (h.kind != Kind::Mem) {
            errno = ENODEV;
            return MAP_FAILED;
        }
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        const uint64_t phys = static_cast<uint64_t>(off);
        if (board_.failMemMap_ || len == 0 || phys % static_cast<uint64_t>(::getpagesize()) != 0 ||
            phys < kRegWindowPhys || phys + len > static_cast<uint64_t>(kRegWindowPhys) + kRegWindowSize) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        return ::mmap(addr, len, prot, flags, board_.regFd_, static_cast<off_t>(phys - kRegWindowPhys));
    }

    int munmap(void* addr, size_t len) override { return ::munmap(addr, len); }

    int socket(int domain, int type, int protocol) override {
        if (domain != AF_NETLINK || protocol != NETLINK_KOBJECT_UEVENT) return ::socket(domain, type, protocol);
        int fd;
        {
            std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
            fd = board_.newUeventSocket(type);
        }
        if (fd < 0) return -1;
        Handle h;
        h.kind = Kind::Uevent;
        std::lock_guard<std::mutex> l(fdMutex_);
        handles_[fd] = h;
        return fd;
    }

    int bind(int fd, const struct sockaddr* addr, socklen_t len) override {
        Handle h;
        if (!lookup(fd, &h) || h.kind != Kind::Uevent) return ::bind(fd, addr, len);
        if (!addr || len < sizeof(sockaddr_nl) || addr->sa_family != AF_NETLINK) {
            errno = EINVAL;
            return -1;
        }
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        if (board_.failUeventBind_) {
            errno = EADDRINUSE;
            return -1;
        }
        board_.bindUevent(fd);
        return 0;
    }

    ssize_t recv(int fd, void* buf, size_t n, int flags) override {
        Handle h;
        // Netlink reports a receive queue that overflowed once, on the next read.
        if (lookup(fd, &h) && h.kind == Kind::Uevent && board_.takeUeventOverrun(fd)) {
            errno = ENOBUFS;
            return -1;
        }
        return ::recv(fd, buf, n, flags);
    }

    SimBoard& board() { return board_; }

private:
    enum class Kind { Spi, I2c, Mtd, Msys, Mem, Input, Uevent };
    struct Handle {
        Kind kind = Kind::Mem;
        // shared: a descriptor is looked up on every transfer, and its path must not be copied each time
        std::shared_ptr<const std::string> node;
        int index = -1;
        bool writable = true;
    };
    // Settings a spidev descriptor keeps between calls (the node's device-tree clock
    // until the driver sets its own).
    struct SpiState {
        uint32_t mode = 0;
        uint8_t bits = 8;
        uint32_t speed = kSpiDefaultSpeedHz;
    };
    static constexpr uint32_t kSpiDefaultSpeedHz = 500000;
    // Mode bits the SoC's SPI controller supports; others are refused as spi_setup does.
    static constexpr uint32_t kSpiModeBits = SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LSB_FIRST;

    static int placeholderFd() { return ::open("/dev/null", O_RDWR | O_CLOEXEC); }

    bool lookup(int fd, Handle* h) {
        std::lock_guard<std::mutex> l(fdMutex_);
        auto it = handles_.find(fd);
        if (it == handles_.end()) return false;
        *h = it->second;
        return true;
    }
    bool hasSpiNode(const std::string& p) {
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        return board_.spi_.count(p) != 0;
    }
    bool hasI2cBus(int bus) {
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        return board_.i2c_.count(bus) != 0;
    }
    bool hasMtd(int part) {
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        return board_.mtd_.count(part) != 0 && board_.mtd_[part].config.size > 0;
    }

    // ---- SPI ----
    SpiSettings spiSettings(int fd) {
        std::lock_guard<std::mutex> l(fdMutex_);
        const SpiState& s = spi_[fd];
        return SpiSettings{s.mode, s.bits, s.speed};
    }

    static bool validBits(unsigned bits) { return bits >= 1 && bits <= 32; }

    int spiIoctl(int fd, const Handle& h, unsigned long request, void* arg) {
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE) {
            const size_t size = _IOC_SIZE(request);
            if (size % sizeof(spi_ioc_transfer) != 0) {
                errno = EINVAL;
                return -1;
            }
            const unsigned count = static_cast<unsigned>(size / sizeof(spi_ioc_transfer));
            if (count == 0) return 0;
            const SpiSettings settings = spiSettings(fd);
            auto* xfer = static_cast<const spi_ioc_transfer*>(arg);
            // spidev copies the whole message through one buffer: the bytes to send and
            // the bytes to receive may each fill it, no more.
            size_t txTotal = 0, rxTotal = 0;
            for (unsigned i = 0; i < count; ++i) {
                const spi_ioc_transfer& t = xfer[i];
                if (t.tx_buf) txTotal += t.len;
                if (t.rx_buf) rxTotal += t.len;
                if (txTotal > wiring::kSpidevBufferBytes || rxTotal > wiring::kSpidevBufferBytes) {
                    errno = EMSGSIZE;
                    return -1;
                }
                const unsigned bits = t.bits_per_word ? t.bits_per_word : settings.bitsPerWord;
                // Words wider than a byte travel in 2 or 4 bytes each; a partial word is refused.
                const unsigned wordBytes = bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
                if (!validBits(bits) || t.len % wordBytes != 0) {
                    errno = EINVAL;
                    return -1;
                }
            }
            if (!h.node) {
                errno = EBADF;
                return -1;
            }
            return board_.spiMessage(*h.node, settings, arg, count);
        }
        std::lock_guard<std::mutex> l(fdMutex_);
        SpiState& s = spi_[fd];
        switch (request) {
        case SPI_IOC_WR_MODE:
        case SPI_IOC_WR_MODE32: {
            const uint32_t m = request == SPI_IOC_WR_MODE ? (s.mode & ~0xFFu) | *static_cast<uint8_t*>(arg)
                                                          : *static_cast<uint32_t*>(arg);
            if (m & ~kSpiModeBits) {
                errno = EINVAL;
                return -1;
            }
            s.mode = m;
            return 0;
        }
        case SPI_IOC_RD_MODE: *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(s.mode); return 0;
        case SPI_IOC_RD_MODE32: *static_cast<uint32_t*>(arg) = s.mode; return 0;
        case SPI_IOC_WR_LSB_FIRST:
            s.mode = *static_cast<uint8_t*>(arg) ? s.mode | SPI_LSB_FIRST : s.mode & ~static_cast<uint32_t>(SPI_LSB_FIRST);
            return 0;
        case SPI_IOC_RD_LSB_FIRST: *static_cast<uint8_t*>(arg) = (s.mode & SPI_LSB_FIRST) ? 1 : 0; return 0;
        case SPI_IOC_WR_BITS_PER_WORD: {
            const uint8_t b = *static_cast<uint8_t*>(arg);
            if (b != 0 && !validBits(b)) {
                errno = EINVAL;
                return -1;
            }
            s.bits = b == 0 ? 8 : b;
            return 0;
        }
        case SPI_IOC_RD_BITS_PER_WORD: *static_cast<uint8_t*>(arg) = s.bits; return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ: {
            uint32_t hz = *static_cast<uint32_t*>(arg);
            if (hz == 0) {
                errno = EINVAL;
                return -1;
            }
            s.speed = hz;
            return 0;
        }
        case SPI_IOC_RD_MAX_SPEED_HZ: *static_cast<uint32_t*>(arg) = s.speed; return 0;
        default: errno = ENOTTY; return -1;
        }
    }

    // Plain read()/write() on spidev: one half-duplex transfer at the descriptor's settings.
    ssize_t spiHalfDuplex(int fd, const Handle& h, const void* tx, void* rx, size_t n) {
        if (n > wiring::kSpidevBufferBytes) {
            errno = EMSGSIZE;
            return -1;
        }
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx);
        t.rx_buf = reinterpret_cast<uintptr_t>(rx);
        t.len = static_cast<uint32_t>(n);
        return board_.spiMessage(*h.node, spiSettings(fd), &t, 1);
    }

    // ---- I2C ----
    int i2cIoctl(int fd, unsigned long request, void* arg) {
        switch (request) {
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE: {
            auto addr = reinterpret_cast<uintptr_t>(arg);
            if (addr > 0x7F) {
                errno = EINVAL;
                return -1;
            }
            std::lock_guard<std::mutex> l(fdMutex_);
            i2cAddr_[fd] = static_cast<uint16_t>(addr);
            return 0;
        }
        case I2C_FUNCS:
            if (!arg) break;
            *static_cast<unsigned long*>(arg) = I2C_FUNC_I2C;
            return 0;
        case I2C_RETRIES:
        case I2C_TIMEOUT: return 0;
        case I2C_RDWR: {
            auto* data = static_cast<i2c_rdwr_ioctl_data*>(arg);
            if (!data || !data->msgs) break;
            if (data->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
                errno = EINVAL;
                return -1;
            }
            for (unsigned i = 0; i < data->nmsgs; ++i)
                if (data->msgs[i].len > 8192 || (data->msgs[i].len && !data->msgs[i].buf)) {
                    errno = EINVAL;
                    return -1;
                }
            Handle h;
            lookup(fd, &h);
            return board_.i2cTransfer(h.index, data->msgs, data->nmsgs);
        }
        default: errno = ENOTTY; return -1;
        }
        errno = EFAULT;
        return -1;
    }

    // read()/write() on an i2c-dev descriptor: one message to the I2C_SLAVE address.
    ssize_t i2cPlain(int fd, const Handle& h, void* buf, size_t n, bool isRead) {
        uint16_t addr;
        {
            std::lock_guard<std::mutex> l(fdMutex_);
            auto it = i2cAddr_.find(fd);
            if (it == i2cAddr_.end()) {
                errno = EREMOTEIO;  // no address chosen yet
                return -1;
            }
            addr = it->second;
        }
        i2c_msg m{};
        m.addr = addr;
        m.flags = isRead ? I2C_M_RD : 0;
        m.len = static_cast<uint16_t>(n > 8192 ? 8192 : n);
        m.buf = static_cast<uint8_t*>(buf);
        return board_.i2cTransfer(h.index, &m, 1) < 0 ? -1 : static_cast<ssize_t>(m.len);
    }

    // ---- MTD ----
    // NAND pages are programmed whole from a page boundary; programming only clears bits.
    ssize_t mtdWrite(int fd, int index, const void* buf, size_t n, off_t off) {
        Handle h;
        if (!lookup(fd, &h) || !h.writable) {
            errno = EBADF;
            return -1;
        }
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        SimBoard::Mtd* m = board_.mtd(index);
        const uint64_t size = m->config.size;
        if (off < 0 || static_cast<uint64_t>(off) >= size) {
            errno = ENOSPC;
            return -1;
        }
        if (m->config.writeSize > 1 && static_cast<uint64_t>(off) % m->config.writeSize != 0) {
            errno = EINVAL;
            return -1;
        }
        n = static_cast<size_t>(std::min<uint64_t>(n, size - static_cast<uint64_t>(off)));
        if (m->shortWrite >= 0) {
            n = std::min(n, static_cast<size_t>(m->shortWrite));
            m->shortWrite = -1;
        }
        m->log.push("write " + hex(static_cast<uint64_t>(off)) + " " + std::to_string(n));
        // Page by page, as the chip programs: a power cut leaves whole pages behind.
        const size_t page = m->config.writeSize > 1 ? m->config.writeSize : n;
        const auto* src = static_cast<const uint8_t*>(buf);
        for (size_t done = 0; done < n; done += page) {
            const size_t len = std::min(page, n - done);
            if (!m->store->program(static_cast<uint64_t>(off) + done, src + done, len)) {
                errno = EIO;
                return -1;
            }
        }
        return static_cast<ssize_t>(n);
    }

    int mtdIoctl(int fd, int index, unsigned long request, void* arg) {
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        SimBoard::Mtd* m = board_.mtd(index);
        const MtdConfig& c = m->config;
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        switch (request) {
        case MEMGETINFO: {
            m->log.push("getinfo");
            if (m->failGetInfo) {
                errno = EIO;
                return -1;
            }
            mtd_info_user info{};
            const bool nand = c.writeSize > 1;
            info.type = nand ? MTD_NANDFLASH : MTD_NORFLASH;
            info.flags = nand ? MTD_CAP_NANDFLASH : MTD_CAP_NORFLASH;
            info.size = static_cast<uint32_t>(c.size);
            info.erasesize = c.eraseSize;
            info.writesize = c.writeSize;
            info.oobsize = nand ? 64 : 0;
            std::memcpy(arg, &info, sizeof info);
            return 0;
        }
        case MEMERASE:
        case MEMERASE64:
        case MEMUNLOCK:
        case MEMLOCK: {
            uint64_t start, length;
            if (request == MEMERASE64) {
                auto* e = static_cast<erase_info_user64*>(arg);
                start = e->start;
                length = e->length;
            } else {
                auto* e = static_cast<erase_info_user*>(arg);
                start = e->start;
                length = e->length;
            }
            const bool erase = request == MEMERASE || request == MEMERASE64;
            m->log.push(std::string(erase ? "erase " : request == MEMUNLOCK ? "unlock " : "lock ") + hex(start) +
                             " " + hex(length));
            if (start + length > c.size || start % c.eraseSize != 0 || length % c.eraseSize != 0) {
                errno = EINVAL;
                return -1;
            }
            const uint64_t first = start / c.eraseSize, end = (start + length) / c.eraseSize;
            if (!erase) {
                if (request == MEMUNLOCK && m->failUnlockBlock >= 0 &&
                    static_cast<uint64_t>(m->failUnlockBlock) >= first && static_cast<uint64_t>(m->failUnlockBlock) < end) {
                    errno = EIO;
                    return -1;
                }
                return 0;
            }
            for (uint64_t b = first; b < end; ++b) {
                if ((m->failEraseBlock >= 0 && b == static_cast<uint64_t>(m->failEraseBlock)) ||
                    !m->store->erase(b * c.eraseSize, c.eraseSize)) {
                    errno = EIO;
                    return -1;
                }
            }
            return 0;
        }
        default: errno = ENOTTY; return -1;
        }
    }

    // ---- SoC window request ----
    int msysIoctl(unsigned long request, void* arg) {
        if (request != kMsysRequestWindow || !arg) {
            errno = ENOTTY;
            return -1;
        }
        auto* block = static_cast<uint32_t*>(arg);
        std::lock_guard<std::recursive_mutex> bl(board_.mutex_);
        if (board_.failMsys_) {
            errno = EIO;
            return -1;
        }
        if (block[0] != kMsysMagic || block[4] != kMsysBlockBytes) {
            errno = EINVAL;
            return -1;
        }
        block[1] = board_.msysPhys_;
        block[3] = board_.msysLength_;
        return 0;
    }

    SimBoard board_;
    std::mutex fdMutex_;
    std::map<int, Handle> handles_;
    std::map<int, SpiState> spi_;
    std::map<int, uint16_t> i2cAddr_;
};

std::unique_ptr<Sys> makeSys() { return std::make_unique<SimSys>(); }

bool passBoardTime(uint64_t ns) {
    plat::sys();
    SimBoard* b = nullptr;
    {
        std::lock_guard<std::recursive_mutex> l(g_currentMutex);
        b = g_current;
    }
    if (!b) return false;
    b->step(ns);
    return true;
}

SimBoard& board() {
    plat::sys();  // makes the backend of the board in force
    std::lock_guard<std::recursive_mutex> l(g_currentMutex);
    if (!g_current) {
        std::fprintf(stderr, "sim board: the simulated board is not in use\n");
        std::abort();
    }
    return *g_current;
}

}  // namespace plat::sim
