// USB upgrade on the engine: packages made by the generator on a stick plugged in through
// board control, installed into the application folder, both configuration flashes and the
// scaler's font flash; bad packages leave all of them as they were.
#include <QDateTime>
#include <QRegularExpression>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <filesystem>
#include <fstream>

#include "core/app_swap.h"
#include "core/md5.h"
#include "fpga/engine_events.h"
#include "fpga/usb_package.h"
#include "fpga_fixture.h"
#include "protocol/file_transfer.h"
#include "platform/sim/board_control.h"
#include "platform/sim/c331_model.h"
#include "support/upgrade_package.h"

using namespace fpgatest;
using testkit::payload;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr uint32_t kRecords = 0x6C0000;  // the configuration flash's own records
constexpr uint32_t kFont64Ascii = 0x410000;

class UsbUpgradeTest : public OpenEngineTest {
protected:
    void SetUp() override {
        OpenEngineTest::SetUp();
        board().setSpiFrameLog(false);
        g_usb_grade_path = QStringLiteral("VLX-H71");
        g_update_flag = 0;
        g_app_reset_flag = 0;
        g_update_status = 0;
        G_reboot_tickTicks = 0;
        std::memset(g_send_para, 0, sizeof g_send_para);
        c331 = board().find<plat::sim::C331Model>("c331");
        ASSERT_TRUE(c331);
        plat::sim::C331Engine::Times t;  // erases of a fast part: the polls are the simulator's
        t.erase4k = 2 * kNsPerMs;
        t.erase32k = 3 * kNsPerMs;
        t.erase64k = 4 * kNsPerMs;
        {
            auto lock = c331->engineLock();
            c331->engine().setTimes(t);
            c331->engine().flashLoad(kFont64Ascii, bytes(payload(0x9000, 50)));  // a font that was there
        }
        scaler = c331_manage::createForTest();
        ram->registersForTest()[43] = 0x0F;  // the 64-dot ASCII font's bit 4 is missing
        engineEvents().firmwareUpdateStart = [this] { ++starts; };
        engineEvents().firmwareUpdateOver = [this] { ++overs; };
        QObject::connect(ram, &VlxRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
        ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
        testkit::writeFile(kAppImage, "the application running now");
        for (int i = 0; i < 2; ++i) {
            chips->flash[i]->load(0, bytes(payload(0x30000, 60 + unsigned(i))));
            chips->flash[i]->load(kRecords, bytes(payload(0x40000, 70 + unsigned(i))));
        }
        simShell().clearCommands();
    }
    void TearDown() override {
        engineEvents() = EngineEvents{};
        fpga_manage::app_written_hook = nullptr;
        c331_manage::resetInstanceForTest();
        OpenEngineTest::TearDown();
    }

    // Load on the link screen, then the engine's passes until the upgrade ends.
    void runUpgrade() {
        g_send_para[1] = 0;
        g_usb_grade = 1;
        for (int k = 0; k < 10 && g_usb_grade; ++k) e->usb_upgrade_manage_deal();
        ASSERT_EQ(g_usb_grade.load(), 0);
    }
    static std::string stick(const std::string& name) { return "/sim/usb-stick/VLX-H71/" + name; }
    // Payload files under /work and a package of them on the stick.
    std::string writePayload(const std::string& name, size_t n, unsigned seed) {
        const std::string path = "/work/" + name;
        testkit::writeFile(path, payload(n, seed));
        return path;
    }
    void makePackage(const std::string& name, std::vector<std::string> args) {
        ASSERT_TRUE(testkit::generatePackage(stick(name), args));
    }
    // A package with every kind of entry: application, both bitstreams, the 64-dot ASCII font.
    std::vector<std::string> fullPackage(const std::string& publish = "0") {
        return {"--app",  writePayload("app", 300000, 1),   "--fpga0", writePayload("fpga0", 40000, 2),
                "--fpga1", writePayload("fpga1", 70000, 3), "--font",  writePayload("font", 0x3000, 4),
                "--font-encoding", "1", "--font-height", "64", "--publish", publish};
    }
    Bytes c331Flash(uint32_t a, uint32_t n) {
        auto lock = c331->engineLock();
        return c331->engine().flashRead(a, n);
    }
    // Everything an upgrade may change.
    struct Snapshot {
        Bytes flash[2];
        Bytes fonts;
        std::string app;
        bool newAppLeft;
        bool operator==(const Snapshot& o) const {
            return flash[0] == o.flash[0] && flash[1] == o.flash[1] && fonts == o.fonts && app == o.app &&
                   newAppLeft == o.newAppLeft;
        }
    };
    Snapshot snapshot() {
        Snapshot s;
        for (int i = 0; i < 2; ++i) s.flash[i] = chips->flash[i]->read(0, kFlashSize);
        s.fonts = c331Flash(0, 0x460000);  // both ASCII fonts and the 32-dot Chinese one
        s.app = testkit::readFile(kAppImage);
        s.newAppLeft = testkit::exists(kAppImageNew);
        return s;
    }
    size_t ran(const std::string& command) {
        const auto c = simShell().commands();
        return size_t(std::count(c.begin(), c.end(), command));
    }
    bool swapped() { return ran("mv /data/app/vlxH71N2  /data/app/vlxH71N") > 0; }

    std::shared_ptr<plat::sim::C331Model> c331;
    c331_manage* scaler = nullptr;
    int starts = 0, overs = 0;
    std::vector<int> codes;
};

// ---------------------------------------------------------------- the layout

TEST(UsbPackageLayout, EraseWalkTakes32KBlocksOnlyWhereTheyStartAndFitElseSectors) {
    using usbpkg::erasePlan;
    auto plan = erasePlan(0, 40000);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].sector, 0u);
    EXPECT_EQ(plan[0].kind, 1);
    EXPECT_EQ(plan[1].sector, 8u);
    EXPECT_EQ(plan[1].kind, 0);
    EXPECT_EQ(plan[2].sector, 9u);
    EXPECT_EQ(plan[2].kind, 0);
    plan = erasePlan(0, 32768);
    ASSERT_EQ(plan.size(), 1u) << "exactly one block, no remainder";
    EXPECT_TRUE(erasePlan(0, 0).empty());
    // from a slot that is no block start: sectors until the next block boundary
    plan = erasePlan(0x10000 + 0x1000, 0xF000);
    ASSERT_EQ(plan.size(), 8u);
    EXPECT_EQ(plan[0].sector, 0x11u);
    EXPECT_EQ(plan[0].kind, 0);
    EXPECT_EQ(plan[6].sector, 0x17u);
    EXPECT_EQ(plan[7].sector, 0x18u);
    EXPECT_EQ(plan[7].kind, 1);
}

