#include <QObject>

#include <unistd.h>

#include <cstring>
#include <thread>

#include "app/syncupdate.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/ram_file_writer.h"
#include "core/shadow_look_hook.h"
#include "core/store_fixture.h"
#include "support/saved_ram_file.h"
#include "support/ram_copies.h"

using namespace vlxram;
using storetest::StoreTest;
using storetest::fileU16;

namespace {
const char* const kRamFile = "/data/ram_device_info";
const char* const kMenuJson = "{\"name\":\"m\",\"osdcount\":0,\"oactcount\":0}";
}  // namespace

TEST_F(StoreTest, CodeWithoutChangeWritesNoFile) {
    VlxRamPara* p = start();
    testkit::writeFile(kRamFile, std::string(4096, 'Z').replace(0, 2, "\xAA\xAA"));
    p->setRamByte(0x10, 9);  // below 0x300: never saved, never shadowed
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(testkit::savedRamFile()[2], 'Z');
    EXPECT_EQ(testkit::shadowByte(p, 0x10), 0);
}

TEST_F(StoreTest, ChangedRamIsSavedAtOffsetTwoAndShadowFollows) {
    VlxRamPara* p = start();
    p->setRamU16(kContrast, 77);
    SyncUpdate::pInstance()->para_sync(1);
    const std::string f = testkit::savedRamFile();
    ASSERT_EQ(f.size(), 4096u);
    EXPECT_EQ(fileU16(f, kContrast), 77);
    EXPECT_EQ(f.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(p->shadowU16(kContrast), 77);
}

TEST_F(StoreTest, ChangeConfinedToTheFirstSavedBytesIsSavedAndSurvivesARestart) {
    // Language, panel lock, WiFi off, test pattern, current mode: 0x300..0x37F alone.
    const std::pair<unsigned, uint16_t> changes[] = {
        {kLanguage, 2}, {kPanelLock, 1}, {kWifiApOff, 1}, {kTestPattern, 5}, {kCurrentMode, 7}, {0x37E, 0x1234}};
    for (const auto& c : changes) {
        VlxRamPara* p = start();
        p->setRamU16(c.first, c.second);
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_EQ(fileU16(testkit::savedRamFile(), c.first), c.second) << std::hex << c.first;
        p = restart();
        // The start-up turns the test pattern off and names no current mode.
        if (c.first != kTestPattern && c.first != kCurrentMode) {
            EXPECT_EQ(p->ramU16(c.first), c.second) << std::hex << c.first;
        }
        VlxRamPara::resetInstanceForTest();
    }
}

TEST_F(StoreTest, ChangeLandingDuringSaveIsNotMarkedSaved) {
    VlxRamPara* p = start();
    bool injected = false;
    // The PC writes the RAM while the file is being synced.
    simShell().addHandler("sync", [&](const std::vector<std::string>&, std::string&) {
        if (!injected) {
            injected = true;
            std::thread([p] {  // a link thread's write, which no shell command holds up
                ManageMutexLocker lock;
                p->setRamU16(kSharpness, 3);
            }).join();
        }
        return 0;
    });
    p->setRamU16(kContrast, 77);
    SyncUpdate::pInstance()->para_sync(1);
    RamFileWriter::flush();
    ASSERT_TRUE(injected);
    EXPECT_EQ(p->shadowU16(kContrast), 77);
    EXPECT_NE(p->shadowU16(kSharpness), 3);  // still differs: the scaler applies it
    EXPECT_NE(fileU16(testkit::savedRamFile(), kSharpness), 3);
    SyncUpdate::pInstance()->para_sync(1);  // and the next code saves it
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kSharpness), 3);
    EXPECT_EQ(p->shadowU16(kSharpness), 3);
}

TEST_F(StoreTest, SaveRefusedByAFullPartitionIsLoggedAndMadeAtTheNextChange) {
    VlxRamPara* p = start();
    const std::string before = testkit::savedRamFile();
    const size_t log = logSize();
    // Standard error into a pipe: a file would be full too.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int savedErr = ::dup(2);
    ::dup2(pipeFds[1], 2);
    {
        testkit::FullPartition full;
        p->setRamU16(kContrast, 77);
        SyncUpdate::pInstance()->para_sync(1);
        RamFileWriter::flush();  // the write meets the full partition
    }
    ::dup2(savedErr, 2);
    ::close(savedErr);
    ::close(pipeFds[1]);
    char err[4096] = {};
    (void)!::read(pipeFds[0], err, sizeof err - 1);
    ::close(pipeFds[0]);
    EXPECT_NE(std::string(err).find("parameter file cannot be written"), std::string::npos) << err;
    EXPECT_EQ(testkit::savedRamFile(), before);
    EXPECT_EQ(logSize(), log) << "the log shares the partition";
    SyncUpdate::pInstance()->para_sync(1);  // the next notification, nothing else changed
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kContrast), 77);
    writeLogMsg(LOG_INFO, "room again");
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("parameter file cannot be written"),
              std::string::npos)
        << "the line kept in memory goes before the next entry once there is room";
}

