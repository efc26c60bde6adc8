// File transfer: name rules, temporary files renamed only on a good MD5, one digest per
// link, MTD writes, the application swap, reads and deletions.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mtd/mtd-user.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
#include "core/json_file.h"
#include "core/md5.h"
#include "platform/platform.h"
#include "platform/sim/sim_backend.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_shell.h"
#include "protocol/file_transfer.h"
#include "support/testkit.h"

using namespace fxfer;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> md5Of(const std::string& s) {
    MD5 m(s.data(), unsigned(s.size()));
    return std::vector<uint8_t>(m.digest(), m.digest() + 16);
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 7) & 0xFF);
    return s;
}

// Hidden part files left in a folder (there must be none after a transfer ends).
int partFiles(const std::string& folder) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(plat::path(folder), ec))
        if (e.path().filename().string().find(".tmp") != std::string::npos) ++n;
    return n;
}

class FileTransferTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        saved_ = {g_vlx_file_deal_para.notify, g_vlx_file_deal_para.grabScreen, g_vlx_file_deal_para.appSwap};
        g_vlx_file_deal_para.notify = [this](int code) {
            codes.push_back(code);
            return 0;
        };
        g_app_reset_flag = 0;
        g_update_status = 0;
    }
    void TearDown() override {
        g_vlx_file_deal_para.notify = saved_.notify;
        g_vlx_file_deal_para.grabScreen = saved_.grab;
        g_vlx_file_deal_para.appSwap = saved_.swap;
        testkit::SimBoardTest::TearDown();
    }

    std::vector<uint8_t> ask(FileTransfer& t, uint8_t group, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> out;
        EXPECT_TRUE(t.handle(group, payload.data(), payload.size(), out));
        EXPECT_FALSE(out.empty());
        return out;
    }
    uint8_t status(FileTransfer& t, uint8_t group, const std::vector<uint8_t>& payload) {
        return ask(t, group, payload)[0];
    }
    // Whole transfer of `content` in blocks; returns the end's status.
    uint8_t send(FileTransfer& t, const std::vector<uint8_t>& start, const std::string& content,
                 const std::vector<uint8_t>& digest, size_t block = 1000) {
        const uint8_t group = start.size() == 12 ? kGroupWriteDefinedStart : kGroupWriteStart;
        if (status(t, group, start) != kOk) return 0xFF;
        for (size_t off = 0; off < content.size(); off += block) {
            const std::string piece = content.substr(off, block);
            const auto r = ask(t, kGroupWriteBlock, cat({le32(uint32_t(off)), bytes(piece)}));
            if (r[0] != kOk) return 0xFE;
        }
        return status(t, kGroupWriteEnd, digest);
    }
    std::vector<uint8_t> kindStart(uint8_t kind, uint32_t size, uint8_t mode = 0) {
        return cat({{kind, mode}, le32(size)});
    }
    std::vector<uint8_t> definedStart(const char* code, const std::string& name, uint32_t size) {
        std::string padded = name.substr(0, 4);
        padded.resize(4, '\0');
        return cat({bytes(std::string(code, 4)), bytes(padded), le32(size)});
    }
    // Reads a whole file back: size, digest and contents.
    bool readBack(FileTransfer& t, uint8_t group, const std::vector<uint8_t>& start, std::string* content,
                  std::vector<uint8_t>* digest) {
        const auto r = ask(t, group, start);
        if (r[0] != kOk || r.size() != 21) return false;
        const uint32_t size = uint32_t(r[1] | r[2] << 8 | r[3] << 16 | r[4] << 24);
        digest->assign(r.begin() + 5, r.end());
        content->clear();
        while (content->size() < size) {
            const auto b = ask(t, kGroupReadBlock, cat({le32(uint32_t(content->size())), {0x00, 0x10}}));
            if (b[0] != kOk || b.size() < 2) return false;
            content->append(b.begin() + 1, b.end());
        }
        return status(t, kGroupReadEnd, {}) == kOk;
    }

    struct Hooks {
        std::function<int(int)> notify;
        std::function<bool(std::string*)> grab;
        std::function<int()> swap;
    } saved_;
    std::vector<int> codes;
};

