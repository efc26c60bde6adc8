// A save is cut by power loss at random moments: every file found afterwards holds
// either the old or the new image, and the controller starts from it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <thread>

#include "app/syncupdate.h"
#include "core/data_files.h"
#include "core/ram_file_writer.h"
#include "platform/sim/sim_file_system.h"
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

// The stop writes its own copy of the RAM while the writer's thread is in the middle of an
// older one (held in its flush) and a mode file is being written: the stop's write waits for
// neither, and the older copy
// does not land after the stop's. With the power cut after any step of the two writes, the
// file is whole: the one before, the older copy or the stop's; the stop's when no cut came.
TEST_F(StoreTest, TheStopsParameterFileWriteSupersedesAnOlderOneUnderWay) {
    VlxRamPara* p = start();
    constexpr unsigned kWord = kUnused8DE;
    unsigned char first[kRamSize], older[kRamSize], atStop[kRamSize];
    p->snapshot(0, kRamSize, first);
    std::memcpy(older, first, kRamSize);
    VlxRamPara::setU16(older, kWord, 0x1111);
    std::memcpy(atStop, older, kRamSize);
    VlxRamPara::setU16(atStop, kWord, 0x2222);
    const uint16_t before = storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord);
    plat::sim::SimFileSystem* fs = plat::sim::simFileSystem();
    {
        // a mode file's write under way on another thread, until the test lets it end
        std::promise<void> locked, release;
        std::thread modeFile([&locked, &release] {
            plat::Locker<plat::Mutex> writers(dataFileWriters());
            locked.set_value();
            release.get_future().wait();
        });
        locked.get_future().wait();
        fs->holdNextFsync();
        RamFileWriter::save(older);
        const bool held = fs->waitForHeldFsync();
        bool ended = false;
        std::future<bool> stop;
        if (held) {
            stop = std::async(std::launch::async, [&atStop] { return RamFileWriter::saveAtStop(atStop); });
            ended = stop.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        }
        release.set_value();
        modeFile.join();
        fs->releaseFsync();
        ASSERT_TRUE(held) << "the older copy's write waited for the mode file";
        EXPECT_TRUE(ended) << "the stop waited for the older write or the mode file";
        EXPECT_TRUE(stop.get());
        RamFileWriter::flush();
        EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kWord), 0x2222);
    }
    for (int calls = 0; calls < 12; ++calls) {
        SCOPED_TRACE("power cut after " + std::to_string(calls) + " calls");
        RamFileWriter::resetForTest();
        ASSERT_TRUE(VlxRamPara::saveRamFile(first));
        fs->record();
        fs->cutAfter(calls);
        RamFileWriter::save(older);
        RamFileWriter::saveAtStop(atStop);
        RamFileWriter::flush();
        const bool cut = fs->operations().size() >= size_t(calls);
        fs->record();  // the power back
        const std::string file = testkit::readFile("/data/ram_device_info");
        ASSERT_EQ(file.size(), kRamFileSize);
        ASSERT_EQ(file.substr(0, 2), "\xAA\xAA");
        const uint16_t word = storetest::fileU16(file, kWord);
        if (!cut) {
            EXPECT_EQ(word, 0x2222);
        } else {
            EXPECT_TRUE(word == before || word == 0x1111 || word == 0x2222) << word;
        }
    }
    fs->record();
}

// The writer's thread has renamed the stop's very image over the file and not yet flushed the
// folder when the stop comes: the stop's save, reported done, outlives a power cut right after.
TEST_F(StoreTest, TheStopsSaveIsDurableWhileTheWritersRenameIsNotYet) {
    VlxRamPara* p = start();
    unsigned char atStop[kRamSize];
    p->snapshot(0, kRamSize, atStop);
    VlxRamPara::setU16(atStop, kUnused8DE, 0x2222);
    plat::sim::SimFileSystem* fs = plat::sim::simFileSystem();
    fs->record();
    fs->holdNextFsync(plat::sim::SimFileSystem::Flush::Folder);
    RamFileWriter::save(atStop);
    const bool held = fs->waitForHeldFsync();
    const bool saved = held && RamFileWriter::saveAtStop(atStop);
    fs->cutNow();
    fs->releaseFsync();
    RamFileWriter::flush();
    fs->record();  // the power back
    ASSERT_TRUE(held) << "the writer's thread never flushed the folder";
    EXPECT_TRUE(saved);
    EXPECT_EQ(storetest::fileU16(testkit::readFile("/data/ram_device_info"), kUnused8DE), 0x2222);
}

