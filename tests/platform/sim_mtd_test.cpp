// MTD partitions of the simulated board: the flash rules and the fault switches.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <unistd.h>

#include <filesystem>

#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;

namespace {

using SimMtdTest = testkit::SimBoardTest;

int eraseBlocks(int fd, uint32_t start, uint32_t length) {
    erase_info_user e{start, length};
    return plat::sys().ioctl(fd, MEMERASE, &e);
}

TEST_F(SimMtdTest, PartitionsReportTheirGeometryAndLiveInFilesOfTheirSize) {
    for (auto [dev, size] : {std::pair<const char*, uint32_t>{"/dev/mtd8", 0x60000}, {"/dev/mtd10", 0x500000}}) {
        int fd = plat::sys().open(dev, O_RDWR);
        ASSERT_GE(fd, 0) << dev;
        mtd_info_user info{};
        ASSERT_EQ(plat::sys().ioctl(fd, MEMGETINFO, &info), 0);
        EXPECT_EQ(info.size, size);
        EXPECT_EQ(info.erasesize, 0x20000u);
        EXPECT_EQ(info.writesize, 2048u);
        plat::sys().close(fd);
    }
    EXPECT_EQ(std::filesystem::file_size(board().mtdFile(10)), 0x500000u);
    EXPECT_LT(plat::sys().open("/dev/mtd9", O_RDWR), 0);
}

TEST_F(SimMtdTest, WriteOnlyClearsBitsUntilTheBlockIsErased) {
    int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> page(2048, 0x0F);
    ASSERT_EQ(plat::sys().pwrite(fd, page.data(), page.size(), 0x20000), 2048);
    std::fill(page.begin(), page.end(), 0xF5);
    ASSERT_EQ(plat::sys().pwrite(fd, page.data(), page.size(), 0x20000), 2048);  // no erase in between
    EXPECT_EQ(board().mtdRead(8, 0x20000, 2), (std::vector<uint8_t>{0x05, 0x05}));

    ASSERT_EQ(eraseBlocks(fd, 0x20000, 0x20000), 0);
    EXPECT_EQ(board().mtdRead(8, 0x20000, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    uint8_t b = 0;
    ASSERT_EQ(plat::sys().pread(fd, &b, 1, 0x20000), 1);
    EXPECT_EQ(b, 0xFF);

    EXPECT_LT(plat::sys().pwrite(fd, page.data(), page.size(), 100), 0);  // not on a page boundary
    EXPECT_EQ(errno, EINVAL);
    EXPECT_LT(plat::sys().pwrite(fd, page.data(), page.size(), 0x60000), 0);  // past the end
    EXPECT_EQ(errno, ENOSPC);
    std::vector<uint8_t> twoPages(4096, 0);
    EXPECT_EQ(plat::sys().pwrite(fd, twoPages.data(), twoPages.size(), 0x60000 - 2048), 2048);  // cut at the end
    EXPECT_LT(eraseBlocks(fd, 0x10000, 0x20000), 0);  // unaligned
    EXPECT_LT(eraseBlocks(fd, 0x40000, 0x40000), 0);  // beyond the end
}

TEST_F(SimMtdTest, SequentialWritesFollowTheFilePosition) {
    int fd = plat::sys().open("/dev/mtd10", O_RDWR);
    std::vector<uint8_t> a(2048, 0x11), b(904, 0x22);
    ASSERT_EQ(plat::sys().lseek(fd, 0x40000, SEEK_SET), 0x40000);
    ASSERT_EQ(plat::sys().write(fd, a.data(), a.size()), 2048);
    ASSERT_EQ(plat::sys().write(fd, b.data(), b.size()), 904);
    EXPECT_EQ(board().mtdRead(10, 0x40000 + 2047, 2), (std::vector<uint8_t>{0x11, 0x22}));
    EXPECT_EQ(board().mtdRead(10, 0x40000 + 2048 + 904, 1), std::vector<uint8_t>{0xFF});
}

TEST_F(SimMtdTest, WriteOnlyDescriptorProgramsAndReadOnlyOneCannot) {
    int wr = plat::sys().open("/dev/mtd8", O_WRONLY);
    ASSERT_GE(wr, 0);
    std::vector<uint8_t> page(2048, 0x3C);
    EXPECT_EQ(plat::sys().pwrite(wr, page.data(), page.size(), 0), 2048);
    erase_info_user e{0x20000, 0x20000};
    EXPECT_EQ(plat::sys().ioctl(wr, MEMERASE, &e), 0);
    plat::sys().close(wr);
    EXPECT_EQ(board().mtdRead(8, 0, 1), std::vector<uint8_t>{0x3C});

    int rd = plat::sys().open("/dev/mtd8", O_RDONLY);
    ASSERT_GE(rd, 0);
    EXPECT_LT(plat::sys().pwrite(rd, page.data(), page.size(), 2048), 0);
    plat::sys().close(rd);
    EXPECT_EQ(board().mtdRead(8, 2048, 1), std::vector<uint8_t>{0xFF});
}

TEST_F(SimMtdTest, EraseFailureAtBlockLeavesLaterBlocksUntouched) {
    int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    std::vector<uint8_t> zeros(2048, 0);
    for (uint32_t blk = 0; blk < 3; ++blk) plat::sys().pwrite(fd, zeros.data(), zeros.size(), blk * 0x20000);
    board().failMtdEraseAtBlock(8, 1);
    EXPECT_LT(eraseBlocks(fd, 0, 0x60000), 0);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(board().mtdRead(8, 0, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(board().mtdRead(8, 0x20000, 1), std::vector<uint8_t>{0x00});
    EXPECT_EQ(board().mtdRead(8, 0x40000, 1), std::vector<uint8_t>{0x00});
}

TEST_F(SimMtdTest, FaultSwitchesFailUnlockGetInfoAndShortenAWrite) {
    int fd = plat::sys().open("/dev/mtd10", O_RDWR);
    erase_info_user e{0, 0x500000};
    board().failMtdUnlockAtBlock(10, 3);
    EXPECT_LT(plat::sys().ioctl(fd, MEMUNLOCK, &e), 0);
    erase_info_user low{0, 0x60000};
    EXPECT_EQ(plat::sys().ioctl(fd, MEMUNLOCK, &low), 0);  // blocks 0..2 only

    board().failMtdGetInfo(10, true);
    mtd_info_user info{};
    EXPECT_LT(plat::sys().ioctl(fd, MEMGETINFO, &info), 0);

    board().shortMtdWrite(10, 100);
    std::vector<uint8_t> page(2048, 0);
    EXPECT_EQ(plat::sys().pwrite(fd, page.data(), page.size(), 0), 100);
    EXPECT_EQ(plat::sys().pwrite(fd, page.data(), page.size(), 2048), 2048);  // only the next write
    EXPECT_EQ(board().mtdRead(10, 99, 2), (std::vector<uint8_t>{0x00, 0xFF}));

    const std::vector<std::string> log{"unlock 0x0 0x500000", "unlock 0x0 0x60000", "getinfo", "write 0x0 100",
                                       "write 0x800 2048"};
    EXPECT_EQ(board().mtdLog(10), log);
}

TEST_F(SimMtdTest, ContentsSurviveANewBoardOnTheSameRoot) {
    int fd = plat::sys().open("/dev/mtd8", O_RDWR);
    std::vector<uint8_t> page(2048, 0x42);
    ASSERT_EQ(plat::sys().pwrite(fd, page.data(), page.size(), 0), 2048);
    plat::sys().close(fd);
    plat::resetSys();  // the controller restarts after a reboot
    EXPECT_EQ(board().mtdRead(8, 0, 1), std::vector<uint8_t>{0x42});
}

}  // namespace
