#include "core/utils.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/shell.h"
#include "support/testkit.h"

namespace {

const unsigned char* bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// Bit-at-a-time reference of the frames' CRC-32: reflected 0xEDB88320, start 0, no final inversion.
uint32_t crc32Bitwise(const unsigned char* p, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
    }
    return crc;
}

// Shell double: records commands, answers with a scripted status, notices overlapping calls.
struct FakeShell : plat::Shell {
    struct State {
        std::mutex m;
        std::vector<std::string> commands;
        int status = 0;
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
        std::function<void(const std::string&)> action;
    };
    explicit FakeShell(std::shared_ptr<State> s) : st(std::move(s)) {}
    int system(const std::string& c) override {
        if (st->inside.fetch_add(1) != 0) st->overlapped = true;
        for (int i = 0; i < 50; ++i) std::this_thread::yield();  // widen the window for a second caller
        {
            std::lock_guard<std::mutex> l(st->m);
            st->commands.push_back(c);
        }
        if (st->action) st->action(c);
        st->inside.fetch_sub(1);
        return st->status;
    }
    int popen(const std::string& c, std::string*) override { return system(c); }
    std::shared_ptr<State> st;
};

class UtilsShellTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        shell = std::make_shared<FakeShell::State>();
        plat::installShell(std::make_unique<FakeShell>(shell));
    }
    std::shared_ptr<FakeShell::State> shell;
};

}  // namespace

TEST(UtilsChecks, BccIsXorOfAllBytes) {
    const unsigned char a[] = {0x01, 0x02, 0x03};
    const unsigned char b[] = {0xA5, 0x01};
    EXPECT_EQ(Utils::BCC(a, 3), 0x00);
    EXPECT_EQ(Utils::BCC(b, 2), 0xA4);
    EXPECT_EQ(Utils::BCC(b, 0), 0x00);
}

TEST(UtilsChecks, Crc32StartsAtZeroWithoutFinalInversion) {
    EXPECT_EQ(Utils::calcCRC32(bytes("abc"), 3), 0xCA6598D0u);
    EXPECT_EQ(Utils::calcCRC32(bytes("123456789"), 9), 0x2DFD2D88u);
    EXPECT_EQ(Utils::calcCRC32(bytes(""), 0), 0u);
    // Not the zlib value: with start 0 and no inversion, "123456789" is not 0xCBF43926.
    EXPECT_NE(Utils::calcCRC32(bytes("123456789"), 9), 0xCBF43926u);

    std::mt19937 rng(802);
    for (size_t len : {1u, 7u, 64u, 255u, 1000u}) {
        std::vector<unsigned char> d(len);
        for (auto& c : d) c = static_cast<unsigned char>(rng());
        EXPECT_EQ(Utils::calcCRC32(d.data(), static_cast<unsigned>(len)), crc32Bitwise(d.data(), len)) << len;
    }
}

TEST(UtilsChecks, Crc16VariantsMatchTheirCatalogueCheckValues) {
    const unsigned char* check = bytes("123456789");
    EXPECT_EQ(Utils::teskCalcCRC16(check, 9), 0x6F91);   // 0x8408, start 0xFFFF, no xorout
    EXPECT_EQ(Utils::calcCRC16(check, 9), 0xBB3D);       // ARC
    EXPECT_EQ(Utils::zuf1CRC16Code(check, 9), 0x31C3);   // XMODEM
    EXPECT_EQ(Utils::teskCalcCRC16(check, 0), 0xFFFF);
    EXPECT_EQ(Utils::calcCRC16(check, 0), 0);
    EXPECT_EQ(Utils::zuf1CRC16Code(check, 0), 0);
}

TEST(UtilsText, StringToIntReadsHexAfter0xElseDecimalDigits) {
    EXPECT_EQ(Utils::stringToInt("0x1F"), 31);
    EXPECT_EQ(Utils::stringToInt("0xff"), 255);
    EXPECT_EQ(Utils::stringToInt("0x10zz"), 16);
    EXPECT_EQ(Utils::stringToInt("5005"), 5005);
    EXPECT_EQ(Utils::stringToInt(""), 0);
    // Not hex without a digit after "0x"; other characters count as 0 digits.
    EXPECT_EQ(Utils::stringToInt("0x"), 0);
    EXPECT_EQ(Utils::stringToInt("0xg1"), 1);
    EXPECT_EQ(Utils::stringToInt("1a2"), 102);
    EXPECT_EQ(Utils::stringToInt("-5"), 5);
    // Overlong input wraps instead of overflowing (the sanitizer would flag it).
    EXPECT_EQ(Utils::stringToInt("0xFFFFFFFF"), -1);
    (void)Utils::stringToInt(std::string(40, '9'));

    EXPECT_EQ(Utils::intToString(-42), "-42");
    EXPECT_EQ(Utils::intToString(0), "0");
}

