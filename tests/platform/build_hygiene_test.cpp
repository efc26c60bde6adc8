// The build compiles every source it is given, the rooms keep their floors (the board layer at
// the bottom, the foundation above it, the program's composition on top), and above the board
// layer every lock and wait goes through the checked ones (platform/annotated_mutex.h,
// platform/waits.h, plat::sleepUs, the atomic replace's fsync).
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "support/testkit.h"

namespace fs = std::filesystem;

namespace {

using BuildHygieneTest = testkit::SimBoardTest;

// The folders above the board layer, and above the foundation.
constexpr const char* kAbovePlatform = "core|scaler|fpga|video_io|protocol|ui|app";
constexpr const char* kAboveCore = "scaler|fpga|video_io|protocol|ui|app";

// "file:line: #include ..." for every include in `dir` (all sub-folders) that reaches one of
// `folders` ("a|b|c").
std::vector<std::string> includesOf(const fs::path& dir, const std::string& folders) {
    const std::regex upper("^\\s*#\\s*include\\s*[\"<](" + folders + ")/");
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        std::ifstream in(entry.path());
        std::string line;
        for (int n = 1; std::getline(in, line); ++n)
            if (std::regex_search(line, upper))
                found.push_back(entry.path().string() + ":" + std::to_string(n) + ": " + line);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Sources under `dir` that no target compiles.
std::vector<std::string> uncompiled(const fs::path& dir, const std::set<std::string>& built) {
    std::vector<std::string> out;
    if (!fs::exists(dir)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".cpp" && !built.count(entry.path().string()))
            out.push_back(entry.path().string());
    return out;
}

// The code of a source: comments and what string and character literals hold blanked, lines kept.
std::string codeOnly(const std::string& src) {
    std::string out = src;
    size_t i = 0;
    auto blank = [&](size_t from, size_t to) {
        for (size_t k = from; k < to && k < out.size(); ++k)
            if (out[k] != '\n') out[k] = ' ';
    };
    while (i < src.size()) {
        if (src.compare(i, 2, "//") == 0) {
            const size_t end = std::min(src.find('\n', i), src.size());
            blank(i, end);
            i = end;
        } else if (src.compare(i, 2, "/*") == 0) {
            const size_t end = std::min(src.find("*/", i + 2), src.size() - 2) + 2;
            blank(i, end);
            i = end;
        } else if (src.compare(i, 2, "R\"") == 0 && (i == 0 || !std::isalnum(static_cast<unsigned char>(src[i - 1])))) {
            const size_t open = src.find('(', i);
            const std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
            const size_t end = std::min(src.find(close, open), src.size()) + close.size();
            blank(i + 1, end - 1);   // the quotes stay: f("") is no call without arguments
            i = end;
        } else if (src[i] == '"' || (src[i] == '\'' && (i == 0 || !std::isxdigit(static_cast<unsigned char>(src[i - 1]))))) {
            size_t k = i + 1;
            while (k < src.size() && src[k] != src[i] && src[k] != '\n') k += src[k] == '\\' ? 2 : 1;
            blank(i + 1, k);
            i = k + 1;
        } else {
            ++i;
        }
    }
    return out;
}

// "file:line: what: code" for every raw sleep, fsync, mutex, condition wait, join or blocking
// queued call in the sources of `dirs` under `root`.
std::vector<std::string> rawWaits(const fs::path& root, const std::vector<std::string>& dirs) {
    // Each pattern runs only on a line holding one of its words: std::regex is slow (minutes
    // over the tree under an emulated ARM), plain searches are not.
    struct Raw {
        const char* what;
        std::vector<std::string> words;
        std::regex re;   // std::regex: no look-behind
    };
    static const Raw kRaw[] = {
        {"a raw sleep", {"sleep"},
         std::regex(R"((^|[^\w.>:])(::)?(usleep|msleep|sleep|nanosleep|clock_nanosleep)\s*\(|\bsleep_(for|until)\b|\bQThread::u?m?sleep\b)")},
        {"a raw fsync", {"sync"}, std::regex(R"((^|[^\w.>:])(::)?(fsync|fdatasync|syncfs|sync_file_range|sync)\s*\()")},
        {"a raw mutex", {"mutex", "Mutex", "ReadWriteLock", "Locker", "pthread_"},
         std::regex(R"(\bstd::(recursive_|timed_|recursive_timed_|shared_|shared_timed_)?mutex\b|\bQ(Basic|Recursive)?Mutex(Locker)?\b|\bQReadWriteLock\b|\bQ(Read|Write)Locker\b|\bpthread_(mutex|rwlock|spin)_\w+)")},
        {"a raw condition wait",
         {"condition_variable", "QWaitCondition", "pthread_cond", "future", "promise", "packaged_task", "async", "latch",
          "barrier", "semaphore", "QSemaphore", "sem_", "QFuture", "QtConcurrent"},
         std::regex(R"(\bcondition_variable(_any)?\b|\bQWaitCondition\b|\bpthread_cond_\w+|\bstd::(future|shared_future|promise|packaged_task|async|latch|barrier|counting_semaphore|binary_semaphore)\b|\bQSemaphore\b|\bsem_(timed)?wait\b|\bQFuture\w*|\bQtConcurrent\b)")},
        // a wait with one argument or none (a thread's, a future's, a process's: its own or an
        // object's, for ever or up to a deadline), unless that argument is a lock: the checked
        // condition wait takes its mutex
        {"a raw join", {"join", "wait"},
         std::regex(R"([.>]join\s*\(\s*\)|\bpthread_(timed)?join(_np)?\b|(^|[^\w:])wait\s*\((?![^,;)]*([mM]utex|\b[lL]ock|_lock|Lock)|\s*[&*]?\s*[ml]\s*\))[^,;]*\)|\bQThread::wait\b)")},
        {"a raw wait for a process or socket", {"waitFor", "execute"},
         std::regex(R"(\bwaitFor(Finished|Started|ReadyRead|BytesWritten|Connected|Disconnected|NewConnection)\b|\bQProcess::execute\b)")},
        {"a raw event loop", {"exec", "WaitForMoreEvents"}, std::regex(R"(\bexec\s*\(|\bWaitForMoreEvents\b)")},
        {"a raw Boost lock or wait", {"boost", "interprocess_", "named_"},
         std::regex(R"(\bboost::(interprocess|this_thread|fibers)\b|\bboost::(\w+::)*\w*(mutex|condition\w*|semaphore|barrier|latch|lock\w*)\b|\b(interprocess|named)_\w*(mutex|condition\w*|semaphore)\b)")},
        // a connection type made from a number may be the blocking one (3)
        {"a blocking queued call", {"BlockingQueuedConnection", "ConnectionType"},
         std::regex(R"(\bBlockingQueuedConnection\b|\bConnectionType\s*[>)]?\s*[({]?\s*[-+0-9])")},
    };
    static const std::regex kInclude(R"(^\s*#\s*include\b)");
    const auto holdsAWordOf = [](const std::string& line, const Raw& raw) {
        for (const std::string& w : raw.words)
            if (line.find(w) != std::string::npos) return true;
        return false;
    };
    std::vector<std::string> found;
    for (const std::string& dir : dirs)
        for (const auto& entry : fs::recursive_directory_iterator(root / dir)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
            std::ifstream in(entry.path());
            std::istringstream code(codeOnly(std::string(std::istreambuf_iterator<char>(in), {})));
            std::string line;
            for (int n = 1; std::getline(code, line); ++n) {
                if (line.find('#') != std::string::npos && std::regex_search(line, kInclude)) continue;
                for (const Raw& raw : kRaw)
                    if (holdsAWordOf(line, raw) && std::regex_search(line, raw.re))
                        found.push_back(fs::relative(entry.path(), root).string() + ":" + std::to_string(n) + ": " + raw.what +
                                        ": " + line);
            }
        }
    std::sort(found.begin(), found.end());
    return found;
}

// The controller above the board layer (platform/, the simulated board with it, may use the
// raw primitives: it is where the checked ones are made).
const std::vector<std::string> kAboveTheBoard = {"core", "scaler", "fpga", "video_io", "protocol", "ui", "app"};

TEST_F(BuildHygieneTest, AboveTheBoardLayerNoLockOrWaitIsWrittenRaw) {
    EXPECT_EQ(rawWaits(VLX_SOURCE_DIR, kAboveTheBoard), std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, RawLocksAndWaitsAreFoundAndTheCheckedOnesAndTextAreNot) {
    fs::create_directories(fs::path(rootDir()) / "core" / "deep");
    std::ofstream(fs::path(rootDir()) / "core" / "deep" / "x.cpp") << R"src(// usleep(5); std::mutex in a comment
#include <QMutexLocker>
const char* s = "fsync(fd) sleep(1) \" std::mutex"; char c = '"'; auto r = R"x(t.join() ::sync())x";
plat::Mutex ok{plat::Lock::Spi}; plat::sleepUs(5); settings.sync(); c331_manage::Sleep(1);
plat::CondVar cv; plat::joinThread(t); list.join(","); plat::Handed<int> h; int n = 1'000; cv.wait(m, done);
plat::runEventLoop(*screen); pacer.waitForWake(); h.waitFor(slice); boost::property_tree::ptree tree; execv(p, a);
connect(a, &A::s, b, &B::f, Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection)); int wait = 0;
done_.wait(mutex_); turn_.wait(l, [&] { return ready(a, b); }); PassHoldReleased wait(pass_holds_mutex_); wait1_povs(fd, 0); waitJob(); r->waitFor(t);
/* pthread_mutex_lock(&m);
   std::condition_variable c; */ plat::QtMutex q{plat::Lock::Settings};
::usleep(100);
QThread::msleep(5);
std::this_thread::sleep_for(d);
if (fsync(fd) != 0) return;
::sync();
static std::recursive_mutex m;
QMutexLocker l(&q);
pthread_mutex_trylock(&m);
std::condition_variable_any cv;
std::future<int> f = p.get_future();
t.join();
QMetaObject::invokeMethod(o, f, Qt::BlockingQueuedConnection);
worker->wait();
thread.wait(100);
proc.waitForFinished(-1);
socket->waitForReadyRead();
loop.exec();
screen->exec();
QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
boost::interprocess::scoped_lock<boost::interprocess::interprocess_mutex> l(m);
named_mutex m(open_or_create, "x");
QMetaObject::invokeMethod(o, f, static_cast<Qt::ConnectionType>(3));
connect(a, &A::s, b, &B::f, Qt::ConnectionType(3));
QThread::wait(500);
wait();
if (!wait(2000)) terminate();
worker_->wait(deadline);
msleep(20);
)src";
    std::vector<int> lines;
    for (const std::string& f : rawWaits(rootDir(), {"core"})) lines.push_back(std::stoi(f.substr(f.find(':') + 1)));
    std::sort(lines.begin(), lines.end());
    std::vector<int> wanted;
    for (int n = 11; n <= 38; ++n) wanted.push_back(n);
    EXPECT_EQ(lines, wanted);
}

TEST_F(BuildHygieneTest, PlatformIncludesNothingFromTheLayersAboveIt) {
    EXPECT_EQ(includesOf(fs::path(VLX_SOURCE_DIR) / "platform", kAbovePlatform), std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, CoreIncludesNothingFromTheLayersAboveIt) {
    EXPECT_EQ(includesOf(fs::path(VLX_SOURCE_DIR) / "core", kAboveCore), std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, NoRoomBelowTheCompositionIncludesIt) {
    std::vector<std::string> found;
    for (const char* dir : {"platform", "core", "scaler", "fpga", "protocol", "video_io", "ui"}) {
        const auto f = includesOf(fs::path(VLX_SOURCE_DIR) / dir, "app");
        found.insert(found.end(), f.begin(), f.end());
    }
    EXPECT_EQ(found, std::vector<std::string>{});
}

TEST_F(BuildHygieneTest, UpperLayerIncludeInADeepPlatformFolderIsFound) {
    const fs::path models = fs::path(rootDir()) / "platform" / "sim" / "models";
    fs::create_directories(models);
    std::ofstream(models / "flash.cpp") << "#include \"platform/sys.h\"\n  #  include <ui/shell/tip.h>\n";
    std::ofstream(fs::path(rootDir()) / "platform" / "ok.h") << "#include \"platform/platform.h\"\n// core/x.h\n";
    const auto found = includesOf(fs::path(rootDir()) / "platform", kAbovePlatform);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("flash.cpp:2:"), std::string::npos);
}

TEST_F(BuildHygieneTest, EverySourceInEverySubFolderIsCompiled) {
    std::ifstream list(VLX_BUILT_SOURCES_FILE);
    ASSERT_TRUE(list.good());
    std::set<std::string> built;
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) built.insert(fs::path(line).lexically_normal().string());
    // this file itself sits one folder down in tests/, the board-control tests two
    // (named from the source folder: a compiler cache with a base folder makes __FILE__ relative)
    ASSERT_TRUE(built.count((fs::path(VLX_SOURCE_DIR) / "tests/platform/build_hygiene_test.cpp").lexically_normal().string()));
    std::vector<std::string> missing;
    for (const char* dir : {"platform", "core", "scaler", "fpga", "protocol", "video_io", "ui", "app", "tests"}) {
        const auto m = uncompiled(fs::path(VLX_SOURCE_DIR) / dir, built);
        missing.insert(missing.end(), m.begin(), m.end());
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
}

}  // namespace