TEST(UsbPackageLayout, FontsGoToTheirSlotsAndAnOtherHeightHasNone) {
    uint8_t h[35] = {};
    uint32_t at = 99, room = 0;
    h[5] = 1;
    h[18] = 64;
    ASSERT_EQ(usbpkg::fontSlot(h, &at, &room), usbpkg::FontTarget::Slot);
    EXPECT_EQ(at, 0x410000u);
    EXPECT_EQ(room, 0x40000u);
    h[18] = 32;
    ASSERT_EQ(usbpkg::fontSlot(h, &at, &room), usbpkg::FontTarget::Slot);
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(room, 0x10000u) << "the 32-dot Chinese font begins at 0x10000";
    h[5] = 0;
    h[18] = 64;
    ASSERT_EQ(usbpkg::fontSlot(h, &at, &room), usbpkg::FontTarget::Slot);
    EXPECT_EQ(at + room, 0xED9000u) << "the last font stops before the OSD bitmap's sector";
    h[18] = 48;
    EXPECT_EQ(usbpkg::fontSlot(h, &at, &room), usbpkg::FontTarget::BadHeight) << "not slot 0 over the ASCII font";
    h[5] = 2;
    EXPECT_EQ(usbpkg::fontSlot(h, &at, &room), usbpkg::FontTarget::OtherEncoding);
}