TEST(UtilsText, IconvRoundTripsChineseText) {
    const char utf8[] = "\xE4\xB8\xAD\xE6\x96\x87" "A";  // two Chinese characters and 'A'
    const char gb[] = "\xD6\xD0\xCE\xC4" "A";
    const char ucs2[] = {'\x2D', '\x4E', '\x87', '\x65', 'A', '\0'};
    char out[32];

    ASSERT_EQ(Utils::UTF8ToGB2312(utf8, 7, out, sizeof out), 0);
    EXPECT_STREQ(out, gb);
    ASSERT_EQ(Utils::GB2312ToUTF8(gb, 5, out, sizeof out), 0);
    EXPECT_STREQ(out, utf8);

    ASSERT_EQ(Utils::UTF8ToUnicode(utf8, 7, out, sizeof out), 0);
    EXPECT_EQ(std::memcmp(out, ucs2, 6), 0);
    EXPECT_EQ(out[6], 0);
    EXPECT_EQ(out[7], 0);
    ASSERT_EQ(Utils::UnicodeToUTF8(ucs2, 6, out, sizeof out), 0);
    EXPECT_STREQ(out, utf8);

    ASSERT_EQ(Utils::GB2312ToUnicode(gb, 5, out, sizeof out), 0);
    EXPECT_EQ(std::memcmp(out, ucs2, 6), 0);
    ASSERT_EQ(Utils::UnicodeToGB2312(ucs2, 6, out, sizeof out), 0);
    EXPECT_STREQ(out, gb);

    ASSERT_EQ(Utils::ChangeCode("gb2312", "UTF-8", gb, 5, out, sizeof out), 0);
    EXPECT_STREQ(out, utf8);
}

TEST(UtilsText, IconvFailureLeavesNoHalfTextAndNeverOverrunsOutput) {
    const char utf8[] = "\xE4\xB8\xAD\xE6\x96\x87";
    char out[8];
    // Room for one GB2312 character only (two bytes stay for the terminator).
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(Utils::UTF8ToGB2312(utf8, 6, out, 4), -1);
    EXPECT_EQ(std::string(out, 4), std::string(4, '\0'));
    EXPECT_EQ(std::string(out + 4, 4), "ZZZZ");

    EXPECT_EQ(Utils::UTF8ToGB2312("\xFF\xFE", 2, out, sizeof out), -1);  // not UTF-8
    EXPECT_EQ(Utils::ChangeCode("NO-SUCH-SET", "UTF-8", "a", 1, out, sizeof out), -1);
    EXPECT_EQ(Utils::ChangeCode("UTF-8", "GB2312", nullptr, 1, out, sizeof out), -1);

    // Exactly filling the room still leaves the text terminated.
    char exact[6];
    std::memset(exact, 'Z', sizeof exact);
    ASSERT_EQ(Utils::UTF8ToGB2312(utf8, 6, exact, sizeof exact), 0);
    EXPECT_STREQ(exact, "\xD6\xD0\xCE\xC4");
}

