#pragma once
// Test world: a private root folder on the simulated board, no real sleeps, tick at 0.
#include <gtest/gtest.h>

#include <string>

namespace testkit {

// Reads a whole file under the test root (absolute device path).
std::string readFile(const std::string& absolute);
void writeFile(const std::string& absolute, const std::string& content);
bool exists(const std::string& absolute);

// Heap allocations the calling thread has made so far (malloc, new, Qt's containers);
// -1 in a build without AddressSanitizer, whose allocator hooks count them.
long long threadAllocations();

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
