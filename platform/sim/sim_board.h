#pragma once
// The simulated board: everything behind the kernel interfaces of the real one.
// plat::sys() on the simulated board answers the same calls with the same ioctl
// numbers and structures as the kernel; this object holds the state behind them
// (chip models on SPI and I2C, the SoC register window, MTD partitions, serial
// ports, uevent and touch sources) and the handles tests and board control use.
//
// A fresh board comes with every fresh backend (plat::resetSys() drops it) and is bare:
// the device nodes exist, no chip is fitted; buildStandardBoard (standard_board.h) fits
// the chips of the wiring table. See docs/board.md.
#include <sys/types.h>

#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/board_wiring.h"
#include "platform/sim/board_clock.h"
#include "platform/sim/byte_log.h"
#include "platform/sim/chip_store.h"
#include "platform/sim/event_backlog.h"
#include "platform/sim/i2c_device_model.h"
#include "platform/sim/spi_device_model.h"

namespace plat::sim {

// SoC register window and its requests: the wiring table's values.
constexpr uint32_t kRegWindowPhys = wiring::kRegWindowPhys;
constexpr uint32_t kRegWindowSize = wiring::kRegWindowSize;
constexpr unsigned long kMsysRequestWindow = wiring::kMsysRequestWindow;
constexpr uint32_t kMsysMagic = wiring::kMsysMagic;
constexpr uint32_t kMsysBlockBytes = wiring::kMsysBlockBytes;
constexpr uint16_t kLineHigh = wiring::kLineHigh;
constexpr uint16_t kLineLow = wiring::kLineLow;
constexpr uint32_t kChipIdControl = wiring::kChipIdControl;
constexpr uint32_t kChipIdX = wiring::kChipIdX;
constexpr uint32_t kChipIdY = wiring::kChipIdY;
constexpr uint32_t kChipIdZ = wiring::kChipIdZ;

// Frame logs keep the last this many frames, within kFrameLogBytes of memory; older
// ones are dropped and counted.
constexpr size_t kFrameLogDepth = 4096;
constexpr size_t kFrameLogBytes = 1 << 20;
// Operations on an MTD partition kept for mtdLog(): the newest, within this many bytes.
constexpr size_t kMtdLogBytes = 64 * 1024;

// Raw wait statuses of the simulated shell (exit code << 8).
constexpr int kShellOk = 0;
constexpr int kShellFailed = 1 << 8;
constexpr int kShellNotFound = 127 << 8;

class SimBoard;
class SimSys;

// Chip-select condition of an SPI device that shares a node with others: true while
// the board's GPIO lines select it. Sampled at every transfer.
using SpiSelect = std::function<bool(const SimBoard&)>;
// Selected while every listed window register holds the listed level.
SpiSelect gpioLinesAre(std::vector<std::pair<uint32_t, uint16_t>> levels);

struct SpiFrame {
    std::string node;       // "/dev/spidev32766.1"
    uint32_t speedHz = 0;   // per-transfer speed, or the descriptor's max speed
    uint32_t mode = 0;
    uint8_t bitsPerWord = 8;
    BoardNs time = 0;       // board clock at the transfer
    int selected = 0;       // number of models that saw the frame
    std::vector<uint8_t> tx;
    std::vector<uint8_t> rx;
};

struct I2cFrame {
    int bus = 0;
    uint8_t address = 0;
    bool read = false;
    bool ack = false;
    int targets = 0;        // chips that answered to the address
    BoardNs time = 0;
    std::vector<uint8_t> data;  // written, or read back
};

// Heap bytes a logged frame holds beyond itself.
inline size_t heapBytes(const SpiFrame& f) { return heapBytes(f.tx) + heapBytes(f.rx) + heapBytes(f.node); }
inline size_t heapBytes(const I2cFrame& f) { return heapBytes(f.data); }

// A frame log: the last kFrameLogDepth frames within kFrameLogBytes while on, older ones
// dropped and counted.
template <typename Frame>
struct FrameRing {
    bool on = false;
    ByteLog<Frame> frames{inspectionLogBudget(kFrameLogBytes), kFrameLogDepth};
    void push(Frame f) {
        if (on) frames.push(std::move(f));
    }
    std::vector<Frame> list() const { return std::vector<Frame>(frames.begin(), frames.end()); }
    uint64_t dropped() const { return frames.dropped(); }
    void clear() { frames.clear(); }
};

// The settings of a spidev descriptor that a transfer goes out with.
struct SpiSettings {
    uint32_t mode = 0;
    uint8_t bitsPerWord = 8;
    uint32_t speedHz = 500000;
};

struct MtdConfig {
    uint64_t size = 0;
    uint32_t eraseSize = 0x20000;
    uint32_t writeSize = 2048;
};

class SimBoard {
public:
    SimBoard();
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Runs fn under the board's lock, as the models' entry points run (a model changed
    // from outside while the controller talks to it).
    void underLock(const std::function<void()>& fn) {
        std::lock_guard<std::recursive_mutex> l(mutex_);
        fn();
    }

    // ---- SoC register window (GPIO lines and chip-id registers) ----
    uint16_t reg16(uint32_t offset) const;
    void setReg16(uint32_t offset, uint16_t value);
    uint16_t gpio(uint32_t offset) const { return reg16(offset); }
    void setChipId(uint16_t x, uint16_t y, uint16_t z);
    // What the /dev/msys request reports (physical address, length); for short-window tests.
    void setMsysWindow(uint32_t phys, uint32_t length);
    void failMsysRequest(bool fail);
    void failMemMap(bool fail);

    // ---- GPIO lines ----
    // Called with the old and new level whenever a driver (through plat::GpioWord) or the
    // board (setReg16) writes the word, at that moment, on the writing thread.
    using GpioWatcher = std::function<void(uint32_t offset, uint16_t oldLevel, uint16_t level)>;
    int watchGpio(uint32_t offset, GpioWatcher watcher);
    void unwatchGpio(int id);
    // The GpioWord hook: the word at `offset` was just written.
    void gpioWritten(uint32_t offset, uint16_t level);

    // ---- Board clock ----
    // Stepping runs the models' events under the board lock, as transfers do.
    BoardClock& clock() { return clock_; }
    BoardNs now();
    void step(BoardNs ns);
    // The running controller: board time follows the PC's monotonic clock and a thread
    // runs each model event when it falls due (it sleeps while none is pending).
    void followRealTime(bool on);

    // ---- Wall clock (the controller's time of day, plat::timeOfDay) ----
    // An offset from the PC's clock, never the PC's own clock; a fresh board starts at 0.
    void setWallClock(std::time_t t);

    // ---- Chip models ----
    // Every model attached (SPI or I2C), by name; models attached without a name get
    // "<node or i2c-N-0xAA>#k".
    std::shared_ptr<ChipModel> findChip(const std::string& name) const;
    template <typename T>
    std::shared_ptr<T> find(const std::string& name) const {
        return std::dynamic_pointer_cast<T>(findChip(name));
    }
    std::vector<std::string> chipNames() const;
    // A chip with no bus of its own (only lines it watches, e.g. a receiver reached through
    // another chip): named, found and given attached() like the others.
    void attachModel(std::shared_ptr<ChipModel> model);

    // ---- SPI ----
    // Device nodes that exist (the five spidev32766.N nodes exist from the start).
    void addSpiNode(const std::string& node);
    // Attaches a model to a node; with `select` the model sees only the frames sent
    // while the GPIO lines select it (several chips on one node).
    void attachSpi(const std::string& node, std::shared_ptr<SpiDeviceModel> model, SpiSelect select = {});
    // The last kFrameLogDepth frames; spiFramesDropped() counts the older ones.
    void setSpiFrameLog(bool on);
    std::vector<SpiFrame> spiFrames() const;
    void clearSpiFrames();
    unsigned spiFramesDropped() const;
    // Frames that reached more than one chip at once (a chip-select fault).
    unsigned spiContentions() const;
    // The next SPI_IOC_MESSAGE on this node fails with EIO.
    void failNextSpiMessage(const std::string& node);

    // ---- I2C ----
    void addI2cBus(int bus);  // /dev/i2c-0 exists from the start
    // Attaches a device at a 7-bit address behind the given muxes. A model that is an
    // I2cMuxModel opens its channels to later attachments through it.
    void attachI2c(int bus, const I2cPath& path, uint8_t address, std::shared_ptr<I2cDeviceModel> model);
    unsigned i2cNacks() const;
    // Transactions in which more than one chip answered one address (open drain: the
    // bus ACKs when any of them does), counted once per address and transaction.
    unsigned i2cCollisions() const;
    void setI2cFrameLog(bool on);
    std::vector<I2cFrame> i2cFrames() const;

    // ---- MTD partitions, backed by <root>/sim/mtdN ----
    // /dev/mtd8 (0x60000) and /dev/mtd10 (0x500000) exist from the start.
    void setMtd(int index, const MtdConfig& config);
    std::string mtdFile(int index) const;  // host path of the backing file (created on demand)
    // The partition's cells (power-cut injection); nullptr when there is no such partition.
    ChipStore* mtdStore(int index);
    std::vector<uint8_t> mtdRead(int index, uint64_t offset, size_t length);
    // "unlock OFF LEN", "erase OFF LEN", "write OFF LEN", "getinfo" in call order.
    std::vector<std::string> mtdLog(int index) const;
    void failMtdGetInfo(int index, bool fail);
    void failMtdEraseAtBlock(int index, int block);   // -1 clears
    void failMtdUnlockAtBlock(int index, int block);  // -1 clears
    void shortMtdWrite(int index, size_t bytes);      // the next write stores only this many

    // ---- Device nodes in general ----
    // open() of this device path fails with `err` (absent chip, missing driver).
    void failOpen(const std::string& devicePath, int err = ENOENT);
    void clearOpenFailure(const std::string& devicePath);

    // ---- Serial ports 1 and 2 (pseudo-terminals) ----
    // Our end of the port: what is written here arrives at the controller's /dev/ttySN
    // and what the controller sends can be read here. Not to be used once bridged.
    int serialPeerFd(int port);
    // For the running program: a second terminal per port, bridged to the first, whose
    // device name is published as the symlink <root>/run/ttySN.peer.
    bool startSerialBridges();
    std::string serialPeerPath(int port) const;
    // Bytes that have reached the controller's end of the port and wait to be read.
    int serialInputWaiting(int port);

    // ---- Kernel uevents (NETLINK_KOBJECT_UEVENT) ----
    // Raw message as the kernel sends it ("add@/devpath\0ACTION=add\0..."). Messages sent
    // while no socket is bound wait for the first bind, at most a socket buffer of them
    // (the oldest go). A bound socket that does not read loses the newest, as netlink
    // does, and its next recv() fails once with ENOBUFS.
    void queueUevent(const std::string& message);
    // Uevents lost to full queues since the board was made.
    uint64_t ueventsDropped() const;
    static std::string ueventMessage(const std::string& action, const std::string& devpath,
                                     const std::vector<std::string>& env = {});
    void failUeventBind(bool fail);

    // ---- Touch events (/dev/input/event1) ----
    // Each reader, and the backlog kept for the first one, holds at most 64 events, as
    // evdev does; when full, the oldest packets go.
    void queueInputEvent(uint16_t type, uint16_t code, int32_t value);
    // Input events lost to full queues since the board was made.
    uint64_t inputEventsDropped() const;
    // A press at (x, y) and its release.
    void queueTouch(int x, int y);

    // ---- USB stick ----
    // Insert: <root>/mnt/usb1 shows the stick (folder <root>/sim/usb-stick),
    // <root>/proc/scsi/usb-storage appears, and the add uevents are sent. Remove undoes it.
    bool usbInsert(std::string* error = nullptr);
    bool usbRemove(std::string* error = nullptr);

private:
    friend class SimSys;
    struct SpiRoute {
        std::shared_ptr<SpiDeviceModel> model;
        SpiSelect select;
    };
    struct GpioWatch {
        uint32_t offset;
        GpioWatcher watcher;
    };
    struct I2cSegment;
    struct I2cNode {
        std::shared_ptr<I2cDeviceModel> model;
        I2cPath path;
        std::shared_ptr<I2cMuxModel> mux;
        std::vector<std::shared_ptr<I2cSegment>> channels;
    };
    struct I2cSegment {
        std::map<uint8_t, std::vector<I2cNode>> nodes;
    };
    struct Mtd {
        MtdConfig config;
        std::unique_ptr<ChipStore> store;
        bool failGetInfo = false;
        int failEraseBlock = -1;
        int failUnlockBlock = -1;
        long shortWrite = -1;
        ByteLog<std::string> log{inspectionLogBudget(kMtdLogBytes)};
    };
    struct Serial {
        int master = -1;
        int slaveHold = -1;  // keeps the slave open so the master never sees a hang-up
        std::string slaveName;
        int outerMaster = -1;
        int outerSlaveHold = -1;
        std::string outerName;
    };

    // Backend side (under mutex_).
    int spiMessage(const std::string& node, const SpiSettings& settings, void* transfers, unsigned count);
    int i2cTransfer(int bus, void* msgs, unsigned count);
    void collectI2c(const std::shared_ptr<I2cSegment>& seg, uint8_t address, std::vector<const I2cNode*>* out) const;
    void registerChip(ChipModel& model, const std::string& where);
    void syncClock();
    void clockLoop();
    Mtd* mtd(int index);
    bool ensureMtdFile(int index, Mtd& m);
    static std::string mtdStorePath(int index);
    Serial* serial(int port);
    bool openSerial(int port);
    int newUeventSocket(int typeFlags);
    void bindUevent(int fd);
    bool takeUeventOverrun(int fd);
    void closeEndpoint(int fd);
    int newInputFd(int flags);
    void bridgeLoop();

    mutable std::recursive_mutex mutex_;
    int regFd_ = -1;           // memfd behind every /dev/mem mapping of the window
    uint8_t* regs_ = nullptr;  // the board's own mapping of it
    uint32_t msysPhys_ = kRegWindowPhys;
    uint32_t msysLength_ = kRegWindowSize;
    bool failMsys_ = false;
    bool failMemMap_ = false;

    std::map<std::string, std::vector<SpiRoute>> spi_;
    std::set<std::string> spiFailNext_;
    FrameRing<SpiFrame> spiLog_;
    unsigned spiContentions_ = 0;

    std::map<int, std::shared_ptr<I2cSegment>> i2c_;
    unsigned i2cNacks_ = 0;
    unsigned i2cCollisions_ = 0;
    FrameRing<I2cFrame> i2cLog_;

    std::map<std::string, std::shared_ptr<ChipModel>> chips_;
    std::map<int, GpioWatch> gpioWatches_;
    std::map<uint32_t, uint16_t> gpioSeen_;  // last level each watcher heard
    int nextWatch_ = 1;

    BoardClock clock_;
    std::thread clockThread_;
    std::mutex clockWaitMutex_;
    std::condition_variable clockWake_;
    bool clockStop_ = false;
    uint64_t clockGen_ = 0;
    bool followReal_ = false;
    BoardNs realBaseBoard_ = 0;
    int64_t realBaseHostNs_ = 0;

    std::map<int, Mtd> mtd_;
    std::map<std::string, int> openFailures_;
    std::map<int, Serial> serial_;

    // Uevent sockets: controller fd -> our end; bound ones receive.
    std::map<int, int> ueventEnds_;
    std::set<int> ueventBound_;
    MessageBacklog ueventPending_{kUeventBacklogBytes};
    std::set<int> ueventOverrun_;
    uint64_t ueventsLost_ = 0;
    bool failUeventBind_ = false;
    // Input devices: controller fd -> write end of its pipe.
    std::map<int, int> inputEnds_;
    std::string inputPending_;  // input_event records
    uint64_t inputEventsLost_ = 0;

    std::thread bridge_;
    int bridgeStop_[2] = {-1, -1};
};

// The board behind plat::sys() (made on first use). Aborts when the board in force is
// not the simulated one or a test double replaced the backend.
SimBoard& board();

}  // namespace plat::sim