TEST_F(FileTransferTest, AliasFileStoredOnGoodDigestReadBackAndAnnouncedWith103) {
    const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"Stage"}]}})";
    FileTransfer t;
    const auto end = ask(t, kGroupWriteEnd, md5Of(alias));
    EXPECT_EQ(end[0], kRefused);  // no transfer yet
    ASSERT_EQ(status(t, kGroupWriteStart, kindStart(kAlias, uint32_t(alias.size()))), kOk);
    ASSERT_EQ(ask(t, kGroupWriteBlock, cat({le32(0), bytes(alias)})), cat({{kOk}, le32(uint32_t(alias.size()))}));
    const auto done = ask(t, kGroupWriteEnd, md5Of(alias));
    EXPECT_EQ(done, cat({{kOk}, md5Of(alias)}));
    EXPECT_EQ(testkit::readFile("/data/configs/alias.json"), alias);
    EXPECT_EQ(codes, std::vector<int>{103});
    EXPECT_EQ(partFiles("/data/configs"), 0);

    std::string back;
    std::vector<uint8_t> digest;
    ASSERT_TRUE(readBack(t, kGroupReadStart, {kAlias, 0}, &back, &digest));
    EXPECT_EQ(back, alias);
    EXPECT_EQ(digest, md5Of(alias));
}

TEST_F(FileTransferTest, BadDigestShortTransferAndStrayBlocksLeaveTheOldFile) {
    testkit::writeFile("/data/configs/omenu.json", "old");
    const std::string menu = pattern(5000);
    FileTransfer t;
    std::vector<uint8_t> wrong = md5Of(menu);
    wrong[0] ^= 1;
    EXPECT_EQ(send(t, kindStart(kMenu, 5000), menu, wrong), kDigestMismatch);
    EXPECT_EQ(testkit::readFile("/data/configs/omenu.json"), "old");
    EXPECT_EQ(partFiles("/data/configs"), 0);

    // Ended before every byte arrived.
    ASSERT_EQ(status(t, kGroupWriteStart, kindStart(kMenu, 5000)), kOk);
    ASSERT_EQ(status(t, kGroupWriteBlock, cat({le32(0), bytes(menu.substr(0, 100))})), kOk);
    EXPECT_EQ(status(t, kGroupWriteEnd, md5Of(menu.substr(0, 100))), kRefused);
    EXPECT_EQ(partFiles("/data/configs"), 0);

    // A block at the wrong offset or past the announced size is refused; the transfer
    // goes on from where it was.
    ASSERT_EQ(status(t, kGroupWriteStart, kindStart(kMenu, 10)), kOk);
    EXPECT_EQ(status(t, kGroupWriteBlock, cat({le32(4), bytes("abcd")})), kRefused);
    EXPECT_EQ(status(t, kGroupWriteBlock, cat({le32(0), bytes("0123456789X")})), kRefused);
    EXPECT_EQ(status(t, kGroupWriteBlock, cat({le32(0), bytes("0123456789")})), kOk);
    EXPECT_EQ(status(t, kGroupWriteEnd, md5Of("0123456789")), kOk);
    EXPECT_EQ(testkit::readFile("/data/configs/omenu.json"), "0123456789");
    EXPECT_TRUE(codes.empty());  // only the alias file raises 103
}

