#pragma once
// USB hot-plug watcher: kernel uevents from the netlink socket become the change codes
// of the screens: 100 a USB disk was added, 101 it was removed, 102 its storage is ready
// (a partition sda1..sda9 appeared, /proc/scsi/usb-storage exists and 301 ticks passed
// since both were seen, so the mount has settled).
#include <QObject>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

// The rules, apart from the socket and the thread.
class UsbWatch {
public:
    static constexpr int kAdded = 100;
    static constexpr int kRemoved = 101;
    static constexpr int kReady = 102;
    static constexpr uint32_t kSettleTicks = 301;

    // One raw uevent ("add@/devpath\0KEY=VALUE\0..."); codes to raise go to `codes`.
    // Only USB disks (block devices sd*) count: other devices' events raise nothing, and
    // the several events of one stick raise one 100 and one 101.
    void onUevent(const char* message, size_t length, std::vector<int>* codes);
    // Time passed (G_timeTicks); raises 102 when the storage has settled.
    void poll(std::vector<int>* codes);
    // A 102 is still to come.
    bool waiting() const { return partition_ && !readySent_; }

private:
    bool present_ = false;
    bool partition_ = false;
    bool storageSeen_ = false;
    bool readySent_ = false;
    uint32_t since_ = 0;
};

class UsbServer : public QObject {
    Q_OBJECT
public:
    // Opens and binds the uevent socket and starts the watcher thread (none when the
    // socket cannot be bound; logged).
    static UsbServer* pInstance();
    static UsbServer* p_UsbServer;   // set by start-up, before its thread runs
    // Stops the thread and drops the singleton.
    static void resetInstanceForTest();

    bool running() const { return thread_.joinable(); }

signals:
    void sig_usb_update(int code);

private:
    UsbServer();
    ~UsbServer() override;
    void loop();

    int fd_ = -1;      // bound before the thread starts, closed after it ends
    UsbWatch watch_;   // the watcher thread's own
    std::atomic<bool> stop_{false};
    plat::net::WakePipe wake_;  // ends the wait on the socket
    std::thread thread_;
};
