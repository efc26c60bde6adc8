#pragma once
// Test world: a private root folder on the simulated board, no real sleeps, tick at 0.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace testkit {

// Waits until `done()` holds, for at most `seconds` (generous: a loaded machine, qemu-arm);
// whether it came. The millisecond between looks is a pace, not a wait.
template <class Done>
bool waitUntil(Done done, int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Reads a whole file under the test root (absolute device path).
std::string readFile(const std::string& absolute);
void writeFile(const std::string& absolute, const std::string& content);
bool exists(const std::string& absolute);

// Heap allocations the calling thread has made so far (malloc, new, Qt's containers);
// -1 in a build without AddressSanitizer, whose allocator hooks count them.
long long threadAllocations();

// The data partition full while the object lives: no write grows a file, as on a partition
// without a free block (a file-size limit of 0 for this process; SIGXFSZ ignored). Whatever
// the test prints meanwhile into a file (a redirected stdout) is lost: check after the scope.
class FullPartition {
public:
    FullPartition();
    ~FullPartition();
    FullPartition(const FullPartition&) = delete;
    FullPartition& operator=(const FullPartition&) = delete;

private:
    unsigned long long saved_[2];
    void (*handler_)(int);
};

// Counts the times a file of a name in the host folder `dir` was written or moved into
// place since the last count (inotify).
class FileWriteCounter {
public:
    explicit FileWriteCounter(const std::string& dir);
    ~FileWriteCounter();
    FileWriteCounter(const FileWriteCounter&) = delete;
    FileWriteCounter& operator=(const FileWriteCounter&) = delete;
    int count(const std::string& name);

private:
    int fd_;
};

class SimBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Host path of the private root.
    const std::string& rootDir() const { return root_; }

private:
    std::string root_;
};

}  // namespace testkit
