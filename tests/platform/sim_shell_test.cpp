// The simulated board's shell runner: never the host, only the root.
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sim/sim_shell.h"
#include "support/testkit.h"

namespace fs = std::filesystem;
using plat::sim::kShellFailed;
using plat::sim::kShellNotFound;
using plat::sim::kShellOk;

namespace {

class SimShellTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        sh = plat::sim::simShell();
        ASSERT_NE(sh, nullptr);
        sh->setRebootHook([this] { ++hookCalls; });
        char tmpl[] = "/tmp/vlx-host-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        host = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(host, ec);
        testkit::SimBoardTest::TearDown();
    }
    plat::sim::SimShell* sh = nullptr;
    int hookCalls = 0;
    std::string host;  // a folder of this machine, outside the root
};

TEST_F(SimShellTest, HostCommandsAreNeverRunOnTheHost) {
    testkit::writeFile(host + "/keep", "host file");  // same path inside the root
    std::ofstream(host + "/keep") << "host file";
    const std::string marker = host + "/created-by-shell";

    EXPECT_EQ(plat::shell().system("touch " + marker), kShellNotFound);
    EXPECT_EQ(plat::shell().system("/bin/sh -c 'touch " + marker + "'"), kShellNotFound);
    EXPECT_EQ(plat::shell().system("rm -rf " + host), kShellOk);  // acts on <root>/tmp/..., not the host
    EXPECT_EQ(plat::shell().system("ifconfig eth0 1.2.3.4 netmask 255.255.255.0"), kShellOk);
    EXPECT_EQ(plat::shell().system("date -s \"2020-01-01 00:00:00\""), kShellOk);
    EXPECT_EQ(plat::shell().system("kill -9 1"), kShellOk);
    EXPECT_EQ(plat::shell().system("reboot"), kShellOk);

    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(fs::exists(host + "/keep"));
    EXPECT_FALSE(testkit::exists(host + "/keep"));  // the rooted copy was the one removed
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(sh->reboots(), 1);
    EXPECT_EQ(sh->commands().size(), 7u);
}

TEST_F(SimShellTest, EveryCommandIsRecordedInOrderAndInTheLogFile) {
    plat::shell().system("sync");
    plat::shell().system("rm  -rf  /data/modes/custom_mode1");
    plat::shell().system("echo x; reboot");
    std::string out;
    plat::shell().popen("pidof hostapd", &out);
    const std::vector<std::string> expected{"sync", "rm  -rf  /data/modes/custom_mode1", "echo x; reboot",
                                            "pidof hostapd"};
    EXPECT_EQ(sh->commands(), expected);
    EXPECT_EQ(testkit::readFile("/run/shell.log"),
              "sync\nrm  -rf  /data/modes/custom_mode1\necho x; reboot\npidof hostapd\n");
    EXPECT_EQ(hookCalls, 0);
}