namespace {
VlxRamPara::OwedMode owedMode(int slot, uint8_t marker, uint16_t word) {
    VlxRamPara::OwedMode m;
    m.slot = slot;
    m.image[0] = m.image[1] = marker;
    VlxRamPara::setU16(m.image.data(), 2 + kUnused8DE - kModeStart, word);
    return m;
}
std::string modeFile(int slot) { return testkit::readFile("/data/modes/custom_mode" + std::to_string(slot + 1)); }
}  // namespace

// The modes a stop owed: a save into slot 2 and a deletion of slot 5's file. A power cut after
// any step of the start that carries them in, and the next start carries them in whole.
TEST_F(StoreTest, OwedModesAreCarriedInWholeAfterAPowerCutAtAnyStepOfTheCarry) {
    start();
    const auto saved = owedMode(2, kModeSaved, 0x3333);
    const std::string old = std::string(2, char(kModeSaved)) + std::string(kModeFileSize - 2, '\x11');
    plat::sim::SimFileSystem* fs = plat::sim::simFileSystem();
    for (int calls = 0, cut = 1; cut; ++calls) {
        SCOPED_TRACE("power cut after " + std::to_string(calls) + " calls");
        ASSERT_LT(calls, 64);
        fs->record();  // the power on
        testkit::writeFile("/data/modes/custom_mode3", old);
        testkit::writeFile("/data/modes/custom_mode6", old);
        ASSERT_TRUE(VlxRamPara::writeOwedModes({saved, owedMode(5, kModeEmpty, 0)}));
        fs->cutAfter(calls);
        restart();
        cut = fs->operations().size() >= size_t(calls);
        fs->record();  // the power back
        restart();
        const std::string three = modeFile(2);
        ASSERT_EQ(three.size(), kModeFileSize);
        EXPECT_EQ(three.substr(0, 2), std::string(2, char(kModeSaved)));
        EXPECT_EQ(VlxRamPara::getU16(reinterpret_cast<const unsigned char*>(three.data()), 2 + kUnused8DE - kModeStart),
                  0x3333);
        EXPECT_EQ(modeFile(5), "") << "the deletion was carried out";
        EXPECT_EQ(testkit::readFile(VlxRamPara::kOwedModesFile), "") << "carried once";
    }
    fs->record();
}

// A pending file that is not one the stop wrote (cut short, a count past 16, a slot past the
// 16, a marker neither saved nor deleted) is removed at start and writes no mode file: the
// user's modes stay as they were.
TEST_F(StoreTest, ACorruptOrHostileFileOfOwedModesTouchesNoModeFile) {
    start();
    const std::string mode = std::string(2, char(kModeSaved)) + std::string(kModeFileSize - 2, '\x11');
    std::string good;
    {
        ASSERT_TRUE(VlxRamPara::writeOwedModes({owedMode(0, kModeSaved, 0x4444)}));
        good = testkit::readFile(VlxRamPara::kOwedModesFile);
        std::vector<VlxRamPara::OwedMode> back;
        ASSERT_TRUE(VlxRamPara::readOwedModes(good, &back));
        ASSERT_EQ(back.size(), 1u);
    }
    std::string tooMany = good, slot17 = good, marker = good;
    tooMany[4] = char(kModeSlots + 1);
    slot17[5] = char(kModeSlots);
    marker[7] = marker[8] = 0;
    for (const std::string& file : {good.substr(0, good.size() - 1), std::string("OMD2") + good.substr(4), tooMany,
                                    slot17, marker}) {
        testkit::writeFile("/data/modes/custom_mode1", mode);
        testkit::writeFile(VlxRamPara::kOwedModesFile, file);
        restart();
        EXPECT_TRUE(modeFile(0) == mode) << "mode 1 overwritten";
        for (int slot = 1; slot <= kModeSlots; ++slot) EXPECT_EQ(modeFile(slot), "") << "mode " << slot + 1;
        EXPECT_EQ(testkit::readFile(VlxRamPara::kOwedModesFile), "") << "removed";
    }
}
