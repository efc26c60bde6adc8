// The device backends: kernel calls on the rooted path, and /bin/sh with raw statuses.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sys.h"
#include "support/testkit.h"

namespace {

class LinuxBackendTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        plat::setBoard(plat::Board::Device);
        plat::resetSys();
        plat::resetShell();
    }
    void TearDown() override {
        plat::setBoard(plat::Board::Sim);
        testkit::SimBoardTest::TearDown();
    }
};

TEST_F(LinuxBackendTest, DeviceOpenIsTakenUnderTheRoot) {
    testkit::writeFile("/data/configs/probe", "rooted");
    int fd = plat::sys().open("/data/configs/probe", O_RDONLY);
    ASSERT_GE(fd, 0);
    char buf[16] = {0};
    EXPECT_EQ(plat::sys().read(fd, buf, sizeof buf), 6);
    EXPECT_STREQ(buf, "rooted");
    EXPECT_EQ(plat::sys().close(fd), 0);
    EXPECT_LT(plat::sys().open("/data/configs/absent", O_RDONLY), 0);
}

TEST_F(LinuxBackendTest, DeviceShellGivesRawStatusAndCollectsOutput) {
    std::string out;
    EXPECT_EQ(plat::shell().popen("printf 'a b'; exit 3", &out), 3 << 8);
    EXPECT_EQ(out, "a b");
    EXPECT_EQ(plat::shell().system("exit 0"), 0);
    EXPECT_EQ(plat::shell().system("exit 1"), 1 << 8);
}

}  // namespace
