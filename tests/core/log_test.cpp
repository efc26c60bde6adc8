#include "core/logMsg.h"

#include <sys/stat.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/global.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "support/testkit.h"

namespace {

const char* const kLog = "/data/kavelkv/log/zufEnglneLog";
constexpr long kLimit = 0xA00000;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class LogTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        g_debugSwitch = 0;  // keep test output quiet unless a test looks at the echo
    }
    void prefill(long bytes) {
        std::ofstream out(plat::path(kLog), std::ios::binary | std::ios::trunc);
        std::string chunk(1 << 16, 'x');
        for (long left = bytes; left > 0; left -= static_cast<long>(chunk.size()))
            out.write(chunk.data(), std::min<long>(left, static_cast<long>(chunk.size())));
    }
    long logSize() {
        struct stat st;
        return ::stat(plat::path(kLog).c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    }
};

const std::regex kEntry(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\]( \[ENGINEASSEMBLY\] \[([A-Z]+ *)\] )?# TESKMSG # (.*)$)");

}  // namespace

TEST_F(LogTest, EntriesCarryStampTagMarkerAndOneLineEach) {
    writeLogMsg(LOG_CRITICAL, "c");
    writeLogMsg(LOG_ERROR, "e");
    writeLogMsg(LOG_WARNING, "w");
    writeLogMsg(LOG_INFO, "i");
    writeLogMsg(LOG_DEBUG, "d");
    writeLogMsg(static_cast<_LogType>(7), "other");

    const std::string text = testkit::readFile(kLog);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto got = lines(text);
    ASSERT_EQ(got.size(), 6u);
    const char* tags[] = {"CRITICAL", "ERROR   ", "WARNING ", "INFO    ", "DEBUG   "};
    const char* msgs[] = {"c", "e", "w", "i", "d"};
    for (int i = 0; i < 5; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(got[i], m, kEntry)) << got[i];
        EXPECT_EQ(m[2].str(), tags[i]);
        EXPECT_EQ(m[3].str(), msgs[i]);
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[5], m, kEntry)) << got[5];
    EXPECT_FALSE(m[1].matched) << "an unknown level has no tag";
    EXPECT_EQ(m[3].str(), "other");
    EXPECT_NE(got[5].find("]# TESKMSG # other"), std::string::npos) << "the marker follows the stamp directly";
}

TEST_F(LogTest, EchoFollowsDebugSwitchAndNeverShowsCritical) {
    struct Row { uint8_t sw; const char* expect; };
    // Echo is the bare message with its line break; levels 0..4 write "0".."4".
    for (const Row& r : {Row{254, "1\n2\n3\n4\n"}, Row{3, "1\n2\n3\n"}, Row{2, "1\n"}, Row{0, ""}}) {
        g_debugSwitch = r.sw;
        testing::internal::CaptureStdout();
        for (int lv = 0; lv <= 4; ++lv) writeLogMsg(static_cast<_LogType>(lv), std::to_string(lv));
        writeLogMsg(static_cast<_LogType>(9), "9");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.expect) << "g_debugSwitch " << int(r.sw);
    }
    // Every entry reached the file whatever the echo did.
    EXPECT_EQ(lines(testkit::readFile(kLog)).size(), 4u * 6u);
}

TEST_F(LogTest, LongMessageIsCutTo511CharactersWithoutLineBreak) {
    writeLogMsg(LOG_ERROR, std::string(600, 'm'));
    const std::string text = testkit::readFile(kLog);
    EXPECT_EQ(text.size(), 511u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.back(), 'm');

    // The cut entry has no line break, so the next one runs on after it.
    writeLogMsg(LOG_INFO, "next");
    const std::string both = testkit::readFile(kLog);
    ASSERT_GT(both.size(), 511u);
    EXPECT_EQ(both[511], '[');
    EXPECT_EQ(lines(both).size(), 1u);

    // A message that just fits keeps its line break.
    std::filesystem::remove(plat::path(kLog));
    writeLogMsg(LOG_INFO, "x");
    const size_t overhead = testkit::readFile(kLog).size() - 2;  // stamp, tag and marker
    std::filesystem::remove(plat::path(kLog));
    writeLogMsg(LOG_INFO, std::string(511 - overhead - 1, 'f'));
    const std::string fit = testkit::readFile(kLog);
    EXPECT_EQ(fit.size(), 511u);
    EXPECT_EQ(fit.back(), '\n');
}

TEST_F(LogTest, EntryReachingTenMiBIsWrittenThenFileStartsOver) {
    prefill(kLimit - 200);
    writeLogMsg(LOG_INFO, "below the limit");
    const long after = logSize();
    EXPECT_GT(after, kLimit - 200);
    EXPECT_LT(after, kLimit) << "the file is kept while below 10 MiB";

    prefill(kLimit - 10);
    writeLogMsg(LOG_INFO, "this one reaches the limit");
    EXPECT_FALSE(testkit::exists(kLog)) << "the file reaching 10 MiB is removed";

    writeLogMsg(LOG_WARNING, "fresh start");
    const auto got = lines(testkit::readFile(kLog));
    ASSERT_EQ(got.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[0], m, kEntry));
    EXPECT_EQ(m[3].str(), "fresh start");
}

TEST_F(LogTest, MissingLogFolderLosesEntryQuietly) {
    std::filesystem::remove_all(plat::path("/data/kavelkv"));
    writeLogMsg(LOG_ERROR, "nowhere to go");
    EXPECT_FALSE(testkit::exists(kLog));
    EXPECT_FALSE(testkit::exists("/data/kavelkv/log"));
}

