#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "core/global.h"
#include "core/utils.h"
#include "store_fixture.h"
#include "platform/sys.h"

using storetest::StoreTest;

namespace {
std::vector<std::string> withPrefix(const std::vector<std::string>& all, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : all)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}
}  // namespace

TEST_F(StoreTest, AddressSetUpRunsItsCommandsInOrder) {
    testkit::writeFile("/data/configs/tcpip.ini",
                       "[config]\nIPAddress=10.1.2.3\nSubNetMask=255.255.0.0\nGateWay=10.1.0.1\n");
    ConfigEngine::pInstance();
    simShell().setResult("ifconfig eth0", 0);
    simShell().clearCommands();
    EXPECT_EQ(Utils::initIPAddress(), 0);
    const std::vector<std::string> expect = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "ifconfig eth0 10.1.2.3 netmask 255.255.0.0",
        "route add -host 10.1.0.1 dev eth0",
        "route add default gw 10.1.0.1 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(commands(), expect);
}

TEST_F(StoreTest, AddressSetUpWithoutInterfaceRunsNothingElse) {
    ConfigEngine::pInstance();
    simShell().setResult("ifconfig eth0", plat::sim::kShellFailed);
    simShell().clearCommands();
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(StoreTest, AddressTextThatIsNoAddressNeverReachesShell) {
    ConfigEngine* c = ConfigEngine::pInstance();
    simShell().setResult("ifconfig eth0", 0);
    const char* hostile[] = {"1.2.3.4;reboot", "$(reboot)", "1.2.3.4 up", "300.1.1.1", " "};
    for (const char* h : hostile) {
        for (auto item : {ConfigItem::IPAddress, ConfigItem::SubNetMask, ConfigItem::GateWay}) {
            c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.2"));
            c->write_config_variant(ConfigItem::SubNetMask, QStringLiteral("255.0.0.0"));
            c->write_config_variant(ConfigItem::GateWay, QStringLiteral("10.0.0.1"));
            c->write_config_variant(item, QString::fromLatin1(h));
            simShell().clearCommands();
            EXPECT_EQ(Utils::initIPAddress(), 255) << h;
            EXPECT_EQ(commands(), std::vector<std::string>{"ifconfig eth0 &>/dev/null"}) << h;
        }
    }
}

TEST_F(StoreTest, EraseCoversPartialLastBlock) {
    const int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 0);
    EXPECT_EQ(withPrefix(plat::sim::board().mtdLog(8), "erase").size(), 3u);
    EXPECT_TRUE(withPrefix(plat::sim::board().mtdLog(8), "unlock").empty());
    plat::sim::board().setMtd(10, {0x500000, 0x20000, 2048});
    const int fd10 = plat::sys().open("/dev/mtd10", O_RDWR);
    ASSERT_GE(fd10, 0);
    EXPECT_EQ(Utils::non_region_erase(fd10, 0, 0x60001, 1), 0);
    EXPECT_EQ(withPrefix(plat::sim::board().mtdLog(10), "erase").size(), 4u);
    EXPECT_EQ(withPrefix(plat::sim::board().mtdLog(10), "unlock").size(), 4u);
    plat::sys().close(fd);
    plat::sys().close(fd10);
}

TEST_F(StoreTest, FailedEraseKeepsCallersDescriptorAndStops) {
    const int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    ASSERT_GE(fd, 0);
    plat::sim::board().failMtdEraseAtBlock(8, 1);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x60000, 0), 8);
    EXPECT_LE(withPrefix(plat::sim::board().mtdLog(8), "erase").size(), 2u);
    plat::sim::board().failMtdEraseAtBlock(8, -1);
    // the descriptor is still the caller's and still works
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x20000, 0), 0);
    EXPECT_EQ(plat::sys().close(fd), 0);

    const int fd2 = plat::sys().open("/dev/mtd8", O_RDWR);
    plat::sim::board().failMtdUnlockAtBlock(8, 0);
    EXPECT_EQ(Utils::non_region_erase(fd2, 0, 0x20000, 1), 8);
    EXPECT_EQ(plat::sys().close(fd2), 0);
}

TEST_F(StoreTest, MtdInfoFailureErasesAndWritesNothing) {
    const int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    plat::sim::board().failMtdGetInfo(8, true);
    const unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0x20000, 1), 8);
    EXPECT_EQ(Utils::non_region_write(fd, data, 4, 0), 1);
    EXPECT_TRUE(withPrefix(plat::sim::board().mtdLog(8), "erase").empty());
    EXPECT_TRUE(withPrefix(plat::sim::board().mtdLog(8), "write").empty());
    plat::sys().close(fd);
}

TEST_F(StoreTest, WriteGoesPageByPageWithRemainder) {
    const int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    ASSERT_EQ(Utils::non_region_erase(fd, 0, 0x20000, 0), 0);
    std::vector<unsigned char> data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    EXPECT_EQ(Utils::non_region_write(fd, data.data(), 5000, 0), 0);
    const auto writes = withPrefix(plat::sim::board().mtdLog(8), "write");
    EXPECT_EQ(writes, (std::vector<std::string>{"write 0x0 2048", "write 0x800 2048", "write 0x1000 904"}));
    EXPECT_EQ(plat::sim::board().mtdRead(8, 0, 5000), data);
    plat::sys().close(fd);
}

TEST_F(StoreTest, ShortMtdWriteIsReported) {
    const int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    ASSERT_EQ(Utils::non_region_erase(fd, 0, 0x20000, 0), 0);
    plat::sim::board().shortMtdWrite(8, 100);
    std::vector<unsigned char> data(3000, 0x11);
    EXPECT_EQ(Utils::non_region_write(fd, data.data(), 3000, 0), 1);
    plat::sys().close(fd);
}