TEST_F(SimShellTest, FileCommandsActInsideTheRootWithDoubleBlanks) {
    testkit::writeFile("/data/modes/custom_mode1", "m1");
    testkit::writeFile("/data/modes/MO1", "menu");
    testkit::writeFile("/data/app/vlxH71N2", "new app");
    testkit::writeFile("/data/configs/omenu.json", "{}");

    EXPECT_EQ(plat::shell().system("rm  -rf  /data/modes/custom_mode1"), kShellOk);
    EXPECT_EQ(plat::shell().system("cp  /data/configs/omenu.json  /data/modes/MO2"), kShellOk);
    EXPECT_EQ(plat::shell().system("mv /data/app/vlxH71N2  /data/app/vlxH71N"), kShellOk);
    EXPECT_EQ(plat::shell().system("chmod 777 -R /data/app"), kShellOk);
    EXPECT_EQ(plat::shell().system("mkdir -p /data/smartmapping/a/b"), kShellOk);
    EXPECT_EQ(plat::shell().system("cp /data/modes/MO1 /data/smartmapping"), kShellOk);

    EXPECT_FALSE(testkit::exists("/data/modes/custom_mode1"));
    EXPECT_EQ(testkit::readFile("/data/modes/MO2"), "{}");
    EXPECT_FALSE(testkit::exists("/data/app/vlxH71N2"));
    EXPECT_EQ(testkit::readFile("/data/app/vlxH71N"), "new app");
    struct stat st {};
    ASSERT_EQ(::stat(plat::path("/data/app/vlxH71N").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
    EXPECT_TRUE(fs::is_directory(plat::path("/data/smartmapping/a/b")));
    EXPECT_EQ(testkit::readFile("/data/smartmapping/MO1"), "menu");
}

TEST_F(SimShellTest, FailedFileCommandsReportFailure) {
    EXPECT_EQ(plat::shell().system("rm /data/none"), kShellFailed);
    EXPECT_EQ(plat::shell().system("rm -f /data/none"), kShellOk);
    EXPECT_EQ(plat::shell().system("rm /data/configs"), kShellFailed);  // a folder without -r
    EXPECT_EQ(plat::shell().system("cp /data/none /data/x"), kShellFailed);
    EXPECT_EQ(plat::shell().system("mv /data/none /data/x"), kShellFailed);
    EXPECT_EQ(plat::shell().system("mkdir /data/a/b"), kShellFailed);
    EXPECT_EQ(plat::shell().system("rm -rf /"), kShellFailed);
    EXPECT_TRUE(testkit::exists("/data/configs"));
}

TEST_F(SimShellTest, PathsLeavingTheRootAreRefusedAndNothingIsDone) {
    testkit::writeFile("/data/a", "a");
    std::ofstream(host + "/victim") << "v";
    fs::create_directory_symlink(host, plat::path("/data/out"));  // a link out of the root

    EXPECT_EQ(plat::shell().system("rm -rf /data/../../" + host.substr(1) + "/victim"), kShellFailed);
    EXPECT_EQ(plat::shell().system("cp /data/a data/b"), kShellFailed);  // relative
    EXPECT_EQ(plat::shell().system("cp /data/a /data/out/victim"), kShellFailed);
    EXPECT_EQ(plat::shell().system("mv /data/a /data/out/"), kShellFailed);
    EXPECT_EQ(plat::shell().system("rm -f /data/out/victim"), kShellFailed);
    EXPECT_EQ(plat::shell().system("rm -f /data/a /data/../x"), kShellFailed);

    EXPECT_TRUE(fs::exists(host + "/victim"));
    std::ifstream in(host + "/victim");
    std::string v;
    in >> v;
    EXPECT_EQ(v, "v");
    EXPECT_TRUE(testkit::exists("/data/a"));  // the whole command was refused
}

TEST_F(SimShellTest, InjectionStringsAreRefusedNotInterpreted) {
    testkit::writeFile("/data/a", "a");
    const char* attempts[] = {
        "rm -f /data/x; rm -f /data/a", "ifconfig eth0 1.2.3.4 && rm -f /data/a", "rm -f /data/a | cat",
        "rm -f `echo /data/a`",         "rm -f $(echo /data/a)",                   "rm -f /data/x\nrm -f /data/a",
        "cp /data/a /data/b > /data/c", "rm -f \"$HOME\"",                         "rm -f /data/x &",
    };
    for (const char* cmd : attempts) EXPECT_NE(plat::shell().system(cmd), kShellOk) << cmd;
    EXPECT_TRUE(testkit::exists("/data/a"));
    EXPECT_FALSE(testkit::exists("/data/b"));
    EXPECT_FALSE(testkit::exists("/data/c"));
    EXPECT_EQ(sh->commands().size(), sizeof attempts / sizeof attempts[0]);
}

TEST_F(SimShellTest, QuotedWordsAndHarmlessRedirectionsAreAccepted) {
    testkit::writeFile("/data/odd;name", "x");
    EXPECT_EQ(plat::shell().system("rm -f " + plat::shellQuote("/data/odd;name") + " &>/dev/null"), kShellOk);
    EXPECT_FALSE(testkit::exists("/data/odd;name"));
    EXPECT_EQ(plat::shell().system("sync >/dev/null 2>&1"), kShellOk);
}

TEST_F(SimShellTest, HandlersAnswerStatusQueriesFromBoardState) {
    EXPECT_EQ(plat::shell().system("ifconfig eth0 &>/dev/null"), kShellOk);
    EXPECT_EQ(plat::shell().system("pidof udhcpc"), kShellFailed);
    EXPECT_EQ(plat::shell().system("frobnicate"), kShellNotFound);

    bool linkUp = false;
    sh->addHandler("ifconfig eth0", [&](const std::vector<std::string>&, std::string&) {
        return linkUp ? kShellOk : kShellFailed;
    });
    sh->setResult("pidof hostapd", kShellOk, "812\n");
    EXPECT_EQ(plat::shell().system("ifconfig  eth0 &>/dev/null"), kShellFailed);
    linkUp = true;
    EXPECT_EQ(plat::shell().system("ifconfig eth0 &>/dev/null"), kShellOk);
    EXPECT_EQ(plat::shell().system("ifconfig wlan0 up"), kShellOk);  // the shorter default still applies

    std::string out;
    EXPECT_EQ(plat::shell().popen("pidof hostapd", &out), kShellOk);
    EXPECT_EQ(out, "812\n");
    out.clear();
    EXPECT_EQ(plat::shell().popen("pidof hostapd >/dev/null", &out), kShellOk);
    EXPECT_EQ(out, "");  // the output went to /dev/null
    EXPECT_EQ(plat::shell().system("pidof hostapdx"), kShellFailed);  // whole words only
}

TEST_F(SimShellTest, RebootGoesToTheHookAfterBeingRecorded) {
    std::vector<std::string> seenAtReboot;
    sh->setRebootHook([&] { seenAtReboot = sh->commands(); });
    EXPECT_EQ(plat::shell().system("reboot"), kShellOk);
    EXPECT_EQ(seenAtReboot, std::vector<std::string>{"reboot"});
}

TEST_F(SimShellTest, DefaultRebootEndsTheProcessWithStatus42) {
    plat::sim::SimShell fresh;  // its default hook is the one the program uses
    EXPECT_EXIT(fresh.system("reboot"), ::testing::ExitedWithCode(42), "");
}

TEST_F(SimShellTest, WithoutARootFileCommandsAreRefused) {
    plat::setRoot("");
    EXPECT_EQ(plat::shell().system("rm -rf " + host), kShellFailed);
    EXPECT_EQ(plat::shell().system("mkdir -p " + host + "/made"), kShellFailed);
    plat::setRoot(rootDir());
    EXPECT_TRUE(fs::exists(host));
    EXPECT_FALSE(fs::exists(host + "/made"));
}

// Takes away the override of file permissions this process may have as root, so a
// folder without search permission is as closed to it as to any other user.
void dropPermissionOverride() {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ASSERT_EQ(::syscall(SYS_capget, &head, data), 0);
    for (int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) data[0].effective &= ~(1u << bit);
    ASSERT_EQ(::syscall(SYS_capset, &head, data), 0);
}

// The whole literal, NUL bytes included.
template <size_t N>
std::string withNul(const char (&text)[N]) { return std::string(text, N - 1); }

TEST_F(SimShellTest, NulByteInAPathIsRefusedAndNothingOutsideTheRootGoes) {
    // A root one level down, so that its parent still belongs to this test.
    const std::string outer = rootDir();
    fs::create_directories(outer + "/board/data");
    std::ofstream(outer + "/canary") << "x";
    plat::setRoot(outer + "/board");

    EXPECT_EQ(plat::shell().system(withNul("rm -rf \"/..\0x\"")), kShellFailed);
    EXPECT_EQ(plat::shell().system(withNul("rm -rf /..\0x")), kShellFailed);
    EXPECT_EQ(plat::shell().system(withNul("mkdir -p /data/a\0b")), kShellFailed);
    EXPECT_TRUE(fs::exists(outer + "/canary"));
    EXPECT_TRUE(fs::exists(outer + "/board/data"));
    EXPECT_FALSE(fs::exists(outer + "/board/data/a"));
    plat::setRoot(outer);
}

TEST_F(SimShellTest, ChmodOnAFolderItCannotEnterReportsFailureInsteadOfThrowing) {
    fs::create_directories(plat::path("/data/x/sub/deeper"));
    std::ofstream(plat::path("/data/x/sub/file")) << "x";
    dropPermissionOverride();
    // 644 takes the search bit off the folder before its entries are walked.
    EXPECT_EQ(plat::shell().system("chmod -R 644 /data/x"), kShellFailed);
    EXPECT_EQ(plat::shell().system("chmod -R 755 /data/x"), kShellOk);  // the shell still works
    EXPECT_EQ(fs::status(plat::path("/data/x/sub")).permissions() & fs::perms::all, fs::perms(0755));
}

TEST_F(SimShellTest, CopyOfAFolderIntoItselfIsRefused) {
    fs::create_directories(plat::path("/data/configs"));
    std::ofstream(plat::path("/data/configs/a.ini")) << "x";
    EXPECT_EQ(plat::shell().system("cp -r /data /data/configs"), kShellFailed);
    EXPECT_EQ(plat::shell().system("cp -r /data/configs /data/configs"), kShellFailed);
    EXPECT_EQ(plat::shell().system("cp -r /data/configs/ /data/configs/copy"), kShellFailed);
    EXPECT_FALSE(fs::exists(plat::path("/data/configs/data")));
    EXPECT_FALSE(fs::exists(plat::path("/data/configs/copy")));
    // A copy beside itself is fine.
    EXPECT_EQ(plat::shell().system("cp -r /data/configs /data/configs2"), kShellOk);
    EXPECT_TRUE(fs::exists(plat::path("/data/configs2/a.ini")));
}

}  // namespace
