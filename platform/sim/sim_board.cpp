#include "platform/sim/sim_board.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/input.h>
#include <linux/spi/spidev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/fd_io.h"
#include "platform/mmio.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace plat::sim {

namespace {

bool makePty(int* master, std::string* slaveName) {
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    char name[128];
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
        ::close(m);
        return false;
    }
    *master = m;
    *slaveName = name;
    return true;
}

// A UART with nobody attached passes bytes unchanged and echoes nothing.
int openRawSlave(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

constexpr const char* kUsbDevpath = "/devices/platform/soc/usb0/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";

}  // namespace

// ---------------------------------------------------------------- mux model

bool I2cMuxModel::write(const I2cContext&, const uint8_t* data, size_t len) {
    if (len == 0) return true;
    control_ = data[len - 1];
    return true;
}

bool I2cMuxModel::read(const I2cContext&, uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; ++i) data[i] = control_;
    return true;
}

bool I2cMuxModel::channelEnabled(int channel) const {
    return channel >= 0 && channel < channels_ && channel < 8 && (control_ >> channel) & 1;
}

// ---------------------------------------------------------------- chip model base

unsigned ChipModel::misuseCount() const {
    std::lock_guard<std::mutex> l(misuseMutex_);
    return misuseCount_;
}

std::vector<std::string> ChipModel::misuses() const {
    std::lock_guard<std::mutex> l(misuseMutex_);
    return misuses_;
}

void ChipModel::misuse(const std::string& what) {
    std::lock_guard<std::mutex> l(misuseMutex_);
    ++misuseCount_;
    if (misuses_.size() == 64) misuses_.erase(misuses_.begin());
    misuses_.push_back(what);
    std::fprintf(stderr, "sim board: %s: driver misuse: %s\n", name_.c_str(), what.c_str());
}

SpiSelect gpioLinesAre(std::vector<std::pair<uint32_t, uint16_t>> levels) {
    return [levels = std::move(levels)](const SimBoard& b) {
        for (const auto& [off, level] : levels)
            if (b.gpio(off) != level) return false;
        return true;
    };
}

// ---------------------------------------------------------------- construction

SimBoard::SimBoard() {
    regFd_ = ::memfd_create("vlx-soc-regs", MFD_CLOEXEC);
    if (regFd_ >= 0 && ::ftruncate(regFd_, kRegWindowSize) == 0) {
        void* p = ::mmap(nullptr, kRegWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, regFd_, 0);
        if (p != MAP_FAILED) regs_ = static_cast<uint8_t*>(p);
    }
    if (!regs_) {
        std::fprintf(stderr, "sim board: no memory for the register window\n");
        std::abort();
    }
    for (const wiring::SpiNodeWiring& n : wiring::kSpiNodes) spi_[n.path];
    i2c_[wiring::kI2cBus] = std::make_shared<I2cSegment>();
    for (const wiring::MtdWiring& m : wiring::kMtdPartitions)
        mtd_[m.index].config = MtdConfig{m.size, m.eraseSize, m.writeSize};
    plat::setWallClockOffset(0);
    clock_.setScheduleNotifier([this] {
        {
            std::lock_guard<std::mutex> w(clockWaitMutex_);
            ++clockGen_;
        }
        clockWake_.notify_all();
    });
}

SimBoard::~SimBoard() {
    followRealTime(false);
    if (bridge_.joinable()) {
        char c = 1;
        (void)!::write(bridgeStop_[1], &c, 1);
        bridge_.join();
    }
    for (int fd : bridgeStop_)
        if (fd >= 0) ::close(fd);
    for (auto& [port, s] : serial_) {
        for (int fd : {s.master, s.slaveHold, s.outerMaster, s.outerSlaveHold})
            if (fd >= 0) ::close(fd);
    }
    for (auto& [fd, end] : ueventEnds_) ::close(end);
    for (auto& [fd, end] : inputEnds_) ::close(end);
    if (regs_) ::munmap(regs_, kRegWindowSize);
    if (regFd_ >= 0) ::close(regFd_);
}

// ---------------------------------------------------------------- register window

