// Where the start-up places the shared keypad.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/startup.h"
#include "platform/platform.h"
#include "support/testkit.h"

namespace {

TEST(Startup, KeypadOfWindowAtOriginCoversX420To799AndY0To479) {
    const QRect r = keypadRectFor(QPoint(0, 0));
    EXPECT_EQ(r.left(), 420);
    EXPECT_EQ(r.right(), 799);
    EXPECT_EQ(r.top(), 0);
    EXPECT_EQ(r.bottom(), 479);
    EXPECT_EQ(r.size(), QSize(380, 480));  // not 379 x 479: both corners belong to the strip
}

TEST(Startup, KeypadFollowsAMovedMainWindow) {
    EXPECT_EQ(keypadRectFor(QPoint(100, 30)), QRect(520, 30, 380, 480));
}

class StartupFolders : public testkit::SimBoardTest {};

TEST_F(StartupFolders, TemporaryFilesOfInterruptedSavesGoAndNothingElse) {
    const char* leftovers[] = {"/data/ram_device_info.tmpA1b2C3", "/data/configs/tcpip.ini.tmpZZ9x0q",
                               "/data/configs/tcpip.ini.lock",
                               "/data/modes/custom_mode3.tmp000000", "/data/modes/custom_mode3.tmp000001",
                               "/data/app/.vlxH71N2.tmpQw3rty", "/data/smartmapping/.scan.tmpAbc123",
                               "/etc/udhcpd.conf.tmp9zY8xW"};
    const char* kept[] = {"/data/ram_device_info", "/data/configs/notes.tmp", "/data/configs/a.tmp12345",
                          "/data/configs/a.tmp1234567", "/data/configs/b.lock", "/data/modes/custom_mode3",
                          "/data/modes/MO01.json.tmp-abcd", "/data/configs/tcpip.ini.tmpZZ9x0q.lock",
                          "/data/app/vlxH71N", "/data/smartmapping/scan"};
    for (const char* f : leftovers) testkit::writeFile(f, "x");
    for (const char* f : kept) testkit::writeFile(f, "x");
    plat::makeDirs("/data/modes/dir.tmpabcdef");  // a folder of that name is not ours

    EXPECT_EQ(prepareDataFolders(), 8);
    for (const char* f : leftovers) EXPECT_FALSE(testkit::exists(f)) << f;
    for (const char* f : kept) EXPECT_TRUE(testkit::exists(f)) << f;
    EXPECT_TRUE(testkit::exists("/data/modes/dir.tmpabcdef"));
    EXPECT_TRUE(std::filesystem::is_directory(plat::path("/data/kavelkv/log")));
}

TEST_F(StartupFolders, AFreshBoardGetsTheFoldersTheLogTheSettingsAndAnUpgradeWriteTo) {
    std::filesystem::remove_all(plat::path("/data"));
    EXPECT_EQ(prepareDataFolders(), 0);
    for (const char* d : {"/data/kavelkv/log", "/data/configs", "/data/modes", "/data/app"})
        EXPECT_TRUE(std::filesystem::is_directory(plat::path(d))) << d;
}

}  // namespace