// ---------------------------------------------------------------- installing

TEST_F(UsbUpgradeTest, GeneratedPackageInstallsApplicationBothBitstreamsAndFont) {
    makePackage("H71N.VLX", fullPackage());
    runUpgrade();
    // the bitstreams from flash address 0, the rest of each flash as it was
    EXPECT_EQ(chips->flash[0]->read(0, 40000), bytes(payload(40000, 2)));
    EXPECT_EQ(chips->flash[1]->read(0, 70000), bytes(payload(70000, 3)));
    EXPECT_EQ(chips->flash[0]->read(40000, 960), Bytes(960, 0xFF)) << "the rest of the last sector erased";
    const Bytes old0 = bytes(payload(0x30000, 60));
    EXPECT_EQ(chips->flash[0]->read(0xA000, 0x26000), Bytes(old0.begin() + 0xA000, old0.end()));
    EXPECT_EQ(chips->flash[1]->read(kRecords, 0x40000), bytes(payload(0x40000, 71))) << "the flash's records kept";
    // the font with its header in the 64-dot ASCII slot
    const Bytes font = c331Flash(kFont64Ascii, 35 + 0x3000);
    EXPECT_EQ(font[0], 'P');
    EXPECT_EQ(font[5], 1);
    EXPECT_EQ(font[18], 64);
    EXPECT_EQ(Bytes(font.begin() + 35, font.end()), bytes(payload(0x3000, 4)));
    // the application swapped in through the shell, the loader's start command set
    EXPECT_EQ(testkit::readFile(kAppImage), payload(300000, 1));
    EXPECT_FALSE(testkit::exists(kAppImageNew));
    const auto cmds = simShell().commands();
    const auto chmod = std::find(cmds.begin(), cmds.end(), "chmod 777 -R /data/app");
    const auto mv = std::find(cmds.begin(), cmds.end(), "mv /data/app/vlxH71N2  /data/app/vlxH71N");
    ASSERT_NE(chmod, cmds.end());
    ASSERT_NE(mv, cmds.end());
    EXPECT_LT(chmod, mv);
    EXPECT_NE(std::find(mv, cmds.end(), "sync"), cmds.end()) << "synced after the move";
    EXPECT_NE(testkit::readFile(kLoaderConfig).find("app_path=/data/app/vlxH71N -platform linuxfb"),
              std::string::npos);
    EXPECT_EQ(g_app_reset_flag.load(), 1) << "the tick reboots 300 ticks later";
    // with a new application the reboot restarts everything: no FPGA reset of its own
    EXPECT_EQ(e->reset_active[0].load(), 0);
    EXPECT_EQ(e->reset_active[1].load(), 0);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(overs, 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 1);
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(g_send_para[1], 0);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(UsbUpgradeTest, BitstreamsWithoutApplicationRestartTheirFpgasAndAFontReloadsTheFonts) {
    makePackage("fpga.VLXZK", {"--fpga1", writePayload("b1", 5000, 8), "--font", writePayload("f", 0x3000, 9),
                               "--font-encoding", "1", "--font-height", "32"});
    runUpgrade();
    EXPECT_EQ(chips->flash[1]->read(0, 5000), bytes(payload(5000, 8)));
    EXPECT_EQ(chips->flash[0]->read(0, 0x30000), bytes(payload(0x30000, 60))) << "FPGA 0 had no entry";
    EXPECT_EQ(e->reset_active[0].load(), 0);
    EXPECT_EQ(e->reset_active[1].load(), 1) << "only the FPGA whose flash was written restarts";
    EXPECT_FALSE(swapped());
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    // the 32-dot ASCII font at flash address 0, read back by the font reload
    EXPECT_EQ(c331Flash(35, 0x3000), bytes(payload(0x3000, 9)));
    EXPECT_EQ(ram->registersForTest()[43] & 0x01, 0x01);
}

// A page program the flash drops: the bitstream is read back and its piece written once
// more; when it still differs the FPGA is not restarted into it and the text says so.
TEST_F(UsbUpgradeTest, BitstreamThatDoesNotReadBackIsWrittenOnceMoreElseItsFpgaKeepsRunning) {
    makePackage("fpga.VLX", {"--fpga1", writePayload("b1", 40000, 8)});
    chips->flash[1]->losePrograms(1);
    runUpgrade();
    EXPECT_EQ(chips->flash[1]->read(0, 40000), bytes(payload(40000, 8)));
    EXPECT_EQ(e->reset_active[1].load(), 1);
    EXPECT_EQ(e->usb_upgrade_text().indexOf(QStringLiteral("failed")), -1) << e->usb_upgrade_text().toStdString();

    e->reset_active[1] = 0;
    chips->flash[1]->losePrograms(1000000);
    runUpgrade();
    chips->flash[1]->losePrograms(0);
    EXPECT_EQ(e->reset_active[1].load(), 0) << "it keeps running what it loaded at power-up";
    EXPECT_NE(e->usb_upgrade_text().indexOf(QStringLiteral("FPGA 1 bitstream failed")), -1);
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("flash 3 not written as the bitstream"),
              std::string::npos);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(UsbUpgradeTest, ReleaseOfThisVersionInstallsNothingAndTheSamePackageAsNonReleaseDoes) {
    // the FPGAs run the package's bitstream version: 25-01-15, function 3
    for (int i = 0; i < 2; ++i)
        board().underLock([&] {
            chips->fpga[i]->setReg(28, 3);
            chips->fpga[i]->setReg(29, 0x15);
            chips->fpga[i]->setReg(30, 0x01);
            chips->fpga[i]->setReg(31, 0x25);
        });
    ram->registersForTest()[43] = 0x3F;  // every font present: a font entry is skipped
    makePackage("release.VLX", fullPackage("0x80"));
    const Snapshot before = snapshot();
    runUpgrade();
    EXPECT_TRUE(snapshot() == before);
    EXPECT_FALSE(swapped());
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_EQ(e->reset_active[0].load(), 0);
    EXPECT_EQ(e->reset_active[1].load(), 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 1);

    // FPGA 1 runs another bitstream: only its entry is installed
    board().underLock([&] { chips->fpga[1]->setReg(29, 0x16); });
    runUpgrade();
    EXPECT_EQ(chips->flash[0]->read(0, 40000), Bytes(before.flash[0].begin(), before.flash[0].begin() + 40000));
    EXPECT_EQ(chips->flash[1]->read(0, 70000), bytes(payload(70000, 3)));
    EXPECT_FALSE(swapped());

    std::filesystem::remove(plat::path(stick("release.VLX")));
    makePackage("test.VLX", fullPackage("0"));
    runUpgrade();
    EXPECT_TRUE(swapped()) << "not a release: installed and restarted";
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

TEST_F(UsbUpgradeTest, OtherControllerTypeInstallsOnlyItsFont) {
    auto args = fullPackage();
    args.insert(args.end(), {"--controller", "0x1234"});
    makePackage("other.VLX", args);
    const Snapshot before = snapshot();
    runUpgrade();
    const Snapshot after = snapshot();
    EXPECT_EQ(after.flash[0], before.flash[0]);
    EXPECT_EQ(after.flash[1], before.flash[1]);
    EXPECT_EQ(after.app, before.app);
    EXPECT_FALSE(swapped());
    EXPECT_EQ(c331Flash(kFont64Ascii + 35, 0x3000), bytes(payload(0x3000, 4)));
}

// ---------------------------------------------------------------- bad packages

TEST_F(UsbUpgradeTest, CorruptedOrTruncatedPackagesLeaveFlashesApplicationAndFontsByteIdentical) {
    const auto full = fullPackage();
    // the package's size: header, four entries, the data
    const size_t size = 49 + 4 * 21 + 300000 + 64 + 40000 + 64 + 70000 + 35 + 0x3000;
    const std::vector<std::vector<std::string>> variants = {
        {"--truncate", "-1"},                     // the last font byte missing
        {"--truncate", "30"},                     // in the header
        {"--truncate", "100"},                    // in the entry table
        {"--truncate", std::to_string(49 + 84 + 300000 + 100)},  // in the first bitstream
        {"--corrupt", "bitstream-length"},        // 64 + L beyond its entry
        {"--corrupt", "offset-past-end"},
        {"--corrupt", "entry-count"},
        {"--corrupt", "font-height"},             // would land in slot 0 over the ASCII font
        {"--corrupt", "font-oversize"},           // would overrun the 64-dot Chinese font
        {"--corrupt", "empty-app"},               // would swap in an empty program
    };
    const Snapshot before = snapshot();
    for (const auto& v : variants) {
        SCOPED_TRACE(v[0] + " " + v[1]);
        auto args = full;
        args.insert(args.end(), v.begin(), v.end());
        std::filesystem::remove_all(plat::path(stick("")));
        makePackage("bad.VLX", args);
        if (v[1] == "-1") {
            ASSERT_EQ(std::filesystem::file_size(plat::path(stick("bad.VLX"))), size - 1);
        }
        runUpgrade();
        EXPECT_TRUE(snapshot() == before);
        EXPECT_FALSE(swapped());
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_EQ(e->reset_active[0].load() + e->reset_active[1].load(), 0);
        EXPECT_TRUE(e->usb_upgrade_text().endsWith(QStringLiteral("    bad.VLX refused")))
            << e->usb_upgrade_text().toStdString();
    }
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), int(variants.size()));
}