TEST_F(StoreTest, DeletedRamFileIsNotRecreatedButShadowTakesChange) {
    VlxRamPara* p = start();
    std::remove(plat::path(kRamFile).c_str());
    p->setRamU16(kContrast, 66);
    SyncUpdate::pInstance()->para_sync(1);
    RamFileWriter::flush();
    EXPECT_FALSE(testkit::exists(kRamFile));
    EXPECT_EQ(p->shadowU16(kContrast), 66);
    // the file back: the next notification makes the save that was owed, and nothing stays owed
    EXPECT_TRUE(RamFileWriter::owed());
    testkit::writeFile(kRamFile, std::string(4096, 'Z').replace(0, 2, "\xAA\xAA"));
    SyncUpdate::pInstance()->para_sync(1);
    RamFileWriter::flush();
    EXPECT_FALSE(RamFileWriter::owed());
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kContrast), 66);
}

TEST_F(StoreTest, UserModeSavedRecalledAndDeletedWithMenuCopy) {
    VlxRamPara* p = start();
    testkit::writeFile("/data/configs/omenu.json", kMenuJson);
    p->setRamU16(kOsdEnable, 1);
    p->setRamU16(kLedWidth, 2560);
    p->setRamU16(kModeSaveRequest, 10);
    SyncUpdate::pInstance()->para_sync(1);

    const std::string mode = testkit::readFile("/data/modes/custom_mode10");
    ASSERT_EQ(mode.size(), 4096u);
    EXPECT_EQ(mode.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(std::memcmp(mode.data() + 2, testkit::ramBytes(p, kModeStart, kModeLength).data(), kModeLength), 0);
    EXPECT_EQ(testkit::readFile("/data/modes/MO0a.json"), kMenuJson);
    EXPECT_EQ(p->ramU16(kCurrentMode), 10);
    EXPECT_EQ(p->ramU16(kModeSaveRequest), 0);
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kCurrentMode), 10);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(9), 1);

    // recall after a restart
    p = restart();
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(9), 1);
    EXPECT_EQ(p->slotWord(9, kLedWidth), 2560);
    p->writeSlot(9, 0, std::vector<uint8_t>(kModeSlotSize, 0).data(), kModeSlotSize);
    EXPECT_EQ(VlxRamPara::mode_file_deal(9, 0), 1);
    EXPECT_EQ(p->slotWord(9, kLedWidth), 2560);

    // PC marks the slot for deletion, then raises the flag with 2
    testkit::setSlotByte(p, 9, 0, 0xFF);
    SyncUpdate::pInstance()->para_sync(2);
    EXPECT_FALSE(testkit::exists("/data/modes/custom_mode10"));
    EXPECT_FALSE(testkit::exists("/data/modes/MO0a.json"));
    EXPECT_EQ(testkit::slotBytes(p, 9)[0], 0xFF);
    EXPECT_EQ(testkit::slotBytes(p, 9)[1], 0xFF);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(9), 0);
}

TEST_F(StoreTest, DeletingModeWithoutMenuKeepsItsMenuFile) {
    VlxRamPara* p = start();
    testkit::writeFile("/data/modes/MO05.json", kMenuJson);
    EXPECT_EQ(VlxRamPara::mode_file_write(4, 1), 1);
    EXPECT_EQ(VlxRamPara::mode_file_deal(4, 1), 0);
    EXPECT_FALSE(testkit::exists("/data/modes/custom_mode5"));
    EXPECT_TRUE(testkit::exists("/data/modes/MO05.json"));
    (void)p;
}

TEST_F(StoreTest, PcLoadedSlotIsWrittenAsMarkedOnCodeTwo) {
    VlxRamPara* p = start();
    testkit::setSlotByte(p, 4, 0, 0xAA);
    testkit::setSlotByte(p, 4, 1, 0x00);
    testkit::setSlotByte(p, 4, 100, 0x42);
    SyncUpdate::pInstance()->para_sync(2);
    const std::string f = testkit::readFile("/data/modes/custom_mode5");
    ASSERT_EQ(f.size(), 4096u);
    EXPECT_EQ(f.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(f[100], 0x42);
    EXPECT_FALSE(testkit::exists("/data/modes/MO05.json"));  // operation 2 copies no menu
}

TEST_F(StoreTest, SaveRequestNamingNoSlotTouchesNothing) {
    VlxRamPara* p = start();
    std::vector<std::vector<uint8_t>> slotsBefore;
    for (int s = 0; s < vlxram::kModeSlots; ++s) slotsBefore.push_back(testkit::slotBytes(p, s));
    p->setRamU16(kModeSaveRequest, 17);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(p->ramU16(kModeSaveRequest), 0);
    for (int s = 0; s < vlxram::kModeSlots; ++s) EXPECT_EQ(testkit::slotBytes(p, s), slotsBefore[size_t(s)]) << s;
    EXPECT_EQ(p->ramU16(kCurrentMode), 0);
}

TEST_F(StoreTest, ShortModeFileIsRefusedAsEmptySlot) {
    VlxRamPara* p = start();
    testkit::writeFile("/data/modes/custom_mode2", std::string("\xAA\xAA", 2) + std::string(1000, '\x01'));
    EXPECT_EQ(VlxRamPara::mode_file_deal(1, 0), 0);
    EXPECT_EQ(testkit::slotBytes(p, 1)[0], 0xFF);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(1), 0);
}