uint16_t SimBoard::reg16(uint32_t offset) const {
    if (offset + 2 > kRegWindowSize) return 0;
    return mmioRead16(regs_, offset);
}

void SimBoard::setReg16(uint32_t offset, uint16_t value) {
    if (offset + 2 > kRegWindowSize) return;
    mmioWrite16(regs_, offset, value);
    gpioWritten(offset, value);
}

// ---------------------------------------------------------------- GPIO watchers

int SimBoard::watchGpio(uint32_t offset, GpioWatcher watcher) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    offset &= ~1u;
    gpioSeen_.emplace(offset, reg16(offset));
    gpioWatches_[nextWatch_] = GpioWatch{offset, std::move(watcher)};
    return nextWatch_++;
}

void SimBoard::unwatchGpio(int id) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    gpioWatches_.erase(id);
}

void SimBoard::gpioWritten(uint32_t offset, uint16_t level) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    offset &= ~1u;
    auto seen = gpioSeen_.find(offset);
    if (seen == gpioSeen_.end()) return;  // nobody watches this line
    syncClock();
    const uint16_t old = seen->second;
    seen->second = level;
    std::vector<GpioWatcher> hear;
    for (auto& [id, w] : gpioWatches_)
        if (w.offset == offset) hear.push_back(w.watcher);
    for (auto& w : hear) w(offset, old, level);
}

// ---------------------------------------------------------------- board clock

namespace {
int64_t hostMonotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}
}  // namespace

void SimBoard::syncClock() {
    if (!followReal_) return;
    const int64_t elapsed = hostMonotonicNs() - realBaseHostNs_;
    clock_.advanceTo(realBaseBoard_ + static_cast<BoardNs>(elapsed > 0 ? elapsed : 0));
}

BoardNs SimBoard::now() {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    syncClock();
    return clock_.now();
}

void SimBoard::step(BoardNs ns) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    clock_.step(ns);
    if (followReal_) realBaseBoard_ += ns;
}

void SimBoard::followRealTime(bool on) {
    if (on) {
        std::lock_guard<std::recursive_mutex> l(mutex_);
        if (followReal_) return;
        followReal_ = true;
        realBaseBoard_ = clock_.now();
        realBaseHostNs_ = hostMonotonicNs();
        {
            std::lock_guard<std::mutex> w(clockWaitMutex_);
            clockStop_ = false;
        }
        clockThread_ = std::thread([this] {
            plat::nameThisThread("sim-clock");
            clockLoop();
        });
        return;
    }
    {
        std::lock_guard<std::mutex> w(clockWaitMutex_);
        clockStop_ = true;
    }
    clockWake_.notify_all();
    if (clockThread_.joinable()) clockThread_.join();
    std::lock_guard<std::recursive_mutex> l(mutex_);
    syncClock();
    followReal_ = false;
}

// Sleeps until the next model event falls due (for good while none is pending); a
// newly scheduled event wakes it to plan again.
void SimBoard::clockLoop() {
    std::unique_lock<std::mutex> w(clockWaitMutex_);
    while (!clockStop_) {
        const uint64_t gen = clockGen_;
        w.unlock();
        const BoardNs boardNow = now();  // runs what fell due
        BoardNs due = 0;
        const bool pending = clock_.nextEvent(&due);
        w.lock();
        auto changed = [&] { return clockStop_ || clockGen_ != gen; };
        if (!pending)
            clockWake_.wait(w, changed);
        else if (due > boardNow)
            clockWake_.wait_for(w, std::chrono::nanoseconds(due - boardNow), changed);
    }
}

void SimBoard::setWallClock(std::time_t t) {
    plat::setWallClockOffset(static_cast<int64_t>(t) - static_cast<int64_t>(std::time(nullptr)));
}

// ---------------------------------------------------------------- chip registry

void SimBoard::registerChip(ChipModel& model, const std::string& where) {
    if (model.name_.empty()) {
        for (int k = 0;; ++k) {
            std::string n = where + "#" + std::to_string(k);
            if (!chips_.count(n)) {
                model.name_ = n;
                break;
            }
        }
    }
    if (chips_.count(model.name_)) {
        std::fprintf(stderr, "sim board: two chips named %s\n", model.name_.c_str());
        std::abort();  // a wiring mistake in the board set-up
    }
}