TEST_F(UtilsShellTest, FailingCommandReturns255AndStoresRawStatus) {
    shell->status = 256;  // exit code 1
    int status = -7;
    EXPECT_EQ(Utils::system_mutex(QStringLiteral("false"), &status), 255);
    EXPECT_EQ(status, 256);
    EXPECT_EQ(Utils::system_mutex(QStringLiteral("false")), 255);  // no status wanted

    shell->status = 0;
    EXPECT_EQ(Utils::system_mutex(QStringLiteral("true"), &status), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(shell->commands.size(), 3u);
    EXPECT_EQ(shell->commands[0], "false");
}

TEST_F(UtilsShellTest, CommandGoesOutAsLatin1) {
    Utils::system_mutex(QString::fromUtf8("echo caf\xC3\xA9"));
    ASSERT_EQ(shell->commands.size(), 1u);
    EXPECT_EQ(shell->commands[0], "echo caf\xE9");
}

TEST_F(UtilsShellTest, CommandsFromManyThreadsNeverOverlap) {
    std::vector<std::thread> pool;
    for (int t = 0; t < 6; ++t)
        pool.emplace_back([] {
            for (int i = 0; i < 40; ++i) Utils::system_mutex(QStringLiteral("sync"));
        });
    for (auto& th : pool) th.join();
    EXPECT_EQ(shell->commands.size(), 240u);
    EXPECT_FALSE(shell->overlapped);
}

TEST_F(UtilsShellTest, ExistenceChecksLookUnderTheRoot) {
    testkit::writeFile("/data/configs/a.ini", "x");
    EXPECT_EQ(Utils::isFileExists("/data/configs/a.ini", true), 1);
    EXPECT_EQ(Utils::isFileExists("/data/configs", true), 0);
    EXPECT_EQ(Utils::isFileExists("/data/configs", false), 1);
    EXPECT_EQ(Utils::isFileExists("/data/configs/none.ini", false), 0);
    EXPECT_EQ(Utils::isDirExists("/data/configs"), 1);
    EXPECT_EQ(Utils::isDirExists("/data/configs/a.ini"), 0);
    EXPECT_EQ(Utils::isDirExists("/data/nothing"), 0);
    EXPECT_EQ(Utils::isDirExists(rootDir()), 0) << "a host path is not a device path";
}

TEST_F(UtilsShellTest, FileListHasRegularFilesOfTheSuffixAsDevicePaths) {
    testkit::writeFile("/data/rcv/b.rcv", "b");
    testkit::writeFile("/data/rcv/a.rcv", "a");
    testkit::writeFile("/data/rcv/c.rcv.bak", "c");
    testkit::writeFile("/data/rcv/d.RCV", "d");
    testkit::writeFile("/data/rcv/rcv", "e");
    plat::makeDirs("/data/rcv/dir.rcv");
    std::filesystem::create_symlink(plat::path("/data/rcv/a.rcv"), plat::path("/data/rcv/link.rcv"));

    QStringList list{QStringLiteral("stale")};
    Utils::get_file_list_smartpath(list, QStringLiteral("/data/rcv/"), QStringLiteral("rcv"));
    EXPECT_EQ(list, (QStringList{QStringLiteral("/data/rcv/a.rcv"), QStringLiteral("/data/rcv/b.rcv")}));

    Utils::get_file_list_smartpath(list, QStringLiteral("/data/none"), QStringLiteral("rcv"));
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(UtilsShellTest, ChangeFileFormatRunsConversionOnlyForExistingFile) {
    Utils::change_file_formt("/data/configs/missing.txt");
    EXPECT_TRUE(shell->commands.empty());

    testkit::writeFile("/data/configs/card.txt", "x");
    Utils::change_file_formt("/data/configs/card.txt");
    ASSERT_EQ(shell->commands.size(), 4u);
    EXPECT_EQ(shell->commands[0], "dos2unix /data/configs/card.txt");
    EXPECT_EQ(shell->commands[1], "sync");
    EXPECT_EQ(shell->commands[2].rfind("sed -i ", 0), 0u);
    EXPECT_NE(shell->commands[2].find("/data/configs/card.txt"), std::string::npos);
    EXPECT_EQ(shell->commands[3], "sync");
}

TEST_F(UtilsShellTest, ChangeFileFormatQuotesANameWithShellCharacters) {
    const std::string evil = "/data/configs/a b;touch pwned$(id).txt";
    testkit::writeFile(evil, "x");
    Utils::change_file_formt(evil);
    ASSERT_EQ(shell->commands.size(), 4u);
    EXPECT_EQ(shell->commands[0], "dos2unix " + plat::shellQuote(evil));
    const std::string& sed = shell->commands[2];
    EXPECT_EQ(sed.substr(sed.size() - plat::shellQuote(evil).size()), plat::shellQuote(evil));
}

TEST_F(UtilsShellTest, ChangeFileFormatSedStripsByteOrderMarks) {
    // Run only the sed step for real, on the rooted copy of the device path.
    const std::string dev = "/data/configs/bom.txt";
    testkit::writeFile(dev, "\xEF\xBB\xBFline one\n\xEF\xBB\xBFline two\n");
    shell->action = [&](const std::string& c) {
        if (c.rfind("sed ", 0) != 0) return;
        std::string host = c;
        host.replace(host.rfind(dev), dev.size(), plat::path(dev));
        ASSERT_EQ(::system(host.c_str()), 0) << host;
    };
    Utils::change_file_formt(dev);
    EXPECT_EQ(testkit::readFile(dev), "line one\nline two\n");
}
