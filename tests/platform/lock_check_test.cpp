// The lock table checked while the tests run: a nesting against the table's order or one it
// does not list, and a wait under a lock the table does not allow there, are caught; what
// the table allows passes; and the document's table says the same as the code's.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/annotated_mutex.h"
#include "platform/lock_check.h"
#include "platform/platform.h"

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

TEST_F(LockCheck, APosixMutexIsKnownByItsAddress) {
    static plat::PthreadMutex m = PTHREAD_MUTEX_INITIALIZER;
    plat::lockcheck::nameLock(&m, plat::Lock::VlxRam);
    {
        plat::Locker<plat::PthreadMutex> hold(m);
        plat::lockcheck::waitPoint(plat::Wait::Fsync);
    }
    plat::lockcheck::forgetLock(&m);
    ASSERT_EQ(g_failures.size(), 1u);
    EXPECT_NE(g_failures[0].find("VlxRamPara::vlx_mutex"), std::string::npos);
}

}  // namespace

namespace {

// How docs/architecture.md names each lock in its lock table.
const std::pair<const char*, plat::Lock> kDocNames[] = {
    {"pass turn (", plat::Lock::PassTurn},
    {"`ProtocolEnginesInUse`", plat::Lock::EnginesInUse},
    {"any lock the handler takes", plat::Lock::Any},
    {"`g_app_install_mutex`", plat::Lock::AppInstall},
    {"`netSettingsMutex`", plat::Lock::NetSettings},
    {"partition-store lock", plat::Lock::PartitionStore},
    {"`c331_manage::manage_mutex`", plat::Lock::Manage},
    {"`c331_manage::flash_mutex`", plat::Lock::C331Flash},
    {"`VlxRamPara::vlx_mutex`", plat::Lock::VlxRam},
    {"`VlxRamPara::mode_mutex`", plat::Lock::ModeSlots},
    {"`VlxRamPara::reg_file_mutex_`", plat::Lock::RegFile},
    {"`reg_file_mutex_`", plat::Lock::RegFile},
    {"`kavelsource::passMutex_`", plat::Lock::SourcePass},
    {"`Utils::_source_hdminfo_mutex`", plat::Lock::SourceHdmiInfo},
    {"`Utils::_source_init_mutex`", plat::Lock::SourceInit},
    {"`video_i2c` bus", plat::Lock::VideoI2c},
    {"`fpga_manage::object_mutex`", plat::Lock::FpgaObject},
    {"`fpga_manage::port_mutex`", plat::Lock::FpgaPort},
    {"`port_mutex`", plat::Lock::FpgaPort},
    {"`fpga_manage::image_mutex`", plat::Lock::FpgaImage},
    {"`image_mutex`", plat::Lock::FpgaImage},
    {"`fpga_manage::reg_mutex`", plat::Lock::FpgaReg},
    {"`reg_mutex`", plat::Lock::FpgaReg},
    {"`g_schedule_mutex`", plat::Lock::Schedule},
    {"`mailboxRamMutex()`", plat::Lock::MailboxRam},
    {"`fpga_drv::update_mutex`", plat::Lock::FpgaUpdate},
    {"`clock_record_run::mutex_`", plat::Lock::ClockRecord},
    {"`Utils::_spi_mutex`", plat::Lock::Spi},
    {"`Utils::_c331_bnk_mutex`", plat::Lock::C331Bank},
    {"`Utils::_bri_set_mutex`", plat::Lock::BriSet},
    {"`Utils::_led_para_init_mutex`", plat::Lock::LedParaInit},
    {"`Utils::_check_nosig_mutex`", plat::Lock::CheckNoSig},
    {"a change mailbox's lock", plat::Lock::ChangeMailbox},
    {"`Utils::_test_signal_mutex`", plat::Lock::TestSignal},
    {"settings writers' lock", plat::Lock::SettingsWriters},
    {"`Utils::_settings_mutex`", plat::Lock::Settings},
    {"`Utils::_file_deal_mutex`", plat::Lock::FileDeal},
    {"`dataFileWriters()`", plat::Lock::FileWriters},
    {"`RamFileWriter`", plat::Lock::RamFileWriter},
    {"`Utils::_system_mutex`", plat::Lock::System},
    {"the shell runner's lock", plat::Lock::ShellRunner},
    {"`Utils::_usleep_mutex`", plat::Lock::Usleep},
    {"`g_flash_uid_mutex`", plat::Lock::FlashUid},
    {"`rcvRecovery::list_mutex_`", plat::Lock::RcvRecoveryList},
    {"`fpga_manage::usb_text_mutex_`", plat::Lock::UsbText},
    {"`H71_WIFI_CONFIG::mutex_`", plat::Lock::WifiConfig},
    {"reply slots' locks", plat::Lock::ReplySlot},
    {"a reply slot's lock", plat::Lock::ReplySlot},
    {"the pass turn's counters", plat::Lock::PassTurnCounters},
    {"`g_instanceMutex`", plat::Lock::KavelInstance},
    {"`g_sinkMutex`", plat::Lock::PrintSink},
    {"`g_logMutex`", plat::Lock::Log},
    {"`g_backendMutex`", plat::Lock::Backend},
    {"`plat::WorkerPacer`", plat::Lock::Pacer},
    {"`plat::WakeSlot`", plat::Lock::WakeSlot},
};

std::set<plat::Lock> locksNamedIn(const std::string& text) {
    std::set<plat::Lock> out;
    for (const auto& [name, lock] : kDocNames)
        if (text.find(name) != std::string::npos) out.insert(lock);
    return out;
}

TEST(LockTable, TheDocumentsTableSaysWhatTheCodesTableDoes) {
    std::ifstream in(std::string(VLX_SOURCE_DIR) + "/docs/architecture.md");
    ASSERT_TRUE(in.good());
    std::set<std::pair<plat::Lock, plat::Lock>> doc, code;
    std::set<plat::Lock> rows;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("| Lock | Guards", 0) == 0) inTable = true;
        if (!inTable || line.rfind("| ", 0) != 0) continue;
        const size_t a = line.find(" | "), b = line.rfind(" | ");
        if (a == std::string::npos || a == b) continue;
        std::string inner = line.substr(b + 3);
        inner = inner.substr(0, inner.find("never"));   // "never X" names no nesting
        for (plat::Lock outer : locksNamedIn(line.substr(0, a))) {
            rows.insert(outer);
            for (plat::Lock i : locksNamedIn(inner)) doc.insert({outer, i});
        }
    }
    for (const auto& n : plat::lockcheck::nestings())
        if (n.outer != plat::Lock::Any) code.insert({n.outer, n.inner});
    for (const auto& [o, i] : code)
        EXPECT_TRUE(doc.count({o, i})) << plat::lockName(o) << " -> " << plat::lockName(i) << " is not in the document";
    for (const auto& [o, i] : doc)
        EXPECT_TRUE(code.count({o, i})) << plat::lockName(o) << " -> " << plat::lockName(i) << " is not in the code";
    for (size_t l = size_t(plat::Lock::Unnamed) + 1; l < size_t(plat::Lock::Any); ++l)
        EXPECT_TRUE(rows.count(plat::Lock(l))) << plat::lockName(plat::Lock(l)) << " has no row";
}

}  // namespace