std::shared_ptr<ChipModel> SimBoard::findChip(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto it = chips_.find(name);
    return it == chips_.end() ? nullptr : it->second;
}

std::vector<std::string> SimBoard::chipNames() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    std::vector<std::string> out;
    for (const auto& [n, m] : chips_) out.push_back(n);
    return out;
}

void SimBoard::setChipId(uint16_t x, uint16_t y, uint16_t z) {
    setReg16(kChipIdX, x);
    setReg16(kChipIdY, y);
    setReg16(kChipIdZ, z);
}

void SimBoard::setMsysWindow(uint32_t phys, uint32_t length) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    msysPhys_ = phys;
    msysLength_ = length;
}

void SimBoard::failMsysRequest(bool fail) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    failMsys_ = fail;
}

void SimBoard::failMemMap(bool fail) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    failMemMap_ = fail;
}

// ---------------------------------------------------------------- SPI

void SimBoard::addSpiNode(const std::string& node) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    spi_[node];
}

void SimBoard::attachModel(std::shared_ptr<ChipModel> model) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    registerChip(*model, "board");
    chips_[model->name()] = model;
    model->attached(*this);
}

void SimBoard::attachSpi(const std::string& node, std::shared_ptr<SpiDeviceModel> model, SpiSelect select) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    registerChip(*model, node.substr(node.rfind('/') + 1));
    chips_[model->name()] = model;
    spi_[node].push_back(SpiRoute{model, std::move(select)});
    model->attached(*this);
}

void SimBoard::setSpiFrameLog(bool on) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    spiLog_.on = on;
}

std::vector<SpiFrame> SimBoard::spiFrames() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return spiLog_.list();
}

void SimBoard::clearSpiFrames() {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    spiLog_.clear();
}

unsigned SimBoard::spiFramesDropped() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return static_cast<unsigned>(spiLog_.dropped());
}

unsigned SimBoard::spiContentions() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return spiContentions_;
}

void SimBoard::failNextSpiMessage(const std::string& node) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    spiFailNext_.insert(node);
}

int SimBoard::spiMessage(const std::string& node, const SpiSettings& settings, void* transfers, unsigned count) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto it = spi_.find(node);
    if (it == spi_.end()) {
        errno = ENODEV;
        return -1;
    }
    if (!spiFailNext_.empty() && spiFailNext_.erase(node)) {
        errno = EIO;
        return -1;
    }
    syncClock();
    auto* xfer = static_cast<spi_ioc_transfer*>(transfers);
    int total = 0;
    // The controller polls registers many times a second in frames of a few bytes:
    // those stay off the heap; only longer transfers (flash pages) allocate.
    constexpr size_t kSmall = 64;
    uint8_t txSmall[kSmall], rxSmall[kSmall], oneSmall[kSmall];
    std::vector<uint8_t> txBig, rxBig, oneBig;
    auto buffer = [](uint8_t* small, std::vector<uint8_t>& big, size_t n) {
        if (n <= kSmall) return small;
        big.resize(n);
        return big.data();
    };
    // The chips a frame reaches: a handful per node, on the heap only for a crowded one.
    constexpr size_t kFewRoutes = 8;
    SpiRoute* selectedFew[kFewRoutes];
    std::vector<SpiRoute*> selectedMany;
    SpiRoute** selectedAt = selectedFew;
    if (it->second.size() > kFewRoutes) {
        selectedMany.resize(it->second.size());
        selectedAt = selectedMany.data();
    }
    size_t selectedCount = 0;
    auto sampleSelect = [&] {
        selectedCount = 0;
        for (auto& r : it->second)
            if (!r.select || r.select(*this)) selectedAt[selectedCount++] = &r;
        if (selectedCount > 1) ++spiContentions_;
    };
    sampleSelect();
    for (unsigned i = 0; i < count; ++i) {
        const spi_ioc_transfer& t = xfer[i];
        const SpiContext ctx{node, settings.mode, t.bits_per_word ? t.bits_per_word : settings.bitsPerWord,
                             t.speed_hz ? t.speed_hz : settings.speedHz, clock_.now(), *this};
        uint8_t* tx = buffer(txSmall, txBig, t.len);
        uint8_t* rx = buffer(rxSmall, rxBig, t.len);
        uint8_t* one = buffer(oneSmall, oneBig, t.len);
        if (t.tx_buf)
            std::memcpy(tx, reinterpret_cast<const void*>(static_cast<uintptr_t>(t.tx_buf)), t.len);
        else
            std::memset(tx, 0, t.len);
        std::memset(rx, 0xFF, t.len);
        for (size_t r = 0; r < selectedCount; ++r) {
            // Several drivers on MISO at once: the low bits win, as on an open line.
            std::memset(one, 0xFF, t.len);
            selectedAt[r]->model->transfer(ctx, tx, one, t.len);
            for (size_t k = 0; k < t.len; ++k) rx[k] &= one[k];
        }
        if (t.rx_buf) std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(t.rx_buf)), rx, t.len);
        if (spiLog_.on)
            spiLog_.push(SpiFrame{node, ctx.speedHz, ctx.mode, ctx.bitsPerWord, ctx.time,
                                  static_cast<int>(selectedCount), std::vector<uint8_t>(tx, tx + t.len),
                                  std::vector<uint8_t>(rx, rx + t.len)});
        total += static_cast<int>(t.len);
        const bool last = i + 1 == count;
        if (last || t.cs_change) {
            for (size_t r = 0; r < selectedCount; ++r) selectedAt[r]->model->chipSelectReleased(ctx);
            if (!last) sampleSelect();
        }
    }
    return total;
}