TEST_F(FileTransferTest, NamesNeverLeaveTheirFolder) {
    FileTransfer t;
    for (const std::string& name : {std::string("../x"), std::string(".."), std::string("a/b"), std::string(".abc"),
                                    std::string("a b"), std::string("\0abc", 4), std::string("ab\0c", 4)}) {
        const std::vector<uint8_t> start = definedStart("KVFR", name, 4);
        EXPECT_EQ(status(t, kGroupWriteDefinedStart, start), kRefused) << name;
        EXPECT_EQ(status(t, kGroupReadDefinedStart, std::vector<uint8_t>(start.begin(), start.begin() + 8)), kRefused)
            << name;
        EXPECT_EQ(status(t, kGroupDelete, std::vector<uint8_t>(start.begin(), start.begin() + 8)), kRefused) << name;
    }
    EXPECT_EQ(status(t, kGroupWriteDefinedStart, definedStart("KVFZ", "abcd", 4)), kRefused);
    EXPECT_EQ(status(t, kGroupWriteDefinedStart, definedStart("KVFX", "****", 4)), kRefused);
    EXPECT_EQ(status(t, kGroupWriteStart, kindStart(kModeMenu, 4, 0)), kRefused);
    EXPECT_EQ(status(t, kGroupWriteStart, kindStart(kModeMenu, 4, 17)), kRefused);
    EXPECT_EQ(status(t, kGroupWriteStart, kindStart(9, 4)), kRefused);
    EXPECT_EQ(status(t, kGroupWriteStart, kindStart(kScreenshot, 4)), kRefused);  // read only
    EXPECT_EQ(status(t, kGroupReadStart, {kKernel, 0}), kRefused);                // write only
    EXPECT_EQ(status(t, kGroupWriteStart, kindStart(kBootLogo, 0x60001)), kRefused);  // larger than its partition
    EXPECT_EQ(status(t, kGroupWriteStart, {kAlias, 0, 1}), kBadRequest);
    // Nothing was created outside the two receiving-card folders.
    EXPECT_FALSE(testkit::exists("/data/x"));
    EXPECT_FALSE(testkit::exists("/x"));

    // Good names: the recovery file and a mapping file; the mode menu copy of mode 10.
    EXPECT_EQ(send(t, definedStart("KVFX", "KVFX", 3), "rcv", md5Of("rcv")), kOk);
    EXPECT_EQ(testkit::readFile("/data/rcvrecovery/KVFX"), "rcv");
    EXPECT_EQ(send(t, definedStart("KVFR", "m_1", 3), "map", md5Of("map")), kOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/m_1"), "map");
    EXPECT_EQ(send(t, kindStart(kModeMenu, 2, 10), "{}", md5Of("{}")), kOk);
    EXPECT_EQ(testkit::readFile("/data/modes/MO0a.json"), "{}");
}

TEST_F(FileTransferTest, TwoLinksInterleavedKeepTheirOwnDigest) {
    const std::string a = pattern(3000), b = std::string(2500, 'b');
    FileTransfer ta, tb;
    ASSERT_EQ(status(ta, kGroupWriteDefinedStart, definedStart("KVFR", "aaaa", 3000)), kOk);
    ASSERT_EQ(status(tb, kGroupWriteDefinedStart, definedStart("KVFR", "bbbb", 2500)), kOk);
    for (uint32_t off = 0; off < 3000; off += 500) {
        ASSERT_EQ(status(ta, kGroupWriteBlock, cat({le32(off), bytes(a.substr(off, 500))})), kOk);
        if (off < 2500) {
            ASSERT_EQ(status(tb, kGroupWriteBlock, cat({le32(off), bytes(b.substr(off, 500))})), kOk);
        }
    }
    EXPECT_EQ(status(tb, kGroupWriteEnd, md5Of(b)), kOk);
    EXPECT_EQ(status(ta, kGroupWriteEnd, md5Of(a)), kOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/aaaa"), a);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/bbbb"), b);
}

