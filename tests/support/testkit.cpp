#include "support/testkit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/global.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sys.h"

namespace testkit {

std::string readFile(const std::string& absolute) {
    std::ifstream in(plat::path(absolute), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& absolute, const std::string& content) {
    std::filesystem::path p(plat::path(absolute));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

bool exists(const std::string& absolute) { return std::filesystem::exists(plat::path(absolute)); }

void SimBoardTest::SetUp() {
    char tmpl[] = "/tmp/vlx-test-XXXXXX";
    char* dir = mkdtemp(tmpl);
    ASSERT_NE(dir, nullptr);
    root_ = dir;
    plat::setBoard(plat::Board::Sim);
    plat::setRoot(root_);
    plat::setSleepScale(0);
    plat::resetShell();
    plat::resetSys();
    for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log", "/data/app", "/etc", "/mnt"})
        plat::makeDirs(d);
    G_timeTicks = 0;
}

void SimBoardTest::TearDown() {
    plat::resetShell();
    plat::resetSys();
    if (!std::getenv("VLX_KEEP_TEST_ROOT") && !root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

}  // namespace testkit
