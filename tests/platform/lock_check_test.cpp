// The lock table checked while the tests run: a nesting against the table's order or one it
// does not list, a wait under a lock the table does not allow there and an unlock by a
// thread that does not hold the lock are caught; what the table allows passes; and the
// document's table is the one the list makes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/annotated_mutex.h"
#include "platform/lock_check.h"
#include "platform/platform.h"
#include "platform/waits.h"

namespace {

std::vector<std::string> g_failures;
// A recursive lock's second hold, which clang's analysis refuses to see in one scope.
void takeAgain(plat::RecursiveMutex& m) NO_THREAD_SAFETY_ANALYSIS { plat::Locker<plat::RecursiveMutex> again(m); }
void record(const std::string& report) { g_failures.push_back(report); }

class LockCheck : public ::testing::Test {
protected:
    void SetUp() override {
        g_failures.clear();
        previous_ = plat::lockcheck::setFailureHook(&record);
    }
    void TearDown() override { plat::lockcheck::setFailureHook(previous_); }
    plat::lockcheck::FailureHook previous_ = nullptr;
};

TEST_F(LockCheck, NestingAgainstOrUnlistedInTheTableFailsWithBothNames) {
    plat::Mutex manage{plat::Lock::Manage}, spi{plat::Lock::Spi}, schedule{plat::Lock::Schedule},
        mailbox{plat::Lock::MailboxRam};
    {
        plat::Locker<plat::Mutex> outer(manage);
        plat::Locker<plat::Mutex> inner(spi);   // the pass's chip writes: in the table
    }
    EXPECT_TRUE(g_failures.empty());
    {
        // two other objects of the same locks: the table goes by the lock, and ThreadSanitizer,
        // which goes by the object, sees no cycle to report
        plat::Mutex spi2{plat::Lock::Spi}, manage2{plat::Lock::Manage};
        plat::Locker<plat::Mutex> outer(spi2);
        plat::Locker<plat::Mutex> inner(manage2);
    }
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("c331_manage::manage_mutex taken while holding Utils::_spi_mutex"), std::string::npos);
    EXPECT_NE(g_failures[0].find("against the lock table's order"), std::string::npos);
    {
        plat::Locker<plat::Mutex> outer(schedule);
        plat::Locker<plat::Mutex> inner(mailbox);
    }
    ASSERT_EQ(g_failures.size(), 2u);
    EXPECT_NE(g_failures[1].find("does not list"), std::string::npos);
}

TEST_F(LockCheck, NestingThroughALockBetweenFollowsTheOrder) {
    // manage_mutex -> bank select -> SPI: the SPI lock may be taken under manage_mutex with
    // the bank select released in between, and a recursive lock taken again is no nesting.
    plat::Mutex manage{plat::Lock::Manage}, spi{plat::Lock::Spi};
    plat::RecursiveMutex flash{plat::Lock::C331Flash};
    plat::Locker<plat::Mutex> outer(manage);
    plat::Locker<plat::Mutex> inner(spi);
    EXPECT_TRUE(g_failures.empty());
    plat::Locker<plat::RecursiveMutex> first(flash);   // not in the table under manage_mutex
    ASSERT_EQ(g_failures.size(), 1u);
    takeAgain(flash);
    EXPECT_EQ(g_failures.size(), 1u);
}

TEST_F(LockCheck, WaitUnderALockFailsUnlessTheTableAllowsIt) {
    plat::Mutex manage{plat::Lock::Manage}, update{plat::Lock::FpgaUpdate};
    {
        plat::Locker<plat::Mutex> hold(update);   // an FPGA-flash erase: by design, bounded
        plat::sleepUs(1);
        plat::lockcheck::waitPoint(plat::Wait::FlashWait);
    }
    plat::sleepUs(1);
    EXPECT_TRUE(g_failures.empty());
    {
        plat::Locker<plat::Mutex> hold(manage);
        plat::sleepUs(1);
    }
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("a sleep while holding c331_manage::manage_mutex"), std::string::npos);
    plat::lockcheck::waitPoint(plat::Wait::Shell);   // released: nothing held
    EXPECT_EQ(g_failures.size(), 1u);
}

TEST_F(LockCheck, AConditionWaitLetsItsOwnMutexGoAndIsAHandOverUnderTheOthers) {
    plat::RecursiveMutex port{plat::Lock::FpgaPort};
    plat::Mutex schedule{plat::Lock::Schedule};
    plat::CondVar cv;
    const auto ready = [] { return true; };
    {
        plat::Locker<plat::Mutex> hold(schedule);
        cv.wait(schedule, ready);
    }
    EXPECT_TRUE(g_failures.empty());
    {
        plat::Locker<plat::RecursiveMutex> outer(port);   // a sleep is allowed under it, a hand-over not
        plat::Locker<plat::Mutex> hold(schedule);
        cv.wait(schedule, ready);
    }
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("a blocking hand-over while holding fpga_manage::port_mutex"), std::string::npos);
}

// A modal screen's loop serves the panel until it closes: no lock may be held across one.
TEST_F(LockCheck, AnEventLoopUnderAnyLockFails) {
    struct Loop {
        int runs = 0;
        int exec() { return ++runs; }
    } loop;
    EXPECT_EQ(plat::runEventLoop(loop), 1);
    EXPECT_TRUE(g_failures.empty());
    plat::Mutex manage{plat::Lock::Manage};
    {
        plat::Locker<plat::Mutex> hold(manage);
        plat::runEventLoop(loop);
    }
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("an event loop while holding c331_manage::manage_mutex"), std::string::npos);
}

TEST_F(LockCheck, AnUnlockByAThreadThatDoesNotHoldTheLockIsRefused) {
    plat::Mutex manage{plat::Lock::Manage};
    manage.lock();
    std::thread([&] { manage.unlock(); }).join();   // another thread's lock
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("c331_manage::manage_mutex let go by a thread that does not hold it"), std::string::npos);
    bool stillHeld = false;
    std::thread([&] { stillHeld = !manage.try_lock(); }).join();
    EXPECT_TRUE(stillHeld) << "a refused unlock let the lock go";
    manage.unlock();
    EXPECT_EQ(g_failures.size(), 1u);
    manage.unlock();   // a hold let go and never taken back
    EXPECT_EQ(g_failures.size(), 2u);
}

}  // namespace

namespace {

TEST(LockTable, TheDocumentsTableIsTheOneMadeFromTheList) {
    std::ifstream in(std::string(VLX_SOURCE_DIR) + "/docs/architecture.md");
    ASSERT_TRUE(in.good());
    std::string table;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("| Lock |", 0) == 0) table = "\n";
        if (table.empty()) continue;
        if (line.rfind("|", 0) != 0) break;
        table += line + "\n";
    }
    EXPECT_EQ(table, "\n" + plat::lockcheck::markdownTable())
        << "docs/architecture.md's lock table differs from the list (platform/lock_table.cpp); the list makes:\n"
        << plat::lockcheck::markdownTable();
}

}  // namespace