namespace {

// N threads, M entries each; returns the lines found in the log afterwards.
std::vector<std::string> hammer(int threads, int perThread) {
    std::vector<std::thread> pool;
    std::atomic<int> ready{0};
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t, perThread, threads, &ready] {
            ready.fetch_add(1);
            while (ready.load() < threads) std::this_thread::yield();  // all start together
            for (int j = 0; j < perThread; ++j)
                writeLogMsg(LOG_INFO, "t" + std::to_string(t) + "-" + std::to_string(j) + std::string(100, '.'));
        });
    for (auto& th : pool) th.join();
    return lines(testkit::readFile(kLog));
}

void expectIntactAndDistinct(const std::vector<std::string>& got) {
    std::set<std::string> seen;
    const std::regex body(R"(t\d+-\d+\.{100})");
    for (const auto& l : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, kEntry)) << l;
        ASSERT_TRUE(std::regex_match(m[3].str(), body)) << l;
        EXPECT_TRUE(seen.insert(m[3].str()).second) << "duplicate " << l;
    }
}

}  // namespace

TEST_F(LogTest, ConcurrentWritersProduceEveryLineIntact) {
    constexpr int N = 8, M = 150;
    const auto got = hammer(N, M);
    EXPECT_EQ(got.size(), static_cast<size_t>(N * M));
    expectIntactAndDistinct(got);
}

TEST_F(LogTest, WritersRacingTheSizeLimitDeletionLoseNoLaterEntry) {
    // The first entry fills the file and deletes it; every later entry must land in the
    // new file, not in the one being removed.
    constexpr int N = 8, M = 40;
    for (int round = 0; round < 6; ++round) {
        prefill(kLimit - 1);
        const auto got = hammer(N, M);
        ASSERT_EQ(got.size(), static_cast<size_t>(N * M - 1)) << "round " << round;
        expectIntactAndDistinct(got);
    }
}

TEST_F(LogTest, StampComesFromTheBoardsWallClockThatDateSet) {
    ASSERT_EQ(plat::shell().system("date -s \"2031-02-03 04:05:06\""), 0);
    writeLogMsg(LOG_INFO, "after date");
    const std::string text = testkit::readFile(kLog);
    EXPECT_EQ(text.rfind("[2031-02-03 04:05:", 0), 0u) << text;
}

TEST_F(LogTest, StampStaysTwentyFourHourUnderAnEnglishLocale) {
    // QApplication runs setlocale(LC_ALL, ""); an English locale's %X is "04:45:35 PM".
    // The locale is built into this test's root so the test does not depend on the host.
    const std::string locales = rootDir() + "/locale";
    const std::string build = "localedef -c -i en_US -f UTF-8 " + locales + "/en_US.UTF-8 >/dev/null 2>&1";
    std::filesystem::create_directories(locales);
    if (std::system(build.c_str()) != 0) GTEST_SKIP() << "localedef or the en_US source is missing";
    ::setenv("LOCPATH", locales.c_str(), 1);
    if (!std::setlocale(LC_ALL, "en_US.UTF-8")) GTEST_SKIP() << "en_US.UTF-8 could not be loaded";

    writeLogMsg(LOG_INFO, "after the locale");
    std::setlocale(LC_ALL, "C");
    writeLogMsg(LOG_INFO, "in the C locale");
    const auto entries = lines(testkit::readFile(kLog));
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& e : entries) EXPECT_TRUE(std::regex_match(e, kEntry)) << e;
}

TEST_F(LogTest, LinkInTheLogsPlaceIsReplacedNeverAppendedThrough) {
    testkit::writeFile("/etc/shadow", "root:x:0:\n");
    std::filesystem::create_symlink(plat::path("/etc/shadow"), plat::path(kLog));

    writeLogMsg(LOG_ERROR, "entry");
    EXPECT_EQ(testkit::readFile("/etc/shadow"), "root:x:0:\n");
    EXPECT_FALSE(std::filesystem::is_symlink(plat::path(kLog)));
    const auto entries = lines(testkit::readFile(kLog));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(std::regex_match(entries[0], kEntry));
}

TEST_F(LogTest, PipeInTheLogsPlaceNeverBlocksALogger) {
    ASSERT_EQ(::mkfifo(plat::path(kLog).c_str(), 0644), 0);
    writeLogMsg(LOG_ERROR, "entry");  // returns: the entry is lost, the caller goes on
    EXPECT_TRUE(std::filesystem::is_fifo(plat::path(kLog)));
}

TEST_F(LogTest, LogFolderLinkedOutsideTheRootIsNeverWrittenInto) {
    const std::string outside = rootDir() + "-outside";
    std::filesystem::create_directories(outside);
    std::filesystem::create_symlink(outside + "/elsewhere", outside + "/zufEnglneLog");
    std::filesystem::remove_all(plat::path("/data/kavelkv/log"));
    std::filesystem::create_directory_symlink(outside, plat::path("/data/kavelkv/log"));
    writeLogMsg(LOG_ERROR, "entry");
    EXPECT_FALSE(std::filesystem::exists(outside + "/elsewhere"));
    EXPECT_TRUE(std::filesystem::is_symlink(outside + "/zufEnglneLog"));  // not taken away either
    std::filesystem::remove_all(outside);
}