TEST_F(UsbUpgradeTest, TableOfManyEmptyEntriesCostsNoSettlingWaitsAndRefusalsStayOnOneLine) {
    testkit::writeFile("/work/empty", "");
    std::vector<std::string> args;
    const std::string entry = "99:" + plat::path("/work/empty");  // an entry of a type nobody installs
    for (int k = 0; k < 1500; ++k) args.insert(args.end(), {"--entry", entry});
    makePackage("many.VLX", args);
    // two bad packages, one with a name longer than the screen's line has room for
    makePackage("a_package_with_a_very_long_name.VLX", {"--truncate", "10"});
    makePackage("other.VLX", {"--truncate", "10"});
    runUpgrade();
    EXPECT_LT(ran("sync"), 10u) << "each settling wait is a sync and 100 ms";
    EXPECT_TRUE(e->usb_upgrade_text().endsWith(QStringLiteral("    2 packages refused"))) << e->usb_upgrade_text().toStdString();
    std::filesystem::remove(plat::path(stick("other.VLX")));
    runUpgrade();
    EXPECT_TRUE(e->usb_upgrade_text().endsWith(QStringLiteral("    a_package_with_a_very... refused")))
        << e->usb_upgrade_text().toStdString();
}

TEST_F(UsbUpgradeTest, BitstreamReachingTheFlashRecordsIsRefused) {
    // a whole entry of 64 + 0x6C1000 bytes: only the flash map stops it
    makePackage("big.VLX", {"--fpga0", writePayload("big", 0x6C1000, 5)});
    const Snapshot before = snapshot();
    runUpgrade();
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(e->reset_active[0].load(), 0);
    EXPECT_NE(e->usb_upgrade_text().indexOf(QStringLiteral("big.VLX refused")), -1);
}