TEST_F(FileTransferTest, ClosedLinkRemovesItsPartialFile) {
    {
        FileTransfer t;
        ASSERT_EQ(status(t, kGroupWriteDefinedStart, definedStart("KVFR", "half", 100)), kOk);
        ASSERT_EQ(status(t, kGroupWriteBlock, cat({le32(0), bytes("12345")})), kOk);
        EXPECT_EQ(partFiles("/data/smartmapping"), 1);
    }
    EXPECT_EQ(partFiles("/data/smartmapping"), 0);
    EXPECT_FALSE(testkit::exists("/data/smartmapping/half"));
}

TEST_F(FileTransferTest, KernelGoesToItsPartitionAndAFailedEraseWritesNothing) {
    plat::sim::SimBoard& board = plat::sim::board();
    const std::string kernel = pattern(300000);
    FileTransfer t;
    ASSERT_EQ(send(t, kindStart(kKernel, uint32_t(kernel.size())), kernel, md5Of(kernel), kMaxBlock), kOk);
    const auto flash = board.mtdRead(10, 0, kernel.size());
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), kernel.begin(), [](uint8_t f, char k) { return f == uint8_t(k); }));
    EXPECT_EQ(partFiles("/data/kavelkv"), 0);

    const std::string logo = pattern(0x30000);
    board.failMtdEraseAtBlock(8, 1);
    EXPECT_EQ(send(t, kindStart(kBootLogo, uint32_t(logo.size())), logo, md5Of(logo), kMaxBlock), kFailed);
    for (const std::string& line : board.mtdLog(8)) EXPECT_NE(line.rfind("write", 0), 0u) << line;
    EXPECT_EQ(partFiles("/data/kavelkv"), 0);
}

// A partition's erase and program hold the store's own lock, not the file mutex: the menu file
// (which the scaler's pass reads) is read while a kernel store waits for its erase.
TEST_F(FileTransferTest, MenuFileIsReadWhileAKernelStoreErasesItsPartition) {
    struct SlowErase : plat::Sys {
        std::unique_ptr<plat::Sys> sim = plat::sim::makeSys();
        std::atomic<bool> erasing{false}, release{false};
        int ioctl(int fd, unsigned long request, void* arg) override {
            if (request == MEMERASE) {
                erasing = true;
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!release && std::chrono::steady_clock::now() < end) std::this_thread::yield();
            }
            return sim->ioctl(fd, request, arg);
        }
        int open(const std::string& p, int f, int m) override { return sim->open(p, f, m); }
        int close(int fd) override { return sim->close(fd); }
        ssize_t read(int fd, void* b, size_t n) override { return sim->read(fd, b, n); }
        ssize_t write(int fd, const void* b, size_t n) override { return sim->write(fd, b, n); }
        ssize_t pread(int fd, void* b, size_t n, off_t o) override { return sim->pread(fd, b, n, o); }
        ssize_t pwrite(int fd, const void* b, size_t n, off_t o) override { return sim->pwrite(fd, b, n, o); }
        off_t lseek(int fd, off_t o, int w) override { return sim->lseek(fd, o, w); }
        void* mmap(void* a, size_t l, int p, int f, int fd, off_t o) override { return sim->mmap(a, l, p, f, fd, o); }
        int munmap(void* a, size_t l) override { return sim->munmap(a, l); }
        int socket(int d, int t, int p) override { return sim->socket(d, t, p); }
        int bind(int fd, const struct sockaddr* a, socklen_t l) override { return sim->bind(fd, a, l); }
        ssize_t recv(int fd, void* b, size_t n, int f) override { return sim->recv(fd, b, n, f); }
    };
    auto owned = std::make_unique<SlowErase>();
    SlowErase* sys = owned.get();
    plat::installSys(std::move(owned));
    testkit::writeFile("/data/configs/omenu.json", "{\"name\":\"m\",\"osdcount\":0,\"oactcount\":0}");
    const std::string kernel = pattern(70000);
    uint8_t stored = 0;
    std::thread pc([&] {
        FileTransfer t;
        stored = send(t, kindStart(kKernel, uint32_t(kernel.size())), kernel, md5Of(kernel), kMaxBlock);
    });
    while (!sys->erasing) std::this_thread::yield();
    std::atomic<bool> read{false};
    std::thread pass([&] {
        boost::property_tree::ptree menu;
        read = jsonfile::read("/data/configs/omenu.json", &menu, false) == jsonfile::Read::Ok;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!read && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    EXPECT_TRUE(read.load()) << "the menu file waited for the partition's erase";
    sys->release = true;
    pass.join();
    pc.join();
    EXPECT_EQ(stored, kOk);
}

TEST_F(FileTransferTest, ApplicationSwappedAndRestartedOnlyAfterAGoodDigest) {
    plat::sim::SimShell* shell = plat::sim::simShell();
    ASSERT_NE(shell, nullptr);
    testkit::writeFile("/data/app/vlxH71N", "old program");
    testkit::writeFile("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/vlxH71N2 -platform linuxfb\nkeep=1\n");
    const std::string image = pattern(200000);
    FileTransfer t;
    std::vector<uint8_t> wrong = md5Of(image);
    wrong[15] ^= 0x80;
    EXPECT_EQ(send(t, kindStart(kApplication, uint32_t(image.size())), image, wrong, kMaxBlock), kDigestMismatch);
    EXPECT_TRUE(shell->commands().empty());
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_EQ(partFiles("/data/app"), 0);

    G_timeTicks = 777;
    EXPECT_EQ(send(t, kindStart(kApplication, uint32_t(image.size())), image, md5Of(image), kMaxBlock), kOk);
    const auto cmds = shell->commands();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "chmod 777 -R /data/app");
    EXPECT_EQ(cmds[1], "mv /data/app/vlxH71N2  /data/app/vlxH71N");
    EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), image);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 777u);
    const std::string ini = testkit::readFile("/data/configs/led_load_config.ini");
    EXPECT_NE(ini.find("app_path=/data/app/vlxH71N -platform linuxfb"), std::string::npos) << ini;
    EXPECT_NE(ini.find("app_name=vlxH71N"), std::string::npos) << ini;
    EXPECT_NE(ini.find("keep=1"), std::string::npos) << ini;
}