// ---------------------------------------------------------------- I2C

void SimBoard::addI2cBus(int bus) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    if (!i2c_[bus]) i2c_[bus] = std::make_shared<I2cSegment>();
}

void SimBoard::attachI2c(int bus, const I2cPath& path, uint8_t address, std::shared_ptr<I2cDeviceModel> model) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto& root = i2c_[bus];
    if (!root) root = std::make_shared<I2cSegment>();
    std::shared_ptr<I2cSegment> seg = root;
    for (const I2cHop& hop : path) {
        auto found = seg->nodes.find(hop.muxAddress);
        I2cNode* mux = nullptr;
        if (found != seg->nodes.end())
            for (auto& n : found->second)
                if (n.mux) mux = &n;
        if (!mux || hop.channel < 0 || hop.channel >= mux->mux->channels()) {
            std::fprintf(stderr, "sim board: no mux 0x%02X channel %d on i2c-%d\n", hop.muxAddress, hop.channel, bus);
            std::abort();  // a wiring mistake in the board set-up, not a run-time condition
        }
        seg = mux->channels[static_cast<size_t>(hop.channel)];
    }
    char where[32];
    std::snprintf(where, sizeof where, "i2c-%d-0x%02X", bus, address & 0x7F);
    registerChip(*model, where);
    chips_[model->name()] = model;
    I2cNode node;
    node.model = model;
    node.path = path;
    node.mux = std::dynamic_pointer_cast<I2cMuxModel>(model);
    if (node.mux)
        for (int c = 0; c < node.mux->channels(); ++c) node.channels.push_back(std::make_shared<I2cSegment>());
    seg->nodes[address & 0x7F].push_back(std::move(node));
    model->attached(*this);
}

unsigned SimBoard::i2cCollisions() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return i2cCollisions_;
}

void SimBoard::setI2cFrameLog(bool on) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    i2cLog_.on = on;
}

std::vector<I2cFrame> SimBoard::i2cFrames() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return i2cLog_.list();
}

unsigned SimBoard::i2cNacks() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return i2cNacks_;
}

void SimBoard::collectI2c(const std::shared_ptr<I2cSegment>& seg, uint8_t address,
                          std::vector<const I2cNode*>* out) const {
    for (const auto& [addr, nodes] : seg->nodes) {
        for (const I2cNode& n : nodes) {
            if (addr == address) out->push_back(&n);
            if (n.mux)
                for (int c = 0; c < n.mux->channels(); ++c)
                    if (n.mux->channelEnabled(c)) collectI2c(n.channels[static_cast<size_t>(c)], address, out);
        }
    }
}