TEST(UsbPackageLayout, TheLargestBitstreamTheMapHoldsPassesTheCheckOneByteMoreDoesNot) {
    for (const uint32_t l : {0x6C0000u, 0x6C0001u}) {
        // a package of one bitstream entry, read from memory
        std::vector<uint8_t> head(49 + 21 + 64, 0);
        head[18] = 0x52;
        head[19] = 0x6C;
        head[47] = 1;
        const uint32_t length = 64 + l, offset = 70;
        head[49] = 7;
        const auto put32 = [&](size_t at, uint32_t v) {
            for (int k = 0; k < 4; ++k) head[at + size_t(k)] = uint8_t(v >> (8 * k));
        };
        put32(50, length);
        put32(54, offset);
        put32(70 + 31, l);
        const auto read = [&](uint64_t at, size_t n, uint8_t* out) {
            if (at + n > head.size()) return at >= 70 + 64;  // the bitstream itself is not read
            std::memcpy(out, head.data() + at, n);
            return true;
        };
        usbpkg::Package p;
        const std::string why = usbpkg::checkPackage(uint64_t(offset) + length, read, &p);
        if (l == 0x6C0000u) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find("records"), std::string::npos) << why;
        }
    }
}

TEST_F(UsbUpgradeTest, ShortReadFailsTheEntryBeforeAnythingIsErased) {
    // installers called on a package cut after its check: a stick pulled half-way
    makePackage("cut.VLX", fullPackage());
    const std::string host = plat::path(stick("cut.VLX"));
    const QString path = QString::fromStdString(stick("cut.VLX"));
    const uint32_t app = 49 + 84, fpga0 = app + 300000, fpga1 = fpga0 + 64 + 40000, font = fpga1 + 64 + 70000;
    const Snapshot before = snapshot();
    std::filesystem::resize_file(host, font + 35 + 0x3000 - 1);
    EXPECT_EQ(e->update_c331_osd_font_file(path, font, 35 + 0x3000), 0);
    std::filesystem::resize_file(host, fpga0 + 64 + 100);
    EXPECT_EQ(e->update_txc_file(path, kFlashChipFpga0, fpga0), 0) << "header there, bitstream cut";
    std::filesystem::resize_file(host, app + 1000);
    EXPECT_EQ(e->update_txc_file(path, kFlashChipFpga0, fpga0), 0) << "no header";
    EXPECT_EQ(e->update_muc_file(path, app, 300000), 0);
    EXPECT_TRUE(snapshot() == before);
}