TEST_F(FileTransferTest, FailedMoveOrPendingRestartIsReportedAndRestartsNothing) {
    plat::sim::simShell()->setResult("mv", plat::sim::kShellFailed);
    FileTransfer t;
    EXPECT_EQ(send(t, kindStart(kApplication, 4), "prog", md5Of("prog")), kFailed);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2")) << "the refused image is not kept";

    // A restart already on its way: nothing is swapped under it, and the PC hears so.
    plat::sim::simShell()->removeHandler("mv");
    plat::sim::simShell()->clearCommands();
    g_app_reset_flag = 1;
    G_reboot_tickTicks = 5;
    EXPECT_EQ(send(t, kindStart(kApplication, 4), "prog", md5Of("prog")), kFailed);
    EXPECT_TRUE(plat::sim::simShell()->commands().empty());
    EXPECT_EQ(G_reboot_tickTicks.load(), 5u);
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2"));
}

TEST_F(FileTransferTest, LoaderPathUnusableRefusesTheSwapRemovesTheImageAndAStaleLockDelaysNothing) {
    ::alarm(60);  // a writer blocked on the pipe ends the test instead of hanging it
    const char* loader = "/data/configs/led_load_config.ini";
    testkit::writeFile("/data/outside.ini", "[other]\nx=1\n");
    // The configuration folder a link out of the root: the loader file could not be written.
    const std::string outside = rootDir() + "-outside";
    fs::create_directories(outside);
    FileTransfer t;
    for (int kind = 0; kind < 3; ++kind) {
        testkit::writeFile("/data/app/vlxH71N", "old program");
        fs::remove_all(plat::path(loader));
        plat::makeDirs("/data/configs");
        if (kind == 0) fs::create_symlink(plat::path("/data/outside.ini"), plat::path(loader));
        if (kind == 1) {
            ASSERT_EQ(::mkfifo(plat::path(loader).c_str(), 0644), 0);
        }
        if (kind == 2) {
            fs::rename(plat::path("/data/configs"), plat::path("/data/configs.real"));
            fs::create_directory_symlink(outside, plat::path("/data/configs"));
        }
        plat::sim::simShell()->clearCommands();
        EXPECT_EQ(send(t, kindStart(kApplication, 4), "prog", md5Of("prog")), kFailed) << kind;
        EXPECT_TRUE(plat::sim::simShell()->commands().empty()) << kind << ": nothing moved";
        EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), "old program") << kind;
        EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2")) << kind << ": the refused image is removed";
        EXPECT_EQ(g_app_reset_flag.load(), 0) << kind;
    }
    EXPECT_EQ(testkit::readFile("/data/outside.ini"), "[other]\nx=1\n");
    EXPECT_TRUE(fs::is_empty(outside));
    fs::remove(plat::path("/data/configs"));
    fs::rename(plat::path("/data/configs.real"), plat::path("/data/configs"));
    fs::remove_all(outside);

    // A lock file left by a power cut, naming a live process (this one).
    fs::remove_all(plat::path(loader));
    testkit::writeFile(loader, "[app-1]\napp_path=old\n");
    testkit::writeFile(std::string(loader) + ".lock", std::to_string(::getpid()) + "\nvlxH71N\nboard\n");
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(send(t, kindStart(kApplication, 4), "prog", md5Of("prog")), kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_NE(testkit::readFile(loader).find("app_path=/data/app/vlxH71N -platform linuxfb"), std::string::npos);
    ::alarm(0);
}

