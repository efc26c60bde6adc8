// Data files replaced by folders, pipes, endless devices and links before start-up:
// the controller starts on defaults, logs the refusal and writes nothing outside its root.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/alias.h"
#include "core/omenu.h"
#include "store_fixture.h"
#include "support/saved_ram_file.h"
#include "support/ram_copies.h"

namespace fs = std::filesystem;
using namespace vlxram;
using storetest::StoreTest;

namespace {

class HostileFilesTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ::alarm(30);  // a reader that blocks on a pipe ends the test instead of hanging it
    }
    void TearDown() override {
        ::alarm(0);
        StoreTest::TearDown();
    }
    void expectFactoryRam(const VlxRamPara* p) {
        EXPECT_EQ(p->ramU16(kSpliceMode), 4);
        EXPECT_EQ(p->ramU16(kLedWidth), 1920);
        EXPECT_EQ(p->ramU16(kBrightness), 100);
    }
};

const char* const kDataFiles[] = {"/data/ram_device_info", "/data/modes/custom_mode1", "/data/configs/alias.json",
                                  "/data/configs/omenu.json", "/data/modes/MO01.json"};

}  // namespace

TEST_F(HostileFilesTest, FoldersInPlaceOfDataFilesStartOnDefaults) {
    for (const char* f : kDataFiles) plat::makeDirs(f);
    const size_t log = logSize();
    VlxRamPara* p = start();
    expectFactoryRam(p);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(0), 0);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    OSD_LIST menu;
    menu[0].osd_count = 5;
    get_json_omenu_para("/data/configs/omenu.json", &menu);
    EXPECT_EQ(menu[0].osd_count, 0);
    EXPECT_GT(logSize(), log);
    for (const char* f : kDataFiles) EXPECT_TRUE(fs::is_directory(plat::path(f))) << f;  // left alone
}

TEST_F(HostileFilesTest, PipesInPlaceOfDataFilesNeverHangStartUp) {
    for (const char* f : kDataFiles) ASSERT_EQ(::mkfifo(plat::path(f).c_str(), 0644), 0) << f;
    VlxRamPara* p = start();
    expectFactoryRam(p);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(0), 0);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    OSD_LIST menu;
    get_json_omenu_para("/data/configs/omenu.json", &menu);
    EXPECT_EQ(menu[0].osd_count, 0);
}

TEST_F(HostileFilesTest, LinksToEndlessDevicesAreNotReadWithoutEnd) {
    for (const char* f : kDataFiles) fs::create_symlink("/dev/zero", plat::path(f));
    VlxRamPara* p = start();
    expectFactoryRam(p);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(0), 0);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    OSD_LIST menu;
    get_json_omenu_para("/data/configs/omenu.json", &menu);
    EXPECT_EQ(menu[0].osd_count, 0);
    EXPECT_EQ(testkit::savedRamFile().size(), kRamFileSize);  // the link was replaced
    EXPECT_FALSE(fs::is_symlink(plat::path("/data/ram_device_info")));
}

TEST_F(HostileFilesTest, OversizedRamAndModeFilesGiveTheirFormatsLengthOnly) {
    std::string ram(default_para_ramlist.begin(), default_para_ramlist.end());
    ram[2] = 2;  // language
    testkit::writeFile("/data/ram_device_info", ram + std::string(1 << 20, '\x55'));
    std::string mode(kModeFileSize, '\x11');
    mode[0] = mode[1] = char(kModeSaved);
    testkit::writeFile("/data/modes/custom_mode4", mode + std::string(1 << 20, '\x22'));
    VlxRamPara* p = start();
    EXPECT_EQ(p->ramByte(kLanguage), 2);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(3), 1);
    EXPECT_EQ(testkit::slotBytes(p, 3)[kModeFileSize - 1], 0x11);
    EXPECT_EQ(testkit::slotBytes(p, 3)[kModeFileSize], 0);  // the slot's last two bytes are never loaded
}

TEST_F(HostileFilesTest, OversizedJsonIsRefusedAndKept) {
    const std::string huge = "{\"name\":\"" + std::string(2 << 20, 'x') + "\",\"osdcount\":0,\"oactcount\":0}";
    testkit::writeFile("/data/configs/omenu.json", huge);
    OSD_LIST menu;
    get_json_omenu_para("/data/configs/omenu.json", &menu);
    EXPECT_EQ(menu[0].osd_count, 0);
    EXPECT_EQ(testkit::readFile("/data/configs/omenu.json").size(), huge.size());
}

TEST_F(HostileFilesTest, ModeSaveThroughALinkedFolderNeverLandsOutsideTheRoot) {
    start();
    const std::string outside = rootDir() + "-outside";
    fs::create_directories(outside);
    fs::remove_all(plat::path("/data/modes"));
    fs::create_directory_symlink(outside, plat::path("/data/modes"));
    EXPECT_EQ(VlxRamPara::mode_file_write(0, 1), 0);
    EXPECT_TRUE(fs::is_empty(outside));
    fs::remove_all(outside);
}
