#include "support/testkit.h"

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocator hooks (GCC ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                          void (*)(const volatile void*));
#define VLX_ALLOCATOR_HOOKS 1
#endif

#include "core/global.h"
#include "core/ram_file_writer.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sys.h"

// The test environment lives here rather than in ctest's ENVIRONMENT property, whose list
// the test discovery cuts to its first entry: a plain `ctest` then sees what ./test.sh sets.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";  // the font library's caches live until exit
}

namespace {
const bool g_testEnvironment = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("VLX_BOARD", "sim", 0);
#ifdef VLX_EMULATED
    ::setenv("VLX_EMULATED", "1", 1);  // tests that cannot run under qemu-arm skip themselves
#endif
    return true;
}();
}  // namespace

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

#ifdef VLX_ALLOCATOR_HOOKS
namespace {
thread_local long long t_allocations = 0;
void countAllocation(const volatile void*, size_t) { ++t_allocations; }
void ignoreFree(const volatile void*) {}
}  // namespace

long long threadAllocations() {
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(countAllocation, ignoreFree) != 0;
    return hooked ? t_allocations : -1;
}
#else
long long threadAllocations() { return -1; }
#endif

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
    RamFileWriter::resetForTest();  // no save of this test lands under the next test's root, nor is owed to it
    plat::resetShell();
    plat::resetSys();
    if (!std::getenv("VLX_KEEP_TEST_ROOT") && !root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

FullPartition::FullPartition() {
    struct rlimit r;
    ::getrlimit(RLIMIT_FSIZE, &r);
    saved_[0] = r.rlim_cur;
    saved_[1] = r.rlim_max;
    handler_ = ::signal(SIGXFSZ, SIG_IGN);
    r.rlim_cur = 0;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &r), 0);
}

FullPartition::~FullPartition() {
    struct rlimit r;
    r.rlim_cur = rlim_t(saved_[0]);
    r.rlim_max = rlim_t(saved_[1]);
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::signal(SIGXFSZ, handler_);
}

FileWriteCounter::FileWriteCounter(const std::string& dir) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
}

FileWriteCounter::~FileWriteCounter() { ::close(fd_); }

int FileWriteCounter::count(const std::string& name) {
    int n = 0;
    alignas(inotify_event) char buf[64 * 1024];
    for (ssize_t len; (len = ::read(fd_, buf, sizeof buf)) > 0;) {
        for (char* p = buf; p < buf + len;) {
            inotify_event ev;
            std::memcpy(&ev, p, sizeof ev);
            if (ev.len && name == p + sizeof ev) ++n;
            p += sizeof ev + ev.len;
        }
    }
    return n;
}

}  // namespace testkit