// Open drain: a byte is ACKed when any chip pulls the line low, and read data is the
// AND of every chip that drives it.
int SimBoard::i2cTransfer(int bus, void* msgsArg, unsigned count) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto it = i2c_.find(bus);
    if (it == i2c_.end()) {
        errno = ENODEV;
        return -1;
    }
    syncClock();
    auto* msgs = static_cast<i2c_msg*>(msgsArg);
    // Working lists kept per thread, so the receivers' polls, a few hundred transfers a
    // second, do not touch the heap; a transfer nested in a model's answer gets its own.
    struct Scratch {
        std::vector<const I2cNode*> targets;
        std::vector<std::pair<const I2cNode*, uint8_t>> touched;
        std::vector<uint8_t> acc, one;
        bool busy = false;
    };
    static thread_local Scratch perThread;
    Scratch nested;
    Scratch& s = perThread.busy ? nested : perThread;
    struct Hold {
        bool& busy;
        ~Hold() { busy = false; }
    } hold{s.busy};
    s.busy = true;
    auto& touched = s.touched;
    touched.clear();
    std::set<uint8_t> collided;
    int result = static_cast<int>(count);
    for (unsigned i = 0; i < count; ++i) {
        const i2c_msg& m = msgs[i];
        if (m.flags & I2C_M_TEN) {
            result = -1;
            errno = EINVAL;
            break;
        }
        const uint8_t address = static_cast<uint8_t>(m.addr & 0x7F);
        auto& targets = s.targets;
        targets.clear();
        collectI2c(it->second, address, &targets);
        if (targets.size() > 1 && collided.insert(address).second) ++i2cCollisions_;
        bool ack = false;
        const bool isRead = (m.flags & I2C_M_RD) != 0;
        if (isRead) {
            auto& acc = s.acc;
            auto& one = s.one;
            acc.assign(m.len, 0xFF);
            one.resize(m.len);
            for (const I2cNode* t : targets) {
                std::fill(one.begin(), one.end(), 0xFF);
                const I2cContext ctx{bus, t->path, address, clock_.now(), *this};
                if (t->model->read(ctx, one.data(), m.len)) {
                    ack = true;
                    for (size_t k = 0; k < m.len; ++k) acc[k] &= one[k];
                }
            }
            if (ack) std::memcpy(m.buf, acc.data(), m.len);
        } else {
            for (const I2cNode* t : targets) {
                const I2cContext ctx{bus, t->path, address, clock_.now(), *this};
                if (t->model->write(ctx, m.buf, m.len)) ack = true;
            }
        }
        for (const I2cNode* t : targets) {
            bool seen = false;
            for (auto& [n, a] : touched) seen = seen || n == t;
            if (!seen) touched.emplace_back(t, address);
        }
        if (i2cLog_.on)
            i2cLog_.push(I2cFrame{bus, address, isRead, ack, static_cast<int>(targets.size()), clock_.now(),
                                  std::vector<uint8_t>(m.buf, m.buf + (ack || !isRead ? m.len : 0))});
        if (!ack) {
            ++i2cNacks_;
            errno = ENXIO;  // address or data not acknowledged
            result = -1;
            break;
        }
    }
    for (auto& [t, address] : touched) t->model->stop(I2cContext{bus, t->path, address, clock_.now(), *this});
    return result;
}

// ---------------------------------------------------------------- MTD

void SimBoard::setMtd(int index, const MtdConfig& config) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    Mtd& m = mtd_[index];
    m.config = config;
    m.store.reset();
}

SimBoard::Mtd* SimBoard::mtd(int index) {
    auto it = mtd_.find(index);
    return it == mtd_.end() ? nullptr : &it->second;
}

std::string SimBoard::mtdFile(int index) const { return plat::path(mtdStorePath(index)); }