TEST_F(UsbUpgradeTest, HiddenLinkedAndLowerCaseFilesAreNoPackagesAndAChineseNameIs) {
    // a desktop's hidden companion holding a real package, a link to one, a lower-case suffix
    makePackage("._H71N.VLX", fullPackage());
    makePackage("lower.vlx", fullPackage());
    ASSERT_EQ(::symlink(plat::path(stick("._H71N.VLX")).c_str(), plat::path(stick("link.VLX")).c_str()), 0);
    const Snapshot before = snapshot();
    runUpgrade();
    EXPECT_EQ(e->usb_file_num, 0);
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 1) << "an empty list still ends with 104";
    makePackage("升级包.VLXZK", {"--fpga0", writePayload("c", 3000, 7)});
    runUpgrade();
    ASSERT_EQ(e->usb_file_num, 1);
    EXPECT_EQ(e->usb_file_list.at(0), QStringLiteral("/mnt/usb1/VLX-H71/升级包.VLXZK"));
    EXPECT_EQ(chips->flash[0]->read(0, 3000), bytes(payload(3000, 7)));
}

TEST_F(UsbUpgradeTest, PackagesInNameOrderFromTheConfiguredFolderOrTheStickRoot) {
    makePackage("b.VLX", {"--fpga0", writePayload("b", 3000, 11)});
    makePackage("A.VLX", {"--fpga0", writePayload("a", 3000, 12)});
    ASSERT_TRUE(testkit::generatePackage("/sim/usb-stick/root.VLX", {"--fpga1", writePayload("r", 2000, 13)}));
    runUpgrade();
    ASSERT_EQ(e->usb_file_num, 2);
    EXPECT_EQ(e->usb_file_list.at(0), QStringLiteral("/mnt/usb1/VLX-H71/A.VLX"));
    EXPECT_EQ(chips->flash[0]->read(0, 3000), bytes(payload(3000, 11))) << "b.VLX came last";
    g_usb_grade_path = QStringLiteral(" ");
    runUpgrade();
    ASSERT_EQ(e->usb_file_num, 1);
    EXPECT_EQ(e->usb_file_list.at(0), QStringLiteral("/mnt/usb1/root.VLX"));
    EXPECT_EQ(chips->flash[1]->read(0, 2000), bytes(payload(2000, 13)));
    g_usb_grade_path = QStringLiteral("../../data");
    runUpgrade();
    EXPECT_EQ(e->usb_file_num, 0) << "a folder off the stick";
}