// Refusals the PC must hear as refusals: the program in place stays and nothing restarts.
TEST_F(FileTransferTest, ApplicationSwapThatCannotCompleteAnswersFailedBeforeAnythingMoves) {
    const char* loader = "/data/configs/led_load_config.ini";
    FileTransfer t;
    // A folder where the program belongs: mv would put the new one inside it.
    fs::remove_all(plat::path("/data/app/vlxH71N"));
    plat::makeDirs("/data/app/vlxH71N");
    testkit::writeFile(loader, "[app-1]\napp_path=old\n");
    EXPECT_EQ(send(t, kindStart(kApplication, 4), "prog", md5Of("prog")), kFailed);
    EXPECT_TRUE(plat::sim::simShell()->commands().empty()) << "nothing moved";
    EXPECT_TRUE(fs::is_empty(plat::path("/data/app/vlxH71N")));
    EXPECT_EQ(testkit::readFile(loader), "[app-1]\napp_path=old\n");
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2"));
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    // The loader's start command passes the check but cannot be written (a full partition).
    fs::remove_all(plat::path("/data/app/vlxH71N"));
    testkit::writeFile("/data/app/vlxH71N", "old program");
    ASSERT_EQ(status(t, kGroupWriteStart, kindStart(kApplication, 4)), kOk);
    ASSERT_EQ(status(t, kGroupWriteBlock, cat({le32(0), bytes("prog")})), kOk);
    {
        testkit::FullPartition full;
        EXPECT_EQ(status(t, kGroupWriteEnd, md5Of("prog")), kFailed);
    }
    EXPECT_TRUE(plat::sim::simShell()->commands().empty()) << "nothing moved";
    EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), "old program");
    EXPECT_EQ(testkit::readFile(loader), "[app-1]\napp_path=old\n");
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