std::string SimBoard::mtdStorePath(int index) {
    for (const wiring::MtdWiring& w : wiring::kMtdPartitions)
        if (w.index == index) return w.store;
    return std::string(wiring::kSimFolder) + "/mtd" + std::to_string(index);
}

// The partition's cells keep across a simulated reboot; a file of another size is
// taken for a different partition layout and started again, erased.
bool SimBoard::ensureMtdFile(int index, Mtd& m) {
    if (!m.store) m.store = std::make_unique<ChipStore>(mtdStorePath(index), static_cast<size_t>(m.config.size));
    return m.store->ok();
}

ChipStore* SimBoard::mtdStore(int index) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    Mtd* m = mtd(index);
    if (!m || m->config.size == 0 || !ensureMtdFile(index, *m)) return nullptr;
    return m->store.get();
}

std::vector<uint8_t> SimBoard::mtdRead(int index, uint64_t offset, size_t length) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    Mtd* m = mtd(index);
    if (!m || !ensureMtdFile(index, *m) || offset >= m->config.size) return {};
    length = static_cast<size_t>(std::min<uint64_t>(length, m->config.size - offset));
    return m->store->read(offset, length);
}

std::vector<std::string> SimBoard::mtdLog(int index) const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto it = mtd_.find(index);
    if (it == mtd_.end()) return {};
    return std::vector<std::string>(it->second.log.begin(), it->second.log.end());
}

void SimBoard::failMtdGetInfo(int index, bool fail) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    mtd_[index].failGetInfo = fail;
}

void SimBoard::failMtdEraseAtBlock(int index, int block) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    mtd_[index].failEraseBlock = block;
}

void SimBoard::failMtdUnlockAtBlock(int index, int block) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    mtd_[index].failUnlockBlock = block;
}

void SimBoard::shortMtdWrite(int index, size_t bytes) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    mtd_[index].shortWrite = static_cast<long>(bytes);
}

// ---------------------------------------------------------------- open failures

void SimBoard::failOpen(const std::string& devicePath, int err) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    openFailures_[devicePath] = err;
}

void SimBoard::clearOpenFailure(const std::string& devicePath) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    openFailures_.erase(devicePath);
}

// ---------------------------------------------------------------- serial ports

SimBoard::Serial* SimBoard::serial(int port) {
    if (port != 1 && port != 2) return nullptr;
    if (!openSerial(port)) return nullptr;
    return &serial_[port];
}

bool SimBoard::openSerial(int port) {
    Serial& s = serial_[port];
    if (s.master >= 0) return true;
    if (!makePty(&s.master, &s.slaveName)) return false;
    s.slaveHold = openRawSlave(s.slaveName);
    return s.slaveHold >= 0;
}

int SimBoard::serialPeerFd(int port) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    Serial* s = serial(port);
    return s ? s->master : -1;
}

int SimBoard::serialInputWaiting(int port) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    Serial* s = serial(port);
    int n = -1;
    if (!s || ::ioctl(s->slaveHold, FIONREAD, &n) != 0) return -1;
    return n;
}

std::string SimBoard::serialPeerPath(int port) const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    auto it = serial_.find(port);
    return it == serial_.end() ? std::string() : it->second.outerName;
}

bool SimBoard::startSerialBridges() {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    if (bridge_.joinable()) return true;
    if (::pipe2(bridgeStop_, O_CLOEXEC) != 0) return false;
    plat::makeDirs(wiring::kRunFolder);
    for (const wiring::SerialWiring& w : wiring::kSerialPorts) {
        const int port = w.port;
        Serial* s = serial(port);
        if (!s) return false;
        if (!makePty(&s->outerMaster, &s->outerName)) return false;
        s->outerSlaveHold = openRawSlave(s->outerName);
        ::fcntl(s->master, F_SETFL, ::fcntl(s->master, F_GETFL) | O_NONBLOCK);
        ::fcntl(s->outerMaster, F_SETFL, ::fcntl(s->outerMaster, F_GETFL) | O_NONBLOCK);
        const std::string link = plat::path(w.peer);
        ::unlink(link.c_str());
        if (::symlink(s->outerName.c_str(), link.c_str()) != 0) return false;
    }
    bridge_ = std::thread([this] {
        plat::nameThisThread("sim-serial");
        bridgeLoop();
    });
    return true;
}