TEST_F(UsbUpgradeTest, ApplicationThatDoesNotReadBackIsDeletedNeverSwappedAndTheTextSaysSo) {
    makePackage("H71N.VLX", fullPackage());
    fpga_manage::app_written_hook = [](const std::string& host) {
        std::fstream f(host, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(123456);
        f.put('\x00');
        f.put('\x01');
    };
    runUpgrade();
    EXPECT_FALSE(testkit::exists(kAppImageNew));
    EXPECT_EQ(testkit::readFile(kAppImage), "the application running now");
    EXPECT_FALSE(swapped());
    EXPECT_EQ(ran("chmod 777 -R /data/app"), 0u);
    EXPECT_EQ(g_app_reset_flag.load(), 0) << "no restart into a broken program";
    EXPECT_NE(e->usb_upgrade_text().indexOf(QStringLiteral("application not installed")), -1);
    // without a new application the bitstreams take effect by restarting their FPGAs
    EXPECT_EQ(e->reset_active[0].load(), 1);
    EXPECT_EQ(e->reset_active[1].load(), 1);

    // the application's folder gone: the write fails the same way
    fpga_manage::app_written_hook = nullptr;
    e->reset_active[0] = e->reset_active[1] = 0;
    std::filesystem::remove_all(plat::path("/data/app"));
    runUpgrade();
    EXPECT_FALSE(swapped());
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_NE(e->usb_upgrade_text().indexOf(QStringLiteral("application not installed")), -1);
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    EXPECT_NE(log.find("could not be written to /data/app/vlxH71N2"), std::string::npos) << "in its own words";
    EXPECT_EQ(log.find("did not read back", log.rfind("could not be written")), std::string::npos);
}

// The engine's first pause after the upgrade wrote its application image goes on only once
// the protocol upload's end has its answer, or waits for the install lock held meanwhile.
std::atomic<bool> g_gateArmed{false};
std::atomic<bool> g_pcAnswered{false};
std::thread::id g_upgradeThread;

void holdUntilThePcEndWaitsOrIsAnswered(uint64_t) {
    std::this_thread::yield();  // every other pause: as the tests' zero sleep scale has it
    if (!g_gateArmed || std::this_thread::get_id() != g_upgradeThread) return;
    g_gateArmed = false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_pcAnswered && std::chrono::steady_clock::now() < limit) {
        if (g_app_install_mutex.try_lock())
            g_app_install_mutex.unlock();  // no install holds it: the end takes it next
        else if (g_app_install_mutex.waiting() > 0)
            return;
        std::this_thread::yield();
    }
}