TEST_F(FileTransferTest, AliasFileThatIsNotJsonOrHasNoNameListIsRefusedAtItsEndAndTheStoredOneStays) {
    const std::string good = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"Stage"}]}})";
    testkit::writeFile("/data/configs/alias.json", good);
    const std::string junk = pattern(kMaxJsonFile);
    FileTransfer t;
    EXPECT_EQ(send(t, kindStart(kAlias, uint32_t(junk.size())), junk, md5Of(junk), kMaxBlock), kFailed);
    EXPECT_EQ(testkit::readFile("/data/configs/alias.json"), good);
    for (const std::string nameless : {"{}", R"({"namelist":"none"})"}) {
        EXPECT_EQ(send(t, kindStart(kAlias, uint32_t(nameless.size())), nameless, md5Of(nameless), kMaxBlock), kFailed)
            << nameless;
        EXPECT_EQ(testkit::readFile("/data/configs/alias.json"), good);
    }
    EXPECT_TRUE(codes.empty()) << "the screens keep the names they have";
    EXPECT_EQ(partFiles("/data/configs"), 0);
}

TEST_F(FileTransferTest, ScreenshotAndReceivingCardFilesAreReadAndDeleted) {
    g_vlx_file_deal_para.grabScreen = [](std::string* png) {
        *png = "\x89PNG fake";
        return true;
    };
    FileTransfer t;
    std::string back;
    std::vector<uint8_t> digest;
    ASSERT_TRUE(readBack(t, kGroupReadStart, {kScreenshot, 0}, &back, &digest));
    EXPECT_EQ(back, "\x89PNG fake");
    g_vlx_file_deal_para.grabScreen = [](std::string*) { return false; };
    EXPECT_EQ(status(t, kGroupReadStart, {kScreenshot, 0}), kFailed);
    EXPECT_EQ(status(t, kGroupReadBlock, cat({le32(0), {0x10, 0x00}})), kRefused);  // no read open

    testkit::writeFile("/data/smartmapping/m1", "one");
    testkit::writeFile("/data/smartmapping/m2", "two");
    testkit::writeFile("/data/smartmapping/.m3.tmpAbCdEf", "running");
    const std::vector<uint8_t> m1 = {'K', 'V', 'F', 'R', 'm', '1', 0, 0};
    ASSERT_TRUE(readBack(t, kGroupReadDefinedStart, m1, &back, &digest));
    EXPECT_EQ(back, "one");
    EXPECT_EQ(status(t, kGroupDelete, m1), kOk);
    EXPECT_FALSE(testkit::exists("/data/smartmapping/m1"));
    EXPECT_EQ(status(t, kGroupDelete, m1), kRefused);  // gone already
    EXPECT_EQ(status(t, kGroupDelete, {'K', 'V', 'F', 'R', '*', '*', '*', '*'}), kOk);
    EXPECT_FALSE(testkit::exists("/data/smartmapping/m2"));
    EXPECT_TRUE(testkit::exists("/data/smartmapping/.m3.tmpAbCdEf"));  // another link's transfer
    EXPECT_EQ(status(t, kGroupDelete, {'K', 'V', 'F', 'R', '.', '.', '/', 'x'}), kRefused);
}

}  // namespace

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <atomic>
#include <thread>

namespace {

// The default grab, asked from a link's thread while the GUI thread runs its events.
TEST_F(FileTransferTest, ScreenshotIsTakenOnTheGuiThreadAsAPanelSizedPng) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    g_vlx_file_deal_para.grabScreen = saved_.grab;
    QWidget panel;
    panel.setGeometry(0, 0, 800, 480);
    panel.setStyleSheet("background-color: rgb(10, 200, 30);");
    panel.show();
    app.processEvents();

    std::atomic<bool> done{false};
    std::string back;
    std::vector<uint8_t> digest;
    bool ok = false;
    std::thread link([&] {
        FileTransfer t;
        ok = readBack(t, kGroupReadStart, {kScreenshot, 0}, &back, &digest);
        done = true;
    });
    while (!done) app.processEvents(QEventLoop::AllEvents, 5);
    link.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(digest, md5Of(back));
    QImage image;
    ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(back.data()), int(back.size()), "PNG"));
    EXPECT_EQ(image.width(), 800);
    EXPECT_EQ(image.height(), 480);
}

}  // namespace