// Copies bytes between each port's two terminals until the board goes away. A byte
// that finds the other side's buffer full is dropped, as on a UART without flow control.
void SimBoard::bridgeLoop() {
    int pairs[2][2];
    {
        std::lock_guard<std::recursive_mutex> l(mutex_);
        pairs[0][0] = serial_[1].master;
        pairs[0][1] = serial_[1].outerMaster;
        pairs[1][0] = serial_[2].master;
        pairs[1][1] = serial_[2].outerMaster;
    }
    pollfd pfd[5];
    for (;;) {
        pfd[0] = {bridgeStop_[0], POLLIN, 0};
        for (int i = 0; i < 4; ++i) pfd[i + 1] = {pairs[i / 2][i % 2], POLLIN, 0};
        if (::poll(pfd, 5, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (pfd[0].revents) return;
        for (int i = 0; i < 4; ++i) {
            if (!(pfd[i + 1].revents & POLLIN)) continue;
            char buf[512];
            ssize_t n = ::read(pfd[i + 1].fd, buf, sizeof buf);
            if (n > 0) (void)!::write(pairs[i / 2][1 - i % 2], buf, static_cast<size_t>(n));
        }
    }
}

// ---------------------------------------------------------------- uevents

std::string SimBoard::ueventMessage(const std::string& action, const std::string& devpath,
                                    const std::vector<std::string>& env) {
    std::string msg = action + "@" + devpath;
    msg.push_back('\0');
    auto add = [&msg](const std::string& kv) {
        msg += kv;
        msg.push_back('\0');
    };
    add("ACTION=" + action);
    add("DEVPATH=" + devpath);
    for (const auto& kv : env) add(kv);
    return msg;
}

void SimBoard::queueUevent(const std::string& message) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    if (ueventBound_.empty()) {
        ueventPending_.push(message);
        return;
    }
    for (int fd : ueventBound_) {
        if (::send(ueventEnds_[fd], message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) continue;
        ++ueventsLost_;
        ueventOverrun_.insert(fd);
    }
}

uint64_t SimBoard::ueventsDropped() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return ueventsLost_ + ueventPending_.dropped();
}

bool SimBoard::takeUeventOverrun(int fd) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return ueventOverrun_.erase(fd) > 0;
}

void SimBoard::failUeventBind(bool fail) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    failUeventBind_ = fail;
}

int SimBoard::newUeventSocket(int typeFlags) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    if (typeFlags & SOCK_NONBLOCK) ::fcntl(sv[0], F_SETFL, ::fcntl(sv[0], F_GETFL) | O_NONBLOCK);
    if (!(typeFlags & SOCK_CLOEXEC)) ::fcntl(sv[0], F_SETFD, 0);
    ueventEnds_[sv[0]] = sv[1];
    return sv[0];
}

void SimBoard::bindUevent(int fd) {
    ueventBound_.insert(fd);
    // The waiting messages fill the new socket; where they do not all fit, the oldest make room.
    const int end = ueventEnds_[fd];
    for (const auto& msg : ueventPending_.take()) {
        while (::send(end, msg.data(), msg.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            char oldest;
            ++ueventsLost_;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || ::recv(fd, &oldest, 1, MSG_DONTWAIT) < 0) break;
        }
    }
}

void SimBoard::closeEndpoint(int fd) {
    auto u = ueventEnds_.find(fd);
    if (u != ueventEnds_.end()) {
        ::close(u->second);
        ueventEnds_.erase(u);
        ueventBound_.erase(fd);
        ueventOverrun_.erase(fd);
    }
    auto in = inputEnds_.find(fd);
    if (in != inputEnds_.end()) {
        ::close(in->second);
        inputEnds_.erase(in);
    }
}

// ---------------------------------------------------------------- touch events