TEST_F(UsbUpgradeTest, ProtocolUploadEndingDuringTheUpgradeWaitsForItsSwapAndIsRefused) {
    makePackage("H71N.VLX", fullPackage());
    const std::string pcImage(5000, 'P');
    FileTransfer pc;
    std::vector<uint8_t> out;
    const uint8_t start[6] = {fxfer::kApplication, 0, uint8_t(pcImage.size()), uint8_t(pcImage.size() >> 8), 0, 0};
    ASSERT_TRUE(pc.handle(fxfer::kGroupWriteStart, start, sizeof start, out));
    std::vector<uint8_t> block = {0, 0, 0, 0};
    block.insert(block.end(), pcImage.begin(), pcImage.end());
    out.clear();
    ASSERT_TRUE(pc.handle(fxfer::kGroupWriteBlock, block.data(), block.size(), out));
    ASSERT_EQ(out.at(0), fxfer::kOk);
    MD5 digest(pcImage.data(), unsigned(pcImage.size()));

    uint8_t answer = 0xFF;
    std::thread end;
    fpga_manage::app_written_hook = [&](const std::string&) {
        g_upgradeThread = std::this_thread::get_id();
        end = std::thread([&] {
            std::vector<uint8_t> reply;
            pc.handle(fxfer::kGroupWriteEnd, digest.digest(), fxfer::kDigestSize, reply);
            answer = reply.empty() ? 0xFE : reply[0];
            g_pcAnswered = true;
        });
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (g_app_install_mutex.waiting() == 0 && !g_pcAnswered && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        g_gateArmed = true;
    };
    plat::setSleepHook(&holdUntilThePcEndWaitsOrIsAnswered);
    runUpgrade();
    plat::setSleepHook(nullptr);
    if (end.joinable()) end.join();
    EXPECT_EQ(answer, fxfer::kFailed);
    EXPECT_TRUE(testkit::readFile(kAppImage) == payload(300000, 1)) << "the stick's application installed";
    EXPECT_EQ(ran("mv /data/app/vlxH71N2  /data/app/vlxH71N"), 1u);
    EXPECT_FALSE(testkit::exists(kAppImageNew));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// ---------------------------------------------------------------- the steps

TEST_F(UsbUpgradeTest, StepsShowTheDisplayOnceAndKeepStartAndEndTimeWithoutLeadingZeros) {
    // The wall clock runs on from 9:05:00 while the upgrade runs: at any load the start and end
    // times stay within that minute, written without leading zeros, the end not before the start.
    board().setWallClock(QDateTime(QDate(2026, 3, 5), QTime(9, 5, 0)).toSecsSinceEpoch());
    g_update_flag = 1;  // the display is up already: not opened a second time
    runUpgrade();
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(overs, 1);
    const QString text = e->usb_upgrade_text();
    const QRegularExpression form(QStringLiteral("^9:5:([0-9]|[1-5][0-9])    9:5:([0-9]|[1-5][0-9])$"));
    const QRegularExpressionMatch times = form.match(text);
    ASSERT_TRUE(times.hasMatch()) << text.toStdString();
    EXPECT_LE(times.captured(1).toInt(), times.captured(2).toInt()) << text.toStdString();
    EXPECT_EQ(g_update_flag.load(), 0);
    // a step nobody defined ends the upgrade instead of keeping the engine in it
    g_send_para[1] = 0x7F;
    g_usb_grade = 1;
    e->usb_upgrade_manage_deal();
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(g_send_para[1], 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 2);
}

using UsbUpgradeThreadTest = FpgaTest;

TEST_F(UsbUpgradeThreadTest, EngineThreadRunsTheUpgradeInsteadOfItsPassAndThenResumesIt) {
    ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
    g_usb_grade_path = QStringLiteral("VLX-H71");
    testkit::writeFile("/work/t", payload(4000, 21));
    ASSERT_TRUE(testkit::generatePackage("/sim/usb-stick/VLX-H71/t.VLX", {"--fpga0", "/work/t"}));
    fpga_manage* running = start();
    g_fpga_c331_start = 1;
    g_send_para[1] = 0;
    g_usb_grade = 1;
    for (int k = 0; k < 5000 && g_usb_grade; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(g_usb_grade.load(), 0);
    EXPECT_EQ(chips->flash[0]->read(0, 4000), bytes(payload(4000, 21)));
    // the restart of FPGA 0 is the normal pass's: its reset line is released after its hold
    EXPECT_EQ(running->reset_active[0].load(), 1);
    G_timeTicks += 201;  // the reset line's hold
    for (int k = 0; k < 5000 && running->reset_active[0]; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(running->reset_active[0].load(), 0);
}

}  // namespace