TEST_F(StoreTest, ModeWriteFailureIsReportedAndSlotKept) {
    VlxRamPara* p = start();
    testkit::setSlotByte(p, 6, 0, 0x00);
    // a folder where the file should go: the replacement cannot rename over it
    plat::makeDirs("/data/modes/custom_mode7");
    EXPECT_EQ(VlxRamPara::mode_file_write(6, 1), 0);
    EXPECT_EQ(testkit::slotBytes(p, 6)[0], 0x00);
}

TEST_F(StoreTest, FailedUserModeSaveLeavesSlotMarkerAndCurrentModeAsTheyWere) {
    VlxRamPara* p = start();
    const std::vector<uint8_t> before = testkit::slotBytes(p, 2);
    ASSERT_EQ(testkit::slotBytes(p, 2)[0], kModeEmpty);
    plat::makeDirs("/data/modes/custom_mode3");  // a folder in the way: the file cannot be written
    p->setRamU16(kBrightness, 33);
    p->setRamU16(kModeSaveRequest, 3);
    const size_t log = logSize();
    SyncUpdate::pInstance()->para_sync(1);

    EXPECT_TRUE(testkit::slotBytes(p, 2) == before);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(2), 0);
    EXPECT_EQ(p->ramU16(kCurrentMode), 0);       // names no mode that is not on file
    EXPECT_EQ(p->ramU16(kModeSaveRequest), 0);   // the request is answered, not repeated
    EXPECT_GT(logSize(), log);
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kCurrentMode), 0);
}

// A PC names another current mode while a save of mode 3 syncs its file: its word, answered
// "done", is newer than the save and stays; the save still lands in slot 3.
TEST_F(StoreTest, ACurrentModeWordWrittenDuringASaveIsNotOverwrittenByIt) {
    VlxRamPara* p = start();
    bool injected = false;
    simShell().addHandler("sync", [&](const std::vector<std::string>&, std::string&) {
        if (!injected && testkit::exists("/data/modes/custom_mode3")) {
            injected = true;
            std::thread([] {  // a link thread's write
                unsigned char five[2] = {5, 0};
                ManageMutexLocker lock;
                EXPECT_EQ(VlxRamPara::VlxRamParaDeal(five, 2, kCurrentMode), 0);
            }).join();
        }
        return 0;
    });
    {
        ManageMutexLocker lock;
        p->setRamU16(kModeSaveRequest, 3);
    }
    SyncUpdate::pInstance()->para_sync(1);
    RamFileWriter::flush();
    ASSERT_TRUE(injected);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(2), 1);
    EXPECT_EQ(p->snapshotU16(kCurrentMode), 5);
    SyncUpdate::pInstance()->para_sync(1);
    RamFileWriter::flush();
    EXPECT_EQ(fileU16(testkit::savedRamFile(), kCurrentMode), 5);
}

// A reset to the factory image between a save's look at the shadow and the shadow's update: the
// reset's shadow is newer than the save's copy and stays, as the RAM it was taken from.
TEST_F(StoreTest, AShadowResetDuringASaveIsNotOverwrittenByTheSavesOlderCopy) {
    VlxRamPara* p = start();
    const uint16_t factory = p->shadowU16(kContrast);
    {
        ManageMutexLocker lock;
        p->setRamU16(kContrast, uint16_t(factory + 7));
    }
    bool reset = false;
    shadow_looked_hook = [&reset] {
        if (reset) return;
        reset = true;
        std::thread([] { EXPECT_EQ(VlxRamPara::ram_para_reset(), 1); }).join();
    };
    SyncUpdate::pInstance()->para_sync(1);
    shadow_looked_hook = nullptr;
    RamFileWriter::flush();
    ASSERT_TRUE(reset);
    EXPECT_EQ(p->snapshotU16(kContrast), factory);
    EXPECT_EQ(p->shadowU16(kContrast), factory) << "the shadow names the RAM as the reset left it";
}

TEST_F(StoreTest, SignalFromGuiThreadReachesSlotAndNestedSaveDoesNotDeadlock) {
    start();
    int calls = 0;
    QObject::connect(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para, [&calls](int code) {
        if (++calls == 1) VlxRamPara::ram_para_save();  // a refresh asking for another save
        EXPECT_EQ(code, 1);
    });
    EXPECT_EQ(VlxRamPara::test_signal(1), 1);
    EXPECT_EQ(calls, 2);
}