// A stream socket rather than a pipe: the board can take the oldest events out of a full
// queue (a non-blocking peek and read on the reader's end) whatever the reader's mode.
int SimBoard::newInputFd(int flags) {
    int p[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, p) != 0) return -1;
    ::shutdown(p[0], SHUT_WR);
    if (flags & O_NONBLOCK) ::fcntl(p[0], F_SETFL, ::fcntl(p[0], F_GETFL) | O_NONBLOCK);
    inputEnds_[p[0]] = p[1];
    (void)!::send(p[1], inputPending_.data(), inputPending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    inputPending_.clear();
    return p[0];
}

void SimBoard::queueInputEvent(uint16_t type, uint16_t code, int32_t value) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    input_event ev{};
    ev.type = type;
    ev.code = code;
    ev.value = value;
    std::string rec(sizeof ev, '\0');
    std::memcpy(&rec[0], &ev, sizeof ev);
    if (inputEnds_.empty()) {
        inputEventsLost_ += trimInputBacklog(inputPending_, rec.size());
        inputPending_ += rec;
        return;
    }
    for (auto& [fd, end] : inputEnds_) {
        inputEventsLost_ += trimInputQueue(fd, rec.size());
        if (::send(end, rec.data(), rec.size(), MSG_DONTWAIT | MSG_NOSIGNAL) != static_cast<ssize_t>(rec.size()))
            ++inputEventsLost_;
    }
}

uint64_t SimBoard::inputEventsDropped() const {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    return inputEventsLost_;
}

void SimBoard::queueTouch(int x, int y) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    queueInputEvent(EV_ABS, ABS_X, x);
    queueInputEvent(EV_ABS, ABS_Y, y);
    queueInputEvent(EV_KEY, BTN_TOUCH, 1);
    queueInputEvent(EV_SYN, SYN_REPORT, 0);
    queueInputEvent(EV_KEY, BTN_TOUCH, 0);
    queueInputEvent(EV_SYN, SYN_REPORT, 0);
}

// ---------------------------------------------------------------- USB stick

bool SimBoard::usbInsert(std::string* error) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    std::error_code ec;
    const fs::path mount = plat::path(wiring::kUsbMount);
    const fs::path stick = plat::path(wiring::kUsbStickFolder);
    fs::create_directories(stick, ec);
    fs::create_directories(mount.parent_path(), ec);
    if (!fs::exists(fs::symlink_status(mount))) fs::create_directory_symlink("../sim/usb-stick", mount, ec);
    if (!ec) fs::create_directories(plat::path(wiring::kUsbStorageProc), ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    const std::string disk = kUsbDevpath;
    queueUevent(ueventMessage("add", disk, {"SUBSYSTEM=block", "DEVNAME=sda", "DEVTYPE=disk"}));
    queueUevent(ueventMessage("add", disk + "/sda1", {"SUBSYSTEM=block", "DEVNAME=sda1", "DEVTYPE=partition"}));
    return true;
}

// The stick's files stay in <root>/sim/usb-stick for the next insertion.
bool SimBoard::usbRemove(std::string* error) {
    std::lock_guard<std::recursive_mutex> l(mutex_);
    std::error_code ec;
    const fs::path mount = plat::path(wiring::kUsbMount);
    const fs::path stick = plat::path(wiring::kUsbStickFolder);
    if (fs::is_symlink(fs::symlink_status(mount))) {
        fs::remove(mount, ec);
    } else if (fs::is_directory(mount)) {
        if (fs::exists(stick) && !fs::is_empty(stick, ec)) {
            if (error) *error = "both /mnt/usb1 and the stick folder hold files";
            return false;
        }
        fs::remove(stick, ec);
        fs::create_directories(stick.parent_path(), ec);
        fs::rename(mount, stick, ec);
    }
    if (!ec) fs::remove_all(plat::path(wiring::kUsbStorageProc), ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    const std::string disk = kUsbDevpath;
    queueUevent(ueventMessage("remove", disk + "/sda1", {"SUBSYSTEM=block", "DEVNAME=sda1", "DEVTYPE=partition"}));
    queueUevent(ueventMessage("remove", disk, {"SUBSYSTEM=block", "DEVNAME=sda", "DEVTYPE=disk"}));
    return true;
}

}  // namespace plat::sim
