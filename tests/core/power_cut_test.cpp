// A save is cut by power loss at random moments: every file found afterwards holds
// either the old or the new image, and the controller starts from it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "app/syncupdate.h"
#include "core/ram_file_writer.h"
#include "store_fixture.h"

using namespace vlxram;
using storetest::StoreTest;

namespace {
constexpr unsigned kPatternFrom = 0x400;  // clear of the run-time words start-up rewrites
constexpr int kSlots = 3;

// The pattern byte of a whole file, or -1 when the file is a mix of two saves.
int uniformByte(const std::string& f, size_t from, size_t to) {
    if (f.size() < to) return -1;
    const char v = f[from];
    for (size_t i = from; i < to; ++i)
        if (f[i] != v) return -1;
    return uint8_t(v);
}

[[noreturn]] void saveForever(int readyFd) {
    VlxRamPara* p = VlxRamPara::pInstance();
    SyncUpdate* sync = SyncUpdate::pInstance();
    for (unsigned n = 0;; ++n) {
        const uint8_t v = uint8_t(n % 250 + 1);
        p->writeRam(kPatternFrom, std::vector<uint8_t>(kRamSize - kPatternFrom, v).data(), kRamSize - kPatternFrom);
        sync->para_sync(1);
        VlxRamPara::mode_file_write(int(n % kSlots), 1);
        if (n == 3) {
            RamFileWriter::flush();  // the parameter file is written off this thread: one has landed
            const char c = 1;
            (void)!write(readyFd, &c, 1);
        }
    }
}
}  // namespace

TEST_F(StoreTest, PowerCutDuringSaveLeavesOldOrNewImage) {
    start();
    for (int s = 0; s < kSlots; ++s) ASSERT_EQ(VlxRamPara::mode_file_write(s, 1), 1);
    VlxRamPara::resetInstanceForTest();
    ConfigEngine::resetInstanceForTest();

    std::mt19937 rng(77);
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            ConfigEngine::pInstance();
            saveForever(ready[1]);
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        usleep(rng() % 4000);  // the moment of the cut
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string ram = testkit::readFile("/data/ram_device_info");
        ASSERT_EQ(ram.size(), kRamFileSize) << "round " << round;
        ASSERT_EQ(ram.substr(0, 2), "\xAA\xAA");
        const int v = uniformByte(ram, 2 + kPatternFrom - kSavedStart, 2 + kSavedLength);
        ASSERT_GE(v, 0) << "parameter file is a mix, round " << round;
        for (int s = 0; s < kSlots; ++s) {
            const std::string m = testkit::readFile("/data/modes/custom_mode" + std::to_string(s + 1));
            ASSERT_EQ(m.size(), kModeFileSize);
            ASSERT_EQ(m.substr(0, 2), "\xAA\xAA");
            ASSERT_GE(uniformByte(m, 2 + kPatternFrom - kModeStart, 2 + kModeLength), 0)
                << "mode file " << s + 1 << " is a mix, round " << round;
        }

        VlxRamPara* p = restart();
        EXPECT_EQ(p->ramByte(kPatternFrom), v);
        EXPECT_EQ(p->ramByte(kRamSize - 1), v);
        for (int s = 0; s < kSlots; ++s) EXPECT_EQ(VlxRamPara::VlxUserModeSaved(s), 1);
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
    }
}
